// The certificate list download run against the terminal simulator: file rules, the
// message sequence of a good write and the refusal of a list too large for one command.
#include <gtest/gtest.h>

#include <memory>

#include "CertListDownloadRun.h"
#include "RecordingSink.h"
#include "RunTrace.h"
#include "TerminalSim.h"

using Bytes = std::vector<uint8_t>;
using Trace = std::vector<std::string>;

class CertListRunSim : public testing::Test
{
protected:
    void StartSim()
    {
        sim::TerminalConfig config;
        config.nProtocolCode = 0x30;
        config.manufacturer.strVersion = "10014";
        m_pSim = std::make_unique<sim::CTerminalSim>(config);
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
    }
    SCertListDownloadParams Params() const
    {
        SCertListDownloadParams p;
        p.strAddress = "127.0.0.1";
        p.nPort = m_pSim ? m_pSim->GetPort() : 1;
        p.nProtocol = 0x30;
        p.nSicctVersion = 0x0114;
        p.strUser = "admin";
        p.strPassword = "12345678";
        return p;
    }
    SSessionTiming Timing() const
    {
        SSessionTiming t;
        t.nCloseDelayMs = 0;
        return t;
    }

    CRecordingSink m_sink;
    CTestSessionSettings m_settings;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
};

TEST_F(CertListRunSim, WritesTheFileUnchangedInsideASession)
{
    StartSim();
    const Bytes vecList = PatternBytes(5000);
    CTestFile file(vecList);
    CCertListDownloadRun run(m_sink, &m_settings, Timing());
    EXPECT_EQ(run.Run(Params(), file.Path()), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetCertificateList(), vecList);
    const Trace vecExpected = {"B1", "O0", "T2009", "T2010", "T2007", "T6003",
                               "XCT Firmware Version: 1.0.0.14", "XZertifikate schreiben",
                               "T6028",  // the terminal's answer to the write
                               "T2006", "T6008", "B0", "T2012", "O1"};
    EXPECT_EQ(RunTrace(m_sink.Messages()), vecExpected);
}

TEST_F(CertListRunSim, FileProblemsEndTheRunBeforeAnyConnection)
{
    StartSim();
    CCertListDownloadRun run(m_sink, &m_settings, Timing());
    EXPECT_EQ(run.LoadFile(testing::TempDir() + "no_such_certificate_list.bin"), ECertFileResult::Unreadable);
    EXPECT_EQ(run.LoadFile(""), ECertFileResult::Unreadable);
    CTestFile empty(Bytes{});
    EXPECT_EQ(run.LoadFile(empty.Path()), ECertFileResult::Empty);
    EXPECT_EQ(RunTrace(m_sink.Messages()),
              (Trace{"XDatei kann nicht gelesen werden!", "XDatei kann nicht gelesen werden!",
                     "XZertifikate können nicht aus Datei gelesen werden."}));

    // Nothing loaded: Transfer sends nothing; Run ends red after the file text.
    m_sink.Clear();
    EXPECT_EQ(run.Transfer(Params()), ERunEnd::Red);
    EXPECT_EQ(run.Run(Params(), empty.Path()), ERunEnd::Red);
    EXPECT_EQ(RunTrace(m_sink.Messages()),
              (Trace{"O1", "XZertifikate können nicht aus Datei gelesen werden.", "O1"}));
    EXPECT_EQ(m_pSim->GetStats().nConnections, 0);
}

TEST_F(CertListRunSim, ListTooLargeForOneCommandIsRefusedAfterTheVersion)
{
    StartSim();
    CTestFile file(PatternBytes(70000));
    CCertListDownloadRun run(m_sink, &m_settings, Timing());
    EXPECT_EQ(run.Run(Params(), file.Path()), ERunEnd::Red);
    const Trace vecTrace = RunTrace(m_sink.Messages());
    const auto itVersion = std::find(vecTrace.begin(), vecTrace.end(), "XCT Firmware Version: 1.0.0.14");
    ASSERT_NE(itVersion, vecTrace.end());
    // After the version: the writing text, the refusal naming the length, the failure, the close.
    ASSERT_GE(vecTrace.end() - itVersion, 8);
    EXPECT_EQ(itVersion[1], "XZertifikate schreiben");
    EXPECT_EQ(itVersion[2].rfind("LÜbergabe parameter ungültig, Data ", 0), 0u) << itVersion[2];
    EXPECT_NE(itVersion[2].find("Datenlänge 70000|"), std::string::npos) << itVersion[2];
    EXPECT_EQ(itVersion[3], "XZertifikatdownload fehlgeschlagen");
    EXPECT_EQ(itVersion[4], "T2006");
    EXPECT_EQ(m_pSim->GetStats().nCertWrites, 0);
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);

    // A terminal that refuses the list: the failure text, red.
    m_sink.Clear();
    sim::FaultRule refuse;
    refuse.nIns = 0x23;
    refuse.nStatusWord = 0x6400;
    m_pSim->SetFaults({refuse});
    CTestFile small(PatternBytes(300));
    EXPECT_EQ(run.Run(Params(), small.Path()), ERunEnd::Red);
    const Trace vecX = OnlyKinds(RunTrace(m_sink.Messages()), "X");
    EXPECT_EQ(vecX.back(), "XZertifikatdownload fehlgeschlagen");
}
