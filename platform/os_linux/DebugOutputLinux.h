#pragma once
#include <mutex>

#include "SystemLog.h"

namespace os
{
/// The debugger output on Linux: each line goes to stderr while a debugger is attached
/// (TracerPid in /proc/self/status is not 0, checked at most every 500 ms) or always when
/// the environment has TC_DEBUG_OUTPUT=1 (read at construction). Any thread; lines are
/// written with one write() each so that they do not interleave.
class CDebugOutputLinux : public CDebugOutput
{
public:
    CDebugOutputLinux();
    void Write(const std::string& strLine) override;

    /// True when /proc/self/status names a tracer.
    static bool DebuggerAttached();

private:
    bool m_bForced = false;
    std::mutex m_mutex;
    bool m_bAttached = false;
    long long m_nCheckedAtMs = -1;
};
} // namespace os
