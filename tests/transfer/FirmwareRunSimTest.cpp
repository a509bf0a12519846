// The firmware download run against the terminal simulator on loopback: the direct way
// through the session client (TLS 1.2) and the CT-API way through libctapi-sim.so. Message
// sequences are compared whole; what the terminal received is compared byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "FirmwareDownloadRun.h"
#include "LibraryLoaderLinux.h"
#include "RecordingSink.h"
#include "RunTrace.h"
#include "TerminalSim.h"

using Bytes = std::vector<uint8_t>;
using Trace = std::vector<std::string>;

namespace
{
/// Records like CRecordingSink and sets a cancel flag when a chosen message passes.
class CCancellingSink final : public CWorkerSink
{
public:
    CCancellingSink(std::atomic<bool>& bCancel, wm::EWorkerMessage eOn, int64_t nWParam)
        : m_bCancel(bCancel), m_eOn(eOn), m_nWParam(nWParam)
    {
    }
    void Deliver(SWorkerMessage msg) override
    {
        if (msg.eMessage == m_eOn && msg.nWParam == m_nWParam)
            m_bCancel = true;
        m_record.Deliver(std::move(msg));
    }
    CRecordingSink m_record;

private:
    std::atomic<bool>& m_bCancel;
    wm::EWorkerMessage m_eOn;
    int64_t m_nWParam;
};

SSessionTiming FastTiming()
{
    SSessionTiming t;
    t.nCloseDelayMs = 0;
    return t;
}

/// Download APDUs (INS 0x24, 0x25, 0x26) among what the terminal received.
std::vector<Bytes> DownloadApdus(const sim::CTerminalSim& terminal)
{
    std::vector<Bytes> vec;
    for (const auto& a : terminal.GetReceivedApdus())
        if (a.size() >= 4 && a[0] == 0x80 && (a[1] == 0x24 || a[1] == 0x25 || a[1] == 0x26))
            vec.push_back(a);
    return vec;
}

/// "D" per data packet with INS 0x25, "L" with 0x26, "F" for the finish command.
std::string DownloadShape(const sim::CTerminalSim& terminal)
{
    std::string str;
    for (const auto& a : DownloadApdus(terminal))
    {
        if (a[1] == 0x24)
            continue;
        if (a[1] == 0x26 && a.size() == 5)
            str += 'F';
        else
            str += a[1] == 0x25 ? 'D' : 'L';
    }
    return str;
}
} // namespace

class FirmwareRunSim : public testing::Test
{
protected:
    void TearDown() override { ::unsetenv("TC_CTAPI_SIM_FAULTS"); }

    void StartSim(sim::TerminalConfig config)
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(std::move(config));
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
    }
    static sim::TerminalConfig TlsTerminal(const std::string& strVersionChars = "3000 ")
    {
        sim::TerminalConfig c;
        c.nProtocolCode = 0x30;
        c.manufacturer.strVersion = strVersionChars;
        return c;
    }
    SFirmwareDownloadParams Params(const std::string& strPath) const
    {
        SFirmwareDownloadParams p;
        p.strAddress = "127.0.0.1";
        p.nPort = m_pSim ? m_pSim->GetPort() : 1;
        p.nProtocol = 0x30;
        p.nConnectionType = 3;
        p.nSicctVersion = 0x0114;
        p.strUser = "admin";
        p.strPassword = "12345678";
        p.strFirmwarePath = strPath;
        return p;
    }
    ERunEnd RunWith(CWorkerSink& sink, const SFirmwareDownloadParams& params)
    {
        CFirmwareDownloadRun run(sink, &m_settings, m_loader, FastTiming());
        run.SetCtApiResetWait([](int) { return true; });
        return run.Run(params, m_bCancel);
    }

    CRecordingSink m_sink;
    CTestSessionSettings m_settings;
    os::CLibraryLoaderLinux m_loader;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    std::atomic<bool> m_bCancel{false};
};

TEST_F(FirmwareRunSim, DirectDownloadIn1024BytePacketsWithTheWholeMessageSequence)
{
    StartSim(TlsTerminal());
    const Bytes vecFirmware = PatternBytes(3000);
    CTestFile file(vecFirmware);

    EXPECT_EQ(RunWith(m_sink, Params(file.Path())), ERunEnd::Green);

    const Trace vecExpected = {
        "B1", "O0", "T2009", "T2010",                      // connect over TLS 1.2
        "T2007", "T6003",                                  // CT session open
        "XCT Firmware Version: 3.0.0.0",                  // manufacturer query
        "T2003", "T6016",                                  // download init
        "S1024", "T2004", "P1/1024", "T2004", "P2/1024", "T2004", "P3/952",
        "T2005", "T6014", "T139",                          // finish: signature good
        "T2006", "T6008", "B0",                            // CT session close
        "T2012",                                           // disconnect
        "I1", "B0", "O1"};                                 // end: green
    EXPECT_EQ(RunTrace(m_sink.Messages()), vecExpected);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{1024, 1024, 952}));
    EXPECT_EQ(m_pSim->GetDownloadImage(), vecFirmware);
    EXPECT_EQ(DownloadShape(*m_pSim), "DDDF");
}

TEST_F(FirmwareRunSim, FirmwareVersionDecidesHowTheDownloadEnds)
{
    struct SCase
    {
        const char* pszVersionChars;  // the five version characters of the manufacturer answer
        const char* pszId;
        const char* pszShape;
        const char* pszVersionLine;
    };
    // 1.0.0.13 ends with its last (short) packet; 1.0.0.14 and an unknown version send the
    // finish command after plain data packets.
    for (const auto& c : {SCase{"10013", "DEVNT", "DDL", "XCT Firmware Version: 1.0.0.13"},
                          SCase{"10014", "DEVNT", "DDDF", "XCT Firmware Version: 1.0.0.14"},
                          SCase{"10013", "OTHER", "DDDF", "XCT Firmware Version: "}})
    {
        SCOPED_TRACE(std::string(c.pszId) + " " + c.pszVersionChars);
        m_sink.Clear();
        auto config = TlsTerminal(c.pszVersionChars);
        config.manufacturer.strId = c.pszId;
        StartSim(config);
        CTestFile file(PatternBytes(3000));
        EXPECT_EQ(RunWith(m_sink, Params(file.Path())), ERunEnd::Green);
        EXPECT_EQ(DownloadShape(*m_pSim), c.pszShape);
        const Trace vecTrace = RunTrace(m_sink.Messages());
        EXPECT_NE(std::find(vecTrace.begin(), vecTrace.end(), c.pszVersionLine), vecTrace.end());
        // Without the finish command no 2005 is posted.
        EXPECT_EQ(m_sink.HasText(2005), std::string(c.pszShape).back() == 'F');
        m_pSim.reset();
    }
}

TEST_F(FirmwareRunSim, PacketSizeSettingOnlyLowersTheTerminalsSize)
{
    StartSim(TlsTerminal());
    CTestFile file(PatternBytes(1300));
    m_settings.m_nMaxData = 512;
    EXPECT_EQ(RunWith(m_sink, Params(file.Path())), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{512, 512, 276}));

    m_pSim->ClearRecording();
    m_settings.m_nMaxData = 4096;
    EXPECT_EQ(RunWith(m_sink, Params(file.Path())), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{1024, 276}));
}

TEST_F(FirmwareRunSim, CancelDuringTheTransferEndsYellowUnlessAStepFailed)
{
    StartSim(TlsTerminal());
    CTestFile file(PatternBytes(3000));
    {
        // The user cancels once the first packet went out: no further packet, no finish.
        CCancellingSink sink(m_bCancel, wm::WM_PACKET_SENT, 1);
        EXPECT_EQ(RunWith(sink, Params(file.Path())), ERunEnd::Yellow);
        const Trace vecTrace = RunTrace(sink.m_record.Messages());
        const Trace vecTail(vecTrace.end() - 10, vecTrace.end());
        EXPECT_EQ(vecTail, (Trace{"T2004", "P1/1024", "T2006", "T6008", "B0", "T2012", "T1999", "I2", "B0", "O1"}));
        EXPECT_EQ(DownloadShape(*m_pSim), "D");
        EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);
    }
    {
        // The first packet is refused and the user cancels as well: the failure decides (red).
        m_bCancel = false;
        m_pSim->ClearRecording();
        sim::FaultRule refuse;
        refuse.nIns = 0x25;
        refuse.nStatusWord = 0x6400;
        m_pSim->SetFaults({refuse});
        CCancellingSink sink(m_bCancel, wm::WM_PACKET_SENT, 1);
        EXPECT_EQ(RunWith(sink, Params(file.Path())), ERunEnd::Red);
        const Trace vecIcons = OnlyKinds(RunTrace(sink.m_record.Messages()), "I");
        EXPECT_EQ(vecIcons.back(), "I0");
        EXPECT_TRUE(sink.m_record.HasText(1999));
        EXPECT_TRUE(sink.m_record.HasText(6009));
    }
}

TEST_F(FirmwareRunSim, FailedFinalSessionCloseIsYellowAndAFailedStepRed)
{
    auto config = TlsTerminal();
    sim::FaultRule closeRefused;
    closeRefused.nIns = 0x29;
    closeRefused.nStatusWord = 0x6400;
    config.vecFaults = {closeRefused};
    StartSim(config);
    CTestFile file(PatternBytes(100));
    // Typically the terminal is restarting with its new firmware: the download itself succeeded.
    EXPECT_EQ(RunWith(m_sink, Params(file.Path())), ERunEnd::Yellow);
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "I"), (Trace{"I2"}));

    // Signature refused: red, and the session is still closed.
    m_sink.Clear();
    m_pSim->ClearFaults();
    m_pSim->SetSignatureOk(false);
    EXPECT_EQ(RunWith(m_sink, Params(file.Path())), ERunEnd::Red);
    EXPECT_TRUE(m_sink.HasText(140));
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "I"), (Trace{"I0"}));
    EXPECT_TRUE(m_sink.HasText(2006));

    // Wrong password: the session close follows all the same, then red.
    m_sink.Clear();
    auto params = Params(file.Path());
    params.strPassword = "wrong";
    EXPECT_EQ(RunWith(m_sink, params), ERunEnd::Red);
    EXPECT_FALSE(m_sink.HasText(2003));
    EXPECT_TRUE(m_sink.HasText(2006));
}

TEST_F(FirmwareRunSim, UnreachableTerminalAndChecksBeforeTheRun)
{
    StartSim(TlsTerminal());
    const uint16_t nClosedPort = m_pSim->GetPort();
    m_pSim.reset();
    CTestFile file(PatternBytes(10));
    auto params = Params(file.Path());
    params.nPort = nClosedPort;
    EXPECT_EQ(RunWith(m_sink, params), ERunEnd::Red);
    EXPECT_EQ(RunTrace(m_sink.Messages()), (Trace{"B1", "O0", "T4001", "I0", "O1", "T124", "I0", "B0", "O1"}));

    // Checks in their order; none of them posts anything.
    auto p = Params("");
    EXPECT_EQ(CFirmwareDownloadRun::Check(p), EFirmwareCheck::NoFirmwarePath);
    p.strFirmwarePath = file.Path() + ".missing";
    EXPECT_EQ(CFirmwareDownloadRun::Check(p), EFirmwareCheck::FirmwareUnreadable);
    p.strFirmwarePath = file.Path();
    EXPECT_EQ(CFirmwareDownloadRun::Check(p), EFirmwareCheck::Ok);
    for (int nType : {0, 1, 4})
    {
        p.nConnectionType = nType;
        p.strCtApiPath = "/nonexistent/libctapi.so";
        EXPECT_EQ(CFirmwareDownloadRun::Check(p), EFirmwareCheck::CtApiLibraryMissing);
    }
    for (int nType : {2, 3, 5, 6, 7})
    {
        p.nConnectionType = nType;
        EXPECT_EQ(CFirmwareDownloadRun::Check(p), EFirmwareCheck::Ok) << nType;
    }

    // A run in CT-API mode without its library only shows the red icon.
    m_sink.Clear();
    p.nConnectionType = 0;
    EXPECT_EQ(RunWith(m_sink, p), ERunEnd::Red);
    EXPECT_EQ(RunTrace(m_sink.Messages()), (Trace{"I0"}));
}

TEST_F(FirmwareRunSim, CtApiWayThroughTheSimulatorLibrary)
{
    StartSim(sim::MakeDemoTerminal());  // plain TCP: the CT-API library speaks no TLS
    ::setenv("TC_CTAPI_SIM", ("127.0.0.1:" + std::to_string(m_pSim->GetPort())).c_str(), 1);
    const Bytes vecFirmware = PatternBytes(3000);
    CTestFile file(vecFirmware);
    auto params = Params(file.Path());
    params.nConnectionType = 0;
    params.strCtApiPath = TC_CTAPI_SIM_LIBRARY;
    params.nCtApiPort = 1;

    EXPECT_EQ(RunWith(m_sink, params), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetDownloadImage(), vecFirmware);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{1024, 1024, 952}));
    const Trace vecTrace = RunTrace(m_sink.Messages());
    EXPECT_EQ(OnlyKinds(vecTrace, "SP"), (Trace{"S1024", "P1/1024", "P2/1024", "P3/952"}));
    EXPECT_EQ(Trace(vecTrace.end() - 3, vecTrace.end()), (Trace{"I1", "B0", "O1"}));
    EXPECT_TRUE(m_sink.HasText(139));
    EXPECT_TRUE(m_sink.HasText(6008));

    // A packet the library refuses (-10) ends the run red without the finish command.
    m_sink.Clear();
    m_pSim->ClearRecording();
    ::setenv("TC_CTAPI_SIM_FAULTS", "data:8025@2=-10", 1);
    EXPECT_EQ(RunWith(m_sink, params), ERunEnd::Red);
    EXPECT_TRUE(m_sink.HasText(176));
    EXPECT_FALSE(m_sink.HasText(139));
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "I"), (Trace{"I0"}));
}
