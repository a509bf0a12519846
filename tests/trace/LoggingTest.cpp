// The trace line and its routing to the three outputs.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <memory>

#include <gtest/gtest.h>

#include "FakeClock.h"
#include "FakeSystemLog.h"
#include "Logging.h"
#include "Trace.h"
#include "TraceTestSupport.h"

namespace
{
constexpr int64_t LEAP_DAY_MS = 1709251198987LL;  // 29.02.2024 23:59:58.987 UTC

class LoggingTest : public ::testing::Test
{
protected:
    LoggingTest() { m_clock.SetUnixTimeMs(LEAP_DAY_MS); }

    CFakeClock m_clock;
    CFakeSystemLog m_systemLog;
    CFakeDebugOutput m_debug;
};

TEST_F(LoggingTest, LineHasTheExactFieldsAndUtcTimeFromTheCounter)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    // 1.5 s on the counter crosses midnight and the leap day.
    m_clock.AdvanceCounterMs(1500);
    log.Trace("CtApi", 4, "(Connect) entering", 0x1F, "Foo.cpp", 42);

    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 1u);
    EXPECT_EQ(vecLines[0], "0x0004;01.03.2024 00:00:00:487;CtApi;(Connect) entering;0x1F;" + PidHex() + ";" +
                               TidHex() + ";Foo.cpp;42\n");
}

TEST_F(LoggingTest, LevelsNumbersAndLinesUseTheirWidths)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    log.Trace("Config", 0x8000, "(Load) leaving", 0xFFFFFFFF, "a.cpp", -1);
    log.Trace("MAC-Mapping", 0x12345, "x", 0, "b.cpp", 0);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 2u);
    EXPECT_EQ(vecLines[0], "0x8000;29.02.2024 23:59:58:987;Config;(Load) leaving;0xFFFFFFFF;" + PidHex() + ";" +
                               TidHex() + ";a.cpp;-1\n");
    EXPECT_EQ(vecLines[1].substr(0, 8), "0x12345;");
}

TEST_F(LoggingTest, BannerLeavesCategoryNumberFileAndLineOut)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    log.Trace("CtApi", 0x2000, "**** /opt/tc/terminal-console V2.3.2.1, ProcessID = 77 ****", 0x55, "Main.cpp", 99);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 1u);
    EXPECT_EQ(vecLines[0], "0x2000;29.02.2024 23:59:58:987;;**** /opt/tc/terminal-console V2.3.2.1, ProcessID = 77 "
                           "****;0x0;" + PidHex() + ";" + TidHex() + ";;0\n");
}

TEST_F(LoggingTest, TimeStampRoundsToTheNearest100nsUnit)
{
    // The base sits 0.9999 ms into a second; half a 100-ns unit more must round up into the
    // next millisecond (truncating would stay in the old one).
    m_clock.SetFileTime(CFakeClock::FILETIME_UNIX_EPOCH + 946684799ULL * 10000000ULL + 9999);
    m_clock.SetFrequency(20000000);  // one tick = 50 ns
    CLogging log(m_clock, m_systemLog, m_debug);
    log.Trace("CtApi", 4, "before", 0, "f", 1);
    m_clock.SetCounter(m_clock.QueryCounter() + 1);
    log.Trace("CtApi", 4, "after", 0, "f", 1);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 2u);
    EXPECT_EQ(vecLines[0].substr(0, 31), "0x0004;31.12.1999 23:59:59:000;");
    EXPECT_EQ(vecLines[1].substr(0, 31), "0x0004;31.12.1999 23:59:59:001;");
}

TEST_F(LoggingTest, TimeBaseWaitsForTheUtcClockToTick)
{
    // Every reading of the UTC clock moves it by one Windows-style tick of 15.625 ms: the
    // base must be the second reading (the first tick), not the first.
    m_clock.SetUnixTimeMs(946684799000LL);
    m_clock.SetFileTimeStepPerRead(156250);
    CLogging log(m_clock, m_systemLog, m_debug);
    log.Trace("CtApi", 4, "m", 0, "f", 1);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 1u);
    EXPECT_EQ(vecLines[0].substr(0, 31), "0x0004;31.12.1999 23:59:59:015;");
}

TEST_F(LoggingTest, SourcePrefixOfTheBuildTreeIsRemovedOthersStay)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    log.Trace("CtApi", 4, "m", 0, "y:\\sw_src\\sck\\middleware\\ctvnt.egk\\LAN\\LanDevice.cpp", 7);
    log.Trace("CtApi", 4, "m", 0, "Y:\\sw_src\\sck\\middleware\\ctvnt.egk\\LAN\\LanDevice.cpp", 7);
    log.Trace("CtApi", 4, "m", 0, "y:\\sw_src\\sck\\middleware\\ctvnt.egk", 7);  // prefix without its end
    log.Trace("CtApi", 4, "m", 0, "middleware/LanDevice.cpp", 7);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 4u);
    EXPECT_NE(vecLines[0].find(";LAN\\LanDevice.cpp;7\n"), std::string::npos) << vecLines[0];
    EXPECT_NE(vecLines[0].find(";" + TidHex() + ";LAN\\"), std::string::npos) << vecLines[0];
    EXPECT_NE(vecLines[1].find(";Y:\\sw_src\\sck\\middleware\\ctvnt.egk\\LAN\\LanDevice.cpp;7\n"), std::string::npos);
    EXPECT_NE(vecLines[2].find(";y:\\sw_src\\sck\\middleware\\ctvnt.egk;7\n"), std::string::npos);
    EXPECT_NE(vecLines[3].find(";middleware/LanDevice.cpp;7\n"), std::string::npos);
}

TEST_F(LoggingTest, LongSourceNameIsCutTo259CharactersLongTextsStayWhole)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    const std::string strFile(300, 'f');
    const std::string strMessage(5000, 'm');
    log.Trace("CtApi", 4, strMessage.c_str(), 0, strFile.c_str(), 3);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 1u);
    EXPECT_NE(vecLines[0].find(";" + strMessage + ";"), std::string::npos);
    EXPECT_NE(vecLines[0].find(";" + std::string(259, 'f') + ";3\n"), std::string::npos);
    EXPECT_EQ(vecLines[0].find(std::string(260, 'f')), std::string::npos);
}

TEST_F(LoggingTest, OnlyErrorLevelReachesTheEventLog)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    log.Trace("CtApi", 4, "info", 0, "f", 1);
    log.Trace("CtApi", 0x2000, "banner", 0, "f", 1);
    log.Trace("CtApi", 6, "info and error bits", 0, "f", 1);
    EXPECT_TRUE(m_systemLog.Reports().empty());

    log.Trace("CtApi", 2, "Connect failed", 0xFFFFFFF6, "f", 1);
    const auto vecReports = m_systemLog.Reports();
    ASSERT_EQ(vecReports.size(), 1u);
    EXPECT_EQ(vecReports[0].first, "VOVAVoRU");
    EXPECT_EQ(vecReports[0].second, m_debug.Lines().back());
    EXPECT_EQ(vecReports[0].second.substr(0, 7), "0x0002;");

    log.SetOutputMask(CLogging::OUTPUT_DEBUGGER);
    log.Trace("CtApi", 2, "again", 0, "f", 1);
    EXPECT_EQ(m_systemLog.Reports().size(), 1u);
}

TEST_F(LoggingTest, OutputMaskSelectsTheSinks)
{
    CTempDir dir;
    ASSERT_TRUE(dir.Valid());
    const std::string strPath = dir.File("debug.log");
    CLogging log(m_clock, m_systemLog, m_debug, strPath, false, true);
    EXPECT_EQ(log.GetOutputMask(), CLogging::OUTPUT_FILE | CLogging::OUTPUT_EVENTLOG);

    log.Trace("CtApi", 2, "one", 0, "f", 1);
    EXPECT_TRUE(m_debug.Lines().empty());
    EXPECT_EQ(m_systemLog.Reports().size(), 1u);
    EXPECT_EQ(ReadFile(strPath), m_systemLog.Reports()[0].second);

    log.SetOutputMask(CLogging::OUTPUT_DEBUGGER | 0x100);  // unknown bits are dropped
    EXPECT_EQ(log.GetOutputMask(), CLogging::OUTPUT_DEBUGGER);
    log.Trace("CtApi", 2, "two", 0, "f", 1);
    EXPECT_EQ(m_debug.Lines().size(), 1u);
    EXPECT_EQ(m_systemLog.Reports().size(), 1u);
    EXPECT_EQ(ReadFile(strPath).find("two"), std::string::npos);

    log.SetOutputMask(0);
    log.Trace("CtApi", 2, "three", 0, "f", 1);
    EXPECT_EQ(m_debug.Lines().size(), 1u);
    EXPECT_EQ(m_systemLog.Reports().size(), 1u);
}

TEST_F(LoggingTest, NothingIsWrittenWithoutPathAndDebuggerOrWithMissingTexts)
{
    CLogging log(m_clock, m_systemLog, m_debug);
    log.SetOutputMask(CLogging::OUTPUT_FILE | CLogging::OUTPUT_EVENTLOG);
    log.Trace("CtApi", 4, "info", 0, "f", 1);
    EXPECT_TRUE(m_debug.Lines().empty());  // not even the file error line
    EXPECT_TRUE(m_systemLog.Reports().empty());

    log.SetOutputMask(CLogging::OUTPUT_ALL);
    log.Trace(nullptr, 2, "m", 0, "f", 1);
    log.Trace("CtApi", 2, nullptr, 0, "f", 1);
    log.Trace("CtApi", 2, "m", 0, nullptr, 1);
    EXPECT_TRUE(m_debug.Lines().empty());
    EXPECT_TRUE(m_systemLog.Reports().empty());
}

TEST_F(LoggingTest, TraceLogForwardsToTheFirstInstanceAlive)
{
    TC_TRACE("CtApi", 4, "no instance yet", 0);  // must simply do nothing
    CFakeDebugOutput debugSecond;
    {
        CLogging first(m_clock, m_systemLog, m_debug);
        CLogging second(m_clock, m_systemLog, debugSecond);
        EXPECT_TRUE(first.IsProcessInstance());
        EXPECT_FALSE(second.IsProcessInstance());
        TC_TRACE("CtApi", 4, "through the macro", 7);
    }
    TC_TRACE("CtApi", 4, "after the end", 0);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 1u);
    EXPECT_NE(vecLines[0].find(";CtApi;through the macro;0x7;"), std::string::npos);
    // The build root is taken off __FILE__, so the name is relative to the source tree.
    EXPECT_NE(vecLines[0].find(";tests/trace/LoggingTest.cpp;"), std::string::npos) << vecLines[0];
    EXPECT_TRUE(debugSecond.Lines().empty());
}

TEST_F(LoggingTest, InstanceEndsWhileOtherThreadsKeepTracing)
{
    std::atomic<bool> bStop{false};
    std::atomic<int> nCalls{0};
    auto log = std::make_unique<CLogging>(m_clock, m_systemLog, m_debug);
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 3; ++t)
        vecThreads.emplace_back([&] {
            for (int i = 0; i < 200000 && !bStop; ++i)
            {
                TC_TRACE("CtApi", 4, "busy", i);
                ++nCalls;
            }
        });
    while (nCalls < 300)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    log.reset();  // must wait for the calls inside, and only for them
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const size_t nLines = m_debug.Lines().size();
    const int nCallsAfter = nCalls + 300;
    while (nCalls < nCallsAfter && nCalls < 3 * 200000)
        std::this_thread::yield();
    bStop = true;
    for (auto& thread : vecThreads)
        thread.join();
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    EXPECT_GE(nLines, 300u - 3u);
    EXPECT_EQ(m_debug.Lines().size(), nLines);  // nothing arrives after the end
}
} // namespace
