#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DeviceMonitor.h"
#include "HidPort.h"

namespace os
{
/// One HID device node as the system lists it.
struct HidDeviceEntry
{
    std::string strDevicePath;  // node to open, such as "/dev/hidraw0"
    std::string strSysName;     // "hidraw0"
    uint32_t nBusType = 0;      // from the parent's HID_ID; 0 when unknown
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    std::string strName;        // HID_NAME of the parent device; may be empty
};

/// The HID devices of the system: lists them, makes ports to open them and monitors for
/// their removal. The Linux implementation walks /sys/class/hidraw and uses udev; tests
/// pass a fake with simulated devices. The front end's main creates it and hands it to
/// the HID transport, which does not own it. Any thread.
class CHidSystem
{
public:
    virtual ~CHidSystem() = default;
    /// Appends the present HID nodes, ordered by node number. OS_OK or OS_ERR_NOT_FOUND
    /// (no HID class on this system; the list stays as it was).
    virtual int Enumerate(std::vector<HidDeviceEntry>& vecDevices) = 0;
    /// A new closed port; never null.
    virtual std::unique_ptr<CHidPort> CreatePort() = 0;
    /// A new, not yet started event source for removals; null when there is none.
    virtual std::unique_ptr<CDeviceMonitor> CreateMonitor() = 0;
};
} // namespace os
