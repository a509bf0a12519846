// Fault injection, events, malformed input and the stop bound of the simulator.

#include "TerminalSim.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <chrono>

using simtest::Bytes;
using simtest::CTestClient;
using Clock = std::chrono::steady_clock;

namespace
{
const Bytes kManufacturer = {0x80, 0x13, 0x00, 0x46, 0x00};
const Bytes kUnitList = {0x80, 0x13, 0x00, 0x81, 0x00};
const Bytes kOpenAnonymous = {0x80, 0x28, 0x00, 0x00, 0x08, 0x69, 0x06, 0x13, 0x00, 0x13, 0x00, 0x13, 0x00, 0x00};

long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class SimFaultTest : public ::testing::Test
{
protected:
    void StartWith(std::vector<sim::FaultRule> vecRules)
    {
        sim::TerminalConfig cfg = sim::MakeDemoTerminal();
        cfg.vecFaults = std::move(vecRules);
        m_pSim = std::make_unique<sim::CTerminalSim>(cfg);
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
        ASSERT_TRUE(m_client.Connect(m_pSim->GetPort()));
    }
    void TearDown() override
    {
        m_client.Close();
        if (m_pSim)
            m_pSim->Stop();
    }
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    CTestClient m_client;
};

sim::FaultRule Rule(int nIns, sim::EFaultKind eKind)
{
    sim::FaultRule r;
    r.nIns = nIns;
    r.eKind = eKind;
    return r;
}

TEST_F(SimFaultTest, DelayedAnswerArrivesAfterTheDelay)
{
    sim::FaultRule r = Rule(0x13, sim::EFaultKind::Answer);
    r.nDelayMs = 300;
    StartWith({r});
    const auto t0 = Clock::now();
    const Bytes v = m_client.Exchange(kManufacturer);
    EXPECT_GE(MsSince(t0), 290);
    ASSERT_GE(v.size(), 12u);
    EXPECT_EQ(v[10], 0x46);
}

TEST_F(SimFaultTest, SplitAnswerComesInSeveralSegmentsStartingInsideTheHeader)
{
    sim::FaultRule r = Rule(0x13, sim::EFaultKind::Answer);
    r.nSplitParts = 3;
    r.nSplitGapMs = 80;
    StartWith({r});
    const Bytes v = m_client.Exchange(kUnitList, 5);
    const Bytes vecBody = CTestClient::Body(v);
    EXPECT_EQ(vecBody, (Bytes{0x81, 0x08, 0x01, 0x01, 0x01, 0x02, 0x40, 0x01, 0x50, 0x01, 0x90, 0x00}));
    EXPECT_EQ(m_client.m_nReads, 3);
    ASSERT_FALSE(m_client.m_vecReadSizes.empty());
    EXPECT_EQ(m_client.m_vecReadSizes[0], 3);
}

TEST_F(SimFaultTest, SignOffSilenceAndStatusOverrideByCommandIndex)
{
    sim::FaultRule signOff = Rule(-1, sim::EFaultKind::SignOff);
    signOff.nCommandIndex = 0;
    sim::FaultRule status = Rule(-1, sim::EFaultKind::Answer);
    status.nCommandIndex = 1;
    status.nStatusWord = 0x6F00;
    sim::FaultRule silence = Rule(-1, sim::EFaultKind::Silence);
    silence.nCommandIndex = 2;
    StartWith({signOff, status, silence});

    const Bytes vecSignOff = m_client.Exchange(kOpenAnonymous, 1);
    ASSERT_EQ(vecSignOff.size(), 12u);
    EXPECT_EQ(vecSignOff[0], 0x50);
    EXPECT_EQ(vecSignOff[10], 0x81);
    // the command answered by the sign-off was not carried out
    EXPECT_EQ(m_pSim->GetStats().nSessionsOpened, 0);

    const Bytes vecStatus = CTestClient::Body(m_client.Exchange(kManufacturer, 2));
    ASSERT_GE(vecStatus.size(), 2u);
    EXPECT_EQ(vecStatus[vecStatus.size() - 2], 0x6F);
    EXPECT_EQ(vecStatus.back(), 0x00);
    EXPECT_EQ(vecStatus[0], 0x46); // the data stay, only the status word changes

    EXPECT_TRUE(m_client.Exchange(kManufacturer, 3, 300).empty());
    EXPECT_FALSE(m_client.m_bClosed);
    // the next command is answered normally again
    EXPECT_EQ(CTestClient::Body(m_client.Exchange(kManufacturer, 4))[0], 0x46);
}

TEST_F(SimFaultTest, ConnectionDropsAtTheThirdDownloadPacket)
{
    sim::FaultRule drop = Rule(0x25, sim::EFaultKind::Drop);
    drop.nOccurrence = 3;
    StartWith({drop});
    ASSERT_EQ(CTestClient::Body(m_client.Exchange(kOpenAnonymous)).back(), 0x00);
    ASSERT_EQ(CTestClient::Body(m_client.Exchange({0x80, 0x24, 0x00, 0x00, 0x00})).back(), 0x00);
    const Bytes vecPacket = {0x80, 0x25, 0x00, 0x00, 0x04, 0x73, 0x02, 0xAB, 0xCD, 0x00};
    EXPECT_EQ(CTestClient::Body(m_client.Exchange(vecPacket)), (Bytes{0x90, 0x00}));
    EXPECT_EQ(CTestClient::Body(m_client.Exchange(vecPacket)), (Bytes{0x90, 0x00}));
    EXPECT_TRUE(m_client.Exchange(vecPacket).empty());
    EXPECT_TRUE(m_client.m_bClosed);
    EXPECT_EQ(m_pSim->GetDownloadImage(), (Bytes{0xAB, 0xCD, 0xAB, 0xCD}));
    EXPECT_TRUE(m_pSim->WaitForIdle(2000));
    // a new connection is served again
    CTestClient second;
    ASSERT_TRUE(second.Connect(m_pSim->GetPort()));
    EXPECT_EQ(CTestClient::Body(second.Exchange(kManufacturer))[0], 0x46);
}

TEST_F(SimFaultTest, OversizeWrongSequenceAndEventsBeforeTheAnswer)
{
    sim::FaultRule big = Rule(0x13, sim::EFaultKind::Answer);
    big.nP2 = 0x46;
    big.nOversizeBytes = 5000;
    sim::FaultRule seq = Rule(0x13, sim::EFaultKind::Answer);
    seq.nP2 = 0x81;
    seq.nSequenceDelta = 1;
    seq.vecEventsBefore = {{0x80, 0x00}, {0x86, 0x01, 0x11}};
    StartWith({big, seq});

    const Bytes vecBig = m_client.Exchange(kManufacturer, 9);
    ASSERT_EQ(vecBig.size(), 10u + 5002u);
    EXPECT_EQ(vecBig[10], 0x46);
    EXPECT_EQ(vecBig[vecBig.size() - 2], 0x90);

    ASSERT_TRUE(m_client.Send(CTestClient::Envelope(0x6B, 0x0010, kUnitList)));
    const Bytes vecKeepalive = m_client.ReadEnvelope();
    const Bytes vecProtocolError = m_client.ReadEnvelope();
    const Bytes vecAnswer = m_client.ReadEnvelope();
    EXPECT_EQ(CTestClient::Body(vecKeepalive), (Bytes{0x80, 0x00}));
    EXPECT_EQ(vecKeepalive[0], 0x50);
    EXPECT_EQ(CTestClient::Body(vecProtocolError), (Bytes{0x86, 0x01, 0x11}));
    ASSERT_GE(vecAnswer.size(), 10u);
    EXPECT_EQ(vecAnswer[0], 0x83);
    EXPECT_EQ(vecAnswer[3], 0x00);
    EXPECT_EQ(vecAnswer[4], 0x11); // 0x0010 + 1
}

TEST_F(SimFaultTest, MalformedAnswers)
{
    sim::FaultRule badType = Rule(0x13, sim::EFaultKind::Malformed);
    badType.nCommandIndex = 0;
    badType.eMalformed = sim::EMalformed::BadType;
    sim::FaultRule zero = Rule(0x13, sim::EFaultKind::Malformed);
    zero.nCommandIndex = 1;
    zero.eMalformed = sim::EMalformed::ZeroLength;
    sim::FaultRule huge = Rule(0x13, sim::EFaultKind::Malformed);
    huge.nCommandIndex = 2;
    huge.eMalformed = sim::EMalformed::HugeLength;
    StartWith({badType, zero, huge});

    const Bytes v1 = m_client.Exchange(kManufacturer);
    ASSERT_GE(v1.size(), 10u);
    EXPECT_EQ(v1[0], 0x99);
    EXPECT_EQ(v1[10], 0x46);
    EXPECT_EQ(m_client.Exchange(kManufacturer), (Bytes{0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(m_client.Send(CTestClient::Envelope(0x6B, 0, kManufacturer)));
    Bytes vecRaw;
    while (vecRaw.size() < 12 && m_client.ReadChunk(vecRaw, 1000) > 0)
    {
    }
    EXPECT_EQ(vecRaw, (Bytes{0x83, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x90, 0x00}));
}

TEST_F(SimFaultTest, HostEventsAndCardChanges)
{
    StartWith({});
    ASSERT_EQ(CTestClient::Body(m_client.Exchange(kManufacturer))[0], 0x46); // connection is served
    EXPECT_EQ(m_pSim->SendKeepalive(), 1);
    const Bytes vecKeepalive = m_client.ReadEnvelope();
    ASSERT_EQ(vecKeepalive.size(), 12u);
    EXPECT_EQ(vecKeepalive[0], 0x50);
    EXPECT_EQ(CTestClient::Body(vecKeepalive), (Bytes{0x80, 0x00}));

    EXPECT_TRUE(m_pSim->SetCardPresent(2, true, true));
    EXPECT_EQ(CTestClient::Body(m_client.ReadEnvelope()), (Bytes{0x84, 0x01, 0x02}));
    EXPECT_EQ(CTestClient::Body(m_client.Exchange({0x80, 0x13, 0x02, 0x80, 0x00})), (Bytes{0x80, 0x01, 0x03, 0x90, 0x00}));
    EXPECT_FALSE(m_pSim->SetCardPresent(7, true, true));
    // event sequence numbers count on
    EXPECT_EQ(m_pSim->SendSignOff(), 1);
    const Bytes vecSignOff = m_client.ReadEnvelope();
    ASSERT_EQ(vecSignOff.size(), 12u);
    EXPECT_EQ(vecSignOff[4], vecKeepalive[4] + 2);
}

TEST_F(SimFaultTest, PeriodicKeepalive)
{
    sim::TerminalConfig cfg = sim::MakeDemoTerminal();
    cfg.nKeepaliveIntervalMs = 100;
    m_pSim = std::make_unique<sim::CTerminalSim>(cfg);
    ASSERT_EQ(m_pSim->Start(), sim::SIM_OK);
    ASSERT_TRUE(m_client.Connect(m_pSim->GetPort()));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(CTestClient::Body(m_client.ReadEnvelope(1000)), (Bytes{0x80, 0x00}));
}

TEST_F(SimFaultTest, MalformedInputFromTheHost)
{
    StartWith({});
    // not a command: protocol-error event, the connection stays
    ASSERT_TRUE(m_client.Send(CTestClient::Envelope(0x83, 1, {0x90, 0x00})));
    EXPECT_EQ(CTestClient::Body(m_client.ReadEnvelope()), (Bytes{0x86, 0x01, 0x11}));
    // an APDU shorter than four bytes
    EXPECT_EQ(CTestClient::Body(m_client.Exchange({0x80, 0x13})), (Bytes{0x67, 0x00}));
    // a command arriving one byte at a time is assembled
    const Bytes vecEnvelope = CTestClient::Envelope(0x6B, 2, kUnitList);
    for (uint8_t b : vecEnvelope)
    {
        ASSERT_TRUE(m_client.Send({b}));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(CTestClient::Body(m_client.ReadEnvelope())[0], 0x81);
    // an impossible length closes the connection
    ASSERT_TRUE(m_client.Send({0x6B, 0, 0, 0, 3, 0, 0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(m_client.WaitClosed(2000));
    EXPECT_EQ(m_pSim->GetStats().nMalformed, 2);
    EXPECT_FALSE(m_pSim->GetLog().empty());
}

TEST_F(SimFaultTest, StopIsBoundedEvenDuringALongDelay)
{
    sim::FaultRule r = Rule(-1, sim::EFaultKind::Answer);
    r.nDelayMs = 60000;
    StartWith({r});
    ASSERT_TRUE(m_client.Send(CTestClient::Envelope(0x6B, 0, kManufacturer)));
    ASSERT_TRUE(m_pSim->WaitForCommands(1, 2000));
    const auto t0 = Clock::now();
    m_pSim->Stop();
    EXPECT_LT(MsSince(t0), 1000);
    EXPECT_FALSE(m_pSim->IsRunning());
    EXPECT_TRUE(m_client.WaitClosed(1000));
}

TEST_F(SimFaultTest, ScriptNamesTheMismatchingStepWithBothByteStrings)
{
    StartWith({});
    sim::ScriptStep open;
    open.vecExpected = kOpenAnonymous;
    sim::ScriptStep status;
    status.vecExpected = kManufacturer;
    status.optAnswer = Bytes{0x46, 0x00, 0x90, 0x00};
    status.fault.nSequenceDelta = 5;
    m_pSim->SetScript({open, status});
    EXPECT_FALSE(m_pSim->IsScriptDone());

    EXPECT_EQ(CTestClient::Body(m_client.Exchange(kOpenAnonymous)).size(), 22u); // terminal's own answer
    const Bytes v = m_client.Exchange(kUnitList, 1); // not what step 1 expects
    EXPECT_EQ(CTestClient::Body(v), (Bytes{0x46, 0x00, 0x90, 0x00}));
    EXPECT_EQ(v[4], 6);
    EXPECT_TRUE(m_pSim->IsScriptDone());
    EXPECT_FALSE(m_client.Exchange(kManufacturer).empty()); // beyond the script: answered normally
    const auto vecMismatches = m_pSim->GetScriptMismatches();
    ASSERT_EQ(vecMismatches.size(), 2u);
    EXPECT_EQ(vecMismatches[0], "step 1: expected 80 13 00 46 00, received 80 13 00 81 00");
    EXPECT_EQ(vecMismatches[1], "step 2: beyond the script, received 80 13 00 46 00");
}

TEST(SimStartTest, RefusesNonLoopbackAndBadConfiguration)
{
    sim::TerminalConfig cfg;
    cfg.strAddress = "10.1.2.3";
    sim::CTerminalSim a(cfg);
    std::string strError;
    EXPECT_EQ(a.Start(&strError), sim::SIM_ERR_NOT_LOOPBACK);
    EXPECT_FALSE(strError.empty());

    cfg.strAddress = "127.0.0.1";
    cfg.nProtocolCode = 0x40;
    sim::CTerminalSim b(cfg);
    EXPECT_EQ(b.Start(), sim::SIM_ERR_CONFIG);

    cfg.nProtocolCode = 0x30;
    cfg.strNotAfter = "31.12.2030";
    sim::CTerminalSim c(cfg);
    EXPECT_EQ(c.Start(&strError), sim::SIM_ERR_CONFIG);

    cfg = sim::TerminalConfig{};
    sim::CTerminalSim d(cfg);
    ASSERT_EQ(d.Start(), sim::SIM_OK);
    EXPECT_EQ(d.Start(), sim::SIM_ERR_STATE);
    cfg.nPort = d.GetPort();
    sim::CTerminalSim e(cfg);
    EXPECT_EQ(e.Start(), sim::SIM_ERR_BIND); // port taken
    d.Stop();
    d.Stop();
    ASSERT_EQ(d.Start(), sim::SIM_OK); // restartable
}

} // namespace
