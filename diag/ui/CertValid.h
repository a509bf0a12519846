#pragma once
#include <QDialog>
#include <atomic>
#include <memory>

#include "DeviceInfo.h"
#include "DialogServices.h"
#include "DialogWorker.h"
#include "WorkerMessages.h"

class QLabel;
class QLineEdit;
class CPictureEx;
class CQtWorkerSink;

/// The certificate validity dialog (template 183, "gSMC-KT Zertifikat Gültigkeit"): shows the
/// validity period of the certificate the terminal presents in a TLS 1.2 handshake on the
/// web-interface port, in the long date-and-time form, with a status icon and text (valid,
/// expired or not yet valid, none found). CCertValidity fetches and judges the dates on the
/// dialog's worker thread, started when the dialog opens; the busy animation runs meanwhile.
///
/// Threads: handlers on the user-interface thread; the check on one worker thread reporting
/// through the queued sink. Ownership: the dialog owns worker and sink; closing asks the
/// check to stop and waits at most kCloseWaitMs for the worker, abandoning (never killing)
/// one that overruns. Services are borrowed; services.pClock and pStore are required.
class CCertValid : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 183;
    enum EControl
    {
        IDC_STATUS_TEXT = 1000,
        IDC_STATUS_ICON = 1037,
        IDC_BUSY = 1056,
        IDC_GROUP = 1085,
        IDC_VALID_FROM = 1087,
        IDC_VALID_TO = 1089,
    };
    static constexpr int kCloseWaitMs = 120000;

    CCertValid(const CDeviceInfo& device, uint16_t nPort, const SDialogServices& services, QWidget* pParent = nullptr);
    ~CCertValid() override;

    /// Status code shown (0 none found, 1 valid, 2 expired), -1 while none was reported.
    int Status() const { return m_nStatus; }
    bool IsChecking() const { return m_worker.IsRunning(); }
    QString ValidFrom() const;
    QString ValidTo() const;
    QString StatusText() const;

    void done(int nResult) override;

private:
    void BuildControls();
    void OnWorkerMessage(const SWorkerMessage& msg);
    void ShowDates(const CertificateDates& dates);
    void ShowStatus(int64_t nStatus);
    void SetBusy(bool bBusy);
    void StopWorker();

    CDeviceInfo m_device;
    uint16_t m_nPort = 0;
    SDialogServices m_services;
    int m_nStatus = -1;
    bool m_bBusy = false;
    std::shared_ptr<CQtWorkerSink> m_pSink;
    std::shared_ptr<std::atomic<bool>> m_pStop;
    CDialogWorker m_worker;

    QLineEdit* m_pFrom = nullptr;
    QLineEdit* m_pTo = nullptr;
    QLabel* m_pStatusIcon = nullptr;
    CPictureEx* m_pBusy = nullptr;
    QLabel* m_pStatusText = nullptr;
};
