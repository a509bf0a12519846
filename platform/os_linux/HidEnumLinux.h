#pragma once
#include <string>
#include <vector>

#include "HidSystem.h"

namespace os
{
/// Lists the HID nodes under <root>/sys/class/hidraw. For each entry hidrawN it reads the
/// node name from the entry's "uevent" (DEVNAME, else the entry's name) and bus, vendor,
/// product and name from the parent HID device's "device/uevent" (HID_ID, HID_NAME). The
/// device path is <root>/dev/<DEVNAME>. The root is "/" on a running system; tests point it
/// at a fake tree. Stateless apart from the root; any thread.
class CHidEnumLinux
{
public:
    explicit CHidEnumLinux(std::string strRoot = "/");

    /// Appends the entries, ordered by node number. OS_OK, or OS_ERR_NOT_FOUND when the
    /// hidraw class folder does not exist.
    int Enumerate(std::vector<HidDeviceEntry>& vecDevices) const;

    /// Parses a HID_ID value "bbbb:vvvvvvvv:pppppppp" (hexadecimal). False when malformed.
    static bool ParseHidId(const std::string& strValue, HidDeviceEntry& entry);

private:
    std::string m_strRoot;
};
} // namespace os
