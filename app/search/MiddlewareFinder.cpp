#include "MiddlewareFinder.h"

#include "Configuration.h"
#include "HidDevice.h"
#include "LanDevice.h"
#include "NetAdapterList.h"
#include "SicctDevice.h"

namespace
{
/// The loopback interface as the one adapter of a query to a loopback address: host mask,
/// so that even a broadcast entry could never leave 127.0.0.1.
class CLoopbackAdapter final : public CNetAdapterList
{
public:
    bool List(std::vector<CAdapterAddress>& vecAddresses) override
    {
        vecAddresses = {CAdapterAddress{"lo", true, true, 0x7F000001u, 0xFFFFFFFFu}};
        return true;
    }
};

/// Takes the newly allocated records a transport hands over into our ownership.
void TakeRecords(std::vector<CDeviceInfo*>& vecRaw, std::vector<std::unique_ptr<CDeviceInfo>>& vecFound)
{
    for (CDeviceInfo* pDevice : vecRaw)
    {
        if (pDevice != nullptr)
            vecFound.emplace_back(pDevice);
    }
    vecRaw.clear();
}
} // namespace

CMiddlewareFinder::CMiddlewareFinder(os::CHidSystem* pHidSystem, uint16_t nDiscoveryPort, std::string strConfigPath)
    : m_pHidSystem(pHidSystem), m_nDiscoveryPort(nDiscoveryPort), m_strConfigPath(std::move(strConfigPath))
{
}

int CMiddlewareFinder::FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound)
{
    CSicctDevice sicct;
    CLanDevice lan;
    lan.SetOwner(&sicct);
    lan.SetDiscoveryTargetPort(m_nDiscoveryPort);
    std::vector<CDeviceInfo*> vecRaw;
    lan.GetDevices(vecRaw);
    TakeRecords(vecRaw, vecFound);
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
    TakeRecords(vecRaw, vecFound);
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
    CLoopbackAdapter loopback;
    CSicctDevice sicct;
    CLanDevice lan(IsLoopback(nIpv4) ? &loopback : nullptr);
    lan.SetOwner(&sicct);
    lan.SetDiscoveryTargetPort(m_nDiscoveryPort);
    std::unique_ptr<CDeviceInfo> pDevice = lan.GetDevice(nIpv4);
    lan.SetOwner(nullptr);
    return pDevice;
}
