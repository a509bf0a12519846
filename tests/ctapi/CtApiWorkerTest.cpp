// The CT-API worker against a CT-API library that lives in the test binary: every status
// branch, the texts, and the behaviour when a packet exchange never returns.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "CtApiWorker.h"
#include "FakeCtApi.h"
#include "MessageTrace.h"
#include "RecordingSink.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace
{
const Bytes SELECT_SICCT = {0x80, 0x20, 0x00, 0x01};
const Bytes BCS_RESET = {0x20, 0x11, 0x00, 0x00};
const Bytes INIT_SESSION = {0x80, 0x58, 0x00, 0x00, 0x00};
const Bytes DOWNLOAD_INIT = {0x80, 0x24, 0x00, 0x00, 0x00};
const Bytes DOWNLOAD_FINISH = {0x80, 0x26, 0x00, 0x00, 0x00};

class CtApiWorkerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeScript().Reset();
        m_strFile = "/tmp/ctapi_worker_test_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    }
    void TearDown() override { std::remove(m_strFile.c_str()); }

    void WriteFile(size_t nBytes)
    {
        std::ofstream out(m_strFile, std::ios::binary);
        for (size_t i = 0; i < nBytes; ++i)
            out.put(static_cast<char>(i * 7));
    }
    /// Answers every command with 90 00 except those whose INS is nIns.
    static void AnswerIns(uint8_t nIns, int nCode, Bytes vecAnswer)
    {
        std::lock_guard<std::mutex> lock(FakeScript().mtx);
        FakeScript().fnData = [=](const Bytes& c, Bytes& a) {
            if (c.size() >= 2 && c[1] == nIns)
            {
                a = vecAnswer;
                return nCode;
            }
            a = {0x90, 0x00};
            return 0;
        };
    }
    std::vector<Bytes> Commands()
    {
        std::lock_guard<std::mutex> lock(FakeScript().mtx);
        return FakeScript().vecCommands;
    }

    CFakeCtApiLoader m_loader;
    CRecordingSink m_sink;
    std::string m_strFile;
};
} // namespace

TEST_F(CtApiWorkerTest, LoadsOnceAndFailsWithoutLibrary)
{
    CCtApiWorker worker(m_loader, m_sink);
    EXPECT_EQ(worker.GetPacketSize(), 40);
    EXPECT_EQ(worker.GetSicctVersion(), 0);
    EXPECT_TRUE(worker.LoadCtApi("/opt/x/libctapi.so", 3));
    EXPECT_TRUE(worker.LoadCtApi("/other.so", 4));
    EXPECT_EQ(m_loader.m_nLoads, 1);
    EXPECT_EQ(m_loader.m_strLastPath, "/opt/x/libctapi.so");

    m_loader.m_bFail = true;
    CCtApiWorker worker2(m_loader, m_sink);
    EXPECT_FALSE(worker2.LoadCtApi("/missing.so", 1));
    std::atomic<bool> bAbort{false};
    EXPECT_FALSE(worker2.DownloadFirmware("/missing.so", 1, m_strFile, bAbort));
    EXPECT_TRUE(m_sink.Messages().empty());
}

TEST_F(CtApiWorkerTest, MissingEntryPointsFailWithoutText)
{
    m_loader.m_setMissing = {"CT_init", "CT_data", "CT_close"};
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    Bytes vecAnswer(64);
    size_t nLength = vecAnswer.size();
    EXPECT_FALSE(worker.TransmitCommand(112, vecAnswer.data(), nLength));
    EXPECT_EQ(nLength, 0u);
    EXPECT_TRUE(m_sink.Messages().empty());
    // the operations still say what they attempted, never a CT-API text
    EXPECT_FALSE(worker.OpenSession(1));
    EXPECT_EQ(RunTrace(m_sink.Messages()), (std::vector<std::string>{"T2007", "B1", "T181"}));
    m_sink.Clear();
    EXPECT_FALSE(worker.CloseSession());
    EXPECT_EQ(RunTrace(m_sink.Messages()), (std::vector<std::string>{"T2006", "T174"}));
}

TEST_F(CtApiWorkerTest, EachCtApiCodeHasItsText)
{
    CCtApiWorker worker(m_loader, m_sink);
    const std::pair<int, int> aCodes[] = {{-1, 175}, {-8, 177}, {-10, 176}, {-11, 178}, {-127, 179}, {-128, 180}};
    for (const auto& [nCode, nText] : aCodes)
    {
        m_sink.Clear();
        EXPECT_FALSE(worker.ReportResult(nCode));
        EXPECT_EQ(RunTrace(m_sink.Messages()), (std::vector<std::string>{"T" + std::to_string(nText)})) << nCode;
    }
    m_sink.Clear();
    EXPECT_TRUE(worker.ReportResult(0));
    EXPECT_FALSE(worker.ReportResult(-2));
    EXPECT_FALSE(worker.ReportResult(5));
    EXPECT_TRUE(m_sink.Messages().empty());
}

TEST_F(CtApiWorkerTest, TransmitJudgesCodeLengthAndSw1)
{
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    struct SCase
    {
        int nCode;
        Bytes vecAnswer;
        bool bSuccess;
        std::vector<std::string> vecTrace;
    };
    const SCase aCases[] = {
        {0, {0x46, 0x01, 0x41, 0x90, 0x00}, true, {"LUnknown Command returned: |46 01 41 90 00 "}},
        {0, {0x90, 0x03}, true, {"LUnknown Command returned: |90 03 "}},
        {0, {0x6A, 0x80}, false, {"LUnknown Command returned: |6A 80 "}},
        {0, {0x90}, false, {"LUnknown Command returned: |90 "}},
        {0, {}, false, {"LUnknown Command returned: |"}},
        {-10, {0x90, 0x00}, false, {"T176"}}, // no log record for a failed call
    };
    for (const auto& c : aCases)
    {
        m_sink.Clear();
        AnswerIns(0x13, c.nCode, c.vecAnswer);
        Bytes vecAnswer(64, 0xEE);
        size_t nLength = vecAnswer.size();
        EXPECT_EQ(worker.TransmitCommand(112, vecAnswer.data(), nLength), c.bSuccess);
        EXPECT_EQ(RunTrace(m_sink.Messages()), c.vecTrace);
        if (c.nCode == 0)
        {
            ASSERT_EQ(nLength, c.vecAnswer.size());
            EXPECT_EQ(Bytes(vecAnswer.begin(), vecAnswer.begin() + static_cast<long>(nLength)), c.vecAnswer);
        }
    }
    // fixed addressing and the full response buffer on every call
    EXPECT_EQ(FakeScript().nLastLenr, 0x7FFF);
    EXPECT_EQ(FakeScript().nLastDad, 1);
    EXPECT_EQ(FakeScript().nLastSad, 2);
}

TEST_F(CtApiWorkerTest, AnswerLongerThanCallerBufferIsCut)
{
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    AnswerIns(0x13, 0, {1, 2, 3, 4, 5, 6, 0x90, 0x00});
    Bytes vecAnswer(4, 0);
    size_t nLength = vecAnswer.size();
    EXPECT_TRUE(worker.TransmitCommand(112, vecAnswer.data(), nLength));
    EXPECT_EQ(nLength, 4u); // never more than was copied
    EXPECT_EQ(vecAnswer, (Bytes{1, 2, 3, 4}));
}

TEST_F(CtApiWorkerTest, InitSessionRefusalsHaveTheirTexts)
{
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    const std::pair<Bytes, int> aCases[] = {{{0x64, 0x01}, 143}, {{0x64, 0x02}, 144}, {{0x64, 0x00}, 6001},
                                            {{0x64, 0xA1}, 6001}};
    for (const auto& [vecAnswer, nText] : aCases)
    {
        m_sink.Clear();
        AnswerIns(0x58, 0, vecAnswer);
        Bytes vecBuf(64);
        size_t nLength = vecBuf.size();
        EXPECT_FALSE(worker.TransmitCommand(102, vecBuf.data(), nLength));
        const auto vecTrace = RunTrace(m_sink.Messages());
        ASSERT_EQ(vecTrace.size(), 2u);
        EXPECT_EQ(vecTrace[0].rfind("LSICCT Init CT Session returned: |", 0), 0u);
        EXPECT_EQ(vecTrace[1], "T" + std::to_string(nText));
    }
}

TEST_F(CtApiWorkerTest, DownloadFinishSignatureAndResetWait)
{
    CCtApiWorker worker(m_loader, m_sink);
    std::vector<int> vecWaits;
    worker.SetResetWait([&](int nMs) {
        vecWaits.push_back(nMs);
        return true;
    });
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    Bytes vecBuf(64);
    size_t nLength = vecBuf.size();

    AnswerIns(0x26, 0, {0x73, 0x03, 0x80, 0x01, 0x00, 0x90, 0x00});
    EXPECT_TRUE(worker.TransmitCommand(106, vecBuf.data(), nLength));
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "T"), (std::vector<std::string>{"T139", "T141", "T142"}));
    EXPECT_EQ(vecWaits, (std::vector<int>{5000}));

    m_sink.Clear();
    AnswerIns(0x26, 0, {0x73, 0x03, 0x80, 0x01, 0x0A, 0x90, 0x00}); // fifth byte + 5 seconds
    nLength = vecBuf.size();
    EXPECT_TRUE(worker.TransmitCommand(106, vecBuf.data(), nLength));
    EXPECT_EQ(vecWaits.back(), 15000);

    m_sink.Clear();
    AnswerIns(0x26, 0, {0x90, 0x00});
    nLength = vecBuf.size();
    EXPECT_TRUE(worker.TransmitCommand(106, vecBuf.data(), nLength));
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "T"), (std::vector<std::string>{"T139"}));

    m_sink.Clear();
    AnswerIns(0x26, 0, {0x64, 0x00});
    nLength = vecBuf.size();
    EXPECT_FALSE(worker.TransmitCommand(106, vecBuf.data(), nLength));
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "T"), (std::vector<std::string>{"T140"}));

    // a failed call says nothing about the signature
    m_sink.Clear();
    AnswerIns(0x26, -10, {0x90, 0x00});
    nLength = vecBuf.size();
    EXPECT_FALSE(worker.TransmitCommand(106, vecBuf.data(), nLength));
    EXPECT_EQ(RunTrace(m_sink.Messages()), (std::vector<std::string>{"T176"}));
    EXPECT_EQ(vecWaits.size(), 2u);
}

TEST_F(CtApiWorkerTest, ResetWaitCutShortByAbortSkipsTheAllClear)
{
    CCtApiWorker worker(m_loader, m_sink);
    WriteFile(10);
    std::atomic<bool> bAbort{false};
    {
        // the user presses cancel while the terminal answers the finish with 245 s reset time
        std::lock_guard<std::mutex> lock(FakeScript().mtx);
        FakeScript().fnData = [&](const Bytes& c, Bytes& a) {
            if (c.size() >= 2 && c[1] == 0x26 && c.size() == 5)
            {
                bAbort = true;
                a = {0x73, 0x03, 0x80, 0x01, 0xF0, 0x90, 0x00};
                return 0;
            }
            a = {0x90, 0x00};
            return 0;
        };
    }
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(worker.DownloadFirmware("lib.so", 1, m_strFile, bAbort)); // default wait
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 20s);
    const auto vecTexts = OnlyKinds(RunTrace(m_sink.Messages()), "T");
    ASSERT_GE(vecTexts.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(vecTexts.end() - 4, vecTexts.end()),
              (std::vector<std::string>{"T139", "T141", "T2006", "T6008"})); // no 142
}

TEST_F(CtApiWorkerTest, CloseCountsTransmissionErrorAsClosed)
{
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    const std::pair<int, std::string> aCases[] = {{0, "T6008"}, {-10, "T6008"}, {-8, "T174"}, {-1, "T174"}};
    for (const auto& [nCode, strText] : aCases)
    {
        m_sink.Clear();
        FakeScript().nCloseCode = nCode;
        EXPECT_EQ(worker.CloseSession(), strText == "T6008");
        EXPECT_EQ(RunTrace(m_sink.Messages()), (std::vector<std::string>{"T2006", strText})) << nCode;
    }
}

TEST_F(CtApiWorkerTest, OpenSessionUsesItsOwnPortAndRunsTheChain)
{
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 7));
    EXPECT_TRUE(worker.OpenSession(9));
    EXPECT_EQ(FakeScript().vecInitPorts, (std::vector<unsigned short>{9}));
    const auto vecCommands = Commands();
    ASSERT_EQ(vecCommands.size(), 4u);
    EXPECT_EQ(vecCommands[0], SELECT_SICCT);
    EXPECT_EQ(vecCommands[1], BCS_RESET);
    EXPECT_EQ(vecCommands[2].size(), 25u);
    EXPECT_EQ(vecCommands[3], INIT_SESSION);
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "TB"), (std::vector<std::string>{"T2007", "B1", "T145", "T2001"}));
}

TEST_F(CtApiWorkerTest, FailedChainStepClosesAndReports181)
{
    CCtApiWorker worker(m_loader, m_sink);
    ASSERT_TRUE(worker.LoadCtApi("lib.so", 1));
    AnswerIns(0x11, 0, {0x6A, 0x00}); // BCS reset refused
    EXPECT_FALSE(worker.OpenSession(1));
    EXPECT_EQ(Commands().size(), 2u); // nothing after the failed step
    EXPECT_EQ(FakeScript().nCloseCalls, 1);
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "T"), (std::vector<std::string>{"T2007", "T2006", "T6008", "T181"}));

    m_sink.Clear();
    FakeScript().Reset();
    FakeScript().nInitCode = -8;
    EXPECT_FALSE(worker.OpenSession(1));
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(RunTrace(m_sink.Messages()), (std::vector<std::string>{"T2007", "B1", "T177", "T181"}));
}

TEST_F(CtApiWorkerTest, DownloadPacketStatusBranches)
{
    struct SCase
    {
        int nCode;
        Bytes vecAnswer;
        std::string strLast;
    };
    const SCase aCases[] = {
        {0, {0x69, 0x00}, "T6012"},
        {0, {0x64, 0x00}, "T6009"},
        {0, {0x6A, 0x80}, "LSICCT Fehler 0x6a80|"},
        {0, {}, "LSICCT Fehler 0x0000|"},
        {-11, {0x90, 0x00}, "T178"},
        {-3, {0x90, 0x00}, "T2004"}, // an unknown code fails silently
    };
    WriteFile(100);
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.strLast);
        FakeScript().Reset();
        m_sink.Clear();
        AnswerIns(0x25, c.nCode, c.vecAnswer);
        CCtApiWorker worker(m_loader, m_sink);
        std::atomic<bool> bAbort{false};
        EXPECT_FALSE(worker.DownloadFirmware("lib.so", 1, m_strFile, bAbort));
        const auto vecTrace = RunTrace(m_sink.Messages());
        ASSERT_FALSE(vecTrace.empty());
        EXPECT_EQ(vecTrace.back(), c.strLast);
        // after a failed transfer: no finish and no close
        for (const auto& cmd : Commands())
            EXPECT_NE(cmd, DOWNLOAD_FINISH);
        EXPECT_EQ(FakeScript().nCloseCalls, 0);
    }
}

TEST_F(CtApiWorkerTest, DownloadSequenceAndPacketing)
{
    WriteFile(100);
    CCtApiWorker worker(m_loader, m_sink);
    worker.SetSicctVersion(0x0115);
    std::atomic<bool> bAbort{false};
    EXPECT_TRUE(worker.DownloadFirmware("lib.so", 4, m_strFile, bAbort)); // packet size 40
    EXPECT_EQ(FakeScript().vecInitPorts, (std::vector<unsigned short>{4}));
    const auto vecCommands = Commands();
    ASSERT_EQ(vecCommands.size(), 4u + 1 + 3 + 1);
    EXPECT_EQ(vecCommands[2][5], 0x73); // version above 1.20
    EXPECT_EQ(vecCommands[4], DOWNLOAD_INIT);
    EXPECT_EQ(vecCommands[5].size(), 7u + 40);
    EXPECT_EQ(vecCommands[7].size(), 7u + 20);
    EXPECT_EQ(vecCommands[8], DOWNLOAD_FINISH);
    const auto vecTrace = OnlyKinds(RunTrace(m_sink.Messages()), "OTPL");
    const std::vector<std::string> vecExpectStart = {"O0", "LCT_Init returned with 0|"};
    EXPECT_EQ(std::vector<std::string>(vecTrace.begin(), vecTrace.begin() + 2), vecExpectStart);
    const auto vecPackets = OnlyKinds(RunTrace(m_sink.Messages()), "P");
    EXPECT_EQ(vecPackets, (std::vector<std::string>{"P1/40", "P2/40", "P3/20"}));
    EXPECT_EQ(OnlyKinds(vecTrace, "T").back(), "T6008");
}

TEST_F(CtApiWorkerTest, DownloadStopsEarly)
{
    // packet size 0: nothing sent after the download init
    {
        WriteFile(100);
        CCtApiWorker worker(m_loader, m_sink);
        worker.SetPacketSize(0);
        std::atomic<bool> bAbort{false};
        EXPECT_FALSE(worker.DownloadFirmware("lib.so", 1, m_strFile, bAbort));
        const auto vecTrace = RunTrace(m_sink.Messages());
        ASSERT_GE(vecTrace.size(), 2u);
        EXPECT_EQ(vecTrace[vecTrace.size() - 2], "T4006");
        EXPECT_EQ(vecTrace.back(), "I0");
        EXPECT_EQ(Commands().back(), DOWNLOAD_INIT);
    }
    // a file that cannot be read fails the transfer without a text
    {
        FakeScript().Reset();
        m_sink.Clear();
        CCtApiWorker worker(m_loader, m_sink);
        std::atomic<bool> bAbort{false};
        EXPECT_FALSE(worker.DownloadFirmware("lib.so", 1, "/nonexistent/fw.bin", bAbort));
        EXPECT_EQ(Commands().back(), DOWNLOAD_INIT);
        EXPECT_EQ(FakeScript().nCloseCalls, 0);
    }
    // CT_init refused: its code is logged and reported, nothing is sent
    {
        FakeScript().Reset();
        m_sink.Clear();
        FakeScript().nInitCode = -127;
        CCtApiWorker worker(m_loader, m_sink);
        std::atomic<bool> bAbort{false};
        EXPECT_FALSE(worker.DownloadFirmware("lib.so", 1, m_strFile, bAbort));
        EXPECT_EQ(RunTrace(m_sink.Messages()),
                  (std::vector<std::string>{"O0", "LCT_Init returned with -127|", "T179"}));
        EXPECT_TRUE(Commands().empty());
    }
}

TEST_F(CtApiWorkerTest, WorkerClosesAnOpenTerminalNumberWhenDestroyed)
{
    AnswerIns(0x24, 0, {0x69, 0x00}); // download init refused: the run ends with the number open
    WriteFile(10);
    {
        CCtApiWorker worker(m_loader, m_sink);
        std::atomic<bool> bAbort{false};
        EXPECT_FALSE(worker.DownloadFirmware("lib.so", 1, m_strFile, bAbort));
        EXPECT_EQ(FakeScript().nCloseCalls, 0);
    }
    EXPECT_EQ(FakeScript().nCloseCalls, 1);
}

TEST_F(CtApiWorkerTest, HangingPacketIsAbandonedNotAwaited)
{
    WriteFile(100);
    FakeScript().nBlockIns = 0x25;
    const int nBefore = CCtApiWorker::CountAbandonedCalls();
    {
        CCtApiWorker worker(m_loader, m_sink);
        worker.SetPacketSize(40); // 200 ms per packet
        std::atomic<bool> bAbort{false};
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(worker.DownloadFirmware("lib.so", 1, m_strFile, bAbort));
        const auto tElapsed = std::chrono::steady_clock::now() - t0;
        EXPECT_GE(tElapsed, 200ms);
        EXPECT_LT(tElapsed, 5s); // generous: a loaded machine, but not the hanging call
        EXPECT_TRUE(worker.IsLibraryAbandoned());
        EXPECT_EQ(RunTrace(m_sink.Messages()).back(), "LError while Sending Data: Timeout for Transmit Reached|");
        EXPECT_EQ(CCtApiWorker::CountAbandonedCalls(), nBefore + 1);

        // the library is not called again in this run, whatever is asked
        const int nCalls = FakeScript().nDataCalls.load();
        Bytes vecBuf(16);
        size_t nLength = vecBuf.size();
        EXPECT_FALSE(worker.TransmitCommand(112, vecBuf.data(), nLength));
        EXPECT_FALSE(worker.CloseSession());
        EXPECT_TRUE(worker.LoadCtApi("lib.so", 1));
        EXPECT_FALSE(worker.OpenSession(1));
        EXPECT_EQ(FakeScript().nDataCalls.load(), nCalls);
        EXPECT_EQ(FakeScript().nCloseCalls, 0);
        EXPECT_EQ(FakeScript().vecInitPorts.size(), 1u);
    } // the destructor neither waits for the call nor closes the number
    EXPECT_EQ(FakeScript().nCloseCalls, 0);

    // the call returns late: its thread ends on its own
    FakeScript().Release();
    const auto tEnd = std::chrono::steady_clock::now() + 10s;
    while (CCtApiWorker::CountAbandonedCalls() > nBefore && std::chrono::steady_clock::now() < tEnd)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(CCtApiWorker::CountAbandonedCalls(), nBefore);
    EXPECT_EQ(FakeScript().nBlockedReturned.load(), 1);
}
