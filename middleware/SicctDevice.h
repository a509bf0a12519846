#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BaseDevice.h"
#include "DeviceAccess.h"

class CDeviceInfo;

/// The middleware's SICCT protocol object for one card terminal: chooses and owns the
/// transport (LAN or USB HID), opens the terminal with the session / mode / reset sequence,
/// wraps CT-BCS commands in SICCT envelopes with sequence numbers, classifies what the
/// terminal sends (responses, events, keepalives) and closes with the end sequence.
///
/// Threads: Open, Close and ExecuteCmd run on the caller's thread (one at a time);
/// CheckResponse and NextSequenceNumber are also called by the transport's listener. The
/// sequence number is guarded by its own lock, the keepalive counter is atomic.
/// Ownership: the transport belongs to this object; records handed in are borrowed.
///
/// Envelope built for a command of n bytes:
///   [0] 0x6B  [1..2] address (dest 0 -> 00 01, dest 1 -> 00 00, dest dd -> 00 dd)
///   [3..4] sequence number  [5] 0x00  [6..9] n  [10..] command   (all big-endian)
class CSicctDevice : public CDeviceAccess
{
public:
    /// Makes the transport for a wanted device (may be null). The default makes a
    /// CLanDevice for connection type 3 and, for every other type, the HID transport from
    /// the HID factory (see SetHidTransportFactory); tests inject their own.
    using TransportFactory = std::function<std::unique_ptr<CBaseDevice>(const CDeviceInfo* pWanted)>;

    CSicctDevice();
    ~CSicctDevice() override;
    CSicctDevice(const CSicctDevice&) = delete;
    CSicctDevice& operator=(const CSicctDevice&) = delete;

    /// Searches with a transport chosen by the wanted device's connection type, opens the
    /// matching device found and runs the start sequence. 0 opened; -10 no device found or
    /// a status other than 90 00 / 62 00; -1 other failures (then Close has run).
    int Open(CDeviceInfo* pWanted) override;
    /// Select-mode / reset / session-close sequence (each step only after the previous one
    /// succeeded), then disconnects the transport and resets the sequence number.
    void Close() override;
    /// Sends one command and fills the response object. mw::EXEC_OK; mw::EXEC_FAILED (no
    /// transport, allocation, an event instead of a response, unknown message);
    /// mw::EXEC_SHORT (answer shorter than an envelope, or data length beyond the answer);
    /// mw::EXEC_TOO_LARGE (data larger than the response object); or the transport's code
    /// (-1, -10, -11) as a byte.
    uint8_t ExecuteCmd(CBCSCommand* pCommand, CBCSResponse* pResponse, int nTimeoutMs) override;

    /// Classifies one complete message: mw::MSG_RESPONSE, mw::MSG_EVENT or 0 (command,
    /// empty event, unknown type, null or 10 bytes or shorter). *pDeliver (may be null)
    /// tells whether a waiting writer is to receive it: only a protocol-error event with
    /// detail 0x11. Logs the event texts and counts keepalives.
    int CheckResponse(const uint8_t* pBuffer, int nLength, bool* pDeliver);
    /// 1, 2, ..., 64767, 0, 1, ... under the lock.
    uint16_t NextSequenceNumber();
    /// Fills a record from a service discovery answer (TLV items, optionally wrapped in
    /// A1 L ...). Every item is bounds-checked against nLength. False (record unchanged,
    /// "Response too small for ServiceDiscovery Packet -> discarded") when no MAC, name or
    /// protocol item was accepted.
    static bool InterpreteServiceDiscovery(CDeviceInfo& device, const uint8_t* pAnswer, int nLength);

    /// Builds the envelope for a command (layout in the class comment).
    static std::vector<uint8_t> BuildEnvelope(uint8_t nDestination, uint16_t nSequence, const uint8_t* pCommand,
                                              uint16_t nLength);

    void SetTransportFactory(TransportFactory fnFactory) { m_fnTransportFactory = std::move(fnFactory); }
    /// Hands this object a transport (replacing one it has); Open then uses it as it is.
    void SetTransport(std::unique_ptr<CBaseDevice> pTransport);
    /// The process-wide maker of the USB HID transport (set by the HID module when linked).
    static void SetHidTransportFactory(TransportFactory fnFactory);

    bool IsOpen() const { return m_bOpen; }
    CBaseDevice* GetTransport() const { return m_pTransport.get(); }
    const std::vector<uint8_t>& GetSessionData() const { return m_vecSessionData; }
    int GetKeepaliveCount() const { return m_nKeepaliveCount.load(); }
    /// Sets the counter so that the next number handed out is nNext (tests of the wrap).
    void SetSequenceNumber(uint16_t nLast);

private:
    std::unique_ptr<CBaseDevice> MakeTransport(const CDeviceInfo* pWanted);
    /// Sends one fixed command of the start/end sequences; fills nStatus on success.
    uint8_t SendFixed(const std::vector<uint8_t>& vecCommand, int nTimeoutMs, uint16_t& nStatus,
                      std::vector<uint8_t>* pData);

    std::unique_ptr<CBaseDevice> m_pTransport;
    std::mutex m_mtxSequence;          // guards m_nSequence
    uint16_t m_nSequence = 0;
    std::vector<uint8_t> m_vecSessionData;
    bool m_bOpen = false;
    std::atomic<int> m_nKeepaliveCount{0};
    TransportFactory m_fnTransportFactory;
};
