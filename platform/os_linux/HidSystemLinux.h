#pragma once
#include "HidEnumLinux.h"
#include "HidSystem.h"

namespace os
{
/// The HID devices of a Linux system: hidraw nodes listed from sysfs below a root folder
/// ("/" normally), opened as CHidPortLinux, removals from udev. Any thread.
class CHidSystemLinux : public CHidSystem
{
public:
    explicit CHidSystemLinux(std::string strRoot = "/");

    int Enumerate(std::vector<HidDeviceEntry>& vecDevices) override;
    std::unique_ptr<CHidPort> CreatePort() override;
    std::unique_ptr<CDeviceMonitor> CreateMonitor() override;

private:
    CHidEnumLinux m_enum;
};
} // namespace os
