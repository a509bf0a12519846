// The diagnosis and certificate validity dialogs against the terminal simulator on loopback,
// and the launcher that opens every maintenance dialog from the main window.
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fstream>
#include <iterator>

#include "CertValid.h"
#include "CertValidity.h"
#include "DiagnosisExport.h"
#include "DiagnosisRules.h"
#include "DiagnosisRun.h"
#include "DiagnosticsDialog.h"
#include "DialogFixture.h"
#include "DialogLauncher.h"
#include "FWDownloadDlg.h"
#include "CertDownload.h"
#include "RecordingSink.h"
#include "RunTrace.h"
#include "Texts.h"

namespace
{
std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Column(QTreeWidget* pList, int nColumn)
{
    std::vector<std::string> vec;
    for (int i = 0; i < pList->topLevelItemCount(); ++i)
        vec.push_back(pList->topLevelItem(i)->text(nColumn).toStdString());
    return vec;
}
} // namespace

class DiagnosisDialogTest : public DialogFixture
{
protected:
    search::SDiagnosisArgs DemoArgs() const
    {
        search::SDiagnosisArgs args;
        args.record = TerminalIdRecord::Build(0x0114, "SIM-ST1500", "127.0.0.1", "02:00:5E:10:00:01",
                                              m_pSim->GetPort(), 0x30);
        args.nPort = m_pSim->GetPort();
        args.nConnectionType = 3;
        return args;
    }
    void StartDemo()
    {
        auto config = sim::MakeDemoTerminal();
        config.nProtocolCode = 0x30;
        StartSim(config);
    }
    void RunOnce(CDiagnosticsDialog& dlg)
    {
        const int nBefore = dlg.RunsEnded();
        Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_REFRESH)->click();
        ASSERT_TRUE(WaitFor([&] { return dlg.RunsEnded() > nBefore; }));
    }
};

TEST_F(DiagnosisDialogTest, DemoTerminalFillsBothListsAndTheExportEqualsTheEngines)
{
    StartDemo();
    CDiagnosticsDialog dlg(DemoArgs(), m_services);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("SICCT Diagnose"));
    EXPECT_EQ(Control<QLabel>(dlg, CDiagnosticsDialog::IDC_SICCT_VERSION)->text(), QStringLiteral("1.20"));
    EXPECT_FALSE(Control<QLineEdit>(dlg, CDiagnosticsDialog::IDC_CTAPI_PATH)->isVisibleTo(&dlg));
    RunOnce(dlg);
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Green);
    EXPECT_EQ(dlg.StatusIcon(), 1);
    EXPECT_EQ(Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_REFRESH)->text(), QStringLiteral("&Aktualisieren"));
    EXPECT_EQ(Control<QLabel>(dlg, CDiagnosticsDialog::IDC_MANUFACTURER)->text(), QStringLiteral("DEVNT"));
    EXPECT_EQ(Control<QLabel>(dlg, CDiagnosticsDialog::IDC_FIRMWARE)->text(), QStringLiteral("3.0.0.0"));

    auto* pUnits = Control<QTreeWidget>(dlg, CDiagnosticsDialog::IDC_UNIT_LIST);
    EXPECT_EQ(Column(pUnits, 1), (std::vector<std::string>{"Kartenslot 1", "Kartenslot 2", "Display", "PIN-Pad"}));
    EXPECT_EQ(Column(pUnits, 2), (std::vector<std::string>{"01", "01", "40", "50"}));
    EXPECT_EQ(Column(pUnits, 3), (std::vector<std::string>{"01", "02", "01", "01"}));
    EXPECT_FALSE(pUnits->topLevelItem(2)->icon(0).isNull());

    // Each unit's value list is the engine's rows for that unit.
    auto* pValues = Control<QTreeWidget>(dlg, CDiagnosticsDialog::IDC_VALUE_LIST);
    ASSERT_EQ(dlg.Result().vecUnits.size(), 4u);
    for (int nRow : {0, 2})
    {
        pUnits->setCurrentItem(pUnits->topLevelItem(nRow));
        const auto vecRows = diagrun::ValueRows(dlg.Result().vecUnits[static_cast<size_t>(nRow)]);
        ASSERT_EQ(pValues->topLevelItemCount(), static_cast<int>(vecRows.size()));
        ASSERT_FALSE(vecRows.empty());
        for (size_t i = 0; i < vecRows.size(); ++i)
        {
            EXPECT_EQ(pValues->topLevelItem(static_cast<int>(i))->text(0).toStdString(), vecRows[i].strName);
            EXPECT_EQ(pValues->topLevelItem(static_cast<int>(i))->text(1).toStdString(), vecRows[i].strValue);
        }
        EXPECT_EQ(pValues->currentItem(), pValues->topLevelItem(0));
    }
    pUnits->setCurrentItem(pUnits->topLevelItem(0));
    EXPECT_EQ(pValues->topLevelItem(0)->text(0), QStringLiteral("CC inserted"));
    EXPECT_EQ(pValues->topLevelItem(0)->text(1), QStringLiteral("True"));
    Screenshot(dlg, "diagnosis_demo");

    // The same terminal through the engine alone, then the export through the dialog's save
    // dialog: the files are equal byte for byte.
    CRecordingSink sink;
    CDiagnosisRun run(sink, nullptr, m_loader, m_services.timing);
    SDiagnosisParams params;
    params.record = DemoArgs().record;
    params.nPort = m_pSim->GetPort();
    params.nConnectionType = 3;
    std::atomic<bool> bCancel{false};
    SDiagnosisResult result;
    ASSERT_EQ(run.Run(params, bCancel, result), ERunEnd::Green);
    SExportInput input;
    input.record = params.record;
    input.nSicctVersion = diagrun::EffectiveSicctVersion(params.record.Version());
    input.result = result;
    input.settings = SExportSettings::From(*m_pSettings);
    const std::string strExpected = CDiagnosisExport::ToString(input);
    // The first run powered the card in slot 1; a second run through the dialog sees the same
    // terminal state as the engine's run.
    RunOnce(dlg);

    const std::string strPath = testing::TempDir() + "tc_dialog_export_" + std::to_string(::getpid());
    m_strSaveResult = strPath;  // without extension: ".xml" is added
    Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_EXPORT)->click();
    EXPECT_EQ(m_strSaveName, "diagnose_logfile.xml");
    EXPECT_EQ(m_strLastFilters, "XML-Datei (*.xml)");
    EXPECT_EQ(ReadFile(strPath + ".xml"), strExpected);
    EXPECT_EQ(dlg.ExportText(), strExpected);
    std::remove((strPath + ".xml").c_str());

    // Cancel in the save dialog writes nothing.
    m_strSaveResult.clear();
    Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_EXPORT)->click();
    EXPECT_FALSE(std::ifstream(strPath + ".xml").is_open());
}

TEST_F(DiagnosisDialogTest, LogPaneToggleIsStoredAndCancelEndsYellow)
{
    StartDemo();
    {
        // "Show_Diagnostics_Log_on_init" absent: the pane starts hidden.
        CDiagnosticsDialog dlg(DemoArgs(), m_services);
        dlg.show();
        auto* pToggle = Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_LOG_TOGGLE);
        EXPECT_FALSE(dlg.IsLogShown());
        EXPECT_FALSE(dlg.Log()->isVisible());
        EXPECT_EQ(pToggle->text(), QStringLiteral("&Log >>"));
        const int nHeight = dlg.height();
        pToggle->click();
        EXPECT_TRUE(dlg.Log()->isVisible());
        EXPECT_EQ(pToggle->text(), QStringLiteral("<< &Log"));
        EXPECT_GT(dlg.height(), nHeight);
        EXPECT_TRUE(m_pSettings->ShowDiagnosticsLogOnInit());
    }
    {
        CDiagnosticsDialog dlg(DemoArgs(), m_services);
        EXPECT_TRUE(dlg.IsLogShown());
        // Cancel as soon as the run is under way: it stops at its next check, yellow, 1999.
        sim::FaultRule slow;
        slow.nIns = 0x13;
        slow.nP2 = 0x81;
        slow.nDelayMs = 1500;
        m_pSim->SetFaults({slow});
        auto* pRefresh = Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_REFRESH);
        pRefresh->click();
        EXPECT_EQ(pRefresh->text(), QStringLiteral("&Abbrechen"));
        ASSERT_TRUE(WaitFor([&] { return !Control<QLabel>(dlg, CDiagnosticsDialog::IDC_MANUFACTURER)->text().isEmpty(); }));
        pRefresh->click();
        EXPECT_FALSE(pRefresh->isEnabled());
        EXPECT_EQ(pRefresh->text(), QStringLiteral("&Aktualisieren"));
        ASSERT_TRUE(WaitFor([&] { return dlg.RunsEnded() == 1; }));
        EXPECT_EQ(dlg.LastEnd(), ERunEnd::Yellow);
        EXPECT_EQ(dlg.StatusIcon(), 2);
        EXPECT_TRUE(pRefresh->isEnabled());
        EXPECT_NE(LogText(dlg.Log()).find(std::string(texts::Get(1999))), std::string::npos);
        Screenshot(dlg, "diagnosis_cancelled_with_log");
    }
}

TEST_F(DiagnosisDialogTest, CtApiRowNeedsAUsableLibrary)
{
    StartDemo();
    ASSERT_TRUE(m_pSettings->SetCtApi("/nonexistent/libctapi.so"));
    auto args = DemoArgs();
    args.nConnectionType = 0;
    CDiagnosticsDialog dlg(args, m_services);
    EXPECT_TRUE(dlg.UsesCtApi());
    auto* pPath = Control<QLineEdit>(dlg, CDiagnosticsDialog::IDC_CTAPI_PATH);
    EXPECT_TRUE(pPath->isVisibleTo(&dlg));
    EXPECT_EQ(pPath->text(), QStringLiteral("/nonexistent/libctapi.so"));
    Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_REFRESH)->click();
    EXPECT_FALSE(dlg.IsRunning());
    EXPECT_EQ(dlg.StatusIcon(), 0);
    ASSERT_EQ(m_vecMessages.size(), 1u);
    EXPECT_EQ(m_vecMessages[0], runtexts::kCtApiLibraryMissing);
    // "&..." stores the chosen library.
    m_strOpenResult = "/opt/ctapi/libctapi.so";
    Control<QPushButton>(dlg, CDiagnosticsDialog::IDC_CTAPI_BROWSE)->click();
    EXPECT_EQ(pPath->text(), QStringLiteral("/opt/ctapi/libctapi.so"));
    EXPECT_EQ(m_pSettings->CtApi(), "/opt/ctapi/libctapi.so");
}

TEST_F(DiagnosisDialogTest, CtApiRowThroughTheSimulatorLibraryGivesTheSameUnits)
{
    auto config = sim::MakeDemoTerminal();  // plain TCP for the library
    StartSim(config);
    ::setenv("TC_CTAPI_SIM", ("127.0.0.1:" + std::to_string(m_pSim->GetPort())).c_str(), 1);
    ASSERT_TRUE(m_pSettings->SetCtApi(TC_CTAPI_SIM_LIBRARY));
    auto args = DemoArgs();
    args.nConnectionType = 0;
    args.nPort = 1;
    CDiagnosticsDialog dlg(args, m_services);
    RunOnce(dlg);
    ::unsetenv("TC_CTAPI_SIM");
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Green);
    EXPECT_EQ(Column(Control<QTreeWidget>(dlg, CDiagnosticsDialog::IDC_UNIT_LIST), 1),
              (std::vector<std::string>{"Kartenslot 1", "Kartenslot 2", "Display", "PIN-Pad"}));
    EXPECT_EQ(Control<QLabel>(dlg, CDiagnosticsDialog::IDC_MANUFACTURER)->text(), QStringLiteral("DEVNT"));
}

// --- certificate validity ----------------------------------------------------------------

class CertValidDialogTest : public DialogFixture
{
protected:
    CDeviceInfo Device(const std::string& strName = "SIM-TERMINAL") const
    {
        CDeviceInfo device;
        device.SetName(strName);
        device.SetIpAddress("127.0.0.1");
        device.SetConnectionType(3);
        return device;
    }
    void StartTls(const char* pszFrom, const char* pszTo)
    {
        sim::TerminalConfig config;
        config.nProtocolCode = 0x30;
        config.strNotBefore = pszFrom;
        config.strNotAfter = pszTo;
        StartSim(config);
    }
};

TEST_F(CertValidDialogTest, ValidCertificateShowsItsDatesGreen)
{
    StartTls("20240101000000Z", "20991231235959Z");
    CCertValid dlg(Device(), m_pSim->GetPort(), m_services);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Zertifikat für SIM-TERMINAL (127.0.0.1)"));
    ASSERT_TRUE(WaitFor([&] { return dlg.Status() >= 0; }, 20000));
    EXPECT_EQ(dlg.Status(), 1);
    EXPECT_EQ(dlg.StatusText().toStdString(), texts::Get(201));
    auto Utc = [](int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond) {
        std::tm tm{};
        tm.tm_year = nYear - 1900;
        tm.tm_mon = nMonth - 1;
        tm.tm_mday = nDay;
        tm.tm_hour = nHour;
        tm.tm_min = nMinute;
        tm.tm_sec = nSecond;
        const time_t t = ::timegm(&tm);  // fills the weekday the long form shows
        std::tm out{};
        ::gmtime_r(&t, &out);
        return out;
    };
    const std::tm tmFrom = Utc(2024, 1, 1, 0, 0, 0);
    const std::tm tmTo = Utc(2099, 12, 31, 23, 59, 59);
    EXPECT_EQ(dlg.ValidFrom().toStdString(), CCertValidity::FormatDate(tmFrom));
    EXPECT_EQ(dlg.ValidTo().toStdString(), CCertValidity::FormatDate(tmTo));
    EXPECT_FALSE(dlg.ValidTo().isEmpty());
    EXPECT_TRUE(Control<QLabel>(dlg, CCertValid::IDC_STATUS_ICON)->isVisible());
    Screenshot(dlg, "certificate_validity_valid");
}

TEST_F(CertValidDialogTest, FutureStartIsShownAsExpiredAndAClosedPortFindsNone)
{
    StartTls("20900101000000Z", "20991231235959Z");
    {
        CCertValid dlg(Device(), m_pSim->GetPort(), m_services);
        ASSERT_TRUE(WaitFor([&] { return dlg.Status() >= 0; }, 20000));
        EXPECT_EQ(dlg.Status(), 2);
        EXPECT_EQ(dlg.StatusText(), QStringLiteral("Das Zertifikat ist abgelaufen."));
        EXPECT_FALSE(dlg.ValidFrom().isEmpty());
    }
    const uint16_t nClosed = m_pSim->GetPort();
    m_pSim->Stop();
    CCertValid dlg(Device(), nClosed, m_services);
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.Status() >= 0; }, 20000));
    EXPECT_EQ(dlg.Status(), 0);
    EXPECT_EQ(dlg.StatusText().toStdString(), texts::Get(203));
    EXPECT_TRUE(dlg.ValidFrom().isEmpty());
    EXPECT_TRUE(dlg.ValidTo().isEmpty());
    Screenshot(dlg, "certificate_validity_none");
}

TEST_F(CertValidDialogTest, ClosingDuringTheCheckEndsTheWorkerWithinItsBound)
{
    // A listener that accepts but never answers the handshake: closing must stop the check.
    const int nListen = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(nListen, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(nListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(nListen, 1), 0);
    socklen_t nLen = sizeof addr;
    ::getsockname(nListen, reinterpret_cast<sockaddr*>(&addr), &nLen);
    const auto tStart = std::chrono::steady_clock::now();
    {
        CCertValid dlg(Device(), ntohs(addr.sin_port), m_services);
        QTest::qWait(200);
        EXPECT_TRUE(dlg.IsChecking());
        dlg.reject();
        EXPECT_FALSE(dlg.IsChecking());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(4));
    ::close(nListen);
}

// --- launcher -------------------------------------------------------------------------------

TEST_F(DialogFixture, LauncherOpensEachDialogModally)
{
    CDialogLauncher launcher(m_services);
    std::vector<std::string> vecTitles;
    // Polls for the modal dialog (bounded), records its title and closes it.
    auto CloseSoon = [&] {
        auto* pTimer = new QTimer;
        auto pTicks = std::make_shared<int>(0);
        QObject::connect(pTimer, &QTimer::timeout, [&vecTitles, pTimer, pTicks] {
            auto* p = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (p != nullptr && p->isVisible())
            {
                vecTitles.push_back(p->windowTitle().toStdString());
                p->reject();
            }
            else if (++*pTicks < 200)
                return;
            pTimer->stop();
            pTimer->deleteLater();
        });
        pTimer->start(25);
    };
    search::SDownloadArgs args;
    args.strIp = "127.0.0.1";
    args.nPort = 1;
    args.nConnectionType = 3;
    CloseSoon();
    launcher.OpenFirmwareDownload(nullptr, args);
    CloseSoon();
    launcher.OpenCertificateDownload(nullptr, args);
    search::SDiagnosisArgs diagArgs;
    diagArgs.record = TerminalIdRecord::Build(0x0114, "T", "127.0.0.1", "02:00:00:00:00:01", 1, 0x30);
    diagArgs.nConnectionType = 3;
    CloseSoon();
    launcher.OpenDiagnosis(nullptr, diagArgs);
    CDeviceInfo device;
    device.SetName("T");
    device.SetIpAddress("127.0.0.1");
    CloseSoon();
    launcher.OpenCertificateValidity(nullptr, device, 1);
    EXPECT_EQ(vecTitles, (std::vector<std::string>{"Firmware Download", "Konnektor CA Zertifikate Download",
                                                   "SICCT Diagnose", "Zertifikat für T (127.0.0.1)"}));
}
