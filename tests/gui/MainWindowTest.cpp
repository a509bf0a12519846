#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <mutex>

#include "FakeSettingsStore.h"
#include "HtmlCtrl.h"
#include "MaintenanceLauncher.h"
#include "SICCTConfigDlg.h"
#include "Settings.h"

namespace
{
std::unique_ptr<CDeviceInfo> Device(int nType, const std::string& strIp, const std::string& strMac,
                                    const std::string& strName, const std::string& strLogical = {},
                                    uint16_t nNetPort = 4742)
{
    auto p = std::make_unique<CDeviceInfo>();
    p->SetConnectionType(nType);
    p->SetIpAddress(strIp);
    p->SetMacAddress(strMac);
    p->SetName(strName);
    p->SetLogicalName(strLogical);
    p->SetNetworkPort(nNetPort);
    p->SetSicctVersion(0x0102);
    return p;
}

// Terminals served from lists; called on the window's search thread.
class CFakeFinder : public CTerminalFinder
{
public:
    std::mutex mtx;
    std::vector<CDeviceInfo> vecLan, vecUsb, vecConfigured;
    std::unique_ptr<CDeviceInfo> pAnswer;
    std::atomic<uint32_t> nQueried{0};
    std::atomic<int> nSearches{0};

    int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& v) override
    {
        std::lock_guard<std::mutex> lock(mtx);
        ++nSearches;
        for (const auto& d : vecLan)
            v.push_back(std::make_unique<CDeviceInfo>(d));
        return FIND_OK;
    }
    int FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& v) override
    {
        std::lock_guard<std::mutex> lock(mtx);
        for (const auto& d : vecUsb)
            v.push_back(std::make_unique<CDeviceInfo>(d));
        return FIND_OK;
    }
    int ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& v) override
    {
        std::lock_guard<std::mutex> lock(mtx);
        for (const auto& d : vecConfigured)
            v.push_back(std::make_unique<CDeviceInfo>(d));
        return FIND_OK;
    }
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t nIpv4) override
    {
        std::lock_guard<std::mutex> lock(mtx);
        nQueried = nIpv4;
        return pAnswer ? std::make_unique<CDeviceInfo>(*pAnswer) : nullptr;
    }
};

// Records what each action would open.
class CRecordingLauncher : public CMaintenanceLauncher
{
public:
    std::vector<std::string> vecCalls;
    search::SDownloadArgs lastDownload;
    search::SDiagnosisArgs lastDiagnosis;
    uint16_t nLastWebPort = 0;
    void OpenDiagnosis(QWidget*, const search::SDiagnosisArgs& a) override
    {
        vecCalls.push_back("diagnosis");
        lastDiagnosis = a;
    }
    void OpenFirmwareDownload(QWidget*, const search::SDownloadArgs& a) override
    {
        vecCalls.push_back("firmware");
        lastDownload = a;
    }
    void OpenCertificateDownload(QWidget*, const search::SDownloadArgs& a) override
    {
        vecCalls.push_back("certificates");
        lastDownload = a;
    }
    void OpenCertificateValidity(QWidget*, const CDeviceInfo&, uint16_t nPort) override
    {
        vecCalls.push_back("validity");
        nLastWebPort = nPort;
    }
};

class MainWindow : public ::testing::Test
{
protected:
    CFakeFinder finder;
    CFakeSettingsStore store;
    CSettings settings{store};
    CRecordingLauncher launcher;
    std::vector<QUrl> vecOpened;
    std::vector<QString> vecMessages;
    std::unique_ptr<CSICCTConfigDlg> pDlg;

    void SetUp() override
    {
        finder.vecLan.push_back(*Device(3, "10.0.0.1", "02:4E:7A:00:00:01", "Maker", "10.0.0.1:4742:32"));
        finder.vecLan.push_back(*Device(3, "10.0.0.2", "00:0D:F8:00:00:02", "Proxy", "10.0.0.2:4742:16"));
        finder.vecUsb.push_back(*Device(0, "localhost", "02:4E:7A:00:00:03", "Keyboard0", "", 0));
        finder.vecUsb.push_back(*Device(1, "localhost", "", "Keyboard1", "", 0));
        finder.vecUsb.push_back(*Device(5, "", "", "UsbNoIp", "", 0));
        auto pConfigured = Device(3, "10.0.0.1", "", "cfg", "10.0.0.1:4742:32");
        pConfigured->SetPort(3);
        finder.vecConfigured.push_back(*pConfigured);
    }

    void Open(bool bSearch = true)
    {
        CSICCTConfigDlg::SServices services;
        services.pFinder = &finder;
        services.pSettings = &settings;
        services.pLauncher = &launcher;
        services.fnOpenUrl = [this](const QUrl& url) {
            vecOpened.push_back(url);
            return true;
        };
        services.fnMessage = [this](const QString& s) { vecMessages.push_back(s); };
        services.bSearchAtStart = bSearch;
        pDlg = std::make_unique<CSICCTConfigDlg>(services);
        pDlg->show();
        if (bSearch)
            WaitIdle();
    }

    void WaitIdle()
    {
        // The search starts from the event loop; wait until it has run and ended.
        QTRY_VERIFY_WITH_TIMEOUT(finder.nSearches > 0 && !pDlg->IsSearching(), 5000);
    }

    QTreeWidget* List() { return pDlg->List(); }
    QString Cell(int nRow, int nCol) { return List()->topLevelItem(nRow)->text(nCol); }
    bool Enabled(int nId) { return pDlg->Control(nId)->isEnabled(); }
    QLineEdit* PortEdit() { return static_cast<QLineEdit*>(pDlg->Control(CSICCTConfigDlg::IDC_PORT)); }
    void Focus(int nRow) { List()->setCurrentItem(nRow < 0 ? nullptr : List()->topLevelItem(nRow)); }
    // Enabled state of web, certificates, validity, diagnosis, firmware as one string.
    std::string Actions()
    {
        std::string s;
        for (int nId : {CSICCTConfigDlg::IDC_WEB_INTERFACE, CSICCTConfigDlg::IDC_CERTIFICATES,
                        CSICCTConfigDlg::IDC_CERT_VALIDITY, CSICCTConfigDlg::IDC_DIAGNOSIS, CSICCTConfigDlg::IDC_FIRMWARE})
            s += Enabled(nId) ? '1' : '0';
        return s;
    }
};
} // namespace

TEST_F(MainWindow, ColumnsHeadersAlignmentAndWidths)
{
    Open(false);
    QTreeWidget* pList = List();
    ASSERT_EQ(pList->columnCount(), 6);
    const char* apszHeaders[] = {"Port", "Terminal Name", "IP-Adresse", "MAC-Adresse", "Typ", "SICCT-Version"};
    const int anWidths[] = {40, 200, 120, 120, 80};
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_EQ(pList->headerItem()->text(i), QString::fromUtf8(apszHeaders[i]));
        const Qt::Alignment expected = i == 1 ? Qt::AlignLeft : Qt::AlignHCenter;
        EXPECT_TRUE(Qt::Alignment(pList->headerItem()->textAlignment(i)) & expected) << i;
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pList->columnWidth(i), anWidths[i]) << i;
    EXPECT_TRUE(pList->header()->stretchLastSection());
    EXPECT_FALSE(pList->header()->sectionsClickable());
    EXPECT_EQ(pList->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(pList->selectionBehavior(), QAbstractItemView::SelectRows);
    // Before the first search: list and actions disabled, port shows 443.
    EXPECT_FALSE(pList->isEnabled());
    EXPECT_EQ(Actions(), "00000");
    EXPECT_EQ(PortEdit()->text(), "443");
    EXPECT_EQ(pDlg->windowTitle(), "Terminal Console");
    EXPECT_EQ(static_cast<QPushButton*>(pDlg->Control(CSICCTConfigDlg::IDC_SEARCH))->text(), "&Suchen");
}

TEST_F(MainWindow, SearchFillsRowsWithLabelsAndMergedPort)
{
    Open();
    ASSERT_EQ(pDlg->RowCount(), 5);
    EXPECT_TRUE(List()->isEnabled());
    // LAN first, then USB; the configured entry gave row 0 its port and made no row.
    EXPECT_EQ(Cell(0, 0), "3");
    EXPECT_EQ(Cell(0, 1), "Maker");
    EXPECT_EQ(Cell(0, 2), "10.0.0.1");
    EXPECT_EQ(Cell(0, 3), "02:4E:7A:00:00:01");
    EXPECT_EQ(Cell(0, 4), "LAN");
    EXPECT_EQ(Cell(0, 5), "1.2");
    EXPECT_EQ(Cell(1, 0), "");
    EXPECT_EQ(Cell(1, 4), "LAN-Proxy");
    EXPECT_EQ(Cell(2, 4), "USB");  // the maker's MAC changes nothing for USB
    EXPECT_EQ(Cell(3, 4), "USB");
    EXPECT_EQ(Cell(4, 4), "USB");
    EXPECT_TRUE(Qt::Alignment(List()->topLevelItem(0)->textAlignment(2)) & Qt::AlignHCenter);
    // A search that finds nothing leaves the list empty and the actions off.
    {
        std::lock_guard<std::mutex> lock(finder.mtx);
        finder.vecLan.clear();
        finder.vecUsb.clear();
    }
    QSignalSpy spy(pDlg.get(), &CSICCTConfigDlg::workFinished);
    pDlg->OnSearch();
    EXPECT_TRUE(pDlg->IsSearching());
    EXPECT_FALSE(List()->isEnabled());
    EXPECT_FALSE(pDlg->Control(CSICCTConfigDlg::IDC_SEARCH)->isEnabled());
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(pDlg->RowCount(), 0);
    EXPECT_EQ(Actions(), "00000");
}

TEST_F(MainWindow, EnablingFollowsFocusedRowAndType)
{
    Open();
    Focus(-1);
    EXPECT_EQ(Actions(), "00000");
    EXPECT_FALSE(Enabled(CSICCTConfigDlg::IDC_ACTION_GROUP));
    Focus(0);  // LAN with address
    EXPECT_EQ(Actions(), "11111");
    EXPECT_TRUE(Enabled(CSICCTConfigDlg::IDC_ACTION_GROUP));
    Focus(2);  // type 0: diagnosis and firmware only
    EXPECT_EQ(Actions(), "00011");
    Focus(3);  // type 1
    EXPECT_EQ(Actions(), "00011");
    Focus(4);  // type 5 without an address: no web interface, no validity
    EXPECT_EQ(Actions(), "01011");
    // An invalid port switches web interface and validity off after leaving the edit.
    Focus(0);
    PortEdit()->setText("70000");
    pDlg->OnPortKillFocus();
    EXPECT_EQ(Actions(), "01011");
    EXPECT_EQ(PortEdit()->selectedText(), "70000");  // selected for correction
    PortEdit()->setText("8080");
    pDlg->OnPortKillFocus();
    EXPECT_EQ(Actions(), "11111");
}

TEST_F(MainWindow, PortEditRules)
{
    ASSERT_TRUE(settings.WriteDword(os::ERegRoot::CurrentUser, CSettings::kSection, "Port", 8443));
    Open(false);
    EXPECT_EQ(PortEdit()->text(), "8443");  // the setting when it is a port
    EXPECT_EQ(pDlg->GetWebInterfacePort(), 8443);
    PortEdit()->setText("");
    EXPECT_EQ(pDlg->GetWebInterfacePort(), 8443);  // empty edit: the setting
    PortEdit()->setText("0443");
    pDlg->OnPortKillFocus();
    EXPECT_EQ(PortEdit()->text(), "443");  // leading zeros go
    PortEdit()->setText("0");
    EXPECT_EQ(pDlg->GetWebInterfacePort(), 0);
    // Only digits can be typed.
    PortEdit()->setText("");
    QTest::keyClicks(PortEdit(), "8a0-8.0");
    EXPECT_EQ(PortEdit()->text(), "8080");

    // A setting out of range shows 443; an empty edit then still uses the raw setting.
    ASSERT_TRUE(settings.WriteDword(os::ERegRoot::CurrentUser, CSettings::kSection, "Port", 70000));
    Open(false);
    EXPECT_EQ(PortEdit()->text(), "443");
    PortEdit()->setText("");
    EXPECT_EQ(pDlg->GetWebInterfacePort(), 70000 & 0xFFFF);
}

TEST_F(MainWindow, WebInterfaceOpensCapturedUrl)
{
    Open();
    pDlg->OnWebInterface();  // no focused row: nothing
    EXPECT_TRUE(vecOpened.empty());
    Focus(0);
    for (const char* pszPort : {"443", "8080", "4443"})
    {
        PortEdit()->setText(pszPort);
        pDlg->OnWebInterface();
    }
    PortEdit()->setText("99999");
    pDlg->OnWebInterface();  // invalid port: nothing
    ASSERT_EQ(vecOpened.size(), 3u);
    EXPECT_EQ(vecOpened[0].toString(), "https://10.0.0.1/");
    EXPECT_EQ(vecOpened[1].toString(), "http://10.0.0.1/");
    EXPECT_EQ(vecOpened[2].toString(), "https://10.0.0.1:4443/");
}

TEST_F(MainWindow, AddByAddressReplacesRowWithSameMacInPlace)
{
    Open();
    auto pAnswer = Device(3, "10.0.0.22", "00:0D:F8:00:00:02", "Renamed", "10.0.0.22:4742:32");
    {
        std::lock_guard<std::mutex> lock(finder.mtx);
        finder.pAnswer = std::move(pAnswer);
    }
    auto* pIp = static_cast<QLineEdit*>(pDlg->Control(CSICCTConfigDlg::IDC_IPADDRESS));
    pIp->setText("10.0.0.22");
    QSignalSpy spy(pDlg.get(), &CSICCTConfigDlg::workFinished);
    pDlg->OnAddTerminal();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(finder.nQueried.load(), 0x0A000016u);
    ASSERT_EQ(pDlg->RowCount(), 5);
    EXPECT_EQ(Cell(1, 1), "Renamed");
    EXPECT_EQ(Cell(1, 2), "10.0.0.22");
    EXPECT_EQ(pDlg->RowDevice(1)->GetName(), "Renamed");
    EXPECT_EQ(Cell(0, 1), "Maker");
    EXPECT_EQ(Cell(2, 1), "Keyboard0");

    // Another MAC: appended.
    {
        std::lock_guard<std::mutex> lock(finder.mtx);
        finder.pAnswer = Device(3, "10.0.0.30", "02:4E:7A:00:00:30", "New", "10.0.0.30:4742:32");
    }
    pIp->setText("10.0.0.30");
    pDlg->OnAddTerminal();
    ASSERT_TRUE(spy.wait(5000));
    ASSERT_EQ(pDlg->RowCount(), 6);
    EXPECT_EQ(Cell(5, 1), "New");

    // Nobody answers: nothing changes, no message. Address 0: not even a query.
    {
        std::lock_guard<std::mutex> lock(finder.mtx);
        finder.pAnswer.reset();
    }
    pDlg->OnAddTerminal();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(pDlg->RowCount(), 6);
    finder.nQueried = 0;
    pIp->setText("");
    pDlg->OnAddTerminal();
    EXPECT_FALSE(pDlg->IsSearching());
    EXPECT_EQ(finder.nQueried.load(), 0u);
    EXPECT_TRUE(vecMessages.empty());
}

TEST_F(MainWindow, ActionsWithoutFocusedRowSayNoTerminal)
{
    Open();
    Focus(-1);
    pDlg->OnFirmwareDownload();
    pDlg->OnCertificateDownload();
    pDlg->OnDiagnosis();
    pDlg->OnCertificateValidity();
    ASSERT_EQ(vecMessages.size(), 4u);
    for (const QString& s : vecMessages)
        EXPECT_EQ(s, QString::fromUtf8("Kein Terminal ausgewählt\n"));
    EXPECT_TRUE(launcher.vecCalls.empty());
    // With an invalid port the validity action does nothing at all.
    PortEdit()->setText("0");
    pDlg->OnCertificateValidity();
    EXPECT_EQ(vecMessages.size(), 4u);
}

TEST_F(MainWindow, ActionsPassDerivedArguments)
{
    ASSERT_TRUE(settings.WriteDword(os::ERegRoot::CurrentUser, CSettings::kSection, "Port", 8443));
    Open();
    Focus(0);
    pDlg->OnFirmwareDownload();
    EXPECT_EQ(launcher.lastDownload.nPort, 8443);
    EXPECT_EQ(launcher.lastDownload.nProtocolCode, 32);
    pDlg->OnCertificateDownload();
    EXPECT_EQ(launcher.lastDownload.strIp, "10.0.0.1");
    pDlg->OnDiagnosis();
    EXPECT_EQ(launcher.lastDiagnosis.nPort, 4742);  // the setting is not used here
    EXPECT_EQ(launcher.lastDiagnosis.record.Port(), 4742);
    EXPECT_EQ(launcher.lastDiagnosis.record.Protocol(), 32);
    EXPECT_EQ(launcher.lastDiagnosis.record.Name(), "Maker");
    pDlg->OnCertificateValidity();
    EXPECT_EQ(launcher.nLastWebPort, 8443);
    EXPECT_EQ(launcher.vecCalls, (std::vector<std::string>{"firmware", "certificates", "diagnosis", "validity"}));
}

TEST_F(MainWindow, BrowserFollowsResizeAndMinimumSizeIsFirstSize)
{
    Open(false);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pDlg.get()));
    const QSize sizeFirst = pDlg->size();
    EXPECT_EQ(pDlg->MinimumTrackSize(), sizeFirst);
    EXPECT_EQ(pDlg->minimumSize(), sizeFirst);
    CHtmlCtrl* pBrowser = pDlg->Browser();
    ASSERT_NE(pBrowser, nullptr);
    EXPECT_EQ(pBrowser->objectName(), "1077");
    pDlg->resize(sizeFirst.width() + 100, sizeFirst.height() + 60);
    QTRY_COMPARE(pDlg->size(), QSize(sizeFirst.width() + 100, sizeFirst.height() + 60));
    const QRect rect = pBrowser->geometry();
    const int nGroupTop = pDlg->Control(CSICCTConfigDlg::IDC_DEVICE_GROUP)->mapTo(pDlg.get(), QPoint(0, 0)).y();
    EXPECT_EQ(rect.width(), pDlg->width() - 2 * rect.left());
    EXPECT_EQ(rect.height(), pDlg->height() - rect.top() - nGroupTop);
}

TEST_F(MainWindow, F1OpensAbout)
{
    int nAbout = 0;
    CSICCTConfigDlg::SServices services;
    services.pFinder = &finder;
    services.bSearchAtStart = false;
    services.fnShowAbout = [&nAbout](QWidget*) { ++nAbout; };
    CSICCTConfigDlg dlg(services);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_F1);
    EXPECT_EQ(nAbout, 1);
}
