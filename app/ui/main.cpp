// terminal-console: finds and maintains card terminals (Qt 6 Widgets front end).
#include <QApplication>
#include <QIcon>

#include "SICCTConfigApp.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("terminal-console"));
    QApplication::setApplicationDisplayName(QStringLiteral("Terminal Console"));
    QApplication::setDesktopFileName(QStringLiteral("terminal-console"));
    QIcon icon;
    for (int nSize : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/img/app_%1.png").arg(nSize), QSize(nSize, nSize));
    QApplication::setWindowIcon(icon);

    CSICCTConfigApp theApp;
    return theApp.InitInstance(QCoreApplication::applicationFilePath().toStdString());
}
