// LAN transport and SICCT device against the terminal simulator on loopback: plain and TLS
// connections, the response hand-over, sequence checks, events, keepalive, open and close.
// Discovery here is unicast on 127.0.0.1 through a fake adapter list; broadcast is tested
// only inside network namespaces (LanNetnsTest.cpp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "BCSCommand.h"
#include "BCSResponse.h"
#include "CommonAppData.h"
#include "Configuration.h"
#include "DeviceInfo.h"
#include "DiscoveryResponder.h"
#include "LanDevice.h"
#include "MiddlewareCodes.h"
#include "NetAdapterList.h"
#include "SicctDevice.h"
#include "TempDir.h"
#include "TerminalSim.h"
#include "TraceCapture.h"

namespace
{
using Bytes = std::vector<uint8_t>;
using namespace std::chrono;

/// One "Ethernet" adapter on 127.0.0.1 with a host mask: the directed broadcast of the
/// search is then 127.0.0.1 itself, so nothing leaves loopback.
class CLoopbackAdapters : public CNetAdapterList
{
public:
    bool List(std::vector<CAdapterAddress>& vec) override
    {
        vec = {CAdapterAddress{"lo-test", true, true, 0x7F000001u, 0xFFFFFFFFu}};
        return true;
    }
};

Bytes Envelope(uint16_t nSequence, const Bytes& vecApdu)
{
    Bytes vec(10 + vecApdu.size(), 0);
    vec[0] = 0x6B;
    vec[3] = static_cast<uint8_t>(nSequence >> 8);
    vec[4] = static_cast<uint8_t>(nSequence);
    vec[8] = static_cast<uint8_t>(vecApdu.size() >> 8);
    vec[9] = static_cast<uint8_t>(vecApdu.size());
    std::copy(vecApdu.begin(), vecApdu.end(), vec.begin() + 10);
    return vec;
}

const Bytes kGetStatus{0x20, 0x13, 0x00, 0x46, 0x00};

/// A simulator, and the answer port the search listens on (high, per process).
class LanSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // No mapping file of this machine may add targets to a search.
        CCommonAppData::SetFolderOverride(m_dir.Path());
        CConfiguration::SetGlobalSwitches(false, false);
    }
    void TearDown() override
    {
        CConfiguration::SetGlobalSwitches(false, false);
        CCommonAppData::SetFolderOverride("");
    }
    void StartSim(sim::TerminalConfig config = {})
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(config);
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
    }
    /// The client's connect returns before the simulator has taken the connection over:
    /// events sent before that reach nobody.
    bool WaitUntilServed(int nConnections = 1) const
    {
        for (int i = 0; i < 300; ++i)
        {
            if (m_pSim->GetStats().nConnections >= nConnections)
                return true;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return false;
    }
    std::string ConnectionString() const
    {
        return "127.0.0.1:" + std::to_string(m_pSim->GetPort()) + ":" + std::to_string(m_pSim->GetProtocolCode());
    }
    /// Write with a response buffer of nBufferSize; the answer in m_vecAnswer.
    int WriteEnvelope(CLanDevice& lan, const Bytes& vecEnvelope, int nBufferSize, int nTimeoutMs)
    {
        m_vecAnswer.assign(static_cast<size_t>(nBufferSize), 0);
        int nLength = nBufferSize;
        const int nResult = lan.Write(vecEnvelope.data(), static_cast<int>(vecEnvelope.size()), m_vecAnswer.data(),
                                      nLength, nTimeoutMs, 1);
        if (nResult == 0)
            m_vecAnswer.resize(static_cast<size_t>(nLength));
        return nResult;
    }
    static uint16_t AnswerPortStart() { return static_cast<uint16_t>(20000 + (::getpid() % 20000)); }

    CTempDir m_dir;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    Bytes m_vecAnswer;
};
} // namespace

TEST_F(LanSim, PlainConnectWriteAndResponse)
{
    StartSim();
    CTraceCapture capture;
    CLanDevice lan;
    ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);
    EXPECT_TRUE(lan.IsRunning());
    EXPECT_TRUE(capture.HasMessage("Initiating NON-SSL Connection"));
    ASSERT_EQ(WriteEnvelope(lan, Envelope(7, kGetStatus), 512, 3000), mw::MW_OK);
    ASSERT_GT(m_vecAnswer.size(), 12u);
    EXPECT_EQ(m_vecAnswer[0], 0x83);
    EXPECT_EQ(m_vecAnswer[4], 7);
    EXPECT_EQ(m_vecAnswer[m_vecAnswer.size() - 2], 0x90);
    // Without a protocol object events are not answers: a keepalive before the answer is dropped.
    ASSERT_EQ(m_pSim->SendKeepalive(), 1);
    std::this_thread::sleep_for(milliseconds(50));
    ASSERT_EQ(WriteEnvelope(lan, Envelope(0x0107, kGetStatus), 512, 3000), mw::MW_OK);
    EXPECT_EQ(m_vecAnswer[0], 0x83);
    EXPECT_EQ(m_vecAnswer[4], 0x07);
    // Time-out 0: sent, nothing awaited.
    EXPECT_EQ(WriteEnvelope(lan, Envelope(8, kGetStatus), 512, 0), mw::MW_ERR_GENERAL);
    EXPECT_TRUE(m_pSim->WaitForCommands(3, 2000));
    EXPECT_EQ(lan.DisConnect(), 0);
    EXPECT_FALSE(lan.IsRunning());
    // Not connected any more.
    EXPECT_EQ(WriteEnvelope(lan, Envelope(9, kGetStatus), 512, 100), mw::MW_ERR_COMM);
}

TEST_F(LanSim, TlsConnectWithBothRsaAndBrainpoolKeys)
{
    for (sim::EKeyType eKey : {sim::EKeyType::Rsa2048, sim::EKeyType::EcBrainpoolP256r1})
    {
        sim::TerminalConfig config;
        config.nProtocolCode = 0x11;
        config.eKeyType = eKey;
        StartSim(config);
        CTraceCapture capture;
        CLanDevice lan;
        ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);
        EXPECT_TRUE(capture.HasMessage("SSL Socket Connection intitiated successfully"));
        ASSERT_EQ(WriteEnvelope(lan, Envelope(1, kGetStatus), 512, 5000), mw::MW_OK);
        EXPECT_EQ(m_vecAnswer[0], 0x83);
        lan.DisConnect();
        m_pSim->Stop();
    }
}

TEST_F(LanSim, UnsupportedProtocolAndRefusedConnectFail)
{
    StartSim();
    CTraceCapture capture;
    CLanDevice lan;
    EXPECT_EQ(lan.Connect("127.0.0.1:" + std::to_string(m_pSim->GetPort()) + ":32"), mw::MW_ERR_GENERAL);
    EXPECT_TRUE(capture.HasMessage("No Protocol Specified"));
    EXPECT_FALSE(lan.IsRunning());
    const uint16_t nPort = m_pSim->GetPort();
    m_pSim->Stop();
    EXPECT_EQ(lan.Connect("127.0.0.1:" + std::to_string(nPort) + ":0"), mw::MW_ERR_GENERAL);
    EXPECT_TRUE(capture.HasMessage("Connect to Socket failed"));
}

TEST_F(LanSim, WrongSequenceIsDroppedAndTheWaitGoesOn)
{
    StartSim();
    CLanDevice lan;
    ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);

    // An answer with another sequence number never reaches the writer.
    sim::FaultRule wrong;
    wrong.nOccurrence = 1;
    wrong.nSequenceDelta = 1;
    m_pSim->SetFaults({wrong});
    EXPECT_EQ(WriteEnvelope(lan, Envelope(20, kGetStatus), 512, 400), mw::MW_ERR_COMM);

    // A late answer to an abandoned command arrives while the next one waits: skipped.
    sim::FaultRule late;
    late.nOccurrence = 1;
    late.nDelayMs = 300;
    m_pSim->SetFaults({late});
    EXPECT_EQ(WriteEnvelope(lan, Envelope(21, kGetStatus), 512, 100), mw::MW_ERR_COMM);
    ASSERT_EQ(WriteEnvelope(lan, Envelope(22, kGetStatus), 512, 3000), mw::MW_OK);
    EXPECT_EQ(m_vecAnswer[4], 22);
}

TEST_F(LanSim, ProtocolErrorEventIsHandedToTheWriter)
{
    StartSim();
    CSicctDevice owner;
    auto pLan = std::make_unique<CLanDevice>();
    CLanDevice* pRaw = pLan.get();
    owner.SetTransport(std::move(pLan));
    ASSERT_EQ(pRaw->Connect(ConnectionString()), mw::MW_OK);

    // Card events are consumed by the listener; the protocol error 86 01 11 ends the command.
    sim::FaultRule rule;
    rule.nOccurrence = 1;
    rule.vecEventsBefore = {{0x84, 0x01, 0x01}, {0x86, 0x01, 0x11}};
    rule.nDelayMs = 500;
    m_pSim->SetFaults({rule});
    ASSERT_EQ(WriteEnvelope(*pRaw, Envelope(5, kGetStatus), 512, 3000), mw::MW_OK);
    EXPECT_EQ(m_vecAnswer[0], 0x50);
    EXPECT_EQ(m_vecAnswer[10], 0x86);
    EXPECT_EQ(m_vecAnswer[12], 0x11);

    // Through ExecuteCmd: result 0xFF, addresses 2 and 1.
    m_pSim->SetFaults({rule});
    Bytes vecCommand = kGetStatus;
    Bytes vecResponse(64, 0);
    uint8_t nDest = 1, nSrc = 2;
    uint16_t nLen = static_cast<uint16_t>(vecCommand.size()), nCap = 64;
    CBCSCommand command;
    CBCSResponse response;
    command.SetData(&nDest, &nSrc, vecCommand.data(), &nLen);
    response.SetData(&nDest, &nDest, vecResponse.data(), &nCap);
    EXPECT_EQ(owner.ExecuteCmd(&command, &response, 3000), mw::EXEC_FAILED);
    EXPECT_EQ(response.GetDestination(), 2);
    EXPECT_EQ(response.GetSource(), 1);
}

TEST_F(LanSim, KeepaliveIsAnsweredAndItsAnswerSwallowed)
{
    StartSim();
    CConfiguration::SetGlobalSwitches(true, false);
    CTraceCapture capture;
    CSicctDevice owner;
    auto pLan = std::make_unique<CLanDevice>();
    CLanDevice* pRaw = pLan.get();
    owner.SetTransport(std::move(pLan));
    ASSERT_EQ(pRaw->Connect(ConnectionString()), mw::MW_OK);
    owner.SetSequenceNumber(0x1233);  // the keepalive command takes 0x1234

    ASSERT_TRUE(WaitUntilServed());
    ASSERT_EQ(m_pSim->SendKeepalive(), 1);
    ASSERT_TRUE(m_pSim->WaitForCommands(1, 3000));
    const std::vector<sim::ReceivedEnvelope> vecReceived = m_pSim->GetReceived();
    ASSERT_EQ(vecReceived.size(), 1u);
    EXPECT_EQ(vecReceived[0].vecBytes,
              (Bytes{0x6B, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x13, 0x00, 0x81, 0x00}));
    // Let the terminal's answer to it arrive.
    for (int i = 0; i < 100 && !capture.HasMessage("new command response"); ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_TRUE(capture.HasMessage("new command response"));

    // A writer now waiting must not see that answer: it times out without any hand-over.
    sim::FaultRule silent;
    silent.eKind = sim::EFaultKind::Silence;
    m_pSim->SetFaults({silent});
    capture.Clear();
    EXPECT_EQ(WriteEnvelope(*pRaw, Envelope(0x2000, kGetStatus), 512, 300), mw::MW_ERR_COMM);
    EXPECT_FALSE(capture.HasMessage("->response for Command received"));

    // With the switch off a keepalive is only counted.
    CConfiguration::SetGlobalSwitches(false, false);
    m_pSim->ClearFaults();
    m_pSim->ClearRecording();
    const int nBefore = owner.GetKeepaliveCount();
    m_pSim->SendKeepalive();
    for (int i = 0; i < 100 && owner.GetKeepaliveCount() == nBefore; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(owner.GetKeepaliveCount(), nBefore + 1);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_TRUE(m_pSim->GetReceived().empty());
}

TEST_F(LanSim, ResponseLargerThanTheBufferGivesMinus11)
{
    StartSim();
    CLanDevice lan;
    ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);
    sim::FaultRule big;
    big.nOccurrence = 1;
    big.optBody = Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x00};  // 20 bytes with the envelope
    m_pSim->SetFaults({big});
    EXPECT_EQ(WriteEnvelope(lan, Envelope(3, kGetStatus), 10, 3000), mw::MW_ERR_BUFFER);
    // The buffer was emptied: the next command gets its own answer.
    ASSERT_EQ(WriteEnvelope(lan, Envelope(4, kGetStatus), 512, 3000), mw::MW_OK);
    EXPECT_EQ(m_vecAnswer[4], 4);
}

TEST_F(LanSim, ClosedConnectionWakesTheWriter)
{
    StartSim();
    CTraceCapture capture;
    CLanDevice lan;
    ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);
    sim::FaultRule drop;
    drop.eKind = sim::EFaultKind::Drop;
    m_pSim->SetFaults({drop});
    const auto tpStart = steady_clock::now();
    EXPECT_EQ(WriteEnvelope(lan, Envelope(1, kGetStatus), 512, 5000), mw::MW_ERR_COMM);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - tpStart).count(), 2000);
    EXPECT_TRUE(capture.HasMessage("->connection closed"));
}

TEST_F(LanSim, MalformedAnswersNeverReachTheWriterAsData)
{
    struct CCase
    {
        sim::EMalformed eKind;
        int nExpected;
    };
    // None of them is a response the protocol object accepts (a 10-byte envelope without
    // body included), so the writer times out instead of getting bytes.
    for (const CCase& c : {CCase{sim::EMalformed::BadType, mw::MW_ERR_COMM},
                           CCase{sim::EMalformed::ShortHeader, mw::MW_ERR_COMM},
                           CCase{sim::EMalformed::LengthTooBig, mw::MW_ERR_COMM},
                           CCase{sim::EMalformed::ZeroLength, mw::MW_ERR_COMM}})
    {
        StartSim();
        CSicctDevice owner;
        auto pLan = std::make_unique<CLanDevice>();
        CLanDevice* pRaw = pLan.get();
        owner.SetTransport(std::move(pLan));
        ASSERT_EQ(pRaw->Connect(ConnectionString()), mw::MW_OK);
        sim::FaultRule rule;
        rule.nOccurrence = 1;
        rule.eKind = sim::EFaultKind::Malformed;
        rule.eMalformed = c.eKind;
        m_pSim->SetFaults({rule});
        EXPECT_EQ(WriteEnvelope(*pRaw, Envelope(1, kGetStatus), 512, 300), c.nExpected)
            << static_cast<int>(c.eKind);
        pRaw->DisConnect();
        m_pSim->Stop();
    }
}

TEST_F(LanSim, IdleLinkIsGivenUpAndTheNextWriterWokenAtOnce)
{
    StartSim();
    CTraceCapture capture;
    CLanDevice lan;
    lan.SetIdleLimitMs(300);  // 15 s in production
    ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);
    for (int i = 0; i < 200 && lan.IsRunning(); ++i)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_FALSE(lan.IsRunning());
    EXPECT_TRUE(capture.HasMessage("-> Connection timeout..."));
    const auto tpStart = steady_clock::now();
    EXPECT_EQ(WriteEnvelope(lan, Envelope(1, kGetStatus), 512, 3000), mw::MW_ERR_COMM);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - tpStart).count(), 1000);
    EXPECT_TRUE(capture.HasMessage("->connection closed"));
}

TEST_F(LanSim, DiscoveryThreadStopsPromptly)
{
    CLanDevice lan(nullptr);
    lan.SetDiscoveryPortStart(AnswerPortStart());
    ASSERT_TRUE(lan.StartDiscoveryListener());
    EXPECT_TRUE(lan.HasLiveListener());
    EXPECT_GE(lan.GetDiscoveryPort(), AnswerPortStart());
    const auto tpStart = steady_clock::now();
    lan.KillListener();
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - tpStart).count(), 500);
    EXPECT_FALSE(lan.HasLiveListener());
}

TEST_F(LanSim, SplitAndImpossibleLengthsFromTheStream)
{
    StartSim();
    CLanDevice lan;
    ASSERT_EQ(lan.Connect(ConnectionString()), mw::MW_OK);
    // An answer in several TCP segments is assembled.
    sim::FaultRule split;
    split.nOccurrence = 1;
    split.nSplitParts = 4;
    split.nSplitGapMs = 20;
    m_pSim->SetFaults({split});
    ASSERT_EQ(WriteEnvelope(lan, Envelope(1, kGetStatus), 512, 3000), mw::MW_OK);
    EXPECT_EQ(m_vecAnswer[4], 1);
    // A length of 4 GB is refused without allocating it; the link is given up.
    sim::FaultRule huge;
    huge.eKind = sim::EFaultKind::Malformed;
    huge.eMalformed = sim::EMalformed::HugeLength;
    m_pSim->SetFaults({huge});
    EXPECT_EQ(WriteEnvelope(lan, Envelope(2, kGetStatus), 512, 2000), mw::MW_ERR_COMM);
}

namespace
{
/// A SICCT device whose LAN transport searches 127.0.0.1 through the simulator's
/// discovery responder.
struct CLoopbackSearch
{
    explicit CLoopbackSearch(uint16_t nResponderPort, uint16_t nAnswerPortStart)
    {
        device.SetTransportFactory([this, nResponderPort, nAnswerPortStart](const CDeviceInfo*) {
            auto pLan = std::make_unique<CLanDevice>(&adapters);
            pLan->SetDiscoveryTargetPort(nResponderPort);
            pLan->SetDiscoveryPortStart(nAnswerPortStart);
            pLan->SetQuietWindowMs(1000);
            return pLan;
        });
    }
    CLoopbackAdapters adapters;
    CSicctDevice device;
};
} // namespace

TEST_F(LanSim, OpenAndCloseSequences)
{
    sim::TerminalConfig config;
    StartSim(config);
    sim::CDiscoveryResponder responder;
    responder.AddTerminal(config, m_pSim->GetPort());
    ASSERT_EQ(responder.Start("127.0.0.1", 0), sim::SIM_OK);
    CLoopbackSearch search(responder.GetPort(), AnswerPortStart());

    CDeviceInfo wanted;
    wanted.SetConnectionType(mw::CONN_LAN);
    wanted.SetMacAddress("02:00:00:00:00:01");
    const auto tpStart = steady_clock::now();
    ASSERT_EQ(search.device.Open(&wanted), mw::MW_OK);
    // The wanted device answered: no quiet window was waited for.
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - tpStart).count(), 900);
    EXPECT_TRUE(search.device.IsOpen());
    EXPECT_FALSE(search.device.GetSessionData().empty());

    ASSERT_TRUE(m_pSim->WaitForCommands(3, 2000));
    std::vector<Bytes> vecApdus = m_pSim->GetReceivedApdus();
    ASSERT_EQ(vecApdus.size(), 3u);
    EXPECT_EQ(vecApdus[0],
              (Bytes{0x80, 0x28, 0x00, 0x00, 0x08, 0x69, 0x06, 0x13, 0x00, 0x13, 0x00, 0x13, 0x00, 0x00}));
    EXPECT_EQ(vecApdus[1], (Bytes{0x80, 0x20, 0x00, 0x00}));
    EXPECT_EQ(vecApdus[2], (Bytes{0x80, 0x11, 0x00, 0x00}));
    EXPECT_EQ(m_pSim->GetStats().nSessionsOpened, 1);
    // Sequence numbers 1, 2, 3 on the wire.
    const auto vecEnvelopes = m_pSim->GetReceived();
    EXPECT_EQ(vecEnvelopes[2].vecBytes[4], 3);

    m_pSim->ClearRecording();
    search.device.Close();
    EXPECT_FALSE(search.device.IsOpen());
    vecApdus = m_pSim->GetReceivedApdus();
    ASSERT_EQ(vecApdus.size(), 3u);
    EXPECT_EQ(vecApdus[0], (Bytes{0x80, 0x20, 0x00, 0x01}));
    EXPECT_EQ(vecApdus[1], (Bytes{0x20, 0x11, 0x00, 0x00}));
    ASSERT_GE(vecApdus[2].size(), 5u);
    EXPECT_EQ(vecApdus[2][0], 0x80);
    EXPECT_EQ(vecApdus[2][1], 0x29);
    EXPECT_EQ(vecApdus[2][4], vecApdus[2].size() - 5);
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);
    EXPECT_TRUE(m_pSim->WaitForIdle(2000));
    // After Close the numbering starts again at 1.
    EXPECT_EQ(search.device.NextSequenceNumber(), 1);
}

TEST_F(LanSim, ModeSelection6200OpensWithoutResetAndVersion10Uses73)
{
    sim::TerminalConfig config;
    config.nSelectModeStatus = 0x6200;
    config.nSicctVersion = 0x0100;
    StartSim(config);
    sim::CDiscoveryResponder responder;
    responder.AddTerminal(config, m_pSim->GetPort());
    ASSERT_EQ(responder.Start("127.0.0.1", 0), sim::SIM_OK);
    CLoopbackSearch search(responder.GetPort(), AnswerPortStart());

    CDeviceInfo wanted;
    wanted.SetConnectionType(mw::CONN_LAN);
    wanted.SetMacAddress("02:00:00:00:00:01");
    ASSERT_EQ(search.device.Open(&wanted), mw::MW_OK);
    const std::vector<Bytes> vecApdus = m_pSim->GetReceivedApdus();
    ASSERT_EQ(vecApdus.size(), 2u);
    EXPECT_EQ(vecApdus[0][5], 0x73);
    EXPECT_EQ(vecApdus[1], (Bytes{0x80, 0x20, 0x00, 0x00}));
    search.device.Close();
}

TEST_F(LanSim, OpenFailuresCloseAgain)
{
    sim::TerminalConfig config;
    config.nSelectModeStatus = 0x6A00;
    StartSim(config);
    sim::CDiscoveryResponder responder;
    responder.AddTerminal(config, m_pSim->GetPort());
    ASSERT_EQ(responder.Start("127.0.0.1", 0), sim::SIM_OK);
    CLoopbackSearch search(responder.GetPort(), AnswerPortStart());
    CTraceCapture capture;

    CDeviceInfo wanted;
    wanted.SetConnectionType(mw::CONN_LAN);
    wanted.SetMacAddress("02:00:00:00:00:01");
    EXPECT_EQ(search.device.Open(&wanted), mw::MW_ERR_COMM);
    EXPECT_FALSE(search.device.IsOpen());
    EXPECT_TRUE(capture.HasMessage("--> Device couldn't be opened"));
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);  // the end sequence ran

    // A MAC nobody has: no device, -10, after one quiet window.
    CDeviceInfo unknown;
    unknown.SetConnectionType(mw::CONN_LAN);
    unknown.SetMacAddress("02:00:00:00:00:99");
    EXPECT_EQ(search.device.Open(&unknown), mw::MW_ERR_COMM);
    EXPECT_TRUE(capture.HasMessage("Open -> no device found"));
}
