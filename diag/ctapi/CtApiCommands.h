#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

/// Command bytes as the CT-API worker sends them (without SICCT envelope: the CT-API library
/// frames them). Pure functions; safe from any thread.
namespace ctapi
{
/// Converts a command text of the string table ("80 13 00 46 00") to bytes: surrounding
/// white space is trimmed, every blank-separated token must be one pair of hex digits. A
/// "%s" in the text is first replaced by strUnit (two hex digits of a function unit).
/// False (vecOut empty) for an empty text or any token that is not a hex pair.
bool CommandFromText(std::string_view strText, std::string_view strUnit, std::vector<uint8_t>& vecOut);

/// The table command nCommandId (string-table text converted as above). Command 104 is the
/// fixed 25-byte session close chosen by nSicctVersion (see SessionCloseCommand).
bool CommandFromTable(int nCommandId, uint16_t nSicctVersion, std::string_view strUnit,
                      std::vector<uint8_t>& vecOut);

/// The session close of the CT-API way, 25 bytes:
///   80 29 00 00 14 T 12 13 00 13 00 13 0C "VANTOR__1001"
/// T = 0x73 for SICCT versions above 1.20 (0x0114), else 0x69.
std::vector<uint8_t> SessionCloseCommand(uint16_t nSicctVersion);

/// Largest firmware packet the DOWNLOAD DATA forms can carry.
constexpr size_t MAX_DOWNLOAD_DATA = 65531;
/// DOWNLOAD DATA for n bytes, CLA 80, INS 25 (26 when bLast), P1 P2 00 00, no Le:
///   n <= 127:        Lc = n+2,             73 n data
///   128 <= n <= 252: Lc = n+3,             73 81 n data
///   253 <= n:        Lc = 00 hi lo (n+4),  73 82 n-hi n-lo data
/// False (vecOut empty) for n = 0 or n above MAX_DOWNLOAD_DATA.
bool DownloadDataCommand(const uint8_t* pData, size_t nLength, bool bLast, std::vector<uint8_t>& vecOut);

/// The text that starts the log line of a command (by identifier; raw bytes use 0).
std::string_view CommandLabel(int nCommandId);
} // namespace ctapi
