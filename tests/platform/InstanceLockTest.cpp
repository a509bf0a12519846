#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include "InstanceLockLinux.h"
#include "OsCodes.h"

namespace fs = std::filesystem;

namespace
{
const char* const kName = "SICCTConfigurationApp_Running";

class InstanceLockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/tc-lock-XXXXXX";
        ASSERT_NE(::mkdtemp(szTemplate), nullptr);
        m_strDir = szTemplate;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_strDir, ec);
    }
    // Runs Acquire in a child process; its exit code is the (negated) result.
    int AcquireInChild()
    {
        pid_t pid = ::fork();
        if (pid == 0)
        {
            os::CInstanceLockLinux lock(m_strDir);
            // _exit without any clean-up: the lock goes with the process, however it ends
            ::_exit(-lock.Acquire(kName));
        }
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        return WIFEXITED(nStatus) ? -WEXITSTATUS(nStatus) : 999;
    }
    std::string m_strDir;
};
} // namespace

TEST_F(InstanceLockTest, SecondInstanceIsBusyUntilTheFirstEnds)
{
    {
        os::CInstanceLockLinux first(m_strDir);
        ASSERT_EQ(first.Acquire(kName), os::OS_OK);
        EXPECT_EQ(first.Acquire(kName), os::OS_OK) << "taking it again in the same holder";
        EXPECT_EQ(AcquireInChild(), os::OS_ERR_BUSY) << "another process";
        os::CInstanceLockLinux second(m_strDir);
        EXPECT_EQ(second.Acquire(kName), os::OS_ERR_BUSY) << "another open in this process";
        os::CInstanceLockLinux otherName(m_strDir);
        EXPECT_EQ(otherName.Acquire("SomethingElse"), os::OS_OK);
    }
    EXPECT_EQ(AcquireInChild(), os::OS_OK) << "free once the holder is gone";
    // the child before held it and ended: free again
    EXPECT_EQ(AcquireInChild(), os::OS_OK);
    os::CInstanceLockLinux again(m_strDir);
    EXPECT_EQ(again.Acquire(kName), os::OS_OK);
}

TEST_F(InstanceLockTest, NoSessionFolderMeansNoGuard)
{
    os::CInstanceLockLinux missing(m_strDir + "/does-not-exist");
    EXPECT_EQ(missing.Acquire(kName), os::OS_ERR_NOT_FOUND);

    const char* pszOld = std::getenv("XDG_RUNTIME_DIR");
    std::string strOld = pszOld ? pszOld : "";
    ::unsetenv("XDG_RUNTIME_DIR");
    os::CInstanceLockLinux unset;
    EXPECT_EQ(unset.Acquire(kName), os::OS_ERR_NOT_FOUND);
    ::setenv("XDG_RUNTIME_DIR", m_strDir.c_str(), 1);
    os::CInstanceLockLinux fromEnv;
    EXPECT_EQ(fromEnv.Acquire(kName), os::OS_OK);
    EXPECT_TRUE(fs::exists(m_strDir + "/" + kName));
    if (pszOld)
        ::setenv("XDG_RUNTIME_DIR", strOld.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");

    // a symbolic link in place of the lock file is not followed
    fs::create_symlink("/tmp", m_strDir + "/Linked");
    os::CInstanceLockLinux linked(m_strDir);
    EXPECT_NE(linked.Acquire("Linked"), os::OS_OK);
    EXPECT_NE(linked.Acquire("a/b"), os::OS_OK);
}
