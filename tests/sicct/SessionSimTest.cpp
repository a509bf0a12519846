// CSicctSession against the in-process terminal simulator on loopback: TLS versions,
// protocol selection, message assembly, sign-off, session close bytes, download framing and
// packet sizes, bounded waits, lost connections, and byte-exact transfers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "RecordingSink.h"
#include "SessionSettings.h"
#include "SicctSession.h"
#include "SicctWire.h"
#include "TerminalSim.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace
{
class CFakeSessionSettings final : public CSessionSettings
{
public:
    uint32_t ProtocolId() const override { return m_nProtocolId; }
    uint32_t MaxDataPacketSize() const override { return m_nMaxData; }
    std::atomic<uint32_t> m_nProtocolId{0};
    std::atomic<uint32_t> m_nMaxData{0};
};

double Seconds(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

Bytes RandomBytes(size_t n, unsigned nSeed)
{
    std::mt19937 gen(nSeed);
    Bytes vec(n);
    for (auto& b : vec)
        b = static_cast<uint8_t>(gen());
    return vec;
}

/// A temporary file removed at the end of the test.
class CTempFile
{
public:
    explicit CTempFile(const Bytes& vec)
    {
        static std::atomic<int> s_nCounter{0};
        m_strPath = testing::TempDir() + "sicct_fw_" + std::to_string(::getpid()) + "_" +
                    std::to_string(s_nCounter++) + ".bin";
        std::ofstream out(m_strPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(vec.data()), static_cast<std::streamsize>(vec.size()));
    }
    ~CTempFile() { std::remove(m_strPath.c_str()); }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

SSessionTiming FastTiming()
{
    SSessionTiming t;
    t.nCloseDelayMs = 0;
    return t;
}

/// Data packets (INS 0x25 / 0x26 with data) among the received APDUs.
std::vector<Bytes> DataPackets(const std::vector<Bytes>& vecApdus)
{
    std::vector<Bytes> vec;
    for (const auto& a : vecApdus)
        if (a.size() > 5 && a[0] == 0x80 && (a[1] == 0x25 || a[1] == 0x26))
            vec.push_back(a);
    return vec;
}
} // namespace

class SessionSim : public testing::Test
{
protected:
    void StartSim(sim::TerminalConfig config)
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(std::move(config));
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
    }
    std::unique_ptr<CSicctSession> MakeSession(SSessionTiming timing = FastTiming())
    {
        return std::make_unique<CSicctSession>(m_sink, &m_settings, timing);
    }
    /// Connect and open the CT session with the simulator's credentials.
    void Open(CSicctSession& session)
    {
        session.SetCredentials("admin", "12345678");
        uint8_t nProtocol = static_cast<uint8_t>(m_pSim->GetProtocolCode());
        ASSERT_TRUE(session.Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
        ASSERT_TRUE(session.OpenCtSession(m_bCancel));
    }
    static sim::TerminalConfig Config(int nProtocol)
    {
        sim::TerminalConfig c;
        c.nProtocolCode = nProtocol;
        return c;
    }

    CRecordingSink m_sink;
    CFakeSessionSettings m_settings;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    std::atomic<bool> m_bCancel{false};
};

TEST_F(SessionSim, ConnectsWithEachTlsVersionAndKeyType)
{
    struct SCase
    {
        int nProtocol;
        sim::EKeyType eKey;
    };
    for (const auto& c : {SCase{0x10, sim::EKeyType::Rsa2048}, SCase{0x11, sim::EKeyType::Rsa2048},
                          SCase{0x20, sim::EKeyType::Rsa2048}, SCase{0x30, sim::EKeyType::Rsa2048},
                          SCase{0x10, sim::EKeyType::EcBrainpoolP256r1},
                          SCase{0x30, sim::EKeyType::EcBrainpoolP256r1}})
    {
        SCOPED_TRACE(testing::Message() << "protocol 0x" << std::hex << c.nProtocol << " key "
                                        << static_cast<int>(c.eKey));
        m_sink.Clear();
        auto config = Config(c.nProtocol);
        config.eKeyType = c.eKey;
        StartSim(config);
        auto pSession = MakeSession();
        Open(*pSession);
        EXPECT_EQ(pSession->SessionId(), " 53 49 4d 2d 53 45 53 53 49 4f 4e 31");  // "SIM-SESSION1"
        EXPECT_TRUE(pSession->CloseCtSession(m_bCancel));
        EXPECT_TRUE(pSession->Disconnect());
        const std::vector<int> vecExpected = {2009, 2010, 2007, 6003, 2006, 6008, 2012};
        EXPECT_EQ(m_sink.Texts(), vecExpected);
        EXPECT_EQ(m_pSim->GetStats().nHandshakeFailures, 0);
        m_pSim.reset();
    }
}

TEST_F(SessionSim, ProtocolSelectionAndConnectFailures)
{
    // Protocol 0 on a plain terminal: the TCP connection is made, then refused with 4002.
    StartSim(Config(0));
    {
        auto pSession = MakeSession();
        uint8_t nProtocol = 0;
        EXPECT_FALSE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
        EXPECT_TRUE(pSession->Disconnect());
        EXPECT_EQ(m_sink.Texts(), (std::vector<int>{4002, 124}));
        bool bAccepted = false;
        for (int i = 0; i < 100 && !bAccepted; ++i)
        {
            bAccepted = m_pSim->GetStats().nConnections >= 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(bAccepted);
    }
    // An unknown code: TLS is announced (2009), then refused.
    m_sink.Clear();
    {
        auto pSession = MakeSession();
        uint8_t nProtocol = 0x40;
        EXPECT_FALSE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
        pSession->Disconnect();
        EXPECT_EQ(m_sink.Texts(), (std::vector<int>{2009, 4002, 124}));
    }
    const uint16_t nClosedPort = m_pSim->GetPort();
    m_pSim.reset();

    // Nothing listens: 4001 and the red icon.
    m_sink.Clear();
    {
        auto pSession = MakeSession();
        uint8_t nProtocol = 0x30;
        EXPECT_FALSE(pSession->Connect("127.0.0.1", nClosedPort, nProtocol));
        pSession->Disconnect();
        EXPECT_TRUE(m_sink.HasText(4001));
        const auto vecReports = m_sink.Of(wm::WM_REPORT);
        EXPECT_TRUE(std::any_of(vecReports.begin(), vecReports.end(), [](const SWorkerMessage& m) {
            return m.nWParam == wm::STATUS_ICON && m.nLParam == wm::ICON_RED;
        }));
        const auto vecOps = m_sink.Of(wm::WM_OPERATION);
        ASSERT_EQ(vecOps.size(), 2u);
        EXPECT_EQ(vecOps[0].nWParam, 0);
        EXPECT_EQ(vecOps[1].nWParam, 1);
    }

    // "Protocol-ID" replaces the passed code, also in the caller's variable.
    StartSim(Config(0x30));
    m_settings.m_nProtocolId = 0x30;
    {
        auto pSession = MakeSession();
        uint8_t nProtocol = 0;
        EXPECT_TRUE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
        EXPECT_EQ(nProtocol, 0x30);
        pSession->Disconnect();
    }
}

TEST_F(SessionSim, PortZeroMeansTheSicctPort)
{
    auto config = Config(0x30);
    config.nPort = CSicctSession::DEFAULT_PORT;
    m_pSim = std::make_unique<sim::CTerminalSim>(config);
    std::string strError;
    if (m_pSim->Start(&strError) != sim::SIM_OK)
        GTEST_SKIP() << "port 4742 on loopback is taken: " << strError;
    auto pSession = MakeSession();
    uint8_t nProtocol = 0x30;
    EXPECT_TRUE(pSession->Connect("127.0.0.1", 0, nProtocol));
    pSession->Disconnect();
}

TEST_F(SessionSim, AnswersAreAssembledWhateverTheirSegmentsAndSize)
{
    StartSim(Config(0x30));
    auto pSession = MakeSession();
    Open(*pSession);

    // Split into three TCP segments, with a keepalive and a card event before the answer.
    sim::FaultRule split;
    split.nIns = 0x13;
    split.nP2 = 0x46;
    split.nSplitParts = 3;
    split.vecEventsBefore = {{0x80, 0x00}, {0x84, 0x01, 0x01}};
    m_pSim->SetFaults({split});
    ManufacturerInfo info;
    ASSERT_TRUE(pSession->GetManufacturerStatus(info, m_bCancel));
    EXPECT_EQ(info.strManufacturer, "DEVNT");
    EXPECT_EQ(info.strType, "ST150");
    EXPECT_EQ(info.nVersion, 30000);

    // Longer than any receive buffer of a fixed 4 KiB: assembled and judged by its real
    // status word.
    sim::FaultRule big;
    big.nIns = 0x13;
    big.nP2 = 0x46;
    big.nOversizeBytes = 9000;
    big.nSplitParts = 4;
    m_pSim->SetFaults({big});
    ASSERT_TRUE(pSession->GetManufacturerStatus(info, m_bCancel));
    EXPECT_EQ(info.strManufacturer, "DEVNT");
    EXPECT_EQ(info.nVersion, 30000);

    m_pSim->ClearFaults();
    EXPECT_TRUE(pSession->CloseCtSession(m_bCancel));
    pSession->Disconnect();
}

TEST_F(SessionSim, ImpossibleLengthEndsTheExchangeWithATextInsteadOfAHang)
{
    StartSim(Config(0x30));
    auto pSession = MakeSession();
    Open(*pSession);
    sim::FaultRule huge;
    huge.nIns = 0x13;
    huge.eKind = sim::EFaultKind::Malformed;
    huge.eMalformed = sim::EMalformed::HugeLength;
    m_pSim->SetFaults({huge});
    const auto t0 = Clock::now();
    ManufacturerInfo info;
    EXPECT_FALSE(pSession->GetManufacturerStatus(info, m_bCancel));
    EXPECT_LT(Seconds(t0), 30.0);
    EXPECT_TRUE(m_sink.HasText(CSicctSession::TEXT_ANSWER_TOO_LONG));
    EXPECT_EQ(info.nVersion, -1);
    // Every later wait fails at once.
    const auto t1 = Clock::now();
    std::vector<uint8_t> vecUnits;
    int nCount = 0;
    EXPECT_FALSE(pSession->GetFunctionalUnits(vecUnits, nCount, m_bCancel));
    EXPECT_LT(Seconds(t1), 5.0);
    pSession->Disconnect();
}

TEST_F(SessionSim, SignOffDuringSessionOpenFailsWithoutStatusText)
{
    StartSim(Config(0x20));
    sim::FaultRule signOff;
    signOff.nIns = 0x28;
    signOff.eKind = sim::EFaultKind::SignOff;
    m_pSim->SetFaults({signOff});
    auto pSession = MakeSession();
    pSession->SetCredentials("admin", "12345678");
    uint8_t nProtocol = 0x20;
    ASSERT_TRUE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
    const auto t0 = Clock::now();
    EXPECT_FALSE(pSession->OpenCtSession(m_bCancel));
    EXPECT_LT(Seconds(t0), 20.0);
    EXPECT_TRUE(pSession->SessionId().empty());
    for (int nText : {6000, 6001, 6002, 6003, 143, 144})
        EXPECT_FALSE(m_sink.HasText(nText)) << nText;
    pSession->Disconnect();
}

TEST_F(SessionSim, SessionCloseCarriesTheIdentifierWithItsOwnLengths)
{
    struct SCase
    {
        Bytes vecId;
        Bytes vecExpected;
    };
    const Bytes vecId12 = {'S', 'I', 'M', '-', 'S', 'E', 'S', 'S', 'I', 'O', 'N', '1'};
    Bytes vecExpected12 = {0x80, 0x29, 0x00, 0x00, 0x15, 0x69, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x0C};
    vecExpected12.insert(vecExpected12.end(), vecId12.begin(), vecId12.end());
    vecExpected12.insert(vecExpected12.end(), {0x00, 0x00});
    const Bytes vecId5 = {0x01, 0x02, 0x03, 0x04, 0x05};
    const Bytes vecExpected5 = {0x80, 0x29, 0x00, 0x00, 0x0E, 0x69, 0x0B, 0x13, 0x00, 0x13,
                                0x00, 0x13, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00};
    for (const auto& c : {SCase{vecId12, vecExpected12}, SCase{vecId5, vecExpected5}})
    {
        SCOPED_TRACE(c.vecId.size());
        m_sink.Clear();
        auto config = Config(0x30);
        config.vecSessionId = c.vecId;
        StartSim(config);
        auto pSession = MakeSession();
        Open(*pSession);
        EXPECT_TRUE(pSession->CloseCtSession(m_bCancel));
        EXPECT_TRUE(m_sink.HasText(6008));
        const auto vecApdus = m_pSim->GetReceivedApdus();
        ASSERT_FALSE(vecApdus.empty());
        EXPECT_EQ(vecApdus.back(), c.vecExpected);
        ASSERT_EQ(m_pSim->GetClosedSessionIds().size(), 1u);
        EXPECT_EQ(m_pSim->GetClosedSessionIds()[0], c.vecId);
        pSession->Disconnect();
        m_pSim.reset();
    }

    // Without a known identifier the five-byte close goes out.
    StartSim(Config(0x30));
    auto pSession = MakeSession();
    uint8_t nProtocol = 0x30;
    ASSERT_TRUE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
    pSession->CloseCtSession(m_bCancel);
    const auto vecApdus = m_pSim->GetReceivedApdus();
    ASSERT_EQ(vecApdus.size(), 1u);
    EXPECT_EQ(vecApdus[0], (Bytes{0x80, 0x29, 0x00, 0x00, 0x00}));
    pSession->Disconnect();
}

TEST_F(SessionSim, FirmwarePacketFramingAtTheLengthFormBoundaries)
{
    struct SCase
    {
        int nPacket;
        Bytes vecHead;  // after 80 25 00 00
    };
    const SCase aCases[] = {
        {127, {0x81, 0x73, 0x7F}},
        {128, {0x83, 0x73, 0x81, 0x80}},
        {252, {0xFF, 0x73, 0x81, 0xFC}},
        {253, {0x00, 0x01, 0x01, 0x73, 0x82, 0x00, 0xFD}},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.nPacket);
        auto config = Config(0x30);
        config.nMaxPacketSize = c.nPacket;
        StartSim(config);
        auto pSession = MakeSession();
        Open(*pSession);
        const Bytes vecFile = RandomBytes(static_cast<size_t>(2 * c.nPacket + 5), 7);
        CTempFile file(vecFile);
        ASSERT_TRUE(pSession->InitDownload(m_bCancel));
        EXPECT_EQ(pSession->MaxPacketSize(), static_cast<uint32_t>(c.nPacket));
        ASSERT_TRUE(pSession->SendFirmwareFile(file.Path(), false, m_bCancel));
        const auto vecPackets = DataPackets(m_pSim->GetReceivedApdus());
        ASSERT_EQ(vecPackets.size(), 3u);
        const Bytes& first = vecPackets[0];
        EXPECT_EQ(Bytes(first.begin() + 4, first.begin() + 4 + static_cast<long>(c.vecHead.size())), c.vecHead);
        EXPECT_EQ(first.size(), 4 + c.vecHead.size() + static_cast<size_t>(c.nPacket) + (c.nPacket > 252 ? 2 : 1));
        EXPECT_EQ(m_pSim->GetDownloadImage(), vecFile);
        EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{c.nPacket, c.nPacket, 5}));
        pSession->Disconnect();
        m_pSim.reset();
    }
}

TEST_F(SessionSim, PacketSizeLayoutsAndTheSettingThatOnlyLowers)
{
    auto config = Config(0x30);
    config.nMaxPacketSize = 1280;
    config.ePacketSizeLayout = sim::EPacketSizeLayout::A;
    StartSim(config);
    auto pSession = MakeSession();
    Open(*pSession);
    ASSERT_TRUE(pSession->InitDownload(m_bCancel));
    EXPECT_EQ(pSession->MaxPacketSize(), 1280u);
    EXPECT_TRUE(m_sink.HasText(6016));
    m_pSim->SetMaxPacketSize(1024, sim::EPacketSizeLayout::B);
    ASSERT_TRUE(pSession->InitDownload(m_bCancel));
    EXPECT_EQ(pSession->MaxPacketSize(), 1024u);

    // 3000 bytes in packets of 1024, 1024 and 952.
    const Bytes vecFile = RandomBytes(3000, 3);
    CTempFile file(vecFile);
    m_sink.Clear();
    ASSERT_TRUE(pSession->SendFirmwareFile(file.Path(), false, m_bCancel));
    const auto vecSizes = m_sink.Of(wm::WM_PACKET_SIZE);
    ASSERT_EQ(vecSizes.size(), 1u);
    EXPECT_EQ(vecSizes[0].nWParam, 1024);
    const auto vecSent = m_sink.Of(wm::WM_PACKET_SENT);
    ASSERT_EQ(vecSent.size(), 3u);
    EXPECT_EQ(vecSent[0].nWParam, 1);
    EXPECT_EQ(vecSent[0].nLParam, 1024);
    EXPECT_EQ(vecSent[1].nWParam, 2);
    EXPECT_EQ(vecSent[1].nLParam, 1024);
    EXPECT_EQ(vecSent[2].nWParam, 3);
    EXPECT_EQ(vecSent[2].nLParam, 952);
    EXPECT_EQ(m_sink.CountText(2004), 3);

    // "MaxDataPacketSize" 512 lowers the size; 4096 leaves the terminal's 1024.
    for (const auto& [nSetting, nExpected] : {std::pair{512u, 512}, std::pair{4096u, 1024}})
    {
        SCOPED_TRACE(nSetting);
        m_settings.m_nMaxData = nSetting;
        ASSERT_TRUE(pSession->InitDownload(m_bCancel));
        ASSERT_TRUE(pSession->SendFirmwareFile(file.Path(), false, m_bCancel));
        const auto vecPackets = m_pSim->GetDownloadPacketSizes();
        ASSERT_FALSE(vecPackets.empty());
        EXPECT_EQ(vecPackets[0], nExpected);
        EXPECT_EQ(m_pSim->GetDownloadImage(), vecFile);
    }
    m_settings.m_nMaxData = 0;

    // No size from the terminal: 4006, the red icon, nothing sent.
    m_pSim->SetMaxPacketSize(1024, sim::EPacketSizeLayout::None);
    ASSERT_TRUE(pSession->InitDownload(m_bCancel));
    EXPECT_EQ(pSession->MaxPacketSize(), 0u);
    m_sink.Clear();
    EXPECT_FALSE(pSession->SendFirmwareFile(file.Path(), false, m_bCancel));
    EXPECT_EQ(m_sink.Texts(), std::vector<int>{4006});
    EXPECT_TRUE(m_sink.Of(wm::WM_PACKET_SENT).empty());
    pSession->Disconnect();
}

TEST_F(SessionSim, OldFirmwareEndsTheDownloadWithTheLastPacket)
{
    auto config = Config(0x30);
    config.nMaxPacketSize = 1024;
    StartSim(config);
    auto pSession = MakeSession();
    Open(*pSession);
    // Short last packet, and a file that ends exactly on a packet boundary: in both cases
    // the packet that reaches the end carries INS 0x26.
    for (size_t nSize : {size_t{3000}, size_t{2048}})
    {
        SCOPED_TRACE(nSize);
        const Bytes vecFile = RandomBytes(nSize, 11);
        CTempFile file(vecFile);
        const int nFinishesBefore = m_pSim->GetStats().nDownloadFinishes;
        m_pSim->ClearRecording();
        ASSERT_TRUE(pSession->InitDownload(m_bCancel));
        ASSERT_TRUE(pSession->SendFirmwareFile(file.Path(), true, m_bCancel));
        const auto vecPackets = DataPackets(m_pSim->GetReceivedApdus());
        ASSERT_FALSE(vecPackets.empty());
        for (size_t i = 0; i + 1 < vecPackets.size(); ++i)
            EXPECT_EQ(vecPackets[i][1], 0x25);
        EXPECT_EQ(vecPackets.back()[1], 0x26);
        EXPECT_EQ(m_pSim->GetDownloadImage(), vecFile);
        EXPECT_GE(m_pSim->GetStats().nDownloadFinishes, nFinishesBefore);
    }
    pSession->Disconnect();
}

TEST_F(SessionSim, FullDownloadAndCertificateListAreByteExact)
{
    auto config = Config(0x30);
    config.nMaxPacketSize = 4096;
    StartSim(config);
    auto pSession = MakeSession();
    Open(*pSession);

    const Bytes vecFile = RandomBytes(3 * 1024 * 1024 + 123, 5);
    CTempFile file(vecFile);
    ASSERT_TRUE(pSession->InitDownload(m_bCancel));
    ASSERT_TRUE(pSession->SendFirmwareFile(file.Path(), false, m_bCancel));
    ASSERT_TRUE(pSession->FinishDownload(m_bCancel));
    EXPECT_EQ(m_pSim->GetDownloadImage(), vecFile);
    EXPECT_TRUE(m_sink.HasText(6014));
    EXPECT_TRUE(m_sink.HasText(139));

    // A refused signature.
    m_pSim->SetSignatureOk(false);
    ASSERT_TRUE(pSession->InitDownload(m_bCancel));
    EXPECT_FALSE(pSession->FinishDownload(m_bCancel));
    EXPECT_TRUE(m_sink.HasText(140));

    for (size_t nSize : {size_t{200}, size_t{254}, size_t{40000}})
    {
        SCOPED_TRACE(nSize);
        const Bytes vecList = RandomBytes(nSize, static_cast<unsigned>(nSize));
        m_sink.Clear();
        ASSERT_TRUE(pSession->WriteCertificateList(vecList.data(), vecList.size()));
        EXPECT_EQ(m_pSim->GetCertificateList(), vecList);
        EXPECT_EQ(m_sink.Texts(), std::vector<int>{6028});
    }

    // Invalid arguments: one log record, nothing sent.
    m_sink.Clear();
    const int nCommands = m_pSim->GetStats().nCommands;
    EXPECT_FALSE(pSession->WriteCertificateList(vecFile.data(), 65536));
    EXPECT_FALSE(pSession->WriteCertificateList(nullptr, 10));
    const auto vecRecords = m_sink.Of(wm::WM_REPORT);
    ASSERT_EQ(vecRecords.size(), 2u);
    EXPECT_EQ(vecRecords[0].nWParam, wm::TEXT_LOG_RECORD);
    const auto& record = std::get<WorkerLogRecord>(vecRecords[0].payload);
    EXPECT_EQ(record.strText.rfind("Übergabe parameter ungültig, Data ", 0), 0u);
    EXPECT_NE(record.strText.find("Datenlänge 65536"), std::string::npos);
    EXPECT_EQ(m_pSim->GetStats().nCommands, nCommands);
    pSession->Disconnect();
}

TEST_F(SessionSim, WaitsAreBoundedAndTheCancelFlagEndsThemAfterItsMinimum)
{
    StartSim(Config(0x30));
    SSessionTiming timing = FastTiming();
    timing.nWaitSliceMs = 20;
    timing.nCancelMinSlices = 20;
    timing.nMaxSlices = 60;
    auto pSession = MakeSession(timing);
    Open(*pSession);
    sim::FaultRule silence;
    silence.nIns = 0x13;
    silence.eKind = sim::EFaultKind::Silence;
    m_pSim->SetFaults({silence});

    // With the cancel flag: not before 20 slices, and one 2011 after the 15th.
    m_sink.Clear();
    std::atomic<bool> bCancel{true};
    auto t0 = Clock::now();
    ManufacturerInfo info;
    EXPECT_FALSE(pSession->GetManufacturerStatus(info, bCancel));
    EXPECT_GE(Seconds(t0), 0.35);
    EXPECT_LT(Seconds(t0), 15.0);
    EXPECT_EQ(m_sink.CountText(2011), 1);

    // Without it: the full 60 slices, 2011 after 15, 30, 45 and 60.
    m_sink.Clear();
    std::atomic<bool> bNoCancel{false};
    t0 = Clock::now();
    EXPECT_FALSE(pSession->GetManufacturerStatus(info, bNoCancel));
    EXPECT_GE(Seconds(t0), 1.1);
    EXPECT_LT(Seconds(t0), 30.0);
    EXPECT_EQ(m_sink.CountText(2011), 4);
    pSession->Disconnect();
}

TEST_F(SessionSim, SilentTerminalEndsTheConnectionWith146)
{
    StartSim(Config(0x30));
    SSessionTiming timing = FastTiming();
    timing.nPollMs = 50;
    timing.nIdleLimitPolls = 4;
    auto pSession = MakeSession(timing);
    // Connected and idle: nobody sends anything.
    uint8_t nProtocol = 0x30;
    ASSERT_TRUE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
    EXPECT_TRUE(m_sink.WaitForText(146, 10000));
    // The receive thread has ended: a command fails at once.
    const auto t0 = Clock::now();
    ManufacturerInfo info;
    EXPECT_FALSE(pSession->GetManufacturerStatus(info, m_bCancel));
    EXPECT_LT(Seconds(t0), 5.0);
    pSession->Disconnect();
}

TEST_F(SessionSim, DroppedConnectionMidDownloadEndsWithATextNotAHang)
{
    auto config = Config(0x30);
    config.nMaxPacketSize = 1024;
    StartSim(config);
    auto pSession = MakeSession();
    Open(*pSession);
    sim::FaultRule drop;
    drop.nIns = 0x25;
    drop.nOccurrence = 3;
    drop.eKind = sim::EFaultKind::Drop;
    m_pSim->SetFaults({drop});
    const Bytes vecFile = RandomBytes(10 * 1024, 9);
    CTempFile file(vecFile);
    ASSERT_TRUE(pSession->InitDownload(m_bCancel));
    const auto t0 = Clock::now();
    EXPECT_FALSE(pSession->SendFirmwareFile(file.Path(), false, m_bCancel));
    EXPECT_LT(Seconds(t0), 30.0);
    EXPECT_TRUE(m_sink.HasText(4012) || m_sink.HasText(static_cast<int>(wm::TEXT_WSA_ERROR)));
    EXPECT_TRUE(m_sink.HasText(4004));
    EXPECT_EQ(m_sink.Of(wm::WM_PACKET_SENT).size(), 3u);
    // The close finds no connection any more and says so.
    EXPECT_FALSE(pSession->CloseCtSession(m_bCancel));
    pSession->Disconnect();
}

TEST_F(SessionSim, DisconnectStopsTheReceiveThreadAtOnce)
{
    StartSim(Config(0x30));
    SSessionTiming timing = FastTiming();
    timing.nPollMs = 60000;  // only the wake-up can end the poll early
    auto pSession = MakeSession(timing);
    Open(*pSession);
    const auto t0 = Clock::now();
    EXPECT_TRUE(pSession->Disconnect());
    EXPECT_LT(Seconds(t0), 10.0);
    EXPECT_FALSE(pSession->IsConnected());
    EXPECT_TRUE(m_pSim->WaitForIdle(10000));
}

TEST_F(SessionSim, OverlongCredentialsAreNeverSent)
{
    StartSim(Config(0x30));
    auto pSession = MakeSession();
    pSession->SetCredentials(std::string(200, 'u'), std::string(42, 'p'));
    uint8_t nProtocol = 0x30;
    ASSERT_TRUE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
    EXPECT_FALSE(pSession->OpenCtSession(m_bCancel));
    EXPECT_TRUE(m_sink.HasText(CSicctSession::TEXT_CREDENTIALS_TOO_LONG));
    EXPECT_FALSE(m_sink.HasText(2007));
    EXPECT_FALSE(m_pSim->WaitForCommands(1, 300));
    // Exactly 241 bytes still go out.
    pSession->SetCredentials(std::string(200, 'u'), std::string(41, 'p'));
    EXPECT_FALSE(pSession->OpenCtSession(m_bCancel));  // not the terminal's credentials
    ASSERT_TRUE(m_pSim->WaitForCommands(1, 5000));
    const auto vecApdus = m_pSim->GetReceivedApdus();
    ASSERT_EQ(vecApdus.size(), 1u);
    EXPECT_EQ(vecApdus[0].size(), 241u + 14u);
    EXPECT_EQ(vecApdus[0][4], 249);
    pSession->Disconnect();
}

TEST_F(SessionSim, StatusOperationsFeedTheDecoder)
{
    auto config = sim::MakeDemoTerminal();
    config.nProtocolCode = 0x30;
    StartSim(config);
    auto pSession = MakeSession();
    pSession->SetSicctVersion(1, 20);
    Open(*pSession);

    ManufacturerInfo info;
    ASSERT_TRUE(pSession->GetManufacturerStatus(info, m_bCancel));
    EXPECT_EQ(info.strManufacturer, "DEVNT");

    std::vector<uint8_t> vecUnits;
    int nCount = 0;
    ASSERT_TRUE(pSession->GetFunctionalUnits(vecUnits, nCount, m_bCancel));
    EXPECT_EQ(vecUnits, (Bytes{0x01, 0x01, 0x01, 0x02, 0x40, 0x01, 0x50, 0x01}));
    EXPECT_EQ(nCount, 8);

    SUnitStatus slot;
    ASSERT_TRUE(pSession->GetUnitStatus(sicct::CMD_UNIT_NAME, "01", slot, m_bCancel));
    EXPECT_EQ(slot.strName, "Kartenslot 1");
    ASSERT_TRUE(pSession->GetUnitStatus(sicct::CMD_ICC_STATUS, "01", slot, m_bCancel));
    ASSERT_TRUE(slot.iccStatus.has_value());
    ASSERT_GE(slot.iccStatus->nCount, 1);
    EXPECT_EQ(slot.iccStatus->vecEntries[0].nRaw & 0x01, 0x01);
    ASSERT_TRUE(pSession->GetUnitStatus(sicct::CMD_ICC_INTERFACE, "01", slot, m_bCancel));
    ASSERT_TRUE(slot.iccInterface.has_value());
    EXPECT_EQ(slot.iccInterface->nContacts, 0xBE);
    EXPECT_EQ(slot.iccInterface->nExtendedLength, 0x0400);
    std::string strAtr;
    ASSERT_TRUE(pSession->ResetCard("01", strAtr, m_bCancel));
    EXPECT_EQ(strAtr, "3B D3 96 FF 81 B1 FE 45 1F 07 80 81 05 2D");

    // Empty slot on a 1.20 terminal: the refused reset reads as an unpaired connection.
    m_sink.Clear();
    ASSERT_TRUE(pSession->ResetCard("02", strAtr, m_bCancel));
    EXPECT_EQ(strAtr, sicct::ATR_UNPAIRED);

    SUnitStatus display;
    ASSERT_TRUE(pSession->GetUnitStatus(sicct::CMD_DISPLAY, "41", display, m_bCancel));
    ASSERT_TRUE(display.display.has_value());
    EXPECT_EQ(display.display->nVisibleChars, 16);
    EXPECT_EQ(display.display->anCharSets[1], 15);
    EXPECT_EQ(display.display->anCharSets[3], -1);

    // The keypad query is not sent to SICCT 1.20 and succeeds anyway; 1.21 gets it.
    SUnitStatus keypad;
    const int nBefore = m_pSim->GetStats().nCommands;
    EXPECT_TRUE(pSession->GetUnitStatus(sicct::CMD_KEYPAD, "51", keypad, m_bCancel));
    EXPECT_EQ(m_pSim->GetStats().nCommands, nBefore);
    EXPECT_FALSE(keypad.keypad.has_value());
    pSession->SetSicctVersion(1, 21);
    ASSERT_TRUE(pSession->GetUnitStatus(sicct::CMD_KEYPAD, "51", keypad, m_bCancel));
    ASSERT_TRUE(keypad.keypad.has_value());
    EXPECT_EQ(keypad.keypad->nNumeric, 10);

    pSession->ShowDiagnosisText(m_bCancel);
    const auto vecOutputs = m_pSim->GetDisplayOutputs();
    ASSERT_EQ(vecOutputs.size(), 1u);
    EXPECT_EQ(vecOutputs[0], (Bytes{'D', 'i', 'a', 'g', 'n', 'o', 's', 'e', ' ', 'l', 0x7B, 'u', 'f', 't'}));

    // The sequence numbers count 0, 1, 2, ... across all commands of the object.
    const auto vecReceived = m_pSim->GetReceived();
    for (size_t i = 0; i < vecReceived.size(); ++i)
    {
        const auto& vec = vecReceived[i].vecBytes;
        ASSERT_GE(vec.size(), 10u);
        EXPECT_EQ((vec[3] << 8) | vec[4], static_cast<int>(i));
    }
    EXPECT_TRUE(pSession->CloseCtSession(m_bCancel));
    pSession->Disconnect();

    // A new connection of the same object goes on counting.
    const uint16_t nNext = pSession->NextSequence();
    m_pSim->ClearRecording();
    uint8_t nProtocol = 0x30;
    ASSERT_TRUE(pSession->Connect("127.0.0.1", m_pSim->GetPort(), nProtocol));
    ASSERT_TRUE(pSession->OpenCtSession(m_bCancel));
    const auto vecAgain = m_pSim->GetReceived();
    ASSERT_EQ(vecAgain.size(), 1u);
    EXPECT_EQ((vecAgain[0].vecBytes[3] << 8) | vecAgain[0].vecBytes[4], nNext);
    pSession->Disconnect();
}
