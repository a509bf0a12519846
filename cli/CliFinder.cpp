#include "CliFinder.h"

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
} // namespace

CCliFinder::CCliFinder(os::CHidSystem* pHidSystem, uint16_t nDiscoveryPort, std::string strConfigPath)
    : CMiddlewareFinder(pHidSystem, std::move(strConfigPath)), m_nDiscoveryPort(nDiscoveryPort)
{
}

int CCliFinder::FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound)
{
    if (m_nDiscoveryPort == kDefaultDiscoveryPort)
        return CMiddlewareFinder::FindLanTerminals(vecFound);
    CSicctDevice sicct;
    CLanDevice lan;
    lan.SetOwner(&sicct);
    lan.SetDiscoveryTargetPort(m_nDiscoveryPort);
    std::vector<CDeviceInfo*> vecRaw;
    lan.GetDevices(vecRaw);
    for (CDeviceInfo* pDevice : vecRaw)
    {
        if (pDevice != nullptr)
            vecFound.emplace_back(pDevice);
    }
    lan.SetOwner(nullptr);
    return FIND_OK;
}

std::unique_ptr<CDeviceInfo> CCliFinder::QueryTerminalByAddress(uint32_t nIpv4)
{
    if (!IsLoopback(nIpv4) && m_nDiscoveryPort == kDefaultDiscoveryPort)
        return CMiddlewareFinder::QueryTerminalByAddress(nIpv4);
    CLoopbackAdapter loopback;
    CSicctDevice sicct;
    CLanDevice lan(IsLoopback(nIpv4) ? &loopback : nullptr);
    lan.SetOwner(&sicct);
    lan.SetDiscoveryTargetPort(m_nDiscoveryPort);
    std::unique_ptr<CDeviceInfo> pDevice = lan.GetDevice(nIpv4);
    lan.SetOwner(nullptr);
    return pDevice;
}
