#include "Texts.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <utility>

namespace
{
struct STextEntry
{
    int nId;
    const char* pszText;
};

// The table, sorted by number; the static_assert below keeps it so.
constexpr STextEntry kTexts[] = {
#include "TextTable.inc"
};

constexpr bool IsWellFormed(const STextEntry* pEntries, std::size_t nCount)
{
    for (std::size_t i = 0; i < nCount; ++i)
    {
        if (pEntries[i].pszText == nullptr)
            return false;
        if (i > 0 && pEntries[i - 1].nId >= pEntries[i].nId)
            return false;
    }
    return true;
}
// Binary search needs strictly ascending numbers; a duplicate would hide one of its texts.
static_assert(IsWellFormed(std::data(kTexts), std::size(kTexts)),
              "TextTable.inc must be strictly ascending by id, without duplicates or null texts");

struct SControlEntry
{
    int nDialogId;
    int nControlId;
    const char* pszText;
};

constexpr SControlEntry kControlTexts[] = {
#include "ControlTable.inc"
};

constexpr bool IsWellFormed(const SControlEntry* pEntries, std::size_t nCount)
{
    for (std::size_t i = 0; i < nCount; ++i)
    {
        if (pEntries[i].pszText == nullptr)
            return false;
        if (i > 0 && !(pEntries[i - 1].nDialogId < pEntries[i].nDialogId ||
                       (pEntries[i - 1].nDialogId == pEntries[i].nDialogId &&
                        pEntries[i - 1].nControlId < pEntries[i].nControlId)))
            return false;
    }
    return true;
}
static_assert(IsWellFormed(std::data(kControlTexts), std::size(kControlTexts)),
              "ControlTable.inc must be strictly ascending by (dialog, control), without duplicates or null texts");

const STextEntry* Find(int nId)
{
    const auto* pEnd = std::end(kTexts);
    const auto* pIt = std::lower_bound(std::begin(kTexts), pEnd, nId,
                                       [](const STextEntry& e, int n) { return e.nId < n; });
    return (pIt != pEnd && pIt->nId == nId) ? pIt : nullptr;
}

// Width and precision beyond this are cut: the texts never need more, and a '*' argument from
// outside must not make us allocate without limit.
constexpr int kMaxField = 1024;

enum class ELength
{
    None,
    Char,  // hh
    Short, // h
    Other  // l ll j z t L: the argument's own width is used
};

struct SConversion
{
    std::string strFlags;
    int nWidth = -1;     // -1: none
    int nPrecision = -1; // -1: none
    bool bWidthStar = false;
    bool bPrecisionStar = false;
    ELength eLength = ELength::None;
    char cConversion = 0;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int ReadNumber(std::string_view str, std::size_t& i)
{
    int n = 0;
    while (i < str.size() && IsDigit(str[i]))
    {
        n = std::min(n * 10 + (str[i] - '0'), kMaxField);
        ++i;
    }
    return n;
}

// Parses the conversion after a '%' at position i (on return: behind the conversion character).
// Returns false when the pattern ends before a conversion character.
bool ParseConversion(std::string_view str, std::size_t& i, SConversion& conv)
{
    while (i < str.size() && std::string_view("-+ #0").find(str[i]) != std::string_view::npos)
        conv.strFlags += str[i++];
    if (i < str.size() && str[i] == '*')
    {
        conv.bWidthStar = true;
        ++i;
    }
    else if (i < str.size() && IsDigit(str[i]))
    {
        conv.nWidth = ReadNumber(str, i);
    }
    if (i < str.size() && str[i] == '.')
    {
        ++i;
        if (i < str.size() && str[i] == '*')
        {
            conv.bPrecisionStar = true;
            ++i;
        }
        else
        {
            conv.nPrecision = ReadNumber(str, i); // "." alone means precision 0
        }
    }
    if (i < str.size() && str[i] == 'h')
    {
        ++i;
        conv.eLength = ELength::Short;
        if (i < str.size() && str[i] == 'h')
        {
            ++i;
            conv.eLength = ELength::Char;
        }
    }
    else
    {
        while (i < str.size() && std::string_view("lqjztL").find(str[i]) != std::string_view::npos)
        {
            conv.eLength = ELength::Other;
            ++i;
        }
    }
    if (i >= str.size())
        return false;
    conv.cConversion = str[i++];
    return true;
}

bool IsOneOf(char c, std::string_view strSet)
{
    return strSet.find(c) != std::string_view::npos;
}

// The printf spec for one conversion, keeping only what C defines for that conversion: '#' for
// o x X and floating, '0' for numbers, precision not for c and p.
std::string BuildSpec(const SConversion& conv, std::string_view strLength, char cConversion)
{
    std::string strSpec = "%";
    for (char c : conv.strFlags)
    {
        if (c == '#' && !IsOneOf(cConversion, "oxXaAeEfFgG"))
            continue;
        if (c == '0' && !IsOneOf(cConversion, "diouxXaAeEfFgG"))
            continue;
        strSpec += c;
    }
    if (conv.nWidth >= 0)
        strSpec += std::to_string(conv.nWidth);
    if (conv.nPrecision >= 0 && !IsOneOf(cConversion, "cp"))
        strSpec += "." + std::to_string(conv.nPrecision);
    strSpec += strLength;
    strSpec += cConversion;
    return strSpec;
}

// The one place that hands a run-time format to snprintf: strSpec holds exactly one conversion,
// built by BuildSpec for the C type of value, so format and argument always agree.
template <typename T>
void AppendPrintf(std::string& strOut, const std::string& strSpec, T value)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(nullptr, 0, strSpec.c_str(), value);
    if (n <= 0)
        return;
    const std::size_t nOld = strOut.size();
    strOut.resize(nOld + static_cast<std::size_t>(n) + 1);
    std::snprintf(strOut.data() + nOld, static_cast<std::size_t>(n) + 1, strSpec.c_str(), value);
    strOut.resize(nOld + static_cast<std::size_t>(n));
#pragma GCC diagnostic pop
}

void AppendText(std::string& strOut, const SConversion& conv, std::string_view strText)
{
    if (conv.nPrecision >= 0 && static_cast<std::size_t>(conv.nPrecision) < strText.size())
        strText = strText.substr(0, static_cast<std::size_t>(conv.nPrecision));
    const std::size_t nPad =
        conv.nWidth > 0 && static_cast<std::size_t>(conv.nWidth) > strText.size() ? conv.nWidth - strText.size() : 0;
    const bool bLeft = conv.strFlags.find('-') != std::string::npos;
    if (!bLeft)
        strOut.append(nPad, ' ');
    strOut.append(strText);
    if (bLeft)
        strOut.append(nPad, ' ');
}

// Renders one conversion whose argument has been checked to be of a fitting kind.
void AppendConversion(std::string& strOut, const SConversion& conv, const texts::CFormatArg& arg)
{
    const char c = conv.cConversion;
    if (IsOneOf(c, "di"))
    {
        int64_t n = arg.AsSigned();
        if (conv.eLength == ELength::Char)
            n = static_cast<signed char>(n);
        else if (conv.eLength == ELength::Short)
            n = static_cast<short>(n);
        AppendPrintf(strOut, BuildSpec(conv, "ll", c), static_cast<long long>(n));
    }
    else if (IsOneOf(c, "ouxX"))
    {
        uint64_t u = arg.AsUnsigned();
        if (conv.eLength == ELength::Char)
            u = static_cast<unsigned char>(u);
        else if (conv.eLength == ELength::Short)
            u = static_cast<unsigned short>(u);
        AppendPrintf(strOut, BuildSpec(conv, "ll", c), static_cast<unsigned long long>(u));
    }
    else if (c == 'c')
    {
        AppendPrintf(strOut, BuildSpec(conv, "", c), static_cast<int>(static_cast<unsigned char>(arg.AsUnsigned())));
    }
    else if (IsOneOf(c, "fFeEgGaA"))
    {
        AppendPrintf(strOut, BuildSpec(conv, "", c), arg.AsDouble());
    }
    else if (c == 's')
    {
        AppendText(strOut, conv, arg.AsText());
    }
    else // 'p'
    {
        AppendPrintf(strOut, BuildSpec(conv, "", c), arg.AsPointer());
    }
}

bool KindFits(char cConversion, const texts::CFormatArg& arg)
{
    using EKind = texts::CFormatArg::EKind;
    if (IsOneOf(cConversion, "diouxXc"))
        return arg.IsInteger();
    if (IsOneOf(cConversion, "fFeEgGaA"))
        return arg.IsInteger() || arg.Kind() == EKind::Floating;
    if (cConversion == 's')
        return arg.Kind() == EKind::Text;
    return arg.Kind() == EKind::Pointer || arg.Kind() == EKind::Text; // 'p'
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

std::vector<int> Ids()
{
    std::vector<int> vecIds;
    vecIds.reserve(std::size(kTexts));
    for (const STextEntry& e : kTexts)
        vecIds.push_back(e.nId);
    return vecIds;
}

std::string_view ControlText(int nDialogId, int nControlId)
{
    const auto* pEnd = std::end(kControlTexts);
    const auto* pIt = std::lower_bound(std::begin(kControlTexts), pEnd, std::pair(nDialogId, nControlId),
                                       [](const SControlEntry& e, const std::pair<int, int>& key) {
                                           return std::pair(e.nDialogId, e.nControlId) < key;
                                       });
    if (pIt == pEnd || pIt->nDialogId != nDialogId || pIt->nControlId != nControlId)
        return {};
    return pIt->pszText;
}

std::vector<std::pair<int, int>> ControlKeys()
{
    std::vector<std::pair<int, int>> vecKeys;
    vecKeys.reserve(std::size(kControlTexts));
    for (const SControlEntry& e : kControlTexts)
        vecKeys.emplace_back(e.nDialogId, e.nControlId);
    return vecKeys;
}

int FormatInto(std::string& strOut, std::string_view strPattern, std::span<const CFormatArg> spanArgs)
{
    strOut.clear();
    strOut.reserve(strPattern.size() + 16);
    int nCode = FORMAT_OK;
    const auto Note = [&nCode](int nProblem) {
        if (nCode == FORMAT_OK)
            nCode = nProblem;
    };
    std::size_t nNextArg = 0;
    const auto TakeArg = [&]() -> const CFormatArg* {
        return nNextArg < spanArgs.size() ? &spanArgs[nNextArg++] : nullptr;
    };

    std::size_t i = 0;
    while (i < strPattern.size())
    {
        const std::size_t nStart = i;
        if (strPattern[i] != '%')
        {
            // Copy the literal run up to the next conversion in one piece.
            const std::size_t nNext = strPattern.find('%', i);
            i = nNext == std::string_view::npos ? strPattern.size() : nNext;
            strOut.append(strPattern.substr(nStart, i - nStart));
            continue;
        }
        ++i;
        if (i < strPattern.size() && strPattern[i] == '%')
        {
            strOut += '%';
            ++i;
            continue;
        }
        SConversion conv;
        if (!ParseConversion(strPattern, i, conv) || !IsOneOf(conv.cConversion, "diouxXcfFeEgGaAsp"))
        {
            // Includes "%n": nothing here ever writes through an argument.
            Note(FORMAT_BAD_CONVERSION);
            strOut.append(strPattern.substr(nStart, i - nStart));
            continue;
        }
        // Arguments are consumed in printf order (width, precision, value) even when one of them
        // does not fit, so that a single wrong argument does not shift all later ones.
        bool bFits = true;
        bool bMissing = false;
        if (conv.bWidthStar)
        {
            const CFormatArg* pWidth = TakeArg();
            if (pWidth == nullptr)
                bMissing = true;
            else if (!pWidth->IsInteger())
                bFits = false;
            else
            {
                const int64_t nWidth = pWidth->AsSigned();
                if (nWidth < 0)
                    conv.strFlags += '-';
                // A negative width means left-justify; its magnitude is taken without overflow.
                const uint64_t uWidth = nWidth < 0 ? static_cast<uint64_t>(-(nWidth + 1)) + 1 : static_cast<uint64_t>(nWidth);
                conv.nWidth = static_cast<int>(std::min<uint64_t>(uWidth, kMaxField));
            }
        }
        if (conv.bPrecisionStar)
        {
            const CFormatArg* pPrecision = TakeArg();
            if (pPrecision == nullptr)
                bMissing = true;
            else if (!pPrecision->IsInteger())
                bFits = false;
            else
            {
                const int64_t nPrecision = pPrecision->AsSigned(); // negative: as if omitted
                conv.nPrecision = nPrecision < 0 ? -1 : static_cast<int>(std::min<int64_t>(nPrecision, kMaxField));
            }
        }
        const CFormatArg* pArg = TakeArg();
        if (pArg == nullptr)
            bMissing = true;
        else if (!KindFits(conv.cConversion, *pArg))
            bFits = false;

        if (bMissing || !bFits)
        {
            Note(bMissing ? FORMAT_MISSING_ARGUMENT : FORMAT_KIND_MISMATCH);
            strOut.append(strPattern.substr(nStart, i - nStart));
            continue;
        }
        AppendConversion(strOut, conv, *pArg);
    }
    if (nNextArg < spanArgs.size())
        Note(FORMAT_EXTRA_ARGUMENTS);
    return nCode;
}

std::string Format(int nId, const std::string& strArg)
{
    const std::string_view strPattern = Get(nId);
    std::string strOut;
    const CFormatArg argText(strArg);
    if (FormatInto(strOut, strPattern, std::span<const CFormatArg>(&argText, 1)) != FORMAT_KIND_MISMATCH)
        return strOut;
    // Reports travel with one text argument; a text that is a whole decimal number may fill a
    // numeric conversion (such as the error code of "WSA Error: 0x%x").
    int64_t nValue = 0;
    const char* pEnd = strArg.data() + strArg.size();
    const auto result = std::from_chars(strArg.data(), pEnd, nValue);
    if (!strArg.empty() && result.ec == std::errc() && result.ptr == pEnd)
    {
        const CFormatArg argNumber(nValue);
        std::string strNumeric;
        if (FormatInto(strNumeric, strPattern, std::span<const CFormatArg>(&argNumber, 1)) == FORMAT_OK)
            return strNumeric;
    }
    return strOut;
}
} // namespace texts
