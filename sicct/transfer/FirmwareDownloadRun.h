#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "CtApiWorker.h"
#include "Library.h"
#include "RunEnd.h"
#include "SessionSettings.h"
#include "SessionTiming.h"
#include "WorkerSink.h"

/// Everything a firmware download needs, gathered before the run starts (the run never asks
/// for input). Filled by the dialog or the command line from the terminal's list row
/// (search::MakeDownloadArgs) and the user's entries.
struct SFirmwareDownloadParams
{
    std::string strAddress;        // dotted IPv4 text
    uint16_t nPort = 0;            // SICCT port, 0 = 4742
    uint8_t nProtocol = 0;         // protocol code (0x10/0x11/0x20/0x30; "Protocol-ID" may replace it)
    int nConnectionType = 3;       // 0, 1 and 4 use the CT-API way
    uint16_t nSicctVersion = 0;    // major * 256 + minor
    std::string strUser = "admin"; // direct way only
    std::string strPassword;       // direct way only
    std::string strFirmwarePath;   // sent unchanged
    std::string strCtApiPath;      // CT-API way only: the library file
    uint16_t nCtApiPort = 0;       // CT-API way only: pn of CT_init
};

/// Result of the checks made before a download starts (the dialog shows them in message
/// boxes, the command line prints them; nothing is sent).
enum class EFirmwareCheck : int
{
    Ok = 0,
    NoFirmwarePath = 111,       // text 111 "Keine Firmwaredatei angegeben."
    FirmwareUnreadable = 113,   // text 113 "Datei %s enthält keine gültige Firmware." (path)
    CtApiLibraryMissing = 1,    // runtexts::kCtApiLibraryMissing
};

/// CFirmwareDownloadRun: one firmware download into one terminal, the direct way through a
/// CSicctSession (connect, CT session open, firmware version, download init, the file in
/// packets, download finish, session close, disconnect) or the CT-API way through a
/// CCtApiWorker (its DownloadFirmware). Reports every step to the sink with the worker
/// message codes and ends with exactly one status icon (WM_REPORT / STATUS_ICON), busy off
/// (WM_BUSY 0) and operation ended (WM_OPERATION 1).
///
/// Threads: Run is called on the caller's worker thread and blocks until the download has
/// ended; bCancel may be set from any other thread and is seen between the steps, between
/// packets and inside every response wait (a wait ends 10 s after the cancel at the
/// earliest with the default timing). Ownership: sink, settings and loader are not owned
/// and must outlive the run; the session or CT-API worker is created and destroyed inside
/// Run.
class CFirmwareDownloadRun
{
public:
    /// pSettings may be null (no "Protocol-ID" / "MaxDataPacketSize").
    CFirmwareDownloadRun(CWorkerSink& sink, const CSessionSettings* pSettings, os::CLibraryLoader& loader,
                         SSessionTiming timing = {});

    /// Connection types 0, 1 and 4 are reached through the CT-API library.
    static bool IsCtApiMode(int nConnectionType);
    /// The packet size the CT-API way uses (the dialog announces it with WM_PACKET_SIZE).
    static constexpr uint16_t CTAPI_PACKET_SIZE = 1024;
    /// Firmware below this version number (1.0.0.14) ends the download with its last packet.
    static constexpr int32_t FIRST_VERSION_WITH_FINISH = 10014;
    /// Whether the last short packet ends the download (INS 0x26, no finish command): only for
    /// a known version number below 10014.
    static bool LastPacketEndsDownload(int32_t nVersion);

    /// The checks before a run, in this order: empty firmware path, firmware file not readable,
    /// CT-API way with a library file that cannot be opened. Posts nothing.
    static EFirmwareCheck Check(const SFirmwareDownloadParams& params);

    /// Runs the download. A failed Check ends the run at once: for a missing CT-API library
    /// the red icon is posted (the caller shows the message), for the other two nothing.
    /// Returns how it ended (the icon posted last). bCancel is only read; the caller clears
    /// it before the next run.
    ERunEnd Run(const SFirmwareDownloadParams& params, std::atomic<bool>& bCancel);

    /// Tests: how the CT-API way waits for the terminal's reset after a good signature.
    void SetCtApiResetWait(CCtApiWorker::FnResetWait fnWait) { m_fnResetWait = std::move(fnWait); }

private:
    bool RunDirect(const SFirmwareDownloadParams& params, std::atomic<bool>& bCancel, bool& bIconSet);
    bool RunCtApi(const SFirmwareDownloadParams& params, std::atomic<bool>& bCancel);

    CWorkerSink& m_sink;
    const CSessionSettings* m_pSettings;
    os::CLibraryLoader& m_loader;
    SSessionTiming m_timing;
    CCtApiWorker::FnResetWait m_fnResetWait;
};
