#pragma once
#include <string>

namespace os
{
/// The event log: on Linux syslog(3) with the source as ident, priority LOG_ERR.
class CSystemLog
{
public:
    virtual ~CSystemLog() = default;
    /// Reports one error line under the given source name. Failures are ignored.
    virtual void ReportError(const std::string& strSource, const std::string& strText) = 0;
};

/// The debugger output (OutputDebugStringA on Windows): on Linux stderr, only while a
/// debugger is attached (TracerPid in /proc/self/status) or when TC_DEBUG_OUTPUT=1 is set.
class CDebugOutput
{
public:
    virtual ~CDebugOutput() = default;
    virtual void Write(const std::string& strLine) = 0;
};
} // namespace os
