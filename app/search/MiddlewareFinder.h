#pragma once
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
/// Threads: one operation at a time (the window's search thread). Sends real broadcasts:
/// never use it in tests outside a network namespace of their own.
class CMiddlewareFinder : public CTerminalFinder
{
public:
    /// pHidSystem: the HID system for the USB search (borrowed; null: no USB search).
    /// strConfigPath empty: the middleware's default configuration file.
    explicit CMiddlewareFinder(os::CHidSystem* pHidSystem, std::string strConfigPath = {});

    int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) override;
    int FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) override;
    int ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecConfigured) override;
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t nIpv4) override;

private:
    os::CHidSystem* m_pHidSystem;
    std::string m_strConfigPath;
};
