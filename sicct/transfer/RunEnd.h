#pragma once

/// How a maintenance run ended; the numbers are the status icon codes of the worker
/// messages (wm::ICON_RED, wm::ICON_GREEN, wm::ICON_YELLOW), so a front end can show the
/// icon or map the end to an exit code without a table of its own.
enum class ERunEnd : int
{
    Red = 0,     // a step failed (or the run could not start)
    Green = 1,   // every step succeeded
    Yellow = 2,  // cancelled before anything failed, or only the final session close failed
};

/// Texts that the maintenance runs post as WM_REPORT / REPORT_PAYLOAD_TEXT (they are the
/// dialogs' own texts, not string-table entries).
namespace runtexts
{
/// Message shown when the CT-API library file cannot be opened.
inline constexpr const char* kCtApiLibraryMissing =
    "Die CTAPI-DLL konnte unter dem angegebenen Pfad nicht gefunden werden!";
/// Pattern of the firmware version line after the manufacturer query.
inline constexpr const char* kFirmwareVersion = "CT Firmware Version: %s";
} // namespace runtexts
