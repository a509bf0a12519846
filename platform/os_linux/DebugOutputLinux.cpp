#include "DebugOutputLinux.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <unistd.h>

namespace os
{
CDebugOutputLinux::CDebugOutputLinux()
{
    const char* pszForce = std::getenv("TC_DEBUG_OUTPUT");
    m_bForced = pszForce && std::strcmp(pszForce, "1") == 0;
}

bool CDebugOutputLinux::DebuggerAttached()
{
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine))
    {
        if (strLine.rfind("TracerPid:", 0) == 0)
            return std::strtol(strLine.c_str() + 10, nullptr, 10) != 0;
    }
    return false;
}

void CDebugOutputLinux::Write(const std::string& strLine)
{
    if (!m_bForced)
    {
        // reading /proc for every trace line would cost more than the line itself
        const long long nNowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nCheckedAtMs < 0 || nNowMs - m_nCheckedAtMs >= 500)
        {
            m_bAttached = DebuggerAttached();
            m_nCheckedAtMs = nNowMs;
        }
        if (!m_bAttached)
            return;
    }
    std::string strOut = strLine;
    if (strOut.empty() || strOut.back() != '\n')
        strOut.push_back('\n');
    ssize_t nIgnored = ::write(STDERR_FILENO, strOut.data(), strOut.size());
    (void)nIgnored;
}
} // namespace os
