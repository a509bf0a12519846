#include "SICCTConfigApp.h"

#include <unistd.h>

#include <QMessageBox>
#include <QString>
#include <cstdio>

#include "AboutDlg.h"
#include "ClockLinux.h"
#include "CommonAppData.h"
#include "Configuration.h"
#include "DebugOutputLinux.h"
#include "ElfVersionReader.h"
#include "HidSystemLinux.h"
#include "InstanceLockLinux.h"
#include "Logging.h"
#include "MaintenanceLauncher.h"
#include "MiddlewareFinder.h"
#include "OsCodes.h"
#include "RegFileStore.h"
#include "SICCTConfigDlg.h"
#include "Settings.h"
#include "SyslogLinux.h"
#include "Texts.h"
#include "Trace.h"
#include "VersionInfo.h"

namespace
{
constexpr int kTextAboutEntry = 101;

// "Inf&o über %s..." with the program's FileDescription; empty when that fails.
QString AboutEntryText(const CVersionInfo& info)
{
    char szText[256] = {};
    const std::string_view sv = texts::Get(kTextAboutEntry);
    if (sv.size() >= sizeof(szText))
        return {};
    sv.copy(szText, sv.size());
    if (!info.FormatText(szText, sizeof(szText), -1, {"FileDescription"}))
        return {};
    return QString::fromUtf8(szText);
}

// "**** <program> V<a.b.c.d>, ProcessID = <pid> ****" at the banner level.
void WriteStartBanner(const CVersionInfo& info, const std::string& strProgramPath)
{
    std::string strVersion;
    if (const os::SFixedFileInfo* pFixed = info.FixedFileInfo())
    {
        char sz[64];
        std::snprintf(sz, sizeof(sz), "%u.%u.%u.%u", pFixed->nFileVersionMS >> 16, pFixed->nFileVersionMS & 0xFFFF,
                      pFixed->nFileVersionLS >> 16, pFixed->nFileVersionLS & 0xFFFF);
        strVersion = sz;
    }
    const std::string strBanner = texts::FormatPattern("**** %s V%s, ProcessID = %d ****", strProgramPath, strVersion,
                                                       static_cast<int>(::getpid()));
    TC_TRACE("", trace::LEVEL_BANNER, strBanner.c_str(), 0);
}
} // namespace

CSICCTConfigApp::EInstance CSICCTConfigApp::CheckSingleInstance(os::CInstanceLock& lock)
{
    const int nResult = lock.Acquire(kInstanceLockName);
    if (nResult == os::OS_OK)
        return INSTANCE_FIRST;
    if (nResult == os::OS_ERR_BUSY)
        return INSTANCE_SECOND;
    return INSTANCE_UNGUARDED;
}

int CSICCTConfigApp::InitInstance(const std::string& strProgramPath)
{
    // Held until the process ends; the kernel releases it however the process ends.
    static os::CInstanceLockLinux s_lock;
    if (CheckSingleInstance(s_lock) == INSTANCE_SECOND)
    {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Terminal Console"), QString::fromUtf8(kAlreadyRunning),
                        QMessageBox::Ok);
        box.exec();
        return 0;
    }

    os::CClockLinux clock;
    os::CSyslogLinux systemLog;
    os::CDebugOutputLinux debugOutput;
    CLogging logging(clock, systemLog, debugOutput);
    // The middleware finds its files below the common application data folder named in
    // the machine settings.
    os::CRegFileStore store;
    CCommonAppData::SetSettingsStore(&store);
    {
        // The trace outputs the middleware configuration asks for; without a readable
        // configuration the defaults stay.
        CConfiguration config;
        CConfiguration::CTraceSettings traceSettings;
        if (config.ReadTraceSettings(traceSettings))
            logging.SetOutput(traceSettings.strDebugFile, traceSettings.bDebugOutput, traceSettings.bEventLogOutput);
    }

    os::CElfVersionReader versionReader;
    CVersionInfo versionInfo(versionReader);
    (void)versionInfo.LoadFromFile(strProgramPath);
    WriteStartBanner(versionInfo, strProgramPath);

    CSettings settings(store);
    os::CHidSystemLinux hidSystem;
    CMiddlewareFinder finder(&hidSystem);
    CPlaceholderLauncher launcher;

    CSICCTConfigDlg::SServices services;
    services.pFinder = &finder;
    services.pSettings = &settings;
    services.pLauncher = &launcher;
    services.strAboutEntry = AboutEntryText(versionInfo);
    services.fnShowAbout = [&versionReader, strProgramPath](QWidget* pParent) {
        CVersionInfo info(versionReader);
        CAboutDlg dlg(info, strProgramPath, pParent);
        dlg.exec();
    };
    {
        CSICCTConfigDlg dlg(services);
        dlg.exec();
    }
    CCommonAppData::SetSettingsStore(nullptr);
    return 0;
}
