#pragma once
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DeviceInfo.h"

/// How terminalctl shows terminals and tables: the main window's list columns and labels as
/// aligned text, or JSON objects with fixed keys. Pure functions, any thread.
namespace cli
{
/// The main window's column headers: "Port", "Terminal Name", "IP-Adresse", "MAC-Adresse",
/// "Typ", "SICCT-Version".
const std::vector<std::string>& TerminalHeaders();

/// One list row of a terminal, column by column, with the main window's rules (port empty
/// when 0, "LAN" / "LAN-Proxy" by MAC prefix, version "%d.%d").
std::vector<std::string> TerminalRow(const CDeviceInfo& device);

/// One terminal as a JSON object with the keys port, name, ip, mac, type, connection_type,
/// sicct_version, network_port, protocol, logical_name.
nlohmann::ordered_json TerminalJson(const CDeviceInfo& device);

/// Writes a table: header line, then the rows; columns padded to their widest cell (counted
/// in characters, not bytes) and separated by two blanks, no blanks at a line's end.
void WriteTable(std::ostream& out, const std::vector<std::string>& vecHeaders,
                const std::vector<std::vector<std::string>>& vecRows);

/// Writes JSON indented by two, invalid UTF-8 replaced, followed by a line feed.
void WriteJson(std::ostream& out, const nlohmann::ordered_json& json);

/// A text a terminal sent, for display: kept when it is valid UTF-8, else read as
/// ISO-8859-1 (the terminals' character set) and converted.
std::string DisplayText(const std::string& strBytes);

/// Number of characters (UTF-8 code points) of a text.
size_t TextWidth(const std::string& strText);
} // namespace cli
