#include "FWDownloadDlg.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "DialogKit.h"
#include "FirmwareDownloadRun.h"
#include "LogEdit.h"
#include "PictureEx.h"
#include "QtWorkerSink.h"
#include "ReportText.h"
#include "SecureWipe.h"
#include "SessionSettings.h"
#include "Settings.h"
#include "Texts.h"

namespace
{
constexpr const char* kFirmwareGroup = "&Firmware Datei wählen";
constexpr const char* kBytesLabel = "Gesendete Bytes:";
constexpr const char* kWarning =
    "Bitte während des Firmwaredownloads das Gerät nicht ausschalten und ohne Aufforderung keine Tasten betätigen";
constexpr const char* kCancelText = "Abbrechen";
constexpr const char* kFirmwareFilters = "Binär-Dateien (*.bin);;SIM-Dateien (*.sim);;Alle Dateien (*.*)";
constexpr const char* kFirmwareAllFilter = "Alle Dateien (*.*)";
// The CT-API library is a shared object on this system; the filter keeps its name.
constexpr const char* kLibraryFilter = "Dynamic-Link-Libraries (*.so *.so.* *.dll)";
constexpr int kInitialRange = 4095;
constexpr int kInitialStep = 100;
constexpr int kPacketSizeShown = 1024;
} // namespace

CFWDownloadDlg::CFWDownloadDlg(const search::SDownloadArgs& args, const SDialogServices& services, QWidget* pParent)
    : QDialog(pParent), m_args(args), m_services(services)
{
    m_bCtApiMode = CFirmwareDownloadRun::IsCtApiMode(m_args.nConnectionType);
    m_pSink = std::make_shared<CQtWorkerSink>(this, [this](const SWorkerMessage& msg) { OnWorkerMessage(msg); });
    BuildControls();

    CSettings settings(*m_services.pStore);
    if (m_args.nConnectionType != 3)
        m_pCtApiEdit->setText(dlgkit::Utf8(settings.CtApi()));
    m_pFirmwareEdit->setText(dlgkit::Utf8(settings.LastFirmwareFileLocation()));
    m_pPortEdit->setText(QString::number(m_args.nPort));
    m_pPacketEdit->setText(QString::number(kPacketSizeShown));
    SetStatusIcon(wm::ICON_GREEN);
    m_pBusy->LoadFromResource(CPictureEx::kBusyResourceId, CPictureEx::kBusyResourceType);
    m_pBusy->hide();
    m_pProgress->setRange(0, kInitialRange);
    m_pProgress->setValue(0);
    m_nProgressStep = kInitialStep;
    UpdateStartEnabled();
}

CFWDownloadDlg::~CFWDownloadDlg()
{
    StopWorker(kCloseWaitMs);
    m_pSink->Detach();
    m_pBusy->ReleasePicture();
}

void CFWDownloadDlg::BuildControls()
{
    setWindowTitle(dlgkit::ControlText(kDialogId, 0));
    auto Named = [](QWidget* pWidget, int nId) {
        pWidget->setObjectName(QString::number(nId));
        return pWidget;
    };
    auto* pLayout = new QVBoxLayout(this);

    auto* pFileGroup = new QGroupBox(QString::fromUtf8(kFirmwareGroup), this);
    auto* pFileGrid = new QGridLayout(pFileGroup);
    m_pFirmwareEdit = new QLineEdit(pFileGroup);
    m_pFirmwareEdit->setMaxLength(kMaxPathChars);
    Named(m_pFirmwareEdit, IDC_FIRMWARE_PATH);
    m_pBrowse = new QPushButton(dlgkit::ControlText(kDialogId, IDC_BROWSE), pFileGroup);
    Named(m_pBrowse, IDC_BROWSE);
    pFileGrid->addWidget(m_pFirmwareEdit, 0, 0, 1, 3);
    pFileGrid->addWidget(m_pBrowse, 0, 3);
    m_pCtApiLabel = new QLabel(dlgkit::ControlText(kDialogId, IDC_CTAPI_LABEL), pFileGroup);
    Named(m_pCtApiLabel, IDC_CTAPI_LABEL);
    m_pCtApiEdit = new QLineEdit(pFileGroup);
    Named(m_pCtApiEdit, IDC_CTAPI_PATH);
    m_pCtApiLabel->setBuddy(m_pCtApiEdit);
    m_pCtApiBrowse = new QPushButton(dlgkit::ControlText(kDialogId, IDC_CTAPI_BROWSE), pFileGroup);
    Named(m_pCtApiBrowse, IDC_CTAPI_BROWSE);
    pFileGrid->addWidget(m_pCtApiLabel, 1, 0);
    pFileGrid->addWidget(m_pCtApiEdit, 1, 1, 1, 2);
    pFileGrid->addWidget(m_pCtApiBrowse, 1, 3);
    m_pPortLabel = new QLabel(dlgkit::ControlText(kDialogId, IDC_PORT_LABEL), pFileGroup);
    Named(m_pPortLabel, IDC_PORT_LABEL);
    m_pPortEdit = new QLineEdit(pFileGroup);
    m_pPortEdit->setValidator(new QIntValidator(0, 65535, m_pPortEdit));
    Named(m_pPortEdit, IDC_PORT);
    m_pPortLabel->setBuddy(m_pPortEdit);
    m_pPacketLabel = new QLabel(dlgkit::ControlText(kDialogId, IDC_PACKET_SIZE_LABEL), pFileGroup);
    Named(m_pPacketLabel, IDC_PACKET_SIZE_LABEL);
    m_pPacketEdit = new QLineEdit(pFileGroup);
    Named(m_pPacketEdit, IDC_PACKET_SIZE);
    pFileGrid->addWidget(m_pPortLabel, 2, 0);
    pFileGrid->addWidget(m_pPortEdit, 2, 1);
    pFileGrid->addWidget(m_pPacketLabel, 2, 2);
    pFileGrid->addWidget(m_pPacketEdit, 2, 3);
    pLayout->addWidget(pFileGroup);

    auto* pRunRow = new QHBoxLayout;
    m_pStart = new QPushButton(dlgkit::ControlText(kDialogId, IDC_START), this);
    Named(m_pStart, IDC_START);
    pRunRow->addWidget(m_pStart);
    pRunRow->addWidget(new QLabel(QString::fromUtf8(kBytesLabel), this));
    m_pBytes = new QLabel(dlgkit::ControlText(kDialogId, IDC_BYTES), this);
    Named(m_pBytes, IDC_BYTES);
    pRunRow->addWidget(m_pBytes);
    pRunRow->addStretch();
    m_pStatusIcon = new QLabel(this);
    m_pStatusIcon->setFixedSize(32, 32);
    Named(m_pStatusIcon, IDC_STATUS_ICON);
    m_pBusy = new CPictureEx(this);
    Named(m_pBusy, IDC_BUSY);
    pRunRow->addWidget(m_pStatusIcon);
    pRunRow->addWidget(m_pBusy);
    pLayout->addLayout(pRunRow);

    auto* pProgressRow = new QHBoxLayout;
    m_pProgress = new QProgressBar(this);
    m_pProgress->setTextVisible(false);
    Named(m_pProgress, IDC_PROGRESS);
    m_pPercent = new QLabel(dlgkit::ControlText(kDialogId, IDC_PERCENT), this);
    m_pPercent->setMinimumWidth(40);
    Named(m_pPercent, IDC_PERCENT);
    pProgressRow->addWidget(m_pProgress, 1);
    pProgressRow->addWidget(m_pPercent);
    pLayout->addLayout(pProgressRow);

    auto* pWarning = new QLabel(QString::fromUtf8(kWarning), this);
    pWarning->setWordWrap(true);
    pLayout->addWidget(pWarning);

    m_pLog = new CLogEdit(this);
    Named(m_pLog, IDC_LOG);
    m_pLog->setMinimumSize(460, 180);
    pLayout->addWidget(m_pLog, 1);

    auto* pCloseRow = new QHBoxLayout;
    pCloseRow->addStretch();
    m_pClose = new QPushButton(dlgkit::ControlText(kDialogId, IDC_CLOSE), this);
    Named(m_pClose, IDC_CLOSE);
    pCloseRow->addWidget(m_pClose);
    pLayout->addLayout(pCloseRow);

    // The CT-API fields belong to terminals behind the library; the packet size is never shown.
    for (QWidget* p : {static_cast<QWidget*>(m_pPortEdit), static_cast<QWidget*>(m_pPortLabel),
                       static_cast<QWidget*>(m_pCtApiEdit), static_cast<QWidget*>(m_pCtApiLabel),
                       static_cast<QWidget*>(m_pCtApiBrowse)})
        p->setVisible(m_bCtApiMode);
    m_pPacketEdit->hide();
    m_pPacketLabel->hide();

    connect(m_pBrowse, &QPushButton::clicked, this, &CFWDownloadDlg::OnBrowse);
    connect(m_pCtApiBrowse, &QPushButton::clicked, this, &CFWDownloadDlg::OnBrowseCtApi);
    connect(m_pStart, &QPushButton::clicked, this, &CFWDownloadDlg::OnStart);
    connect(m_pClose, &QPushButton::clicked, this, &CFWDownloadDlg::reject);
    connect(m_pFirmwareEdit, &QLineEdit::textChanged, this, [this] { UpdateStartEnabled(); });
    connect(m_pCtApiEdit, &QLineEdit::textChanged, this, [this] { UpdateStartEnabled(); });
}

std::string CFWDownloadDlg::FirmwarePath() const
{
    return dlgkit::ToStd(m_pFirmwareEdit->text());
}

std::string CFWDownloadDlg::CtApiPath() const
{
    return dlgkit::ToStd(m_pCtApiEdit->text());
}

void CFWDownloadDlg::UpdateStartEnabled()
{
    // While a download runs the button is its cancel button; its state is the run's.
    if (!m_bIdle)
        return;
    bool bEnabled = !m_pFirmwareEdit->text().isEmpty();
    if (m_bCtApiMode)
        bEnabled = bEnabled && !m_pCtApiEdit->text().isEmpty();
    m_pStart->setEnabled(bEnabled);
}

void CFWDownloadDlg::OnBrowse()
{
    const QString strPath = dlgkit::OpenFile(m_services, this, dlgkit::ControlText(kDialogId, 0),
                                             QString::fromUtf8(kFirmwareFilters),
                                             QString::fromUtf8(kFirmwareAllFilter), m_pFirmwareEdit->text());
    if (!strPath.isEmpty())
    {
        const QString strCut = strPath.left(kMaxPathChars);
        m_pFirmwareEdit->setText(strCut);
        CSettings(*m_services.pStore).SetLastFirmwareFileLocation(dlgkit::ToStd(strCut));
        if (!dlgkit::Readable(dlgkit::ToStd(strCut)))
            dlgkit::Message(m_services, this, QMessageBox::Critical,
                            dlgkit::Utf8(texts::Format(113, dlgkit::ToStd(strCut))));
    }
    UpdateStartEnabled();
}

void CFWDownloadDlg::OnBrowseCtApi()
{
    const QString strPath = dlgkit::OpenFile(m_services, this, dlgkit::ControlText(kDialogId, 0),
                                             QString::fromUtf8(kLibraryFilter), QString::fromUtf8(kLibraryFilter),
                                             m_pCtApiEdit->text());
    if (!strPath.isEmpty())
    {
        m_pCtApiEdit->setText(strPath);
        CSettings(*m_services.pStore).SetCtApi(dlgkit::ToStd(strPath));
    }
    UpdateStartEnabled();
}

void CFWDownloadDlg::OnStart()
{
    // A press during a download is its cancel; it must neither reset the progress shown nor
    // depend on the file, so it is handled first.
    if (!m_bIdle)
    {
        if (m_pCancel)
            *m_pCancel = true;
        m_pStart->setEnabled(false);
        return;
    }

    SFirmwareDownloadParams params;
    params.strAddress = m_args.strIp;
    params.nPort = m_args.nPort;
    params.nProtocol = static_cast<uint8_t>(m_args.nProtocolCode);
    params.nConnectionType = m_args.nConnectionType;
    params.nSicctVersion = m_args.nSicctVersion;
    params.strFirmwarePath = FirmwarePath();
    params.strCtApiPath = CtApiPath();
    params.nCtApiPort = static_cast<uint16_t>(m_pPortEdit->text().toUInt());

    m_pBytes->setText(QStringLiteral("0"));
    m_nBytesSent = 0;
    const qint64 nSize = QFileInfo(m_pFirmwareEdit->text()).size();
    m_pProgress->setRange(0, static_cast<int>(std::min<qint64>(nSize, INT32_MAX)));
    m_pProgress->setValue(0);
    m_pPercent->setText(QStringLiteral("0 %"));
    CSettings settings(*m_services.pStore);
    settings.SetLastFirmwareFileLocation(params.strFirmwarePath);

    switch (CFirmwareDownloadRun::Check(params))
    {
    case EFirmwareCheck::Ok:
        break;
    case EFirmwareCheck::NoFirmwarePath:
        dlgkit::Message(m_services, this, QMessageBox::Information, dlgkit::Text(111));
        return;
    case EFirmwareCheck::FirmwareUnreadable:
        dlgkit::Message(m_services, this, QMessageBox::Critical,
                        dlgkit::Utf8(texts::Format(113, params.strFirmwarePath)));
        return;
    case EFirmwareCheck::CtApiLibraryMissing:
        SetStatusIcon(wm::ICON_RED);
        dlgkit::Message(m_services, this, QMessageBox::Critical, QString::fromUtf8(runtexts::kCtApiLibraryMissing));
        return;
    }

    // An earlier worker has posted its end already; give its thread a moment to return.
    // One that still runs is never killed: no second download starts beside it.
    if (!m_worker.Wait(kRestartWaitMs))
        return;

    m_pLog->ClearLog();
    m_dots.Reset();
    if (!m_bCtApiMode)
    {
        std::string strUser = "admin";
        std::string strPassword;
        if (!dlgkit::Login(m_services, this, settings.SetAdminName(), strUser, strPassword))
            return;
        params.strUser = strUser;
        params.strPassword = strPassword;
        os::SecureWipe(strPassword);
    }

    auto pCancel = std::make_shared<std::atomic<bool>>(false);
    auto pSink = m_pSink;
    os::CSettingsStore* pStore = m_services.pStore;
    os::CLibraryLoader* pLoader = m_services.pLoader;
    const SSessionTiming timing = m_services.timing;
    const auto fnResetWait = m_services.fnCtApiResetWait;
    const bool bStarted = m_worker.Start([this, pCancel, pSink, pStore, pLoader, timing, fnResetWait, params]() mutable {
        CSettings threadSettings(*pStore);
        const CSessionSettingsOf<CSettings> sessionSettings(threadSettings);
        CFirmwareDownloadRun run(*pSink, &sessionSettings, *pLoader, timing);
        if (fnResetWait)
            run.SetCtApiResetWait(fnResetWait);
        const ERunEnd eEnd = run.Run(params, *pCancel);
        // The password is not kept beyond the run.
        os::SecureWipe(params.strPassword);
        // Queued behind the run's last message; dropped when the dialog is gone.
        pSink->PostCall([this, eEnd] { OnRunEnded(eEnd); });
    });
    os::SecureWipe(params.strPassword);  // the worker has its copy
    if (!bStarted)
        return;
    m_pCancel = pCancel;
    m_bIdle = false;
    m_pStart->setText(QString::fromUtf8(kCancelText));
    m_pStart->setEnabled(true);
}

void CFWDownloadDlg::OnRunEnded(ERunEnd eEnd)
{
    m_eLastEnd = eEnd;
    ++m_nRunsEnded;
    m_bIdle = true;
    m_pStart->setText(dlgkit::ControlText(kDialogId, IDC_START));
    UpdateStartEnabled();
    (void)m_worker.Wait(kRestartWaitMs);
}

void CFWDownloadDlg::OnWorkerMessage(const SWorkerMessage& msg)
{
    switch (msg.eMessage)
    {
    case wm::WM_REPORT: OnReport(msg); break;
    case wm::WM_OPERATION: SetCloseAllowed(msg.nWParam != 0); break;
    case wm::WM_PACKET_SENT: OnPacketSent(msg.nLParam); break;
    case wm::WM_BUSY: SetBusy(msg.nWParam != 0); break;
    case wm::WM_PACKET_SIZE:
        if (msg.nWParam > 0)
            m_nProgressStep = static_cast<int>(std::min<int64_t>(msg.nWParam, INT32_MAX));
        break;
    default: break;
    }
}

void CFWDownloadDlg::OnReport(const SWorkerMessage& msg)
{
    if (msg.nWParam == wm::STATUS_ICON)
    {
        SetStatusIcon(msg.nLParam);
        return;
    }
    m_dots.Log(*m_pLog, msg.nWParam, wm::ReportText(msg), true);
}

void CFWDownloadDlg::OnPacketSent(int64_t nBytes)
{
    m_nBytesSent += nBytes;
    m_pBytes->setText(QString::number(m_nBytesSent));
    const int nHigh = m_pProgress->maximum();
    const int nPos = m_pProgress->value();
    if (static_cast<int64_t>(nHigh) < static_cast<int64_t>(nPos) + m_nProgressStep)
    {
        m_pProgress->setValue(nHigh);
        m_pPercent->setText(QStringLiteral("100 %"));
        return;
    }
    const int nNew = nPos + m_nProgressStep;
    m_pProgress->setValue(nNew);
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.0lf %%", static_cast<double>(nNew) / nHigh * 100.0);
    m_pPercent->setText(QString::fromLatin1(sz));
}

void CFWDownloadDlg::SetStatusIcon(int64_t nIcon)
{
    if (dlgkit::ShowStatusIcon(*m_pStatusIcon, nIcon, m_bBusy))
        m_nStatusIcon = static_cast<int>(nIcon);
}

void CFWDownloadDlg::SetBusy(bool bBusy)
{
    if (bBusy == m_bBusy)
        return;
    m_bBusy = bBusy;
    dlgkit::ShowBusy(*m_pBusy, *m_pStatusIcon, bBusy);
    if (bBusy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void CFWDownloadDlg::SetCloseAllowed(bool bAllowed)
{
    m_bCloseAllowed = bAllowed;
    m_pClose->setEnabled(bAllowed);
    m_pBrowse->setEnabled(bAllowed);
    m_pCtApiBrowse->setEnabled(bAllowed);
}

void CFWDownloadDlg::closeEvent(QCloseEvent* pEvent)
{
    if (!m_bCloseAllowed)
    {
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}

void CFWDownloadDlg::done(int nResult)
{
    // Escape and the close button come here too: refused while a step forbids closing.
    if (!m_bCloseAllowed)
        return;
    StopWorker(kCloseWaitMs);
    QDialog::done(nResult);
}

void CFWDownloadDlg::StopWorker(int nWaitMs)
{
    if (m_pCancel)
        *m_pCancel = true;
    (void)m_worker.Release(nWaitMs);
}
