#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DiagRecords.h"
#include "SessionTiming.h"
#include "SicctStatus.h"

class CWorkerSink;
class CSessionSettings;
class CSocketConn;

/// The tool's own SICCT client: TCP (4742 by default) with TLS 1.0/1.1/1.2, a CT session
/// with user name and password, commands in SICCT envelopes, each waited for and judged by
/// its status word. Every step is reported to the sink by text number (WM_REPORT) and the
/// other worker messages.
///
/// Threads: all operations are called from one worker thread, one at a time. A receive
/// thread owned by the object watches the socket the whole time (events, sign-off, idle
/// connection, peer closing); it is started by Connect and joined by Disconnect and by the
/// destructor. Whichever of the two threads finds bytes on the socket reads them under one
/// lock and appends them to one assembly buffer, so the byte order is kept; a complete
/// answer is handed to the waiting worker as its own copy with a ready flag (and a signal
/// when the receive thread took it). A waiting worker thus wakes directly on the answer.
/// Every wait is bounded (slices, poll periods) and Disconnect wakes the receive thread.
///
/// Ownership: the sink and the settings are not owned and must outlive the object; the
/// connection (socket, TLS objects) is owned and released by Disconnect.
class CSicctSession
{
public:
    /// Default SICCT port.
    static constexpr uint16_t DEFAULT_PORT = 4742;
    /// Texts of this worker that no terminal status word produces.
    static constexpr int TEXT_CREDENTIALS_TOO_LONG = 4013;
    static constexpr int TEXT_ANSWER_TOO_LONG = 4014;

    /// pSettings may be null (then every setting is 0, i.e. not set).
    CSicctSession(CWorkerSink& sink, const CSessionSettings* pSettings, SSessionTiming timing = {});
    ~CSicctSession();
    CSicctSession(const CSicctSession&) = delete;
    CSicctSession& operator=(const CSicctSession&) = delete;

    /// Stores user name and password for OpenCtSession.
    void SetCredentials(const std::string& strUser, const std::string& strPassword);
    /// Stores the terminal's SICCT version (selects tags and which queries are sent).
    void SetSicctVersion(uint8_t nMajor, uint8_t nMinor);

    /// TCP connect (port 0 = 4742), TLS per protocol code (0x10/0x11 TLS 1.0, 0x20 TLS 1.1,
    /// 0x30 TLS 1.2; the setting "Protocol-ID" replaces nProtocol, also in the caller's
    /// variable), then the receive thread. Texts: 4010, 4001, 2009, 4002, 123, 4003, 4011,
    /// 2010. Disconnect must follow every Connect, successful or not.
    bool Connect(const std::string& strAddress, uint16_t nPort, uint8_t& nProtocol);
    /// Stops and joins the receive thread, ends TLS (2012) or the plain socket (124).
    /// Always true.
    bool Disconnect();

    /// CT session open with the stored credentials (2007, session-open texts; 4013 when
    /// name and password exceed 241 bytes, nothing sent). Keeps the session identifier.
    bool OpenCtSession(std::atomic<bool>& bCancel);
    /// CT session close with the stored identifier (2006, session-close texts, 115 without
    /// answer); WM_BUSY 0 at the end.
    bool CloseCtSession(std::atomic<bool>& bCancel);

    /// Command 112; the answer decoded into info (defaults first: version -1).
    bool GetManufacturerStatus(ManufacturerInfo& info, std::atomic<bool>& bCancel);
    /// Command 114; the function-unit list (two bytes per unit) and its byte count.
    bool GetFunctionalUnits(std::vector<uint8_t>& vecUnits, int& nCount, std::atomic<bool>& bCancel);
    /// One unit query: 117 name, 118 ICC status, 119 display, 120 ICC interface, 121 keypad
    /// (121 is not sent to SICCT 1.0-1.20 and then succeeds). Fills the matching part of unit.
    /// 118 sets bCancel when nothing could be sent.
    bool GetUnitStatus(int nQuery, const std::string& strUnit, SUnitStatus& unit, std::atomic<bool>& bCancel);
    /// Command 116 (card reset with ATR): strAtr starts as "No ATR given"; a refused reset on
    /// SICCT x.20+ gives "Command not allowed in unpaired connections". False only when
    /// nothing could be sent (then bCancel is set).
    bool ResetCard(const std::string& strUnit, std::string& strAtr, std::atomic<bool>& bCancel);
    /// Command 100 (diagnosis notice on the display); the answer is not judged.
    void ShowDiagnosisText(std::atomic<bool>& bCancel);

    /// Command 105 (2003, download-init texts); reads the terminal's maximum packet size.
    bool InitDownload(std::atomic<bool>& bCancel);
    /// Sends the file in packets of the terminal's size (lowered by "MaxDataPacketSize"):
    /// WM_PACKET_SIZE, then per packet 2004 and WM_PACKET_SENT; 4006 when the terminal gave
    /// no size, 4004 when a packet is not acknowledged. With bLastPacketEndsDownload the
    /// final packet uses INS 0x26.
    bool SendFirmwareFile(const std::string& strPath, bool bLastPacketEndsDownload, std::atomic<bool>& bCancel);
    /// Command 106 (2005; 6014 + 139 "Signatur OK" or 140 "Signatur fehlerhaft!").
    bool FinishDownload(std::atomic<bool>& bCancel);
    /// Certificate list write (1..65535 bytes); card-reset/certificate texts; log records
    /// (WM_REPORT/1030) for invalid arguments and a missing answer.
    bool WriteCertificateList(const uint8_t* pData, size_t nLength);

    // --- state for the owner and for tests ---------------------------------------------
    const std::string& SessionId() const { return m_strSessionId; }
    uint32_t MaxPacketSize() const { return m_nMaxPacketSize; }
    uint16_t NextSequence() const { return m_nSequence; }
    bool IsConnected() const { return m_pConn != nullptr; }

private:
    /// Result of one exchange: whether bytes went out and the answer (empty without one).
    struct SExchange
    {
        bool bSent = false;
        bool bAnswered = false;
        std::vector<uint8_t> vecBody;
    };

    SExchange Exchange(const std::vector<uint8_t>& vecApdu, std::atomic<bool>& bCancel);
    size_t Transmit(const std::vector<uint8_t>& vecApdu);
    bool WaitForResponse(std::vector<uint8_t>& vecBody, std::atomic<bool>& bCancel);
    /// Judges an answer of at least 2 bytes and reports its texts; sets m_bError.
    void Evaluate(sicct::ECommandKind eKind, const std::vector<uint8_t>& vecBody);
    void ReceiveLoop();
    /// What one read from the socket brought.
    enum EPump
    {
        PUMP_DATA,    // bytes read (a message may have completed)
        PUMP_AGAIN,   // nothing to read after all
        PUMP_ERROR,   // a read error that does not end the connection (reported)
        PUMP_END,     // the connection has ended (reported once)
    };
    /// Reads once and takes complete messages out; from either thread (bWorker: the waiting
    /// worker), under m_mutexRx.
    EPump Pump(bool bWorker);
    /// Both under m_mutexRx: wake a waiting worker / take the wake-up back.
    void SignalWorker(bool bWorker);
    void ClearWorkerSignal();
    void PostLogRecord(const std::string& strText);
    void StopReceiveThread();
    void Report(int nTextId, int64_t nLParam = 0);
    bool StatusQuery(int nCommand, const std::string& strUnit, std::vector<uint8_t>& vecAnswer,
                     std::atomic<bool>& bCancel, bool& bSent);

    CWorkerSink& m_sink;
    const CSessionSettings* m_pSettings;
    SSessionTiming m_timing;

    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strSessionId;  // " %02x" per byte, empty when none is known
    uint8_t m_nSicctMajor = 0;
    uint8_t m_nSicctMinor = 0;
    uint16_t m_nSequence = 0;    // lives as long as the object, not the connection
    bool m_bError = true;
    uint32_t m_nMaxPacketSize = 0;
    std::vector<uint8_t> m_vecTx;  // envelope being sent (worker thread only)

    std::unique_ptr<CSocketConn> m_pConn;
    std::thread m_threadReceive;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bWorkerReading{false};  // a worker waits and reads the socket itself
    std::atomic<int64_t> m_nLastDataMs{0};      // steady time of the last bytes read

    // Reading and hand-over, all guarded by m_mutexRx.
    std::mutex m_mutexRx;
    bool m_bRxReady = false;         // m_vecRxBody holds an answer for the waiting command
    bool m_bRxThreadEnded = true;    // no receive thread runs: every wait fails at once
    bool m_bStreamEnded = false;     // peer closed, fatal error or impossible length
    int m_nReadErrors = 0;           // consecutive read errors that did not end the stream
    bool m_bSignalled = false;       // the connection's worker signal is set
    std::vector<uint8_t> m_vecRxBody;
    std::vector<uint8_t> m_vecAssembly;  // bytes of the message(s) being assembled
    std::vector<uint8_t> m_vecChunk;     // read buffer
};
