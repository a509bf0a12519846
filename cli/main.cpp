// terminalctl: the command line tool for administrators. main wires the Linux platform
// services, the trace facility and Ctrl-C into CTerminalCtl and returns its exit code.
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <iostream>

#include "CancelSignal.h"
#include "ClockLinux.h"
#include "CommonAppData.h"
#include "Configuration.h"
#include "DebugOutputLinux.h"
#include "ElfVersionReader.h"
#include "HidSystemLinux.h"
#include "LibraryLoaderLinux.h"
#include "Logging.h"
#include "RegFileStore.h"
#include "SyslogLinux.h"
#include "TerminalCtl.h"
#include "Texts.h"
#include "Trace.h"
#include "VersionInfo.h"

namespace
{
std::string ProgramPath(const char* pszArgv0)
{
    char sz[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", sz, sizeof sz - 1);
    return n > 0 ? std::string(sz, static_cast<size_t>(n)) : std::string(pszArgv0 != nullptr ? pszArgv0 : "");
}

std::string FileVersionText(os::CVersionReader& reader, const std::string& strPath)
{
    CVersionInfo info(reader);
    if (!info.LoadFromFile(strPath) || info.FixedFileInfo() == nullptr)
        return {};
    const os::SFixedFileInfo* p = info.FixedFileInfo();
    return std::to_string(p->nFileVersionMS >> 16) + "." + std::to_string(p->nFileVersionMS & 0xFFFF) + "." +
           std::to_string(p->nFileVersionLS >> 16) + "." + std::to_string(p->nFileVersionLS & 0xFFFF);
}

int TerminalWidth()
{
    winsize ws{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
}
} // namespace

int main(int argc, char** argv)
{
    os::CClockLinux clock;
    os::CSyslogLinux systemLog;
    os::CDebugOutputLinux debugOutput;
    os::CElfVersionReader versionReader;
    os::CRegFileStore store;
    os::CHidSystemLinux hidSystem;
    os::CLibraryLoaderLinux loader;

    // The trace facility as the main window sets it up: outputs from the middleware
    // configuration, the start banner first.
    CLogging logging(clock, systemLog, debugOutput);
    CCommonAppData::SetSettingsStore(&store);
    {
        CConfiguration config;
        CConfiguration::CTraceSettings traceSettings;
        if (config.ReadTraceSettings(traceSettings))
            logging.SetOutput(traceSettings.strDebugFile, traceSettings.bDebugOutput, traceSettings.bEventLogOutput);
    }
    const std::string strProgram = ProgramPath(argc > 0 ? argv[0] : nullptr);
    const std::string strBanner = texts::FormatPattern("**** %s V%s, ProcessID = %d ****", strProgram,
                                                       FileVersionText(versionReader, strProgram), static_cast<int>(::getpid()));
    TC_TRACE("", trace::LEVEL_BANNER, strBanner.c_str(), 0);

    std::signal(SIGPIPE, SIG_IGN);
    CCancelSignal::Install();

    SCliEnvironment env;
    env.pOut = &std::cout;
    env.pErr = &std::cerr;
    env.pIn = &std::cin;
    env.pStore = &store;
    env.pLoader = &loader;
    env.pClock = &clock;
    env.pHidSystem = &hidSystem;
    env.pCancel = &CCancelSignal::Flag();
    env.bProgressBar = ::isatty(STDOUT_FILENO) == 1;
    env.nTerminalWidth = TerminalWidth();
    int nExit = 0;
    {
        CTerminalCtl ctl(env);
        nExit = ctl.Run(argc, argv);
    }
    CCommonAppData::SetSettingsStore(nullptr);
    return nExit;
}
