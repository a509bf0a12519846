#pragma once
#include <cstdint>

#include "Clock.h"

/// Measures an interval with the high-resolution counter: Start and Stop take a reading
/// each, Seconds() is the time between them. Not thread-safe; the clock is not owned and
/// must outlive the stopwatch.
class CStopWatch
{
public:
    explicit CStopWatch(os::CClock& clock) : m_clock(clock) {}

    void Start();
    void Stop();
    /// (stop - start) / frequency, in seconds; negative when Stop was read before Start.
    double Seconds() const;

private:
    os::CClock& m_clock;
    uint64_t m_nStart = 0;
    uint64_t m_nStop = 0;
    uint64_t m_nFrequency = 1;
};
