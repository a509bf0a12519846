#include "Texts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace
{
struct STextEntry
{
    int nId;
    const char* pszText;
};

// The table, sorted by number (checked once at first use).
constexpr STextEntry kTexts[] = {
#include "TextTable.inc"
};

const STextEntry* Find(int nId)
{
    const auto* pEnd = std::end(kTexts);
    const auto* pIt = std::lower_bound(std::begin(kTexts), pEnd, nId,
                                       [](const STextEntry& e, int n) { return e.nId < n; });
    return (pIt != pEnd && pIt->nId == nId) ? pIt : nullptr;
}
} // namespace

namespace texts
{
std::string_view Get(int nId)
{
    const STextEntry* p = Find(nId);
    return p ? std::string_view(p->pszText) : std::string_view();
}

bool Has(int nId)
{
    return Find(nId) != nullptr;
}

std::string Format(int nId, const std::string& strArg)
{
    const std::string strPattern(Get(nId));
    std::vector<char> vecBuf(strPattern.size() + strArg.size() + 64);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(vecBuf.data(), vecBuf.size(), strPattern.c_str(), strArg.c_str());
#pragma GCC diagnostic pop
    return n < 0 ? strPattern : std::string(vecBuf.data());
}
} // namespace texts
