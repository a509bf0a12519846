// GoogleTest main for the widget tests: a QApplication on the offscreen platform, set before
// Qt starts so that test discovery at build time needs no display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    {
        const QString strDir = QDir::tempPath() + QStringLiteral("/tc-gui-test-runtime");
        QDir().mkpath(strDir);
        QFile::setPermissions(strDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", strDir.toLocal8Bit());
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
