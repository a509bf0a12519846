// The CT-API way end to end: CCtApiWorker loads libctapi-sim.so through the real dynamic
// loader, and the library forwards every command to an in-process simulated terminal on
// 127.0.0.1. What the terminal received is compared byte for byte.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "CtApiWorker.h"
#include "ElfVersionReader.h"
#include "LibraryLoaderLinux.h"
#include "MessageTrace.h"
#include "RecordingSink.h"
#include "TerminalSim.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace
{
const Bytes SELECT_SICCT = {0x80, 0x20, 0x00, 0x01};
const Bytes BCS_RESET = {0x20, 0x11, 0x00, 0x00};
const Bytes INIT_SESSION = {0x80, 0x58, 0x00, 0x00, 0x00};
const Bytes DOWNLOAD_INIT = {0x80, 0x24, 0x00, 0x00, 0x00};
const Bytes DOWNLOAD_FINISH = {0x80, 0x26, 0x00, 0x00, 0x00};

Bytes CloseFor(uint8_t nTag)
{
    Bytes v = {0x80, 0x29, 0x00, 0x00, 0x14, nTag, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x0C};
    for (char c : std::string("VANTOR__1001"))
        v.push_back(static_cast<uint8_t>(c));
    return v;
}

class CtApiSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_config = sim::MakeDemoTerminal();
        ::unsetenv("TC_CTAPI_SIM_FAULTS");
        ::unsetenv("TC_CTAPI_SIM_CONFIG");
        ::unsetenv("TC_CTAPI_SIM_TIMEOUT_MS");
        m_strFile = "/tmp/ctapi_sim_test_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    }
    void TearDown() override
    {
        if (m_pSim)
            m_pSim->Stop();
        std::remove(m_strFile.c_str());
    }
    void StartSim()
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(m_config);
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
        const std::string strAddr = "127.0.0.1:" + std::to_string(m_pSim->GetPort());
        ::setenv("TC_CTAPI_SIM", strAddr.c_str(), 1);
    }
    static void SetFaults(const std::string& strFaults) { ::setenv("TC_CTAPI_SIM_FAULTS", strFaults.c_str(), 1); }
    std::unique_ptr<CCtApiWorker> MakeWorker()
    {
        auto p = std::make_unique<CCtApiWorker>(m_loader, m_sink);
        p->SetSicctVersion(m_config.nSicctVersion);
        p->SetResetWait([this](int nMs) {
            m_vecResetWaits.push_back(nMs);
            return true;
        });
        return p;
    }
    Bytes WriteFile(size_t nBytes)
    {
        Bytes v(nBytes);
        for (size_t i = 0; i < nBytes; ++i)
            v[i] = static_cast<uint8_t>((i * 31 + 7) & 0xFF);
        std::ofstream out(m_strFile, std::ios::binary);
        out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
        return v;
    }
    std::vector<std::string> Texts() const { return OnlyKinds(RunTrace(m_sink.Messages()), "T"); }
    static bool Contains(const std::vector<std::string>& vec, const std::string& s)
    {
        return std::find(vec.begin(), vec.end(), s) != vec.end();
    }

    sim::TerminalConfig m_config;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    os::CLibraryLoaderLinux m_loader;
    CRecordingSink m_sink;
    std::string m_strFile;
    std::vector<int> m_vecResetWaits;
    const std::string m_strLibrary = TC_CTAPI_SIM_LIBRARY;
};
} // namespace

TEST_F(CtApiSimTest, SessionChainInOrderThenDiagnosisThenClose)
{
    StartSim();
    auto pWorker = MakeWorker();
    ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
    ASSERT_TRUE(pWorker->OpenSession(1));
    EXPECT_EQ(m_pSim->GetReceivedApdus(), (std::vector<Bytes>{SELECT_SICCT, BCS_RESET, CloseFor(0x69), INIT_SESSION}));
    const std::vector<std::string> vecExpected = {
        "T2007",
        "B1",
        "LSelect SICCT Mode returned: |90 00 ",
        "LBCS Reset CT returned: |90 00 ",
        "LSICCT Close CT Session returned: |90 00 ",
        "T145", // the terminal waits for the user before the session opens
        "LSICCT Init CT Session returned: |69 12 13 00 13 00 13 0C 53 49 4D 2D 53 45 53 53 49 4F 4E 31 90 00 ",
        "T2001"};
    EXPECT_EQ(RunTrace(m_sink.Messages()), vecExpected);

    // the GET STATUS queries of the diagnosis, decoded
    ManufacturerInfo info;
    ASSERT_TRUE(pWorker->GetManufacturerStatus(info));
    EXPECT_EQ(info.strManufacturer, "DEVNT");
    EXPECT_EQ(info.strType, "ST150");
    std::vector<uint8_t> vecUnits;
    int nCount = 0;
    ASSERT_TRUE(pWorker->GetFunctionalUnits(vecUnits, nCount));
    EXPECT_EQ(nCount, 4);
    EXPECT_EQ(vecUnits, (Bytes{0x01, 0x01, 0x01, 0x02, 0x40, 0x01, 0x50, 0x01}));
    std::string strName;
    ASSERT_TRUE(pWorker->GetUnitName("01", strName));
    EXPECT_EQ(strName, "Kartenslot 1");
    DisplayInfo display;
    ASSERT_TRUE(pWorker->GetDisplay("41", display));
    EXPECT_EQ(display.nVisibleChars, 16);
    EXPECT_EQ(display.anCharSets[1], 15);
    KeypadInfo keypad;
    ASSERT_TRUE(pWorker->GetKeypad("51", keypad));
    EXPECT_EQ(keypad.nNumeric, 10);
    IccStatusInfo icc;
    ASSERT_TRUE(pWorker->GetIccStatus("01", icc));
    ASSERT_GE(icc.vecEntries.size(), 1u);
    EXPECT_EQ(icc.vecEntries[0].nRaw & 0x01, 1);
    IccInterfaceInfo iface;
    ASSERT_TRUE(pWorker->GetIccInterface("01", iface));
    EXPECT_EQ(iface.nExtendedLength, 0x0400);
    std::string strAtr;
    ASSERT_TRUE(pWorker->GetAtr("01", strAtr));
    EXPECT_EQ(strAtr, "3B D3 96 FF 81 B1 FE 45 1F 07 80 81 05 2D");
    EXPECT_FALSE(pWorker->GetAtr("02", strAtr)); // no card: 64A1
    EXPECT_EQ(strAtr, "No ATR given");

    m_sink.Clear();
    EXPECT_TRUE(pWorker->CloseSession());
    EXPECT_EQ(Texts(), (std::vector<std::string>{"T2006", "T6008"}));
    EXPECT_TRUE(m_pSim->WaitForIdle(5000)); // CT_close ended the connection
}

TEST_F(CtApiSimTest, AbortBeforeTheChainSendsNothingAndSucceeds)
{
    StartSim();
    WriteFile(100);
    auto pWorker = MakeWorker();
    std::atomic<bool> bAbort{true};
    EXPECT_TRUE(pWorker->DownloadFirmware(m_strLibrary, 1, m_strFile, bAbort));
    EXPECT_TRUE(m_pSim->GetReceivedApdus().empty());
    EXPECT_EQ(RunTrace(m_sink.Messages()),
              (std::vector<std::string>{"O0", "LCT_Init returned with 0|", "T2006", "T6008"}));
}

TEST_F(CtApiSimTest, CloseWithTransmissionErrorCountsAsClosed)
{
    StartSim();
    SetFaults("close=-10");
    auto pWorker = MakeWorker();
    ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
    ASSERT_TRUE(pWorker->OpenSession(1));
    m_sink.Clear();
    EXPECT_TRUE(pWorker->CloseSession());
    EXPECT_EQ(Texts(), (std::vector<std::string>{"T2006", "T6008"}));

    SetFaults("close=-8");
    auto pWorker2 = MakeWorker();
    ASSERT_TRUE(pWorker2->LoadCtApi(m_strLibrary, 1));
    ASSERT_TRUE(pWorker2->OpenSession(1));
    m_sink.Clear();
    EXPECT_FALSE(pWorker2->CloseSession());
    EXPECT_EQ(Texts(), (std::vector<std::string>{"T2006", "T174"}));
}

TEST_F(CtApiSimTest, EachLibraryErrorCodeShowsItsText)
{
    StartSim();
    const std::pair<int, int> aCodes[] = {{-1, 175}, {-8, 177}, {-10, 176}, {-11, 178}, {-127, 179}, {-128, 180}};
    for (const auto& [nCode, nText] : aCodes)
    {
        SCOPED_TRACE(nCode);
        // from CT_init
        m_sink.Clear();
        SetFaults("init=" + std::to_string(nCode));
        {
            auto pWorker = MakeWorker();
            ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
            EXPECT_FALSE(pWorker->OpenSession(1));
            EXPECT_EQ(Texts(), (std::vector<std::string>{"T2007", "T" + std::to_string(nText), "T181"}));
        }
        // from CT_data (the first chain step fails, the chain closes the number)
        m_sink.Clear();
        SetFaults("data=" + std::to_string(nCode));
        {
            auto pWorker = MakeWorker();
            ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
            EXPECT_FALSE(pWorker->OpenSession(1));
            EXPECT_EQ(Texts(), (std::vector<std::string>{"T2007", "T" + std::to_string(nText), "T2006", "T6008", "T181"}));
        }
    }
    EXPECT_TRUE(m_pSim->GetReceivedApdus().empty());
}

TEST_F(CtApiSimTest, PacketLengthFormsReachTheTerminalIntact)
{
    m_config.nMaxPacketSize = 4096;
    StartSim();
    for (size_t n : {size_t(127), size_t(128), size_t(252), size_t(253)})
    {
        SCOPED_TRACE(n);
        m_pSim->ClearRecording();
        m_sink.Clear();
        const Bytes vecFile = WriteFile(n);
        auto pWorker = MakeWorker();
        pWorker->SetPacketSize(static_cast<uint16_t>(n));
        std::atomic<bool> bAbort{false};
        ASSERT_TRUE(pWorker->DownloadFirmware(m_strLibrary, 1, m_strFile, bAbort));
        EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{static_cast<int>(n)}));
        EXPECT_EQ(m_pSim->GetDownloadImage(), vecFile);
        const auto vecApdus = m_pSim->GetReceivedApdus();
        ASSERT_EQ(vecApdus.size(), 7u);
        const Bytes& packet = vecApdus[5];
        const size_t nHeader = n <= 127 ? 7 : n <= 252 ? 8 : 11;
        EXPECT_EQ(packet.size(), nHeader + n); // no Le
        EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "P"), (std::vector<std::string>{"P1/" + std::to_string(n)}));
    }
}

TEST_F(CtApiSimTest, FullDownloadWithResetWait)
{
    m_config.vecFinishData = {0x73, 0x03, 0x80, 0x01, 0x00};
    StartSim();
    const Bytes vecFile = WriteFile(3000);
    auto pWorker = MakeWorker();
    pWorker->SetPacketSize(1024);
    std::atomic<bool> bAbort{false};
    ASSERT_TRUE(pWorker->DownloadFirmware(m_strLibrary, 1, m_strFile, bAbort));
    EXPECT_EQ(m_pSim->GetDownloadImage(), vecFile);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{1024, 1024, 952}));
    const auto vecApdus = m_pSim->GetReceivedApdus();
    ASSERT_EQ(vecApdus.size(), 4u + 1 + 3 + 1);
    EXPECT_EQ(vecApdus[4], DOWNLOAD_INIT);
    EXPECT_EQ(vecApdus[8], DOWNLOAD_FINISH);

    const auto vecTrace = RunTrace(m_sink.Messages());
    EXPECT_EQ(OnlyKinds(vecTrace, "P"), (std::vector<std::string>{"P1/1024", "P2/1024", "P3/952"}));
    const std::vector<std::string> vecTail = {"LSICCT Download Finish returned: |73 03 80 01 00 90 00 ",
                                              "T139",
                                              "T141",
                                              "T142",
                                              "T2006",
                                              "T6008"};
    ASSERT_GE(vecTrace.size(), vecTail.size());
    EXPECT_EQ(std::vector<std::string>(vecTrace.end() - static_cast<long>(vecTail.size()), vecTrace.end()), vecTail);
    EXPECT_EQ(m_vecResetWaits, (std::vector<int>{5000}));
    EXPECT_EQ(std::count(vecTrace.begin(), vecTrace.end(), "T2004"), 3);
}

TEST_F(CtApiSimTest, TerminalRefusingAPacketEndsTheTransfer)
{
    m_config.nDownloadDataStatus = 0x6400;
    StartSim();
    WriteFile(100);
    auto pWorker = MakeWorker();
    std::atomic<bool> bAbort{false};
    EXPECT_FALSE(pWorker->DownloadFirmware(m_strLibrary, 1, m_strFile, bAbort));
    EXPECT_EQ(Texts().back(), "T6009");
    EXPECT_EQ(m_pSim->GetReceivedApdus().size(), 6u); // chain, init, one packet; no finish, no close
}

TEST_F(CtApiSimTest, StalledPacketEndsWithTimeoutAndTheRunEnds)
{
    StartSim();
    WriteFile(100);
    SetFaults("data:8025@2=stall:3000");
    const int nBefore = CCtApiWorker::CountAbandonedCalls();
    {
        auto pWorker = MakeWorker(); // packet size 40: 200 ms per packet
        std::atomic<bool> bAbort{false};
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(pWorker->DownloadFirmware(m_strLibrary, 1, m_strFile, bAbort));
        const auto tElapsed = std::chrono::steady_clock::now() - t0;
        EXPECT_LT(tElapsed, 2500ms) << "waited for the stalled call";
        const auto vecTrace = RunTrace(m_sink.Messages());
        EXPECT_EQ(vecTrace.back(), "LError while Sending Data: Timeout for Transmit Reached|");
        EXPECT_EQ(OnlyKinds(vecTrace, "P"), (std::vector<std::string>{"P1/40"}));
        EXPECT_TRUE(pWorker->IsLibraryAbandoned());
    } // the worker goes while the call still sleeps in the library
    EXPECT_GE(CCtApiWorker::CountAbandonedCalls(), nBefore + 1);

    // the stalled call returns after its 3 s and its thread cleans up after itself
    const auto tEnd = std::chrono::steady_clock::now() + 20s;
    while (CCtApiWorker::CountAbandonedCalls() > nBefore && std::chrono::steady_clock::now() < tEnd)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(CCtApiWorker::CountAbandonedCalls(), nBefore);
    for (const auto& apdu : m_pSim->GetReceivedApdus())
        EXPECT_NE(apdu, DOWNLOAD_FINISH);
}

TEST_F(CtApiSimTest, LibraryRefusesAddressesBeyondLoopback)
{
    ::setenv("TC_CTAPI_SIM", "192.0.2.1:4742", 1);
    auto pWorker = MakeWorker();
    ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
    EXPECT_FALSE(pWorker->OpenSession(1));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"T2007", "T175", "T181"}));
}

TEST_F(CtApiSimTest, ConfigurationFileAndItsOverrides)
{
    StartSim();
    const std::string strConfig = m_strFile + ".conf";
    {
        std::ofstream out(strConfig);
        out << "# simulated terminal\n"
            << "address=127.0.0.1:" << m_pSim->GetPort() << "\n"
            << "fault=data:8020=-8   # the first chain step fails\n"
            << "timeout_ms=5000\n";
    }
    ::unsetenv("TC_CTAPI_SIM");
    ::setenv("TC_CTAPI_SIM_CONFIG", strConfig.c_str(), 1);
    {
        auto pWorker = MakeWorker();
        ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
        EXPECT_FALSE(pWorker->OpenSession(1));
        EXPECT_EQ(Texts(), (std::vector<std::string>{"T2007", "T177", "T2006", "T6008", "T181"}));
    }
    // an unusable file is a parameter error, not a silent default
    {
        std::ofstream out(strConfig);
        out << "adress=127.0.0.1:1\n";
    }
    m_sink.Clear();
    {
        auto pWorker = MakeWorker();
        ASSERT_TRUE(pWorker->LoadCtApi(m_strLibrary, 1));
        EXPECT_FALSE(pWorker->OpenSession(1));
        EXPECT_EQ(Texts(), (std::vector<std::string>{"T2007", "T175", "T181"}));
    }
    ::unsetenv("TC_CTAPI_SIM_CONFIG");
    std::remove(strConfig.c_str());
    EXPECT_TRUE(m_pSim->GetReceivedApdus().empty());
}

TEST(CtApiSimLibrary, CarriesItsVersionRecord)
{
    os::CElfVersionReader reader;
    os::SVersionRecord record;
    ASSERT_EQ(reader.ReadFromFile(TC_CTAPI_SIM_LIBRARY, record), 0);
    EXPECT_EQ(record.fixed.nFileType, 2u); // a library
    std::string strValue;
    ASSERT_TRUE(record.QueryString("\\StringFileInfo\\040704B0\\CompanyName", strValue));
    EXPECT_EQ(strValue, "Vantor");
    ASSERT_TRUE(record.QueryString("\\StringFileInfo\\040704B0\\OriginalFilename", strValue));
    EXPECT_EQ(strValue, "libctapi-sim.so");
}
