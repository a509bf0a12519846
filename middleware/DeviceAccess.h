#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CBCSCommand;
class CBCSResponse;
class CDeviceInfo;

namespace os
{
class CVersionReader;
}

/// The abstract device interface of the middleware (its one implementation is
/// CSicctDevice), plus the check of a CT-API library file: its version text and whether
/// its version record names one of our companies. Threads: as the implementation says;
/// CheckLibrary is stateless and safe from any thread.
class CDeviceAccess
{
public:
    virtual ~CDeviceAccess() = default;

    /// Finds and opens a terminal (the wanted one, may be null). 0, or -1 / -10.
    virtual int Open(CDeviceInfo* pWanted) = 0;
    /// Ends the session and disconnects.
    virtual void Close() = 0;
    /// Executes one command; mw::ExecResult or a transport code as a byte.
    virtual uint8_t ExecuteCmd(CBCSCommand* pCommand, CBCSResponse* pResponse, int nTimeoutMs) = 0;

    /// Reads the version record of strFile through reader. strVersion becomes "a.b.c.d"
    /// (high word and low byte of the file version's high part, then of its low part);
    /// bAccepted is true when the CompanyName of the first translation contains one of
    /// AcceptedCompanyNames() (case-sensitive). False when the record cannot be read.
    static bool CheckLibrary(os::CVersionReader& reader, const std::string& strFile, std::string& strVersion,
                             bool& bAccepted);
    /// The company names whose libraries are accepted.
    static const std::vector<std::string>& AcceptedCompanyNames();
};
