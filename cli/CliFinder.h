#pragma once
#include <cstdint>
#include <string>

#include "MiddlewareFinder.h"

/// CCliFinder: the main window's terminal sources (CMiddlewareFinder) with two additions the
/// command line needs:
/// - the UDP port the discovery requests go to can be chosen (a simulator or a test
///   responder on another port than 4742);
/// - a unicast query of a loopback address (127.0.0.0/8) is sent from the loopback interface
///   and names 127.0.0.1 as the address to answer to. The search otherwise sends from every
///   Ethernet adapter's own address, so a terminal simulator on this machine would be asked
///   to answer to an outside address; on loopback nothing leaves the host.
///
/// Threads: one operation at a time, like its base. Sends real broadcasts in FindLanTerminals:
/// never use that in tests outside a network namespace of their own.
class CCliFinder : public CMiddlewareFinder
{
public:
    static constexpr uint16_t kDefaultDiscoveryPort = 4742;

    /// pHidSystem: USB enumeration (borrowed; null: no USB search). nDiscoveryPort: the UDP
    /// port the requests are sent to.
    explicit CCliFinder(os::CHidSystem* pHidSystem, uint16_t nDiscoveryPort = kDefaultDiscoveryPort,
                        std::string strConfigPath = {});

    int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) override;
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t nIpv4) override;

    /// Whether an address (first field in the high byte) lies in 127.0.0.0/8.
    static bool IsLoopback(uint32_t nIpv4) { return (nIpv4 >> 24) == 127; }

private:
    uint16_t m_nDiscoveryPort;
};
