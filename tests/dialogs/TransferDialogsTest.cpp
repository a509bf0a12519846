// The firmware download, certificate list download and login dialogs against the terminal
// simulator on loopback: what the user sees (log, byte count, progress, icon, buttons) and
// what the terminal received.
#include <QLineEdit>
#include <chrono>
#include <QProgressBar>
#include <QTimer>

#include "CertDownload.h"
#include "DialogFixture.h"
#include "DialogKit.h"
#include "DlgLogin.h"
#include "DlgSimpleLogin.h"
#include "FWDownloadDlg.h"
#include "PwdEdit.h"
#include "RunTrace.h"
#include "Texts.h"

namespace
{
search::SDownloadArgs ArgsFor(uint16_t nPort, int nConnectionType = 3)
{
    search::SDownloadArgs args;
    args.strIp = "127.0.0.1";
    args.nPort = nPort;
    args.nPort2 = nPort;
    args.nProtocolCode = 0x30;
    args.nConnectionType = nConnectionType;
    args.nSicctVersion = 0x0114;
    return args;
}

sim::TerminalConfig TlsTerminal()
{
    sim::TerminalConfig c;
    c.nProtocolCode = 0x30;
    c.manufacturer.strVersion = "3000 ";
    return c;
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}
} // namespace

class FirmwareDialogTest : public DialogFixture
{
protected:
    /// Puts the path into the file field and presses "St&arten".
    void Start(CFWDownloadDlg& dlg, const std::string& strPath)
    {
        Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_FIRMWARE_PATH)->setText(QString::fromStdString(strPath));
        Control<QPushButton>(dlg, CFWDownloadDlg::IDC_START)->click();
    }
    static bool Ended(const CFWDownloadDlg& dlg, int nRuns = 1) { return dlg.RunsEnded() >= nRuns; }
};

TEST_F(FirmwareDialogTest, DownloadEndsGreenWithBytesProgressAndDottedLog)
{
    StartSim(TlsTerminal());
    CTestFile file(PatternBytes(3000));
    CFWDownloadDlg dlg(ArgsFor(m_pSim->GetPort()), m_services);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Firmware Download"));
    EXPECT_FALSE(dlg.IsCtApiMode());
    EXPECT_FALSE(Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_CTAPI_PATH)->isVisibleTo(&dlg));
    EXPECT_FALSE(Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_PACKET_SIZE)->isVisibleTo(&dlg));

    Start(dlg, file.Path());
    auto* pStart = Control<QPushButton>(dlg, CFWDownloadDlg::IDC_START);
    EXPECT_EQ(pStart->text(), QStringLiteral("Abbrechen"));
    ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));

    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Green);
    EXPECT_EQ(dlg.StatusIcon(), 1);
    // "SetAdminName" absent: the password-only dialog, user "admin".
    EXPECT_EQ(m_vecLoginKinds, std::vector<bool>{false});
    EXPECT_EQ(m_pSim->GetLoginAttempts(), std::vector<std::string>{"admin:12345678"});
    EXPECT_EQ(m_pSim->GetDownloadImage(), PatternBytes(3000));
    EXPECT_EQ(Control<QLabel>(dlg, CFWDownloadDlg::IDC_BYTES)->text(), QStringLiteral("3000"));
    EXPECT_EQ(Control<QLabel>(dlg, CFWDownloadDlg::IDC_PERCENT)->text(), QStringLiteral("100 %"));
    auto* pProgress = Control<QProgressBar>(dlg, CFWDownloadDlg::IDC_PROGRESS);
    EXPECT_EQ(pProgress->maximum(), 3000);
    EXPECT_EQ(pProgress->value(), 3000);
    EXPECT_EQ(pStart->text(), QStringLiteral("St&arten"));
    EXPECT_TRUE(pStart->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(dlg, CFWDownloadDlg::IDC_CLOSE)->isEnabled());
    const std::string strLog = LogText(dlg.Log());
    // Three packets: the text once, then one dot per packet on the same line.
    EXPECT_TRUE(Contains(strLog, "\nSende Daten...\n")) << strLog;
    EXPECT_TRUE(Contains(strLog, "CT Firmware Version: 3.0.0.0")) << strLog;
    EXPECT_TRUE(Contains(strLog, std::string(texts::Get(139)))) << strLog;
    EXPECT_EQ(m_pSettings->LastFirmwareFileLocation(), file.Path());
    Screenshot(dlg, "firmware_download_green");
}

TEST_F(FirmwareDialogTest, ProgressFollowsThePacketSizeAndDotsBreakAfterEveryHundred)
{
    // 120 packets of 64 bytes: the percentage steps by the packet size and the dotted run
    // starts a new line after its 100th dot.
    StartSim(TlsTerminal());
    m_pSim->SetMaxPacketSize(1024, sim::EPacketSizeLayout::B);
    ASSERT_TRUE(m_pSettings->WriteDword(os::ERegRoot::CurrentUser, CSettings::kSection, "MaxDataPacketSize", 64));
    CTestFile file(PatternBytes(64 * 120));
    CFWDownloadDlg dlg(ArgsFor(m_pSim->GetPort()), m_services);
    Start(dlg, file.Path());
    ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes().size(), 120u);
    const std::string strLog = LogText(dlg.Log());
    EXPECT_TRUE(Contains(strLog, "Sende Daten" + std::string(100, '.') + "\n" + std::string(20, '.') + "\n")) << strLog;
    EXPECT_EQ(Control<QLabel>(dlg, CFWDownloadDlg::IDC_BYTES)->text(), QStringLiteral("7680"));
}

TEST_F(FirmwareDialogTest, CancelDuringTheTransferEndsYellowWith1999)
{
    StartSim(TlsTerminal());
    // The answer to the first data packet is late, so the user's cancel falls into its wait;
    // the answer still comes within the wait's lower bound after a cancel, and the run stops
    // before the next packet.
    sim::FaultRule slow;
    slow.nIns = 0x25;
    slow.nOccurrence = 1;
    slow.nDelayMs = 1000;
    m_pSim->SetFaults({slow});
    m_services.timing.nWaitSliceMs = 100;
    m_services.timing.nCancelMinSlices = 30;
    CTestFile file(PatternBytes(3000));
    CFWDownloadDlg dlg(ArgsFor(m_pSim->GetPort()), m_services);
    Start(dlg, file.Path());
    ASSERT_TRUE(WaitFor([&] { return Control<QLabel>(dlg, CFWDownloadDlg::IDC_BYTES)->text() != QStringLiteral("0"); }));
    auto* pStart = Control<QPushButton>(dlg, CFWDownloadDlg::IDC_START);
    ASSERT_TRUE(pStart->isEnabled());
    pStart->click();  // "Abbrechen"
    EXPECT_FALSE(pStart->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Yellow);
    EXPECT_EQ(dlg.StatusIcon(), 2);
    EXPECT_TRUE(Contains(LogText(dlg.Log()), std::string(texts::Get(1999))));
    // The progress shown is the one packet sent; the cancel did not reset it.
    EXPECT_EQ(Control<QLabel>(dlg, CFWDownloadDlg::IDC_BYTES)->text(), QStringLiteral("1024"));
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);
    EXPECT_EQ(pStart->text(), QStringLiteral("St&arten"));
    EXPECT_TRUE(pStart->isEnabled());
    Screenshot(dlg, "firmware_download_cancelled");
}

TEST_F(FirmwareDialogTest, RefusedSignatureEndsRedAndAnUnreachableTerminalToo)
{
    StartSim(TlsTerminal());
    m_pSim->SetSignatureOk(false);
    CTestFile file(PatternBytes(1500));
    {
        CFWDownloadDlg dlg(ArgsFor(m_pSim->GetPort()), m_services);
        Start(dlg, file.Path());
        ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));
        EXPECT_EQ(dlg.LastEnd(), ERunEnd::Red);
        EXPECT_EQ(dlg.StatusIcon(), 0);
        EXPECT_TRUE(Contains(LogText(dlg.Log()), std::string(texts::Get(140))));
        Screenshot(dlg, "firmware_download_failed");
    }
    {
        // A closed port on loopback.
        const uint16_t nClosed = m_pSim->GetPort();
        m_pSim->Stop();
        CFWDownloadDlg dlg(ArgsFor(nClosed), m_services);
        Start(dlg, file.Path());
        ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));
        EXPECT_EQ(dlg.StatusIcon(), 0);
        EXPECT_TRUE(Control<QPushButton>(dlg, CFWDownloadDlg::IDC_CLOSE)->isEnabled());
    }
}

TEST_F(FirmwareDialogTest, LoginDialogChosenBySetAdminNameAndItsUserNameIsSent)
{
    StartSim(TlsTerminal());
    ASSERT_TRUE(m_pSettings->WriteDword(os::ERegRoot::CurrentUser, CSettings::kSection, "SetAdminName", 1));
    m_strLoginUser = "service";
    CTestFile file(PatternBytes(100));
    {
        CFWDownloadDlg dlg(ArgsFor(m_pSim->GetPort()), m_services);
        Start(dlg, file.Path());
        ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));
        EXPECT_EQ(m_vecLoginKinds, std::vector<bool>{true});
        EXPECT_EQ(m_pSim->GetLoginAttempts(), std::vector<std::string>{"service:12345678"});
        EXPECT_EQ(dlg.LastEnd(), ERunEnd::Red);  // the terminal knows no such user
    }
    {
        // Cancel in the login dialog: nothing starts, nothing is sent.
        m_pSim->ClearRecording();
        m_bLoginOk = false;
        CFWDownloadDlg dlg(ArgsFor(m_pSim->GetPort()), m_services);
        Start(dlg, file.Path());
        QTest::qWait(200);
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_EQ(m_pSim->GetStats().nConnections, 0);
        EXPECT_EQ(Control<QPushButton>(dlg, CFWDownloadDlg::IDC_START)->text(), QStringLiteral("St&arten"));
    }
}

TEST_F(FirmwareDialogTest, StartButtonRulesPickersAndChecksBeforeTheRun)
{
    CTestFile file(PatternBytes(10));
    {
        // Direct way: the firmware path alone decides.
        CFWDownloadDlg dlg(ArgsFor(4742), m_services);
        auto* pStart = Control<QPushButton>(dlg, CFWDownloadDlg::IDC_START);
        auto* pPath = Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_FIRMWARE_PATH);
        EXPECT_TRUE(pPath->text().isEmpty());
        EXPECT_FALSE(pStart->isEnabled());
        pPath->setText(QStringLiteral("x"));
        EXPECT_TRUE(pStart->isEnabled());
        pPath->clear();
        EXPECT_FALSE(pStart->isEnabled());

        // Browsing: the filters, "Alle Dateien" preselected, the path stored; an unreadable
        // choice is named in a message box.
        m_strOpenResult = file.Path();
        Control<QPushButton>(dlg, CFWDownloadDlg::IDC_BROWSE)->click();
        EXPECT_EQ(m_strLastFilters, "Binär-Dateien (*.bin);;SIM-Dateien (*.sim);;Alle Dateien (*.*)");
        EXPECT_EQ(m_strLastSelectedFilter, "Alle Dateien (*.*)");
        EXPECT_EQ(pPath->text().toStdString(), file.Path());
        EXPECT_EQ(m_pSettings->LastFirmwareFileLocation(), file.Path());
        EXPECT_TRUE(pStart->isEnabled());
        EXPECT_TRUE(m_vecMessages.empty());
        m_strOpenResult = "/nonexistent/fw.bin";
        Control<QPushButton>(dlg, CFWDownloadDlg::IDC_BROWSE)->click();
        ASSERT_EQ(m_vecMessages.size(), 1u);
        EXPECT_EQ(m_vecMessages[0], texts::Format(113, std::string("/nonexistent/fw.bin")));
        // Start with that file: the same message, nothing asked, nothing started.
        pStart->click();
        EXPECT_EQ(m_vecMessages.size(), 2u);
        EXPECT_TRUE(m_vecLoginKinds.empty());
        EXPECT_TRUE(dlg.IsIdle());
    }
    {
        // The next dialog starts with the stored path; CT-API way (USB row): both paths needed,
        // the port field shows the given port, the library comes from "CtApi".
        m_vecMessages.clear();
        CFWDownloadDlg dlg(ArgsFor(7, 0), m_services);
        EXPECT_TRUE(dlg.IsCtApiMode());
        EXPECT_EQ(Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_FIRMWARE_PATH)->text().toStdString(),
                  "/nonexistent/fw.bin");
        EXPECT_TRUE(Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_CTAPI_PATH)->isVisibleTo(&dlg));
        EXPECT_EQ(Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_PORT)->text(), QStringLiteral("7"));
        auto* pStart = Control<QPushButton>(dlg, CFWDownloadDlg::IDC_START);
        EXPECT_FALSE(pStart->isEnabled());
        m_strOpenResult = "/nonexistent/libctapi.so";
        Control<QPushButton>(dlg, CFWDownloadDlg::IDC_CTAPI_BROWSE)->click();
        EXPECT_EQ(m_pSettings->CtApi(), "/nonexistent/libctapi.so");
        EXPECT_TRUE(pStart->isEnabled());
        Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_FIRMWARE_PATH)->setText(QString::fromStdString(file.Path()));
        // A library that cannot be opened: red icon and the message, no run, no login.
        pStart->click();
        ASSERT_EQ(m_vecMessages.size(), 1u);
        EXPECT_EQ(m_vecMessages[0], runtexts::kCtApiLibraryMissing);
        EXPECT_EQ(dlg.StatusIcon(), 0);
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_TRUE(m_vecLoginKinds.empty());
        Screenshot(dlg, "firmware_download_ctapi");
    }
}

TEST_F(FirmwareDialogTest, ClosingDuringAStuckWaitReturnsInTimeAndTheWorkerEndsOnItsOwn)
{
    StartSim(TlsTerminal());
    // The first packet's answer takes longer than the dialog waits on closing; the cancelled
    // wait itself lasts its lower bound of 10 s (default timing).
    sim::FaultRule stuck;
    stuck.nIns = 0x25;
    stuck.nOccurrence = 1;
    stuck.nDelayMs = 7000;
    m_pSim->SetFaults({stuck});
    m_services.timing = SSessionTiming{};
    m_services.timing.nCloseDelayMs = 0;
    CTestFile file(PatternBytes(3000));
    auto pDlg = std::make_unique<CFWDownloadDlg>(ArgsFor(m_pSim->GetPort()), m_services);
    Start(*pDlg, file.Path());
    ASSERT_TRUE(WaitFor([&] { return Control<QLabel>(*pDlg, CFWDownloadDlg::IDC_BYTES)->text() != QStringLiteral("0"); }));
    const auto tStart = std::chrono::steady_clock::now();
    pDlg.reset();
    const auto tClose = std::chrono::steady_clock::now() - tStart;
    EXPECT_GE(tClose, std::chrono::milliseconds(CFWDownloadDlg::kCloseWaitMs - 100));
    EXPECT_LT(tClose, std::chrono::milliseconds(CFWDownloadDlg::kCloseWaitMs + 1500));
    // Not killed: the abandoned worker still closes the session and the connection.
    EXPECT_TRUE(m_pSim->WaitForIdle(15000));
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes().size(), 1u);
}

TEST_F(FirmwareDialogTest, CtApiWayThroughTheSimulatorLibraryEndsGreen)
{
    StartSim(sim::MakeDemoTerminal());  // plain TCP: the CT-API library speaks no TLS
    ::setenv("TC_CTAPI_SIM", ("127.0.0.1:" + std::to_string(m_pSim->GetPort())).c_str(), 1);
    m_services.fnCtApiResetWait = [](int) { return true; };
    ASSERT_TRUE(m_pSettings->SetCtApi(TC_CTAPI_SIM_LIBRARY));
    CTestFile file(PatternBytes(3000));
    CFWDownloadDlg dlg(ArgsFor(1, 0), m_services);
    ASSERT_TRUE(dlg.IsCtApiMode());
    EXPECT_EQ(Control<QLineEdit>(dlg, CFWDownloadDlg::IDC_CTAPI_PATH)->text(), QStringLiteral(TC_CTAPI_SIM_LIBRARY));
    Start(dlg, file.Path());
    ASSERT_TRUE(WaitFor([&] { return Ended(dlg); }));
    ::unsetenv("TC_CTAPI_SIM");
    EXPECT_TRUE(m_vecLoginKinds.empty());  // the library opens its own session
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Green);
    EXPECT_EQ(dlg.StatusIcon(), 1);
    EXPECT_EQ(m_pSim->GetDownloadImage(), PatternBytes(3000));
    EXPECT_EQ(Control<QLabel>(dlg, CFWDownloadDlg::IDC_BYTES)->text(), QStringLiteral("3000"));
    EXPECT_EQ(Control<QLabel>(dlg, CFWDownloadDlg::IDC_PERCENT)->text(), QStringLiteral("100 %"));
}

// --- login dialogs ------------------------------------------------------------------------

TEST(LoginDialogs, FieldsDefaultsConstructorsAndThePasswordLimit)
{
    CDlgLogin login;
    EXPECT_EQ(login.windowTitle(), QStringLiteral("Login"));
    ASSERT_NE(login.UserEdit(), nullptr);
    EXPECT_EQ(login.UserEdit()->text(), QStringLiteral("admin"));
    EXPECT_EQ(login.PasswordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(login.PasswordEdit()->GetLimitText(), 12);
    login.show();
    login.PasswordEdit()->setFocus();
    QTest::keyClicks(login.PasswordEdit(), "abcdefghijklmn!");
    EXPECT_EQ(login.PasswordEdit()->text(), QStringLiteral("abcdefghijkl"));
    SaveScreenshot(login, "login_user_and_password");
    login.UserEdit()->clear();
    login.accept();
    EXPECT_EQ(login.result(), QDialog::Accepted);
    EXPECT_EQ(login.UserName(), "");
    EXPECT_EQ(login.Password(), "abcdefghijkl");

    CDlgLogin named("operator", "secret1");
    EXPECT_EQ(named.UserEdit()->text(), QStringLiteral("operator"));
    EXPECT_EQ(named.PasswordEdit()->text(), QStringLiteral("secret1"));
    named.reject();
    EXPECT_EQ(named.result(), QDialog::Rejected);

    CDlgSimpleLogin simple("preset");
    simple.show();
    SaveScreenshot(simple, "login_password_only");
    EXPECT_EQ(simple.UserEdit(), nullptr);
    EXPECT_EQ(simple.findChild<QLineEdit*>(QStringLiteral("1078")), nullptr);
    EXPECT_EQ(simple.PasswordEdit()->text(), QStringLiteral("preset"));
    simple.accept();
    EXPECT_EQ(simple.UserName(), "admin");
    EXPECT_EQ(simple.Password(), "preset");
}

TEST(LoginDialogs, TheStandardPromptRunsTheModalDialogChosenByTheCaller)
{
    SDialogServices services;  // no hooks: the real modal dialogs
    for (bool bWithUser : {false, true})
    {
        SCOPED_TRACE(bWithUser);
        bool bSeen = false;
        QTimer::singleShot(50, [&] {
            auto* pDlg = qobject_cast<CDlgLogin*>(QApplication::activeModalWidget());
            if (pDlg == nullptr)
                return;
            bSeen = true;
            EXPECT_EQ(pDlg->UserEdit() != nullptr, bWithUser);
            if (pDlg->UserEdit() != nullptr)
                pDlg->UserEdit()->setText(QStringLiteral("pin"));
            pDlg->PasswordEdit()->setText(QStringLiteral("geheim"));
            pDlg->accept();
        });
        // Safety net: a prompt that was not found must not keep the test waiting.
        QTimer::singleShot(5000, [] {
            if (auto* p = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                p->reject();
        });
        std::string strUser;
        std::string strPassword;
        EXPECT_TRUE(dlgkit::Login(services, nullptr, bWithUser, strUser, strPassword));
        EXPECT_TRUE(bSeen);
        EXPECT_EQ(strUser, bWithUser ? "pin" : "admin");
        EXPECT_EQ(strPassword, "geheim");
    }
}

// --- certificate list download ------------------------------------------------------------

class CertDownloadDialogTest : public DialogFixture
{
protected:
    void Run(CCertDownload& dlg, const std::string& strPath)
    {
        Control<QLineEdit>(dlg, CCertDownload::IDC_CERT_PATH)->setText(QString::fromStdString(strPath));
        const int nBefore = dlg.RunsEnded();
        Control<QPushButton>(dlg, CCertDownload::IDC_START)->click();
        if (dlg.IsRunning())
        {
            ASSERT_TRUE(WaitFor([&] { return dlg.RunsEnded() > nBefore; }));
        }
        QTest::qWait(50);  // the run's last queued texts
    }
};

TEST_F(CertDownloadDialogTest, WritesTheListAndBlocksInputWhileRunning)
{
    StartSim(TlsTerminal());
    const auto vecList = PatternBytes(500);
    CTestFile file(vecList);
    CCertDownload dlg(ArgsFor(m_pSim->GetPort()), m_services);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Konnektor CA Zertifikate Download"));
    EXPECT_FALSE(Control<QPushButton>(dlg, CCertDownload::IDC_START)->isEnabled());
    Control<QLineEdit>(dlg, CCertDownload::IDC_CERT_PATH)->setText(QString::fromStdString(file.Path()));
    Control<QPushButton>(dlg, CCertDownload::IDC_START)->click();
    ASSERT_TRUE(dlg.IsRunning());
    // The window stays responsive, its input is blocked.
    EXPECT_FALSE(Control<QPushButton>(dlg, CCertDownload::IDC_CLOSE)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(dlg, CCertDownload::IDC_BROWSE)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(dlg, CCertDownload::IDC_START)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return dlg.RunsEnded() == 1; }));
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Green);
    EXPECT_EQ(m_pSim->GetCertificateList(), vecList);
    EXPECT_TRUE(Control<QPushButton>(dlg, CCertDownload::IDC_CLOSE)->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(dlg, CCertDownload::IDC_START)->isEnabled());
    const std::string strLog = LogText(dlg.Log());
    EXPECT_TRUE(Contains(strLog, "CT Firmware Version: 3.0.0.0\nZertifikate schreiben")) << strLog;
    Screenshot(dlg, "certificate_list_download");
}

TEST_F(CertDownloadDialogTest, FileErrorsNeedNoLoginAndTheOversizeListIsRefused)
{
    StartSim(TlsTerminal());
    CCertDownload dlg(ArgsFor(m_pSim->GetPort()), m_services);
    Run(dlg, "/nonexistent/list.bin");
    EXPECT_EQ(LogText(dlg.Log()), "Datei kann nicht gelesen werden!");
    EXPECT_TRUE(Control<QPushButton>(dlg, CCertDownload::IDC_START)->isEnabled());

    CTestFile empty({});
    Run(dlg, empty.Path());
    EXPECT_EQ(LogText(dlg.Log()), "Zertifikate können nicht aus Datei gelesen werden.");
    EXPECT_TRUE(m_vecLoginKinds.empty());
    EXPECT_EQ(m_pSim->GetStats().nConnections, 0);

    // Cancel in the login dialog: nothing is sent, the buttons are back.
    CTestFile small(PatternBytes(10));
    m_bLoginOk = false;
    Run(dlg, small.Path());
    EXPECT_EQ(m_vecLoginKinds.size(), 1u);
    EXPECT_EQ(m_pSim->GetStats().nConnections, 0);
    EXPECT_TRUE(Control<QPushButton>(dlg, CCertDownload::IDC_CLOSE)->isEnabled());

    // 70000 bytes: session, version, refused write, session closed.
    m_bLoginOk = true;
    CTestFile big(PatternBytes(70000));
    Run(dlg, big.Path());
    EXPECT_EQ(dlg.LastEnd(), ERunEnd::Red);
    const std::string strLog = LogText(dlg.Log());
    EXPECT_TRUE(Contains(strLog, "CT Firmware Version: 3.0.0.0")) << strLog;
    EXPECT_TRUE(Contains(strLog, "Übergabe parameter ungültig")) << strLog;
    EXPECT_TRUE(Contains(strLog, "Zertifikatdownload fehlgeschlagen")) << strLog;
    EXPECT_EQ(m_pSim->GetStats().nCertWrites, 0);
    EXPECT_EQ(m_pSim->GetStats().nSessionsOpened, 1);
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);
    EXPECT_TRUE(Control<QPushButton>(dlg, CCertDownload::IDC_START)->isEnabled());
}
