#include "FleetRun.h"

#include <algorithm>
#include <exception>
#include <sstream>
#include <thread>

#include "ConsoleSink.h"
#include "DiagnosisRules.h"
#include "MaintenanceArgs.h"
#include "SicctSession.h"
#include "TerminalRules.h"
#include "Trace.h"

namespace
{
constexpr const char* kTrace = "terminalctl";

/// Swallows the certificate reader's messages: the fleet table shows its result.
class CNullSink final : public CWorkerSink
{
public:
    void Deliver(SWorkerMessage) override {}
};
} // namespace

CFleetRun::CFleetRun(const CSessionSettings* pSettings, os::CClock& clock, SSessionTiming timing, int nJobs,
                     uint16_t nCertPort)
    : m_pSettings(pSettings), m_clock(clock), m_timing(timing), m_nJobs(std::clamp(nJobs, 1, kMaxJobs)),
      m_nCertPort(nCertPort)
{
}

bool CFleetRun::ReadFirmware(const CDeviceInfo& device, SFleetEntry& entry, std::atomic<bool>& bCancel)
{
    std::ostringstream log;
    CConsoleSink sink(log, CConsoleSink::EStyle::Diagnosis);
    bool bRead = false;
    {
        CSicctSession session(sink, m_pSettings, m_timing);
        const uint16_t nVersion = diagrun::EffectiveSicctVersion(device.GetSicctVersion());
        session.SetSicctVersion(static_cast<uint8_t>(nVersion >> 8), static_cast<uint8_t>(nVersion & 0xFF));
        // The main window opens the diagnosis with empty credentials; so does the overview.
        session.SetCredentials("", "");
        uint8_t nProtocol = static_cast<uint8_t>(search::ProtocolCodeFromLogicalName(device.GetLogicalName()));
        if (session.Connect(device.GetIpAddress(), search::DevicePort(device), nProtocol) && !bCancel)
        {
            if (session.OpenCtSession(bCancel))
            {
                bRead = session.GetManufacturerStatus(entry.manufacturer, bCancel) && entry.manufacturer.nVersion != -1;
                (void)session.CloseCtSession(bCancel);
            }
        }
        session.Disconnect();
    }
    sink.Finish();
    entry.strLog = log.str();
    return bRead;
}

SFleetEntry CFleetRun::Check(const CDeviceInfo& device, std::atomic<bool>& bCancel)
{
    SFleetEntry entry;
    entry.device = device;
    if (bCancel)
        return entry;
    entry.bChecked = true;
    entry.bFirmwareRead = ReadFirmware(device, entry, bCancel);
    if (bCancel)
        return entry;
    CNullSink sink;
    CCertValidity validity(sink, m_clock, m_timing.nConnectTimeoutMs, m_timing.nHandshakeTimeoutMs);
    const uint16_t nPort = m_nCertPort != 0 ? m_nCertPort : search::DevicePort(device);
    entry.cert = validity.Run(device.GetIpAddress(), nPort, bCancel);
    return entry;
}

std::vector<SFleetEntry> CFleetRun::Run(const std::vector<CDeviceInfo>& vecTerminals, std::atomic<bool>& bCancel)
{
    std::vector<SFleetEntry> vecEntries(vecTerminals.size());
    for (size_t i = 0; i < vecTerminals.size(); ++i)
        vecEntries[i].device = vecTerminals[i];
    std::atomic<size_t> nNext{0};
    auto fnWorker = [&] {
        for (;;)
        {
            const size_t i = nNext.fetch_add(1);
            if (i >= vecTerminals.size() || bCancel)
                return;
            try
            {
                vecEntries[i] = Check(vecTerminals[i], bCancel);
            }
            catch (const std::exception& e)
            {
                // Nothing may leave a thread; the terminal keeps its empty (failed) entry.
                TC_TRACE(kTrace, trace::LEVEL_ERROR, e.what(), 0);
            }
            catch (...)
            {
                TC_TRACE(kTrace, trace::LEVEL_ERROR, "fleet check failed", 0);
            }
        }
    };
    const size_t nThreads = std::min(vecTerminals.size(), static_cast<size_t>(m_nJobs));
    std::vector<std::thread> vecThreads;
    vecThreads.reserve(nThreads);
    for (size_t i = 0; i < nThreads; ++i)
        vecThreads.emplace_back(fnWorker);
    for (std::thread& t : vecThreads)
        t.join();
    return vecEntries;
}
