#pragma once
#include <string>

namespace os
{
class CInstanceLock;
}

/// The application object: refuses a second instance in the same user session, then runs
/// the main window modally for the life of the program.
///
/// Threads: the user-interface thread only. Ownership: the OS services and the log sink are
/// created and owned here (they live as long as the main window); the instance lock is
/// borrowed and held until the process ends.
class CSICCTConfigApp
{
public:
    /// Name of the per-session single-instance lock.
    static constexpr const char* kInstanceLockName = "SICCTConfigurationApp_Running";
    /// Shown by a second start, which then ends.
    static constexpr const char* kAlreadyRunning = "Programm läuft bereits!";

    /// Outcome of the single-instance check.
    enum EInstance
    {
        INSTANCE_FIRST,      // this process holds the lock
        INSTANCE_SECOND,     // another process holds it: show the message and end
        INSTANCE_UNGUARDED,  // the lock could not be created: run without the guard
    };
    static EInstance CheckSingleInstance(os::CInstanceLock& lock);

    /// Runs the program (a QApplication must exist). Returns the process exit code.
    int InitInstance(const std::string& strProgramPath);
};
