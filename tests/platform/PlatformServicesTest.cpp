#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "ClockLinux.h"
#include "DebugOutputLinux.h"
#include "ElfVersionReader.h"
#include "LibraryLoaderLinux.h"

TEST(ClockLinux, CounterIsMonotonicAndFileTimeIsUtc)
{
    os::CClockLinux clock;
    EXPECT_EQ(clock.CounterFrequency(), 1000000000u);
    uint64_t nLast = clock.QueryCounter();
    for (int i = 0; i < 1000; ++i)
    {
        uint64_t nNow = clock.QueryCounter();
        ASSERT_GE(nNow, nLast);
        nLast = nNow;
    }
    const uint64_t nExpected = os::CClockLinux::kFileTimeUnixEpoch + static_cast<uint64_t>(std::time(nullptr)) * 10000000ULL;
    const uint64_t nFileTime = clock.SystemTimeAsFileTime();
    EXPECT_LT(nFileTime > nExpected ? nFileTime - nExpected : nExpected - nFileTime, 20000000ULL)
        << "within two seconds of time()";
}

TEST(LibraryLoaderLinux, LoadsResolvesAndReportsFailures)
{
    os::CLibraryLoaderLinux loader;
    std::string strError;
    std::unique_ptr<os::CLibrary> pLib = loader.Load(TC_VERSION_PROBE_LIB, strError);
    ASSERT_NE(pLib, nullptr) << strError;
    EXPECT_TRUE(strError.empty());
    auto pfn = reinterpret_cast<int (*)()>(pLib->Symbol("TcProbeAnswer"));
    ASSERT_NE(pfn, nullptr);
    EXPECT_EQ(pfn(), 42);
    EXPECT_EQ(pLib->Symbol("CT_init"), nullptr);

    // the module's own file, as the version reader finds it from the handle
    os::CElfVersionReader reader;
    std::string strPath = reader.ModuleFileName(pLib->NativeHandle());
    EXPECT_EQ(strPath, TC_VERSION_PROBE_LIB);
    EXPECT_FALSE(reader.ModuleFileName(nullptr).empty());

    EXPECT_EQ(loader.Load("/nonexistent/libnothing.so", strError), nullptr);
    EXPECT_NE(strError.find("libnothing"), std::string::npos) << strError;
    EXPECT_EQ(loader.Load("", strError), nullptr);
    EXPECT_FALSE(strError.empty());
    EXPECT_EQ(loader.Load("/etc/hostname", strError), nullptr) << "not a shared object";
}

namespace
{
// Captures what is written to stderr while fn runs.
template <typename F>
std::string CaptureStderr(F fn)
{
    int aPipe[2];
    if (::pipe(aPipe) != 0)
        return "<pipe failed>";
    int nSaved = ::dup(STDERR_FILENO);
    ::dup2(aPipe[1], STDERR_FILENO);
    fn();
    ::dup2(nSaved, STDERR_FILENO);
    ::close(nSaved);
    ::close(aPipe[1]);
    std::string strOut;
    char szBuf[256];
    ssize_t n;
    while ((n = ::read(aPipe[0], szBuf, sizeof(szBuf))) > 0)
        strOut.append(szBuf, static_cast<size_t>(n));
    ::close(aPipe[0]);
    return strOut;
}
} // namespace

TEST(DebugOutputLinux, WritesOnlyWhenADebuggerListensOrWhenAsked)
{
    const char* pszOld = std::getenv("TC_DEBUG_OUTPUT");
    std::string strOld = pszOld ? pszOld : "";
    ::unsetenv("TC_DEBUG_OUTPUT");
    {
        os::CDebugOutputLinux out;
        std::string strCaptured = CaptureStderr([&] { out.Write("quiet line"); });
        if (os::CDebugOutputLinux::DebuggerAttached())
            EXPECT_EQ(strCaptured, "quiet line\n");
        else
            EXPECT_EQ(strCaptured, "");
    }
    ::setenv("TC_DEBUG_OUTPUT", "1", 1);
    {
        os::CDebugOutputLinux out;
        EXPECT_EQ(CaptureStderr([&] { out.Write("loud line"); out.Write("ends itself\n"); }),
                  "loud line\nends itself\n");
    }
    if (pszOld)
        ::setenv("TC_DEBUG_OUTPUT", strOld.c_str(), 1);
    else
        ::unsetenv("TC_DEBUG_OUTPUT");
}
