#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "BaseDevice.h"
#include "DeviceInfo.h"
#include "MiddlewareCodes.h"

class CNetAdapterList;

/// The middleware's network transport.
///
/// 1. Service discovery: SendDiscoveryRequest sends the 16-byte SICCT request to UDP port
///    4742 from every Ethernet adapter's IPv4 address (directed broadcast for the entry
///    "255.255.255.255" and for entries that are no address, unicast otherwise); the
///    discovery thread collects the answers on its own UDP port (4742, or the next free
///    one of 4743, 4745, 4748, ...) into found devices, unique by MAC text.
/// 2. One TCP connection to a terminal, plain (protocol 0) or TLS 1.0 (16, 17), on which
///    Write sends SICCT envelopes and the listener thread assembles the terminal's answers.
///
/// Discovery request (16 bytes):
///   A0 0E | 80 02 01 14 | 81 04 <local IPv4, network order> | 82 02 <answer port, BE>
///
/// Threads: the caller's thread (Connect, DisConnect, Write, searches), the connection
/// listener or the discovery thread (both use the base's one listener slot, so a search
/// must not overlap with an open connection of the same object). The response buffer is
/// guarded by the base's lock; the found devices by their own lock; all use of the TLS
/// session (read, write, shutdown) by an I/O lock, since one SSL object must never be used
/// by two threads at once. The adapter list is borrowed (default: the process's Linux one).
class CLanDevice : public CBaseDevice
{
public:
    explicit CLanDevice(CNetAdapterList* pAdapters = nullptr);
    ~CLanDevice() override;

    /// Connects to "address:port:protocol". 0 connected (listener running); -1 failure
    /// (bad address, socket, connect, TLS handshake, unsupported protocol code).
    int Connect(std::string strConnection) override;
    /// Stops the listener and closes the connection; always 0.
    int DisConnect() override;
    /// Sends the request and waits for the answer with the same sequence number (or an
    /// event message). 0 response copied; -1 sent, no answer awaited (time-out 0); -10 not
    /// connected, send failure, connection closed or time-out; -11 the answer does not fit
    /// (or is 10 bytes or shorter). nFlag is ignored.
    int Write(const uint8_t* pRequest, int nLength, uint8_t* pResponse, int& nResponseLength, int nTimeoutMs,
              int nFlag) override;
    /// Searches all terminals (see the class comment); ends after the quiet window without a
    /// new answer, or as soon as a wanted device (non-null entry) answered. On return the
    /// list holds new records of every device found (the caller owns them).
    void GetDevices(std::vector<CDeviceInfo*>& vecDevices) override;
    /// The connection listener.
    int ListenerThread() override;

    /// Searches one terminal by unicast; the record (caller owns) or null.
    std::unique_ptr<CDeviceInfo> GetDevice(uint32_t nAddressHostOrder);
    /// Starts the discovery thread and waits at most 1000 ms until it is ready.
    bool StartDiscoveryListener();
    /// Sends the request for every target entry ("a.b.c.d;" ...). False only when the
    /// adapter list cannot be read.
    bool SendDiscoveryRequest(const std::string& strTargets);
    /// The discovery thread's body. 0, or -1 when no free port was found.
    int ListenTerminalServiceDiscovery();

    static std::array<uint8_t, 16> BuildDiscoveryRequest(uint32_t nLocalAddressHostOrder, uint16_t nAnswerPort);
    /// A datagram is an answer when it starts 80 02 or A1.
    static bool IsDiscoveryAnswer(const uint8_t* pData, int nLength);
    /// The receive framing of the connection listener: cuts every complete envelope (10-byte
    /// header, body length in bytes 6..9, big-endian) off the front of the bytes received so
    /// far and hands each to fnMessage in order; an incomplete rest stays in vecStream for the
    /// next read. False (the connection is to be dropped) when a header announces more than
    /// kMaxMessageSize bytes; the envelopes before it have been handed over.
    static bool CutEnvelopes(std::vector<uint8_t>& vecStream,
                             const std::function<void(std::vector<uint8_t>)>& fnMessage);
    static constexpr size_t kMaxMessageSize = 1024 * 1024 + mw::kEnvelopeHeaderSize;  // far above any SICCT answer
    /// Splits "host:port:protocol" (port between the first and the last colon; atoi rules).
    static bool ParseConnectionString(const std::string& strConnection, std::string& strHost, int& nPort,
                                      int& nProtocol);

    uint16_t GetDiscoveryPort() const { return m_nDiscoveryPort.load(); }
    /// Snapshot of the found devices (thread-safe).
    std::vector<CDeviceInfo> GetFoundDevices() const;

    // --- test and benchmark settings (defaults are the system's) ---------------------------
    /// Quiet window of the searches (3000 ms).
    void SetQuietWindowMs(int nMs) { m_nQuietWindowMs = nMs; }
    /// First UDP port tried for answers (4742).
    void SetDiscoveryPortStart(uint16_t nPort) { m_nDiscoveryPortStart = nPort; m_nDiscoveryPort = nPort; }
    /// Idle time after which the connection listener gives the link up (15000 ms).
    void SetIdleLimitMs(int nMs) { m_nIdleLimitMs = nMs; }
    /// UDP port the requests go to (4742).
    void SetDiscoveryTargetPort(uint16_t nPort) { m_nDiscoveryTargetPort = nPort; }

private:
    struct CConnection;

    void SetDiscoveryEvent();
    bool WaitDiscoveryEvent(int nTimeoutMs);
    void ClearFoundDevices();
    /// Sends on the connection (TLS or plain) under the I/O lock; false on failure.
    bool SendAll(const uint8_t* pData, int nLength);
    /// Handles one complete message from the stream (listener thread).
    void HandleMessage(std::vector<uint8_t> vecMessage);
    /// Ends the link as seen by a waiting writer (listener thread).
    void SignalLinkDown(bool bFreeResponse);

    CNetAdapterList* m_pAdapters;
    std::atomic<uint16_t> m_nDiscoveryPort;
    uint16_t m_nDiscoveryPortStart;
    uint16_t m_nDiscoveryTargetPort;
    int m_nQuietWindowMs;
    int m_nIdleLimitMs;
    std::unique_ptr<CConnection> m_pSocketConn;
    std::atomic<uint8_t> m_nProtocol;
    std::mutex m_mtxIo;                          // one thread at a time on the socket / SSL object

    // Found devices and the discovery event (auto-reset).
    mutable std::mutex m_mtxFound;
    std::condition_variable m_cvFound;
    std::vector<CDeviceInfo> m_vecFound;
    std::unordered_set<std::string> m_setFoundMacs;
    bool m_bDiscoveryEvent;

    // Listener state seen by Write (under m_mtxResponse).
    bool m_bLinkDown;
    // Sequence number of the last keepalive command sent (listener thread only).
    std::optional<uint16_t> m_optKeepaliveSequence;
};
