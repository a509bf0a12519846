#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <QTreeWidget>

#include "ElfVersionReader.h"
#include "FakeClock.h"
#include "FakeSettingsStore.h"
#include "FakeSystemLog.h"
#include "InstanceLock.h"
#include "InstanceLockLinux.h"
#include "OsCodes.h"
#include "SICCTConfigApp.h"
#include "SICCTConfigDlg.h"
#include "TerminalFinder.h"

namespace
{
class CFakeLock : public os::CInstanceLock
{
public:
    explicit CFakeLock(int nResult) : m_nResult(nResult) {}
    int Acquire(const std::string& strName) override
    {
        strNameAsked = strName;
        return m_nResult;
    }
    std::string strNameAsked;

private:
    int m_nResult;
};

// Finds one terminal; never touches the network.
class COneTerminalFinder : public CTerminalFinder
{
public:
    int FindLanTerminals(std::vector<std::unique_ptr<CDeviceInfo>>& v) override
    {
        auto p = std::make_unique<CDeviceInfo>();
        p->SetConnectionType(3);
        p->SetName("T");
        p->SetMacAddress("02:4E:7A:00:00:01");
        v.push_back(std::move(p));
        return FIND_OK;
    }
    int FindUsbTerminals(std::vector<std::unique_ptr<CDeviceInfo>>&) override { return FIND_OK; }
    int ReadConfiguredTerminals(std::vector<std::unique_ptr<CDeviceInfo>>&) override { return FIND_NO_CONFIG; }
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t) override { return nullptr; }
};

struct SAppFixture
{
    CFakeClock clock;
    CFakeSystemLog systemLog;
    CFakeDebugOutput debugOutput;
    os::CElfVersionReader versionReader;
    CFakeSettingsStore store;
    COneTerminalFinder finder;

    CSICCTConfigApp::SPlatform Platform(os::CInstanceLock& lock)
    {
        CSICCTConfigApp::SPlatform p;
        p.pLock = &lock;
        p.pClock = &clock;
        p.pSystemLog = &systemLog;
        p.pDebugOutput = &debugOutput;
        p.pVersionReader = &versionReader;
        p.pStore = &store;
        p.pFinder = &finder;
        return p;
    }
};
} // namespace

TEST(AppTest, SecondInstanceShowsMessageAndRunsNothing)
{
    SAppFixture f;
    CFakeLock lock(os::OS_ERR_BUSY);
    CSICCTConfigApp app(f.Platform(lock));
    std::vector<QString> vecMessages;
    bool bRan = false;
    app.SetMessageFunction([&](const QString& s) { vecMessages.push_back(s); });
    app.SetRunFunction([&](CSICCTConfigDlg&) { bRan = true; });
    EXPECT_EQ(app.InitInstance(QCoreApplication::applicationFilePath().toStdString()), 0);
    EXPECT_EQ(lock.strNameAsked, "SICCTConfigurationApp_Running");
    ASSERT_EQ(vecMessages.size(), 1u);
    EXPECT_EQ(vecMessages[0], QString::fromUtf8("Programm läuft bereits!"));
    EXPECT_FALSE(bRan);
    EXPECT_TRUE(f.debugOutput.Lines().empty());  // nothing is logged
}

TEST(AppTest, FirstOrUnguardedInstanceRunsWindowWithBannerAndSearch)
{
    for (int nLockResult : {static_cast<int>(os::OS_OK), static_cast<int>(os::OS_ERR_NOT_FOUND)})
    {
        SAppFixture f;
        CFakeLock lock(nLockResult);
        CSICCTConfigApp app(f.Platform(lock));
        int nRows = -1;
        QString strTitle;
        app.SetMessageFunction([](const QString&) { ADD_FAILURE() << "no message expected"; });
        app.SetRunFunction([&](CSICCTConfigDlg& dlg) {
            QTRY_VERIFY_WITH_TIMEOUT(dlg.RowCount() > 0 && !dlg.IsSearching(), 5000);
            nRows = dlg.RowCount();
            strTitle = dlg.windowTitle();
        });
        const std::string strPath = QCoreApplication::applicationFilePath().toStdString();
        EXPECT_EQ(app.InitInstance(strPath), 0);
        EXPECT_EQ(nRows, 1);
        EXPECT_EQ(strTitle, "Terminal Console");
        // The start banner: program path, file version of its record, process id.
        const std::string strBanner = "**** " + strPath + " V2.3.2.1, ProcessID = " + std::to_string(::getpid()) + " ****";
        bool bFound = false;
        for (const std::string& strLine : f.debugOutput.Lines())
            bFound = bFound || strLine.find(strBanner) != std::string::npos;
        EXPECT_TRUE(bFound) << strBanner;
    }
}

// The real lock: a second lock object of the same name in the same session folder is refused.
TEST(AppTest, RealLockRefusesSecondHolder)
{
    const QString strDir = QDir::tempPath() + QStringLiteral("/tc-gui-lock-%1").arg(::getpid());
    ASSERT_TRUE(QDir().mkpath(strDir));
    {
        os::CInstanceLockLinux first(strDir.toStdString());
        os::CInstanceLockLinux second(strDir.toStdString());
        SAppFixture f;
        EXPECT_EQ(CSICCTConfigApp(f.Platform(first)).CheckSingleInstance(), CSICCTConfigApp::INSTANCE_FIRST);
        EXPECT_EQ(CSICCTConfigApp(f.Platform(second)).CheckSingleInstance(), CSICCTConfigApp::INSTANCE_SECOND);
    }
    {
        // After the first holder is gone the program starts normally again.
        os::CInstanceLockLinux again(strDir.toStdString());
        SAppFixture f;
        EXPECT_EQ(CSICCTConfigApp(f.Platform(again)).CheckSingleInstance(), CSICCTConfigApp::INSTANCE_FIRST);
    }
    QDir(strDir).removeRecursively();
}
