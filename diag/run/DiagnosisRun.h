#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "DiagnosisResult.h"
#include "Library.h"
#include "RunEnd.h"
#include "SessionSettings.h"
#include "SessionTiming.h"
#include "TerminalIdRecord.h"
#include "WorkerSink.h"

/// Everything a diagnosis run needs, gathered before it starts (search::MakeDiagnosisArgs
/// gives record, port and connection type; the CT-API library path comes from the setting
/// "CtApi" or the user).
struct SDiagnosisParams
{
    TerminalIdRecord record;      // SICCT version, address, MAC, name, port, protocol code
    uint16_t nPort = 0;           // CT-API port (pn) for connection type 0, else the SICCT port
    int nConnectionType = 3;      // 0, 1 and 4: CT-API way; others: SICCT session
    std::string strUser;          // empty when opened from the main window
    std::string strPassword;
    std::string strCtApiPath;     // CT-API way only
};

/// Receives the run's results as they are found, on the run's thread; must return at once
/// (a dialog queues them to its thread). Optional.
class CDiagnosisObserver
{
public:
    virtual ~CDiagnosisObserver() = default;
    /// Both lists are emptied (start of a run).
    virtual void OnCleared() {}
    /// The manufacturer query answered: version, manufacturer and the "Typ" box text.
    virtual void OnManufacturer(const ManufacturerInfo& /*info*/, const std::string& /*strTypeText*/) {}
    /// A unit row was completed (all its queries done); nRow counts from 0.
    virtual void OnUnit(size_t /*nRow*/, const SDiagUnit& /*unit*/) {}
};

/// CDiagnosisRun: queries a terminal's status and that of each of its function units, the
/// direct way through a CSicctSession or the CT-API way through a CCtApiWorker, and fills
/// SDiagnosisResult with the same decoder on both ways. Messages go to the sink with the
/// worker message codes: WM_OPERATION 0, icon green at the start; the session's or the
/// CT-API worker's texts; at the end 1999 after a cancel, the end icon (red after an
/// error, yellow after a cancel without error; none after a clean run, the green of the
/// start stays), WM_BUSY 0 and WM_OPERATION 1.
///
/// Threads: Run on the caller's worker thread, blocking; bCancel may be set from another
/// thread and is read before every query (and inside the session's waits). Ownership:
/// sink, settings, loader and observer are not owned and must outlive the run.
class CDiagnosisRun
{
public:
    CDiagnosisRun(CWorkerSink& sink, const CSessionSettings* pSettings, os::CLibraryLoader& loader,
                  SSessionTiming timing = {});

    /// Connection types 0, 1 and 4 use the CT-API library.
    static bool UsesCtApi(int nConnectionType);
    /// The port the run talks to: the record's port for connection type 3, else nPort.
    static uint16_t TargetPort(const SDiagnosisParams& params);
    /// "%i.%i.%i.%i" of the record's address bytes.
    static std::string TargetAddress(const TerminalIdRecord& record);
    /// Before a CT-API run: the library file must open for reading (else the front end shows
    /// runtexts::kCtApiLibraryMissing and does not start). Always true for the direct way.
    static bool CtApiLibraryUsable(const SDiagnosisParams& params);

    void SetObserver(CDiagnosisObserver* pObserver) { m_pObserver = pObserver; }

    /// Runs one diagnosis; result is replaced. Returns the end: Green (no error, no cancel),
    /// Yellow (cancelled without error), Red (a step failed). The run only reads bCancel
    /// (the session client sets it when a card-slot query could not be sent at all, which
    /// ends the unit loop); the caller clears it before the next run.
    ERunEnd Run(const SDiagnosisParams& params, std::atomic<bool>& bCancel, SDiagnosisResult& result);

private:
    bool RunDirect(const SDiagnosisParams& params, std::atomic<bool>& bCancel, SDiagnosisResult& result);
    bool RunCtApi(const SDiagnosisParams& params, std::atomic<bool>& bCancel, SDiagnosisResult& result);
    void AddUnit(SDiagnosisResult& result, SDiagUnit unit);

    CWorkerSink& m_sink;
    const CSessionSettings* m_pSettings;
    os::CLibraryLoader& m_loader;
    SSessionTiming m_timing;
    CDiagnosisObserver* m_pObserver = nullptr;
};
