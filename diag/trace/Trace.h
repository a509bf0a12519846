#pragma once
#include <cstdint>

/// Trace levels of the facility.
namespace trace
{
constexpr uint32_t LEVEL_ERROR = 2;        // also to the event log
constexpr uint32_t LEVEL_INFO = 4;
constexpr uint32_t LEVEL_BANNER = 0x2000;  // category, number, file and line left out
constexpr uint32_t LEVEL_ENTER = 0x4000;   // "(Function) entering"
constexpr uint32_t LEVEL_LEAVE = 0x8000;   // "(Function) leaving"
} // namespace trace

/// Writes one trace line through the process-wide CLogging instance; does nothing when
/// none exists. Safe from any thread; never fails towards the caller.
void TraceLog(const char* pszCategory, uint32_t nLevel, const char* pszMessage, uint32_t nNumber,
              const char* pszFile, int nLine);

#define TC_TRACE(category, level, message, number) \
    ::TraceLog((category), (level), (message), static_cast<uint32_t>(number), __FILE__, __LINE__)
