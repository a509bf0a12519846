#include "HidSystemLinux.h"

#include "HidPortLinux.h"
#include "UdevMonitorLinux.h"

namespace os
{
CHidSystemLinux::CHidSystemLinux(std::string strRoot)
    : m_enum(std::move(strRoot))
{
}

int CHidSystemLinux::Enumerate(std::vector<HidDeviceEntry>& vecDevices)
{
    return m_enum.Enumerate(vecDevices);
}

std::unique_ptr<CHidPort> CHidSystemLinux::CreatePort()
{
    return std::make_unique<CHidPortLinux>();
}

std::unique_ptr<CDeviceMonitor> CHidSystemLinux::CreateMonitor()
{
    return std::make_unique<CUdevMonitorLinux>();
}
} // namespace os
