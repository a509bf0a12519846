#pragma once
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "DeviceMonitor.h"

/// Events shared by a fake HID system and the monitors it made: the test (or an unplug)
/// pushes, the notification thread's monitor takes. Any thread.
class CFakeEventQueue
{
public:
    void Push(const os::DeviceEvent& ev)
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_queEvents.push_back(ev);
        m_cv.notify_all();
    }
    /// Takes the next event, waiting at most one slice. True when one was taken.
    bool Pop(os::DeviceEvent& ev, int nSliceMs)
    {
        std::unique_lock<std::mutex> lock(m_mtx);
        m_cv.wait_for(lock, std::chrono::milliseconds(nSliceMs), [this] { return !m_queEvents.empty(); });
        if (m_queEvents.empty())
            return false;
        ev = m_queEvents.front();
        m_queEvents.pop_front();
        return true;
    }

private:
    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::deque<os::DeviceEvent> m_queEvents;
};

/// A device monitor fed by a CFakeEventQueue; Start can be made to fail.
class CFakeDeviceMonitor : public os::CDeviceMonitor
{
public:
    CFakeDeviceMonitor(std::shared_ptr<CFakeEventQueue> pQueue, int nStartResult)
        : m_pQueue(std::move(pQueue))
        , m_nStartResult(nStartResult)
    {
    }
    int Start() override { return m_nStartResult; }
    int Wait(os::DeviceEvent& ev, int nTimeoutMs, int nStopFd) override;

private:
    std::shared_ptr<CFakeEventQueue> m_pQueue;
    int m_nStartResult;
};
