// GoogleTest main for the maintenance dialog tests: a QApplication on the offscreen platform
// (set before Qt starts, so test discovery at build time needs no display) and the settings
// redirected into a temporary folder of this process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString strRuntime = QDir::tempPath() + QStringLiteral("/tc-dialog-test-runtime");
    QDir().mkpath(strRuntime);
    QFile::setPermissions(strRuntime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", strRuntime.toLocal8Bit());
    // Never the user's own settings: every fixture makes its own folder below this one.
    const std::string strSettings = QDir::tempPath().toStdString() + "/tc-dialog-settings-" + std::to_string(::getpid());
    QDir().mkpath(QString::fromStdString(strSettings));
    ::setenv("TC_SETTINGS_ROOT", strSettings.c_str(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int nResult = RUN_ALL_TESTS();
    QDir(QString::fromStdString(strSettings)).removeRecursively();
    return nResult;
}
