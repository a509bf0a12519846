#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "DeviceInfo.h"

/// Where the main window's search gets its terminals from: the LAN service discovery, the
/// USB HID enumeration, the middleware configuration and the unicast query of one address.
/// The program uses CMiddlewareFinder; tests inject fakes.
///
/// Threads: the window calls one operation at a time, from its search thread; an
/// implementation needs no lock of its own as long as nothing else calls it meanwhile.
/// Ownership: the records appended belong to the caller's vector.
class CTerminalFinder
{
public:
    /// Codes of the operations.
    enum EResult : int
    {
        FIND_OK = 0,
        FIND_NO_TRANSPORT = -1,   // the transport could not be created; the source is skipped
        FIND_NO_CONFIG = -2,      // the middleware configuration could not be read
    };

    virtual ~CTerminalFinder() = default;
    /// LAN service discovery; appends one record per answering terminal. FIND_OK or FIND_NO_TRANSPORT.
    virtual int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) = 0;
    /// USB HID enumeration; appends one record per device. FIND_OK or FIND_NO_TRANSPORT.
    virtual int FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecFound) = 0;
    /// The configured terminals of the middleware configuration in file order, one record
    /// per configured port number (at most 65,535). FIND_OK or FIND_NO_CONFIG.
    virtual int ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& vecConfigured) = 0;
    /// Unicast discovery request to one IPv4 address (first field in the high byte);
    /// the answering terminal's record, or null when none answers.
    virtual std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t nIpv4) = 0;
};
