#include "DiagnosisRun.h"

#include <cstdio>
#include <memory>

#include "CtApiWorker.h"
#include "DiagnosisRules.h"
#include "SicctSession.h"
#include "SicctWire.h"

namespace
{
/// The queries of the unit loop, answered by one of the two ways to the terminal. Each
/// returns false when the query failed (the run's error flag).
class CQueryWay
{
public:
    virtual ~CQueryWay() = default;
    virtual bool Manufacturer(ManufacturerInfo& info) = 0;
    virtual bool Units(std::vector<uint8_t>& vecList) = 0;
    virtual bool Name(const std::string& strUnit, std::string& strName) = 0;
    virtual bool Display(const std::string& strUnit, DisplayInfo& info) = 0;
    virtual bool Keypad(const std::string& strUnit, std::optional<KeypadInfo>& info) = 0;
    virtual bool IccStatus(const std::string& strUnit, IccStatusInfo& info) = 0;
    virtual bool IccInterface(const std::string& strUnit, IccInterfaceInfo& info) = 0;
    /// Card reset with ATR: strAtr reads "No ATR given" unless the terminal sent one. False
    /// only when the terminal cannot be reached any more.
    virtual bool Atr(const std::string& strUnit, std::string& strAtr) = 0;
};

/// The direct way: the session client (connected, CT session open).
class CSessionWay final : public CQueryWay
{
public:
    CSessionWay(CSicctSession& session, std::atomic<bool>& bCancel) : m_session(session), m_bCancel(bCancel) {}

    bool Manufacturer(ManufacturerInfo& info) override { return m_session.GetManufacturerStatus(info, m_bCancel); }
    bool Units(std::vector<uint8_t>& vecList) override
    {
        int nCount = 0;
        return m_session.GetFunctionalUnits(vecList, nCount, m_bCancel);
    }
    bool Name(const std::string& strUnit, std::string& strName) override
    {
        SUnitStatus unit;
        const bool bOk = m_session.GetUnitStatus(sicct::CMD_UNIT_NAME, strUnit, unit, m_bCancel);
        strName = unit.strName;
        return bOk;
    }
    bool Display(const std::string& strUnit, DisplayInfo& info) override
    {
        SUnitStatus unit;
        if (!m_session.GetUnitStatus(sicct::CMD_DISPLAY, strUnit, unit, m_bCancel))
            return false;
        info = unit.display.value_or(DisplayInfo{});
        return true;
    }
    bool Keypad(const std::string& strUnit, std::optional<KeypadInfo>& info) override
    {
        SUnitStatus unit;
        if (!m_session.GetUnitStatus(sicct::CMD_KEYPAD, strUnit, unit, m_bCancel))
            return false;
        info = unit.keypad;  // stays empty when the session did not ask
        return true;
    }
    bool IccStatus(const std::string& strUnit, IccStatusInfo& info) override
    {
        SUnitStatus unit;
        if (!m_session.GetUnitStatus(sicct::CMD_ICC_STATUS, strUnit, unit, m_bCancel))
            return false;
        info = unit.iccStatus.value_or(IccStatusInfo{});
        return true;
    }
    bool IccInterface(const std::string& strUnit, IccInterfaceInfo& info) override
    {
        SUnitStatus unit;
        if (!m_session.GetUnitStatus(sicct::CMD_ICC_INTERFACE, strUnit, unit, m_bCancel))
            return false;
        info = unit.iccInterface.value_or(IccInterfaceInfo{});
        return true;
    }
    bool Atr(const std::string& strUnit, std::string& strAtr) override
    {
        return m_session.ResetCard(strUnit, strAtr, m_bCancel);
    }

private:
    CSicctSession& m_session;
    std::atomic<bool>& m_bCancel;
};

/// The CT-API way: the worker with the library loaded and the CT session open.
class CCtApiWay final : public CQueryWay
{
public:
    explicit CCtApiWay(CCtApiWorker& worker) : m_worker(worker) {}

    bool Manufacturer(ManufacturerInfo& info) override { return m_worker.GetManufacturerStatus(info); }
    bool Units(std::vector<uint8_t>& vecList) override
    {
        int nCount = 0;
        return m_worker.GetFunctionalUnits(vecList, nCount);
    }
    bool Name(const std::string& strUnit, std::string& strName) override { return m_worker.GetUnitName(strUnit, strName); }
    bool Display(const std::string& strUnit, DisplayInfo& info) override { return m_worker.GetDisplay(strUnit, info); }
    bool Keypad(const std::string& strUnit, std::optional<KeypadInfo>& info) override
    {
        KeypadInfo keypad;
        if (!m_worker.GetKeypad(strUnit, keypad))
            return false;
        info = keypad;
        return true;
    }
    bool IccStatus(const std::string& strUnit, IccStatusInfo& info) override { return m_worker.GetIccStatus(strUnit, info); }
    bool IccInterface(const std::string& strUnit, IccInterfaceInfo& info) override
    {
        return m_worker.GetIccInterface(strUnit, info);
    }
    bool Atr(const std::string& strUnit, std::string& strAtr) override
    {
        // A refused reset leaves "No ATR given", as on the direct way; only a failure of the
        // library itself counts (the next query reports it).
        m_worker.GetAtr(strUnit, strAtr);
        return true;
    }

private:
    CCtApiWorker& m_worker;
};

/// Manufacturer query and unit loop, the same on both ways. Returns false on an error.
class CUnitLoop
{
public:
    CUnitLoop(CQueryWay& way, uint16_t nVersion, std::atomic<bool>& bCancel, SDiagnosisResult& result,
              CDiagnosisObserver* pObserver)
        : m_way(way), m_nVersion(nVersion), m_bCancel(bCancel), m_result(result), m_pObserver(pObserver)
    {
    }

    bool QueryManufacturer()
    {
        if (m_bCancel)
            return true;
        if (!m_way.Manufacturer(m_result.manufacturer))
            return false;
        m_result.strTypeText = diagrun::TypeText(m_result.manufacturer, m_nVersion);
        if (m_pObserver != nullptr)
            m_pObserver->OnManufacturer(m_result.manufacturer, m_result.strTypeText);
        return true;
    }

    bool QueryUnits()
    {
        if (m_bCancel)
            return true;
        std::vector<uint8_t> vecList;
        if (!m_way.Units(vecList))
            return false;
        bool bError = false;
        for (size_t i = 0; i + 1 < vecList.size() && m_result.vecUnits.size() < 255; i += 2)
        {
            if (m_bCancel || bError)
                break;
            bError = !QueryUnit(vecList[i], vecList[i + 1]);
        }
        return !bError;
    }

private:
    /// All queries of one unit; the row is kept with what was found also after a failure.
    bool QueryUnit(uint8_t nType, uint8_t nNumber)
    {
        SDiagUnit unit;
        unit.nTypeByte = nType;
        unit.nNumberByte = nNumber;
        unit.strId = diagrun::UnitId(nType, nNumber);
        const bool bOk = RunQueries(unit);
        const size_t nRow = m_result.vecUnits.size();
        m_result.vecUnits.push_back(std::move(unit));
        if (m_pObserver != nullptr)
            m_pObserver->OnUnit(nRow, m_result.vecUnits.back());
        return bOk;
    }

    bool RunQueries(SDiagUnit& unit)
    {
        if (diagrun::HasNameQuery(m_nVersion))
        {
            unit.bNameQueried = true;
            if (!m_way.Name(unit.strId, unit.strName))
                return false;
        }
        else
        {
            unit.strName = diagrun::FallbackName(unit.nTypeByte, unit.nNumberByte);
        }
        if (diagrun::IsDisplay(unit.nTypeByte) && !m_bCancel)
        {
            DisplayInfo info;
            if (!m_way.Display(unit.strId, info))
                return false;
            unit.display = info;
        }
        if (diagrun::IsKeypad(unit.nTypeByte) && diagrun::QueriesKeypad(m_nVersion) && !m_bCancel)
        {
            if (!m_way.Keypad(unit.strId, unit.keypad))
                return false;
        }
        if (diagrun::IsCardSlot(unit.nTypeByte) && !m_bCancel)
        {
            // ICC status and card reset name the slot by its number byte.
            char szSlot[8];
            std::snprintf(szSlot, sizeof(szSlot), "%.2X", unit.nNumberByte);
            const std::string strSlot = szSlot;
            IccStatusInfo status;
            if (!m_way.IccStatus(strSlot, status))
                return false;
            unit.iccStatus = status;
            if (m_bCancel)
                return true;
            IccInterfaceInfo iface;
            if (!m_way.IccInterface(unit.strId, iface))
                return false;
            unit.iccInterface = iface;
            const bool bCardInserted = !status.vecEntries.empty() && (status.vecEntries[0].nRaw & 0x01) != 0;
            if (bCardInserted && !m_bCancel)
            {
                std::string strAtr;
                if (!m_way.Atr(strSlot, strAtr))
                    return false;
                unit.atr = strAtr;
            }
        }
        return true;
    }

    CQueryWay& m_way;
    uint16_t m_nVersion;
    std::atomic<bool>& m_bCancel;
    SDiagnosisResult& m_result;
    CDiagnosisObserver* m_pObserver;
};

void PostIcon(CWorkerSink& sink, ERunEnd eIcon)
{
    sink.Post(wm::WM_REPORT, wm::STATUS_ICON, static_cast<int64_t>(eIcon));
}
} // namespace

CDiagnosisRun::CDiagnosisRun(CWorkerSink& sink, const CSessionSettings* pSettings, os::CLibraryLoader& loader,
                             SSessionTiming timing)
    : m_sink(sink), m_pSettings(pSettings), m_loader(loader), m_timing(timing)
{
}

bool CDiagnosisRun::UsesCtApi(int nConnectionType)
{
    return nConnectionType == 0 || nConnectionType == 1 || nConnectionType == 4;
}

uint16_t CDiagnosisRun::TargetPort(const SDiagnosisParams& params)
{
    return params.nConnectionType == 3 ? params.record.Port() : params.nPort;
}

std::string CDiagnosisRun::TargetAddress(const TerminalIdRecord& record)
{
    const auto& ab = record.abData;
    const size_t o = TerminalIdRecord::kOffIp;
    char sz[32];
    std::snprintf(sz, sizeof(sz), "%i.%i.%i.%i", ab[o], ab[o + 1], ab[o + 2], ab[o + 3]);
    return sz;
}

bool CDiagnosisRun::CtApiLibraryUsable(const SDiagnosisParams& params)
{
    // Only the CT-API way needs the library; the direct way must not be blocked by a
    // library path that is neither shown nor used for its terminals.
    if (!UsesCtApi(params.nConnectionType))
        return true;
    FILE* pFile = params.strCtApiPath.empty() ? nullptr : std::fopen(params.strCtApiPath.c_str(), "rb");
    if (pFile == nullptr)
        return false;
    std::fclose(pFile);
    return true;
}

ERunEnd CDiagnosisRun::Run(const SDiagnosisParams& params, std::atomic<bool>& bCancel, SDiagnosisResult& result)
{
    result = SDiagnosisResult{};
    if (m_pObserver != nullptr)
        m_pObserver->OnCleared();
    m_sink.Post(wm::WM_OPERATION, 0);
    PostIcon(m_sink, ERunEnd::Green);

    const bool bOk = UsesCtApi(params.nConnectionType) ? RunCtApi(params, bCancel, result)
                                                       : RunDirect(params, bCancel, result);
    result.bError = !bOk;
    result.bAborted = bCancel.load();

    ERunEnd eEnd = ERunEnd::Green;
    if (result.bAborted)
    {
        m_sink.Report(1999);
        eEnd = result.bError ? ERunEnd::Red : ERunEnd::Yellow;
        PostIcon(m_sink, eEnd);
    }
    else if (result.bError)
    {
        eEnd = ERunEnd::Red;
        PostIcon(m_sink, eEnd);
    }
    m_sink.Post(wm::WM_BUSY, 0);
    m_sink.Post(wm::WM_OPERATION, 1);
    return eEnd;
}

bool CDiagnosisRun::RunDirect(const SDiagnosisParams& params, std::atomic<bool>& bCancel, SDiagnosisResult& result)
{
    const uint16_t nVersion = diagrun::EffectiveSicctVersion(params.record.Version());
    CSicctSession session(m_sink, m_pSettings, m_timing);
    session.SetSicctVersion(static_cast<uint8_t>(nVersion >> 8), static_cast<uint8_t>(nVersion & 0xFF));
    session.SetCredentials(params.strUser, params.strPassword);

    uint8_t nProtocol = params.record.Protocol();
    bool bOk = session.Connect(TargetAddress(params.record), TargetPort(params), nProtocol);
    bool bOpened = false;
    if (bOk && !bCancel)
    {
        bOpened = session.OpenCtSession(bCancel);
        bOk = bOpened;
    }
    if (bOpened)
    {
        CSessionWay way(session, bCancel);
        CUnitLoop loop(way, nVersion, bCancel, result, m_pObserver);
        bOk = loop.QueryManufacturer();
        if (bOk && !bCancel)
        {
            std::array<uint8_t, 6> abMac{};
            std::copy_n(params.record.abData.begin() + TerminalIdRecord::kOffMac, 6, abMac.begin());
            if (diagrun::ShowsNotice(abMac, result.manufacturer.strVersion))
                session.ShowDiagnosisText(bCancel);
        }
        if (bOk)
            bOk = loop.QueryUnits();
        session.CloseCtSession(bCancel);
    }
    session.Disconnect();
    return bOk;
}

bool CDiagnosisRun::RunCtApi(const SDiagnosisParams& params, std::atomic<bool>& bCancel, SDiagnosisResult& result)
{
    const uint16_t nVersion = diagrun::EffectiveSicctVersion(params.record.Version());
    CCtApiWorker worker(m_loader, m_sink);
    worker.SetSicctVersion(nVersion);
    if (!worker.LoadCtApi(params.strCtApiPath, 1))
        return false;
    if (bCancel)
        return true;
    if (!worker.OpenSession(params.nPort))
        return false;
    CCtApiWay way(worker);
    CUnitLoop loop(way, nVersion, bCancel, result, m_pObserver);
    bool bOk = loop.QueryManufacturer();
    if (bOk)
        bOk = loop.QueryUnits();
    if (bOk)
        worker.CloseSession();
    return bOk;
}
