#pragma once
#include <string>

namespace os
{
/// One hot-plug event of a HID device node.
struct DeviceEvent
{
    std::string strAction;      // "add", "remove", "change", ...
    std::string strDevicePath;  // the node, such as "/dev/hidraw3"; may be empty
    std::string strSysName;     // the kernel's name, such as "hidraw3"
};

/// Source of device add and removal events for HID nodes (udev on Linux, a fake in tests).
/// Used by one thread, the notification thread, which owns the monitor.
class CDeviceMonitor
{
public:
    virtual ~CDeviceMonitor() = default;
    /// Starts receiving events. OS_OK, OS_ERR_ACCESS or OS_ERR_GENERAL.
    virtual int Start() = 0;
    /// Waits at most nTimeoutMs for the next event. nStopFd (or -1) becomes readable to
    /// cancel the wait and is not consumed. OS_OK (ev filled), OS_ERR_TIMEOUT,
    /// OS_ERR_STOPPED or OS_ERR_GENERAL.
    virtual int Wait(DeviceEvent& ev, int nTimeoutMs, int nStopFd) = 0;
};
} // namespace os
