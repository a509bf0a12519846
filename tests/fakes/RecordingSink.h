#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "WorkerSink.h"

/// A worker sink for tests: records every message in arrival order. Thread-safe (worker
/// and receive threads post at the same time); Deliver never blocks beyond the lock.
class CRecordingSink final : public CWorkerSink
{
public:
    void Deliver(SWorkerMessage msg) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_vecMessages.push_back(std::move(msg));
        }
        m_cv.notify_all();
    }

    std::vector<SWorkerMessage> Messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_vecMessages;
    }
    /// wParams of the WM_REPORT messages with a text number (> 0), in order.
    std::vector<int> Texts() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<int> vec;
        for (const auto& msg : m_vecMessages)
            if (msg.eMessage == wm::WM_REPORT && msg.nWParam > 0)
                vec.push_back(static_cast<int>(msg.nWParam));
        return vec;
    }
    bool HasText(int nText) const
    {
        const auto vec = Texts();
        return std::find(vec.begin(), vec.end(), nText) != vec.end();
    }
    int CountText(int nText) const
    {
        const auto vec = Texts();
        return static_cast<int>(std::count(vec.begin(), vec.end(), nText));
    }
    /// Messages of one code, in order.
    std::vector<SWorkerMessage> Of(wm::EWorkerMessage eMessage) const
    {
        std::lock_guard lock(m_mutex);
        std::vector<SWorkerMessage> vec;
        for (const auto& msg : m_vecMessages)
            if (msg.eMessage == eMessage)
                vec.push_back(msg);
        return vec;
    }
    /// Waits until a WM_REPORT with this text number arrived, at most nTimeoutMs.
    bool WaitForText(int nText, int nTimeoutMs) const
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] {
            return std::any_of(m_vecMessages.begin(), m_vecMessages.end(), [&](const SWorkerMessage& msg) {
                return msg.eMessage == wm::WM_REPORT && msg.nWParam == nText;
            });
        });
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_vecMessages.clear();
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<SWorkerMessage> m_vecMessages;
};
