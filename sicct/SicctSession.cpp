#include "SicctSession.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "ResponseDecoder.h"
#include "SecureWipe.h"
#include "SessionSettings.h"
#include "SicctWire.h"
#include "SocketConn.h"
#include "Trace.h"
#include "WorkerSink.h"

namespace
{
constexpr const char* kTrace = "SICCT";
constexpr size_t kReadChunk = 16384;
// Consecutive read errors after which a connection counts as broken even though the
// error itself does not say so; keeps a persistent error from spinning the thread.
constexpr int kMaxConsecutiveReadErrors = 10;

struct SFileClose
{
    void operator()(FILE* p) const { std::fclose(p); }
};

/// Marks a stretch in which the worker reads the socket itself; restores the previous state
/// so that a transfer can hold the mark across all its packets.
struct SReadingGuard
{
    std::atomic<bool>& bFlag;
    bool bBefore;
    explicit SReadingGuard(std::atomic<bool>& b) : bFlag(b), bBefore(b.exchange(true)) {}
    ~SReadingGuard() { bFlag = bBefore; }
    SReadingGuard(const SReadingGuard&) = delete;
    SReadingGuard& operator=(const SReadingGuard&) = delete;
};

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int SelectorOf(int nQuery)
{
    switch (nQuery)
    {
    case sicct::CMD_UNIT_NAME: return CResponseDecoder::SEL_UNIT_NAME;
    case sicct::CMD_DISPLAY: return CResponseDecoder::SEL_DISPLAY;
    case sicct::CMD_KEYPAD: return CResponseDecoder::SEL_KEYPAD;
    case sicct::CMD_ICC_STATUS: return CResponseDecoder::SEL_ICC_STATUS;
    case sicct::CMD_ICC_INTERFACE: return CResponseDecoder::SEL_ICC_INTERFACE;
    default: return -1;
    }
}

void ClearPartOf(int nQuery, SUnitStatus& unit)
{
    switch (nQuery)
    {
    case sicct::CMD_UNIT_NAME: unit.strName.clear(); break;
    case sicct::CMD_DISPLAY: unit.display.reset(); break;
    case sicct::CMD_KEYPAD: unit.keypad.reset(); break;
    case sicct::CMD_ICC_STATUS: unit.iccStatus.reset(); break;
    case sicct::CMD_ICC_INTERFACE: unit.iccInterface.reset(); break;
    default: break;
    }
}
} // namespace

CSicctSession::CSicctSession(CWorkerSink& sink, const CSessionSettings* pSettings, SSessionTiming timing)
    : m_sink(sink), m_pSettings(pSettings), m_timing(timing)
{
}

CSicctSession::~CSicctSession()
{
    StopReceiveThread();
    os::SecureWipe(m_strPassword);
    os::SecureWipe(m_vecTx);
}

void CSicctSession::SetCredentials(const std::string& strUser, const std::string& strPassword)
{
    m_strUser = strUser;
    os::SecureWipe(m_strPassword);
    m_strPassword = strPassword;
}

void CSicctSession::SetSicctVersion(uint8_t nMajor, uint8_t nMinor)
{
    m_nSicctMajor = nMajor;
    m_nSicctMinor = nMinor;
}

void CSicctSession::Report(int nTextId, int64_t nLParam)
{
    m_sink.Report(nTextId, nLParam);
}

void CSicctSession::PostLogRecord(const std::string& strText)
{
    WorkerLogRecord record;
    record.strText = strText.substr(0, 255);
    m_sink.Post(wm::WM_REPORT, wm::TEXT_LOG_RECORD, WorkerPayload{std::move(record)});
}

// --- connection ---------------------------------------------------------------------------

bool CSicctSession::Connect(const std::string& strAddress, uint16_t nPort, uint8_t& nProtocol)
{
    TC_TRACE(kTrace, trace::LEVEL_ENTER, "(Connect) entering", 0);
    // A connection left over from an earlier run is dropped first.
    if (m_pConn)
    {
        StopReceiveThread();
        m_pConn.reset();
    }

    m_sink.Post(wm::WM_BUSY, 1);
    m_sink.Post(wm::WM_OPERATION, 0);
    m_pConn = std::make_unique<CSocketConn>();
    if (!m_pConn->Create())
    {
        Report(4010);
        m_sink.Post(wm::WM_OPERATION, 1);
        return false;
    }
    if (nPort == 0)
        nPort = DEFAULT_PORT;

    const uint32_t nSetting = m_pSettings != nullptr ? m_pSettings->ProtocolId() : 0;
    if (nSetting != 0)
        nProtocol = static_cast<uint8_t>(nSetting);
    const int nEffective = nProtocol;

    if (!m_pConn->ConnectTcp(strAddress, nPort, m_timing.nConnectTimeoutMs))
    {
        Report(4001);
        m_pConn->Close();
        m_sink.Post(wm::WM_REPORT, wm::STATUS_ICON, wm::ICON_RED);
        m_sink.Post(wm::WM_OPERATION, 1);
        return false;
    }

    if (nEffective != 0)
        Report(2009, -1);
    if (nEffective != 0x10 && nEffective != 0x11 && nEffective != 0x20 && nEffective != 0x30)
    {
        Report(4002);
        m_pConn->Close();
        m_sink.Post(wm::WM_OPERATION, 1);
        return false;
    }

    switch (m_pConn->StartTls(nEffective, m_timing.nHandshakeTimeoutMs))
    {
    case CSocketConn::TLS_OK: Report(2010); break;
    case CSocketConn::TLS_NO_CONTEXT: Report(123); break;
    case CSocketConn::TLS_BIND_FAILED: return false;
    case CSocketConn::TLS_SHUTDOWN: Report(4003); return false;
    case CSocketConn::TLS_FAILED: Report(4011); return false;
    }

    {
        std::lock_guard lock(m_mutexRx);
        m_bRxReady = false;
        m_bRxThreadEnded = false;
        m_bStreamEnded = false;
        m_bSignalled = false;
        m_nReadErrors = 0;
        m_nLastDataMs = NowMs();
        m_vecRxBody.clear();
        m_vecAssembly.clear();
        m_vecChunk.resize(kReadChunk);
    }
    m_bRunning = true;
    try
    {
        m_threadReceive = std::thread(&CSicctSession::ReceiveLoop, this);
    }
    catch (const std::exception&)
    {
        // Without a receive thread every wait fails at once.
        m_bRunning = false;
        std::lock_guard lock(m_mutexRx);
        m_bRxThreadEnded = true;
        TC_TRACE(kTrace, trace::LEVEL_ERROR, "receive thread not started", 0);
    }
    TC_TRACE(kTrace, trace::LEVEL_LEAVE, "(Connect) leaving", 1);
    return true;
}

void CSicctSession::StopReceiveThread()
{
    m_bRunning = false;
    if (m_pConn)
        m_pConn->Wake();
    // The thread never blocks: it polls with a bounded period and the wake-up ends its
    // poll at once, so joining is bounded.
    if (m_threadReceive.joinable())
        m_threadReceive.join();
    std::lock_guard lock(m_mutexRx);
    m_bRxThreadEnded = true;
}

bool CSicctSession::Disconnect()
{
    StopReceiveThread();
    if (m_pConn)
    {
        if (m_pConn->HasTls())
        {
            m_pConn->ShutdownTls();
            Report(2012);
        }
        else
        {
            Report(124);
        }
        m_pConn->Close();
        m_pConn.reset();
    }
    return true;
}

// --- receive thread and reading ---------------------------------------------------------

CSicctSession::EPump CSicctSession::Pump(bool bWorker)
{
    int nReport = 0;
    int64_t nReportParam = 0;
    EPump eResult = PUMP_DATA;
    {
        std::lock_guard lock(m_mutexRx);
        if (m_bStreamEnded)
            return PUMP_END;
        const int n = m_pConn->Read(m_vecChunk.data(), m_vecChunk.size());
        if (n == CSocketConn::READ_AGAIN)
            return PUMP_AGAIN;
        if (n == CSocketConn::READ_CLOSED)
        {
            m_bStreamEnded = true;
            nReport = 4012;
            eResult = PUMP_END;
        }
        else if (n == CSocketConn::READ_ERROR)
        {
            const int nCode = m_pConn->LastError();
            nReport = static_cast<int>(wm::TEXT_WSA_ERROR);
            nReportParam = nCode;
            eResult = PUMP_ERROR;
            if (nCode == CSocketConn::ERR_NOT_SOCKET || nCode == CSocketConn::ERR_CONN_ABORTED ||
                nCode == CSocketConn::ERR_CONN_RESET || ++m_nReadErrors > kMaxConsecutiveReadErrors)
            {
                m_bStreamEnded = true;
                eResult = PUMP_END;
            }
        }
        else
        {
            m_nReadErrors = 0;
            m_nLastDataMs = NowMs();
            m_vecAssembly.insert(m_vecAssembly.end(), m_vecChunk.begin(), m_vecChunk.begin() + n);
            // Every complete message is taken out; bytes of the next one stay.
            size_t nOffset = 0;
            while (m_vecAssembly.size() - nOffset >= sicct::HEADER_SIZE)
            {
                sicct::SEnvelopeHeader header;
                sicct::ParseEnvelopeHeader(m_vecAssembly.data() + nOffset, m_vecAssembly.size() - nOffset, header);
                if (header.nBodyLength > sicct::MAX_BODY_LENGTH)
                {
                    // No SICCT message is this long: the stream cannot be trusted any more.
                    TC_TRACE(kTrace, trace::LEVEL_ERROR, "message too long", header.nBodyLength);
                    m_bStreamEnded = true;
                    nReport = TEXT_ANSWER_TOO_LONG;
                    eResult = PUMP_END;
                    break;
                }
                const size_t nTotal = sicct::HEADER_SIZE + header.nBodyLength;
                if (m_vecAssembly.size() - nOffset < nTotal)
                    break;
                const uint8_t* pBody = m_vecAssembly.data() + nOffset + sicct::HEADER_SIZE;
                if (header.nType == sicct::R_COMMAND)
                {
                    m_vecRxBody.assign(pBody, pBody + header.nBodyLength);
                    m_bRxReady = true;
                    SignalWorker(bWorker);
                }
                else if (header.nType == sicct::EVENT && header.nBodyLength >= 1 && pBody[0] == sicct::EVENT_SIGN_OFF)
                {
                    // The terminal signs off: the waiting command gets an empty answer.
                    TC_TRACE(kTrace, trace::LEVEL_INFO, "TerminalSignOFF Event", 0);
                    m_vecRxBody.clear();
                    m_bRxReady = true;
                    SignalWorker(bWorker);
                }
                else
                {
                    TC_TRACE(kTrace, trace::LEVEL_INFO, "message dropped", header.nType);
                }
                nOffset += nTotal;
            }
            m_vecAssembly.erase(m_vecAssembly.begin(), m_vecAssembly.begin() + static_cast<std::ptrdiff_t>(nOffset));
        }
    }
    if (nReport != 0)
        Report(nReport, nReportParam);
    return eResult;
}

void CSicctSession::ReceiveLoop()
{
    try
    {
        const int64_t nIdleLimitMs = static_cast<int64_t>(m_timing.nIdleLimitPolls) * m_timing.nPollMs;
        while (m_bRunning)
        {
            if (m_bWorkerReading)
            {
                // A waiting worker reads the socket itself; staying out of its way saves a
                // wake-up per answer. Only the stop and the idle limit matter meanwhile.
                if (m_pConn->WaitWake(m_timing.nPollMs) || !m_bRunning)
                    break;
            }
            else
            {
                const auto eWait = m_pConn->WaitReadable(m_timing.nPollMs);
                if (!m_bRunning || eWait == CSocketConn::WAIT_WOKEN)
                    break;
                if (eWait != CSocketConn::WAIT_TIMEOUT)
                {
                    if (Pump(false) == PUMP_END)
                        break;
                    continue;
                }
            }
            if (NowMs() - m_nLastDataMs > nIdleLimitMs)
            {
                // Ended before it is reported: a command started on the report fails at once.
                m_bRunning = false;
                {
                    std::lock_guard lock(m_mutexRx);
                    m_bRxThreadEnded = true;
                    SignalWorker(false);
                }
                Report(146);
                break;
            }
        }
    }
    catch (const std::exception& e)
    {
        TC_TRACE(kTrace, trace::LEVEL_ERROR, e.what(), 0);
    }
    m_bRunning = false;
    std::lock_guard lock(m_mutexRx);
    m_bRxThreadEnded = true;
    SignalWorker(false);
}

void CSicctSession::SignalWorker(bool bWorker)
{
    // A worker that read the answer itself needs no wake-up; the receive thread sets the
    // signal once until the worker takes the answer.
    if (!bWorker && !m_bSignalled)
    {
        m_pConn->Signal();
        m_bSignalled = true;
    }
}

void CSicctSession::ClearWorkerSignal()
{
    if (m_bSignalled)
    {
        m_pConn->ClearSignal();
        m_bSignalled = false;
    }
}

// --- command exchange ---------------------------------------------------------------------

size_t CSicctSession::Transmit(const std::vector<uint8_t>& vecApdu)
{
    const uint16_t nSequence = m_nSequence++;
    if (!m_pConn)
        return 0;
    // Header and APDU in one write, so that they travel in one TLS record; the buffer is
    // kept between commands.
    const size_t n = vecApdu.size();
    m_vecTx.assign({sicct::C_COMMAND, 0x00, 0x00, static_cast<uint8_t>(nSequence >> 8),
                    static_cast<uint8_t>(nSequence), 0x00, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                    static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    m_vecTx.insert(m_vecTx.end(), vecApdu.begin(), vecApdu.end());
    {
        // A late answer to an earlier command must not be taken for this one's.
        std::lock_guard lock(m_mutexRx);
        m_bRxReady = false;
        m_vecRxBody.clear();
        ClearWorkerSignal();
    }
    const size_t nWritten = m_pConn->Write(m_vecTx.data(), m_vecTx.size(), m_timing.nSendTimeoutMs);
    if (nWritten < 1)
    {
        m_bError = true;
        TC_TRACE(kTrace, trace::LEVEL_ERROR, "send failed", m_pConn->LastError());
    }
    return nWritten;
}

bool CSicctSession::WaitForResponse(std::vector<uint8_t>& vecBody, std::atomic<bool>& bCancel)
{
    vecBody.clear();
    if (!m_pConn)
        return false;
    SReadingGuard guard(m_bWorkerReading);
    int nSlices = 0;
    const auto tSlice = std::chrono::milliseconds(m_timing.nWaitSliceMs);
    auto tSliceEnd = std::chrono::steady_clock::now() + tSlice;
    for (;;)
    {
        {
            std::lock_guard lock(m_mutexRx);
            if (m_bRxReady)
            {
                vecBody.swap(m_vecRxBody);  // both buffers keep their capacity
                m_vecRxBody.clear();
                m_bRxReady = false;
                ClearWorkerSignal();
                return true;
            }
            if (m_bRxThreadEnded || m_bStreamEnded)
                return false;
        }
        const auto nLeft =
            std::chrono::duration_cast<std::chrono::milliseconds>(tSliceEnd - std::chrono::steady_clock::now()).count();
        if (nLeft > 0)
        {
            // The waiting worker reads the answer itself when it is first to see it; the
            // receive thread signals when it was faster.
            if (m_pConn->WaitReadable(static_cast<int>(nLeft), true) == CSocketConn::WAIT_READABLE)
                Pump(true);
            continue;
        }
        ++nSlices;
        tSliceEnd += tSlice;
        if (m_timing.nProgressEverySlices > 0 && nSlices % m_timing.nProgressEverySlices == 0)
            Report(2011);
        if (nSlices >= m_timing.nMaxSlices)
            return false;
        if (nSlices >= m_timing.nCancelMinSlices && bCancel)
            return false;
    }
}

CSicctSession::SExchange CSicctSession::Exchange(const std::vector<uint8_t>& vecApdu, std::atomic<bool>& bCancel)
{
    SExchange ex;
    ex.bSent = Transmit(vecApdu) > 0;
    if (ex.bSent)
        ex.bAnswered = WaitForResponse(ex.vecBody, bCancel);
    return ex;
}

void CSicctSession::Evaluate(sicct::ECommandKind eKind, const std::vector<uint8_t>& vecBody)
{
    if (vecBody.size() < 2)
        return;
    const auto result = sicct::EvaluateStatus(eKind, sicct::StatusWordOf(vecBody.data(), vecBody.size()));
    for (int nText : result.vecTextIds)
        Report(nText);
    m_bError = !result.bSuccess;
}

// --- CT session ---------------------------------------------------------------------------

bool CSicctSession::OpenCtSession(std::atomic<bool>& bCancel)
{
    std::vector<uint8_t> vecApdu;
    if (!sicct::BuildSessionOpen(m_strUser, m_strPassword, sicct::SessionTag(m_nSicctMajor, m_nSicctMinor), vecApdu))
    {
        // Lc cannot carry it; a truncated login must never reach the terminal.
        Report(TEXT_CREDENTIALS_TOO_LONG);
        m_bError = true;
        return false;
    }
    Report(2007);
    // The login command and its envelope hold the password: cleared as soon as they are sent.
    const size_t nSent = Transmit(vecApdu);
    os::SecureWipe(vecApdu);
    os::SecureWipe(m_vecTx);
    if (nSent == 0)
        return false;
    m_bError = true;
    std::vector<uint8_t> vecBody;
    WaitForResponse(vecBody, bCancel);
    Evaluate(sicct::ECommandKind::SessionOpen, vecBody);
    if (!m_bError && vecBody.size() > 11)
        m_strSessionId = sicct::ExtractSessionId(vecBody.data(), vecBody.size());
    return !m_bError;
}

bool CSicctSession::CloseCtSession(std::atomic<bool>& bCancel)
{
    m_bError = true;
    const uint8_t nTag = sicct::SessionTag(m_nSicctMajor, m_nSicctMinor);
    std::vector<uint8_t> vecApdu;
    if (!sicct::BuildSessionClose(sicct::SessionIdBytes(m_strSessionId), nTag, vecApdu))
    {
        TC_TRACE(kTrace, trace::LEVEL_ERROR, "session identifier too long, closing without it", 0);
        sicct::BuildSessionClose({}, nTag, vecApdu);
    }
    Report(2006);
    // Terminals need a moment after the last command before they accept the close.
    std::this_thread::sleep_for(std::chrono::milliseconds(m_timing.nCloseDelayMs));
    const auto ex = Exchange(vecApdu, bCancel);
    if (ex.bSent)
    {
        if (ex.vecBody.size() >= 2)
            Evaluate(sicct::ECommandKind::SessionClose, ex.vecBody);
        else
            Report(115);
    }
    m_sink.Post(wm::WM_BUSY, 0);
    return !m_bError;
}

// --- status queries -----------------------------------------------------------------------

bool CSicctSession::StatusQuery(int nCommand, const std::string& strUnit, std::vector<uint8_t>& vecAnswer,
                                std::atomic<bool>& bCancel, bool& bSent)
{
    m_bError = true;
    bSent = false;
    std::vector<uint8_t> vecApdu;
    if (!sicct::BuildTableCommand(nCommand, strUnit, vecApdu))
        return false;
    auto ex = Exchange(vecApdu, bCancel);
    bSent = ex.bSent;
    Evaluate(sicct::ECommandKind::StatusQuery, ex.vecBody);
    vecAnswer = std::move(ex.vecBody);
    return !m_bError;
}

bool CSicctSession::GetManufacturerStatus(ManufacturerInfo& info, std::atomic<bool>& bCancel)
{
    info = ManufacturerInfo{};
    std::vector<uint8_t> vecAnswer;
    bool bSent = false;
    if (!StatusQuery(sicct::CMD_STATUS_MANUFACTURER, {}, vecAnswer, bCancel, bSent))
        return false;
    CResponseDecoder::DecodeManufacturer(vecAnswer.data(), vecAnswer.size(), info);
    return true;
}

bool CSicctSession::GetFunctionalUnits(std::vector<uint8_t>& vecUnits, int& nCount, std::atomic<bool>& bCancel)
{
    vecUnits.clear();
    nCount = 0;
    std::vector<uint8_t> vecAnswer;
    bool bSent = false;
    if (!StatusQuery(sicct::CMD_STATUS_UNITS, {}, vecAnswer, bCancel, bSent))
        return false;
    CResponseDecoder::DecodeUnitList(vecAnswer.data(), vecAnswer.size(), vecUnits);
    nCount = static_cast<int>(vecUnits.size());
    return true;
}

bool CSicctSession::GetUnitStatus(int nQuery, const std::string& strUnit, SUnitStatus& unit,
                                  std::atomic<bool>& bCancel)
{
    const int nSelector = SelectorOf(nQuery);
    if (nSelector < 0)
        return false;
    // Keypad data exist only from SICCT 1.21 on; older terminals would refuse the query.
    if (nQuery == sicct::CMD_KEYPAD && m_nSicctMajor == 1 && m_nSicctMinor <= 20)
        return true;
    ClearPartOf(nQuery, unit);
    std::vector<uint8_t> vecAnswer;
    bool bSent = false;
    const bool bOk = StatusQuery(nQuery, strUnit, vecAnswer, bCancel, bSent);
    if (!bSent && nQuery == sicct::CMD_ICC_STATUS)
        bCancel = true;  // the connection is gone: end the unit loop
    if (!bOk)
        return false;
    CResponseDecoder::DecodeUnit(nSelector, vecAnswer.data(), vecAnswer.size(), unit);
    return true;
}

bool CSicctSession::ResetCard(const std::string& strUnit, std::string& strAtr, std::atomic<bool>& bCancel)
{
    m_bError = false;
    strAtr = sicct::ATR_NONE;
    std::vector<uint8_t> vecApdu;
    if (!sicct::BuildTableCommand(sicct::CMD_RESET_CARD, strUnit, vecApdu))
        return false;
    const auto ex = Exchange(vecApdu, bCancel);
    if (!ex.bSent)
    {
        bCancel = true;
        return false;
    }
    Evaluate(sicct::ECommandKind::CardResetOrCertificate, ex.vecBody);
    if (ex.vecBody.size() >= 2)
    {
        if (!m_bError)
            CResponseDecoder::DecodeAtr(ex.vecBody.data(), ex.vecBody.size(), strAtr);
        else if (sicct::ResetRefusedAsUnpaired(m_nSicctMajor, m_nSicctMinor))
            strAtr = sicct::ATR_UNPAIRED;
    }
    return true;
}

void CSicctSession::ShowDiagnosisText(std::atomic<bool>& bCancel)
{
    std::vector<uint8_t> vecApdu;
    if (sicct::BuildTableCommand(sicct::CMD_DIAGNOSIS_TEXT, {}, vecApdu))
        Exchange(vecApdu, bCancel);
}

// --- firmware download --------------------------------------------------------------------

bool CSicctSession::InitDownload(std::atomic<bool>& bCancel)
{
    m_bError = true;
    m_nMaxPacketSize = 0;
    std::vector<uint8_t> vecApdu;
    sicct::BuildTableCommand(sicct::CMD_DOWNLOAD_INIT, {}, vecApdu);
    Report(2003);
    const auto ex = Exchange(vecApdu, bCancel);
    Evaluate(sicct::ECommandKind::DownloadInit, ex.vecBody);
    if (!m_bError)
        m_nMaxPacketSize = sicct::ReadMaxPacketSize(ex.vecBody.data(), ex.vecBody.size());
    return !m_bError;
}

bool CSicctSession::SendFirmwareFile(const std::string& strPath, bool bLastPacketEndsDownload,
                                     std::atomic<bool>& bCancel)
{
    size_t nMax = m_nMaxPacketSize;
    if (nMax == 0)
    {
        Report(4006);
        m_sink.Post(wm::WM_REPORT, wm::STATUS_ICON, wm::ICON_RED);
        return false;
    }
    // Larger packets cannot be encoded in one command.
    nMax = std::min(nMax, sicct::MAX_FIRMWARE_PACKET);

    std::unique_ptr<FILE, SFileClose> pFile(std::fopen(strPath.c_str(), "rb"));
    if (!pFile)
    {
        TC_TRACE(kTrace, trace::LEVEL_ERROR, "firmware file cannot be opened", 0);
        return false;
    }
    // A large stdio buffer: one read from the file for many packets.
    std::setvbuf(pFile.get(), nullptr, _IOFBF, 256 * 1024);
    long nFileSize = -1;
    if (std::fseek(pFile.get(), 0, SEEK_END) == 0)
        nFileSize = std::ftell(pFile.get());
    if (nFileSize <= 0 || std::fseek(pFile.get(), 0, SEEK_SET) != 0)
    {
        TC_TRACE(kTrace, trace::LEVEL_ERROR, "firmware file empty or unreadable", 0);
        return false;
    }

    const uint32_t nSetting = m_pSettings != nullptr ? m_pSettings->MaxDataPacketSize() : 0;
    if (nSetting != 0 && nSetting <= nMax)
        nMax = nSetting;  // the setting can only lower the size
    m_sink.Post(wm::WM_PACKET_SIZE, static_cast<int64_t>(nMax));

    std::vector<uint8_t> vecBuffer(nMax);
    std::vector<uint8_t> vecApdu;
    // The whole transfer is one stretch of worker reading: the receive thread keeps away
    // from the socket between the packets too.
    SReadingGuard guard(m_bWorkerReading);
    m_bError = false;
    int nPacket = 0;
    size_t nTotal = 0;
    while (!m_bError && !bCancel)
    {
        const size_t nRead = std::fread(vecBuffer.data(), 1, nMax, pFile.get());
        if (nRead == 0)
        {
            if (std::ferror(pFile.get()))
                m_bError = true;
            break;  // the end fell on a packet boundary: the previous packet's result stands
        }
        m_bError = true;
        ++nPacket;
        nTotal += nRead;
        // The packet that reaches the end of the file ends the download when asked to, also
        // when the file size is a multiple of the packet size.
        const bool bLast = bLastPacketEndsDownload && nTotal >= static_cast<size_t>(nFileSize);
        sicct::BuildFirmwarePacket(vecBuffer.data(), nRead, bLast, vecApdu);
        Report(2004);
        const bool bSent = Transmit(vecApdu) > 0;
        m_sink.Post(wm::WM_PACKET_SENT, nPacket, static_cast<int64_t>(nRead));
        if (!bSent)
            break;
        std::vector<uint8_t> vecBody;
        WaitForResponse(vecBody, bCancel);
        if (vecBody.size() >= 2)
            Evaluate(sicct::ECommandKind::DownloadData, vecBody);
        else
            Report(4004);
        if (bLast)
            break;
    }
    return !m_bError;
}

bool CSicctSession::FinishDownload(std::atomic<bool>& bCancel)
{
    m_bError = true;
    std::vector<uint8_t> vecApdu;
    sicct::BuildTableCommand(sicct::CMD_DOWNLOAD_FINISH, {}, vecApdu);
    Report(2005);
    const auto ex = Exchange(vecApdu, bCancel);
    Evaluate(sicct::ECommandKind::DownloadFinish, ex.vecBody);
    return !m_bError;
}

// --- certificate list ---------------------------------------------------------------------

bool CSicctSession::WriteCertificateList(const uint8_t* pData, size_t nLength)
{
    if (pData == nullptr || nLength == 0 || nLength > sicct::MAX_CERTIFICATE_LIST)
    {
        char sz[256];
        std::snprintf(sz, sizeof(sz), "Übergabe parameter ungültig, Data %p, Datenlänge %d",
                      static_cast<const void*>(pData), static_cast<int>(nLength));
        PostLogRecord(sz);
        return false;
    }
    m_bError = true;
    std::vector<uint8_t> vecApdu;
    sicct::BuildCertificateListWrite(pData, nLength, vecApdu);
    // Only the time limits end this wait: nobody can cancel a certificate write halfway.
    std::atomic<bool> bNeverCancelled{false};
    const auto ex = Exchange(vecApdu, bNeverCancelled);
    if (!ex.bSent)
        return false;
    if (!ex.bAnswered)
        PostLogRecord("Keine Antwort empfangen");
    Evaluate(sicct::ECommandKind::CardResetOrCertificate, ex.vecBody);
    return !m_bError;
}
