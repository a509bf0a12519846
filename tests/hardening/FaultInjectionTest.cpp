// Fault injection against the simulated terminal, the same faults for the three ways to a
// terminal: the session client (TLS 1.2), the middleware's LAN transport (plain TCP) and a
// CT-API library (libctapi-sim) through the CT-API worker. The manufacturer query meets the
// fault: a delayed or split answer, a sign-off, silence, a dropped connection (before and
// after the answer), an oversize answer and every malformed envelope the simulator can send.
// Every run must end within a generous bound with a result the user sees (a report text or a
// transport code), and leave no thread and no file descriptor behind once its objects are gone.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CtApiWorker.h"
#include "LanDevice.h"
#include "LibraryLoaderLinux.h"
#include "RecordingSink.h"
#include "SicctDevice.h"
#include "SicctSession.h"
#include "SicctWire.h"
#include "TerminalSim.h"

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace
{
const Bytes kManufacturerQuery = {0x80, 0x13, 0x00, 0x46, 0x00};
// Waits are shortened, so the generous bound still catches a wait that ignores its limit.
constexpr double kBoundSeconds = 20.0;

int CountEntries(const char* pszDir)
{
    int n = 0;
    if (DIR* pDir = ::opendir(pszDir))
    {
        while (const dirent* pEntry = ::readdir(pDir))
            if (pEntry->d_name[0] != '.')
                ++n;
        ::closedir(pDir);
    }
    return n - 1;  // the directory handle itself is one of the descriptors while counting
}
int OpenFds() { return CountEntries("/proc/self/fd"); }
int Threads() { return CountEntries("/proc/self/task") + 1; }

enum class EWay
{
    Session,
    Lan,
    CtApi
};

struct SFault
{
    const char* pszName;
    sim::FaultRule rule;
    bool bAnswered;  // whether the query still gets its answer
};

sim::FaultRule Rule(sim::EFaultKind eKind)
{
    sim::FaultRule rule;
    rule.nCla = 0x80;
    rule.nIns = 0x13;
    rule.nP2 = 0x46;
    rule.eKind = eKind;
    return rule;
}

std::vector<SFault> Faults()
{
    std::vector<SFault> vec;
    sim::FaultRule delay = Rule(sim::EFaultKind::Answer);
    delay.nDelayMs = 400;
    vec.push_back({"Delay", delay, true});
    sim::FaultRule split = Rule(sim::EFaultKind::Answer);
    split.nSplitParts = 6;
    split.nSplitGapMs = 40;
    vec.push_back({"SplitSegments", split, true});
    sim::FaultRule events = Rule(sim::EFaultKind::Answer);
    events.vecEventsBefore = {{0x80, 0x00}, {0x84, 0x01, 0x01}};
    vec.push_back({"EventsBeforeAnswer", events, true});
    vec.push_back({"SignOff", Rule(sim::EFaultKind::SignOff), false});
    vec.push_back({"Silence", Rule(sim::EFaultKind::Silence), false});
    vec.push_back({"Drop", Rule(sim::EFaultKind::Drop), false});
    vec.push_back({"DropAfterAnswer", Rule(sim::EFaultKind::DropAfter), true});
    sim::FaultRule oversize = Rule(sim::EFaultKind::Answer);
    oversize.nOversizeBytes = 70000;  // more than any SICCT answer can carry
    vec.push_back({"Oversize", oversize, false});
    const std::pair<const char*, sim::EMalformed> aMalformed[] = {
        {"MalformedBadType", sim::EMalformed::BadType},
        {"MalformedShortHeader", sim::EMalformed::ShortHeader},
        {"MalformedLengthTooBig", sim::EMalformed::LengthTooBig},
        {"MalformedZeroLength", sim::EMalformed::ZeroLength},
        {"MalformedHugeLength", sim::EMalformed::HugeLength}};
    for (const auto& [pszName, eMalformed] : aMalformed)
    {
        sim::FaultRule rule = Rule(sim::EFaultKind::Malformed);
        rule.eMalformed = eMalformed;
        vec.push_back({pszName, rule, false});
    }
    return vec;
}

SSessionTiming ShortTiming()
{
    SSessionTiming t;
    t.nWaitSliceMs = 50;
    t.nProgressEverySlices = 10;
    t.nMaxSlices = 40;  // 2 s per answer
    t.nCancelMinSlices = 4;
    t.nPollMs = 100;
    t.nIdleLimitPolls = 600;
    t.nCloseDelayMs = 0;
    t.nConnectTimeoutMs = 3000;
    t.nHandshakeTimeoutMs = 3000;
    t.nSendTimeoutMs = 3000;
    return t;
}

class FaultInjectionTest : public ::testing::TestWithParam<std::tuple<EWay, int>>
{
protected:
    /// One run of the way against a fresh terminal; fills m_bAnswered and m_bReported.
    void RunOnce(EWay eWay, const sim::FaultRule* pRule)
    {
        sim::TerminalConfig config = sim::MakeDemoTerminal();
        config.nProtocolCode = eWay == EWay::Session ? 0x30 : 0x00;
        config.nKeepaliveIntervalMs = 0;
        sim::CTerminalSim terminal(config);
        std::string strError;
        ASSERT_EQ(terminal.Start(&strError), sim::SIM_OK) << strError;
        if (pRule != nullptr)
            terminal.SetFaults({*pRule});
        m_bAnswered = false;
        m_bReported = false;
        switch (eWay)
        {
        case EWay::Session:
            RunSession(terminal);
            break;
        case EWay::Lan:
            RunLan(terminal);
            break;
        case EWay::CtApi:
            RunCtApi(terminal);
            break;
        }
        terminal.Stop();
    }

    void RunSession(sim::CTerminalSim& terminal)
    {
        CRecordingSink sink;
        {
            CSicctSession session(sink, nullptr, ShortTiming());
            session.SetCredentials("admin", "12345678");
            session.SetSicctVersion(1, 20);
            std::atomic<bool> bCancel{false};
            uint8_t nProtocol = 0x30;
            if (session.Connect("127.0.0.1", terminal.GetPort(), nProtocol) && session.OpenCtSession(bCancel))
            {
                ManufacturerInfo info;
                m_bAnswered = session.GetManufacturerStatus(info, bCancel) && info.strManufacturer == "DEVNT";
                std::atomic<bool> bCloseCancel{false};
                (void)session.CloseCtSession(bCloseCancel);
            }
            session.Disconnect();
        }
        m_bReported = !sink.Texts().empty();
    }

    void RunLan(sim::CTerminalSim& terminal)
    {
        CSicctDevice owner;  // classifies what the listener receives
        {
            CLanDevice lan;
            lan.SetOwner(&owner);
            ASSERT_EQ(lan.Connect("127.0.0.1:" + std::to_string(terminal.GetPort()) + ":0"), 0);
            const Bytes vecEnvelope =
                CSicctDevice::BuildEnvelope(1, 1, kManufacturerQuery.data(), static_cast<uint16_t>(kManufacturerQuery.size()));
            Bytes vecResponse(4096);
            int nLength = static_cast<int>(vecResponse.size());
            const int nResult = lan.Write(vecEnvelope.data(), static_cast<int>(vecEnvelope.size()), vecResponse.data(),
                                          nLength, 2000, 1);
            // The transport's result is what its caller reports: one of its documented codes.
            m_bReported = nResult == 0 || nResult == -1 || nResult == -10 || nResult == -11;
            EXPECT_TRUE(m_bReported) << "code " << nResult;
            m_bAnswered = nResult == 0 && nLength > 12 && vecResponse[0] == sicct::R_COMMAND &&
                          vecResponse[static_cast<size_t>(nLength) - 2] == 0x90 &&
                          vecResponse[static_cast<size_t>(nLength) - 1] == 0x00;
            lan.DisConnect();
        }
    }

    void RunCtApi(sim::CTerminalSim& terminal)
    {
        ::setenv("TC_CTAPI_SIM", ("127.0.0.1:" + std::to_string(terminal.GetPort())).c_str(), 1);
        ::setenv("TC_CTAPI_SIM_TIMEOUT_MS", "1500", 1);
        ::unsetenv("TC_CTAPI_SIM_FAULTS");
        ::unsetenv("TC_CTAPI_SIM_CONFIG");
        os::CLibraryLoaderLinux loader;
        CRecordingSink sink;
        {
            CCtApiWorker worker(loader, sink);
            worker.SetSicctVersion(0x0120);
            ASSERT_TRUE(worker.LoadCtApi(TC_CTAPI_SIM_LIBRARY, 1));
            if (worker.OpenSession(1))
            {
                ManufacturerInfo info;
                m_bAnswered = worker.GetManufacturerStatus(info) && info.strManufacturer == "DEVNT";
                (void)worker.CloseSession();
            }
        }
        m_bReported = !sink.Texts().empty();
    }

    bool m_bAnswered = false;
    bool m_bReported = false;
};

TEST_P(FaultInjectionTest, EndsInTimeWithAReportAndLeavesNothingBehind)
{
    const EWay eWay = std::get<0>(GetParam());
    const SFault fault = Faults()[static_cast<size_t>(std::get<1>(GetParam()))];

    // A clean run first: libraries initialise once per process (TLS, the loader), and the
    // counts below must only see what this run leaves.
    RunOnce(eWay, nullptr);
    ASSERT_TRUE(m_bAnswered) << "the run without fault failed";
    const int nFds = OpenFds();
    const int nThreads = Threads();

    const Clock::time_point tpStart = Clock::now();
    RunOnce(eWay, &fault.rule);
    const double dSeconds = std::chrono::duration<double>(Clock::now() - tpStart).count();

    EXPECT_LT(dSeconds, kBoundSeconds);
    EXPECT_TRUE(m_bReported) << "the run ended without a report";
    EXPECT_EQ(m_bAnswered, fault.bAnswered);
    // Joined threads are gone at once; a short grace only for the kernel's bookkeeping.
    for (int i = 0; i < 20 && (Threads() != nThreads || OpenFds() != nFds); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(Threads(), nThreads) << "a thread outlived its owner";
    EXPECT_EQ(OpenFds(), nFds) << "file descriptors leaked";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<EWay, int>>& info)
{
    static const char* const s_aWay[] = {"Session", "Lan", "CtApi"};
    return std::string(s_aWay[static_cast<int>(std::get<0>(info.param))]) + "_" +
           Faults()[static_cast<size_t>(std::get<1>(info.param))].pszName;
}

INSTANTIATE_TEST_SUITE_P(AllWays, FaultInjectionTest,
                         ::testing::Combine(::testing::Values(EWay::Session, EWay::Lan, EWay::CtApi),
                                            ::testing::Range(0, static_cast<int>(Faults().size()))),
                         CaseName);
} // namespace
