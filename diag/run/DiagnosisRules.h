#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "DiagnosisResult.h"

/// The rules of the diagnosis that both the run and the front ends apply; pure functions,
/// safe from any thread.
namespace diagrun
{
/// A SICCT version of 0x0100 (1.00) is taken as 0x0103 (1.03); any other stays.
uint16_t EffectiveSicctVersion(uint16_t nVersion);
/// "%d.%02d" of major and minor (1.20 for 0x0114).
std::string VersionText(uint16_t nVersion);

/// The "Typ" box: up to SICCT 1.19 the 5-character type; from 1.20 on, when the
/// discretionary data starts with tag 0xD7 with a length of at most 110, 8 characters from
/// value offset 20 (version number 12000 and above) or 15 from value offset 37 (below),
/// cut at the end of the data; otherwise empty.
std::string TypeText(const ManufacturerInfo& info, uint16_t nSicctVersion);

/// Whether the diagnosis notice is shown on the display (direct way only): not for a
/// terminal of the maker (MAC prefix 02:4E:7A) whose firmware text starts with "1.00." or
/// "1.10.1", which cannot show it.
bool ShowsNotice(const std::array<uint8_t, 6>& abMac, const std::string& strVersionText);

/// The unit identifier: high nibble of the type byte, low nibble of the number byte, "%.2X".
std::string UnitId(uint8_t nTypeByte, uint8_t nNumberByte);
/// Below SICCT 1.10 units have no name query: "FU #%02x" of the identifier's value.
bool HasNameQuery(uint16_t nSicctVersion);
std::string FallbackName(uint8_t nTypeByte, uint8_t nNumberByte);
/// Keypads are queried from SICCT 1.21 on (and for any major version other than 1): the same
/// rule as the session client's, so both ways to a terminal report the same units.
bool QueriesKeypad(uint16_t nSicctVersion);

/// Unit kinds by type byte.
inline bool IsDisplay(uint8_t nTypeByte) { return (nTypeByte >> 4) == 4; }
inline bool IsKeypad(uint8_t nTypeByte) { return (nTypeByte >> 4) == 5; }
inline bool IsCardSlot(uint8_t nTypeByte) { return nTypeByte < 0x10; }

/// Normative name of a display character set: 0 "ISO 646", 32 "UTF-8", 12 "not supported",
/// any other n "ISO / IEC 8859-n".
std::string CharacterSetName(int nCharSet);

/// The value list of a unit, in the dialog's order: ICC status entries, ATR, display,
/// ICC interface groups, keypad; each section only when the unit has that part.
std::vector<SValueRow> ValueRows(const SDiagUnit& unit);

/// Text from a terminal (ISO-8859-1 bytes) as UTF-8 for display.
std::string Latin1ToUtf8(const std::string& strBytes);
/// Our own UTF-8 text as ISO-8859-1 (characters outside Latin-1 become '?').
std::string Utf8ToLatin1(const std::string& strUtf8);
} // namespace diagrun
