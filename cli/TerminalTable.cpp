#include "TerminalTable.h"

#include <algorithm>

#include "MaintenanceArgs.h"
#include "TerminalRules.h"

namespace cli
{
namespace
{
bool IsValidUtf8(const std::string& str)
{
    size_t i = 0;
    while (i < str.size())
    {
        const auto c = static_cast<uint8_t>(str[i]);
        size_t nMore = 0;
        if (c < 0x80)
            nMore = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            nMore = 1;
        else if ((c & 0xF0) == 0xE0)
            nMore = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            nMore = 3;
        else
            return false;
        if (i + nMore >= str.size())
            return false;
        for (size_t k = 1; k <= nMore; ++k)
        {
            if ((static_cast<uint8_t>(str[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += nMore + 1;
    }
    return true;
}

std::string Latin1ToUtf8(const std::string& str)
{
    std::string strOut;
    strOut.reserve(str.size() * 2);
    for (char ch : str)
    {
        const auto c = static_cast<uint8_t>(ch);
        if (c < 0x80)
        {
            strOut.push_back(ch);
        }
        else
        {
            strOut.push_back(static_cast<char>(0xC0 | (c >> 6)));
            strOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return strOut;
}

void WriteRow(std::ostream& out, const std::vector<std::string>& vecCells, const std::vector<size_t>& vecWidths)
{
    std::string strLine;
    for (size_t i = 0; i < vecCells.size(); ++i)
    {
        if (i > 0)
            strLine += "  ";
        strLine += vecCells[i];
        if (i + 1 < vecCells.size())
            strLine.append(vecWidths[i] - TextWidth(vecCells[i]), ' ');
    }
    while (!strLine.empty() && strLine.back() == ' ')
        strLine.pop_back();
    out << strLine << '\n';
}
} // namespace

size_t TextWidth(const std::string& strText)
{
    return static_cast<size_t>(std::count_if(strText.begin(), strText.end(),
                                             [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }));
}

std::string DisplayText(const std::string& strBytes)
{
    // Names are zero-padded in the discovery answer; what follows the first zero is padding.
    const std::string strText = strBytes.substr(0, strBytes.find('\0'));
    return IsValidUtf8(strText) ? strText : Latin1ToUtf8(strText);
}

const std::vector<std::string>& TerminalHeaders()
{
    static const std::vector<std::string> vec{"Port", "Terminal Name", "IP-Adresse", "MAC-Adresse", "Typ",
                                              "SICCT-Version"};
    return vec;
}

std::vector<std::string> TerminalRow(const CDeviceInfo& device)
{
    return {search::PortColumnText(device.GetPort()),
            DisplayText(device.GetName()),
            device.GetIpAddress(),
            device.GetMacAddress(),
            search::ConnectionTypeLabel(device.GetConnectionType(), device.GetMacAddress()),
            search::SicctVersionText(device.GetSicctVersion())};
}

nlohmann::ordered_json TerminalJson(const CDeviceInfo& device)
{
    return nlohmann::ordered_json{
        {"port", device.GetPort()},
        {"name", DisplayText(device.GetName())},
        {"ip", device.GetIpAddress()},
        {"mac", device.GetMacAddress()},
        {"type", search::ConnectionTypeLabel(device.GetConnectionType(), device.GetMacAddress())},
        {"connection_type", device.GetConnectionType()},
        {"sicct_version", search::SicctVersionText(device.GetSicctVersion())},
        {"network_port", device.GetNetworkPort()},
        {"protocol", search::ProtocolCodeFromLogicalName(device.GetLogicalName())},
        {"logical_name", DisplayText(device.GetLogicalName())},
    };
}

void WriteTable(std::ostream& out, const std::vector<std::string>& vecHeaders,
                const std::vector<std::vector<std::string>>& vecRows)
{
    std::vector<size_t> vecWidths(vecHeaders.size(), 0);
    for (size_t i = 0; i < vecHeaders.size(); ++i)
        vecWidths[i] = TextWidth(vecHeaders[i]);
    for (const auto& vecRow : vecRows)
        for (size_t i = 0; i < vecRow.size() && i < vecWidths.size(); ++i)
            vecWidths[i] = std::max(vecWidths[i], TextWidth(vecRow[i]));
    WriteRow(out, vecHeaders, vecWidths);
    for (const auto& vecRow : vecRows)
        WriteRow(out, vecRow, vecWidths);
    out.flush();
}

void WriteJson(std::ostream& out, const nlohmann::ordered_json& json)
{
    out << json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    out.flush();
}
} // namespace cli
