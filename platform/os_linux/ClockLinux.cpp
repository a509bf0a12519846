#include "ClockLinux.h"

#include <chrono>

namespace os
{
uint64_t CClockLinux::QueryCounter()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

uint64_t CClockLinux::CounterFrequency()
{
    return 1000000000ULL;
}

uint64_t CClockLinux::SystemTimeAsFileTime()
{
    const auto nUnits = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    // a clock set before 1601 cannot be expressed; clamp instead of wrapping around
    if (nUnits < -static_cast<int64_t>(kFileTimeUnixEpoch))
        return 0;
    return kFileTimeUnixEpoch + static_cast<uint64_t>(static_cast<int64_t>(nUnits));
}
} // namespace os
