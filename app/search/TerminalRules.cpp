#include "TerminalRules.h"

#include <cstdio>

#include "HexDigit.h"

namespace search
{
namespace
{
// A decimal number from the whole text, with at most nMaxDigits digits; false otherwise.
bool ReadDecimal(const std::string& strText, size_t nMaxDigits, uint32_t& nValue)
{
    if (strText.empty() || strText.size() > nMaxDigits)
        return false;
    uint32_t n = 0;
    for (char c : strText)
    {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    nValue = n;
    return true;
}

} // namespace

std::string ConnectionTypeLabel(int nConnectionType, const std::string& strMac)
{
    switch (nConnectionType)
    {
    case CONN_HID_UNSECURE:
    case CONN_HID_SECURE:
    case CONN_USB:
        return "USB";
    case CONN_SERIAL:
        return "Seriell";
    case CONN_LAN:
        // Only the maker's own devices carry the prefix at the very start; a terminal behind
        // a proxy answers with the proxy's MAC.
        return strMac.rfind(kMakerMacPrefix, 0) == 0 ? "LAN" : "LAN-Proxy";
    case CONN_PCSC:
        return "PC/SC";
    default:
        return "Unbekannt";
    }
}

std::string PortColumnText(uint16_t nPort)
{
    return nPort == 0 ? std::string() : std::to_string(nPort);
}

std::string SicctVersionText(uint16_t nVersion)
{
    return std::to_string(nVersion >> 8) + "." + std::to_string(nVersion & 0xFF);
}

std::string WebInterfaceUrl(const std::string& strIp, uint16_t nPort)
{
    if (strIp.empty() || nPort == 0)
        return {};
    if (nPort == 443)
        return "https://" + strIp + "/";
    if (nPort == 8080)
        return "http://" + strIp + "/";
    return "https://" + strIp + ":" + std::to_string(nPort) + "/";
}

uint16_t WebInterfacePortFromText(const std::string& strEdit, uint32_t nSettingPort)
{
    if (strEdit.empty())
        return static_cast<uint16_t>(nSettingPort & 0xFFFF);
    // Leading zeros are allowed ("0443" is 443); the length bound only keeps the sum small.
    size_t nFirst = strEdit.find_first_not_of('0');
    if (nFirst == std::string::npos)
        return 0;
    uint32_t nValue = 0;
    if (!ReadDecimal(strEdit.substr(nFirst), 5, nValue) || nValue > 65535)
        return 0;
    return static_cast<uint16_t>(nValue);
}

uint16_t InitialWebInterfacePort(uint32_t nSettingPort)
{
    return (nSettingPort >= 1 && nSettingPort <= 65535) ? static_cast<uint16_t>(nSettingPort)
                                                        : kDefaultWebPort;
}

int ProtocolCodeFromLogicalName(const std::string& strLogicalName)
{
    const size_t nColon = strLogicalName.rfind(':');
    if (nColon == std::string::npos)
        return 0;
    // At most two characters, read like atoi: leading digits only.
    const std::string strCode = strLogicalName.substr(nColon + 1, 2);
    int nCode = 0;
    for (char c : strCode)
    {
        if (c < '0' || c > '9')
            break;
        nCode = nCode * 10 + (c - '0');
    }
    return nCode;
}

void SplitLogicalName(const std::string& strLogicalName, uint16_t& nPort, uint8_t& nProtocol)
{
    nPort = 0;
    nProtocol = 0;
    const size_t nFirst = strLogicalName.find(':');
    if (nFirst == std::string::npos)
        return;
    const size_t nSecond = strLogicalName.find(':', nFirst + 1);
    const std::string strPort = strLogicalName.substr(
        nFirst + 1, nSecond == std::string::npos ? std::string::npos : nSecond - nFirst - 1);
    uint32_t nValue = 0;
    if (ReadDecimal(strPort, 5, nValue) && nValue <= 65535)
        nPort = static_cast<uint16_t>(nValue);
    if (nSecond == std::string::npos)
        return;
    if (ReadDecimal(strLogicalName.substr(nSecond + 1), 3, nValue) && nValue <= 255)
        nProtocol = static_cast<uint8_t>(nValue);
}

bool ParseIpv4(const std::string& strIp, std::array<uint8_t, 4>& abIp)
{
    abIp = {};
    std::array<uint8_t, 4> abOut{};
    size_t nPos = 0;
    for (size_t i = 0; i < 4; ++i)
    {
        const size_t nDot = strIp.find('.', nPos);
        if ((i < 3) == (nDot == std::string::npos))
            return false;  // too few or too many fields
        uint32_t nValue = 0;
        if (!ReadDecimal(strIp.substr(nPos, nDot == std::string::npos ? std::string::npos : nDot - nPos), 3,
                         nValue) ||
            nValue > 255)
            return false;
        abOut[i] = static_cast<uint8_t>(nValue);
        nPos = nDot + 1;
    }
    if (abOut[0] == 0)
        return false;  // "0.x.y.z" and the like are no terminal address
    abIp = abOut;
    return true;
}

bool ParseMac(const std::string& strMac, std::array<uint8_t, 6>& abMac)
{
    abMac = {};
    std::array<uint8_t, 6> abOut{};
    size_t nPos = 0;
    for (size_t i = 0; i < 6; ++i)
    {
        const size_t nColon = strMac.find(':', nPos);
        if ((i < 5) == (nColon == std::string::npos))
            return false;
        const std::string strField =
            strMac.substr(nPos, nColon == std::string::npos ? std::string::npos : nColon - nPos);
        if (strField.empty() || strField.size() > 2)
            return false;
        int nValue = 0;
        for (char c : strField)
        {
            const int nDigit = os::HexDigitValue(c);
            if (nDigit < 0)
                return false;
            nValue = nValue * 16 + nDigit;
        }
        abOut[i] = static_cast<uint8_t>(nValue);
        nPos = nColon + 1;
    }
    abMac = abOut;
    return true;
}

std::string Ipv4ToText(uint32_t nAddress)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "%u.%u.%u.%u", (nAddress >> 24) & 0xFF, (nAddress >> 16) & 0xFF,
                  (nAddress >> 8) & 0xFF, nAddress & 0xFF);
    return sz;
}
} // namespace search
