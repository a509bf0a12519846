#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DiagRecords.h"

/// Decodes the answers of the status queries and of the card reset into the diagnosis
/// records. Both ways to a terminal (SICCT session, CT-API) feed it the response as
/// received, status word included. Every decoder reads only inside the given bytes: a
/// response cut short anywhere leaves the fields it did not reach at their defaults.
/// Stateless; safe from any thread. No sockets, no windows.
class CResponseDecoder
{
public:
    /// Which response a buffer holds (the number the status operations pass on).
    enum ESelector : int
    {
        SEL_UNIT_NAME = 0,      // P2 0xA1
        SEL_DISPLAY = 1,        // P2 0x67
        SEL_KEYPAD = 2,         // P2 0x6A
        SEL_ICC_STATUS = 3,     // P2 0x80
        SEL_ICC_INTERFACE = 4,  // P2 0x66
        SEL_MANUFACTURER = 5,   // P2 0x46
        SEL_ATR = 6,            // card reset
        SEL_UNIT_LIST = 7,      // P2 0x81
    };
    /// The function-unit list holds at most this many bytes (two per unit).
    static constexpr size_t MAX_UNIT_LIST = 510;

    /// Decodes a unit query answer (selectors 0-4 and 6) into the matching part of unit.
    /// False for another selector or when no data object could be read.
    static bool DecodeUnit(int nSelector, const uint8_t* p, size_t n, SUnitStatus& unit);

    static bool DecodeUnitName(const uint8_t* p, size_t n, std::string& strName);
    static bool DecodeDisplay(const uint8_t* p, size_t n, DisplayInfo& info);
    static bool DecodeKeypad(const uint8_t* p, size_t n, KeypadInfo& info);
    static bool DecodeIccStatus(const uint8_t* p, size_t n, IccStatusInfo& info);
    static bool DecodeIccInterface(const uint8_t* p, size_t n, IccInterfaceInfo& info);
    /// ATR bytes as "%02X " text, trimmed.
    static bool DecodeAtr(const uint8_t* p, size_t n, std::string& strAtr);
    /// The function-unit list: value bytes of the outer object, two per unit (type, number).
    static bool DecodeUnitList(const uint8_t* p, size_t n, std::vector<uint8_t>& vecList);
    /// Manufacturer data object: manufacturer, type, discretionary data, version text and
    /// number (three forms: short DEVNT, 0xD7 three-number, DEVNT four-part).
    static bool DecodeManufacturer(const uint8_t* p, size_t n, ManufacturerInfo& info);

    /// ICC status flags from a raw status byte.
    static SIccStatusEntry IccEntryOf(uint8_t nRaw);
};
