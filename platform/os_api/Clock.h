#pragma once
#include <cstdint>

namespace os
{
/// Time sources of the trace facility and of every time-out.
/// The Linux implementation uses steady_clock for the counter and system_clock for the
/// UTC time; tests pass a fake whose readings they set. Called from any thread.
class CClock
{
public:
    virtual ~CClock() = default;
    /// Monotonic counter reading (the "performance counter").
    virtual uint64_t QueryCounter() = 0;
    /// Counter ticks per second; never 0.
    virtual uint64_t CounterFrequency() = 0;
    /// Current UTC time as a FILETIME: 100-ns units since 1601-01-01.
    virtual uint64_t SystemTimeAsFileTime() = 0;
};
} // namespace os
