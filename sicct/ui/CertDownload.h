#pragma once
#include <QDialog>
#include <atomic>
#include <memory>

#include "DialogServices.h"
#include "DialogWorker.h"
#include "DotRun.h"
#include "MaintenanceArgs.h"
#include "RunEnd.h"
#include "WorkerMessages.h"

class QLineEdit;
class QPushButton;
class CLogEdit;
class CQtWorkerSink;

/// The certificate list download dialog (template 179, "Konnektor CA Zertifikate Download"):
/// writes a connector CA certificate list file unchanged into the terminal with
/// CCertListDownloadRun. The file is read first (a file that cannot be used needs no login),
/// then the login dialog chosen by "SetAdminName" asks for the credentials.
///
/// The exchange runs on a worker thread of the dialog, not on its own thread: the window
/// keeps painting its log while a response is awaited (up to 300 s), and its input stays
/// blocked meanwhile (every button, the path field and closing are disabled), so the user
/// sees the same states as with a blocking exchange. There is no cancel button.
///
/// Threads: handlers on the user-interface thread; the transfer on the worker, reporting
/// through the queued sink. Ownership: the dialog owns worker, sink and run; its destruction
/// waits at most kCloseWaitMs for the worker and abandons it (never kills it) after that.
class CCertDownload : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 179;
    enum EControl
    {
        IDC_CLOSE = 1,
        IDC_LOG = 1000,
        IDC_BROWSE = 1028,
        IDC_CERT_PATH = 1030,
        IDC_START = 1031,
    };
    static constexpr int kCloseWaitMs = 5000;
    static constexpr int kMaxPathChars = 1023;
    static constexpr int kRepeatsPerLine = 100;

    /// args: the focused row's terminal; services.pStore is required.
    CCertDownload(const search::SDownloadArgs& args, const SDialogServices& services, QWidget* pParent = nullptr);
    ~CCertDownload() override;

    bool IsRunning() const { return m_bRunning; }
    int RunsEnded() const { return m_nRunsEnded; }
    ERunEnd LastEnd() const { return m_eLastEnd; }
    CLogEdit* Log() const { return m_pLog; }

    void done(int nResult) override;

public slots:
    void OnBrowse();
    void OnStart();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    void OnWorkerMessage(const SWorkerMessage& msg);
    void OnRunEnded(ERunEnd eEnd);
    void SetInputEnabled(bool bEnabled);
    void UpdateStartEnabled();

    search::SDownloadArgs m_args;
    SDialogServices m_services;
    bool m_bRunning = false;
    bool m_bOperation = false;    // between WM_OPERATION 0 and 1
    int m_nRunsEnded = 0;
    ERunEnd m_eLastEnd = ERunEnd::Red;
    CDotRun m_dots{kRepeatsPerLine, ".."};

    std::shared_ptr<CQtWorkerSink> m_pSink;
    std::shared_ptr<std::atomic<bool>> m_pCancel;
    CDialogWorker m_worker;

    QLineEdit* m_pPathEdit = nullptr;
    QPushButton* m_pBrowse = nullptr;
    QPushButton* m_pStart = nullptr;
    CLogEdit* m_pLog = nullptr;
    QPushButton* m_pClose = nullptr;
};
