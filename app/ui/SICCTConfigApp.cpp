#include "SICCTConfigApp.h"

#include <unistd.h>

#include <QMessageBox>
#include <cstdio>

#include "AboutDlg.h"
#include "CommonAppData.h"
#include "Configuration.h"
#include "InstanceLock.h"
#include "Logging.h"
#include "MaintenanceLauncher.h"
#include "MiddlewareFinder.h"
#include "OsCodes.h"
#include "SICCTConfigDlg.h"
#include "Settings.h"
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

std::string FileVersionText(const CVersionInfo& info)
{
    const os::SFixedFileInfo* pFixed = info.FixedFileInfo();
    if (pFixed == nullptr)
        return {};
    char sz[64];
    std::snprintf(sz, sizeof(sz), "%u.%u.%u.%u", pFixed->nFileVersionMS >> 16, pFixed->nFileVersionMS & 0xFFFF,
                  pFixed->nFileVersionLS >> 16, pFixed->nFileVersionLS & 0xFFFF);
    return sz;
}
} // namespace

CSICCTConfigApp::CSICCTConfigApp(const SPlatform& platform) : m_platform(platform)
{
}

std::string CSICCTConfigApp::BannerText(const std::string& strProgramPath, const std::string& strFileVersion, int nPid)
{
    return texts::FormatPattern("**** %s V%s, ProcessID = %d ****", strProgramPath, strFileVersion, nPid);
}

CSICCTConfigApp::EInstance CSICCTConfigApp::CheckSingleInstance()
{
    const int nResult = m_platform.pLock->Acquire(kInstanceLockName);
    if (nResult == os::OS_OK)
        return INSTANCE_FIRST;
    if (nResult == os::OS_ERR_BUSY)
        return INSTANCE_SECOND;
    return INSTANCE_UNGUARDED;
}

int CSICCTConfigApp::InitInstance(const std::string& strProgramPath)
{
    if (CheckSingleInstance() == INSTANCE_SECOND)
    {
        // Nothing else happens: no window, no log line; the first instance is left alone.
        const QString strText = QString::fromUtf8(kAlreadyRunning);
        if (m_fnMessage)
        {
            m_fnMessage(strText);
        }
        else
        {
            QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Terminal Console"), strText, QMessageBox::Ok);
            box.exec();
        }
        return 0;
    }

    CLogging logging(*m_platform.pClock, *m_platform.pSystemLog, *m_platform.pDebugOutput);
    // The middleware finds its files below the common application data folder named in
    // the machine settings.
    CCommonAppData::SetSettingsStore(m_platform.pStore);
    {
        // The trace outputs the middleware configuration asks for; without a readable
        // configuration the defaults stay.
        CConfiguration config;
        CConfiguration::CTraceSettings traceSettings;
        if (config.ReadTraceSettings(traceSettings))
            logging.SetOutput(traceSettings.strDebugFile, traceSettings.bDebugOutput, traceSettings.bEventLogOutput);
    }

    CVersionInfo versionInfo(*m_platform.pVersionReader);
    (void)versionInfo.LoadFromFile(strProgramPath);
    const std::string strBanner =
        BannerText(strProgramPath, FileVersionText(versionInfo), static_cast<int>(::getpid()));
    TC_TRACE("", trace::LEVEL_BANNER, strBanner.c_str(), 0);

    CSettings settings(*m_platform.pStore);
    CMiddlewareFinder middlewareFinder(m_platform.pHidSystem);
    CPlaceholderLauncher launcher;

    CSICCTConfigDlg::SServices services;
    services.pFinder = m_platform.pFinder ? m_platform.pFinder : &middlewareFinder;
    services.pSettings = &settings;
    services.pLauncher = m_platform.pLauncher ? m_platform.pLauncher : &launcher;
    services.strAboutEntry = AboutEntryText(versionInfo);
    os::CVersionReader* pReader = m_platform.pVersionReader;
    services.fnShowAbout = [pReader, strProgramPath](QWidget* pParent) {
        CVersionInfo info(*pReader);
        CAboutDlg dlg(info, strProgramPath, pParent);
        dlg.exec();
    };
    {
        CSICCTConfigDlg dlg(services);
        if (m_fnRun)
        {
            dlg.show();
            m_fnRun(dlg);
        }
        else
        {
            dlg.exec();
        }
    }
    CCommonAppData::SetSettingsStore(nullptr);
    return 0;
}
