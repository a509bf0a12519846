#include "HidDevice.h"

#include <algorithm>
#include <cstring>

#include "DeviceInfo.h"
#include "DeviceNotifier.h"
#include "MiddlewareCodes.h"
#include "MwTrace.h"
#include "OsCodes.h"
#include "SicctDevice.h"

namespace
{
using Clock = std::chrono::steady_clock;

// The listener's read waits this long at most, then looks at the running flag again.
constexpr int kListenerReadMs = 100;
constexpr int kMaxMessageLength = 0xFFFF;

// Service discovery over HID: the request body (tag 80 version 1.20, tag 81 address, tag
// 82 port, as the device firmware expects them), first alone, then in its A0 wrapper.
constexpr uint8_t kDiscoveryBody[] = {0x80, 0x02, 0x01, 0x14, 0x81, 0x04, 0x01,
                                      0x00, 0x00, 0x7F, 0x82, 0x02, 0x12, 0x86};
constexpr uint8_t kDiscoveryWrapped[] = {0xA0, 0x0E, 0x80, 0x02, 0x01, 0x14, 0x81, 0x04,
                                         0x01, 0x00, 0x00, 0x7F, 0x82, 0x02, 0x12, 0x86};

int RemainingMs(Clock::time_point tpDeadline)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tpDeadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}

bool UsesReportIdByte(const HidCaps& caps)
{
    return caps.nValueCapsReportId == 0;
}

/// Room for payload in one report of nReportLength bytes.
int PayloadCapacity(int nReportLength, bool bReportIdByte)
{
    return nReportLength - CHidDevice::kReportHeaderSize - (bReportIdByte ? 1 : 0);
}

void PutLe16(uint8_t* p, uint16_t nValue)
{
    p[0] = static_cast<uint8_t>(nValue);
    p[1] = static_cast<uint8_t>(nValue >> 8);
}
} // namespace

CHidDevice::CHidDevice(os::CHidSystem* pHidSystem)
    : CHidAccess(pHidSystem)
{
}

CHidDevice::~CHidDevice()
{
    DisConnect();
    if (m_bNotifierHeld)
        CDeviceNotifier::Release();
}

// --- framing --------------------------------------------------------------------------------

bool CHidDevice::IsUsable(const os::HidRawInfo& info, const HidCaps& caps, uint16_t nHidMode)
{
    return info.nVendorId == kVendorId && info.nProductId >= kProductIdFirst && info.nProductId <= kProductIdLast &&
           caps.nUsagePage == nHidMode;
}

std::vector<std::vector<uint8_t>> CHidDevice::BuildReports(const uint8_t* pData, int nLength, uint8_t nUnit,
                                                           uint8_t nType, int nReportLength, bool bReportIdByte)
{
    std::vector<std::vector<uint8_t>> vecReports;
    const int nCapacity = PayloadCapacity(nReportLength, bReportIdByte);
    if (nCapacity < 1 || nLength < 0 || nLength > kMaxMessageLength || (nLength > 0 && pData == nullptr))
        return vecReports;
    const int nBase = bReportIdByte ? 1 : 0;
    int nSent = 0;
    do
    {
        std::vector<uint8_t> vecReport(static_cast<size_t>(nReportLength), 0);
        uint8_t* p = vecReport.data() + nBase;
        p[0] = nUnit;
        p[1] = nType;
        PutLe16(p + 2, static_cast<uint16_t>(nSent));
        PutLe16(p + 4, static_cast<uint16_t>(nLength - nSent));
        const int nPart = std::min(nCapacity, nLength - nSent);
        if (nPart > 0)
            std::memcpy(p + kReportHeaderSize, pData + nSent, static_cast<size_t>(nPart));
        nSent += nPart;
        vecReports.push_back(std::move(vecReport));
    } while (nSent < nLength);
    return vecReports;
}

bool CHidDevice::ParseHeader(const uint8_t* pReport, int nLength, bool bReportIdByte, ReportHeader& header)
{
    const int nBase = bReportIdByte ? 1 : 0;
    if (pReport == nullptr || nLength < nBase + kReportHeaderSize)
        return false;
    const uint8_t* p = pReport + nBase;
    header.nUnit = p[0];
    header.nType = p[1];
    header.nOffset = static_cast<uint16_t>(p[2] | (p[3] << 8));
    header.nLength = static_cast<uint16_t>(p[4] | (p[5] << 8));
    return true;
}

int CHidDevice::ReadReport(os::CHidPort& port, const HidCaps& caps, std::vector<uint8_t>& vecReport, int nTimeoutMs,
                           int nStopFd)
{
    const int nLength = caps.nInputReportByteLength;
    if (nLength < 2)
        return os::OS_ERR_GENERAL;
    vecReport.assign(static_cast<size_t>(nLength), 0);
    int nRead = 0;
    if (caps.vecReportIds.empty())
    {
        // The kernel hands out reports of unnumbered devices without the report ID byte;
        // put the 0x00 back so that both kinds of devices share one layout.
        nRead = port.Read(vecReport.data() + 1, nLength - 1, nTimeoutMs, nStopFd);
        if (nRead > 0)
            ++nRead;
    }
    else
    {
        nRead = port.Read(vecReport.data(), nLength, nTimeoutMs, nStopFd);
    }
    if (nRead > 0)
        vecReport.resize(static_cast<size_t>(nRead));
    return nRead;
}

bool CHidDevice::SendMessage(os::CHidPort& port, const HidCaps& caps, const uint8_t* pData, int nLength,
                             uint8_t nUnit, uint8_t nType, int nTimeoutMs, bool bLogParts)
{
    const std::vector<std::vector<uint8_t>> vecReports =
        BuildReports(pData, nLength, nUnit, nType, caps.nOutputReportByteLength, UsesReportIdByte(caps));
    if (vecReports.empty())
        return false;
    for (const std::vector<uint8_t>& vecReport : vecReports)
    {
        if (bLogParts)
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> Write to hid", static_cast<int>(vecReport.size()));
        const int nWritten = port.Write(vecReport.data(), static_cast<int>(vecReport.size()), nTimeoutMs);
        if (nWritten != static_cast<int>(vecReport.size()))
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "=> Write to hid failed", nWritten);
            return false;
        }
    }
    return true;
}

// --- search ---------------------------------------------------------------------------------

std::unique_ptr<CHidDevice::Candidate> CHidDevice::ValidateDevice(const std::string& strPath)
{
    auto pCandidate = std::make_unique<Candidate>();
    pCandidate->pPort = HidCreatePort();
    if (!pCandidate->pPort)
        return nullptr;
    if (pCandidate->pPort->Open(strPath) != os::OS_OK)
    {
        MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_ERROR, 0, "ValidateDevice open device %s failed, Error =0x%x",
                  strPath.c_str(), static_cast<unsigned>(pCandidate->pPort->LastErrorCode()));
        return nullptr;
    }
    if (!HidGetAttributes(*pCandidate->pPort, pCandidate->info) || !HidGetCaps(*pCandidate->pPort, pCandidate->caps) ||
        !IsUsable(pCandidate->info, pCandidate->caps, m_nHidMode))
    {
        pCandidate->pPort->Close();
        return nullptr;
    }
    return pCandidate;
}

bool CHidDevice::ServiceDiscovery(Candidate& candidate, const uint8_t* pRequest, int nLength, CDeviceInfo& record)
{
    const HidCaps& caps = candidate.caps;
    const bool bIdByte = UsesReportIdByte(caps);
    const int nCapacity = PayloadCapacity(caps.nInputReportByteLength, bIdByte);
    if (nCapacity < 1 || !SendMessage(*candidate.pPort, caps, pRequest, nLength, ControlUnit(), HID_MSG_DISCOVERY,
                                      m_timeouts.nReportWriteMs, false))
        return false;

    const Clock::time_point tpDeadline = Clock::now() + std::chrono::milliseconds(m_timeouts.nDiscoveryMs);
    std::vector<uint8_t> vecAnswer;
    size_t nReceived = 0;
    bool bOpen = false;
    std::vector<uint8_t> vecReport;
    for (int nLeft = RemainingMs(tpDeadline); nLeft > 0; nLeft = RemainingMs(tpDeadline))
    {
        const int nRead = ReadReport(*candidate.pPort, caps, vecReport, nLeft, -1);
        if (nRead == os::OS_ERR_TIMEOUT || nRead < 0)
            break;
        ReportHeader header;
        if (nRead != caps.nInputReportByteLength || !ParseHeader(vecReport.data(), nRead, bIdByte, header) ||
            header.nType != HID_MSG_DISCOVERY)
            continue;
        if (header.nOffset == 0 && header.nLength != 0)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "new response", header.nLength);
            vecAnswer.assign(header.nLength, 0);
            nReceived = 0;
            bOpen = true;
        }
        if (!bOpen)
            continue;
        const size_t nPart = std::min<size_t>(header.nLength, static_cast<size_t>(nCapacity));
        // A part must continue the announced answer exactly; anything else is dropped.
        if (header.nOffset != nReceived || static_cast<size_t>(header.nOffset) + header.nLength != vecAnswer.size())
        {
            bOpen = false;
            continue;
        }
        std::memcpy(vecAnswer.data() + header.nOffset, vecReport.data() + (bIdByte ? 1 : 0) + kReportHeaderSize,
                    nPart);
        nReceived += nPart;
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "add to open response", static_cast<int>(nPart));
        if (header.nLength <= nCapacity)
        {
            CSicctDevice::InterpreteServiceDiscovery(record, vecAnswer.data(), static_cast<int>(vecAnswer.size()));
            return true;
        }
    }
    return false;
}

void CHidDevice::GetDevices(std::vector<CDeviceInfo*>& vecDevices)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(GetDevices) entering", 0);
    std::vector<os::HidDeviceEntry> vecEntries;
    if (!HidEnumerate(vecEntries))
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(GetDevices) leaving", 0);
        return;
    }
    for (const os::HidDeviceEntry& entry : vecEntries)
    {
        // The system names the IDs of most nodes already: other makers' devices (the
        // user's own keyboard and mouse, often not even accessible) are not opened.
        if (entry.nVendorId != 0 && (entry.nVendorId != kVendorId || entry.nProductId < kProductIdFirst ||
                                     entry.nProductId > kProductIdLast))
            continue;
        std::unique_ptr<Candidate> pCandidate = ValidateDevice(entry.strDevicePath);
        if (!pCandidate)
            continue;
        auto pRecord = std::make_unique<CDeviceInfo>();
        pRecord->SetConnectionType(mw::CONN_HID_UNSECURE);
        pRecord->SetCtApiDllName("ctvnt.dll");
        bool bAnswered = true;
        if (GetOwner() != nullptr)
        {
            bAnswered = ServiceDiscovery(*pCandidate, kDiscoveryBody, sizeof kDiscoveryBody, *pRecord) ||
                        ServiceDiscovery(*pCandidate, kDiscoveryWrapped, sizeof kDiscoveryWrapped, *pRecord);
        }
        if (bAnswered)
        {
            pRecord->SetLogicalName(entry.strDevicePath);
            MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "Found Device: %s", entry.strDevicePath.c_str());
            vecDevices.push_back(pRecord.release());
        }
        pCandidate->pPort->Close();
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(GetDevices) leaving", 0);
}

// --- connection -----------------------------------------------------------------------------

int CHidDevice::Connect(std::string strDevicePath)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(Connect) entering", 0);
    // A removed device's node is dead: start over with a fresh one (it may be back).
    if (m_bRemoved.load())
        DisConnect();
    if (!IsOpen())
    {
        m_bRemoved.store(false);
        std::unique_ptr<os::CHidPort> pPort = HidCreatePort();
        if (!pPort || pPort->Open(strDevicePath) != os::OS_OK)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Could not Open Driver", pPort ? pPort->LastErrorCode() : 0);
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "-> open HID-driver failed", 0);
            return mw::MW_ERR_GENERAL;
        }
        HidCaps caps;
        os::HidRawInfo info;
        // Without valid report lengths no report could be framed.
        if (!HidGetAttributes(*pPort, info) || !HidGetCaps(*pPort, caps) ||
            PayloadCapacity(caps.nInputReportByteLength, UsesReportIdByte(caps)) < 1 ||
            PayloadCapacity(caps.nOutputReportByteLength, UsesReportIdByte(caps)) < 1)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "-> open HID-driver failed", 0);
            return mw::MW_ERR_GENERAL;
        }
        m_pPort = std::move(pPort);
        m_info = info;
        m_caps = caps;
        m_bReportIdByte = UsesReportIdByte(caps);
        m_strDevicePath = strDevicePath;
    }
    MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "found device %s", m_strDevicePath.c_str());
    if (!HidSetNumInputBuffers(*m_pPort, kInputBuffers))
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "SetNumInputbuffer failed", 0);

    m_bAssembling = false;
    {
        std::lock_guard<std::mutex> lock(m_mtxResponse);
        FreeResponseLocked();
        m_bResponseEvent = false;
    }
    CBaseDevice::Connect(m_strDevicePath);

    if (!m_bUseHandshake.load())
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "send disable HID handshake", 0);
        SendMessage(*m_pPort, m_caps, nullptr, 0, ControlUnit(), HID_MSG_NO_HANDSHAKE, m_timeouts.nReportWriteMs,
                    false);
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "send CONNECT", 0);
    SendMessage(*m_pPort, m_caps, nullptr, 0, ControlUnit(), HID_MSG_CONNECT, m_timeouts.nReportWriteMs, false);

    bool bConnected = false;
    {
        std::unique_lock<std::mutex> lock(m_mtxResponse);
        const Clock::time_point tpDeadline = Clock::now() + std::chrono::milliseconds(m_timeouts.nConnectAnswerMs);
        while (WaitResponseLocked(lock, tpDeadline))
        {
            if (m_bHasResponse && m_vecResponse.size() >= 2 && m_vecResponse[1] == HID_MSG_CONNECT)
                bConnected = true;
            const bool bLost = !m_bHasResponse;
            FreeResponseLocked();
            // Anything else that arrives meanwhile is not the answer; keep waiting for it.
            if (bConnected || bLost)
                break;
        }
    }

    if (!bConnected)
    {
        SendMessage(*m_pPort, m_caps, nullptr, 0, ControlUnit(), HID_MSG_CONNECT_FAILED, m_timeouts.nReportWriteMs,
                    false);
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "-> connect failed", 0);
        // Nothing stays open behind a failed Connect.
        KillListener();
        ClosePort();
        return mw::MW_ERR_GENERAL;
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "-> connect succeeded", 0);

    if (!m_bNotifierHeld)
    {
        m_bNotifierHeld = true;
        if (CDeviceNotifier::Acquire(GetHidSystem()) == 1 && CDeviceNotifier::WaitReady(m_timeouts.nNotifierReadyMs))
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "-> window created", 0);
    }
    if (m_hNotify == 0)
    {
        m_hNotify = CDeviceNotifier::Register(m_strDevicePath, this);
        if (m_hNotify == 0)
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "register devicehandle failed", 0);
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(Connect) leaving", 0);
    return mw::MW_OK;
}

int CHidDevice::DisConnect()
{
    KillListener();
    if (m_hNotify != 0)
    {
        CDeviceNotifier::Unregister(m_hNotify);
        m_hNotify = 0;
    }
    ClosePort();
    m_bAssembling = false;
    m_vecAssembly.clear();
    std::lock_guard<std::mutex> lock(m_mtxResponse);
    FreeResponseLocked();
    m_bResponseEvent = false;
    return mw::MW_OK;
}

void CHidDevice::ClosePort()
{
    if (m_pPort)
        m_pPort->Close();
    m_pPort.reset();
}

int CHidDevice::Write(const uint8_t* pRequest, int nLength, uint8_t* pResponse, int& nResponseLength, int nTimeoutMs,
                      int /*nFlag*/)
{
    if (!IsOpen() || m_bRemoved.load())
        return mw::MW_ERR_COMM;
    if (pRequest == nullptr || pResponse == nullptr || nLength <= 0 || nLength > kMaxMessageLength ||
        m_caps.nOutputReportByteLength < kReportHeaderSize ||
        PayloadCapacity(m_caps.nOutputReportByteLength, m_bReportIdByte) < 1)
        return mw::MW_ERR_GENERAL;
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Write Command", nLength);

    {
        // A late answer to an earlier command must not pass for the answer to this one:
        // this transport has no sequence check.
        std::lock_guard<std::mutex> lock(m_mtxResponse);
        FreeResponseLocked();
        m_bResponseEvent = false;
    }
    if (!SendMessage(*m_pPort, m_caps, pRequest, nLength, 1, HID_MSG_ENVELOPE, m_timeouts.nReportWriteMs, true))
        return mw::MW_ERR_COMM;
    if (nTimeoutMs <= 0)
        return mw::MW_ERR_GENERAL;  // sent, no answer awaited

    std::unique_lock<std::mutex> lock(m_mtxResponse);
    if (!WaitResponseLocked(lock, Clock::now() + std::chrono::milliseconds(nTimeoutMs)))
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->timeout on wait for response", nTimeoutMs);
        return mw::MW_ERR_COMM;
    }
    if (!m_bHasResponse)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->connection closed", 0);
        return mw::MW_ERR_COMM;
    }
    int nResult = mw::MW_OK;
    const int nReceived = static_cast<int>(m_vecResponse.size());
    if (nResponseLength >= nReceived)
    {
        std::memcpy(pResponse, m_vecResponse.data(), m_vecResponse.size());
        nResponseLength = nReceived;
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->response for Command received", nReceived);
    }
    else
    {
        MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_ERROR, 0, "Response Buffer too small, %d bytes rec, buffersize = %d",
                  nReceived, nResponseLength);
        nResult = mw::MW_ERR_BUFFER;
    }
    FreeResponseLocked();
    return nResult;
}

// --- listener -------------------------------------------------------------------------------

int CHidDevice::ListenerThread()
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(ListenerThread) entering", 0);
    std::vector<uint8_t> vecReport;
    while (IsRunning())
    {
        const int nRead = ReadReport(*m_pPort, m_caps, vecReport, kListenerReadMs, StopEventFd());
        if (nRead == os::OS_ERR_STOPPED)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> CancelRead executed", 0);
            break;
        }
        if (nRead == os::OS_ERR_TIMEOUT)
            continue;
        if (nRead < 0)
        {
            // The device is gone or broken: end, and wake a writer so that it need not
            // wait for its time-out.
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> read failed, device lost", nRead);
            ClearRunning();
            SignalLost();
            break;
        }
        if (nRead == m_caps.nInputReportByteLength)
            HandleReport(vecReport);
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "ListenerThread stopped", 0);
    return 0;
}

void CHidDevice::HandleReport(const std::vector<uint8_t>& vecReport)
{
    ReportHeader header;
    const int nLength = static_cast<int>(vecReport.size());
    if (!ParseHeader(vecReport.data(), nLength, m_bReportIdByte, header))
        return;
    MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "Inputreport received ID = 0x%x, MsgType = 0x%x, Address 0x%x, Length %d",
              header.nUnit, header.nType, header.nOffset, header.nLength);
    const int nBase = m_bReportIdByte ? 1 : 0;
    const uint8_t* pPayload = vecReport.data() + nBase + kReportHeaderSize;
    const int nCapacity = PayloadCapacity(nLength, m_bReportIdByte);

    switch (header.nType)
    {
    case HID_MSG_ENVELOPE:
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "new USB response", 0);
        const int nPart = std::min<int>(header.nLength, nCapacity);
        if (header.nOffset == 0 && header.nLength != 0)
        {
            bool bDeliver = false;
            const int nType =
                GetOwner() != nullptr ? GetOwner()->CheckResponse(pPayload, nPart, &bDeliver) : mw::MSG_NONE;
            if (nType == mw::MSG_EVENT && !bDeliver)
            {
                // Consumed here; its further parts (if any) must not land in another message.
                m_bAssembling = false;
                m_vecAssembly.clear();
                return;
            }
            m_vecAssembly.assign(header.nLength, 0);
            m_nAssembled = 0;
            m_bAssembling = true;
        }
        if (!m_bAssembling)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> no buffer allocated", 0);
            return;
        }
        // The part must continue the open message exactly: at the bytes received so far,
        // with offset + remaining = total. A part from another message, a lost part or one
        // beyond the buffer ends the assembly instead of leaving a hole.
        if (header.nOffset != m_nAssembled ||
            static_cast<size_t>(header.nOffset) + header.nLength != m_vecAssembly.size())
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> part does not fit the open message", header.nOffset);
            m_bAssembling = false;
            m_vecAssembly.clear();
            return;
        }
        std::memcpy(m_vecAssembly.data() + header.nOffset, pPayload, static_cast<size_t>(nPart));
        m_nAssembled += static_cast<size_t>(nPart);
        if (header.nLength > nCapacity)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> wait for next part", 0);
            return;
        }
        m_bAssembling = false;
        int nType = mw::MSG_NONE;
        if (GetOwner() != nullptr)
            nType = GetOwner()->CheckResponse(m_vecAssembly.data(), static_cast<int>(m_vecAssembly.size()), nullptr);
        else if (m_vecAssembly.size() > static_cast<size_t>(mw::kEnvelopeHeaderSize))
            nType = m_vecAssembly[0];  // no protocol object: hand over by message type alone
        if (nType == mw::MSG_EVENT)
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> new event response", 0);
        else if (nType == mw::MSG_RESPONSE)
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> new command response", 0);
        if (nType == mw::MSG_EVENT || nType == mw::MSG_RESPONSE)
        {
            std::lock_guard<std::mutex> lock(m_mtxResponse);
            m_vecResponse = std::move(m_vecAssembly);
            m_bHasResponse = true;
            SignalResponseLocked();
        }
        m_vecAssembly.clear();
        break;
    }
    case HID_MSG_DISCOVERY:
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "new response SERVICE DISCOVERY", 0);
        break;
    case HID_MSG_NO_HANDSHAKE:
        m_bUseHandshake.store(false);
        break;
    case HID_MSG_CONNECT:
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "new response CONNECT", 0);
        std::lock_guard<std::mutex> lock(m_mtxResponse);
        m_vecResponse.assign(vecReport.begin() + nBase, vecReport.begin() + nBase + kReportHeaderSize);
        m_bHasResponse = true;
        SignalResponseLocked();
        break;
    }
    default:
        break;
    }
}

void CHidDevice::SignalLost()
{
    std::lock_guard<std::mutex> lock(m_mtxResponse);
    FreeResponseLocked();
    SignalResponseLocked();
}

void CHidDevice::OnDeviceRemoved()
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "=> device removed", 0);
    m_bRemoved.store(true);
    ClearRunning();  // the listener ends at its next look at the flag
    SignalLost();
}

// --- factory --------------------------------------------------------------------------------

std::unique_ptr<CHidDevice> CHidDevice::MakeTransport(os::CHidSystem* pHidSystem, const CDeviceInfo* pWanted,
                                                      const Timeouts& timeouts)
{
    auto pDevice = std::make_unique<CHidDevice>(pHidSystem);
    pDevice->SetTimeouts(timeouts);
    if (pWanted != nullptr)
    {
        pDevice->SetHidMode(pWanted->GetConnectionType() == mw::CONN_HID_SECURE ? kHidModeSecure : kHidModeDefault);
        pDevice->SetUseHandshake(pWanted->GetUseHIDHandshake() != 0);
    }
    return pDevice;
}

void CHidDevice::InstallTransportFactory(os::CHidSystem* pHidSystem, const Timeouts& timeouts)
{
    CSicctDevice::SetHidTransportFactory(
        [pHidSystem, timeouts](const CDeviceInfo* pWanted) -> std::unique_ptr<CBaseDevice> {
            return MakeTransport(pHidSystem, pWanted, timeouts);
        });
}
