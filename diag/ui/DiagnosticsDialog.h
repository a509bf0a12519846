#pragma once
#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

#include "DiagnosisExport.h"
#include "DiagnosisResult.h"
#include "DialogServices.h"
#include "DialogWorker.h"
#include "DotRun.h"
#include "MaintenanceArgs.h"
#include "RunEnd.h"
#include "TerminalIdRecord.h"
#include "WorkerMessages.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QWidget;
class CLogEdit;
class CPictureEx;
class CQtWorkerSink;

/// The diagnosis dialog (template 157, "SICCT Diagnose"): "&Aktualisieren" runs
/// CDiagnosisRun on the dialog's worker thread; the device information box, the function-unit
/// list and the log fill as the run reports; selecting a unit fills the value list with the
/// run's value rows; "E&xportieren" writes the last run's result with CDiagnosisExport into a
/// file chosen in the save dialog. The log pane can be hidden ("<< &Log" / "&Log >>"); the
/// choice is kept in "Show_Diagnostics_Log_on_init".
///
/// Threads: handlers on the user-interface thread; the run on one worker thread, reporting
/// through the dialog's queued sink and observer. Ownership: the dialog owns worker, sink and
/// the result of the last run; closing cancels a run and waits at most kCloseWaitMs for the
/// worker, abandoning (never killing) one that overruns. Services are borrowed.
class CDiagnosticsDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 157;
    enum EControl
    {
        IDC_CLOSE = 1,
        IDC_STATUS_ICON = 1037,
        IDC_LOG = 1039,
        IDC_UNIT_LIST = 1049,
        IDC_VALUE_LIST = 1050,
        IDC_FIRMWARE = 1051,
        IDC_SICCT_VERSION = 1052,
        IDC_TYPE = 1053,
        IDC_MANUFACTURER = 1054,
        IDC_REFRESH = 1055,
        IDC_BUSY = 1056,
        IDC_EXPORT = 1057,
        IDC_LOG_TOGGLE = 1058,
        IDC_CTAPI_PATH = 1066,
        IDC_CTAPI_BROWSE = 1068,
        IDC_CTAPI_LABEL = 1072,
    };
    static constexpr int kCloseWaitMs = 5000;
    static constexpr int kRestartWaitMs = 1000;
    static constexpr int kDotsPerLine = 80;

    /// args: record, port (the CT-API port for connection type 0, else the SICCT port) and
    /// connection type from the main window; strUser/strPassword go to the session (empty
    /// from the main window). services.pStore and services.pLoader are required.
    CDiagnosticsDialog(const search::SDiagnosisArgs& args, const SDialogServices& services,
                       QWidget* pParent = nullptr);
    ~CDiagnosticsDialog() override;

    bool IsRunning() const { return m_bRunning; }
    bool UsesCtApi() const { return m_bCtApi; }
    bool IsLogShown() const { return m_bLogShown; }
    int RunsEnded() const { return m_nRunsEnded; }
    ERunEnd LastEnd() const { return m_eLastEnd; }
    int StatusIcon() const { return m_nStatusIcon; }
    /// The result of the last finished run (what the export writes).
    const SDiagnosisResult& Result() const { return m_result; }
    /// The export of the last run as the file would hold it.
    std::string ExportText() const;
    CLogEdit* Log() const { return m_pLog; }

    void done(int nResult) override;

public slots:
    void OnRefresh();
    void OnBrowseCtApi();
    void OnExport();
    void OnToggleLog();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    SExportInput ExportInput() const;
    void OnWorkerMessage(const SWorkerMessage& msg);
    void OnCleared();
    void OnManufacturer(const ManufacturerInfo& info, const std::string& strType);
    void OnUnit(size_t nRow, const SDiagUnit& unit);
    void OnRunEnded(ERunEnd eEnd, const SDiagnosisResult& result);
    void OnUnitSelected();
    void SetStatusIcon(int64_t nIcon);
    void SetBusy(bool bBusy);
    void SetCloseAllowed(bool bAllowed);
    void ShowLog(bool bShow, bool bResize);

    search::SDiagnosisArgs m_args;
    SDialogServices m_services;
    uint16_t m_nSicctVersion = 0;   // 1.00 taken as 1.03
    bool m_bCtApi = false;
    bool m_bRunning = false;
    bool m_bCloseAllowed = true;
    bool m_bBusy = false;
    bool m_bLogShown = true;
    int m_nRunsEnded = 0;
    int m_nStatusIcon = -1;
    ERunEnd m_eLastEnd = ERunEnd::Red;
    CDotRun m_dots{kDotsPerLine, "."};
    SDiagnosisResult m_result;           // last finished run
    std::vector<SDiagUnit> m_vecUnits;   // rows of the unit list, as reported

    std::shared_ptr<CQtWorkerSink> m_pSink;
    std::shared_ptr<std::atomic<bool>> m_pCancel;
    CDialogWorker m_worker;

    QLabel* m_pManufacturer = nullptr;
    QLabel* m_pType = nullptr;
    QLabel* m_pFirmware = nullptr;
    QLabel* m_pSicctVersion = nullptr;
    QPushButton* m_pRefresh = nullptr;
    QLabel* m_pStatusIcon = nullptr;
    CPictureEx* m_pBusy = nullptr;
    QLabel* m_pCtApiLabel = nullptr;
    QLineEdit* m_pCtApiEdit = nullptr;
    QPushButton* m_pCtApiBrowse = nullptr;
    QTreeWidget* m_pUnits = nullptr;
    QTreeWidget* m_pValues = nullptr;
    CLogEdit* m_pLog = nullptr;
    QPushButton* m_pExport = nullptr;
    QPushButton* m_pClose = nullptr;
    QPushButton* m_pLogToggle = nullptr;
};
