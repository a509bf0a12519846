#pragma once
// printf-style front end of the trace facility for the middleware: formats the message
// first, then hands it to TC_TRACE so that file and line stay the caller's.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Trace.h"

namespace mw
{
/// vsnprintf into a std::string (any length).
std::string StrFormat(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
/// Each byte formatted with pszByteFormat (for example " %02X" or "%02X ").
std::string HexBytes(const uint8_t* pData, size_t nLength, const char* pszByteFormat = " %02X");
} // namespace mw

#define MW_TRACEF(category, level, number, ...) \
    TC_TRACE((category), (level), ::mw::StrFormat(__VA_ARGS__).c_str(), (number))
