#pragma once
#include "Clock.h"

namespace os
{
/// The system clocks: steady_clock in nanoseconds as the counter (frequency 1 GHz) and
/// system_clock as a FILETIME. Stateless; any thread.
class CClockLinux : public CClock
{
public:
    uint64_t QueryCounter() override;
    uint64_t CounterFrequency() override;
    uint64_t SystemTimeAsFileTime() override;

    /// Unix time 0 as a FILETIME (100-ns units since 1601-01-01).
    static constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
};
} // namespace os
