#pragma once
#include <QDialog>
#include <QSize>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <map>
#include <thread>

#include "TerminalFinder.h"
#include "TerminalSearch.h"

class CHtmlCtrl;
class CMaintenanceLauncher;
class CSettings;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

/// The program's main window: the list of terminals found on the network and on USB, adding
/// a terminal by address, the web-interface port, the four maintenance actions for the
/// focused row and the start page below.
///
/// Threads: all handlers run on the user-interface thread. A search (or the query of one
/// address) runs on one worker thread owned by the window; meanwhile the wait cursor is shown
/// and the list, the search, the add and the action controls take no input. The result comes
/// back queued to the window's thread. The window waits for a running search before it is
/// destroyed (the middleware's searches end on their own time-outs).
///
/// Ownership: each list row owns its CDeviceInfo (m_vecRows, in row order). The services
/// (finder, settings, launcher) are borrowed and must outlive the window.
class CSICCTConfigDlg : public QDialog
{
    Q_OBJECT
public:
    /// Control numbers, used as object names ("1001") so tests and tools find the controls.
    enum EControlId : int
    {
        IDC_SEARCH = 1001,
        IDC_IPADDRESS = 1011,
        IDC_TERMINAL_LIST = 1012,
        IDC_ACTION_GROUP = 1016,
        IDC_FIRMWARE = 1022,
        IDC_CERTIFICATES = 1023,
        IDC_WEB_INTERFACE = 1042,
        IDC_DIAGNOSIS = 1043,
        IDC_DEVICE_GROUP = 1045,
        IDC_BROWSER = 1077,
        IDC_ADD_TERMINAL = 1083,
        IDC_CERT_VALIDITY = 1084,
        IDC_PORT = 1085,
    };

    /// What the window needs from the rest of the program.
    struct SServices
    {
        CTerminalFinder* pFinder = nullptr;          // required
        CSettings* pSettings = nullptr;              // null: every setting at its default
        CMaintenanceLauncher* pLauncher = nullptr;   // null: the actions open nothing
        /// Opens an address in the desktop's browser; default QDesktopServices::openUrl.
        std::function<bool(const QUrl&)> fnOpenUrl;
        /// Shows a message with an OK button; default a modal message box.
        std::function<void(const QString&)> fnMessage;
        /// Opens the About dialog; default none.
        std::function<void(QWidget*)> fnShowAbout;
        /// Text of the About entry ("Inf&o über Terminal Console..."); empty: no entry.
        QString strAboutEntry;
        /// Start a search as soon as the window is up (as the program does).
        bool bSearchAtStart = true;
    };

    explicit CSICCTConfigDlg(SServices services, QWidget* pParent = nullptr);
    ~CSICCTConfigDlg() override;

    // --- handlers of the controls ---------------------------------------------------------
    void OnSearch();
    void OnAddTerminal();
    void OnWebInterface();
    void OnDiagnosis();
    void OnFirmwareDownload();
    void OnCertificateDownload();
    void OnCertificateValidity();
    void OnPortKillFocus();
    void OnShowStartPage();
    void OnAbout();

    /// Enables the actions for the focused row and its connection type.
    void UpdateActionButtons();
    /// The web-interface port from the port edit, the setting "Port" when it is empty;
    /// 0 when the edit holds no number of 1..65535.
    uint16_t GetWebInterfacePort() const;
    /// The address in the IP field, first field in the high byte; 0 when empty or invalid.
    uint32_t GetIpAddress() const;

    bool IsSearching() const { return m_bBusy; }
    int RowCount() const { return static_cast<int>(m_vecRows.size()); }
    const CDeviceInfo* RowDevice(int nRow) const;
    /// The focused row, or -1.
    int FocusedRow() const;
    QWidget* Control(int nId) const;
    QTreeWidget* List() const { return m_pList; }
    CHtmlCtrl* Browser() const { return m_pBrowser; }
    QSize MinimumTrackSize() const { return m_sizeMinTrack; }

signals:
    /// A search or an address query has ended and its rows are in the list.
    void workFinished();

protected:
    void showEvent(QShowEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

public slots:
    void reject() override;

private:
    void BuildControls();
    void SetupColumns();
    void ClearTerminalList();
    bool AddTerminalRow(std::unique_ptr<CDeviceInfo> pDevice, int nIndex);
    QTreeWidgetItem* MakeItem(const CDeviceInfo& device) const;
    void ReplaceOrAddTerminalRow(std::unique_ptr<CDeviceInfo> pDevice);
    void LayoutBrowser();
    void ShowMessage(const QString& strText);
    const CDeviceInfo* FocusedDevice(bool& bHasRow) const;
    /// The focused row's terminal for a maintenance action: null, after "Kein Terminal
    /// ausgewählt" when no row has the focus, or when there is no launcher.
    const CDeviceInfo* ActionDevice();

    /// Runs fnWork on the worker thread; fnDone gets its result on this thread.
    void StartWork(std::function<search::DeviceList()> fnWork, std::function<void(search::DeviceList)> fnDone);
    void FinishWork(search::DeviceList vecResult);
    void SetBusy(bool bBusy);

    SServices m_services;
    QTreeWidget* m_pList = nullptr;
    QLineEdit* m_pIpEdit = nullptr;
    QLineEdit* m_pPortEdit = nullptr;
    QGroupBox* m_pDeviceGroup = nullptr;
    QGroupBox* m_pActionGroup = nullptr;
    QWidget* m_pTop = nullptr;
    CHtmlCtrl* m_pBrowser = nullptr;
    std::map<int, QWidget*> m_mapControls;
    search::DeviceList m_vecRows;  // one device per list row, in row order
    QSize m_sizeMinTrack;
    bool m_bFirstShow = true;

    std::thread m_worker;
    std::function<void(search::DeviceList)> m_fnDone;
    bool m_bBusy = false;
};
