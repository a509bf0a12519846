// Fuzz target: service discovery answers as they arrive by UDP (LAN search) or in a HID
// discovery report. Besides memory safety: a refused answer leaves the record as it was,
// and an accepted one yields a connection string that splits back into its parts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "DeviceInfo.h"
#include "LanDevice.h"
#include "SicctDevice.h"

namespace
{
bool SameRecord(const CDeviceInfo& a, const CDeviceInfo& b)
{
    return a.GetConnectionType() == b.GetConnectionType() && a.GetIpAddress() == b.GetIpAddress() &&
           a.GetMacAddress() == b.GetMacAddress() && a.GetLogicalName() == b.GetLogicalName() &&
           a.GetName() == b.GetName() && a.GetSicctVersion() == b.GetSicctVersion() &&
           a.GetNetworkPort() == b.GetNetworkPort() && a.GetAdditionalInfo() == b.GetAdditionalInfo();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 0x10000)
        return 0;  // one UDP datagram at most
    const int nLength = static_cast<int>(nSize);
    (void)CLanDevice::IsDiscoveryAnswer(pData, nLength);

    CDeviceInfo device;
    device.SetName("before");
    device.SetMacAddress("00:00:00:00:00:00");
    const CDeviceInfo before = device;
    if (!CSicctDevice::InterpreteServiceDiscovery(device, pData, nLength))
    {
        if (!SameRecord(device, before))
            std::abort();
        return 0;
    }
    // The connection string built from an answer must split again without surprises.
    std::string strHost;
    int nPort = 0;
    int nProtocol = 0;
    if (!device.GetLogicalName().empty())
        (void)CLanDevice::ParseConnectionString(device.GetLogicalName(), strHost, nPort, nProtocol);

    // Whatever the answer held, the splitter copes with it as a connection string too.
    (void)CLanDevice::ParseConnectionString(std::string(reinterpret_cast<const char*>(pData), nSize), strHost, nPort,
                                            nProtocol);
    return 0;
}
