#include "CtApiCommands.h"

#include <cctype>
#include <string>

#include "HexDigit.h"
#include "Texts.h"

namespace ctapi
{
namespace
{
constexpr int CMD_SESSION_CLOSE = 104;
} // namespace

bool CommandFromText(std::string_view strText, std::string_view strUnit, std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    std::string strFilled(strText);
    const size_t nPos = strFilled.find("%s");
    if (nPos != std::string::npos)
        strFilled.replace(nPos, 2, strUnit);

    std::vector<uint8_t> vecBytes;
    size_t i = 0;
    while (i < strFilled.size())
    {
        if (std::isspace(static_cast<unsigned char>(strFilled[i])))
        {
            ++i;
            continue;
        }
        // one token: exactly two hex digits, then white space or the end
        if (i + 1 >= strFilled.size())
            return false;
        const int nHigh = os::HexDigitValue(strFilled[i]);
        const int nLow = os::HexDigitValue(strFilled[i + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        if (i + 2 < strFilled.size() && !std::isspace(static_cast<unsigned char>(strFilled[i + 2])))
            return false;
        vecBytes.push_back(static_cast<uint8_t>(nHigh * 16 + nLow));
        i += 2;
    }
    if (vecBytes.empty())
        return false;
    vecOut = std::move(vecBytes);
    return true;
}

std::vector<uint8_t> SessionCloseCommand(uint16_t nSicctVersion)
{
    const uint8_t nTag = nSicctVersion > 0x0114 ? 0x73 : 0x69;
    // Lc 0x14; constructed object of 0x12 bytes: two empty 0x13 objects and one holding the
    // 12 ASCII bytes "VANTOR__1001"
    return {0x80, 0x29, 0x00, 0x00, 0x14, nTag, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x0C,
            'V',  'A',  'N',  'T',  'O',  'R',  '_',  '_',  '1',  '0',  '0',  '1'};
}

bool CommandFromTable(int nCommandId, uint16_t nSicctVersion, std::string_view strUnit,
                      std::vector<uint8_t>& vecOut)
{
    if (nCommandId == CMD_SESSION_CLOSE)
    {
        // The table text would close without naming the session; terminals reached through
        // a CT-API library expect the close with the fixed identifier.
        vecOut = SessionCloseCommand(nSicctVersion);
        return true;
    }
    return CommandFromText(texts::Get(nCommandId), strUnit, vecOut);
}

bool DownloadDataCommand(const uint8_t* pData, size_t nLength, bool bLast, std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    if (!pData || nLength == 0 || nLength > MAX_DOWNLOAD_DATA)
        return false;
    vecOut = {0x80, static_cast<uint8_t>(bLast ? 0x26 : 0x25), 0x00, 0x00};
    if (nLength <= 127)
    {
        vecOut.push_back(static_cast<uint8_t>(nLength + 2));
        vecOut.push_back(0x73);
        vecOut.push_back(static_cast<uint8_t>(nLength));
    }
    else if (nLength <= 252)
    {
        vecOut.push_back(static_cast<uint8_t>(nLength + 3));
        vecOut.push_back(0x73);
        vecOut.push_back(0x81);
        vecOut.push_back(static_cast<uint8_t>(nLength));
    }
    else
    {
        const size_t nLc = nLength + 4;
        vecOut.push_back(0x00);
        vecOut.push_back(static_cast<uint8_t>(nLc >> 8));
        vecOut.push_back(static_cast<uint8_t>(nLc));
        vecOut.push_back(0x73);
        vecOut.push_back(0x82);
        vecOut.push_back(static_cast<uint8_t>(nLength >> 8));
        vecOut.push_back(static_cast<uint8_t>(nLength));
    }
    vecOut.insert(vecOut.end(), pData, pData + nLength);
    return true;
}

std::string_view CommandLabel(int nCommandId)
{
    switch (nCommandId)
    {
    case 102:
        return "SICCT Init CT Session returned: ";
    case 104:
        return "SICCT Close CT Session returned: ";
    case 105:
        return "SICCT Download Init returned: ";
    case 106:
        return "SICCT Download Finish returned: ";
    case 126:
        return "SICCT Reset CT returned: ";
    case 128:
        return "Select SICCT Mode returned: ";
    case 137:
        return "Select BCS Mode returned: ";
    case 138:
        return "BCS Reset CT returned: ";
    default:
        return "Unknown Command returned: ";
    }
}
} // namespace ctapi
