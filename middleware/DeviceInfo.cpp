#include "DeviceInfo.h"

#include <array>
#include <cctype>

namespace
{
struct CTypeRow
{
    const char* pszConfig;
    const char* pszDisplay;
};

// Indexed by connection type code.
constexpr std::array<CTypeRow, 8> kTypeTable{{
    {"HID_UNSECURE", "USB"},
    {"HID_SECURE", "USB"},
    {"SERIAL", "Seriell"},
    {"LAN", "LAN"},
    {"PCSC", "PC/SC"},
    {"USB", "USB"},
    {"LAN2CTVNT", "Unbekannt"},
    {"UNKNOWN", "Unbekannt"},
}};

/// Value of "key" up to the next ';'; false when the key is missing or not terminated.
bool FindValue(const std::string& strText, const std::string& strKey, std::string& strValue)
{
    const size_t nKey = strText.find(strKey);
    if (nKey == std::string::npos)
        return false;
    const size_t nStart = nKey + strKey.size();
    const size_t nEnd = strText.find(';', nStart);
    if (nEnd == std::string::npos)
        return false;
    strValue = strText.substr(nStart, nEnd - nStart);
    return true;
}
} // namespace

void CDeviceInfo::SetAdditionalInfo(const std::string& strInfo)
{
    m_strAdditionalInfo = strInfo;
    std::string strValue;
    if (FindValue(strInfo, "IP-Address=", strValue) && !strValue.empty())
        m_strIpAddress = strValue;
    if (FindValue(strInfo, "MAC-Address=", strValue))
    {
        for (char& c : strValue)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        m_strMacAddress = strValue;
    }
}

std::string CDeviceInfo::ConnectionTypeText(int nType, bool bDisplay)
{
    // Writing back never produces "LAN2CTVNT": code 6 and everything above 5 is "UNKNOWN".
    if (nType < 0 || nType > 5)
        nType = 7;
    return bDisplay ? kTypeTable[static_cast<size_t>(nType)].pszDisplay
                    : kTypeTable[static_cast<size_t>(nType)].pszConfig;
}

int CDeviceInfo::ConnectionTypeFromText(const std::string& strText)
{
    for (size_t i = 0; i < kTypeTable.size(); ++i)
    {
        if (strText == kTypeTable[i].pszConfig)
            return static_cast<int>(i);
    }
    return 7;
}
