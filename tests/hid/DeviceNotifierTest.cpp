// The process-wide removal notifier: reference counts, the registration table, the
// bounded stop of its thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "DeviceNotifier.h"
#include "FakeHidSystem.h"
#include "HidDevice.h"
#include "MiddlewareCodes.h"
#include "OsCodes.h"
#include "TraceCapture.h"

namespace
{
using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& fnDone)
{
    for (int i = 0; i < 400; ++i)
    {
        if (fnDone())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return fnDone();
}

class DeviceNotifierTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(CDeviceNotifier::UserCount(), 0); }
    void TearDown() override
    {
        while (CDeviceNotifier::UserCount() > 0)
            CDeviceNotifier::Release();
    }
    CTraceCapture m_trace;
    CFakeHidSystem m_system;
};
} // namespace

TEST_F(DeviceNotifierTest, ReferenceCountedLifetime)
{
    EXPECT_EQ(CDeviceNotifier::Acquire(&m_system), 1);
    EXPECT_TRUE(CDeviceNotifier::WaitReady(1000));
    EXPECT_EQ(CDeviceNotifier::Acquire(&m_system), 2);
    EXPECT_EQ(m_system.MonitorsCreated(), 1);  // one thread, one event source per process

    CHidDevice device(&m_system);
    const uintptr_t hNotify = CDeviceNotifier::Register("/dev/hidraw4", &device);
    EXPECT_NE(hNotify, 0u);
    // Releasing with another user left keeps the instance and its table.
    EXPECT_EQ(CDeviceNotifier::Release(), 1);
    EXPECT_EQ(CDeviceNotifier::RegistrationCount(), 1u);
    EXPECT_TRUE(CDeviceNotifier::Unregister(hNotify));
    EXPECT_FALSE(CDeviceNotifier::Unregister(hNotify));

    const auto tpStart = Clock::now();
    EXPECT_EQ(CDeviceNotifier::Release(), 0);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count(), 600);
    EXPECT_EQ(CDeviceNotifier::UserCount(), 0);
    EXPECT_EQ(CDeviceNotifier::Register("/dev/hidraw4", &device), 0u);  // no instance: nothing registered
    EXPECT_EQ(CDeviceNotifier::Release(), 0);                           // unmatched release is harmless
}

TEST_F(DeviceNotifierTest, RemovalReachesOnlyTheRegisteredDeviceOnce)
{
    CDeviceNotifier::Acquire(&m_system);
    ASSERT_TRUE(CDeviceNotifier::WaitReady(1000));
    CHidDevice first(&m_system);
    CHidDevice second(&m_system);
    CDeviceNotifier::Register("/dev/hidraw1", &first);
    CDeviceNotifier::Register("/dev/hidraw2", &second);

    // Events of other nodes and other actions only write the log line.
    m_system.PostEvent(os::DeviceEvent{"add", "/dev/hidraw1", "hidraw1"});
    m_system.PostEvent(os::DeviceEvent{"remove", "/dev/hidraw7", "hidraw7"});
    ASSERT_TRUE(WaitFor([&] { return m_trace.HasSubstring("Device /dev/hidraw7 remove complete"); }));
    EXPECT_FALSE(first.IsRemoved());
    EXPECT_FALSE(second.IsRemoved());

    // A removal named only by the kernel name still finds the node.
    m_system.PostEvent(os::DeviceEvent{"remove", "", "hidraw1"});
    ASSERT_TRUE(WaitFor([&] { return first.IsRemoved(); }));
    EXPECT_FALSE(second.IsRemoved());
    EXPECT_EQ(CDeviceNotifier::RegistrationCount(), 1u);
    EXPECT_EQ(m_trace.CountMessage("Device with handle =0x1 gone"), 1);

    // The second removal of the same node finds nothing.
    m_system.PostEvent(os::DeviceEvent{"remove", "/dev/hidraw1", "hidraw1"});
    ASSERT_TRUE(WaitFor([&] { return m_trace.CountMessage("Device /dev/hidraw1 remove complete") == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m_trace.CountMessage("Device with handle =0x1 gone"), 1);
    CDeviceNotifier::Release();
}

TEST_F(DeviceNotifierTest, BrokenEventSourceStillStopsAndReleases)
{
    m_system.SetMonitorStartResult(os::OS_ERR_ACCESS);
    CDeviceNotifier::Acquire(&m_system);
    EXPECT_TRUE(CDeviceNotifier::WaitReady(1000));
    EXPECT_TRUE(m_trace.HasMessage("device monitor could not be started"));
    const auto tpStart = Clock::now();
    CDeviceNotifier::Release();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count(), 600);

    // No HID system at all: the thread only waits for its stop.
    CDeviceNotifier::Acquire(nullptr);
    EXPECT_TRUE(CDeviceNotifier::WaitReady(1000));
    CDeviceNotifier::Release();
}
