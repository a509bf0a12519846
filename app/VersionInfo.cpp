#include "VersionInfo.h"

#include <cstdio>
#include <cstring>

#include "OsCodes.h"

namespace
{
// The characters that end a printf conversion.
const char* const kConversionEnds = "sScCdiouxXeEfgGnp";

// Formats one piece of the format: literal text with "%%" as '%', ending in one conversion
// that receives strValue as text. Only flags, width and precision are taken from the
// conversion; whatever its letter, the value is put in as a string.
std::string FormatPiece(const std::string& strPiece, const std::string& strValue)
{
    std::string strOut;
    size_t i = 0;
    while (i < strPiece.size())
    {
        char c = strPiece[i];
        if (c != '%')
        {
            strOut.push_back(c);
            ++i;
            continue;
        }
        if (i + 1 < strPiece.size() && strPiece[i + 1] == '%')
        {
            strOut.push_back('%');
            i += 2;
            continue;
        }
        // the conversion: flags, width, precision, length, letter
        size_t j = i + 1;
        bool bLeft = false;
        while (j < strPiece.size() && std::strchr("-+ #0'", strPiece[j]) && strPiece[j] != '\0')
        {
            if (strPiece[j] == '-')
                bLeft = true;
            ++j;
        }
        size_t nWidth = 0;
        if (j < strPiece.size() && strPiece[j] == '*')
            ++j;  // no argument to take it from: no width
        while (j < strPiece.size() && strPiece[j] >= '0' && strPiece[j] <= '9')
        {
            nWidth = nWidth * 10 + static_cast<size_t>(strPiece[j] - '0');
            if (nWidth > 4096)
                nWidth = 4096;  // a width beyond any buffer we format into
            ++j;
        }
        size_t nPrecision = std::string::npos;
        if (j < strPiece.size() && strPiece[j] == '.')
        {
            ++j;
            nPrecision = 0;
            if (j < strPiece.size() && strPiece[j] == '*')
            {
                nPrecision = std::string::npos;  // no argument to take it from: no precision
                ++j;
            }
            while (nPrecision != std::string::npos && j < strPiece.size() && strPiece[j] >= '0' &&
                   strPiece[j] <= '9')
            {
                nPrecision = nPrecision * 10 + static_cast<size_t>(strPiece[j] - '0');
                if (nPrecision > 4096)
                    nPrecision = 4096;
                ++j;
            }
        }
        while (j < strPiece.size() && std::strchr("hlLqjzt", strPiece[j]) && strPiece[j] != '\0')
            ++j;
        if (j + 1 != strPiece.size() || !std::strchr(kConversionEnds, strPiece[j]))
        {
            // not a conversion we understand: the text stands as it is
            strOut.append(strPiece, i, j + 1 - i);
            i = j + 1;
            continue;
        }
        std::string strText = strValue.substr(0, nPrecision);
        std::string strPad(nWidth > strText.size() ? nWidth - strText.size() : 0, ' ');
        strOut += bLeft ? strText + strPad : strPad + strText;
        i = j + 1;
    }
    return strOut;
}
} // namespace

CVersionInfo::CVersionInfo(os::CVersionReader& reader) : m_reader(reader)
{
}

CVersionInfo::~CVersionInfo() = default;

bool CVersionInfo::LoadFromFile(const std::string& strPath)
{
    m_record = os::SVersionRecord{};
    m_bLoaded = false;
    m_nCurrentTranslation = 0;
    os::SVersionRecord record;
    if (m_reader.ReadFromFile(strPath, record) != os::OS_OK)
        return false;
    if (record.fixed.nSignature != os::VERSION_FIXED_SIGNATURE || record.vecTranslations.empty())
        return false;
    m_record = std::move(record);
    m_bLoaded = true;
    return true;
}

bool CVersionInfo::LoadFromModule(void* hModule)
{
    std::string strPath = m_reader.ModuleFileName(hModule);
    if (strPath.empty() || strPath.size() > 4096)
    {
        m_record = os::SVersionRecord{};
        m_bLoaded = false;
        m_nCurrentTranslation = 0;
        return false;
    }
    return LoadFromFile(strPath);
}

bool CVersionInfo::SetCurrentTranslation(size_t nIndex)
{
    if (nIndex >= TranslationCount())
        return false;
    m_nCurrentTranslation = nIndex;
    return true;
}

bool CVersionInfo::GetValue(char* pOut, size_t nSize, const char* pszName, int nTranslation) const
{
    if (!m_bLoaded || pOut == nullptr || nSize == 0 || pszName == nullptr)
        return false;
    const size_t nIndex = nTranslation < 0 ? m_nCurrentTranslation : static_cast<size_t>(nTranslation);
    if (nIndex >= m_record.vecTranslations.size())
        return false;
    const os::SVersionTranslation& tr = m_record.vecTranslations[nIndex];
    char szBlock[64];
    std::snprintf(szBlock, sizeof(szBlock), "\\StringFileInfo\\%04x%04x\\", tr.nLanguage, tr.nCodePage);
    std::string strValue;
    if (!m_record.QueryString(szBlock + std::string(pszName), strValue))
        return false;
    const size_t nCopy = strValue.size() < nSize ? strValue.size() : nSize - 1;
    std::memcpy(pOut, strValue.data(), nCopy);
    pOut[nCopy] = '\0';
    return true;
}

CVersionInfo::EFormat CVersionInfo::Format(const std::string& strFormat, size_t nSize, int nTranslation,
                                           const std::vector<std::string>& vecNames, std::string& strOut) const
{
    if (!m_bLoaded)
        return EFormat::Failed;
    strOut.clear();
    size_t nPieceStart = 0;
    size_t nConversion = 0;
    size_t i = 0;
    while (i < strFormat.size())
    {
        if (strFormat[i] != '%')
        {
            ++i;
            continue;
        }
        if (i + 1 < strFormat.size() && strFormat[i + 1] == '%')
        {
            i += 2;  // a literal percent sign, no conversion
            continue;
        }
        size_t nEnd = strFormat.find_first_of(kConversionEnds, i + 1);
        if (nEnd == std::string::npos)
            break;
        char szValue[kMaxValueChars + 1] = "";
        if (nConversion < vecNames.size())
        {
            if (!GetValue(szValue, sizeof(szValue), vecNames[nConversion].c_str(), nTranslation))
                szValue[0] = '\0';
        }
        strOut += FormatPiece(strFormat.substr(nPieceStart, nEnd + 1 - nPieceStart), szValue);
        ++nConversion;
        nPieceStart = nEnd + 1;
        i = nEnd + 1;
    }
    strOut.append(strFormat, nPieceStart, std::string::npos);
    return strOut.size() + 1 <= nSize ? EFormat::Ok : EFormat::TooSmall;
}

bool CVersionInfo::FormatText(char* pBuffer, size_t nSize, int nTranslation,
                              const std::vector<std::string>& vecNames) const
{
    if (pBuffer == nullptr || nSize == 0)
        return false;
    const size_t nLen = strnlen(pBuffer, nSize);
    if (nLen == nSize)
        return false;  // no terminated text in the buffer
    std::string strOut;
    if (Format(std::string(pBuffer, nLen), nSize, nTranslation, vecNames, strOut) != EFormat::Ok)
        return false;
    std::memcpy(pBuffer, strOut.c_str(), strOut.size() + 1);
    return true;
}

bool CVersionInfo::FormatWindowText(std::string& strText, int nTranslation,
                                    const std::vector<std::string>& vecNames) const
{
    if (strText.empty())
        return false;
    size_t nBuffer = strText.size() + 1 < 128 ? 128 : strText.size() + 1;
    std::string strOut;
    // the result has a fixed length, so the growing buffer reaches it in a bounded number of steps
    while (true)
    {
        EFormat eResult = Format(strText, nBuffer, nTranslation, vecNames, strOut);
        if (eResult == EFormat::Ok)
            break;
        if (eResult != EFormat::TooSmall)
            return false;
        nBuffer += 128;
    }
    strText = strOut;
    return true;
}
