#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// The SICCT wire format: envelope framing, the command table, the commands assembled in
/// code, the session identifier and the maximum packet size of a download init answer.
/// Pure functions without state; safe from any thread. Used by the session worker, the
/// CT-API worker (commands without envelope) and the middleware's SICCT device.
namespace sicct
{
// --- envelope ---------------------------------------------------------------------------
// Offset 0 type, 1-2 address (BE), 3-4 sequence (BE), 5 reserved 0x00, 6-9 body length (BE).
constexpr size_t HEADER_SIZE = 10;
constexpr uint8_t C_COMMAND = 0x6B;  // host to terminal
constexpr uint8_t R_COMMAND = 0x83;  // response
constexpr uint8_t EVENT = 0x50;      // unsolicited, first body byte = event code

constexpr uint8_t EVENT_KEEPALIVE = 0x80;
constexpr uint8_t EVENT_SIGN_OFF = 0x81;
constexpr uint8_t EVENT_CARD_INSERTED = 0x84;
constexpr uint8_t EVENT_CARD_REMOVED = 0x85;
constexpr uint8_t EVENT_PROTOCOL_ERROR = 0x86;

/// Largest body a valid SICCT message can have: an extended-length response (65536 data
/// bytes and the status word). Anything announcing more is not SICCT.
constexpr uint32_t MAX_BODY_LENGTH = 65536 + 2;
/// Largest command APDU the tool builds (10-byte header + 65539 in the command buffer).
constexpr size_t MAX_APDU_LENGTH = 65539;

struct SEnvelopeHeader
{
    uint8_t nType = 0;
    uint16_t nAddress = 0;
    uint16_t nSequence = 0;
    uint32_t nBodyLength = 0;
};

/// Header + body in one buffer.
std::vector<uint8_t> BuildEnvelope(uint8_t nType, uint16_t nAddress, uint16_t nSequence, const uint8_t* pBody,
                                   size_t nBodyLength);
/// Reads the 10-byte header; false when fewer than 10 bytes are given.
bool ParseEnvelopeHeader(const uint8_t* pData, size_t nLength, SEnvelopeHeader& header);

// --- command table ----------------------------------------------------------------------
// Commands kept as hexadecimal text (the string table's form); "%s" takes a functional-unit
// identifier of two hexadecimal digits.
enum ECommandId : int
{
    CMD_DIAGNOSIS_TEXT = 100,   // OUTPUT "Diagnose läuft" to the display (DIN 66003, 0x7B = ä)
    CMD_102 = 102,              // 80 58 00 00 00 (CT-API worker)
    CMD_SESSION_CLOSE = 104,    // "80 29 00 00 " - the trailing blank yields the Le byte
    CMD_DOWNLOAD_INIT = 105,
    CMD_DOWNLOAD_FINISH = 106,
    CMD_STATUS_MANUFACTURER = 112,  // GET STATUS P2 0x46
    CMD_STATUS_UNITS = 114,         // GET STATUS P2 0x81
    CMD_RESET_CARD = 116,           // reset with ATR, unit %s
    CMD_UNIT_NAME = 117,            // P2 0xA1
    CMD_ICC_STATUS = 118,           // P2 0x80
    CMD_DISPLAY = 119,              // P2 0x67
    CMD_ICC_INTERFACE = 120,        // P2 0x66
    CMD_KEYPAD = 121,               // P2 0x6A, only for SICCT versions beyond 1.20
    CMD_128 = 128,
    CMD_137 = 137,
    CMD_BCS_RESET = 138,            // CT-BCS reset (CLA 0x20)
};

/// The template text of a command, or an empty view for an unknown number.
std::string_view CommandText(int nCommandId);

/// Converts a command text to bytes: "%s" (if any) is replaced by strUnit, the byte count is
/// the number of blanks from the third character on plus one, pairs of hex digits become
/// bytes and missing positions are 0x00 (so "80 29 00 00 " gives five bytes). False when the
/// text holds anything but hex pairs and blanks, or when it would exceed MAX_APDU_LENGTH.
bool CommandTextToBytes(std::string_view strText, std::string_view strUnit, std::vector<uint8_t>& vecOut);
/// The same for a command of the table; false for an unknown number.
bool BuildTableCommand(int nCommandId, std::string_view strUnit, std::vector<uint8_t>& vecOut);

// --- commands assembled in code ---------------------------------------------------------
/// User name and password together may hold at most this many bytes (Lc must fit a byte).
constexpr size_t MAX_CREDENTIAL_BYTES = 241;
/// Constructed tag of session open/close: 0x73 for SICCT 1.3 exactly, else 0x69.
uint8_t SessionTag(uint8_t nMajor, uint8_t nMinor);

/// CT session open: 80 28 00 00 Lc T len {13 U user} {13 P pw} {13 00} 00.
/// False (nothing built) when U + P exceeds MAX_CREDENTIAL_BYTES.
bool BuildSessionOpen(const std::string& strUser, const std::string& strPassword, uint8_t nTag,
                      std::vector<uint8_t>& vecOut);

/// Longest session identifier a close command can carry (its length byte stays below 0x80).
constexpr size_t MAX_SESSION_ID_BYTES = 121;
/// CT session close. Without an identifier 80 29 00 00 00. With N identifier bytes:
/// 80 29 00 00 Lc(N+9) T len(N+6) 13 00 13 00 13 N id 00 00; the length after T covers the
/// three 0x13 objects (0x12 for the usual 12-byte identifier). False when N exceeds
/// MAX_SESSION_ID_BYTES.
bool BuildSessionClose(const std::vector<uint8_t>& vecSessionId, uint8_t nTag, std::vector<uint8_t>& vecOut);

/// Largest firmware packet that the three length forms can carry.
constexpr size_t MAX_FIRMWARE_PACKET = 65531;
/// Firmware data packet: INS 0x25, or 0x26 when it also ends the download. Lengths 1..127
/// short with DO length n; 128..252 short with 0x81 n; 253..65531 extended Lc, 0x82 n-hi n-lo
/// and Le 01 00. False for n = 0 or above MAX_FIRMWARE_PACKET.
bool BuildFirmwarePacket(const uint8_t* pData, size_t nLength, bool bLast, std::vector<uint8_t>& vecOut);

/// Largest certificate list that fits one write command.
constexpr size_t MAX_CERTIFICATE_LIST = 65535;
/// Certificate list write: 80 23 C0 05, Lc and data, no Le. Lists up to 255 bytes use the
/// one-byte Lc (body n + 5), longer ones the three-byte Lc 00 hi lo (body n + 7).
/// False for n = 0 or above MAX_CERTIFICATE_LIST.
bool BuildCertificateListWrite(const uint8_t* pData, size_t nLength, std::vector<uint8_t>& vecOut);

// --- values taken from responses --------------------------------------------------------
/// Session identifier from a session-open response body (status word included): the value
/// bytes of the third and every later 0x13 object, as text " %02x" per byte. Never reads
/// beyond the body.
std::string ExtractSessionId(const uint8_t* pBody, size_t nLength);
/// The identifier text (" 0a 1b") back to bytes; pairs that are not hex are skipped.
std::vector<uint8_t> SessionIdBytes(const std::string& strSessionId);

/// Maximum packet size from a download-init response (status word included), layout A
/// (0x80 object, little-endian) or layout B (0x04 objects, big-endian); 0 when the answer
/// holds none or is cut short.
uint32_t ReadMaxPacketSize(const uint8_t* pData, size_t nLength);

// --- ATR texts of the card reset --------------------------------------------------------
constexpr const char* ATR_NONE = "No ATR given";
constexpr const char* ATR_UNPAIRED = "Command not allowed in unpaired connections";
/// Whether a failed reset on a terminal of this SICCT version means an unpaired connection.
bool ResetRefusedAsUnpaired(uint8_t nMajor, uint8_t nMinor);
} // namespace sicct
