#pragma once
// Small helpers shared by the benchmarks: timing, a scratch folder and the result line.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace bench
{
/// Seconds taken by fn(); the best of nRuns runs, which is the least disturbed by other load.
template <typename F>
double BestSeconds(int nRuns, F&& fn)
{
    double dBest = 1e300;
    for (int i = 0; i < nRuns; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        fn();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        dBest = std::min(dBest, elapsed.count());
    }
    return dBest;
}

/// A scratch folder below $TMPDIR (or /tmp), removed with the object.
class CScratchDir
{
public:
    CScratchDir()
    {
        const char* pszTmp = std::getenv("TMPDIR");
        std::string strTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/tc-bench-XXXXXX";
        if (char* pszDir = ::mkdtemp(strTemplate.data()))
            m_strPath = pszDir;
    }
    ~CScratchDir()
    {
        std::error_code ec;
        if (!m_strPath.empty())
            std::filesystem::remove_all(m_strPath, ec);
    }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;
    bool Valid() const { return !m_strPath.empty(); }
    std::string File(const std::string& strName) const { return m_strPath + "/" + strName; }

private:
    std::string m_strPath;
};

/// One result line: "<name>: ratio <r> (target >= <t>) OK|BELOW TARGET". Higher is better.
inline bool ReportRatio(const char* pszName, double dRatio, double dTarget)
{
    const bool bOk = dRatio >= dTarget;
    std::printf("%s: ratio %.2f (target >= %.2f) %s\n", pszName, dRatio, dTarget, bOk ? "OK" : "BELOW TARGET");
    return bOk;
}
} // namespace bench
