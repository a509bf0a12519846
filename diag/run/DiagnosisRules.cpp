#include "DiagnosisRules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace diagrun
{
namespace
{
constexpr uint16_t VERSION_1_03 = 0x0103;
constexpr uint16_t VERSION_1_10 = 0x010A;
constexpr uint16_t VERSION_1_20 = 0x0114;

std::string Hex2(unsigned n)
{
    char sz[8];
    std::snprintf(sz, sizeof(sz), "%.2X", n & 0xFFu);
    return sz;
}

const char* Bool(bool b)
{
    return b ? "True" : "False";
}

bool Bit(uint8_t n, int nBit)
{
    return ((n >> nBit) & 1u) != 0;
}

void Add(std::vector<SValueRow>& vec, const char* pszName, std::string strValue)
{
    vec.push_back(SValueRow{pszName, std::move(strValue), false});
}

void AddBool(std::vector<SValueRow>& vec, const char* pszName, bool bValue)
{
    Add(vec, pszName, Bool(bValue));
}

void Heading(std::vector<SValueRow>& vec, const char* pszName)
{
    vec.push_back(SValueRow{pszName, {}, true});
}

/// A group of the interface section: heading, then one row per named bit (bit 0 first).
struct SBitName
{
    int nBit;
    const char* pszName;
};

template <size_t N>
void BitGroup(std::vector<SValueRow>& vec, const char* pszHeading, uint8_t nValue, const SBitName (&aBits)[N])
{
    Heading(vec, pszHeading);
    for (const auto& bit : aBits)
        AddBool(vec, bit.pszName, Bit(nValue, bit.nBit));
}
} // namespace

uint16_t EffectiveSicctVersion(uint16_t nVersion)
{
    // Terminals announcing 1.00 speak the 1.03 protocol.
    return nVersion == 0x0100 ? VERSION_1_03 : nVersion;
}

std::string VersionText(uint16_t nVersion)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "%d.%02d", nVersion >> 8, nVersion & 0xFF);
    return sz;
}

std::string TypeText(const ManufacturerInfo& info, uint16_t nSicctVersion)
{
    if (nSicctVersion < VERSION_1_20)
        return info.strType;
    const auto& vec = info.vecDiscretionary;
    if (vec.size() < 2 || vec[0] != 0xD7 || vec[1] > 110)
        return {};
    // Newer firmware keeps a short type name at value offset 20, older a long one at 37.
    const bool bShort = info.nVersion >= 12000;
    const size_t nFrom = 2 + (bShort ? 20 : 37);
    const size_t nWant = bShort ? 8 : 15;
    const size_t nEnd = std::min(vec.size(), static_cast<size_t>(2 + vec[1]));
    if (nFrom >= nEnd)
        return {};
    std::string str(reinterpret_cast<const char*>(vec.data() + nFrom), std::min(nWant, nEnd - nFrom));
    const auto nZero = str.find('\0');
    if (nZero != std::string::npos)
        str.resize(nZero);
    return str;
}

bool ShowsNotice(const std::array<uint8_t, 6>& abMac, const std::string& strVersionText)
{
    // The maker's early firmware cannot show the notice text.
    const bool bMaker = abMac[0] == 0x02 && abMac[1] == 0x4E && abMac[2] == 0x7A;
    const bool bOldFirmware = strVersionText.rfind("1.00.", 0) == 0 || strVersionText.rfind("1.10.1", 0) == 0;
    return !(bMaker && bOldFirmware);
}

std::string UnitId(uint8_t nTypeByte, uint8_t nNumberByte)
{
    return Hex2((nTypeByte & 0xF0u) | (nNumberByte & 0x0Fu));
}

bool HasNameQuery(uint16_t nSicctVersion)
{
    return nSicctVersion >= VERSION_1_10;
}

std::string FallbackName(uint8_t nTypeByte, uint8_t nNumberByte)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "FU #%02x", (nTypeByte & 0xF0u) | (nNumberByte & 0x0Fu));
    return sz;
}

bool QueriesKeypad(uint16_t nSicctVersion)
{
    // One rule for both ways to the terminal: the session client does not send the keypad
    // query to SICCT 1.0 - 1.20, so the CT-API way asks from 1.21 on as well. A 1.20
    // terminal that refused the query would otherwise end the unit loop with an error.
    const int nMajor = nSicctVersion >> 8;
    const int nMinor = nSicctVersion & 0xFF;
    return nMajor != 1 || nMinor > 20;
}

std::string CharacterSetName(int nCharSet)
{
    switch (nCharSet)
    {
    case 0: return "ISO 646";
    case 32: return "UTF-8";
    case 12: return "not supported";
    default: break;
    }
    char sz[32];
    std::snprintf(sz, sizeof(sz), "ISO / IEC 8859-%d", nCharSet);
    return sz;
}

std::vector<SValueRow> ValueRows(const SDiagUnit& unit)
{
    std::vector<SValueRow> vec;
    if (unit.iccStatus)
    {
        for (const auto& entry : unit.iccStatus->vecEntries)
        {
            const uint8_t n = entry.nRaw;
            AddBool(vec, "CC inserted", Bit(n, 0));
            AddBool(vec, "CC electrically not connected", Bit(n, 1));
            AddBool(vec, "CC electrically connected / powered", Bit(n, 2));
            AddBool(vec, "CC is in negotiable mode.", Bit(n, 3));
            AddBool(vec, "CC is in specific mode.", Bit(n, 4));
            Add(vec, "other values RFU1", std::to_string(Bit(n, 5) ? 1 : 0));
            Add(vec, "other values RFU2", std::to_string(Bit(n, 6) ? 1 : 0));
            AddBool(vec, "unknown CC state or general contact unit error", Bit(n, 7));
            AddBool(vec, "No Information for CC Mode Given", entry.bNoModeInfo);
            AddBool(vec, "No Information for Electronical Interface Given", entry.bNoElectricalInfo);
        }
    }
    if (unit.atr)
        Add(vec, "ATR", *unit.atr);
    if (unit.display)
    {
        const auto& d = *unit.display;
        Add(vec, "Visible Chars per Line", std::to_string(d.nVisibleChars));
        Add(vec, "Visible Lines", std::to_string(d.nVisibleLines));
        Add(vec, "Virtual Chars per Line", std::to_string(d.nVirtualChars));
        Add(vec, "Virtual Lines per Line", std::to_string(d.nVirtualLines));
        AddBool(vec, "Beeper Present", Bit(d.nAttributes, 0));
        Add(vec, "Beeper RFU", std::to_string((d.nAttributes >> 1) & 0x07));
        AddBool(vec, "LED Present", Bit(d.nAttributes, 4));
        Add(vec, "LED Count", std::to_string((d.nAttributes >> 5) & 0x07));
        for (size_t i = 0; i < DisplayInfo::MAX_CHARSETS && d.anCharSets[i] != -1; ++i)
        {
            Add(vec, "Character Set Index", std::to_string(d.anCharSets[i]));
            Add(vec, "Normative Character Set Name", CharacterSetName(d.anCharSets[i]));
        }
    }
    if (unit.iccInterface)
    {
        const auto& i = *unit.iccInterface;
        static const SBitName aWireless[] = {
            {0, "TYPE A"},
            {1, "TYPE B"},
            {2, "Supported according ISO 14443-1"},
            {3, "Supported according ISO 14443-2"},
            {4, "Supported according ISO 14443-3"},
            {5, "Supported according ISO 14443-4 (T=CL)"},
            {6, "Supported in ISO 7816 Mode"},
            {7, "Supported in EMV Level 1 Mode"}};
        static const SBitName aSync[] = {
            {0, "SDAP (IIC Bus), one Byte Address"},
            {1, "SDAP (IIC Bus), two Byte Address"},
            {2, "3 WB (Type 1)"},
            {3, "2 WB (Type 1)"},
            {4, "FCB (Type 2)"},
            {6, "ISO 7816 Compatible"},
            {7, "Supported in EMV Level 1 Mode"}};
        static const SBitName aAsync[] = {
            {0, "T=0"}, {1, "T=1"}, {6, "ISO 7861 Compatible"}, {7, "EMV Level 1 Compatible"}};
        static const SBitName aTypes[] = {
            {0, "ISO 7816-Async."},   {1, "ISO 7816-Synchr (Type 1)"}, {2, "ISO 7816-Synchr (Type 2)"},
            {3, "ISO 14443-A"},       {4, "ISO 14443-B"},              {5, "ISO 15693"},
            {6, "ISO 7816-12"},       {7, "EMV Level 1"}};
        static const SBitName aContacts[] = {
            {0, "Contact 1"}, {1, "Contact 2"}, {2, "Contact 3"}, {3, "Contact 4"},
            {4, "Contact 5"}, {5, "Contact 6"}, {6, "Contact 7"}, {7, "Contact 8"}};
        static const SBitName aMechanical[] = {
            {0, "Swallowing Mechanism"},
            {1, "Ejection Mechanism"},
            {2, "Capture Mechanism"},
            {3, "Internal Slot"},
            {4, "Mechanic / Automatic Feature"}};
        static const SBitName aSize[] = {{0, "ID-0000"}, {1, "ID-1"}};
        BitGroup(vec, "Supported Wireless ISO14443-Protocols", i.nWirelessProtocols, aWireless);
        BitGroup(vec, "Supported Synchr. ISO 7816-10 Protocols", i.nSyncProtocols, aSync);
        BitGroup(vec, "Supported Asynchr. Protocols", i.nAsyncProtocols, aAsync);
        BitGroup(vec, "Supported Card Types", i.nCardTypes, aTypes);
        BitGroup(vec, "Supported / Available Card Contacts", i.nContacts, aContacts);
        BitGroup(vec, "Supported / Available Mechanical Attributes", i.nMechanical, aMechanical);
        BitGroup(vec, "Supported Card Size", i.nCardSize, aSize);
        Add(vec, "Extended Length Indication", std::to_string(i.nExtendedLength));
    }
    if (unit.keypad)
    {
        const auto& k = *unit.keypad;
        Add(vec, "Numeric Key Count", std::to_string(k.nNumeric));
        Add(vec, "Alpha-Numeric Key Count", std::to_string(k.nAlphaNumeric));
        Add(vec, "Entry Key Count", std::to_string(k.nEntry));
        Add(vec, "Abort / Cancel Key Count", std::to_string(k.nAbort));
        Add(vec, "Menu Key Count", std::to_string(k.nMenu));
        Add(vec, "Correction Key Count", std::to_string(k.nCorrection));
        Add(vec, "Function Key Count", std::to_string(k.nFunction));
    }
    return vec;
}

std::string Latin1ToUtf8(const std::string& strBytes)
{
    std::string str;
    str.reserve(strBytes.size());
    for (const unsigned char c : strBytes)
    {
        if (c < 0x80)
        {
            str.push_back(static_cast<char>(c));
        }
        else
        {
            str.push_back(static_cast<char>(0xC0 | (c >> 6)));
            str.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return str;
}

std::string Utf8ToLatin1(const std::string& strUtf8)
{
    std::string str;
    str.reserve(strUtf8.size());
    for (size_t i = 0; i < strUtf8.size();)
    {
        const unsigned char c = static_cast<unsigned char>(strUtf8[i]);
        if (c < 0x80)
        {
            str.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        // Length of the sequence from its lead byte; a broken sequence counts as one byte.
        size_t nLen = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        uint32_t nCode = nLen == 2 ? (c & 0x1Fu) : nLen == 3 ? (c & 0x0Fu) : (c & 0x07u);
        bool bValid = nLen > 1 && i + nLen <= strUtf8.size();
        for (size_t k = 1; bValid && k < nLen; ++k)
        {
            const unsigned char cc = static_cast<unsigned char>(strUtf8[i + k]);
            bValid = (cc & 0xC0) == 0x80;
            nCode = (nCode << 6) | (cc & 0x3Fu);
        }
        if (!bValid)
            nLen = 1;
        str.push_back(bValid && nCode <= 0xFF ? static_cast<char>(nCode) : '?');
        i += nLen;
    }
    return str;
}
} // namespace diagrun
