// Device base: listener start/stop within its bound, and the hand-over of one message.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "BaseDevice.h"
#include "DeviceInfo.h"
#include "MiddlewareCodes.h"
#include "TraceCapture.h"

namespace
{
using namespace std::chrono;

/// A transport whose listener waits on the stop event in long slices, and whose Write
/// waits for a message that the test posts through the listener side.
class CTestDevice : public CBaseDevice
{
public:
    ~CTestDevice() override { KillListener(); }
    int DisConnect() override
    {
        KillListener();
        return 0;
    }
    int Write(const uint8_t*, int, uint8_t* pResponse, int& nResponseLength, int nTimeoutMs, int) override
    {
        std::unique_lock<std::mutex> lock(m_mtxResponse);
        if (!WaitResponseLocked(lock, Clock::now() + milliseconds(nTimeoutMs)))
            return mw::MW_ERR_COMM;
        if (!m_bHasResponse)
            return mw::MW_ERR_COMM;
        const int nLen = static_cast<int>(m_vecResponse.size());
        if (nLen > nResponseLength)
        {
            FreeResponseLocked();
            return mw::MW_ERR_BUFFER;
        }
        std::copy(m_vecResponse.begin(), m_vecResponse.end(), pResponse);
        nResponseLength = nLen;
        FreeResponseLocked();
        return mw::MW_OK;
    }
    void GetDevices(std::vector<CDeviceInfo*>&) override {}
    int ListenerThread() override
    {
        ++m_nStarts;
        while (IsRunning())
        {
            // A slice far longer than KillListener's bound: only the stop event ends it early.
            pollfd pfd{StopEventFd(), POLLIN, 0};
            ::poll(&pfd, 1, m_nSliceMs);
            if (m_bEndByItself)
                break;
        }
        return 0;
    }
    /// What a listener does with a complete message.
    void Deliver(std::vector<uint8_t> vecMessage)
    {
        std::lock_guard<std::mutex> lock(m_mtxResponse);
        m_vecResponse = std::move(vecMessage);
        m_bHasResponse = true;
        SignalResponseLocked();
    }
    std::atomic<int> m_nStarts{0};
    std::atomic<bool> m_bEndByItself{false};
    int m_nSliceMs = 5000;
};
} // namespace

TEST(BaseDevice, ListenerStartsOnConnectAndKillReturnsWithinBound)
{
    CTraceCapture capture;
    CTestDevice device;
    EXPECT_EQ(device.Connect("ignored"), mw::MW_OK);
    EXPECT_TRUE(device.IsRunning());
    // Give the thread time to sit in its long wait.
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(device.HasLiveListener());
    const auto tpStart = steady_clock::now();
    device.KillListener();
    const auto nElapsedMs = duration_cast<milliseconds>(steady_clock::now() - tpStart).count();
    EXPECT_LT(nElapsedMs, 500);
    EXPECT_FALSE(device.IsRunning());
    EXPECT_FALSE(device.HasLiveListener());
    EXPECT_TRUE(capture.HasMessage("Create Listener"));
    EXPECT_TRUE(capture.HasMessage("(KillListener) entering"));
    EXPECT_TRUE(capture.HasMessage("(KillListener) leaving"));
}

// The listener thread counts its start once it runs: wait for it (bounded), never a fixed time.
static void WaitForStarts(const CTestDevice& device, int nStarts)
{
    for (int i = 0; i < 200 && device.m_nStarts.load() < nStarts; ++i)
        std::this_thread::sleep_for(milliseconds(10));
}

TEST(BaseDevice, OneListenerAtATimeAndRestartAfterItEndedByItself)
{
    CTestDevice device;
    device.Connect("");
    device.Connect("");  // second start while one runs: no second thread
    WaitForStarts(device, 1);
    EXPECT_EQ(device.m_nStarts.load(), 1);

    // The listener ends by itself (link lost); a later Connect must start a fresh one,
    // and a stop set by the earlier KillListener must not end it at once.
    device.KillListener();
    device.m_nSliceMs = 20;
    device.m_bEndByItself = true;
    device.Connect("");
    for (int i = 0; i < 100 && device.HasLiveListener(); ++i)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_FALSE(device.HasLiveListener());
    device.m_bEndByItself = false;
    device.m_nSliceMs = 5000;
    device.Connect("");
    WaitForStarts(device, 3);
    EXPECT_EQ(device.m_nStarts.load(), 3);
    EXPECT_TRUE(device.HasLiveListener());
}

TEST(BaseDevice, HandsOverOneMessageAndTimesOutWithoutOne)
{
    CTestDevice device;
    uint8_t aBuffer[16] = {};
    int nLen = sizeof aBuffer;
    const auto tpStart = steady_clock::now();
    EXPECT_EQ(device.Write(nullptr, 0, aBuffer, nLen, 100, 1), mw::MW_ERR_COMM);
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - tpStart).count(), 95);

    std::thread thrListener([&] {
        std::this_thread::sleep_for(milliseconds(30));
        device.Deliver({1, 2, 3, 4});
    });
    nLen = sizeof aBuffer;
    EXPECT_EQ(device.Write(nullptr, 0, aBuffer, nLen, 2000, 1), mw::MW_OK);
    thrListener.join();
    ASSERT_EQ(nLen, 4);
    EXPECT_EQ(aBuffer[3], 4);

    // The event is auto-reset: the next writer waits again.
    nLen = sizeof aBuffer;
    EXPECT_EQ(device.Write(nullptr, 0, aBuffer, nLen, 50, 1), mw::MW_ERR_COMM);
}
