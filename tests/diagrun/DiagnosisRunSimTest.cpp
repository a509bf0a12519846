// The diagnosis run against the terminal simulator over both ways (session client on TLS
// 1.2, CT-API through libctapi-sim.so): results, message sequences, the SICCT version rules,
// cancel and error ends, and export files compared byte for byte with committed files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "DiagnosisExport.h"
#include "DiagnosisRules.h"
#include "DiagnosisRun.h"
#include "LibraryLoaderLinux.h"
#include "RecordingSink.h"
#include "RunTrace.h"
#include "TerminalSim.h"

using Bytes = std::vector<uint8_t>;
using Trace = std::vector<std::string>;

namespace
{
/// Sets a cancel flag once a chosen number of units was reported; counts the callbacks.
class CCancelObserver final : public CDiagnosisObserver
{
public:
    CCancelObserver(std::atomic<bool>& bCancel, size_t nAfterUnits) : m_bCancel(bCancel), m_nAfter(nAfterUnits) {}
    void OnCleared() override { ++m_nCleared; }
    void OnManufacturer(const ManufacturerInfo& info, const std::string& strType) override
    {
        m_strManufacturer = info.strManufacturer;
        m_strType = strType;
    }
    void OnUnit(size_t nRow, const SDiagUnit& unit) override
    {
        m_vecRows.push_back(std::to_string(nRow) + ":" + unit.strName);
        if (m_vecRows.size() >= m_nAfter)
            m_bCancel = true;
    }
    int m_nCleared = 0;
    std::string m_strManufacturer;
    std::string m_strType;
    std::vector<std::string> m_vecRows;

private:
    std::atomic<bool>& m_bCancel;
    size_t m_nAfter;
};

std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

/// Compares an export with its committed file; TC_UPDATE_EXPECTED=1 rewrites the file instead.
void ExpectSameAsFile(const std::string& strText, const std::string& strName)
{
    const std::string strPath = std::string(TC_DIAGRUN_DATA) + "/" + strName;
    if (std::getenv("TC_UPDATE_EXPECTED") != nullptr)
    {
        std::ofstream(strPath, std::ios::binary) << strText;
        GTEST_SKIP() << "rewrote " << strPath;
    }
    const std::string strExpected = ReadFile(strPath);
    ASSERT_FALSE(strExpected.empty()) << "missing " << strPath;
    EXPECT_EQ(strText, strExpected) << "export differs from " << strPath;
}

/// The APDUs with GET STATUS P2 nP2 among what the terminal received.
int CountStatusQueries(const sim::CTerminalSim& terminal, uint8_t nP2)
{
    int n = 0;
    for (const auto& a : terminal.GetReceivedApdus())
        if (a.size() >= 4 && a[1] == 0x13 && a[3] == nP2)
            ++n;
    return n;
}
} // namespace

class DiagnosisRunSim : public testing::Test
{
protected:
    void TearDown() override { ::unsetenv("TC_CTAPI_SIM_FAULTS"); }

    void StartSim(sim::TerminalConfig config)
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(std::move(config));
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
        ::setenv("TC_CTAPI_SIM", ("127.0.0.1:" + std::to_string(m_pSim->GetPort())).c_str(), 1);
    }
    /// Parameters as the main window gives them for a LAN row (connection type 3) or, with
    /// bCtApi, for a USB row (type 0) behind the CT-API library.
    SDiagnosisParams Params(bool bCtApi, uint16_t nVersion, const std::string& strName = "SIM-ST1500",
                            const std::string& strMac = "02:00:5E:10:00:01") const
    {
        SDiagnosisParams p;
        const uint8_t nProtocol = static_cast<uint8_t>(m_pSim->GetProtocolCode());
        p.record = TerminalIdRecord::Build(nVersion, strName, "127.0.0.1", strMac, m_pSim->GetPort(), nProtocol);
        p.nConnectionType = bCtApi ? 0 : 3;
        p.nPort = bCtApi ? 1 : m_pSim->GetPort();
        p.strUser = "admin";
        p.strPassword = "12345678";
        p.strCtApiPath = bCtApi ? TC_CTAPI_SIM_LIBRARY : "";
        return p;
    }
    ERunEnd Run(const SDiagnosisParams& params, SDiagnosisResult& result, CDiagnosisObserver* pObserver = nullptr)
    {
        SSessionTiming timing;
        timing.nCloseDelayMs = 0;
        CDiagnosisRun run(m_sink, &m_settings, m_loader, timing);
        run.SetObserver(pObserver);
        return run.Run(params, m_bCancel, result);
    }
    static sim::TerminalConfig Demo(int nProtocol, uint16_t nVersion)
    {
        auto c = sim::MakeDemoTerminal();
        c.nProtocolCode = nProtocol;
        c.nSicctVersion = nVersion;
        return c;
    }
    SExportInput ExportOf(const SDiagnosisParams& params, const SDiagnosisResult& result) const
    {
        SExportInput in;
        in.record = params.record;
        // The simulator's port changes from run to run; the committed files name 4742.
        in.record.abData[TerminalIdRecord::kOffPort] = 4742 & 0xFF;
        in.record.abData[TerminalIdRecord::kOffPort + 1] = 4742 >> 8;
        in.nSicctVersion = diagrun::EffectiveSicctVersion(params.record.Version());
        in.result = result;
        return in;
    }

    CRecordingSink m_sink;
    CTestSessionSettings m_settings;
    os::CLibraryLoaderLinux m_loader;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    std::atomic<bool> m_bCancel{false};
};

TEST_F(DiagnosisRunSim, DirectWayCollectsEveryUnitAndExportsTheCommittedFile)
{
    StartSim(Demo(0x30, 0x0114));
    SDiagnosisResult result;
    CCancelObserver observer(m_bCancel, 100);
    const auto params = Params(false, 0x0114);
    EXPECT_EQ(Run(params, result, &observer), ERunEnd::Green);

    EXPECT_FALSE(result.bError);
    EXPECT_FALSE(result.bAborted);
    EXPECT_EQ(result.manufacturer.strManufacturer, "DEVNT");
    EXPECT_EQ(result.manufacturer.strVersion, "3.0.0.0");
    EXPECT_EQ(result.strTypeText, "");  // 1.20 without discretionary data
    ASSERT_EQ(result.vecUnits.size(), 4u);
    const auto& slot1 = result.vecUnits[0];
    EXPECT_EQ(slot1.strName, "Kartenslot 1");
    EXPECT_EQ(slot1.strId, "01");
    ASSERT_TRUE(slot1.iccStatus && slot1.iccInterface && slot1.atr);
    EXPECT_EQ(*slot1.atr, "3B D3 96 FF 81 B1 FE 45 1F 07 80 81 05 2D");
    EXPECT_FALSE(result.vecUnits[1].atr);  // no card in slot 2: no reset
    EXPECT_TRUE(result.vecUnits[2].display);
    EXPECT_EQ(result.vecUnits[2].strId, "41");
    // SICCT 1.20: the keypad is not asked (the rule of both ways).
    EXPECT_FALSE(result.vecUnits[3].keypad);
    EXPECT_EQ(CountStatusQueries(*m_pSim, 0x6A), 0);
    EXPECT_EQ(observer.m_nCleared, 1);
    EXPECT_EQ(observer.m_strManufacturer, "DEVNT");
    EXPECT_EQ(observer.m_vecRows, (Trace{"0:Kartenslot 1", "1:Kartenslot 2", "2:Display", "3:PIN-Pad"}));
    // The notice went to the display once (not the maker's early firmware).
    EXPECT_EQ(m_pSim->GetDisplayOutputs().size(), 1u);

    const Trace vecExpected = {"O0", "I1",                        // run begins, green
                               "B1", "O0", "T2009", "T2010",      // connect over TLS 1.2
                               "T2007", "T6003",                  // CT session open
                               "T6028",                           // reset of the card in slot 1
                               "T2006", "T6008", "B0",            // CT session close
                               "T2012",                           // disconnect
                               "B0", "O1"};                       // end without another icon
    EXPECT_EQ(RunTrace(m_sink.Messages()), vecExpected);

    ExpectSameAsFile(CDiagnosisExport::ToString(ExportOf(params, result)), "demo_direct_1_20.xml");
}

TEST_F(DiagnosisRunSim, CtApiWayGivesTheSameResultAsTheDirectWay)
{
    // SICCT 1.21: keypads are asked on both ways. The display offers four character sets.
    auto config = Demo(0, 0x0115);
    config.vecUnits[2].vecCharsets = {0, 12, 32, 15};
    config.vecUnits[3].vecKeys = {10, 26, 1, 1, 2, 1, 4};
    StartSim(config);

    SDiagnosisResult viaCtApi;
    const auto params = Params(true, 0x0115, "Praxis M\xFCller & S\xF6hne");
    EXPECT_EQ(Run(params, viaCtApi), ERunEnd::Green);
    ASSERT_EQ(viaCtApi.vecUnits.size(), 4u);
    ASSERT_TRUE(viaCtApi.vecUnits[3].keypad);
    EXPECT_EQ(viaCtApi.vecUnits[3].keypad->nAlphaNumeric, 26);
    const auto vecRows = diagrun::ValueRows(viaCtApi.vecUnits[2]);
    std::vector<std::string> vecSetNames;
    for (const auto& row : vecRows)
        if (row.strName == "Normative Character Set Name")
            vecSetNames.push_back(row.strValue);
    EXPECT_EQ(vecSetNames, (Trace{"ISO 646", "not supported", "UTF-8", "ISO / IEC 8859-15"}));
    // The CT-API way shows no notice on the display.
    EXPECT_TRUE(m_pSim->GetDisplayOutputs().empty());
    // The worker's texts: session opened (2001) and closed (6008); no icon but the first.
    EXPECT_TRUE(m_sink.HasText(2001));
    EXPECT_TRUE(m_sink.HasText(6008));
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "IO"), (Trace{"O0", "I1", "O1"}));
    ExpectSameAsFile(CDiagnosisExport::ToString(ExportOf(params, viaCtApi)), "demo_ctapi_1_21.xml");

    // The same terminal over TLS 1.2 and the session client: the same export.
    m_pSim.reset();
    config.nProtocolCode = 0x30;
    StartSim(config);
    SDiagnosisResult viaSession;
    auto direct = Params(false, 0x0115, "Praxis M\xFCller & S\xF6hne");
    EXPECT_EQ(Run(direct, viaSession), ERunEnd::Green);
    direct.record = params.record;  // same identification for the comparison
    EXPECT_EQ(CDiagnosisExport::ToString(ExportOf(direct, viaSession)),
              CDiagnosisExport::ToString(ExportOf(params, viaCtApi)));
}

TEST_F(DiagnosisRunSim, OldTerminalGetsNumberedNamesWithoutNameQueries)
{
    StartSim(Demo(0x30, 0x0109));
    SDiagnosisResult result;
    const auto params = Params(false, 0x0109);
    EXPECT_EQ(Run(params, result), ERunEnd::Green);
    ASSERT_EQ(result.vecUnits.size(), 4u);
    EXPECT_EQ(result.vecUnits[0].strName, "FU #01");
    EXPECT_EQ(result.vecUnits[1].strName, "FU #02");
    EXPECT_EQ(result.vecUnits[2].strName, "FU #41");
    EXPECT_EQ(result.vecUnits[3].strName, "FU #51");
    EXPECT_EQ(CountStatusQueries(*m_pSim, 0xA1), 0);
    EXPECT_TRUE(result.vecUnits[2].display);  // the display is still asked
    // In the export every unit is a card slot (type byte 0 without a name query).
    const std::string strExport = CDiagnosisExport::ToString(ExportOf(params, result));
    EXPECT_NE(strExport.find("\t\t<FunctionUnit name=\"FU #41\">\r\n\t\t\t<StatusDataObjectEmpty />\r\n"),
              std::string::npos);
    EXPECT_NE(strExport.find("\t\t<Version>1.09</Version>\r\n"), std::string::npos);
}

TEST_F(DiagnosisRunSim, EmptyUnitListEndsNormally)
{
    auto config = Demo(0x30, 0x0114);
    config.optRawUnitList = Bytes{0x81, 0x00};
    StartSim(config);
    SDiagnosisResult result;
    CCancelObserver observer(m_bCancel, 100);
    const auto params = Params(false, 0x0114);
    EXPECT_EQ(Run(params, result, &observer), ERunEnd::Green);
    EXPECT_TRUE(result.vecUnits.empty());
    EXPECT_TRUE(observer.m_vecRows.empty());
    EXPECT_FALSE(result.bError);
    const std::string strExport = CDiagnosisExport::ToString(ExportOf(params, result));
    EXPECT_NE(strExport.find("\t<FunctionUnitList>\r\n\t</FunctionUnitList>\r\n</Terminal>\r\n</root>\r\n"),
              std::string::npos);
}

TEST_F(DiagnosisRunSim, CancelAfterTheFirstUnitIsYellowAndKeepsItsRow)
{
    for (const bool bCtApi : {false, true})
    {
        SCOPED_TRACE(bCtApi ? "CT-API way" : "direct way");
        m_sink.Clear();
        m_bCancel = false;
        StartSim(Demo(bCtApi ? 0 : 0x30, 0x0114));
        SDiagnosisResult result;
        CCancelObserver observer(m_bCancel, 1);
        EXPECT_EQ(Run(Params(bCtApi, 0x0114), result, &observer), ERunEnd::Yellow);
        EXPECT_TRUE(result.bAborted);
        EXPECT_FALSE(result.bError);
        EXPECT_EQ(result.vecUnits.size(), 1u);
        const Trace vecTrace = RunTrace(m_sink.Messages());
        EXPECT_EQ(Trace(vecTrace.end() - 4, vecTrace.end()), (Trace{"T1999", "I2", "B0", "O1"}));
        // The session is closed on both ways.
        EXPECT_TRUE(m_sink.HasText(6008));
        m_pSim.reset();
    }
}

TEST_F(DiagnosisRunSim, FailedQueryEndsTheUnitLoopRedAndKeepsWhatWasFound)
{
    for (const bool bCtApi : {false, true})
    {
        SCOPED_TRACE(bCtApi ? "CT-API way" : "direct way");
        m_sink.Clear();
        auto config = Demo(bCtApi ? 0 : 0x30, 0x0114);
        sim::FaultRule refuse;  // the display query is refused
        refuse.nIns = 0x13;
        refuse.nP2 = 0x67;
        refuse.nStatusWord = 0x6A00;
        config.vecFaults = {refuse};
        StartSim(config);
        SDiagnosisResult result;
        EXPECT_EQ(Run(Params(bCtApi, 0x0114), result), ERunEnd::Red);
        EXPECT_TRUE(result.bError);
        EXPECT_FALSE(result.bAborted);
        ASSERT_EQ(result.vecUnits.size(), 3u);  // two slots and the display row; no keypad row
        EXPECT_FALSE(result.vecUnits[2].display);
        EXPECT_TRUE(result.vecUnits[0].atr);
        const Trace vecTrace = RunTrace(m_sink.Messages());
        EXPECT_EQ(Trace(vecTrace.end() - 3, vecTrace.end()), (Trace{"I0", "B0", "O1"}));
        EXPECT_FALSE(m_sink.HasText(1999));
        m_pSim.reset();
    }
}

TEST_F(DiagnosisRunSim, NoticeIsLeftOutForTheMakersEarlyFirmware)
{
    auto config = Demo(0x30, 0x0114);
    config.manufacturer.bShortForm = true;
    config.manufacturer.strVersion = "1101 ";  // version text 1.10.1
    StartSim(config);
    SDiagnosisResult result;
    EXPECT_EQ(Run(Params(false, 0x0114, "KT", "02:4E:7A:00:00:09"), result), ERunEnd::Green);
    EXPECT_EQ(result.manufacturer.strVersion, "1.10.1");
    EXPECT_TRUE(m_pSim->GetDisplayOutputs().empty());
    // Another maker's terminal with the same firmware text gets the notice.
    EXPECT_EQ(Run(Params(false, 0x0114, "KT", "02:4E:7B:00:00:09"), result), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetDisplayOutputs().size(), 1u);
}

TEST_F(DiagnosisRunSim, UnreachableTerminalAndMissingLibrary)
{
    StartSim(Demo(0x30, 0x0114));
    auto params = Params(false, 0x0114);
    m_pSim.reset();  // nothing listens on the port any more
    SDiagnosisResult result;
    EXPECT_EQ(Run(params, result), ERunEnd::Red);
    EXPECT_TRUE(m_sink.HasText(4001));
    EXPECT_TRUE(result.vecUnits.empty());

    // The library check concerns the CT-API way only.
    EXPECT_TRUE(CDiagnosisRun::CtApiLibraryUsable(params));
    params.nConnectionType = 5;
    EXPECT_TRUE(CDiagnosisRun::CtApiLibraryUsable(params));
    params.nConnectionType = 1;
    EXPECT_FALSE(CDiagnosisRun::CtApiLibraryUsable(params));
    params.strCtApiPath = TC_CTAPI_SIM_LIBRARY;
    EXPECT_TRUE(CDiagnosisRun::CtApiLibraryUsable(params));
    params.strCtApiPath = "/nonexistent/libctapi.so";
    m_sink.Clear();
    EXPECT_EQ(Run(params, result), ERunEnd::Red);
    EXPECT_EQ(RunTrace(m_sink.Messages()), (Trace{"O0", "I1", "I0", "B0", "O1"}));

    // Port and address rules of the run.
    params.nConnectionType = 3;
    params.nPort = 1234;
    EXPECT_EQ(CDiagnosisRun::TargetPort(params), params.record.Port());
    params.nConnectionType = 0;
    EXPECT_EQ(CDiagnosisRun::TargetPort(params), 1234);
    EXPECT_EQ(CDiagnosisRun::TargetAddress(params.record), "127.0.0.1");
}
