// The log text holder, the stopwatch and the lock's ownership rules.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FakeClock.h"
#include "Loggable.h"
#include "Mutex.h"
#include "StopWatch.h"

namespace
{
class CRecordingLog : public CLog
{
public:
    explicit CRecordingLog(std::vector<std::string>& vecCalls, int* pDestroyed = nullptr)
        : m_vecCalls(vecCalls), m_pDestroyed(pDestroyed)
    {
    }
    ~CRecordingLog() override
    {
        if (m_pDestroyed)
            ++*m_pDestroyed;
    }
    void AppendText(const std::string& strText) override { m_vecCalls.push_back("append:" + strText); }
    void AddLine(const std::string& strText) override { m_vecCalls.push_back("line:" + strText); }
    void ClearLog() override { m_vecCalls.push_back("clear"); }

private:
    std::vector<std::string>& m_vecCalls;
    int* m_pDestroyed;
};

TEST(LoggableTest, ForwardsToTheSinkAndIgnoresCallsWithoutOne)
{
    std::vector<std::string> vecCalls;
    CRecordingLog sink(vecCalls);
    CLoggable holder;
    holder.AddLine("lost");  // no sink: nothing happens
    holder.SetLog(&sink);
    holder.AddLine("Verbindung wird aufgebaut");
    holder.AppendText(".");
    holder.ClearLog();
    EXPECT_EQ(vecCalls, (std::vector<std::string>{"line:Verbindung wird aufgebaut", "append:.", "clear"}));
}

TEST(LoggableTest, DeletesOnlyAnOwnedSink)
{
    std::vector<std::string> vecCalls;
    int nDestroyed = 0;
    CRecordingLog borrowed(vecCalls);
    {
        CLoggable holder(new CRecordingLog(vecCalls, &nDestroyed), true);
        // Setting the owned sink again must keep it alive.
        holder.SetLog(holder.GetLog(), true);
        EXPECT_EQ(nDestroyed, 0);
        holder.SetLog(&borrowed, false);  // replacing deletes the owned one
        EXPECT_EQ(nDestroyed, 1);
        EXPECT_FALSE(holder.IsOwner());
        holder.SetLog(new CRecordingLog(vecCalls, &nDestroyed), true);
    }
    EXPECT_EQ(nDestroyed, 2);  // the destructor deleted the second owned sink, not the borrowed one
}

TEST(StopWatchTest, ElapsedSecondsComeFromTheCounter)
{
    CFakeClock clock;
    clock.SetFrequency(1000);
    clock.SetCounter(100);
    CStopWatch watch(clock);
    watch.Start();
    clock.SetCounter(1600);
    watch.Stop();
    EXPECT_DOUBLE_EQ(watch.Seconds(), 1.5);
}

TEST(MutexTest, OwnerMayLockAgainOthersWaitAndTimeOut)
{
    Mutex mutex;
    ASSERT_TRUE(mutex.Lock());
    ASSERT_TRUE(mutex.Lock(0));  // the owner again, as with a Windows mutex
    std::atomic<bool> bOtherGot{true};
    std::thread([&] { bOtherGot = mutex.Lock(50); }).join();
    EXPECT_FALSE(bOtherGot);
    mutex.Unlock();
    std::thread([&] { bOtherGot = mutex.Lock(0); }).join();
    EXPECT_FALSE(bOtherGot);  // still held once
    mutex.Unlock();
    std::thread([&] {
        Mutex::CGuard guard(mutex, 50);
        bOtherGot = guard.Owns();
    }).join();
    EXPECT_TRUE(bOtherGot);
}

TEST(MutexTest, UnlockByAThreadThatDoesNotOwnItChangesNothing)
{
    Mutex mutex;
    ASSERT_TRUE(mutex.Lock());
    std::thread([&] { mutex.Unlock(); }).join();
    std::atomic<bool> bOtherGot{true};
    std::thread([&] { bOtherGot = mutex.Lock(20); }).join();
    EXPECT_FALSE(bOtherGot);
    mutex.Unlock();
    mutex.Unlock();  // one more than taken: ignored
    std::thread([&] {
        bOtherGot = mutex.Lock(20);
        if (bOtherGot)
            mutex.Unlock();
    }).join();
    EXPECT_TRUE(bOtherGot);
}
} // namespace
