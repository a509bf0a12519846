#pragma once
#include <atomic>
#include <cstdint>

#include "Clock.h"

/// Test double of os::CClock: every reading is set by the test, nothing moves by itself
/// except through Advance*(). Readings are atomics, so a test may move time while other
/// threads read it.
class CFakeClock : public os::CClock
{
public:
    /// Unix time 0 as a FILETIME (100-ns units since 1601-01-01).
    static constexpr uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ULL;

    uint64_t QueryCounter() override { return m_nCounter.load(); }
    uint64_t CounterFrequency() override { return m_nFrequency.load(); }
    uint64_t SystemTimeAsFileTime() override
    {
        ++m_nFileTimeReads;
        return m_nFileTime.fetch_add(m_nFileTimeStepPerRead.load());
    }

    void SetCounter(uint64_t nCounter) { m_nCounter = nCounter; }
    void SetFrequency(uint64_t nFrequency) { m_nFrequency = nFrequency; }
    void SetFileTime(uint64_t nFileTime) { m_nFileTime = nFileTime; }
    /// Sets the UTC time from Unix seconds and milliseconds.
    void SetUnixTimeMs(int64_t nUnixMs)
    {
        m_nFileTime = FILETIME_UNIX_EPOCH + static_cast<uint64_t>(nUnixMs) * 10000ULL;
    }
    /// Each FILETIME reading adds this many 100-ns units afterwards (0: the time stands still).
    void SetFileTimeStepPerRead(uint64_t nStep) { m_nFileTimeStepPerRead = nStep; }
    /// Moves the counter (not the UTC time) on by the given number of milliseconds.
    void AdvanceCounterMs(uint64_t nMs) { m_nCounter += nMs * m_nFrequency.load() / 1000; }
    /// Moves counter and UTC time on together.
    void AdvanceMs(uint64_t nMs)
    {
        AdvanceCounterMs(nMs);
        m_nFileTime += nMs * 10000ULL;
    }
    uint64_t FileTimeReads() const { return m_nFileTimeReads.load(); }

private:
    std::atomic<uint64_t> m_nCounter{1000000};
    std::atomic<uint64_t> m_nFrequency{10000000};  // 10 MHz, like a typical performance counter
    std::atomic<uint64_t> m_nFileTime{FILETIME_UNIX_EPOCH};
    std::atomic<uint64_t> m_nFileTimeStepPerRead{0};
    std::atomic<uint64_t> m_nFileTimeReads{0};
};
