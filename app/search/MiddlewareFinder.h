#pragma once
#include <cstdint>
#include <string>

#include "TerminalFinder.h"

namespace os
{
class CHidSystem;
}

/// The program's terminal sources: the middleware's LAN transport (service discovery over
/// every Ethernet adapter, unicast query of one address) and the middleware configuration
/// "ctvnt.xml". Each search makes a short-lived transport with an unopened SICCT device as
/// its protocol object and destroys both afterwards.
///
/// USB devices are enumerated through the HID system given to the constructor; without one
/// FindUsbTerminals reports FIND_NO_TRANSPORT, which the search treats as "skipped".
///
/// Two things make a terminal simulator on this machine reachable:
/// - the UDP port the discovery requests go to can be chosen (a simulator's responder on
///   another port than 4742);
/// - a unicast query of a loopback address (127.0.0.0/8) is sent from the loopback interface
///   and names 127.0.0.1 as the address to answer to. Otherwise the requests go out from
///   every Ethernet adapter's own address, so a simulator here would be asked to answer to an
///   outside address; on loopback nothing leaves the host.
///
/// Threads: one operation at a time (the window's search thread). Sends real broadcasts:
/// never use it in tests outside a network namespace of their own.
class CMiddlewareFinder : public CTerminalFinder
{
public:
    static constexpr uint16_t kDefaultDiscoveryPort = 4742;

    /// pHidSystem: the HID system for the USB search (borrowed; null: no USB search).
    /// nDiscoveryPort: the UDP port the discovery requests are sent to.
    /// strConfigPath empty: the middleware's default configuration file.
    explicit CMiddlewareFinder(os::CHidSystem* pHidSystem, uint16_t nDiscoveryPort = kDefaultDiscoveryPort,
                               std::string strConfigPath = {});

    int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) override;
    int FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) override;
    int ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecConfigured) override;
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t nIpv4) override;

    /// Whether an address (first field in the high byte) lies in 127.0.0.0/8.
    static bool IsLoopback(uint32_t nIpv4) { return (nIpv4 >> 24) == 127; }

private:
    os::CHidSystem* m_pHidSystem;
    uint16_t m_nDiscoveryPort;
    std::string m_strConfigPath;
};
