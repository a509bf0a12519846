#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CtApiCodes.h"
#include "DiagRecords.h"
#include "Library.h"
#include "WorkerSink.h"

/// CCtApiWorker: the CT-API way to a terminal. Loads the CT-API library the user named,
/// drives CT_init, CT_data and CT_close, opens and closes the CT session, sends the GET
/// STATUS queries of the diagnosis and downloads firmware packet by packet. Every step is
/// reported through the sink (the message codes of WorkerMessages.h).
///
/// Threads: every operation runs on the caller's worker thread, one at a time. Only a
/// DOWNLOAD DATA exchange runs on an extra thread per packet; that thread works on its own
/// copies (command, lenr, a 32,767-byte response buffer) and never touches the worker or the
/// sink. When it does not finish within packet size x 5 ms the worker stops waiting, reports
/// the time-out, and does not call the library again (every entry point is replaced by a
/// stand-in); the thread is left to finish on its own and frees its copies then. No thread
/// is ever killed.
///
/// Ownership: the sink and the loader are not owned and must outlive the worker. The
/// worker owns the loaded library, shared with a packet thread that may still run: the
/// library is unloaded only after the last call into it has returned.
class CCtApiWorker
{
public:
    /// Signatures of the three CT-API entry points.
    using FnCtInit = signed char (*)(unsigned short ctn, unsigned short pn);
    using FnCtData = signed char (*)(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                                     unsigned char* command, unsigned short* lenr, unsigned char* response);
    using FnCtClose = signed char (*)(unsigned short ctn);

    /// How the download finish waits for the terminal's reset: given the milliseconds, it
    /// returns true when the whole time passed, false when it was cut short. Tests pass a
    /// shorter one; the default sleeps in short steps and ends early on the abort flag of
    /// the running download.
    using FnResetWait = std::function<bool(int nMs)>;

    CCtApiWorker(os::CLibraryLoader& loader, CWorkerSink& sink);
    /// Closes a terminal number that CT_init opened and nobody closed (unless the library
    /// was abandoned), then releases the library (or leaves it to a packet thread still in it).
    ~CCtApiWorker();
    CCtApiWorker(const CCtApiWorker&) = delete;
    CCtApiWorker& operator=(const CCtApiWorker&) = delete;

    /// SICCT version of the terminal, major * 256 + minor (0 after construction).
    void SetSicctVersion(uint16_t nVersion) { m_nSicctVersion = nVersion; }
    uint16_t GetSicctVersion() const { return m_nSicctVersion; }
    /// Firmware bytes per DOWNLOAD DATA packet (40 after construction).
    void SetPacketSize(uint16_t nBytes) { m_nPacketSize = nBytes; }
    uint16_t GetPacketSize() const { return m_nPacketSize; }
    void SetResetWait(FnResetWait fnWait) { m_fnResetWait = std::move(fnWait); }

    /// Stores nPn; loads the library at strPath unless one is loaded already; looks up
    /// CT_init, CT_data and CT_close (a missing one fails its calls without a text).
    /// True when a library is loaded.
    bool LoadCtApi(const std::string& strPath, uint16_t nPn);

    /// Sends a table command (CommandFromTable) and reports it. True only when CT_data
    /// returned 0, the answer has at least 2 bytes and SW1 is 0x90. The answer is copied into
    /// pResponse (at most nResponseLength bytes); nResponseLength becomes the bytes copied.
    bool TransmitCommand(int nCommandId, uint8_t* pResponse, size_t& nResponseLength);
    /// The same for command bytes given by the caller (label "Unknown Command returned: ").
    bool TransmitCommand(const std::vector<uint8_t>& vecCommand, uint8_t* pResponse, size_t& nResponseLength);

    /// True for 0. For -1, -8, -10, -11, -127, -128 reports texts 175 to 180 and returns
    /// false; any other code is a failure without a text.
    bool ReportResult(int nCode);

    /// Reports 2007 and busy; CT_init(1, nPn); on 0 runs the session chain (128, 138, the
    /// fixed close, 145 and 102). Reports 2001 when the session is open, else 181. True only
    /// when CT_init returned 0 and the chain succeeded.
    bool OpenSession(uint16_t nPn);
    /// Reports 2006; CT_close(1); reports 6008 for 0 and -10 (both count as closed), else
    /// 174. True when closed.
    bool CloseSession();

    /// The whole firmware download of the CT-API way: load the library, CT_init, session
    /// chain, download init (105), the file in DOWNLOAD DATA packets, download finish (106),
    /// session close. bAbort is read between the steps and packets. True when all steps
    /// succeeded or the abort was found after a successful step (the session is then closed);
    /// false when a step failed (after a failed file transfer the session is left as it is).
    bool DownloadFirmware(const std::string& strLibraryPath, uint16_t nPn, const std::string& strFirmwarePath,
                          const std::atomic<bool>& bAbort);

    // --- GET STATUS queries of the diagnosis; each clears its result first, decodes the answer
    // when the command succeeded, and returns TransmitCommand's result. strUnit: the unit's
    // identifier as two hex digits.
    bool GetManufacturerStatus(ManufacturerInfo& info);
    /// The function-unit list (two bytes per unit) and the number of units.
    bool GetFunctionalUnits(std::vector<uint8_t>& vecUnits, int& nCount);
    bool GetUnitName(const std::string& strUnit, std::string& strName);
    bool GetDisplay(const std::string& strUnit, DisplayInfo& info);
    bool GetKeypad(const std::string& strUnit, KeypadInfo& info);
    bool GetIccStatus(const std::string& strUnit, IccStatusInfo& info);
    bool GetIccInterface(const std::string& strUnit, IccInterfaceInfo& info);
    /// RESET CT with ATR; strAtr reads "No ATR given" until an answer is decoded.
    bool GetAtr(const std::string& strUnit, std::string& strAtr);

    /// Whether a packet exchange was abandoned in this run (the library is then not called).
    bool IsLibraryAbandoned() const { return m_bAbandoned; }
    /// Packet exchanges abandoned by any worker of the process that have not returned yet.
    static int CountAbandonedCalls();

private:
    struct SEntries
    {
        FnCtInit pInit;
        FnCtData pData;
        FnCtClose pClose;
    };
    enum class EPacketOutcome
    {
        Done,       // CT_data returned; code and answer valid
        Timeout,    // abandoned
        NoThread,   // the exchange could not be run (no thread, or the call threw)
    };

    bool Transmit(int nCommandId, const std::vector<uint8_t>& vecCommand, uint8_t* pResponse,
                  size_t& nResponseLength);
    bool TransmitUnitQuery(int nCommandId, const std::string& strUnit, std::vector<uint8_t>& vecAnswer);
    bool RunSessionChain(const std::atomic<bool>& bAbort);
    bool SendFirmwareFile(const std::string& strPath, const std::atomic<bool>& bAbort);
    EPacketOutcome ExchangePacket(const std::vector<uint8_t>& vecCommand, int& nCode,
                                  std::vector<uint8_t>& vecAnswer);
    void PostLogRecord(std::string strText, std::vector<uint8_t> vecData = {});
    void Abandon();
    bool DefaultResetWait(int nMs) const;

    os::CLibraryLoader& m_loader;
    CWorkerSink& m_sink;
    std::shared_ptr<os::CLibrary> m_pLibrary;  // shared with a packet thread still running
    SEntries m_entries;
    uint16_t m_nPn = 0;
    uint16_t m_nSicctVersion = 0;
    uint16_t m_nPacketSize = ctapi::DEFAULT_PACKET_SIZE;
    std::vector<uint8_t> m_vecCommand;          // last command built
    bool m_bTerminalOpen = false;               // CT_init succeeded and CT_close not yet called
    bool m_bAbandoned = false;
    const std::atomic<bool>* m_pAbort = nullptr; // abort flag of the running download
    FnResetWait m_fnResetWait;

};
