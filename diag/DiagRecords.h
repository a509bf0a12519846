#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Decoded status data of a terminal and its functional units, as the diagnosis shows and
// exports them. Plain values; filled by CResponseDecoder.

/// Manufacturer query result (GET STATUS P2 0x46).
struct ManufacturerInfo
{
    int32_t nVersion = -1;               // e.g. 10014 for 1.0.0.14; -1 unknown
    std::string strVersion;              // at most 12 characters
    std::string strManufacturer;         // 5 characters
    std::string strType;                 // 5 characters
    std::vector<uint8_t> vecDiscretionary;  // tag, length, value; at most 112 bytes
};

/// Display unit (P2 0x67).
struct DisplayInfo
{
    static constexpr size_t MAX_CHARSETS = 32;
    uint16_t nVisibleChars = 0;   // per line
    uint16_t nVisibleLines = 0;
    uint16_t nVirtualChars = 0;   // per line
    uint16_t nVirtualLines = 0;
    uint8_t nAttributes = 0;      // bit 0 beeper, 1-3 RFU, 4 LED present, 5-7 LED count
    std::array<int16_t, MAX_CHARSETS> anCharSets;  // -1 ends the list
    DisplayInfo() { anCharSets.fill(-1); }
};

/// Keypad unit (P2 0x6A): key counts.
struct KeypadInfo
{
    uint8_t nNumeric = 0;
    uint8_t nAlphaNumeric = 0;
    uint8_t nEntry = 0;
    uint8_t nAbort = 0;
    uint8_t nMenu = 0;
    uint8_t nCorrection = 0;
    uint8_t nFunction = 0;
};

/// One card-contact unit of an ICC status answer (P2 0x80).
struct SIccStatusEntry
{
    uint8_t nRaw = 0;               // bit 0 inserted, 1 not connected, 2 powered, 3 negotiable, 4 specific
    bool bNoModeInfo = false;       // bits 3 and 4 both clear
    bool bNoElectricalInfo = false; // bits 1 and 2 both clear
};

struct IccStatusInfo
{
    uint16_t nCount = 0;
    std::vector<SIccStatusEntry> vecEntries;  // at most 255
};

/// Card slot interface (P2 0x66): the values of tags 0x80..0x86 and 0x87.
struct IccInterfaceInfo
{
    uint8_t nCardSize = 0;
    uint8_t nMechanical = 0;
    uint8_t nContacts = 0;
    uint8_t nCardTypes = 0;
    uint8_t nAsyncProtocols = 0;
    uint8_t nSyncProtocols = 0;
    uint8_t nWirelessProtocols = 0;
    uint16_t nExtendedLength = 0;
};

/// Everything known about one functional unit; each part present only when its query
/// answered.
struct SUnitStatus
{
    std::string strName;
    std::optional<DisplayInfo> display;
    std::optional<KeypadInfo> keypad;
    std::optional<IccStatusInfo> iccStatus;
    std::optional<IccInterfaceInfo> iccInterface;
    std::string strAtr;
};
