#pragma once
#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

#include "DialogServices.h"
#include "DialogWorker.h"
#include "DotRun.h"
#include "MaintenanceArgs.h"
#include "RunEnd.h"
#include "WorkerMessages.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class CLogEdit;
class CPictureEx;
class CQtWorkerSink;

/// The firmware download dialog (template 139, "Firmware Download"): the user picks a
/// firmware file (and, for terminals behind the CT-API library, the library and its port),
/// presses "St&arten", logs in (direct way) and watches the log, the byte count, the progress
/// bar and the status icon while CFirmwareDownloadRun transfers the file on the dialog's
/// worker thread. "St&arten" reads "Abbrechen" while a download runs.
///
/// Threads: every handler on the user-interface thread; the run on one worker thread, which
/// reports only through the dialog's queued sink. Ownership: the dialog owns its worker and
/// sink; closing it cancels a running download and waits at most kCloseWaitMs for the
/// worker, which is abandoned (never killed) when it overruns. The services are borrowed.
class CFWDownloadDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 139;
    enum EControl
    {
        IDC_CLOSE = 1,
        IDC_LOG = 1000,
        IDC_BROWSE = 1028,
        IDC_FIRMWARE_PATH = 1030,
        IDC_START = 1031,
        IDC_STATUS_ICON = 1037,
        IDC_BYTES = 1038,
        IDC_PORT = 1039,
        IDC_BUSY = 1056,
        IDC_PACKET_SIZE = 1062,
        IDC_PORT_LABEL = 1063,
        IDC_PACKET_SIZE_LABEL = 1064,
        IDC_CTAPI_PATH = 1066,
        IDC_CTAPI_BROWSE = 1068,
        IDC_PROGRESS = 1069,
        IDC_PERCENT = 1071,
        IDC_CTAPI_LABEL = 1072,
    };
    static constexpr int kCloseWaitMs = 5000;     // closing waits this long for the worker
    static constexpr int kRestartWaitMs = 1000;   // a new start waits this long for an old one
    static constexpr int kMaxPathChars = 255;
    static constexpr int kDotsPerLine = 100;

    /// args: the focused row's terminal (address, port, protocol code, connection type,
    /// SICCT version). services.pStore and services.pLoader are required.
    CFWDownloadDlg(const search::SDownloadArgs& args, const SDialogServices& services, QWidget* pParent = nullptr);
    ~CFWDownloadDlg() override;

    bool IsCtApiMode() const { return m_bCtApiMode; }
    bool IsIdle() const { return m_bIdle; }
    /// How the last run ended (Red before any run).
    ERunEnd LastEnd() const { return m_eLastEnd; }
    /// Icon code shown last (wm::ICON_*), -1 for none.
    int StatusIcon() const { return m_nStatusIcon; }
    int RunsEnded() const { return m_nRunsEnded; }
    CLogEdit* Log() const { return m_pLog; }

    void done(int nResult) override;

public slots:
    void OnBrowse();
    void OnBrowseCtApi();
    void OnStart();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    void UpdateStartEnabled();
    void OnWorkerMessage(const SWorkerMessage& msg);
    void OnReport(const SWorkerMessage& msg);
    void OnPacketSent(int64_t nBytes);
    void OnRunEnded(ERunEnd eEnd);
    void SetStatusIcon(int64_t nIcon);
    void SetBusy(bool bBusy);
    void SetCloseAllowed(bool bAllowed);
    void StopWorker(int nWaitMs);
    std::string FirmwarePath() const;
    std::string CtApiPath() const;

    search::SDownloadArgs m_args;
    SDialogServices m_services;
    bool m_bCtApiMode = false;
    bool m_bIdle = true;
    bool m_bCloseAllowed = true;
    bool m_bBusy = false;
    int64_t m_nBytesSent = 0;
    int m_nProgressStep = 100;
    int m_nStatusIcon = -1;
    int m_nRunsEnded = 0;
    ERunEnd m_eLastEnd = ERunEnd::Red;
    CDotRun m_dots{kDotsPerLine, "."};

    std::shared_ptr<CQtWorkerSink> m_pSink;
    std::shared_ptr<std::atomic<bool>> m_pCancel;
    CDialogWorker m_worker;

    QLineEdit* m_pFirmwareEdit = nullptr;
    QPushButton* m_pBrowse = nullptr;
    QLabel* m_pCtApiLabel = nullptr;
    QLineEdit* m_pCtApiEdit = nullptr;
    QPushButton* m_pCtApiBrowse = nullptr;
    QPushButton* m_pStart = nullptr;
    QLabel* m_pPortLabel = nullptr;
    QLineEdit* m_pPortEdit = nullptr;
    QLabel* m_pPacketLabel = nullptr;
    QLineEdit* m_pPacketEdit = nullptr;
    QLabel* m_pBytes = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QLabel* m_pStatusIcon = nullptr;
    CPictureEx* m_pBusy = nullptr;
    QLabel* m_pPercent = nullptr;
    CLogEdit* m_pLog = nullptr;
    QPushButton* m_pClose = nullptr;
};
