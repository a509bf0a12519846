#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "SecretText.h"
#include "SessionTiming.h"

class CDeviceInfo;
class CTerminalFinder;
class CSettings;
namespace os
{
class CClock;
class CHidSystem;
class CLibraryLoader;
class CSettingsStore;
} // namespace os

/// What terminalctl runs on: its streams, the platform services and the cancel flag. main()
/// fills it with the real ones; tests point the streams at buffers and inject a finder,
/// settings and a password prompt. Everything is borrowed and must outlive the run.
struct SCliEnvironment
{
    std::ostream* pOut = nullptr;              // results and the runs' log texts
    std::ostream* pErr = nullptr;              // usage errors and the tool's own messages
    std::istream* pIn = nullptr;               // --password-stdin
    os::CSettingsStore* pStore = nullptr;      // the GUI's settings ("SICCT-Config")
    os::CLibraryLoader* pLoader = nullptr;     // CT-API libraries
    os::CClock* pClock = nullptr;              // certificate validity
    os::CHidSystem* pHidSystem = nullptr;      // USB search; null: none
    CTerminalFinder* pFinder = nullptr;        // null: the middleware's search (CMiddlewareFinder)
    std::atomic<bool>* pCancel = nullptr;      // set by Ctrl-C; the runs' cancel flag
    bool bProgressBar = false;                 // standard output is a terminal
    int nTerminalWidth = 80;
    /// Asks for the password without echo (default: the controlling terminal). Returns a
    /// cli::EPasswordResult.
    std::function<int(const std::string& strPrompt, CSecretText& secret)> fnAskPassword;
    SSessionTiming timing;                     // the session's waits (tests shorten them)
};

/// CTerminalCtl: the command line tool for administrators. Parses the arguments (CLI11) and
/// runs one subcommand with the same engines and rules as the main window and its dialogs:
/// search, query, diagnose, firmware, certlist, certvalid, fleet. Report texts are printed
/// as the dialogs log them; results as the main window's columns or as JSON.
///
/// Exit codes (cli::EExitCode): 0 success, 1 failed, 2 usage or bad input, 3 cancelled or
/// warning, 4 nothing found.
///
/// Threads: Run on one thread (main); the runs it starts may add their own threads and are
/// joined before Run returns. Ownership: the environment is borrowed.
class CTerminalCtl
{
public:
    explicit CTerminalCtl(SCliEnvironment env);
    ~CTerminalCtl();
    CTerminalCtl(const CTerminalCtl&) = delete;
    CTerminalCtl& operator=(const CTerminalCtl&) = delete;

    /// Runs the command line; returns the exit code. Never throws.
    int Run(int argc, const char* const* argv);

    /// The exit code section of the help text.
    static const char* ExitCodeHelp();

private:
    struct SConnection
    {
        std::string strAddress;
        uint16_t nPort = 0;
        std::string strProtocol;
        std::string strSicctVersion;
        std::string strCtApi;
        uint16_t nCtApiPort = 0;
    };
    struct SCredentials
    {
        std::string strUser = "admin";
        bool bPasswordStdin = false;
    };

    int Dispatch(int argc, const char* const* argv);
    int CmdSearch(bool bJson);
    int CmdQuery(const std::string& strAddress, bool bJson);
    int CmdDiagnose(const SConnection& conn, const std::string& strExport, bool bJson);
    int CmdFirmware(const SConnection& conn, const SCredentials& cred, const std::string& strFile);
    int CmdCertList(const SConnection& conn, const SCredentials& cred, const std::string& strFile);
    int CmdCertValid(const std::string& strAddress, uint16_t nPort, bool bJson);
    int CmdFleet(bool bJson, int nJobs, uint16_t nCertPort);

    /// The terminal a maintenance command talks to: the answer of a unicast query (unless
    /// port, protocol and SICCT version are all given, or the CT-API way is chosen), with
    /// the given options laid over it. Returns an exit code, or -1 to go on.
    int ResolveTerminal(const SConnection& conn, CDeviceInfo& device);
    /// The password for a CT session (stdin or prompt). Returns an exit code, or -1 to go on.
    int ObtainPassword(const SCredentials& cred, CSecretText& secret);
    CTerminalFinder& Finder();
    bool Cancelled() const;
    std::ostream& Out() { return *m_env.pOut; }
    std::ostream& Err() { return *m_env.pErr; }

    SCliEnvironment m_env;
    std::atomic<bool> m_bOwnCancel{false};
    uint16_t m_nDiscoveryPort;
    std::unique_ptr<CTerminalFinder> m_pOwnFinder;
};
