#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BaseDevice.h"
#include "HidAccess.h"

class CDeviceInfo;

/// Time bounds of the HID transport; tests shorten them.
struct HidTimeouts
{
    int nReportWriteMs = 1000;     // one report written
    int nConnectAnswerMs = 2000;   // the device's answer to CONNECT
    int nDiscoveryMs = 2000;       // one service discovery exchange in all
    int nNotifierReadyMs = 1000;   // the notification thread to start watching
};

/// The USB HID transport: card terminals built into keyboards, reached through a
/// vendor-defined top-level collection. It lists and validates such devices, announces
/// itself with the CONNECT handshake, carries SICCT envelopes in output reports split into
/// parts and reassembles the answers in its listener thread.
///
/// Report layout (multi-byte fields little-endian). When the report ID of the device's
/// first value capability is 0, each report starts with the report ID byte 0x00 and the
/// layout follows it; otherwise the layout starts at byte 0 and the unit byte stands in
/// the report ID position:
///   [0] unit: 1 for envelopes; 2 for handshake, CONNECT and discovery in HID mode 0xFF11
///   [1] message type (HidMessage)
///   [2..3] offset of this part's payload in the whole message
///   [4..5] bytes of the message from that offset to its end
///   [6..]  payload, up to report length - 6 (- 1 with the report ID byte)
///
/// Threads: Connect, DisConnect, Write and GetDevices on the caller's thread (one at a
/// time); the listener reads input reports; the notification thread calls
/// OnDeviceRemoved. The listener hands complete messages to Write through the base's
/// response buffer and event. Owns its port (the open device) and one reference on the
/// process-wide CDeviceNotifier from its first successful Connect to its destruction;
/// borrows the HID system and the owner.
class CHidDevice : public CHidAccess, public CBaseDevice
{
public:
    enum HidMessage : uint8_t
    {
        HID_MSG_CONNECT = 0x20,            // both ways; the device answers with the same type
        HID_MSG_CONNECT_FAILED = 0x21,     // to the device when the CONNECT exchange failed
        HID_MSG_ENVELOPE = 0x22,           // SICCT envelope, both ways
        HID_MSG_DISCOVERY = 0x24,          // service discovery request and answer
        HID_MSG_NO_HANDSHAKE = 0x81,       // disable the HID handshake (both ways)
    };

    static constexpr uint16_t kVendorId = 0x2F71;
    static constexpr uint16_t kProductIdFirst = 0x0080;
    static constexpr uint16_t kProductIdLast = 0x008F;
    static constexpr uint16_t kHidModeDefault = 0xFF10;
    static constexpr uint16_t kHidModeSecure = 0xFF11;  // connection type 1 "HID_SECURE"
    static constexpr int kReportHeaderSize = 6;
    static constexpr int kInputBuffers = 128;

    using Timeouts = HidTimeouts;

    /// Header fields of one report.
    struct ReportHeader
    {
        uint8_t nUnit = 0;
        uint8_t nType = 0;
        uint16_t nOffset = 0;
        uint16_t nLength = 0;
    };

    explicit CHidDevice(os::CHidSystem* pHidSystem);
    ~CHidDevice() override;

    /// Opens the device node (when not open), reads its capabilities, starts the listener
    /// and runs the handshake. 0 on success; -1 when the device cannot be opened or
    /// described, or CONNECT is not answered in time (then the device is closed again).
    int Connect(std::string strDevicePath) override;
    /// Stops the listener, removes the removal registration and closes the device. 0.
    int DisConnect() override;
    /// Sends an envelope in parts of type 0x22 and waits at most nTimeoutMs for the
    /// answer. 0 (answer copied, nResponseLength set); -1 missing argument, length 0 or
    /// above 0xFFFF, reports too short, or time-out 0 (sent, nothing awaited); -10 not open,
    /// removed, write failure, connection lost or time-out; -11 answer larger than the
    /// buffer (the answer is discarded).
    int Write(const uint8_t* pRequest, int nLength, uint8_t* pResponse, int& nResponseLength, int nTimeoutMs,
              int nFlag) override;
    /// Appends one record (connection type 0, "ctvnt.dll", LogicalName = device node) per
    /// usable device that answers service discovery (with an owner present; without one,
    /// every usable device is listed). Entries already in the list stay.
    void GetDevices(std::vector<CDeviceInfo*>& vecDevices) override;
    /// Reads input reports until stopped, the device is lost or removed.
    int ListenerThread() override;

    /// Removal handling, called by the notification thread: the device is marked gone,
    /// the listener ends and a waiting Write wakes with -10.
    void OnDeviceRemoved();

    void SetHidMode(uint16_t nMode) { m_nHidMode = nMode; }
    uint16_t GetHidMode() const { return m_nHidMode; }
    /// The handshake switch (CDeviceInfo's UseHIDHandshake; a 0x81 report from the device
    /// turns it off).
    void SetUseHandshake(bool bUse) { m_bUseHandshake.store(bUse); }
    bool GetUseHandshake() const { return m_bUseHandshake.load(); }
    void SetTimeouts(const Timeouts& timeouts) { m_timeouts = timeouts; }
    bool IsOpen() const { return m_pPort != nullptr && m_pPort->IsOpen(); }
    bool IsRemoved() const { return m_bRemoved.load(); }
    const HidCaps& GetCaps() const { return m_caps; }
    const std::string& GetDevicePath() const { return m_strDevicePath; }

    /// Device validation: vendor 0x2F71, product 0x0080-0x008F and the top-level usage page
    /// equal to nHidMode.
    static bool IsUsable(const os::HidRawInfo& info, const HidCaps& caps, uint16_t nHidMode);
    /// Splits a message into complete reports of nReportLength bytes (zero-padded), each
    /// with the header (unit, type, offset, remaining length); a message of length 0 gives
    /// one report with offset and length 0. With bReportIdByte every report starts with 0x00.
    /// Empty when a report has no room for payload, or the length exceeds 0xFFFF.
    static std::vector<std::vector<uint8_t>> BuildReports(const uint8_t* pData, int nLength, uint8_t nUnit,
                                                          uint8_t nType, int nReportLength, bool bReportIdByte);
    /// Reads the header of a report (at byte 1 with bReportIdByte). False when too short.
    static bool ParseHeader(const uint8_t* pReport, int nLength, bool bReportIdByte, ReportHeader& header);

    /// A transport for a wanted device (may be null): HID mode 0xFF11 for connection type 1,
    /// else 0xFF10; the handshake switch from its UseHIDHandshake.
    static std::unique_ptr<CHidDevice> MakeTransport(os::CHidSystem* pHidSystem, const CDeviceInfo* pWanted,
                                                     const Timeouts& timeouts = Timeouts{});
    /// Makes CSicctDevice::Open use MakeTransport with pHidSystem for every non-LAN device.
    static void InstallTransportFactory(os::CHidSystem* pHidSystem, const Timeouts& timeouts = Timeouts{});

private:
    /// One opened candidate: the port with its attributes, capabilities and framing.
    struct Candidate
    {
        std::unique_ptr<os::CHidPort> pPort;
        os::HidRawInfo info;
        HidCaps caps;
    };

    /// Opens and validates one device node; null when it is not usable.
    std::unique_ptr<Candidate> ValidateDevice(const std::string& strPath);
    /// One service discovery exchange on a candidate; true when an answer was completed
    /// (and interpreted into record).
    bool ServiceDiscovery(Candidate& candidate, const uint8_t* pRequest, int nLength, CDeviceInfo& record);
    /// Sends a message in parts on port; false when a part could not be written.
    bool SendMessage(os::CHidPort& port, const HidCaps& caps, const uint8_t* pData, int nLength, uint8_t nUnit,
                     uint8_t nType, int nTimeoutMs, bool bLogParts);
    /// Reads one input report normalised to the layout above (report ID byte prepended for
    /// devices without numbered reports). Length, or an os::OsResult code.
    static int ReadReport(os::CHidPort& port, const HidCaps& caps, std::vector<uint8_t>& vecReport, int nTimeoutMs,
                          int nStopFd);
    /// Unit byte of handshake, CONNECT and discovery reports.
    uint8_t ControlUnit() const { return m_nHidMode == kHidModeSecure ? 2 : 1; }
    /// Handles one full input report in the listener.
    void HandleReport(const std::vector<uint8_t>& vecReport);
    /// Wakes a waiting writer without an answer (device lost or removed).
    void SignalLost();
    void ClosePort();

    std::string m_strDevicePath;
    std::unique_ptr<os::CHidPort> m_pPort;   // the open device; null when closed
    os::HidRawInfo m_info;
    HidCaps m_caps;
    bool m_bReportIdByte = true;             // framing: layout behind a 0x00 report ID byte
    uint16_t m_nHidMode = kHidModeDefault;
    std::atomic<bool> m_bUseHandshake{true};
    std::atomic<bool> m_bRemoved{false};
    Timeouts m_timeouts;
    uintptr_t m_hNotify = 0;                 // registration with the notifier, 0 when none
    bool m_bNotifierHeld = false;            // this object holds a notifier reference
    // Listener only: the message being assembled from parts.
    std::vector<uint8_t> m_vecAssembly;
    size_t m_nAssembled = 0;                 // bytes of it received so far
    bool m_bAssembling = false;
};
