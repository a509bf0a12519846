#pragma once
#include <QString>
#include <functional>
#include <string>

class CMaintenanceLauncher;
class CSICCTConfigDlg;
class CTerminalFinder;

namespace os
{
class CClock;
class CDebugOutput;
class CHidSystem;
class CInstanceLock;
class CSettingsStore;
class CSystemLog;
class CVersionReader;
} // namespace os

/// The application object: refuses a second instance in the same user session, then runs
/// the main window modally for the life of the program.
///
/// Threads: the user-interface thread only. Ownership: the platform services are borrowed
/// (main creates them; they outlive the run); the log sink, the settings, the terminal finder
/// and the main window are created and owned by InitInstance for the duration of the run.
/// The instance lock stays held until the lock object goes (at the end of the process).
class CSICCTConfigApp
{
public:
    /// Name of the per-session single-instance lock.
    static constexpr const char* kInstanceLockName = "SICCTConfigurationApp_Running";
    /// Shown by a second start, which then ends.
    static constexpr const char* kAlreadyRunning = "Programm läuft bereits!";

    /// What the program needs from the platform; every pointer is required except
    /// pHidSystem (null: no USB search) and pFinder (null: the middleware's own search).
    struct SPlatform
    {
        os::CInstanceLock* pLock = nullptr;
        os::CClock* pClock = nullptr;
        os::CSystemLog* pSystemLog = nullptr;
        os::CDebugOutput* pDebugOutput = nullptr;
        os::CVersionReader* pVersionReader = nullptr;
        os::CSettingsStore* pStore = nullptr;
        os::CHidSystem* pHidSystem = nullptr;
        CTerminalFinder* pFinder = nullptr;
        CMaintenanceLauncher* pLauncher = nullptr;  // null: placeholders instead of the dialogs
    };

    /// Outcome of the single-instance check.
    enum EInstance
    {
        INSTANCE_FIRST,      // this process holds the lock
        INSTANCE_SECOND,     // another process holds it: show the message and end
        INSTANCE_UNGUARDED,  // the lock could not be created: run without the guard
    };

    explicit CSICCTConfigApp(const SPlatform& platform);

    /// Takes the single-instance lock.
    EInstance CheckSingleInstance();

    /// Runs the program (a QApplication must exist): the instance check, the log sink with
    /// the start banner, the main window until it closes. Returns the process exit code (0).
    int InitInstance(const std::string& strProgramPath);

    /// Replaces the message box of a second start (tests).
    void SetMessageFunction(std::function<void(const QString&)> fn) { m_fnMessage = std::move(fn); }
    /// Replaces running the main window modally (tests); called with the window shown.
    void SetRunFunction(std::function<void(CSICCTConfigDlg&)> fn) { m_fnRun = std::move(fn); }

    /// The start banner text: "**** <program> V<a.b.c.d>, ProcessID = <pid> ****".
    static std::string BannerText(const std::string& strProgramPath, const std::string& strFileVersion, int nPid);

private:
    SPlatform m_platform;
    std::function<void(const QString&)> m_fnMessage;
    std::function<void(CSICCTConfigDlg&)> m_fnRun;
};
