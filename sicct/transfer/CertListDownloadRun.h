#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "RunEnd.h"
#include "SessionSettings.h"
#include "SessionTiming.h"
#include "WorkerSink.h"

/// Everything a certificate list download needs, gathered before it starts.
struct SCertListDownloadParams
{
    std::string strAddress;        // dotted IPv4 text
    uint16_t nPort = 0;            // SICCT port, 0 = 4742
    uint8_t nProtocol = 0;         // protocol code ("Protocol-ID" may replace it)
    int nConnectionType = 3;       // kept, not used: the list always goes the direct way
    uint16_t nSicctVersion = 0;    // major * 256 + minor
    std::string strUser = "admin";
    std::string strPassword;
};

/// What reading the certificate list file gave.
enum class ECertFileResult : int
{
    Ok = 0,
    Unreadable = 1,   // "Datei kann nicht gelesen werden!" was posted
    Empty = 2,        // "Zertifikate können nicht aus Datei gelesen werden." was posted
};

/// CCertListDownloadRun: writes a connector CA certificate list file unchanged into a
/// terminal in one certificate-list write command, inside a CT session with the
/// administrator's credentials (direct way only). The file is read first (LoadFile: nothing
/// is connected when it fails, so the front end asks for the password only after a good
/// read), then Transfer connects, opens the session, logs the firmware version, writes the
/// list and closes and disconnects as far as it got. Texts of its own travel as
/// WM_REPORT / REPORT_PAYLOAD_TEXT; the session's texts by number. Ends with WM_OPERATION 1.
/// A list above 65535 bytes is refused by the session ("Übergabe parameter ungültig ...")
/// after the version was read, as the terminal cannot take it in one command.
///
/// Threads: all operations on one caller thread; bCancel (optional) may be set from another
/// thread and shortens the session waits; the write itself is waited for up to 300 s.
/// Ownership: sink and settings are not owned; the session is created inside Transfer.
class CCertListDownloadRun
{
public:
    CCertListDownloadRun(CWorkerSink& sink, const CSessionSettings* pSettings, SSessionTiming timing = {});

    static constexpr const char* kTextUnreadable = "Datei kann nicht gelesen werden!";
    static constexpr const char* kTextNoCertificates = "Zertifikate können nicht aus Datei gelesen werden.";
    static constexpr const char* kTextWriting = "Zertifikate schreiben";
    static constexpr const char* kTextFailed = "Zertifikatdownload fehlgeschlagen";

    /// Reads the whole file into the run (posts the file texts on failure).
    ECertFileResult LoadFile(const std::string& strPath);
    /// The bytes read by LoadFile.
    const std::vector<uint8_t>& Data() const { return m_vecData; }

    /// Sends the loaded list. Green when the terminal accepted it, else Red (also without a
    /// loaded file, then nothing is sent).
    ERunEnd Transfer(const SCertListDownloadParams& params, std::atomic<bool>* pCancel = nullptr);

    /// LoadFile and, when it succeeded, Transfer. Red when the file could not be used.
    ERunEnd Run(const SCertListDownloadParams& params, const std::string& strPath,
                std::atomic<bool>* pCancel = nullptr);

private:
    void Log(const std::string& strText);

    CWorkerSink& m_sink;
    const CSessionSettings* m_pSettings;
    SSessionTiming m_timing;
    std::vector<uint8_t> m_vecData;
    bool m_bLoaded = false;
};
