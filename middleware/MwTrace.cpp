#include "MwTrace.h"

#include <cstdarg>
#include <cstdio>

namespace mw
{
std::string StrFormat(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    const int nNeeded = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    std::string strOut;
    if (nNeeded > 0)
    {
        strOut.resize(static_cast<size_t>(nNeeded) + 1);
        std::vsnprintf(strOut.data(), strOut.size(), pszFormat, args);
        strOut.resize(static_cast<size_t>(nNeeded));
    }
    va_end(args);
    return strOut;
}

std::string HexBytes(const uint8_t* pData, size_t nLength, const char* pszByteFormat)
{
    std::string strOut;
    if (pData == nullptr)
        return strOut;
    strOut.reserve(nLength * 3);
    char szByte[16];
    for (size_t i = 0; i < nLength; ++i)
    {
        std::snprintf(szByte, sizeof szByte, pszByteFormat, pData[i]);
        strOut += szByte;
    }
    return strOut;
}
} // namespace mw
