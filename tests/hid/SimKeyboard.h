#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "HidPort.h"

/// How a simulated keyboard presents itself and answers.
struct SimKeyboardConfig
{
    uint16_t nVendorId = 0x2F71;
    uint16_t nProductId = 0x0081;
    uint16_t nUsagePage = 0xFF10;
    bool bNumberedReports = false;   // report IDs 1 and 2; else a 0x00 ID byte on output
    bool bAnswerConnect = true;
    enum Discovery
    {
        DISCOVERY_BODY,              // answers the first (14-byte) request
        DISCOVERY_WRAPPED_ONLY,      // answers only the A0-wrapped (16-byte) request
        DISCOVERY_NONE,
    } discovery = DISCOVERY_BODY;
    bool bAnswerEnvelopes = true;
    std::string strName = "Sim Keyboard";
    uint8_t aMac[6] = {0x00, 0x0D, 0xF8, 0x0A, 0x0B, 0x0C};
    uint16_t nSicctVersion = 0x0100;
};

/// A USB keyboard with a built-in card terminal, as seen through the kernel's raw HID
/// interface: its report descriptor (64-byte reports), its IDs, and a device side that
/// takes output reports and queues input reports. It answers CONNECT (0x20), service
/// discovery (0x24) and SICCT envelopes (0x22) in multi-part reports, and can be
/// unplugged. The default envelope handler is a tiny terminal: every command gets 90 00,
/// the session-opening command 80 28 also three bytes of session data.
///
/// Threads: the writer's thread calls OnOutputReport, the reader's thread ReadInput, the
/// test's thread the controls; one lock guards all state.
class CSimKeyboard
{
public:
    static constexpr int kReportLength = 64;  // with the report ID byte

    using EnvelopeHandler = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& vecCommand)>;

    explicit CSimKeyboard(SimKeyboardConfig config = {});

    const SimKeyboardConfig& Config() const { return m_config; }
    std::vector<uint8_t> ReportDescriptor() const;
    os::HidRawInfo RawInfo() const;

    // --- device side (the fake port) ---------------------------------------------------
    /// Takes one output report as written to the node (report ID first). Its length, or
    /// OS_ERR_CLOSED when unplugged.
    int OnOutputReport(const uint8_t* pData, int nLength);
    /// One queued input report in the kernel's framing (no ID byte when unnumbered).
    int ReadInput(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd);

    // --- test controls -----------------------------------------------------------------
    void Unplug();
    bool IsPlugged() const;
    void SetEnvelopeHandler(EnvelopeHandler fnHandler);
    /// Queues a message from the terminal (an event, say) in 0x22 reports.
    void SendEnvelope(const std::vector<uint8_t>& vecEnvelope);
    /// Queues one raw input report in layout form (unit first), padded to the report size.
    void SendRawReport(const std::vector<uint8_t>& vecLayout);
    /// Output reports as written, in order.
    std::vector<std::vector<uint8_t>> OutputReports() const;
    /// Message types of the output reports, in order.
    std::vector<uint8_t> OutputTypes() const;
    /// Complete envelopes received, in order.
    std::vector<std::vector<uint8_t>> Envelopes() const;
    /// Complete discovery requests received, in order.
    std::vector<std::vector<uint8_t>> DiscoveryRequests() const;
    /// The discovery answer this keyboard gives.
    std::vector<uint8_t> DiscoveryAnswer() const;
    /// The default terminal behaviour (see class comment).
    static std::vector<uint8_t> DefaultTerminal(const std::vector<uint8_t>& vecCommand);

private:
    struct Assembly
    {
        std::vector<uint8_t> vecData;
        bool bOpen = false;
    };
    /// Adds a part; true (and vecComplete filled) when the message is complete.
    static bool AddPart(Assembly& assembly, uint16_t nOffset, uint16_t nLength, const uint8_t* pPayload,
                        int nCapacity, std::vector<uint8_t>& vecComplete);
    void QueueMessageLocked(uint8_t nUnit, uint8_t nType, const std::vector<uint8_t>& vecData);
    void QueueLayoutLocked(const std::vector<uint8_t>& vecLayout);
    /// Payload room of one input report.
    int InputCapacity() const { return kReportLength - 6 - (m_config.bNumberedReports ? 0 : 1); }

    SimKeyboardConfig m_config;
    mutable std::mutex m_mtx;
    std::condition_variable m_cv;
    bool m_bPlugged = true;
    std::deque<std::vector<uint8_t>> m_queInput;   // in the kernel's framing
    std::vector<std::vector<uint8_t>> m_vecOutput;
    std::vector<std::vector<uint8_t>> m_vecEnvelopes;
    std::vector<std::vector<uint8_t>> m_vecDiscovery;
    Assembly m_envelope;
    Assembly m_discovery;
    EnvelopeHandler m_fnHandler;
};
