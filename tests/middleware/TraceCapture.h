#pragma once
// Records the middleware's trace lines during a test: a process-wide CLogging whose only
// output is a recording debugger sink.
#include <algorithm>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "FakeSystemLog.h"
#include "Logging.h"

class CTraceCapture
{
public:
    CTraceCapture()
        : m_logging(m_clock, m_systemLog, m_debugOutput)
    {
        m_logging.SetOutputMask(CLogging::OUTPUT_DEBUGGER);
    }
    std::vector<std::string> Lines() const { return m_debugOutput.Lines(); }
    void Clear() { m_debugOutput.Clear(); }
    /// Number of lines whose message field (the fifth ';'-separated field) equals strMessage.
    int CountMessage(const std::string& strMessage) const
    {
        int nCount = 0;
        for (const std::string& strLine : Lines())
        {
            if (strLine.find(";" + strMessage + ";") != std::string::npos)
                ++nCount;
        }
        return nCount;
    }
    bool HasMessage(const std::string& strMessage) const { return CountMessage(strMessage) > 0; }
    bool HasSubstring(const std::string& strPart) const
    {
        const std::vector<std::string> vec = Lines();
        return std::any_of(vec.begin(), vec.end(),
                           [&](const std::string& s) { return s.find(strPart) != std::string::npos; });
    }

private:
    CFakeClock m_clock;
    CFakeSystemLog m_systemLog;
    CFakeDebugOutput m_debugOutput;
    CLogging m_logging;
};
