#include "DiagnosticsDialog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "DiagnosisExport.h"
#include "DiagnosisRules.h"
#include "DiagnosisRun.h"
#include "DialogKit.h"
#include "LogEdit.h"
#include "PictureEx.h"
#include "QtWorkerSink.h"
#include "ReportText.h"
#include "SessionSettings.h"
#include "Settings.h"

namespace
{
constexpr const char* kInfoGroup = "Geräte-Informationen";
constexpr const char* kManufacturerLabel = "Hersteller:";
constexpr const char* kTypeLabel = "Typ:";
constexpr const char* kFirmwareLabel = "Firmware Version:";
constexpr const char* kSicctLabel = "SICCT Version:";
constexpr const char* kCancelText = "&Abbrechen";
constexpr const char* kLogShown = "<< &Log";
constexpr const char* kLogHidden = "&Log >>";
constexpr const char* kLibraryFilter = "Dynamic-Link-Libraries (*.so *.so.* *.dll)";
constexpr const char* kExportFilter = "XML-Datei (*.xml)";
constexpr const char* kExportName = "diagnose_logfile";
constexpr const char* kExportSuffix = "xml";

QString Hex2(uint8_t n)
{
    char sz[4];
    std::snprintf(sz, sizeof sz, "%.2X", n);
    return QString::fromLatin1(sz);
}

QString FromTerminal(const std::string& strBytes)
{
    return QString::fromStdString(diagrun::Latin1ToUtf8(strBytes));
}

/// Hands the run's results to the dialog's thread in the order they are found.
class CQueuedObserver final : public CDiagnosisObserver
{
public:
    using FnCleared = std::function<void()>;
    using FnManufacturer = std::function<void(const ManufacturerInfo&, const std::string&)>;
    using FnUnit = std::function<void(size_t, const SDiagUnit&)>;

    CQueuedObserver(std::shared_ptr<CQtWorkerSink> pSink, FnCleared fnCleared, FnManufacturer fnManufacturer,
                    FnUnit fnUnit)
        : m_pSink(std::move(pSink)), m_fnCleared(std::move(fnCleared)), m_fnManufacturer(std::move(fnManufacturer)),
          m_fnUnit(std::move(fnUnit))
    {
    }
    void OnCleared() override { m_pSink->PostCall([fn = m_fnCleared] { fn(); }); }
    void OnManufacturer(const ManufacturerInfo& info, const std::string& strType) override
    {
        m_pSink->PostCall([fn = m_fnManufacturer, info, strType] { fn(info, strType); });
    }
    void OnUnit(size_t nRow, const SDiagUnit& unit) override
    {
        m_pSink->PostCall([fn = m_fnUnit, nRow, unit] { fn(nRow, unit); });
    }

private:
    std::shared_ptr<CQtWorkerSink> m_pSink;
    FnCleared m_fnCleared;
    FnManufacturer m_fnManufacturer;
    FnUnit m_fnUnit;
};
} // namespace

CDiagnosticsDialog::CDiagnosticsDialog(const search::SDiagnosisArgs& args, const SDialogServices& services,
                                       QWidget* pParent)
    : QDialog(pParent), m_args(args), m_services(services)
{
    m_nSicctVersion = diagrun::EffectiveSicctVersion(m_args.record.Version());
    m_bCtApi = CDiagnosisRun::UsesCtApi(m_args.nConnectionType);
    m_pSink = std::make_shared<CQtWorkerSink>(this, [this](const SWorkerMessage& msg) { OnWorkerMessage(msg); });
    BuildControls();

    CSettings settings(*m_services.pStore);
    m_pSicctVersion->setText(QString::fromStdString(diagrun::VersionText(m_nSicctVersion)));
    SetStatusIcon(wm::ICON_GREEN);
    m_pBusy->LoadFromResource(CPictureEx::kBusyResourceId, CPictureEx::kBusyResourceType);
    m_pBusy->hide();
    if (m_bCtApi)
        m_pCtApiEdit->setText(dlgkit::Utf8(settings.CtApi()));
    for (QWidget* p : {static_cast<QWidget*>(m_pCtApiEdit), static_cast<QWidget*>(m_pCtApiLabel),
                       static_cast<QWidget*>(m_pCtApiBrowse)})
        p->setVisible(m_bCtApi);
    ShowLog(settings.ShowDiagnosticsLogOnInit(), false);
}

CDiagnosticsDialog::~CDiagnosticsDialog()
{
    if (m_pCancel)
        *m_pCancel = true;
    (void)m_worker.Release(kCloseWaitMs);
    m_pSink->Detach();
    m_pBusy->ReleasePicture();
}

void CDiagnosticsDialog::BuildControls()
{
    setWindowTitle(dlgkit::ControlText(kDialogId, 0));
    auto Named = [](QWidget* pWidget, int nId) { pWidget->setObjectName(QString::number(nId)); };
    auto* pLayout = new QVBoxLayout(this);

    auto* pTop = new QHBoxLayout;
    auto* pInfo = new QGroupBox(QString::fromUtf8(kInfoGroup), this);
    auto* pGrid = new QGridLayout(pInfo);
    auto AddValue = [&](int nRow, int nCol, const char* pszLabel, QLabel*& pValue, int nId) {
        pGrid->addWidget(new QLabel(QString::fromUtf8(pszLabel), pInfo), nRow, nCol);
        pValue = new QLabel(pInfo);
        pValue->setMinimumWidth(110);
        pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Named(pValue, nId);
        pGrid->addWidget(pValue, nRow, nCol + 1);
    };
    AddValue(0, 0, kManufacturerLabel, m_pManufacturer, IDC_MANUFACTURER);
    AddValue(0, 2, kTypeLabel, m_pType, IDC_TYPE);
    AddValue(1, 0, kFirmwareLabel, m_pFirmware, IDC_FIRMWARE);
    AddValue(1, 2, kSicctLabel, m_pSicctVersion, IDC_SICCT_VERSION);
    pTop->addWidget(pInfo, 1);
    auto* pRunBox = new QVBoxLayout;
    m_pRefresh = new QPushButton(dlgkit::ControlText(kDialogId, IDC_REFRESH), this);
    Named(m_pRefresh, IDC_REFRESH);
    pRunBox->addWidget(m_pRefresh);
    auto* pIconRow = new QHBoxLayout;
    pIconRow->addStretch();
    m_pStatusIcon = new QLabel(this);
    m_pStatusIcon->setFixedSize(32, 32);
    Named(m_pStatusIcon, IDC_STATUS_ICON);
    m_pBusy = new CPictureEx(this);
    Named(m_pBusy, IDC_BUSY);
    pIconRow->addWidget(m_pStatusIcon);
    pIconRow->addWidget(m_pBusy);
    pIconRow->addStretch();
    pRunBox->addLayout(pIconRow);
    pRunBox->addStretch();
    pTop->addLayout(pRunBox);
    pLayout->addLayout(pTop);

    auto* pCtApiRow = new QHBoxLayout;
    m_pCtApiLabel = new QLabel(dlgkit::ControlText(kDialogId, IDC_CTAPI_LABEL), this);
    Named(m_pCtApiLabel, IDC_CTAPI_LABEL);
    m_pCtApiEdit = new QLineEdit(this);
    Named(m_pCtApiEdit, IDC_CTAPI_PATH);
    m_pCtApiLabel->setBuddy(m_pCtApiEdit);
    m_pCtApiBrowse = new QPushButton(dlgkit::ControlText(kDialogId, IDC_CTAPI_BROWSE), this);
    Named(m_pCtApiBrowse, IDC_CTAPI_BROWSE);
    pCtApiRow->addWidget(m_pCtApiLabel);
    pCtApiRow->addWidget(m_pCtApiEdit, 1);
    pCtApiRow->addWidget(m_pCtApiBrowse);
    pLayout->addLayout(pCtApiRow);

    auto* pLists = new QHBoxLayout;
    m_pUnits = new QTreeWidget(this);
    Named(m_pUnits, IDC_UNIT_LIST);
    m_pUnits->setColumnCount(4);
    m_pUnits->setHeaderLabels({QString(), QStringLiteral("Name"), QStringLiteral("Typ"), QStringLiteral("#")});
    m_pUnits->setRootIsDecorated(false);
    m_pUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pUnits->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pUnits->setIconSize(QSize(16, 16));
    const int aUnitWidths[] = {36, 67 + 40, 30, 30};
    for (int i = 0; i < 4; ++i)
        m_pUnits->setColumnWidth(i, aUnitWidths[i]);
    m_pUnits->setMinimumWidth(36 + 107 + 30 + 30 + 8);
    m_pValues = new QTreeWidget(this);
    Named(m_pValues, IDC_VALUE_LIST);
    m_pValues->setColumnCount(2);
    m_pValues->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Wert")});
    m_pValues->setRootIsDecorated(false);
    m_pValues->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pValues->setColumnWidth(0, 245);
    m_pValues->setColumnWidth(1, 80);
    m_pValues->setMinimumWidth(245 + 80 + 8);
    m_pUnits->setMinimumHeight(240);
    pLists->addWidget(m_pUnits);
    pLists->addWidget(m_pValues, 1);
    pLayout->addLayout(pLists, 1);

    m_pLog = new CLogEdit(this);
    Named(m_pLog, IDC_LOG);
    m_pLog->setMinimumHeight(120);
    pLayout->addWidget(m_pLog);

    auto* pButtons = new QHBoxLayout;
    m_pExport = new QPushButton(dlgkit::ControlText(kDialogId, IDC_EXPORT), this);
    Named(m_pExport, IDC_EXPORT);
    m_pClose = new QPushButton(dlgkit::ControlText(kDialogId, IDC_CLOSE), this);
    Named(m_pClose, IDC_CLOSE);
    m_pLogToggle = new QPushButton(QString::fromUtf8(kLogShown), this);
    Named(m_pLogToggle, IDC_LOG_TOGGLE);
    pButtons->addWidget(m_pExport);
    pButtons->addStretch();
    pButtons->addWidget(m_pClose);
    pButtons->addWidget(m_pLogToggle);
    pLayout->addLayout(pButtons);

    connect(m_pRefresh, &QPushButton::clicked, this, &CDiagnosticsDialog::OnRefresh);
    connect(m_pCtApiBrowse, &QPushButton::clicked, this, &CDiagnosticsDialog::OnBrowseCtApi);
    connect(m_pExport, &QPushButton::clicked, this, &CDiagnosticsDialog::OnExport);
    connect(m_pClose, &QPushButton::clicked, this, &CDiagnosticsDialog::reject);
    connect(m_pLogToggle, &QPushButton::clicked, this, &CDiagnosticsDialog::OnToggleLog);
    connect(m_pUnits, &QTreeWidget::itemSelectionChanged, this, &CDiagnosticsDialog::OnUnitSelected);
}

void CDiagnosticsDialog::OnRefresh()
{
    if (m_bRunning)
    {
        // Cancel: the run stops at its next check and reports its end.
        m_pRefresh->setEnabled(false);
        m_pRefresh->setText(dlgkit::ControlText(kDialogId, IDC_REFRESH));
        if (m_pCancel)
            *m_pCancel = true;
        return;
    }

    SDiagnosisParams params;
    params.record = m_args.record;
    params.nPort = m_args.nPort;
    params.nConnectionType = m_args.nConnectionType;
    params.strUser = m_args.strText1;
    params.strPassword = m_args.strText2;
    params.strCtApiPath = dlgkit::ToStd(m_pCtApiEdit->text());
    if (!CDiagnosisRun::CtApiLibraryUsable(params))
    {
        SetStatusIcon(wm::ICON_RED);
        dlgkit::Message(m_services, this, QMessageBox::Critical, QString::fromUtf8(runtexts::kCtApiLibraryMissing));
        return;
    }
    // A worker that still runs after its end was posted is given a moment; it is never
    // killed, and no second run starts beside it.
    if (!m_worker.Wait(kRestartWaitMs))
        return;

    m_result = SDiagnosisResult{};
    m_vecUnits.clear();
    m_pUnits->clear();
    m_pValues->clear();
    m_dots.Reset();

    auto pCancel = std::make_shared<std::atomic<bool>>(false);
    auto pSink = m_pSink;
    os::CSettingsStore* pStore = m_services.pStore;
    os::CLibraryLoader* pLoader = m_services.pLoader;
    const SSessionTiming timing = m_services.timing;
    const bool bStarted = m_worker.Start([this, pCancel, pSink, pStore, pLoader, timing, params] {
        CSettings settings(*pStore);
        const CSessionSettingsOf<CSettings> sessionSettings(settings);
        CQueuedObserver observer(
            pSink, [this] { OnCleared(); },
            [this](const ManufacturerInfo& info, const std::string& strType) { OnManufacturer(info, strType); },
            [this](size_t nRow, const SDiagUnit& unit) { OnUnit(nRow, unit); });
        CDiagnosisRun run(*pSink, &sessionSettings, *pLoader, timing);
        run.SetObserver(&observer);
        SDiagnosisResult result;
        const ERunEnd eEnd = run.Run(params, *pCancel, result);
        pSink->PostCall([this, eEnd, result = std::move(result)] { OnRunEnded(eEnd, result); });
    });
    if (!bStarted)
        return;
    m_pCancel = pCancel;
    m_bRunning = true;
    m_pRefresh->setText(QString::fromUtf8(kCancelText));
}

void CDiagnosticsDialog::OnRunEnded(ERunEnd eEnd, const SDiagnosisResult& result)
{
    m_result = result;
    m_eLastEnd = eEnd;
    ++m_nRunsEnded;
    m_bRunning = false;
    m_pRefresh->setText(dlgkit::ControlText(kDialogId, IDC_REFRESH));
    m_pRefresh->setEnabled(true);
    (void)m_worker.Wait(kRestartWaitMs);
}

void CDiagnosticsDialog::OnCleared()
{
    m_vecUnits.clear();
    m_pUnits->clear();
    m_pValues->clear();
    m_pManufacturer->clear();
    m_pType->clear();
    m_pFirmware->clear();
}

void CDiagnosticsDialog::OnManufacturer(const ManufacturerInfo& info, const std::string& strType)
{
    m_pFirmware->setText(FromTerminal(info.strVersion));
    m_pManufacturer->setText(FromTerminal(info.strManufacturer));
    m_pType->setText(FromTerminal(strType));
}

void CDiagnosticsDialog::OnUnit(size_t nRow, const SDiagUnit& unit)
{
    if (nRow != m_vecUnits.size())
        return;  // rows arrive in order; anything else belongs to no row of this list
    m_vecUnits.push_back(unit);
    auto* pItem = new QTreeWidgetItem;
    pItem->setIcon(0, QIcon(dlgkit::UnitImage(unit.Image())));
    pItem->setText(1, FromTerminal(unit.strName));
    pItem->setText(2, Hex2(unit.nTypeByte));
    pItem->setText(3, Hex2(unit.nNumberByte));
    pItem->setData(0, Qt::UserRole, static_cast<qulonglong>(nRow));
    m_pUnits->addTopLevelItem(pItem);
    if (m_pUnits->topLevelItemCount() == 1)
        m_pUnits->setCurrentItem(pItem);
}

void CDiagnosticsDialog::OnUnitSelected()
{
    m_pValues->clear();
    const QList<QTreeWidgetItem*> vecSelected = m_pUnits->selectedItems();
    if (vecSelected.isEmpty())
        return;
    const size_t nIndex = vecSelected.first()->data(0, Qt::UserRole).toULongLong();
    if (nIndex >= m_vecUnits.size())
        return;
    for (const SValueRow& row : diagrun::ValueRows(m_vecUnits[nIndex]))
    {
        auto* pItem = new QTreeWidgetItem({QString::fromStdString(row.strName), QString::fromStdString(row.strValue)});
        if (row.bHeading)
        {
            QFont font = pItem->font(0);
            font.setBold(true);
            pItem->setFont(0, font);
        }
        m_pValues->addTopLevelItem(pItem);
    }
    if (m_pValues->topLevelItemCount() > 0)
        m_pValues->setCurrentItem(m_pValues->topLevelItem(0));
}

void CDiagnosticsDialog::OnBrowseCtApi()
{
    const QString strPath = dlgkit::OpenFile(m_services, this, dlgkit::ControlText(kDialogId, 0),
                                             QString::fromUtf8(kLibraryFilter), QString::fromUtf8(kLibraryFilter),
                                             m_pCtApiEdit->text());
    if (!strPath.isEmpty())
    {
        CSettings(*m_services.pStore).SetCtApi(dlgkit::ToStd(strPath));
        m_pCtApiEdit->setText(strPath);
    }
    m_pRefresh->setEnabled(true);
}

SExportInput CDiagnosticsDialog::ExportInput() const
{
    SExportInput input;
    input.record = m_args.record;
    input.nSicctVersion = m_nSicctVersion;
    input.result = m_result;
    input.settings = SExportSettings::From(CSettings(*m_services.pStore));
    return input;
}

std::string CDiagnosticsDialog::ExportText() const
{
    return CDiagnosisExport::ToString(ExportInput());
}

void CDiagnosticsDialog::OnExport()
{
    QString strPath = dlgkit::SaveFile(m_services, this, dlgkit::ControlText(kDialogId, IDC_EXPORT).remove('&'),
                                       QString::fromUtf8(kExportFilter), QString::fromUtf8(kExportName),
                                       QString::fromUtf8(kExportSuffix));
    if (strPath.isEmpty())
        return;
    if (QFileInfo(strPath).suffix().isEmpty())
        strPath += QStringLiteral(".xml");
    // A file that cannot be written leaves nothing behind (the export removes a partial one).
    (void)CDiagnosisExport::WriteFile(dlgkit::ToStd(strPath), ExportInput());
}

void CDiagnosticsDialog::OnToggleLog()
{
    ShowLog(!m_bLogShown, true);
    CSettings(*m_services.pStore).SetShowDiagnosticsLogOnInit(m_bLogShown);
}

void CDiagnosticsDialog::ShowLog(bool bShow, bool bResize)
{
    const bool bChanged = bShow != m_pLog->isVisibleTo(this) || !bResize;
    m_bLogShown = bShow;
    m_pLogToggle->setText(QString::fromUtf8(bShow ? kLogShown : kLogHidden));
    if (!bChanged)
        return;
    // The window grows or shrinks by the pane, half of it at the top edge.
    const int nPane = m_pLog->height() + layout()->spacing();
    m_pLog->setVisible(bShow);
    if (!bResize || !isVisible())
    {
        adjustSize();
        return;
    }
    const int nDelta = bShow ? nPane : -nPane;
    const QRect rect = geometry();
    setGeometry(rect.x(), rect.y() - nDelta / 2, rect.width(), rect.height() + nDelta);
}

void CDiagnosticsDialog::OnWorkerMessage(const SWorkerMessage& msg)
{
    switch (msg.eMessage)
    {
    case wm::WM_REPORT:
        if (msg.nWParam == wm::STATUS_ICON)
            SetStatusIcon(msg.nLParam);
        else
            m_dots.Log(*m_pLog, msg.nWParam, wm::ReportText(msg), false);
        break;
    case wm::WM_OPERATION: SetCloseAllowed(msg.nWParam != 0); break;
    case wm::WM_BUSY: SetBusy(msg.nWParam != 0); break;
    default: break;
    }
}

void CDiagnosticsDialog::SetStatusIcon(int64_t nIcon)
{
    if (dlgkit::ShowStatusIcon(*m_pStatusIcon, nIcon, m_bBusy))
        m_nStatusIcon = static_cast<int>(nIcon);
}

void CDiagnosticsDialog::SetBusy(bool bBusy)
{
    if (bBusy == m_bBusy)
        return;
    m_bBusy = bBusy;
    dlgkit::ShowBusy(*m_pBusy, *m_pStatusIcon, bBusy);
}

void CDiagnosticsDialog::SetCloseAllowed(bool bAllowed)
{
    m_bCloseAllowed = bAllowed;
    m_pExport->setEnabled(bAllowed);
    m_pClose->setEnabled(bAllowed);
}

void CDiagnosticsDialog::closeEvent(QCloseEvent* pEvent)
{
    if (!m_bCloseAllowed)
    {
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}

void CDiagnosticsDialog::done(int nResult)
{
    if (!m_bCloseAllowed)
        return;
    if (m_pCancel)
        *m_pCancel = true;
    (void)m_worker.Release(kCloseWaitMs);
    QDialog::done(nResult);
}
