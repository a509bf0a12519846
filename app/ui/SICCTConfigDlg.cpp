#include "SICCTConfigDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "HtmlCtrl.h"
#include "MaintenanceArgs.h"
#include "MaintenanceLauncher.h"
#include "Settings.h"
#include "TerminalRules.h"
#include "Texts.h"
#include "Trace.h"

namespace
{
constexpr int kDialogId = 102;
constexpr const char* kNoTerminal = "Kein Terminal ausgewählt\n";

QString ControlText(int nControlId)
{
    const std::string_view sv = texts::ControlText(kDialogId, nControlId);
    return QString::fromUtf8(sv.data(), static_cast<qsizetype>(sv.size()));
}

struct SColumn
{
    const char* pszHeader;
    Qt::Alignment align;
    int nWidth;
};
// Header, alignment and width in pixels of the six list columns.
const SColumn kColumns[] = {
    {"Port", Qt::AlignHCenter, 40},
    {"Terminal Name", Qt::AlignLeft, 200},
    {"IP-Adresse", Qt::AlignHCenter, 120},
    {"MAC-Adresse", Qt::AlignHCenter, 120},
    {"Typ", Qt::AlignHCenter, 80},
    {"SICCT-Version", Qt::AlignHCenter, 100},
};
} // namespace

CSICCTConfigDlg::CSICCTConfigDlg(SServices services, QWidget* pParent)
    : QDialog(pParent), m_services(std::move(services))
{
    setWindowTitle(ControlText(0));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);
    setWindowIcon(QIcon(QStringLiteral(":/img/app_256.png")));
    BuildControls();

    // The port edit shows the setting when it is a port number, else 443.
    const uint32_t nSetting = m_services.pSettings ? m_services.pSettings->WebInterfacePort() : search::kDefaultWebPort;
    m_pPortEdit->setText(QString::number(search::InitialWebInterfacePort(nSetting)));

    // The actions and the list stay disabled until the first search has ended.
    for (int nId : {IDC_WEB_INTERFACE, IDC_DIAGNOSIS, IDC_FIRMWARE, IDC_CERTIFICATES, IDC_CERT_VALIDITY})
        m_mapControls[nId]->setEnabled(false);
    m_pList->setEnabled(false);
    OnShowStartPage();

    if (m_services.bSearchAtStart)
        QTimer::singleShot(0, this, &CSICCTConfigDlg::OnSearch);
}

CSICCTConfigDlg::~CSICCTConfigDlg()
{
    // A search in flight ends on the middleware's own time-outs; its queued result is
    // dropped by Qt together with this object.
    if (m_pPortEdit != nullptr)
        m_pPortEdit->removeEventFilter(this);
    if (m_worker.joinable())
        m_worker.join();
    if (m_bBusy)
        QApplication::restoreOverrideCursor();
    ClearTerminalList();
}

void CSICCTConfigDlg::BuildControls()
{
    m_pTop = new QWidget(this);
    auto* pTopLayout = new QHBoxLayout(m_pTop);
    pTopLayout->setContentsMargins(10, 10, 10, 0);

    // "&Gerät wählen": the list, search, and adding by address.
    m_pDeviceGroup = new QGroupBox(ControlText(IDC_DEVICE_GROUP), m_pTop);
    m_pDeviceGroup->setObjectName(QString::number(IDC_DEVICE_GROUP));
    auto* pDeviceLayout = new QVBoxLayout(m_pDeviceGroup);
    m_pList = new QTreeWidget(m_pDeviceGroup);
    m_pList->setObjectName(QString::number(IDC_TERMINAL_LIST));
    m_pList->setFixedSize(680, 153);
    SetupColumns();
    pDeviceLayout->addWidget(m_pList);

    auto* pRow = new QHBoxLayout;
    auto* pSearch = new QPushButton(ControlText(IDC_SEARCH), m_pDeviceGroup);
    pSearch->setDefault(true);
    pSearch->setAutoDefault(true);
    auto* pIpLabel = new QLabel(QStringLiteral("&Terminal IP Adresse:"), m_pDeviceGroup);
    m_pIpEdit = new QLineEdit(m_pDeviceGroup);
    m_pIpEdit->setObjectName(QString::number(IDC_IPADDRESS));
    m_pIpEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^(\\d{0,3})(\\.\\d{0,3}){0,3}$")), m_pIpEdit));
    m_pIpEdit->setFixedWidth(130);
    m_pIpEdit->setPlaceholderText(QStringLiteral("0.0.0.0"));
    pIpLabel->setBuddy(m_pIpEdit);
    auto* pAdd = new QPushButton(ControlText(IDC_ADD_TERMINAL), m_pDeviceGroup);
    pAdd->setAutoDefault(false);
    pRow->addWidget(pSearch);
    pRow->addStretch(1);
    pRow->addWidget(pIpLabel);
    pRow->addWidget(m_pIpEdit);
    pRow->addWidget(pAdd);
    pDeviceLayout->addLayout(pRow);
    pTopLayout->addWidget(m_pDeviceGroup, 0, Qt::AlignTop);

    // "Aktion wählen" with the five actions, the web-interface port below it (outside the
    // group, so that disabling the group never disables the port).
    auto* pRight = new QVBoxLayout;
    m_pActionGroup = new QGroupBox(ControlText(IDC_ACTION_GROUP), m_pTop);
    m_pActionGroup->setObjectName(QString::number(IDC_ACTION_GROUP));
    auto* pActionLayout = new QVBoxLayout(m_pActionGroup);
    const int aActions[] = {IDC_WEB_INTERFACE, IDC_DIAGNOSIS, IDC_FIRMWARE, IDC_CERTIFICATES, IDC_CERT_VALIDITY};
    for (int nId : aActions)
    {
        auto* pButton = new QPushButton(ControlText(nId), m_pActionGroup);
        pButton->setObjectName(QString::number(nId));
        pButton->setAutoDefault(false);
        pActionLayout->addWidget(pButton);
        m_mapControls[nId] = pButton;
    }
    pRight->addWidget(m_pActionGroup);
    auto* pPortLabel = new QLabel(QStringLiteral("Web-Interface &Port:"), m_pTop);
    m_pPortEdit = new QLineEdit(m_pTop);
    m_pPortEdit->setObjectName(QString::number(IDC_PORT));
    m_pPortEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[0-9]*$")), m_pPortEdit));
    m_pPortEdit->installEventFilter(this);
    pPortLabel->setBuddy(m_pPortEdit);
    pRight->addWidget(pPortLabel);
    pRight->addWidget(m_pPortEdit);
    pRight->addStretch(1);
    pTopLayout->addLayout(pRight);
    pTopLayout->addStretch(1);

    pSearch->setObjectName(QString::number(IDC_SEARCH));
    pAdd->setObjectName(QString::number(IDC_ADD_TERMINAL));
    m_mapControls[IDC_SEARCH] = pSearch;
    m_mapControls[IDC_ADD_TERMINAL] = pAdd;
    m_mapControls[IDC_IPADDRESS] = m_pIpEdit;
    m_mapControls[IDC_PORT] = m_pPortEdit;
    m_mapControls[IDC_TERMINAL_LIST] = m_pList;
    m_mapControls[IDC_DEVICE_GROUP] = m_pDeviceGroup;
    m_mapControls[IDC_ACTION_GROUP] = m_pActionGroup;

    connect(pSearch, &QPushButton::clicked, this, &CSICCTConfigDlg::OnSearch);
    connect(pAdd, &QPushButton::clicked, this, &CSICCTConfigDlg::OnAddTerminal);
    connect(static_cast<QPushButton*>(m_mapControls[IDC_WEB_INTERFACE]), &QPushButton::clicked, this,
            &CSICCTConfigDlg::OnWebInterface);
    connect(static_cast<QPushButton*>(m_mapControls[IDC_DIAGNOSIS]), &QPushButton::clicked, this,
            &CSICCTConfigDlg::OnDiagnosis);
    connect(static_cast<QPushButton*>(m_mapControls[IDC_FIRMWARE]), &QPushButton::clicked, this,
            &CSICCTConfigDlg::OnFirmwareDownload);
    connect(static_cast<QPushButton*>(m_mapControls[IDC_CERTIFICATES]), &QPushButton::clicked, this,
            &CSICCTConfigDlg::OnCertificateDownload);
    connect(static_cast<QPushButton*>(m_mapControls[IDC_CERT_VALIDITY]), &QPushButton::clicked, this,
            &CSICCTConfigDlg::OnCertificateValidity);
    // A change of the focused row (not of the selection alone) updates the actions.
    connect(m_pList, &QTreeWidget::currentItemChanged, this, [this] { UpdateActionButtons(); });

    m_pTop->adjustSize();
    m_pTop->setFixedSize(m_pTop->sizeHint());

    // The browser replaces its placeholder below the top area; without it the lower area
    // stays empty and the window works on.
    auto* pPlaceholder = new QWidget(this);
    pPlaceholder->setObjectName(QString::number(IDC_BROWSER));
    pPlaceholder->setGeometry(10, m_pTop->height() + 10, 841, 487);
    m_pBrowser = new CHtmlCtrl(this);
    if (!m_pBrowser->CreateFromPlaceholder(pPlaceholder))
    {
        delete m_pBrowser;
        m_pBrowser = nullptr;
    }
    resize(m_pTop->width() > 861 ? m_pTop->width() : 861, m_pTop->height() + 10 + 487 + 10);
}

void CSICCTConfigDlg::SetupColumns()
{
    m_pList->setColumnCount(static_cast<int>(std::size(kColumns)));
    QStringList listHeaders;
    for (const SColumn& col : kColumns)
        listHeaders << QString::fromUtf8(col.pszHeader);
    m_pList->setHeaderLabels(listHeaders);
    QTreeWidgetItem* pHeader = m_pList->headerItem();
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
    {
        pHeader->setTextAlignment(i, kColumns[i].align | Qt::AlignVCenter);
        m_pList->setColumnWidth(i, kColumns[i].nWidth);
    }
    // The last column takes its header's width and whatever width is left.
    m_pList->header()->setStretchLastSection(true);
    m_pList->header()->setSectionsClickable(false);
    m_pList->header()->setSectionsMovable(false);
    m_pList->setRootIsDecorated(false);
    m_pList->setItemsExpandable(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
    m_pList->setSortingEnabled(false);
    m_pList->setAllColumnsShowFocus(true);
}

QWidget* CSICCTConfigDlg::Control(int nId) const
{
    const auto it = m_mapControls.find(nId);
    return it == m_mapControls.end() ? nullptr : it->second;
}

const CDeviceInfo* CSICCTConfigDlg::RowDevice(int nRow) const
{
    if (nRow < 0 || nRow >= RowCount())
        return nullptr;
    return m_vecRows[static_cast<size_t>(nRow)].get();
}

int CSICCTConfigDlg::FocusedRow() const
{
    QTreeWidgetItem* pItem = m_pList->currentItem();
    return pItem ? m_pList->indexOfTopLevelItem(pItem) : -1;
}

const CDeviceInfo* CSICCTConfigDlg::FocusedDevice(bool& bHasRow) const
{
    const int nRow = FocusedRow();
    bHasRow = nRow >= 0;
    return RowDevice(nRow);
}

// --- list rows ---------------------------------------------------------------------------

QTreeWidgetItem* CSICCTConfigDlg::MakeItem(const CDeviceInfo& device) const
{
    auto* pItem = new QTreeWidgetItem;
    pItem->setText(0, QString::fromStdString(search::PortColumnText(device.GetPort())));
    pItem->setText(1, QString::fromStdString(device.GetName()));
    pItem->setText(2, QString::fromStdString(device.GetIpAddress()));
    pItem->setText(3, QString::fromStdString(device.GetMacAddress()));
    pItem->setText(4, QString::fromStdString(search::ConnectionTypeLabel(device.GetConnectionType(),
                                                                          device.GetMacAddress())));
    pItem->setText(5, QString::fromStdString(search::SicctVersionText(device.GetSicctVersion())));
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        pItem->setTextAlignment(i, kColumns[i].align | Qt::AlignVCenter);
    return pItem;
}

bool CSICCTConfigDlg::AddTerminalRow(std::unique_ptr<CDeviceInfo> pDevice, int nIndex)
{
    if (!pDevice)
        return false;
    if (nIndex < 0 || nIndex > RowCount())
        nIndex = RowCount();
    m_pList->insertTopLevelItem(nIndex, MakeItem(*pDevice));
    m_vecRows.insert(m_vecRows.begin() + nIndex, std::move(pDevice));
    return true;
}

void CSICCTConfigDlg::ReplaceOrAddTerminalRow(std::unique_ptr<CDeviceInfo> pDevice)
{
    if (!pDevice)
        return;  // nobody answered: nothing is added, no message
    const int nRow = search::FindRowByMac(m_vecRows, pDevice->GetMacAddress());
    if (nRow >= 0)
    {
        // The old row goes, the new one takes its index.
        delete m_pList->takeTopLevelItem(nRow);
        m_vecRows.erase(m_vecRows.begin() + nRow);
        AddTerminalRow(std::move(pDevice), nRow);
    }
    else
    {
        AddTerminalRow(std::move(pDevice), -1);
    }
}

void CSICCTConfigDlg::ClearTerminalList()
{
    if (m_pList != nullptr)
        m_pList->clear();
    m_vecRows.clear();
}

// --- search and add ----------------------------------------------------------------------

void CSICCTConfigDlg::SetBusy(bool bBusy)
{
    if (bBusy == m_bBusy)
        return;
    m_bBusy = bBusy;
    if (bBusy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
    for (int nId : {IDC_SEARCH, IDC_ADD_TERMINAL, IDC_IPADDRESS})
        m_mapControls[nId]->setEnabled(!bBusy);
    if (bBusy)
        m_pList->setEnabled(false);
    UpdateActionButtons();
}

void CSICCTConfigDlg::StartWork(std::function<search::DeviceList()> fnWork,
                                std::function<void(search::DeviceList)> fnDone)
{
    SetBusy(true);
    m_fnDone = std::move(fnDone);
    m_worker = std::thread([this, fnWork = std::move(fnWork)] {
        auto pResult = std::make_shared<search::DeviceList>();
        try
        {
            *pResult = fnWork();
        }
        catch (...)
        {
            TC_TRACE("Search", trace::LEVEL_ERROR, "search ended by an exception", 0);
            pResult->clear();
        }
        QMetaObject::invokeMethod(this, [this, pResult] { FinishWork(std::move(*pResult)); }, Qt::QueuedConnection);
    });
}

void CSICCTConfigDlg::FinishWork(search::DeviceList vecResult)
{
    if (m_worker.joinable())
        m_worker.join();  // it has posted its result and is ending
    auto fnDone = std::move(m_fnDone);
    m_fnDone = nullptr;
    SetBusy(false);
    if (fnDone)
        fnDone(std::move(vecResult));
    emit workFinished();
}

void CSICCTConfigDlg::OnSearch()
{
    if (m_bBusy || m_services.pFinder == nullptr)
        return;
    OnShowStartPage();
    m_pList->setEnabled(false);
    ClearTerminalList();
    CTerminalFinder* pFinder = m_services.pFinder;
    StartWork([pFinder] { return search::RunSearch(*pFinder); },
              [this](search::DeviceList vecFound) {
                  for (auto& pDevice : vecFound)
                      AddTerminalRow(std::move(pDevice), -1);
                  m_pList->setEnabled(true);
                  UpdateActionButtons();
              });
}

uint32_t CSICCTConfigDlg::GetIpAddress() const
{
    // Like an address control: blank fields count as 0, any field above 255 makes it invalid.
    const QStringList listFields = m_pIpEdit->text().split(QLatin1Char('.'));
    if (listFields.size() > 4)
        return 0;
    uint32_t nAddress = 0;
    for (int i = 0; i < 4; ++i)
    {
        uint32_t nField = 0;
        if (i < listFields.size() && !listFields[i].isEmpty())
        {
            bool bOk = false;
            nField = listFields[i].toUInt(&bOk);
            if (!bOk || nField > 255)
                return 0;
        }
        nAddress = nAddress << 8 | nField;
    }
    return nAddress;
}

void CSICCTConfigDlg::OnAddTerminal()
{
    if (m_bBusy || m_services.pFinder == nullptr)
        return;
    const uint32_t nAddress = GetIpAddress();
    if (nAddress == 0)
        return;
    CTerminalFinder* pFinder = m_services.pFinder;
    StartWork(
        [pFinder, nAddress] {
            search::DeviceList vec;
            vec.push_back(pFinder->QueryTerminalByAddress(nAddress));
            return vec;
        },
        [this, nAddress](search::DeviceList vec) {
            const CDeviceInfo* pAnswer = vec.empty() ? nullptr : vec.front().get();
            const std::string strLine =
                pAnswer != nullptr ? "terminal added by address: " + pAnswer->GetIpAddress() + ", MAC " +
                                         pAnswer->GetMacAddress() + ", " + pAnswer->GetName()
                                   : "no answer from " + search::Ipv4ToText(nAddress);
            TC_TRACE("Search", trace::LEVEL_INFO, strLine.c_str(), 0);
            if (!vec.empty())
                ReplaceOrAddTerminalRow(std::move(vec.front()));
            m_pList->setEnabled(true);
            UpdateActionButtons();
        });
}

// --- actions -----------------------------------------------------------------------------

void CSICCTConfigDlg::UpdateActionButtons()
{
    bool bHasRow = false;
    const CDeviceInfo* pDevice = m_bBusy ? nullptr : FocusedDevice(bHasRow);
    const int aAll[] = {IDC_ACTION_GROUP, IDC_WEB_INTERFACE, IDC_DIAGNOSIS, IDC_FIRMWARE, IDC_CERTIFICATES,
                        IDC_CERT_VALIDITY};
    if (pDevice == nullptr)
    {
        for (int nId : aAll)
            m_mapControls[nId]->setEnabled(false);
        return;
    }
    const bool bWeb = !pDevice->GetIpAddress().empty() && GetWebInterfacePort() != 0;
    m_pActionGroup->setEnabled(true);
    m_mapControls[IDC_DIAGNOSIS]->setEnabled(true);
    m_mapControls[IDC_FIRMWARE]->setEnabled(true);
    const int nType = pDevice->GetConnectionType();
    if (nType == search::CONN_HID_UNSECURE || nType == search::CONN_HID_SECURE)
    {
        // A USB keyboard has no web interface and no certificates of its own to manage.
        m_mapControls[IDC_WEB_INTERFACE]->setEnabled(false);
        m_mapControls[IDC_CERTIFICATES]->setEnabled(false);
        m_mapControls[IDC_CERT_VALIDITY]->setEnabled(false);
    }
    else
    {
        m_mapControls[IDC_WEB_INTERFACE]->setEnabled(bWeb);
        m_mapControls[IDC_CERTIFICATES]->setEnabled(true);
        m_mapControls[IDC_CERT_VALIDITY]->setEnabled(bWeb);
    }
}

uint16_t CSICCTConfigDlg::GetWebInterfacePort() const
{
    const uint32_t nSetting =
        m_services.pSettings
            ? m_services.pSettings->ReadDword(os::ERegRoot::CurrentUser, CSettings::kSection, "Port", search::kDefaultWebPort)
            : search::kDefaultWebPort;
    return search::WebInterfacePortFromText(m_pPortEdit->text().toStdString(), nSetting);
}

void CSICCTConfigDlg::OnPortKillFocus()
{
    const uint16_t nPort = GetWebInterfacePort();
    if (nPort == 0)
    {
        // The user must correct the port before leaving the field. Re-focusing is deferred:
        // taking the focus back inside its own focus-out event confuses the focus chain.
        m_pPortEdit->selectAll();
        QTimer::singleShot(0, m_pPortEdit, [pEdit = m_pPortEdit] {
            if (!pEdit->isActiveWindow())
                return;  // focus went to another window (a message box): do not fight it
            pEdit->setFocus(Qt::OtherFocusReason);
            pEdit->selectAll();
        });
        UpdateActionButtons();
        return;
    }
    if (!m_pPortEdit->text().isEmpty())
        m_pPortEdit->setText(QString::number(nPort));  // "0443" becomes "443"
    UpdateActionButtons();
}

void CSICCTConfigDlg::OnWebInterface()
{
    bool bHasRow = false;
    const CDeviceInfo* pDevice = FocusedDevice(bHasRow);
    if (!bHasRow)
        return;
    if (pDevice == nullptr)
    {
        OnShowStartPage();
        return;
    }
    const uint16_t nPort = GetWebInterfacePort();
    if (nPort == 0)
        return;
    const std::string strUrl = search::WebInterfaceUrl(pDevice->GetIpAddress(), nPort);
    if (strUrl.empty())
        return;
    const QUrl url(QString::fromStdString(strUrl));
    if (m_services.fnOpenUrl)
        m_services.fnOpenUrl(url);
    else
        QDesktopServices::openUrl(url);
}

const CDeviceInfo* CSICCTConfigDlg::ActionDevice()
{
    bool bHasRow = false;
    const CDeviceInfo* pDevice = FocusedDevice(bHasRow);
    if (!bHasRow)
    {
        ShowMessage(QString::fromUtf8(kNoTerminal));
        return nullptr;
    }
    return m_services.pLauncher != nullptr ? pDevice : nullptr;
}

void CSICCTConfigDlg::OnFirmwareDownload()
{
    const CDeviceInfo* pDevice = ActionDevice();
    if (pDevice == nullptr)
        return;
    const uint32_t nSetting = m_services.pSettings ? m_services.pSettings->Port() : 0;
    m_services.pLauncher->OpenFirmwareDownload(this, search::MakeDownloadArgs(*pDevice, nSetting));
}

void CSICCTConfigDlg::OnCertificateDownload()
{
    const CDeviceInfo* pDevice = ActionDevice();
    if (pDevice == nullptr)
        return;
    const uint32_t nSetting = m_services.pSettings ? m_services.pSettings->Port() : 0;
    m_services.pLauncher->OpenCertificateDownload(this, search::MakeDownloadArgs(*pDevice, nSetting));
}

void CSICCTConfigDlg::OnDiagnosis()
{
    const CDeviceInfo* pDevice = ActionDevice();
    if (pDevice == nullptr)
        return;
    m_services.pLauncher->OpenDiagnosis(this, search::MakeDiagnosisArgs(*pDevice));
}

void CSICCTConfigDlg::OnCertificateValidity()
{
    const uint16_t nPort = GetWebInterfacePort();
    if (nPort == 0)
        return;
    const CDeviceInfo* pDevice = ActionDevice();
    if (pDevice == nullptr)
        return;
    m_services.pLauncher->OpenCertificateValidity(this, *pDevice, nPort);
}

void CSICCTConfigDlg::OnShowStartPage()
{
    if (m_pBrowser != nullptr)
        m_pBrowser->LoadFromResource(CHtmlCtrl::kStartPageId);
}

void CSICCTConfigDlg::OnAbout()
{
    if (m_services.fnShowAbout)
        m_services.fnShowAbout(this);
}

void CSICCTConfigDlg::ShowMessage(const QString& strText)
{
    if (m_services.fnMessage)
    {
        m_services.fnMessage(strText);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), strText, QMessageBox::Ok, this);
    box.exec();
}

// --- window events -----------------------------------------------------------------------

void CSICCTConfigDlg::showEvent(QShowEvent* pEvent)
{
    QDialog::showEvent(pEvent);
    if (m_bFirstShow)
    {
        // The window may grow but never shrink below its first size.
        m_bFirstShow = false;
        m_sizeMinTrack = size();
        setMinimumSize(m_sizeMinTrack);
    }
}

void CSICCTConfigDlg::LayoutBrowser()
{
    if (m_pBrowser == nullptr || m_pDeviceGroup == nullptr)
        return;
    // Same margin left and right as the browser's left edge, and below it as much room as
    // the device group has above it.
    const QPoint ptGroup = m_pDeviceGroup->mapTo(this, QPoint(0, 0));
    const QRect rect = m_pBrowser->geometry();
    const int nWidth = width() - 2 * rect.left();
    const int nHeight = height() - rect.top() - ptGroup.y();
    if (nWidth > 0 && nHeight > 0)
        m_pBrowser->resize(nWidth, nHeight);
}

void CSICCTConfigDlg::resizeEvent(QResizeEvent* pEvent)
{
    QDialog::resizeEvent(pEvent);
    LayoutBrowser();
}

void CSICCTConfigDlg::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_F1)
    {
        OnAbout();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

void CSICCTConfigDlg::contextMenuEvent(QContextMenuEvent* pEvent)
{
    // Stands in for the window menu entry of the original platform.
    if (m_services.strAboutEntry.isEmpty())
        return;
    QMenu menu(this);
    menu.addAction(m_services.strAboutEntry, this, &CSICCTConfigDlg::OnAbout);
    menu.exec(pEvent->globalPos());
}

bool CSICCTConfigDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched == m_pPortEdit && pEvent->type() == QEvent::FocusOut)
        OnPortKillFocus();
    return QDialog::eventFilter(pWatched, pEvent);
}

void CSICCTConfigDlg::closeEvent(QCloseEvent* pEvent)
{
    // While a search runs the window takes no input, closing included.
    if (m_bBusy)
    {
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}

void CSICCTConfigDlg::reject()
{
    if (m_bBusy)
        return;
    QDialog::reject();
}
