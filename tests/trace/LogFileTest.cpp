// The debug file: appending, rotation to ".old", failures, the lock and concurrent writers.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FakeClock.h"
#include "FakeSystemLog.h"
#include "Logging.h"
#include "Mutex.h"
#include "TraceTestSupport.h"

namespace
{
constexpr uint64_t LIMIT = 51200000;

std::vector<std::string> Split(const std::string& strLine)
{
    std::vector<std::string> vecFields;
    std::istringstream in(strLine);
    std::string strField;
    while (std::getline(in, strField, ';'))
        vecFields.push_back(strField);
    return vecFields;
}

// "dd.mm.yyyy hh:mm:ss:mmm"
bool IsTimeStamp(const std::string& str)
{
    const std::string strShape = "dd.dd.dddd dd:dd:dd:ddd";
    if (str.size() != strShape.size())
        return false;
    for (size_t i = 0; i < str.size(); ++i)
    {
        if (strShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(str[i])) : str[i] != strShape[i])
            return false;
    }
    return true;
}

class LogFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.Valid());
        m_strPath = m_dir.File("ctvnt.log");
        m_strOld = m_strPath + ".old";
    }
    // A sparse file of the given size: no disk space is used for it.
    void MakeFile(const std::string& strPath, uint64_t nSize)
    {
        FILE* pFile = std::fopen(strPath.c_str(), "w");
        ASSERT_NE(pFile, nullptr);
        std::fclose(pFile);
        ASSERT_EQ(::truncate(strPath.c_str(), static_cast<off_t>(nSize)), 0);
    }
    static uint64_t SizeOf(const std::string& strPath)
    {
        std::error_code ec;
        const auto n = std::filesystem::file_size(strPath, ec);
        return ec ? 0 : n;
    }
    static std::string Tail(const std::string& strPath, size_t nFrom)
    {
        return ReadFile(strPath).substr(nFrom);
    }

    CTempDir m_dir;
    std::string m_strPath;
    std::string m_strOld;
    CFakeClock m_clock;
    CFakeSystemLog m_systemLog;
    CFakeDebugOutput m_debug;
};

TEST_F(LogFileTest, LinesAreAppendedToAnExistingFile)
{
    {
        FILE* pFile = std::fopen(m_strPath.c_str(), "w");
        ASSERT_NE(pFile, nullptr);
        std::fputs("earlier run\n", pFile);
        std::fclose(pFile);
    }
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    log.Trace("CtApi", 4, "first", 1, "f", 1);
    log.Trace("CtApi", 4, "second", 2, "f", 2);
    const std::string strContent = ReadFile(m_strPath);
    EXPECT_EQ(strContent.rfind("earlier run\n0x0004;", 0), 0u);
    EXPECT_NE(strContent.find(";first;0x1;"), std::string::npos);
    EXPECT_NE(strContent.find(";second;0x2;"), std::string::npos);
    EXPECT_EQ(std::count(strContent.begin(), strContent.end(), '\n'), 3);
}

TEST_F(LogFileTest, FileOfExactlyTheLimitIsMovedToOldBeforeTheNextLine)
{
    MakeFile(m_strPath, LIMIT);
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    log.Trace("CtApi", 4, "fresh", 0, "f", 1);
    EXPECT_EQ(SizeOf(m_strOld), LIMIT);
    const std::string strContent = ReadFile(m_strPath);
    EXPECT_EQ(strContent.rfind("0x0004;", 0), 0u);
    EXPECT_NE(strContent.find(";fresh;"), std::string::npos);
    EXPECT_EQ(std::count(strContent.begin(), strContent.end(), '\n'), 1);
}

TEST_F(LogFileTest, FileOneByteBelowTheLimitIsKept)
{
    MakeFile(m_strPath, LIMIT - 1);
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    log.Trace("CtApi", 4, "kept", 0, "f", 1);
    EXPECT_FALSE(std::filesystem::exists(m_strOld));
    const uint64_t nSize = SizeOf(m_strPath);
    EXPECT_GT(nSize, LIMIT - 1);
    EXPECT_NE(Tail(m_strPath, LIMIT - 1).find(";kept;"), std::string::npos);

    // The file has now crossed the limit through this object's own line: the next one rotates.
    log.Trace("CtApi", 4, "next", 0, "f", 1);
    EXPECT_EQ(SizeOf(m_strOld), nSize);
    EXPECT_NE(ReadFile(m_strPath).find(";next;"), std::string::npos);
    EXPECT_EQ(SizeOf(m_strPath), ReadFile(m_strPath).size());
    EXPECT_LT(SizeOf(m_strPath), 400u);
}

TEST_F(LogFileTest, ExistingOldFileIsReplaced)
{
    {
        FILE* pFile = std::fopen(m_strOld.c_str(), "w");
        ASSERT_NE(pFile, nullptr);
        std::fputs("previous rotation\n", pFile);
        std::fclose(pFile);
    }
    MakeFile(m_strPath, LIMIT + 10);
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    log.Trace("CtApi", 4, "line", 0, "f", 1);
    EXPECT_EQ(SizeOf(m_strOld), LIMIT + 10);
    EXPECT_EQ(ReadFile(m_strOld).find("previous rotation"), std::string::npos);
}

TEST_F(LogFileTest, FailedMoveKeepsWritingToTheCurrentFile)
{
    // A non-empty folder named like the ".old" file cannot be replaced.
    std::filesystem::create_directory(m_strOld);
    MakeFile(m_strOld + "/keep", 1);
    MakeFile(m_strPath, LIMIT);
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    log.Trace("CtApi", 4, "still here", 0, "f", 1);
    log.Trace("CtApi", 4, "and here", 0, "f", 1);
    const std::string strTail = Tail(m_strPath, LIMIT);
    EXPECT_NE(strTail.find(";still here;"), std::string::npos);
    EXPECT_NE(strTail.find(";and here;"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(m_strOld));
}

TEST_F(LogFileTest, UnopenableFileReportsToTheDebuggerOnEveryCall)
{
    const std::string strPath = m_dir.File("missing-folder/ctvnt.log");
    CLogging log(m_clock, m_systemLog, m_debug, strPath, false, false);
    log.Trace("CtApi", 4, "a", 0, "f", 1);
    log.Trace("CtApi", 4, "b", 0, "f", 1);
    const auto vecLines = m_debug.Lines();
    ASSERT_EQ(vecLines.size(), 2u);
    EXPECT_EQ(vecLines[0], "*** Could not write to Debug-File! ***\n");
    EXPECT_EQ(vecLines[1], "*** Could not write to Debug-File! ***\n");
}

TEST_F(LogFileTest, PathChangeAndCloseTakeEffectOnTheNextLine)
{
    const std::string strOther = m_dir.File("other.log");
    CLogging log(m_clock, m_systemLog, m_debug);
    log.SetOutput(m_strPath, false, false);
    EXPECT_EQ(log.GetOutputMask(), CLogging::OUTPUT_FILE);
    log.Trace("CtApi", 4, "to first", 0, "f", 1);
    log.SetDebugFilePath(strOther);
    EXPECT_EQ(log.GetDebugFilePath(), strOther);
    log.Trace("CtApi", 4, "to other", 0, "f", 1);
    EXPECT_NE(ReadFile(m_strPath).find("to first"), std::string::npos);
    EXPECT_EQ(ReadFile(m_strPath).find("to other"), std::string::npos);
    EXPECT_NE(ReadFile(strOther).find("to other"), std::string::npos);

    // Closing lets the file be removed; the next line creates it again.
    EXPECT_TRUE(log.CloseDebugFile());
    std::filesystem::remove(strOther);
    log.Trace("CtApi", 4, "reopened", 0, "f", 1);
    EXPECT_NE(ReadFile(strOther).find("reopened"), std::string::npos);

    log.SetDebugFilePath(std::string(400, 'p'));
    EXPECT_EQ(log.GetDebugFilePath().size(), 259u);
}

TEST_F(LogFileTest, LineIsDroppedWhenTheLockStaysTakenPastOneSecond)
{
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    std::mutex mtx;
    std::condition_variable cv;
    bool bHeld = false;
    bool bDone = false;
    std::thread holder([&] {
        Mutex& lock = Mutex::ProcessWide();
        if (!lock.Lock(5000))
            return;
        {
            std::unique_lock<std::mutex> lk(mtx);
            bHeld = true;
            cv.notify_all();
            cv.wait_for(lk, std::chrono::seconds(5), [&] { return bDone; });
        }
        lock.Unlock();
    });
    {
        std::unique_lock<std::mutex> lk(mtx);
        ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(5), [&] { return bHeld; }));
    }
    const auto start = std::chrono::steady_clock::now();
    log.Trace("CtApi", 4, "dropped", 0, "f", 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    {
        std::lock_guard<std::mutex> lk(mtx);
        bDone = true;
        cv.notify_all();
    }
    holder.join();

    EXPECT_GE(elapsed, std::chrono::milliseconds(950));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
    EXPECT_FALSE(std::filesystem::exists(m_strPath));

    log.Trace("CtApi", 4, "written", 0, "f", 1);
    EXPECT_NE(ReadFile(m_strPath).find(";written;"), std::string::npos);
}

TEST_F(LogFileTest, ConcurrentWritersProduceWholeLinesInOrder)
{
    constexpr int THREADS = 4;
    constexpr int LINES = 2000;
    CLogging log(m_clock, m_systemLog, m_debug, m_strPath, false, false);
    std::vector<std::thread> vecThreads;
    std::vector<std::string> vecTids(THREADS);
    for (int t = 0; t < THREADS; ++t)
    {
        vecThreads.emplace_back([&, t] {
            vecTids[t] = TidHex();
            for (int i = 0; i < LINES; ++i)
            {
                const std::string strMessage = "writer " + std::to_string(t) + " line " + std::to_string(i);
                log.Trace("CtApi", 4, strMessage.c_str(), static_cast<uint32_t>(i), "Writer.cpp", t);
                m_clock.AdvanceCounterMs(1);
            }
        });
    }
    for (auto& thread : vecThreads)
        thread.join();

    std::istringstream in(ReadFile(m_strPath));
    std::string strLine;
    std::vector<int> vecNext(THREADS, 0);
    int nLines = 0;
    while (std::getline(in, strLine))
    {
        const std::vector<std::string> vecFields = Split(strLine);
        ASSERT_EQ(vecFields.size(), 9u) << "torn line: " << strLine;
        ASSERT_TRUE(IsTimeStamp(vecFields[1])) << strLine;
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(vecFields[3].c_str(), "writer %d line %d", &t, &i), 2) << strLine;
        ASSERT_TRUE(t >= 0 && t < THREADS) << strLine;
        ASSERT_EQ(i, vecNext[t]) << "writer " << t << " out of order";
        EXPECT_EQ(vecFields[0], "0x0004");
        EXPECT_EQ(vecFields[2], "CtApi");
        EXPECT_EQ(vecFields[4], Hex(static_cast<unsigned long>(i)));
        EXPECT_EQ(vecFields[5], PidHex());
        EXPECT_EQ(vecFields[6], vecTids[t]);
        EXPECT_EQ(vecFields[7], "Writer.cpp");
        EXPECT_EQ(vecFields[8], std::to_string(t));
        ++vecNext[t];
        ++nLines;
    }
    EXPECT_EQ(nLines, THREADS * LINES);
}
} // namespace
