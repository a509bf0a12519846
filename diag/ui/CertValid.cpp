#include "CertValid.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CertValidity.h"
#include "DialogKit.h"
#include "PictureEx.h"
#include "QtWorkerSink.h"
#include "Texts.h"

namespace
{
constexpr const char* kFromLabel = "gültig &ab:";
constexpr const char* kToLabel = "gültig &bis:";
constexpr const char* kClose = "Schließen";
} // namespace

CCertValid::CCertValid(const CDeviceInfo& device, uint16_t nPort, const SDialogServices& services, QWidget* pParent)
    : QDialog(pParent), m_device(device), m_nPort(nPort), m_services(services)
{
    m_pSink = std::make_shared<CQtWorkerSink>(this, [this](const SWorkerMessage& msg) { OnWorkerMessage(msg); });
    BuildControls();
    m_pBusy->LoadFromResource(CPictureEx::kBusyResourceId, CPictureEx::kBusyResourceType);
    m_pBusy->hide();
    m_pStatusIcon->hide();
    setWindowTitle(dlgkit::Utf8(texts::Format(200, m_device.GetName(), m_device.GetIpAddress())));
    m_pStatusText->clear();

    auto pStop = std::make_shared<std::atomic<bool>>(false);
    auto pSink = m_pSink;
    os::CClock* pClock = m_services.pClock;
    const SSessionTiming timing = m_services.timing;
    const std::string strAddress = m_device.GetIpAddress();
    const uint16_t nTargetPort = m_nPort;
    if (m_worker.Start([pSink, pStop, pClock, timing, strAddress, nTargetPort] {
            CCertValidity validity(*pSink, *pClock, timing.nConnectTimeoutMs, timing.nHandshakeTimeoutMs);
            (void)validity.Run(strAddress, nTargetPort, *pStop);
        }))
        m_pStop = pStop;
}

CCertValid::~CCertValid()
{
    StopWorker();
    m_pSink->Detach();
    m_pBusy->ReleasePicture();
}

void CCertValid::BuildControls()
{
    auto* pLayout = new QVBoxLayout(this);
    auto* pGroup = new QGroupBox(dlgkit::ControlText(kDialogId, IDC_GROUP), this);
    pGroup->setObjectName(QString::number(IDC_GROUP));
    auto* pForm = new QFormLayout(pGroup);
    m_pFrom = new QLineEdit(pGroup);
    m_pFrom->setReadOnly(true);
    m_pFrom->setObjectName(QString::number(IDC_VALID_FROM));
    m_pFrom->setMinimumWidth(260);
    m_pTo = new QLineEdit(pGroup);
    m_pTo->setReadOnly(true);
    m_pTo->setObjectName(QString::number(IDC_VALID_TO));
    auto* pFromLabel = new QLabel(QString::fromUtf8(kFromLabel), pGroup);
    pFromLabel->setBuddy(m_pFrom);
    auto* pToLabel = new QLabel(QString::fromUtf8(kToLabel), pGroup);
    pToLabel->setBuddy(m_pTo);
    pForm->addRow(pFromLabel, m_pFrom);
    pForm->addRow(pToLabel, m_pTo);
    auto* pStatusRow = new QHBoxLayout;
    m_pStatusIcon = new QLabel(pGroup);
    m_pStatusIcon->setFixedSize(32, 32);
    m_pStatusIcon->setObjectName(QString::number(IDC_STATUS_ICON));
    m_pBusy = new CPictureEx(pGroup);
    m_pBusy->setObjectName(QString::number(IDC_BUSY));
    m_pStatusText = new QLabel(pGroup);
    m_pStatusText->setObjectName(QString::number(IDC_STATUS_TEXT));
    pStatusRow->addWidget(m_pStatusIcon);
    pStatusRow->addWidget(m_pBusy);
    pStatusRow->addWidget(m_pStatusText, 1);
    pForm->addRow(pStatusRow);
    pLayout->addWidget(pGroup);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    auto* pClose = new QPushButton(QString::fromUtf8(kClose), this);
    pClose->setObjectName(QStringLiteral("1"));
    pButtons->addWidget(pClose);
    pLayout->addLayout(pButtons);
    connect(pClose, &QPushButton::clicked, this, &CCertValid::accept);
}

QString CCertValid::ValidFrom() const
{
    return m_pFrom->text();
}

QString CCertValid::ValidTo() const
{
    return m_pTo->text();
}

QString CCertValid::StatusText() const
{
    return m_pStatusText->text();
}

void CCertValid::OnWorkerMessage(const SWorkerMessage& msg)
{
    switch (msg.eMessage)
    {
    case wm::WM_BUSY: SetBusy(msg.nWParam != 0); break;
    case wm::WM_CERT_DATES:
        if (const auto* pDates = std::get_if<CertificateDates>(&msg.payload))
            ShowDates(*pDates);
        break;
    case wm::WM_REPORT:
        if (msg.nWParam == wm::STATUS_ICON)
            ShowStatus(msg.nLParam);
        break;
    default: break;
    }
}

void CCertValid::ShowDates(const CertificateDates& dates)
{
    m_pFrom->setText(dates.tmNotBefore ? dlgkit::Utf8(CCertValidity::FormatDate(*dates.tmNotBefore)) : QString());
    m_pTo->setText(dates.tmNotAfter ? dlgkit::Utf8(CCertValidity::FormatDate(*dates.tmNotAfter)) : QString());
}

void CCertValid::ShowStatus(int64_t nStatus)
{
    if (nStatus < 0 || nStatus > 2)
    {
        m_pStatusIcon->hide();
        return;
    }
    m_nStatus = static_cast<int>(nStatus);
    m_pStatusIcon->setPixmap(dlgkit::StatusPixmap(nStatus));
    m_pStatusText->setText(dlgkit::Text(CCertValidity::StatusText(static_cast<ECertStatus>(nStatus))));
    SetBusy(false);
    m_pStatusIcon->show();
}

void CCertValid::SetBusy(bool bBusy)
{
    if (bBusy == m_bBusy)
        return;
    m_bBusy = bBusy;
    if (bBusy)
    {
        m_pBusy->StartShow();
        m_pStatusIcon->hide();
        m_pBusy->show();
        return;
    }
    if (m_pBusy->IsPlaying())
        m_pBusy->StopAnimation();
    m_pBusy->hide();
    if (m_nStatus >= 0)
        m_pStatusIcon->show();
}

void CCertValid::StopWorker()
{
    if (m_pStop)
        *m_pStop = true;
    (void)m_worker.Release(kCloseWaitMs);
}

void CCertValid::done(int nResult)
{
    SetBusy(false);
    StopWorker();
    QDialog::done(nResult);
}
