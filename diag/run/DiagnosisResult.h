#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DiagRecords.h"

/// One function unit as a diagnosis run found it (one row of the unit list). Parts are
/// present only when their query answered; an entry never holds data of another unit.
struct SDiagUnit
{
    uint8_t nTypeByte = 0;      // first byte of the unit list entry
    uint8_t nNumberByte = 0;    // second byte
    std::string strId;          // "%.2X" of (type & 0xF0) | (number & 0x0F): the unit commands' P1
    std::string strName;        // unit name (terminal bytes, ISO-8859-1), or "FU #%02x" below SICCT 1.10
    bool bNameQueried = false;  // the name came from the name query (SICCT 1.10 and later)
    std::optional<DisplayInfo> display;
    std::optional<KeypadInfo> keypad;
    std::optional<IccStatusInfo> iccStatus;
    std::optional<IccInterfaceInfo> iccInterface;
    std::optional<std::string> atr;  // card slots with a card inserted

    /// Image index of the unit list (the type byte's high nibble).
    int Image() const { return nTypeByte >> 4; }
    /// Type byte that selects the unit's block in the export file: the unit's type when its
    /// name query was answered, 0 when no name query was made (written as a card slot).
    uint8_t ExportTypeByte() const { return bNameQueried ? nTypeByte : 0; }
};

/// Everything one diagnosis run collected; the data of the dialog's boxes, its unit list and
/// the export file. A plain value.
struct SDiagnosisResult
{
    ManufacturerInfo manufacturer;   // version -1 until the query answered
    std::string strTypeText;         // the "Typ" box (see diagrun::TypeText)
    std::vector<SDiagUnit> vecUnits; // in list order, at most 255
    bool bAborted = false;           // the run saw the cancel flag
    bool bError = false;             // a query failed (the unit loop ended there)
};

/// One row of the value list of a unit: a name and a value ("True"/"False", decimal, text).
/// Group headings have an empty value and bHeading set.
struct SValueRow
{
    std::string strName;
    std::string strValue;
    bool bHeading = false;
};
