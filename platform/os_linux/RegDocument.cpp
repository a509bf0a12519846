#include "RegDocument.h"

#include <cstdio>

#include "HexDigit.h"
#include "SettingsStore.h"

namespace os
{
namespace
{
const char* const kHeader4 = "REGEDIT4";
const char* const kHeader5 = "Windows Registry Editor Version 5.00";

std::string Trim(const std::string& str)
{
    size_t nBegin = str.find_first_not_of(" \t");
    if (nBegin == std::string::npos)
        return {};
    size_t nEnd = str.find_last_not_of(" \t");
    return str.substr(nBegin, nEnd - nBegin + 1);
}

bool IsTextType(uint32_t nType)
{
    return nType == REG_TYPE_SZ || nType == REG_TYPE_EXPAND_SZ || nType == REG_TYPE_MULTI_SZ;
}

// Reads a quoted text starting at str[nPos] == '"'; handles \\ and \" as the registry editor
// writes them. nPos ends after the closing quote.
bool ParseQuoted(const std::string& str, size_t& nPos, std::string& strOut)
{
    if (nPos >= str.size() || str[nPos] != '"')
        return false;
    ++nPos;
    strOut.clear();
    while (nPos < str.size())
    {
        char c = str[nPos++];
        if (c == '"')
            return true;
        if (c == '\0')
            return false;
        if (c == '\\' && nPos < str.size() && (str[nPos] == '\\' || str[nPos] == '"'))
            c = str[nPos++];
        strOut.push_back(c);
    }
    return false;  // no closing quote
}

// A continuation line of hex data holds hex digits, commas, blanks and maybe a final backslash.
// Anything else (a section, a value, a blank line) is never taken into the value before it, so
// a value broken off at the end of a file cannot swallow the lines written after it.
bool IsHexContinuation(const std::string& strLine)
{
    bool bDigit = false;
    for (char c : strLine)
    {
        if (os::HexDigitValue(c) >= 0)
            bDigit = true;
        else if (c != ',' && c != ' ' && c != '\t' && c != '\\')
            return false;
    }
    return bDigit;
}

std::string Quote(const std::string& str)
{
    std::string strOut = "\"";
    for (char c : str)
    {
        if (c == '\\' || c == '"')
            strOut.push_back('\\');
        strOut.push_back(c);
    }
    strOut.push_back('"');
    return strOut;
}
} // namespace

CRegDocument::CRegDocument() = default;

std::string CRegDocument::Fold(const std::string& str)
{
    std::string strOut = str;
    for (char& c : strOut)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return strOut;
}

std::string CRegDocument::FullKey(const std::string& strRoot, const std::string& strKeyPath)
{
    std::string strKey;
    NormaliseSectionKey(strKeyPath.empty() ? strRoot : strRoot + "\\" + strKeyPath, strKey);
    return strKey;
}

// Folds the key, expands the short root names and drops doubled and trailing backslashes,
// so that every spelling of one key compares equal. False when the root is unknown.
bool CRegDocument::NormaliseSectionKey(const std::string& strText, std::string& strKey)
{
    std::vector<std::string> vecParts;
    std::string strPart;
    for (char c : strText + "\\")
    {
        if (c == '\\')
        {
            if (!strPart.empty())
                vecParts.push_back(Fold(strPart));
            strPart.clear();
        }
        else
            strPart.push_back(c);
    }
    if (vecParts.empty())
        return false;
    if (vecParts[0] == "hkcu")
        vecParts[0] = "hkey_current_user";
    else if (vecParts[0] == "hklm")
        vecParts[0] = "hkey_local_machine";
    if (vecParts[0].rfind("hkey_", 0) != 0)
        return false;
    strKey.clear();
    for (size_t i = 0; i < vecParts.size(); ++i)
    {
        if (i)
            strKey.push_back('\\');
        strKey += vecParts[i];
    }
    return true;
}

void CRegDocument::Parse(const std::string& strText)
{
    m_vecEntries.clear();
    m_bVersion5 = false;
    m_strNewline = "\n";
    size_t nFirstBreak = strText.find('\n');
    if (nFirstBreak != std::string::npos && nFirstBreak > 0 && strText[nFirstBreak - 1] == '\r')
        m_strNewline = "\r\n";

    // Each line twice: as it is written back (without the line ending that Serialize adds
    // again, so that a save keeps every other byte) and as it is read (without any carriage
    // return at its end). A line that carries stray carriage returns thus means the same
    // before and after a save; were one of them dropped on writing, a line ignored until
    // then could turn into a value on the next read and hide one written meanwhile.
    std::vector<std::string> vecRawLines;
    std::vector<std::string> vecLines;
    size_t nPos = 0;
    while (nPos < strText.size())
    {
        size_t nEnd = strText.find('\n', nPos);
        std::string strLine = strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
        std::string strRaw = strLine;
        if (m_strNewline == "\r\n" && !strRaw.empty() && strRaw.back() == '\r')
            strRaw.pop_back();
        while (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        vecRawLines.push_back(std::move(strRaw));
        vecLines.push_back(std::move(strLine));
        if (nEnd == std::string::npos)
            break;
        nPos = nEnd + 1;
    }

    bool bHeaderSeen = false;
    for (size_t i = 0; i < vecLines.size(); ++i)
    {
        SEntry entry;
        entry.vecRaw.push_back(vecRawLines[i]);
        std::string strLine = Trim(vecLines[i]);
        if (strLine.empty() || strLine[0] == ';')
        {
            m_vecEntries.push_back(std::move(entry));
            continue;
        }
        if (!bHeaderSeen && (strLine == kHeader4 || strLine == kHeader5))
        {
            bHeaderSeen = true;
            m_bVersion5 = (strLine == kHeader5);
            m_vecEntries.push_back(std::move(entry));
            continue;
        }
        bHeaderSeen = true;
        if (strLine[0] == '[')
        {
            entry.eKind = EKind::Section;
            if (strLine.back() == ']')
            {
                std::string strInner = strLine.substr(1, strLine.size() - 2);
                if (!strInner.empty() && strInner[0] == '-')
                {
                    entry.bDeleteKey = true;
                    strInner.erase(0, 1);
                }
                if (strInner.find('\0') == std::string::npos)
                    NormaliseSectionKey(strInner, entry.strKey);
            }
            // A malformed section keeps an empty key: its values are ignored, not filed
            // under the section before it.
            m_vecEntries.push_back(std::move(entry));
            continue;
        }
        if (strLine[0] == '"' || strLine[0] == '@')
        {
            bool bWantsMore = false;
            std::string strLogical = strLine;
            // hex data may go on over lines ending in a backslash
            while (true)
            {
                SEntry probe;
                if (!ParseValueLine(strLogical, probe, bWantsMore) && bWantsMore && i + 1 < vecLines.size() &&
                    IsHexContinuation(vecLines[i + 1]))
                {
                    ++i;
                    entry.vecRaw.push_back(vecRawLines[i]);
                    strLogical.pop_back();  // the backslash
                    strLogical = Trim(strLogical) + Trim(vecLines[i]);
                    continue;
                }
                break;
            }
            if (ParseValueLine(strLogical, entry, bWantsMore))
                entry.eKind = EKind::Value;
            m_vecEntries.push_back(std::move(entry));
            continue;
        }
        m_vecEntries.push_back(std::move(entry));  // malformed: kept as it is
    }
}

bool CRegDocument::ParseValueLine(const std::string& strLine, SEntry& entry, bool& bWantsMore) const
{
    bWantsMore = false;
    size_t nPos = 0;
    std::string strName;
    if (strLine[0] == '@')
        nPos = 1;
    else if (!ParseQuoted(strLine, nPos, strName))
        return false;
    while (nPos < strLine.size() && (strLine[nPos] == ' ' || strLine[nPos] == '\t'))
        ++nPos;
    if (nPos >= strLine.size() || strLine[nPos] != '=')
        return false;
    std::string strData = Trim(strLine.substr(nPos + 1));
    if (strData.size() >= 3 && Fold(strData.substr(0, 3)) == "hex" && !strData.empty() && strData.back() == '\\')
    {
        bWantsMore = true;
        return false;
    }
    entry.strName = Fold(strName);
    return ParseData(strData, entry);
}

bool CRegDocument::ParseData(const std::string& strData, SEntry& entry) const
{
    entry.value = SValue{};
    entry.bDeleteValue = false;
    if (strData == "-")
    {
        entry.bDeleteValue = true;
        return true;
    }
    if (!strData.empty() && strData[0] == '"')
    {
        size_t nPos = 0;
        std::string strText;
        if (!ParseQuoted(strData, nPos, strText) || !Trim(strData.substr(nPos)).empty())
            return false;
        // A quoted text is stored as the registry editor imports it: with its terminating zero.
        entry.value.nType = REG_TYPE_SZ;
        entry.value.vecData.assign(strText.begin(), strText.end());
        entry.value.vecData.push_back(0);
        return true;
    }
    std::string strLower = Fold(strData);
    if (strLower.rfind("dword:", 0) == 0)
    {
        std::string strHex = strData.substr(6);
        if (strHex.empty() || strHex.size() > 8)
            return false;
        uint32_t nValue = 0;
        for (char c : strHex)
        {
            int nDigit = os::HexDigitValue(c);
            if (nDigit < 0)
                return false;
            nValue = nValue << 4 | static_cast<uint32_t>(nDigit);
        }
        entry.value.nType = REG_TYPE_DWORD;
        for (int k = 0; k < 4; ++k)
            entry.value.vecData.push_back(static_cast<uint8_t>(nValue >> (8 * k)));
        return true;
    }
    if (strLower.rfind("hex", 0) != 0)
        return false;
    size_t nPos = 3;
    uint32_t nType = REG_TYPE_BINARY;
    if (nPos < strLower.size() && strLower[nPos] == '(')
    {
        size_t nClose = strLower.find(')', nPos);
        if (nClose == std::string::npos || nClose == nPos + 1 || nClose - nPos - 1 > 8)
            return false;
        nType = 0;
        for (size_t k = nPos + 1; k < nClose; ++k)
        {
            int nDigit = os::HexDigitValue(strLower[k]);
            if (nDigit < 0)
                return false;
            nType = nType << 4 | static_cast<uint32_t>(nDigit);
        }
        nPos = nClose + 1;
    }
    if (nPos >= strLower.size() || strLower[nPos] != ':')
        return false;
    ++nPos;
    std::vector<uint8_t> vecBytes;
    std::string strRest = strLower.substr(nPos);
    size_t nStart = 0;
    while (nStart <= strRest.size() && !Trim(strRest).empty())
    {
        size_t nComma = strRest.find(',', nStart);
        std::string strByte = Trim(strRest.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart));
        if (strByte.empty() || strByte.size() > 2)
            return false;
        int nValue = 0;
        for (char c : strByte)
        {
            int nDigit = os::HexDigitValue(c);
            if (nDigit < 0)
                return false;
            nValue = nValue * 16 + nDigit;
        }
        vecBytes.push_back(static_cast<uint8_t>(nValue));
        if (nComma == std::string::npos)
            break;
        nStart = nComma + 1;
    }
    entry.value.nType = nType;
    if (m_bVersion5 && IsTextType(nType) && vecBytes.size() % 2 == 0)
    {
        std::string strText = Utf16LeToUtf8(vecBytes.data(), vecBytes.size());
        entry.value.vecData.assign(strText.begin(), strText.end());
    }
    else
        entry.value.vecData = std::move(vecBytes);
    return true;
}

bool CRegDocument::Find(const std::string& strRoot, const std::string& strKeyPath, const std::string& strName,
                        SValue& value) const
{
    const std::string strKey = FullKey(strRoot, strKeyPath);
    const std::string strFoldedName = Fold(strName);
    bool bFound = false;
    bool bInKey = false;
    for (const SEntry& entry : m_vecEntries)
    {
        if (entry.eKind == EKind::Section)
        {
            bInKey = false;
            if (entry.strKey.empty())
                continue;
            if (entry.bDeleteKey)
            {
                // deleting a key deletes its subkeys too
                if (strKey == entry.strKey || strKey.rfind(entry.strKey + "\\", 0) == 0)
                    bFound = false;
            }
            else
                bInKey = (entry.strKey == strKey);
        }
        else if (entry.eKind == EKind::Value && bInKey && entry.strName == strFoldedName)
        {
            bFound = !entry.bDeleteValue;
            if (bFound)
                value = entry.value;
        }
    }
    return bFound;
}

void CRegDocument::Set(const std::string& strRoot, const std::string& strKeyPath, const std::string& strName,
                       uint32_t nType, const std::vector<uint8_t>& vecData)
{
    const std::string strKey = FullKey(strRoot, strKeyPath);
    const std::string strFoldedName = Fold(strName);

    // The key's last section counts only when no deletion of the key follows it.
    size_t nSection = std::string::npos;
    for (size_t i = 0; i < m_vecEntries.size(); ++i)
    {
        const SEntry& entry = m_vecEntries[i];
        if (entry.eKind != EKind::Section || entry.strKey.empty())
            continue;
        if (!entry.bDeleteKey && entry.strKey == strKey)
            nSection = i;
        else if (entry.bDeleteKey && (strKey == entry.strKey || strKey.rfind(entry.strKey + "\\", 0) == 0))
            nSection = std::string::npos;
    }

    SEntry newEntry;
    newEntry.eKind = EKind::Value;
    newEntry.strName = strFoldedName;
    newEntry.value.nType = nType;
    newEntry.value.vecData = vecData;
    newEntry.vecRaw = FormatValue(strName, nType, vecData);

    if (nSection != std::string::npos)
    {
        size_t nEnd = nSection + 1;
        while (nEnd < m_vecEntries.size() && m_vecEntries[nEnd].eKind != EKind::Section)
            ++nEnd;
        size_t nLastValue = nSection;
        size_t nMatch = std::string::npos;
        for (size_t i = nSection + 1; i < nEnd; ++i)
        {
            if (m_vecEntries[i].eKind != EKind::Value)
                continue;
            nLastValue = i;
            if (m_vecEntries[i].strName == strFoldedName)
                nMatch = i;
        }
        if (nMatch != std::string::npos)
            m_vecEntries[nMatch] = std::move(newEntry);
        else
            m_vecEntries.insert(m_vecEntries.begin() + static_cast<std::ptrdiff_t>(nLastValue + 1), std::move(newEntry));
        return;
    }

    if (m_vecEntries.empty())
    {
        SEntry header;
        header.vecRaw.push_back(kHeader4);
        m_vecEntries.push_back(std::move(header));
    }
    // keep a trailing blank line of the file where it was: insert before it
    size_t nInsert = m_vecEntries.size();
    if (m_vecEntries.back().eKind == EKind::Other && Trim(m_vecEntries.back().vecRaw.front()).empty())
        --nInsert;
    std::vector<SEntry> vecNew;
    if (nInsert > 0 && !(m_vecEntries[nInsert - 1].eKind == EKind::Other &&
                         Trim(m_vecEntries[nInsert - 1].vecRaw.front()).empty()))
    {
        SEntry blank;
        blank.vecRaw.push_back("");
        vecNew.push_back(std::move(blank));
    }
    SEntry section;
    section.eKind = EKind::Section;
    section.strKey = strKey;
    section.vecRaw.push_back("[" + strRoot + (strKeyPath.empty() ? "" : "\\" + strKeyPath) + "]");
    vecNew.push_back(std::move(section));
    vecNew.push_back(std::move(newEntry));
    m_vecEntries.insert(m_vecEntries.begin() + static_cast<std::ptrdiff_t>(nInsert), vecNew.begin(), vecNew.end());
}

std::vector<std::string> CRegDocument::FormatValue(const std::string& strName, uint32_t nType,
                                                   const std::vector<uint8_t>& vecData) const
{
    std::string strLine = strName.empty() ? "@=" : Quote(strName) + "=";
    if (nType == REG_TYPE_DWORD && vecData.size() == 4)
    {
        uint32_t nValue = static_cast<uint32_t>(vecData[0]) | static_cast<uint32_t>(vecData[1]) << 8 |
                          static_cast<uint32_t>(vecData[2]) << 16 | static_cast<uint32_t>(vecData[3]) << 24;
        char szHex[16];
        std::snprintf(szHex, sizeof(szHex), "dword:%08x", nValue);
        return {strLine + szHex};
    }
    if (nType == REG_TYPE_SZ && !vecData.empty() && vecData.back() == 0)
    {
        // the quoted form always means "text plus its terminating zero", so it fits only a
        // text with exactly one zero at its end and nothing that would break the line
        std::string strText(vecData.begin(), vecData.end() - 1);
        if (strText.find_first_of(std::string("\0\r\n", 3)) == std::string::npos)
            return {strLine + Quote(strText)};
    }
    std::vector<uint8_t> vecBytes = vecData;
    if (m_bVersion5 && IsTextType(nType))
        vecBytes = Utf8ToUtf16Le(std::string(vecData.begin(), vecData.end()));
    char szType[24];
    if (nType == REG_TYPE_BINARY)
        std::snprintf(szType, sizeof(szType), "hex:");
    else
        std::snprintf(szType, sizeof(szType), "hex(%x):", nType);
    strLine += szType;
    // wrapped like the registry editor does it, so that lines stay readable
    std::vector<std::string> vecLines;
    for (size_t i = 0; i < vecBytes.size(); ++i)
    {
        char szByte[4];
        std::snprintf(szByte, sizeof(szByte), "%02x", vecBytes[i]);
        strLine += szByte;
        if (i + 1 < vecBytes.size())
        {
            strLine += ",";
            if (strLine.size() >= 76)
            {
                vecLines.push_back(strLine + "\\");
                strLine = "  ";
            }
        }
    }
    vecLines.push_back(strLine);
    return vecLines;
}

std::string CRegDocument::Serialize() const
{
    std::string strOut;
    for (const SEntry& entry : m_vecEntries)
        for (const std::string& strLine : entry.vecRaw)
            strOut += strLine + m_strNewline;
    return strOut;
}

std::string CRegDocument::Utf16LeToUtf8(const uint8_t* pData, size_t nSize)
{
    std::string strOut;
    size_t nUnits = nSize / 2;
    for (size_t i = 0; i < nUnits; ++i)
    {
        uint32_t nCode = static_cast<uint32_t>(pData[2 * i]) | static_cast<uint32_t>(pData[2 * i + 1]) << 8;
        if (nCode >= 0xD800 && nCode <= 0xDBFF && i + 1 < nUnits)
        {
            uint32_t nLow = static_cast<uint32_t>(pData[2 * i + 2]) | static_cast<uint32_t>(pData[2 * i + 3]) << 8;
            if (nLow >= 0xDC00 && nLow <= 0xDFFF)
            {
                nCode = 0x10000 + ((nCode - 0xD800) << 10) + (nLow - 0xDC00);
                ++i;
            }
            else
                nCode = 0xFFFD;
        }
        else if (nCode >= 0xD800 && nCode <= 0xDFFF)
            nCode = 0xFFFD;
        if (nCode < 0x80)
            strOut.push_back(static_cast<char>(nCode));
        else if (nCode < 0x800)
        {
            strOut.push_back(static_cast<char>(0xC0 | nCode >> 6));
            strOut.push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
        }
        else if (nCode < 0x10000)
        {
            strOut.push_back(static_cast<char>(0xE0 | nCode >> 12));
            strOut.push_back(static_cast<char>(0x80 | (nCode >> 6 & 0x3F)));
            strOut.push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
        }
        else
        {
            strOut.push_back(static_cast<char>(0xF0 | nCode >> 18));
            strOut.push_back(static_cast<char>(0x80 | (nCode >> 12 & 0x3F)));
            strOut.push_back(static_cast<char>(0x80 | (nCode >> 6 & 0x3F)));
            strOut.push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
        }
    }
    return strOut;
}

std::vector<uint8_t> CRegDocument::Utf8ToUtf16Le(const std::string& strText)
{
    std::vector<uint8_t> vecOut;
    auto put = [&vecOut](uint32_t nUnit) {
        vecOut.push_back(static_cast<uint8_t>(nUnit & 0xFF));
        vecOut.push_back(static_cast<uint8_t>(nUnit >> 8));
    };
    const auto* p = reinterpret_cast<const uint8_t*>(strText.data());
    size_t n = strText.size();
    for (size_t i = 0; i < n;)
    {
        uint32_t nCode = p[i];
        size_t nLen = 1;
        if (nCode >= 0xC2 && nCode <= 0xDF)
            nLen = 2;
        else if (nCode >= 0xE0 && nCode <= 0xEF)
            nLen = 3;
        else if (nCode >= 0xF0 && nCode <= 0xF4)
            nLen = 4;
        bool bValid = nLen > 1 && i + nLen <= n;
        uint32_t nDecoded = nLen == 2 ? (nCode & 0x1F) : nLen == 3 ? (nCode & 0x0F) : (nCode & 0x07);
        for (size_t k = 1; bValid && k < nLen; ++k)
        {
            if ((p[i + k] & 0xC0) != 0x80)
                bValid = false;
            nDecoded = nDecoded << 6 | (p[i + k] & 0x3F);
        }
        if (bValid && ((nLen == 3 && (nDecoded < 0x800 || (nDecoded >= 0xD800 && nDecoded <= 0xDFFF))) ||
                       (nLen == 4 && (nDecoded < 0x10000 || nDecoded > 0x10FFFF))))
            bValid = false;
        if (!bValid)
        {
            put(nCode);  // ASCII, or a stray byte taken as Latin-1
            ++i;
            continue;
        }
        if (nDecoded >= 0x10000)
        {
            nDecoded -= 0x10000;
            put(0xD800 + (nDecoded >> 10));
            put(0xDC00 + (nDecoded & 0x3FF));
        }
        else
            put(nDecoded);
        i += nLen;
    }
    return vecOut;
}
} // namespace os
