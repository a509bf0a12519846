#include "ResponseDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
/// The outer data object: where its value starts and how many of its bytes are present.
struct SOuter
{
    size_t nValue = 0;
    size_t nLength = 0;
};

bool ReadOuter(const uint8_t* p, size_t n, SOuter& outer)
{
    if (p == nullptr || n < 2)
        return false;
    size_t nDeclared = p[1];
    outer.nValue = 2;
    if (p[1] == 0x81)
    {
        if (n < 3)
            return false;
        nDeclared = p[2];
        outer.nValue = 3;
    }
    outer.nLength = std::min(nDeclared, n - outer.nValue);
    return true;
}

/// Walks inner objects (tag, one length byte, value) from nStart for nLength bytes; the
/// callback sees only value bytes that are present.
template <typename F>
void WalkInner(const uint8_t* p, size_t nStart, size_t nLength, F&& fnObject)
{
    size_t i = nStart;
    const size_t nEnd = nStart + nLength;
    while (i + 2 <= nEnd)
    {
        const uint8_t nTag = p[i];
        const size_t nLen = p[i + 1];
        const size_t nAvail = std::min(nLen, nEnd - (i + 2));
        fnObject(nTag, p + i + 2, nAvail);
        i += 2 + nLen;
    }
}

uint16_t ValueOf(const uint8_t* v, size_t n)
{
    if (n == 0)
        return 0;
    if (n == 1)
        return v[0];
    return static_cast<uint16_t>((v[0] << 8) | v[1]);
}

int LowNibble(uint8_t c)
{
    return c & 0x0F;
}

std::string Text(const uint8_t* p, size_t n)
{
    std::string str(reinterpret_cast<const char*>(p), n);
    const auto nZero = str.find('\0');
    if (nZero != std::string::npos)
        str.resize(nZero);
    return str;
}

bool StartsWith(const std::vector<uint8_t>& vec, size_t nFrom, const char* psz)
{
    const size_t nLen = std::strlen(psz);
    return vec.size() >= nFrom + nLen && std::memcmp(vec.data() + nFrom, psz, nLen) == 0;
}
} // namespace

SIccStatusEntry CResponseDecoder::IccEntryOf(uint8_t nRaw)
{
    SIccStatusEntry entry;
    entry.nRaw = nRaw;
    entry.bNoModeInfo = (nRaw & 0x18) == 0;
    entry.bNoElectricalInfo = (nRaw & 0x06) == 0;
    return entry;
}

bool CResponseDecoder::DecodeUnitName(const uint8_t* p, size_t n, std::string& strName)
{
    strName.clear();
    if (p == nullptr || n < 2)
        return false;
    // The name answer is walked from offset 2 over the whole response.
    WalkInner(p, 2, n - 2, [&](uint8_t nTag, const uint8_t* v, size_t nLen) {
        if (nTag == 0x13)
            strName = Text(v, std::min<size_t>(nLen, 33));
    });
    return true;
}

bool CResponseDecoder::DecodeDisplay(const uint8_t* p, size_t n, DisplayInfo& info)
{
    info = DisplayInfo{};
    SOuter outer;
    if (!ReadOuter(p, n, outer))
        return false;
    size_t nSets = 0;
    WalkInner(p, outer.nValue, outer.nLength, [&](uint8_t nTag, const uint8_t* v, size_t nLen) {
        switch (nTag)
        {
        case 0x80: info.nVisibleChars = ValueOf(v, nLen); break;
        case 0x81: info.nVisibleLines = ValueOf(v, nLen); break;
        case 0x82: info.nVirtualChars = ValueOf(v, nLen); break;
        case 0x83: info.nVirtualLines = ValueOf(v, nLen); break;
        case 0x84:
            if (nLen >= 1)
                info.nAttributes = v[0];
            break;
        case 0x85:
            if (nLen >= 1 && nSets < DisplayInfo::MAX_CHARSETS)
                info.anCharSets[nSets++] = static_cast<int16_t>(ValueOf(v, nLen));
            break;
        default: break;
        }
    });
    return true;
}

bool CResponseDecoder::DecodeKeypad(const uint8_t* p, size_t n, KeypadInfo& info)
{
    info = KeypadInfo{};
    SOuter outer;
    if (!ReadOuter(p, n, outer))
        return false;
    uint8_t* apField[] = {&info.nNumeric, &info.nAlphaNumeric, &info.nEntry, &info.nAbort,
                          &info.nMenu,    &info.nCorrection,   &info.nFunction};
    WalkInner(p, outer.nValue, outer.nLength, [&](uint8_t nTag, const uint8_t* v, size_t nLen) {
        if (nTag >= 0x80 && nTag <= 0x86 && nLen >= 1)
            *apField[nTag - 0x80] = v[0];
    });
    return true;
}

bool CResponseDecoder::DecodeIccStatus(const uint8_t* p, size_t n, IccStatusInfo& info)
{
    info = IccStatusInfo{};
    SOuter outer;
    if (!ReadOuter(p, n, outer))
        return false;
    const size_t nCount = std::min<size_t>(outer.nLength, 255);
    for (size_t i = 0; i < nCount; ++i)
        info.vecEntries.push_back(IccEntryOf(p[outer.nValue + i]));
    info.nCount = static_cast<uint16_t>(nCount);
    return true;
}

bool CResponseDecoder::DecodeIccInterface(const uint8_t* p, size_t n, IccInterfaceInfo& info)
{
    info = IccInterfaceInfo{};
    SOuter outer;
    if (!ReadOuter(p, n, outer))
        return false;
    uint8_t* apField[] = {&info.nCardSize,       &info.nMechanical,    &info.nContacts,         &info.nCardTypes,
                          &info.nAsyncProtocols, &info.nSyncProtocols, &info.nWirelessProtocols};
    WalkInner(p, outer.nValue, outer.nLength, [&](uint8_t nTag, const uint8_t* v, size_t nLen) {
        if (nTag >= 0x80 && nTag <= 0x86 && nLen >= 1)
            *apField[nTag - 0x80] = v[0];
        else if (nTag == 0x87 && nLen >= 2)
            info.nExtendedLength = static_cast<uint16_t>((v[0] << 8) | v[1]);
    });
    return true;
}

bool CResponseDecoder::DecodeAtr(const uint8_t* p, size_t n, std::string& strAtr)
{
    if (p == nullptr || n < 3)
        return false;
    size_t nLen = p[2];
    size_t nStart = 3;
    if (p[1] == 0x81)
    {
        if (n < 4)
            return false;
        nLen = p[3];
        nStart = 4;
    }
    nLen = std::min(nLen, n - nStart);
    std::string str;
    for (size_t i = 0; i < nLen; ++i)
    {
        char sz[4];
        std::snprintf(sz, sizeof(sz), "%02X ", p[nStart + i]);
        str += sz;
    }
    while (!str.empty() && str.back() == ' ')
        str.pop_back();
    strAtr = str;
    return true;
}

bool CResponseDecoder::DecodeUnitList(const uint8_t* p, size_t n, std::vector<uint8_t>& vecList)
{
    vecList.clear();
    SOuter outer;
    if (!ReadOuter(p, n, outer))
        return false;
    const size_t nLen = std::min(outer.nLength, MAX_UNIT_LIST);
    vecList.assign(p + outer.nValue, p + outer.nValue + nLen);
    return true;
}

bool CResponseDecoder::DecodeManufacturer(const uint8_t* p, size_t n, ManufacturerInfo& info)
{
    info = ManufacturerInfo{};
    if (p == nullptr || n < 2)
        return false;
    char sz[64];
    if (n < 17)
    {
        // Short form: manufacturer and a three-part version of the maker's own terminals.
        if (n <= 13 || p[1] != 10)
            return false;
        info.strManufacturer = Text(p + 2, 5);
        if (info.strManufacturer != "DEVNT")
            return true;
        const int nMajor = LowNibble(p[7]);
        const int nMinor = LowNibble(p[8]) * 10 + LowNibble(p[9]);
        int nPatch = LowNibble(p[10]);
        if (p[11] != ' ')
            nPatch = nPatch * 10 + LowNibble(p[11]);
        std::snprintf(sz, sizeof(sz), "%d.%d.%d", nMajor, nMinor, nPatch);
        info.strVersion = std::string(sz).substr(0, 12);
        info.nVersion = (nMajor * 100 + nMinor) * 100 + nPatch;
        return true;
    }

    info.strManufacturer = Text(p + 2, 5);
    info.strType = Text(p + 7, 5);
    const int nDeclared = static_cast<int>(p[1]) - 15;
    const size_t nDisc = std::min({static_cast<size_t>(std::max(nDeclared, 0)), size_t{112}, n - 17});
    info.vecDiscretionary.assign(p + 17, p + 17 + nDisc);
    const auto& d = info.vecDiscretionary;

    // Terminals of other makers put three 3-digit numbers into a 0xD7 object; the names
    // "ZLS_" and "gematik_" mark objects that carry something else.
    if (d.size() >= 39 && d[0] == 0xD7 && !StartsWith(d, 2, "ZLS_") && !StartsWith(d, 2, "gematik_"))
    {
        const auto Num = [&](size_t i) {
            return LowNibble(d[i]) * 100 + LowNibble(d[i + 1]) * 10 + LowNibble(d[i + 2]);
        };
        const int a = Num(30), b = Num(33), c = Num(36);
        std::snprintf(sz, sizeof(sz), "%d.%d.%d", a, b, c);
        info.strVersion = std::string(sz).substr(0, 12);
        info.nVersion = (a * 1000 + b) * 1000 + c;
        return true;
    }
    if (info.strManufacturer == "DEVNT")
    {
        const int a = LowNibble(p[12]), b = LowNibble(p[13]), c = LowNibble(p[14]);
        int d4 = LowNibble(p[15]);
        if (p[16] != ' ')
            d4 = d4 * 10 + LowNibble(p[16]);
        std::snprintf(sz, sizeof(sz), "%d.%d.%d.%d", a, b, c, d4);
        info.strVersion = std::string(sz).substr(0, 12);
        info.nVersion = a * 10000 + b * 1000 + c * 100 + d4;
    }
    return true;
}

bool CResponseDecoder::DecodeUnit(int nSelector, const uint8_t* p, size_t n, SUnitStatus& unit)
{
    switch (nSelector)
    {
    case SEL_UNIT_NAME: return DecodeUnitName(p, n, unit.strName);
    case SEL_DISPLAY:
    {
        DisplayInfo info;
        if (!DecodeDisplay(p, n, info))
            return false;
        unit.display = info;
        return true;
    }
    case SEL_KEYPAD:
    {
        KeypadInfo info;
        if (!DecodeKeypad(p, n, info))
            return false;
        unit.keypad = info;
        return true;
    }
    case SEL_ICC_STATUS:
    {
        IccStatusInfo info;
        if (!DecodeIccStatus(p, n, info))
            return false;
        unit.iccStatus = std::move(info);
        return true;
    }
    case SEL_ICC_INTERFACE:
    {
        IccInterfaceInfo info;
        if (!DecodeIccInterface(p, n, info))
            return false;
        unit.iccInterface = info;
        return true;
    }
    case SEL_ATR: return DecodeAtr(p, n, unit.strAtr);
    default: return false;
    }
}
