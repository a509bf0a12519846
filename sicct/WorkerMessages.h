#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <variant>
#include <vector>

/// The messages every worker of the tool (SICCT session, CT-API worker, certificate
/// validity reader) sends to the window that owns it. The numbers are those of the window
/// messages the dialogs were built around (WM_USER = 0x400), so logs and traces stay
/// comparable; on Linux they travel through a CWorkerSink instead of a window queue.
namespace wm
{
constexpr uint32_t WM_USER_BASE = 0x400;

enum EWorkerMessage : uint32_t
{
    /// Report. wParam = string-table number, lParam 0: append that text as a line.
    ///   wParam 0: append the text carried as payload (std::string).
    ///   wParam 125 (TEXT_WSA_ERROR): "WSA Error: 0x%x" filled with lParam (socket error code).
    ///   wParam 1030 (TEXT_LOG_RECORD): append the WorkerLogRecord payload (text, then the
    ///     data bytes as "%02X ").
    ///   wParam 2004 / 2011: progress texts; a repeat appends only dots (the dialog decides).
    ///   wParam -1 (STATUS_ICON): lParam 0 red, 1 green, 2 yellow; other values change nothing.
    WM_REPORT = WM_USER_BASE + 1,
    /// Reserved (unused by every worker; kept so that the numbering is complete).
    WM_RESERVED_2 = WM_USER_BASE + 2,
    /// Operation state. wParam 0 = an operation begins (close buttons disabled), 1 = it ended.
    WM_OPERATION = WM_USER_BASE + 3,
    /// Firmware packet sent. wParam = packet number from 1, lParam = bytes in the packet.
    WM_PACKET_SENT = WM_USER_BASE + 4,
    /// Busy indicator. wParam 1 = busy (animation shown, status icon hidden), 0 = idle.
    WM_BUSY = WM_USER_BASE + 5,
    /// Reserved (unused by every worker).
    WM_RESERVED_6 = WM_USER_BASE + 6,
    /// Packet size in use. wParam = bytes; 0 is ignored by the receiver.
    WM_PACKET_SIZE = WM_USER_BASE + 7,
    /// Certificate validity dates. Payload CertificateDates (either date may be missing).
    WM_CERT_DATES = WM_USER_BASE + 8,
};

/// wParam values of WM_REPORT with a special meaning.
constexpr int64_t REPORT_PAYLOAD_TEXT = 0;   // text travels as std::string payload
constexpr int64_t TEXT_WSA_ERROR = 125;      // lParam = socket error code
constexpr int64_t TEXT_LOG_RECORD = 1030;    // payload WorkerLogRecord
constexpr int64_t STATUS_ICON = -1;          // lParam = icon
constexpr int64_t ICON_RED = 0;
constexpr int64_t ICON_GREEN = 1;
constexpr int64_t ICON_YELLOW = 2;
} // namespace wm

/// One log line with optional data bytes (WM_REPORT / 1030). A value: the receiver owns its
/// copy, nothing is freed by hand.
struct WorkerLogRecord
{
    std::vector<uint8_t> vecData;  // shown as "%02X " after the text; may be empty
    std::string strText;
};

/// The validity period of a terminal certificate (WM_CERT_DATES), as UTC calendar times.
struct CertificateDates
{
    std::optional<std::tm> tmNotBefore;
    std::optional<std::tm> tmNotAfter;
};

/// What a message may carry besides its two numbers.
using WorkerPayload = std::variant<std::monostate, std::string, WorkerLogRecord, CertificateDates>;

/// One posted message: the code, wParam, lParam and an owned payload.
struct SWorkerMessage
{
    wm::EWorkerMessage eMessage = wm::WM_REPORT;
    int64_t nWParam = 0;
    int64_t nLParam = 0;
    WorkerPayload payload;
};
