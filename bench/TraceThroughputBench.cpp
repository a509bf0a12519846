// Throughput of the trace facility: four threads trace into the debug file through the
// process-wide CLogging, against one thread fprintf()ing the same lines into a plain file.
// Prints lines per second of both and their ratio (higher is better). For reference it also
// measures one thread writing the same lines with one write() each and no lock: the bound
// for any output that puts every line into the file before the call returns.
#include <sys/syscall.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ClockLinux.h"
#include "DebugOutputLinux.h"
#include "Logging.h"
#include "SyslogLinux.h"
#include "Trace.h"

namespace
{
constexpr int DEFAULT_THREADS = 4;
constexpr int RUNS = 5;
constexpr const char* MESSAGE = "(ExecuteCmd) response received";
constexpr const char* LINE_FORMAT = "0x%04X;%02d.%02d.%4d %02d:%02d:%02d:%03d;%s;%s;0x%X;0x%X;0x%X;%s;%d\n";

// The same lines as the trace facility writes, formatted and written by stdio alone.
void PlainLoop(const std::string& strPath, int nLines)
{
    FILE* pFile = std::fopen(strPath.c_str(), "a");
    if (!pFile)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm tmNow{};
    gmtime_r(&now, &tmNow);
    const unsigned nPid = static_cast<unsigned>(getpid());
    const unsigned nTid = static_cast<unsigned>(gettid());
    for (int i = 0; i < nLines; ++i)
        std::fprintf(pFile, LINE_FORMAT, 4u, tmNow.tm_mday, tmNow.tm_mon + 1, tmNow.tm_year + 1900, tmNow.tm_hour,
                     tmNow.tm_min, tmNow.tm_sec, i % 1000, "CtApi", MESSAGE, static_cast<unsigned>(i), nPid, nTid,
                     "bench/TraceThroughputBench.cpp", __LINE__);
    std::fclose(pFile);
}

// The same lines, one write() each: what line-by-line output costs without any lock or time stamp.
void WritePerLineLoop(const std::string& strPath, int nLines)
{
    const int nFd = ::open(strPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (nFd < 0)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm tmNow{};
    gmtime_r(&now, &tmNow);
    const unsigned nPid = static_cast<unsigned>(getpid());
    const unsigned nTid = static_cast<unsigned>(gettid());
    char szLine[512];
    for (int i = 0; i < nLines; ++i)
    {
        const int nLen = std::snprintf(szLine, sizeof szLine, LINE_FORMAT, 4u, tmNow.tm_mday, tmNow.tm_mon + 1,
                                       tmNow.tm_year + 1900, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec, i % 1000,
                                       "CtApi", MESSAGE, static_cast<unsigned>(i), nPid, nTid,
                                       "bench/TraceThroughputBench.cpp", __LINE__);
        if (nLen <= 0 || ::write(nFd, szLine, static_cast<size_t>(nLen)) != nLen)
            break;
    }
    ::close(nFd);
}

void TraceThreads(int nThreads, int nLinesPerThread)
{
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < nThreads; ++t)
        vecThreads.emplace_back([nLinesPerThread] {
            for (int i = 0; i < nLinesPerThread; ++i)
                TC_TRACE("CtApi", trace::LEVEL_INFO, MESSAGE, i);
        });
    for (auto& thread : vecThreads)
        thread.join();
}
} // namespace

int main(int argc, char** argv)
{
    // Arguments (both optional): lines per thread, number of tracing threads.
    const int nLinesPerThread = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int nThreads = argc > 2 ? std::atoi(argv[2]) : DEFAULT_THREADS;
    const int nLines = nLinesPerThread * nThreads;
    bench::CScratchDir dir;
    if (!dir.Valid() || nLinesPerThread <= 0 || nThreads <= 0)
    {
        std::fprintf(stderr, "bench_trace: no scratch folder or bad arguments\n");
        return 1;
    }

    os::CClockLinux clock;
    os::CSyslogLinux systemLog;
    os::CDebugOutputLinux debugOutput;  // silent unless a debugger is attached
    const std::string strTracePath = dir.File("trace.log");
    const std::string strPlainPath = dir.File("plain.log");

    const std::string strWritePath = dir.File("write.log");
    auto plainRun = [&] {
        std::filesystem::remove(strPlainPath);
        PlainLoop(strPlainPath, nLines);
    };
    auto writeRun = [&] {
        std::filesystem::remove(strWritePath);
        WritePerLineLoop(strWritePath, nLines);
    };

    // The machine may be shared: the runs alternate, and the best run of each kind counts.
    double dPlain = 1e300, dWrite = 1e300, dTrace = 1e300;
    {
        CLogging log(clock, systemLog, debugOutput, strTracePath, true, true);
        auto traceRun = [&] {
            if (!log.CloseDebugFile())
                return;
            std::filesystem::remove(strTracePath);
            TraceThreads(nThreads, nLinesPerThread);
        };
        for (int nRun = 0; nRun < RUNS; ++nRun)
        {
            dPlain = std::min(dPlain, bench::BestSeconds(1, plainRun));
            dWrite = std::min(dWrite, bench::BestSeconds(1, writeRun));
            dTrace = std::min(dTrace, bench::BestSeconds(1, traceRun));
        }
    }
    std::error_code ec;
    const auto nTraceBytes = std::filesystem::file_size(strTracePath, ec);

    std::printf("trace facility: %d threads x %d lines: %.0f lines/s (%llu bytes)\n", nThreads, nLinesPerThread,
                nLines / dTrace, static_cast<unsigned long long>(ec ? 0 : nTraceBytes));
    std::printf("plain fprintf loop: %d lines: %.0f lines/s\n", nLines, nLines / dPlain);
    std::printf("reference, one write() per line, no lock: %.0f lines/s (ratio %.2f to fprintf)\n", nLines / dWrite,
                dPlain / dWrite);
    bench::ReportRatio("trace throughput vs fprintf", dPlain / dTrace, 0.5);
    return 0;
}
