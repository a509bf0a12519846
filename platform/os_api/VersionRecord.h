#pragma once
#include "HexDigit.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace os
{
/// The fixed numeric part of a version record, field for field the Windows VS_FIXEDFILEINFO
/// (13 little-endian 32-bit words, 52 bytes), so that code written against the Windows
/// layout reads the same numbers. A version a.b.c.d is stored as MS = a << 16 | b,
/// LS = c << 16 | d.
struct SFixedFileInfo
{
    uint32_t nSignature = 0;        // 0xFEEF04BD
    uint32_t nStrucVersion = 0;     // 0x00010000
    uint32_t nFileVersionMS = 0;
    uint32_t nFileVersionLS = 0;
    uint32_t nProductVersionMS = 0;
    uint32_t nProductVersionLS = 0;
    uint32_t nFileFlagsMask = 0;
    uint32_t nFileFlags = 0;
    uint32_t nFileOS = 0;
    uint32_t nFileType = 0;         // 1 application, 2 shared library
    uint32_t nFileSubtype = 0;
    uint32_t nFileDateMS = 0;
    uint32_t nFileDateLS = 0;
};
static_assert(sizeof(SFixedFileInfo) == 52, "same size as VS_FIXEDFILEINFO");

constexpr uint32_t VERSION_FIXED_SIGNATURE = 0xFEEF04BDu;

/// One entry of the translation table: language id (0x0407 German) and code page (1200).
struct SVersionTranslation
{
    uint16_t nLanguage = 0;
    uint16_t nCodePage = 0;
};

/// The string values of one translation, in stored order (names like "ProductName").
struct SVersionStrings
{
    SVersionTranslation translation;
    std::vector<std::pair<std::string, std::string>> vecValues;
};

/// A version record read from a program or library file: fixed part, translation table and
/// one string table per translation. A plain value; copies are independent.
struct SVersionRecord
{
    SFixedFileInfo fixed;
    std::vector<SVersionTranslation> vecTranslations;
    std::vector<SVersionStrings> vecStrings;

    /// Looks a string value up by a Windows-style sub-block path
    /// "\StringFileInfo\<lang><codepage as 8 hex digits>\<name>" (leading backslash optional,
    /// hex digits and names compared case-insensitively, as the Windows query does).
    /// Returns false when the path has another form or names no stored value.
    bool QueryString(const std::string& strSubBlock, std::string& strValue) const
    {
        std::string strPath = strSubBlock;
        if (!strPath.empty() && strPath.front() == '\\')
            strPath.erase(0, 1);
        const std::string strPrefix = "StringFileInfo\\";
        if (strPath.size() < strPrefix.size() + 10 || !EqualNoCase(strPath.substr(0, strPrefix.size()), strPrefix))
            return false;
        const std::string strHex = strPath.substr(strPrefix.size(), 8);
        if (strPath[strPrefix.size() + 8] != '\\')
            return false;
        const std::string strName = strPath.substr(strPrefix.size() + 9);
        uint32_t nKey = 0;
        for (char c : strHex)
        {
            int nDigit = HexDigitValue(c);
            if (nDigit < 0)
                return false;
            nKey = nKey << 4 | static_cast<uint32_t>(nDigit);
        }
        for (const SVersionStrings& table : vecStrings)
        {
            if ((static_cast<uint32_t>(table.translation.nLanguage) << 16 | table.translation.nCodePage) != nKey)
                continue;
            for (const auto& [strKeyName, strText] : table.vecValues)
            {
                if (EqualNoCase(strKeyName, strName))
                {
                    strValue = strText;
                    return true;
                }
            }
        }
        return false;
    }

private:
    static bool EqualNoCase(const std::string& a, const std::string& b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
        {
            char x = a[i], y = b[i];
            if (x >= 'A' && x <= 'Z')
                x = static_cast<char>(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z')
                y = static_cast<char>(y - 'A' + 'a');
            if (x != y)
                return false;
        }
        return true;
    }
};

/// Reads the version record embedded in a program or library file (GetFileVersionInfo on
/// Windows; on Linux the ".tc_version" section of an ELF file). Stateless; any thread.
class CVersionReader
{
public:
    virtual ~CVersionReader() = default;
    /// Reads the record of the file. Codes: OS_OK; OS_ERR_NOT_FOUND (file missing, not an
    /// ELF file of a supported kind, or no record in it); OS_ERR_ACCESS; OS_ERR_GENERAL
    /// (a record that is damaged).
    virtual int ReadFromFile(const std::string& strPath, SVersionRecord& record) = 0;
    /// Full path of a loaded module: null = the running program, else a handle from the
    /// library loader's native handle (dlopen). Empty when it cannot be determined.
    virtual std::string ModuleFileName(void* hModule) = 0;
};
} // namespace os
