#pragma once
#include <memory>
#include <vector>

#include "HidReportDescriptor.h"
#include "HidSystem.h"

/// The table of system HID operations the HID transport uses: listing the present HID
/// devices, making a port, reading a device's attributes (vendor and product) and its
/// capabilities (top-level usage page, report lengths, report IDs; parsed from the
/// report descriptor), and sizing its input queue.
///
/// Every operation fails cleanly (false or null, nothing called) when no HID system was
/// given, or when the system's call fails; callers log and go on with the next device.
/// The system object is borrowed and must outlive this object. Operations on a port are
/// called from the thread that uses the port.
class CHidAccess
{
public:
    explicit CHidAccess(os::CHidSystem* pHidSystem);
    virtual ~CHidAccess() = default;
    CHidAccess(const CHidAccess&) = delete;
    CHidAccess& operator=(const CHidAccess&) = delete;

    /// True when a HID system is present.
    bool IsHidAvailable() const { return m_pHidSystem != nullptr; }
    os::CHidSystem* GetHidSystem() const { return m_pHidSystem; }

    /// Appends the present HID device nodes. False when unavailable or none can be listed.
    bool HidEnumerate(std::vector<os::HidDeviceEntry>& vecDevices);
    /// A new closed port, or null when unavailable.
    std::unique_ptr<os::CHidPort> HidCreatePort();
    /// Vendor and product of an open device. False when unavailable or the query fails.
    bool HidGetAttributes(os::CHidPort& port, os::HidRawInfo& info);
    /// Capabilities of an open device from its report descriptor. False when unavailable,
    /// when the descriptor cannot be read or when it is malformed.
    bool HidGetCaps(os::CHidPort& port, HidCaps& caps);
    /// The kernel queues input reports per open node itself (a fixed number), so there is
    /// nothing to size; true when the port is open and nBuffers is positive.
    bool HidSetNumInputBuffers(os::CHidPort& port, int nBuffers);

private:
    os::CHidSystem* m_pHidSystem;  // not owned
};
