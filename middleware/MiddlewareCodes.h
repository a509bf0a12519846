#pragma once
// Result codes, message types and fixed numbers of the terminal access middleware.
// The transports return TransportResult values, CSicctDevice::ExecuteCmd returns an
// ExecResult byte; both travel unchanged between the layers (a transport code becomes
// the low byte of the result byte).
#include <cstdint>

namespace mw
{
/// Results of the transports' Connect/Write (small negative integers by convention).
enum TransportResult : int
{
    MW_OK = 0,
    MW_ERR_GENERAL = -1,      // general failure; also "sent, no response awaited"
    MW_ERR_COMM = -10,        // not connected, send failure, connection closed or time-out
    MW_ERR_BUFFER = -11,      // the response does not fit the caller's buffer
};

/// Result bytes of CSicctDevice::ExecuteCmd.
enum ExecResult : uint8_t
{
    EXEC_OK = 0x00,
    EXEC_FAILED = 0xFF,
    EXEC_SHORT = 0xF6,        // (uint8_t)-10: answer shorter than an envelope
    EXEC_TOO_LARGE = 0xF5,    // (uint8_t)-11: response data larger than the response object
};

/// First byte of a SICCT envelope.
enum MessageType : uint8_t
{
    MSG_NONE = 0x00,
    MSG_EVENT = 0x50,
    MSG_COMMAND = 0x6B,       // host to terminal only
    MSG_RESPONSE = 0x83,
};

/// Event codes (byte 10 of an event envelope).
enum EventCode : uint8_t
{
    EVT_KEEPALIVE = 0x80,
    EVT_SIGN_OFF = 0x81,
    EVT_CARD_INSERTED = 0x84,
    EVT_CARD_REMOVED = 0x85,
    EVT_PROTOCOL_ERROR = 0x86,
};

/// Connection kinds of a CDeviceInfo.
enum ConnectionType : int
{
    CONN_HID_UNSECURE = 0,
    CONN_HID_SECURE = 1,
    CONN_SERIAL = 2,
    CONN_LAN = 3,
    CONN_PCSC = 4,
    CONN_USB = 5,
    CONN_LAN2CTVNT = 6,
    CONN_UNKNOWN = 7,
};

/// Transport security announced in discovery answers and used in connection strings.
enum ProtocolCode : int
{
    PROTO_PLAIN = 0x00,
    PROTO_TLS10_A = 0x10,
    PROTO_TLS10_B = 0x11,
    PROTO_TLS11 = 0x20,
    PROTO_TLS12 = 0x30,
};

constexpr int kEnvelopeHeaderSize = 10;         // type, address(2), sequence(2), 0, length(4)
constexpr uint16_t kSicctPort = 4742;           // TCP port of terminals and UDP discovery port
constexpr uint16_t kMaxSequenceNumber = 0xFCFF; // 64767; the next one is 0
constexpr int kDiscoveryRequestSize = 16;
constexpr int kDiscoveryBufferSize = 4096;

constexpr const char* kTraceCtApi = "CtApi";
constexpr const char* kTraceConfig = "Config";
constexpr const char* kTraceMacMapping = "MAC-Mapping";
} // namespace mw
