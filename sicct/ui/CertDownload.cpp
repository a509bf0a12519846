#include "CertDownload.h"

#include <QApplication>
#include <algorithm>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CertListDownloadRun.h"
#include "DialogKit.h"
#include "LogEdit.h"
#include "QtWorkerSink.h"
#include "ReportText.h"
#include "SecureWipe.h"
#include "SessionSettings.h"
#include "Settings.h"

namespace
{
constexpr const char* kFileGroup = "&Zertifikat Datei wählen";
constexpr const char* kDownloadGroup = "Download";
constexpr const char* kWarning =
    "Bitte während des Downloads das Gerät nicht ausschalten und ohne Aufforderung keine Tasten betätigen";
constexpr const char* kFilters = "Zertifikatslisten (*.bin);;Alle Dateien (*.*)";
constexpr const char* kAllFilter = "Alle Dateien (*.*)";

/// Settings, their adapter for the session and the run, kept together for the worker.
struct SCertJob
{
    explicit SCertJob(os::CSettingsStore& store, CWorkerSink& sink, const SSessionTiming& timing)
        : settings(store), sessionSettings(settings), run(sink, &sessionSettings, timing)
    {
    }
    CSettings settings;
    CSessionSettingsOf<CSettings> sessionSettings;
    CCertListDownloadRun run;
};
} // namespace

CCertDownload::CCertDownload(const search::SDownloadArgs& args, const SDialogServices& services, QWidget* pParent)
    : QDialog(pParent), m_args(args), m_services(services)
{
    m_pSink = std::make_shared<CQtWorkerSink>(this, [this](const SWorkerMessage& msg) { OnWorkerMessage(msg); });
    BuildControls();
    m_pPathEdit->setText(dlgkit::Utf8(CSettings(*m_services.pStore).LastCertFileLocation()));
    UpdateStartEnabled();
}

CCertDownload::~CCertDownload()
{
    if (m_pCancel)
        *m_pCancel = true;
    (void)m_worker.Release(kCloseWaitMs);
    m_pSink->Detach();
}

void CCertDownload::BuildControls()
{
    setWindowTitle(dlgkit::ControlText(kDialogId, 0));
    auto* pLayout = new QVBoxLayout(this);
    auto* pFileGroup = new QGroupBox(QString::fromUtf8(kFileGroup), this);
    auto* pFileRow = new QHBoxLayout(pFileGroup);
    m_pPathEdit = new QLineEdit(pFileGroup);
    m_pPathEdit->setMaxLength(kMaxPathChars);
    m_pPathEdit->setObjectName(QString::number(IDC_CERT_PATH));
    m_pBrowse = new QPushButton(dlgkit::ControlText(kDialogId, IDC_BROWSE), pFileGroup);
    m_pBrowse->setObjectName(QString::number(IDC_BROWSE));
    pFileRow->addWidget(m_pPathEdit, 1);
    pFileRow->addWidget(m_pBrowse);
    pLayout->addWidget(pFileGroup);

    auto* pRunGroup = new QGroupBox(QString::fromUtf8(kDownloadGroup), this);
    auto* pRunRow = new QHBoxLayout(pRunGroup);
    m_pStart = new QPushButton(dlgkit::ControlText(kDialogId, IDC_START), pRunGroup);
    m_pStart->setObjectName(QString::number(IDC_START));
    pRunRow->addWidget(m_pStart);
    auto* pWarning = new QLabel(QString::fromUtf8(kWarning), pRunGroup);
    pWarning->setWordWrap(true);
    pRunRow->addWidget(pWarning, 1);
    pLayout->addWidget(pRunGroup);

    m_pLog = new CLogEdit(this);
    m_pLog->setObjectName(QString::number(IDC_LOG));
    m_pLog->setMinimumSize(460, 180);
    pLayout->addWidget(m_pLog, 1);

    auto* pCloseRow = new QHBoxLayout;
    pCloseRow->addStretch();
    m_pClose = new QPushButton(dlgkit::ControlText(kDialogId, IDC_CLOSE), this);
    m_pClose->setObjectName(QString::number(IDC_CLOSE));
    pCloseRow->addWidget(m_pClose);
    pLayout->addLayout(pCloseRow);

    connect(m_pBrowse, &QPushButton::clicked, this, &CCertDownload::OnBrowse);
    connect(m_pStart, &QPushButton::clicked, this, &CCertDownload::OnStart);
    connect(m_pClose, &QPushButton::clicked, this, &CCertDownload::reject);
    connect(m_pPathEdit, &QLineEdit::textChanged, this, [this] { UpdateStartEnabled(); });
}

void CCertDownload::UpdateStartEnabled()
{
    if (!m_bRunning)
        m_pStart->setEnabled(!m_pPathEdit->text().isEmpty());
}

void CCertDownload::OnBrowse()
{
    const QString strPath =
        dlgkit::OpenFile(m_services, this, dlgkit::ControlText(kDialogId, 0), QString::fromUtf8(kFilters),
                         QString::fromUtf8(kAllFilter), m_pPathEdit->text());
    if (!strPath.isEmpty())
    {
        m_pPathEdit->setText(strPath.left(kMaxPathChars));
        CSettings(*m_services.pStore).SetLastCertFileLocation(dlgkit::ToStd(m_pPathEdit->text()));
    }
    UpdateStartEnabled();
}

void CCertDownload::OnStart()
{
    if (m_bRunning || !m_worker.Wait(0))
        return;
    m_pStart->setEnabled(false);
    m_pLog->ClearLog();
    m_dots.Reset();

    auto pJob = std::make_shared<SCertJob>(*m_services.pStore, *m_pSink, m_services.timing);
    // The file first: its texts go to the log, and a file that cannot be used asks for no login.
    if (pJob->run.LoadFile(dlgkit::ToStd(m_pPathEdit->text())) != ECertFileResult::Ok)
    {
        UpdateStartEnabled();
        return;
    }
    SCertListDownloadParams params;
    params.strAddress = m_args.strIp;
    params.nPort = m_args.nPort;
    params.nProtocol = static_cast<uint8_t>(m_args.nProtocolCode);
    params.nConnectionType = m_args.nConnectionType;
    params.nSicctVersion = m_args.nSicctVersion;
    if (!dlgkit::Login(m_services, this, pJob->settings.SetAdminName(), params.strUser, params.strPassword))
    {
        UpdateStartEnabled();
        return;
    }

    auto pCancel = std::make_shared<std::atomic<bool>>(false);
    auto pSink = m_pSink;
    const bool bStarted = m_worker.Start([this, pJob, pSink, pCancel, params]() mutable {
        const ERunEnd eEnd = pJob->run.Transfer(params, pCancel.get());
        // The password is not kept beyond the run.
        os::SecureWipe(params.strPassword);
        pSink->PostCall([this, eEnd] { OnRunEnded(eEnd); });
    });
    os::SecureWipe(params.strPassword);  // the worker has its copy
    if (!bStarted)
    {
        UpdateStartEnabled();
        return;
    }
    m_pCancel = pCancel;
    m_bRunning = true;
    SetInputEnabled(false);
    setCursor(Qt::WaitCursor);
}

void CCertDownload::OnRunEnded(ERunEnd eEnd)
{
    (void)m_worker.Wait(kCloseWaitMs);
    m_eLastEnd = eEnd;
    ++m_nRunsEnded;
    m_bRunning = false;
    m_bOperation = false;
    unsetCursor();
    SetInputEnabled(true);
    UpdateStartEnabled();
}

void CCertDownload::SetInputEnabled(bool bEnabled)
{
    m_pClose->setEnabled(bEnabled);
    m_pBrowse->setEnabled(bEnabled);
    m_pPathEdit->setEnabled(bEnabled);
    if (!bEnabled)
        m_pStart->setEnabled(false);
}

void CCertDownload::OnWorkerMessage(const SWorkerMessage& msg)
{
    switch (msg.eMessage)
    {
    case wm::WM_REPORT:
        // The status icon has no place in this dialog.
        if (msg.nWParam != wm::STATUS_ICON)
            m_dots.Log(*m_pLog, msg.nWParam, wm::ReportText(msg), false);
        break;
    case wm::WM_OPERATION:
        m_bOperation = msg.nWParam == 0;
        // Input stays blocked until the whole run has ended.
        if (!m_bRunning)
            SetInputEnabled(!m_bOperation);
        break;
    default: break;
    }
}

void CCertDownload::closeEvent(QCloseEvent* pEvent)
{
    if (m_bRunning)
    {
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}

void CCertDownload::done(int nResult)
{
    if (m_bRunning)
        return;
    QDialog::done(nResult);
}
