#pragma once
#include "DeviceMonitor.h"

struct udev;
struct udev_monitor;

namespace os
{
/// Hot-plug events of hidraw nodes from udev (the netlink group of the udev daemon, so
/// that the node's rules have run before an "add" is seen). Used by the notification
/// thread alone; owns its udev context and monitor and frees both on destruction.
class CUdevMonitorLinux : public CDeviceMonitor
{
public:
    CUdevMonitorLinux() = default;
    ~CUdevMonitorLinux() override;
    CUdevMonitorLinux(const CUdevMonitorLinux&) = delete;
    CUdevMonitorLinux& operator=(const CUdevMonitorLinux&) = delete;

    int Start() override;
    int Wait(DeviceEvent& ev, int nTimeoutMs, int nStopFd) override;

private:
    void Free();

    udev* m_pUdev = nullptr;
    udev_monitor* m_pMonitor = nullptr;
};
} // namespace os
