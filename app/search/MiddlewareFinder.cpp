#include "MiddlewareFinder.h"

#include "Configuration.h"
#include "HidDevice.h"
#include "LanDevice.h"
#include "SicctDevice.h"

CMiddlewareFinder::CMiddlewareFinder(os::CHidSystem* pHidSystem, std::string strConfigPath)
    : m_pHidSystem(pHidSystem), m_strConfigPath(std::move(strConfigPath))
{
}

int CMiddlewareFinder::FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound)
{
    CSicctDevice sicct;
    CLanDevice lan;
    lan.SetOwner(&sicct);
    std::vector<CDeviceInfo*> vecRaw;
    lan.GetDevices(vecRaw);
    // The transport hands over newly allocated records: take each into our ownership.
    for (CDeviceInfo* pDevice : vecRaw)
    {
        if (pDevice != nullptr)
            vecFound.emplace_back(pDevice);
    }
    lan.SetOwner(nullptr);
    return FIND_OK;
}

int CMiddlewareFinder::FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound)
{
    if (m_pHidSystem == nullptr)
        return FIND_NO_TRANSPORT;
    CSicctDevice sicct;
    CHidDevice hid(m_pHidSystem);
    hid.SetOwner(&sicct);
    std::vector<CDeviceInfo*> vecRaw;
    hid.GetDevices(vecRaw);
    for (CDeviceInfo* pDevice : vecRaw)
    {
        if (pDevice != nullptr)
            vecFound.emplace_back(pDevice);
    }
    hid.SetOwner(nullptr);
    return FIND_OK;
}

int CMiddlewareFinder::ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecConfigured)
{
    CConfiguration config = m_strConfigPath.empty() ? CConfiguration() : CConfiguration(m_strConfigPath);
    std::vector<uint16_t> vecPorts;
    if (!config.GetPortList(vecPorts))
        return FIND_NO_CONFIG;
    constexpr size_t kMaxEntries = 65535;
    if (vecPorts.size() > kMaxEntries)
        vecPorts.resize(kMaxEntries);
    for (uint16_t nPort : vecPorts)
    {
        auto pDevice = std::make_unique<CDeviceInfo>();
        int nError = 0;
        if (config.ReadTerminal(nPort, *pDevice, nError))
            vecConfigured.push_back(std::move(pDevice));
    }
    return FIND_OK;
}

std::unique_ptr<CDeviceInfo> CMiddlewareFinder::QueryTerminalByAddress(uint32_t nIpv4)
{
    CSicctDevice sicct;
    CLanDevice lan;
    lan.SetOwner(&sicct);
    std::unique_ptr<CDeviceInfo> pDevice = lan.GetDevice(nIpv4);
    lan.SetOwner(nullptr);
    return pDevice;
}
