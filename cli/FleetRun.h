#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "CertValidity.h"
#include "DeviceInfo.h"
#include "DiagRecords.h"
#include "SessionSettings.h"
#include "SessionTiming.h"

namespace os
{
class CClock;
}

/// What the fleet overview learned about one terminal.
struct SFleetEntry
{
    CDeviceInfo device;
    bool bFirmwareRead = false;       // the manufacturer query answered
    ManufacturerInfo manufacturer;    // version text and number (-1 unknown)
    std::string strLog;               // the session's texts, as the diagnosis dialog logs them
    SCertValidityResult cert;         // dates and status of the TLS certificate
    bool bChecked = false;            // false when the run was cancelled before this terminal
};

/// CFleetRun: for every LAN terminal of a search, the validity of its TLS certificate and its
/// firmware version, read the way the diagnosis reads it (CT session with the empty
/// credentials the main window hands over, manufacturer query, session close). Nothing is
/// shown on the terminal's display and no unit is queried.
///
/// Threads: Run starts at most nJobs worker threads, each taking the next terminal until none
/// is left or the cancel flag is set, and joins them all before it returns; every connection
/// and wait is bounded by the session timing and the certificate reader's limits. Each worker
/// has its own session, sink and certificate reader; results are written to distinct slots.
/// Ownership: settings and clock are borrowed and must outlive Run.
class CFleetRun
{
public:
    static constexpr int kDefaultJobs = 4;
    static constexpr int kMaxJobs = 64;

    /// nCertPort: the port of the TLS certificate check (0: each terminal's SICCT port).
    CFleetRun(const CSessionSettings* pSettings, os::CClock& clock, SSessionTiming timing, int nJobs,
              uint16_t nCertPort);

    /// Checks the terminals (in the given order; the result has the same order).
    std::vector<SFleetEntry> Run(const std::vector<CDeviceInfo>& vecTerminals, std::atomic<bool>& bCancel);

    /// One terminal, on the caller's thread.
    SFleetEntry Check(const CDeviceInfo& device, std::atomic<bool>& bCancel);

private:
    bool ReadFirmware(const CDeviceInfo& device, SFleetEntry& entry, std::atomic<bool>& bCancel);

    const CSessionSettings* m_pSettings;
    os::CClock& m_clock;
    SSessionTiming m_timing;
    int m_nJobs;
    uint16_t m_nCertPort;
};
