// terminal-console: finds and maintains card terminals (Qt 6 Widgets front end).
// main wires the Linux platform services into the application object.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <csignal>
#include <cstdio>

#include "ClockLinux.h"
#include "DebugOutputLinux.h"
#include "DialogLauncher.h"
#include "ElfVersionReader.h"
#include "HidDevice.h"
#include "HidSystemLinux.h"
#include "InstanceLockLinux.h"
#include "LibraryLoaderLinux.h"
#include "MiddlewareFinder.h"
#include "RegFileStore.h"
#include "SICCTConfigApp.h"
#include "SyslogLinux.h"

int main(int argc, char** argv)
{
    // A terminal that hangs up while OpenSSL still writes to it (an alert, close_notify) must
    // end that connection with an error code, not the program with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("terminal-console"));
    QApplication::setApplicationDisplayName(QStringLiteral("Terminal Console"));
    QApplication::setDesktopFileName(QStringLiteral("terminal-console"));
    QIcon icon;
    for (int nSize : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/img/app_%1.png").arg(nSize), QSize(nSize, nSize));
    QApplication::setWindowIcon(icon);

    // --discovery-port: where the search sends its discovery requests (a terminal simulator's
    // responder on another port than 4742; ./run uses it).
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds and maintains SICCT card terminals."));
    parser.addHelpOption();
    const QCommandLineOption discoveryPortOption(
        QStringLiteral("discovery-port"),
        QStringLiteral("UDP port the discovery requests go to (default 4742; for simulators)."), QStringLiteral("port"),
        QString::number(CMiddlewareFinder::kDefaultDiscoveryPort));
    parser.addOption(discoveryPortOption);
    parser.process(app);
    bool bPortOk = false;
    const uint nDiscoveryPort = parser.value(discoveryPortOption).toUInt(&bPortOk);
    if (!bPortOk || nDiscoveryPort == 0 || nDiscoveryPort > 65535)
    {
        std::fprintf(stderr, "terminal-console: --discovery-port needs a port from 1 to 65535\n");
        return 2;
    }

    // The lock lives until the process ends, so a second start sees it during the whole run.
    os::CInstanceLockLinux lock;
    os::CClockLinux clock;
    os::CSyslogLinux systemLog;
    os::CDebugOutputLinux debugOutput;
    os::CElfVersionReader versionReader;
    os::CRegFileStore store;
    os::CHidSystemLinux hidSystem;
    // USB terminals opened through the SICCT device get their HID transport from here.
    CHidDevice::InstallTransportFactory(&hidSystem);

    // The maintenance dialogs; the services outlive every worker a dialog may leave behind.
    os::CLibraryLoaderLinux loader;
    SDialogServices dialogServices;
    dialogServices.pStore = &store;
    dialogServices.pLoader = &loader;
    dialogServices.pClock = &clock;
    CDialogLauncher launcher(dialogServices);
    CMiddlewareFinder finder(&hidSystem, static_cast<uint16_t>(nDiscoveryPort));

    CSICCTConfigApp::SPlatform platform;
    platform.pLock = &lock;
    platform.pClock = &clock;
    platform.pSystemLog = &systemLog;
    platform.pDebugOutput = &debugOutput;
    platform.pVersionReader = &versionReader;
    platform.pStore = &store;
    platform.pHidSystem = &hidSystem;
    platform.pFinder = &finder;
    platform.pLauncher = &launcher;
    CSICCTConfigApp theApp(platform);
    return theApp.InitInstance(QCoreApplication::applicationFilePath().toStdString());
}
