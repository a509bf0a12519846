#pragma once
#include <cstddef>
#include <cstdint>

/// Codes and fixed values of the CT-API way to a terminal (CCtApiWorker).
namespace ctapi
{
/// CT-API return codes (signed 8-bit in the library's signature).
enum ECtApiCode : int
{
    CTAPI_OK = 0,
    CTAPI_ERR_INVALID = -1,   // invalid parameter or value          -> text 175
    CTAPI_ERR_CT = -8,        // terminal error                        -> text 177
    CTAPI_ERR_TRANS = -10,    // transmission error or time-out        -> text 176
    CTAPI_ERR_MEMORY = -11,   // memory allocation error in the HTSI   -> text 178
    CTAPI_ERR_HOST = -127,    // aborted by host or operating system   -> text 179
    CTAPI_ERR_HTSI = -128,    // HTSI error                            -> text 180
    /// Not a library code (CT-API codes are never positive): what the worker's stand-ins
    /// return when the library lacks an entry point, or after the library was abandoned.
    /// Reported as a failure without text.
    CTAPI_NO_ENTRY = 127,
};

/// Fixed addressing of every call: terminal number 1, destination the terminal, source the host.
constexpr unsigned short CTN = 1;
constexpr unsigned char DAD_CT = 1;
constexpr unsigned char SAD_HOST = 2;
/// Size of the response buffer handed to CT_data, and the lenr set before each call.
constexpr unsigned short RESPONSE_BUFFER = 0x7FFF;

/// SICCT versions (major * 256 + minor) that decide the session close variant.
constexpr uint16_t SICCT_1_20 = 0x0114;

/// Packet size of a new worker (the firmware download sets 1024).
constexpr uint16_t DEFAULT_PACKET_SIZE = 40;
/// A DOWNLOAD DATA exchange may take this many milliseconds per byte of packet size.
constexpr int PACKET_TIMEOUT_MS_PER_BYTE = 5;
/// Most firmware bytes one DOWNLOAD DATA command can carry through CT_data, whose command
/// length is 16 bits: 65535 minus the 11 bytes of the extended header.
constexpr size_t MAX_PACKET_DATA = 65524;

/// Texts the worker reports (string-table numbers).
enum ETextId : int
{
    TXT_SIGNATURE_OK = 139,
    TXT_SIGNATURE_BAD = 140,
    TXT_WAIT_RESET = 141,
    TXT_WAIT_DONE = 142,
    TXT_USER_NOT_FOUND = 143,
    TXT_BAD_PASSWORD = 144,
    TXT_WAITING_FOR_USER = 145,
    TXT_CLOSE_FAILED = 174,
    TXT_CTAPI_INVALID = 175,
    TXT_CTAPI_TRANS = 176,
    TXT_CTAPI_CT = 177,
    TXT_CTAPI_MEMORY = 178,
    TXT_CTAPI_HOST = 179,
    TXT_CTAPI_HTSI = 180,
    TXT_OPEN_FAILED = 181,
    TXT_SESSION_OPENED = 2001,
    TXT_SENDING = 2004,
    TXT_CLOSING = 2006,
    TXT_OPENING = 2007,
    TXT_NO_PACKET_SIZE = 4006,
    TXT_INIT_ERROR_6400 = 6001,
    TXT_CLOSED = 6008,
    TXT_FIRMWARE_INVALID = 6009,
    TXT_NO_DOWNLOAD_SESSION = 6012,
    TXT_SICCT_ERROR = 6033,   // "SICCT Fehler 0x%.2x%.2x"
    TXT_UNKNOWN_ERROR = 6034,
};
} // namespace ctapi
