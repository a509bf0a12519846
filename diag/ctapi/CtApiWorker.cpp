#include "CtApiWorker.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "CtApiCommands.h"
#include "ResponseDecoder.h"
#include "Texts.h"
#include "Trace.h"

using namespace ctapi;

namespace
{
constexpr int CMD_INIT_SESSION = 102;
constexpr int CMD_CLOSE_SESSION = 104;
constexpr int CMD_DOWNLOAD_INIT = 105;
constexpr int CMD_DOWNLOAD_FINISH = 106;
constexpr int CMD_MANUFACTURER = 112;
constexpr int CMD_UNIT_LIST = 114;
constexpr int CMD_RESET_WITH_ATR = 116;
constexpr int CMD_UNIT_NAME = 117;
constexpr int CMD_ICC_STATUS = 118;
constexpr int CMD_DISPLAY = 119;
constexpr int CMD_ICC_INTERFACE = 120;
constexpr int CMD_KEYPAD = 121;
constexpr int CMD_SELECT_SICCT = 128;
constexpr int CMD_BCS_RESET = 138;

constexpr size_t STATUS_BUFFER = 1024;  // manufacturer and unit list answers
constexpr int RESET_WAIT_STEP_MS = 50;
constexpr const char* TEXT_TRANSMIT_TIMEOUT = "Error while Sending Data: Timeout for Transmit Reached";
constexpr const char* ATR_NONE = "No ATR given";
constexpr const char* TRACE_CATEGORY = "CtApi";

// Stand-ins for entry points the library lacks, and for every entry point once the library
// was abandoned: a code, never a call through a null pointer.
signed char MissingInit(unsigned short, unsigned short)
{
    return static_cast<signed char>(CTAPI_NO_ENTRY);
}
signed char MissingData(unsigned short, unsigned char*, unsigned char*, unsigned short, unsigned char*,
                        unsigned short*, unsigned char*)
{
    return static_cast<signed char>(CTAPI_NO_ENTRY);
}
signed char MissingClose(unsigned short)
{
    return static_cast<signed char>(CTAPI_NO_ENTRY);
}

// Packet exchanges given up on that have not returned yet (process-wide, for tests and logs).
std::atomic<int> g_nAbandonedCalls{0};

/// One DOWNLOAD DATA exchange on its own thread. Shared between the worker and the thread;
/// after abandonment only the thread uses it. It holds everything the call touches, the
/// library included, so nothing of the worker is needed when the call returns late.
struct SPacketCall
{
    std::mutex mtx;
    std::condition_variable cv;
    bool bDone = false;
    bool bThrew = false;
    bool bAbandoned = false;
    int nCode = 0;

    std::shared_ptr<os::CLibrary> pLibrary;
    CCtApiWorker::FnCtData pData = nullptr;
    unsigned char nDad = DAD_CT;
    unsigned char nSad = SAD_HOST;
    unsigned short nLenr = RESPONSE_BUFFER;
    std::vector<uint8_t> vecCommand;
    std::vector<uint8_t> vecResponse;
};

void RunPacketCall(std::shared_ptr<SPacketCall> pCall)
{
    int nCode = CTAPI_NO_ENTRY;
    bool bThrew = false;
    try
    {
        nCode = pCall->pData(CTN, &pCall->nDad, &pCall->nSad, static_cast<unsigned short>(pCall->vecCommand.size()),
                             pCall->vecCommand.data(), &pCall->nLenr, pCall->vecResponse.data());
    }
    catch (...)
    {
        bThrew = true;
    }
    bool bAbandoned = false;
    {
        std::lock_guard<std::mutex> lock(pCall->mtx);
        pCall->nCode = nCode;
        pCall->bThrew = bThrew;
        pCall->bDone = true;
        bAbandoned = pCall->bAbandoned;
    }
    pCall->cv.notify_all();
    if (bAbandoned)
    {
        // Nobody waits any more: free the copies and, if this was the last user, the library
        // (the call into it has returned, so unloading is safe now).
        std::shared_ptr<os::CLibrary> pLibrary = std::move(pCall->pLibrary);
        pCall.reset();
        pLibrary.reset();
        --g_nAbandonedCalls;
    }
}
} // namespace

CCtApiWorker::CCtApiWorker(os::CLibraryLoader& loader, CWorkerSink& sink)
    : m_loader(loader), m_sink(sink), m_entries{&MissingInit, &MissingData, &MissingClose}
{
}

CCtApiWorker::~CCtApiWorker()
{
    // A terminal number opened by CT_init is closed even when a run ended early (e.g. after a
    // failed download init), so that the library can release its connection; silently, the
    // owner has finished listening. Never after an abandonment: that library is not called.
    if (m_bTerminalOpen && !m_bAbandoned)
        (void)m_entries.pClose(CTN);
}

int CCtApiWorker::CountAbandonedCalls()
{
    return g_nAbandonedCalls.load();
}

bool CCtApiWorker::LoadCtApi(const std::string& strPath, uint16_t nPn)
{
    m_nPn = nPn;
    if (!m_pLibrary)
    {
        std::string strError;
        std::unique_ptr<os::CLibrary> pLoaded = m_loader.Load(strPath, strError);
        if (!pLoaded)
        {
            TC_TRACE(TRACE_CATEGORY, trace::LEVEL_ERROR, ("library not loaded: " + strPath + ": " + strError).c_str(), 0);
            return false;
        }
        m_pLibrary = std::move(pLoaded);
    }
    if (m_bAbandoned)
        return true; // loaded, but its entry points stay replaced for the rest of the run
    auto pInit = reinterpret_cast<FnCtInit>(m_pLibrary->Symbol("CT_init"));
    auto pData = reinterpret_cast<FnCtData>(m_pLibrary->Symbol("CT_data"));
    auto pClose = reinterpret_cast<FnCtClose>(m_pLibrary->Symbol("CT_close"));
    if (!pInit || !pData || !pClose)
        TC_TRACE(TRACE_CATEGORY, trace::LEVEL_ERROR, ("entry point missing in " + strPath).c_str(),
                 (pInit ? 0 : 1) | (pData ? 0 : 2) | (pClose ? 0 : 4));
    m_entries.pInit = pInit ? pInit : &MissingInit;
    m_entries.pData = pData ? pData : &MissingData;
    m_entries.pClose = pClose ? pClose : &MissingClose;
    return true;
}

bool CCtApiWorker::ReportResult(int nCode)
{
    switch (nCode)
    {
    case CTAPI_OK:
        return true;
    case CTAPI_ERR_INVALID:
        m_sink.Report(TXT_CTAPI_INVALID);
        return false;
    case CTAPI_ERR_CT:
        m_sink.Report(TXT_CTAPI_CT);
        return false;
    case CTAPI_ERR_TRANS:
        m_sink.Report(TXT_CTAPI_TRANS);
        return false;
    case CTAPI_ERR_MEMORY:
        m_sink.Report(TXT_CTAPI_MEMORY);
        return false;
    case CTAPI_ERR_HOST:
        m_sink.Report(TXT_CTAPI_HOST);
        return false;
    case CTAPI_ERR_HTSI:
        m_sink.Report(TXT_CTAPI_HTSI);
        return false;
    default:
        return false;
    }
}

void CCtApiWorker::PostLogRecord(std::string strText, std::vector<uint8_t> vecData)
{
    m_sink.Post(wm::WM_REPORT, wm::TEXT_LOG_RECORD, WorkerPayload{WorkerLogRecord{std::move(vecData), std::move(strText)}});
}

bool CCtApiWorker::TransmitCommand(int nCommandId, uint8_t* pResponse, size_t& nResponseLength)
{
    std::vector<uint8_t> vecCommand;
    if (!CommandFromTable(nCommandId, m_nSicctVersion, {}, vecCommand))
    {
        nResponseLength = 0;
        return false;
    }
    return Transmit(nCommandId, vecCommand, pResponse, nResponseLength);
}

bool CCtApiWorker::TransmitCommand(const std::vector<uint8_t>& vecCommand, uint8_t* pResponse,
                                   size_t& nResponseLength)
{
    return Transmit(0, vecCommand, pResponse, nResponseLength);
}

bool CCtApiWorker::Transmit(int nCommandId, const std::vector<uint8_t>& vecCommand, uint8_t* pResponse,
                            size_t& nResponseLength)
{
    const size_t nCapacity = pResponse ? nResponseLength : 0;
    nResponseLength = 0;
    if (vecCommand.empty() || vecCommand.size() > 0xFFFF)
        return false;
    m_vecCommand = vecCommand; // the library gets a buffer it may write to, as its signature allows

    std::vector<uint8_t> vecAnswer(RESPONSE_BUFFER, 0);
    unsigned char nDad = DAD_CT;
    unsigned char nSad = SAD_HOST;
    unsigned short nLenr = RESPONSE_BUFFER;
    const int nCode = m_entries.pData(CTN, &nDad, &nSad, static_cast<unsigned short>(m_vecCommand.size()),
                                      m_vecCommand.data(), &nLenr, vecAnswer.data());
    // a library that claims more than the buffer holds is not believed beyond the buffer
    const size_t nAnswer = std::min<size_t>(nLenr, RESPONSE_BUFFER);
    const bool bSuccess = nCode == CTAPI_OK && nAnswer >= 2 && vecAnswer[nAnswer - 2] == 0x90;

    if (nCode != CTAPI_OK)
    {
        ReportResult(nCode);
    }
    else
    {
        PostLogRecord(std::string(CommandLabel(nCommandId)),
                      std::vector<uint8_t>(vecAnswer.begin(), vecAnswer.begin() + static_cast<std::ptrdiff_t>(nAnswer)));
        if (nCommandId == CMD_INIT_SESSION && nAnswer >= 2 && vecAnswer[nAnswer - 2] == 0x64)
        {
            const uint8_t nSw2 = vecAnswer[nAnswer - 1];
            m_sink.Report(nSw2 == 0x01 ? TXT_USER_NOT_FOUND : nSw2 == 0x02 ? TXT_BAD_PASSWORD : TXT_INIT_ERROR_6400);
        }
        else if (nCommandId == CMD_DOWNLOAD_FINISH && nAnswer >= 2)
        {
            if (bSuccess)
            {
                m_sink.Report(TXT_SIGNATURE_OK);
                if (nAnswer >= 5 && vecAnswer[0] == 0x73 && vecAnswer[1] == 0x03 && vecAnswer[2] == 0x80 &&
                    vecAnswer[3] == 0x01)
                {
                    // the terminal restarts with the new firmware and names its reset time
                    m_sink.Report(TXT_WAIT_RESET);
                    const int nWaitMs = (vecAnswer[4] + 5) * 1000;
                    const bool bWaited = m_fnResetWait ? m_fnResetWait(nWaitMs) : DefaultResetWait(nWaitMs);
                    if (bWaited)
                        m_sink.Report(TXT_WAIT_DONE);
                }
            }
            else
                m_sink.Report(TXT_SIGNATURE_BAD);
        }
    }
    // after a failed call lenr means nothing: the caller gets no bytes
    const size_t nCopy = nCode == CTAPI_OK ? std::min(nAnswer, nCapacity) : 0;
    if (nCopy > 0)
        std::memcpy(pResponse, vecAnswer.data(), nCopy);
    nResponseLength = nCopy;
    return bSuccess;
}

bool CCtApiWorker::DefaultResetWait(int nMs) const
{
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (std::chrono::steady_clock::now() < tEnd)
    {
        // the dialog's close must not wait minutes for a terminal that resets
        if (m_pAbort && m_pAbort->load())
            return false;
        const auto tLeft = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - std::chrono::steady_clock::now());
        std::this_thread::sleep_for(std::min(tLeft, std::chrono::milliseconds(RESET_WAIT_STEP_MS)));
    }
    return true;
}

bool CCtApiWorker::RunSessionChain(const std::atomic<bool>& bAbort)
{
    bool bFailed = false;
    std::vector<uint8_t> vecAnswer(STATUS_BUFFER);
    auto Step = [&](int nCommandId) {
        if (bFailed || bAbort.load())
            return;
        size_t nLength = vecAnswer.size();
        if (!TransmitCommand(nCommandId, vecAnswer.data(), nLength))
            bFailed = true;
    };
    Step(CMD_SELECT_SICCT);
    Step(CMD_BCS_RESET);
    Step(CMD_CLOSE_SESSION);
    if (!bFailed && !bAbort.load())
    {
        // the terminal now waits for the user's entry on its keypad
        m_sink.Report(TXT_WAITING_FOR_USER);
        Step(CMD_INIT_SESSION);
    }
    if (bFailed)
        CloseSession();
    return !bFailed;
}

bool CCtApiWorker::OpenSession(uint16_t nPn)
{
    m_sink.Report(TXT_OPENING);
    m_sink.Post(wm::WM_BUSY, 1);
    const int nCode = m_entries.pInit(CTN, nPn);
    bool bOpen = ReportResult(nCode);
    if (bOpen)
    {
        m_bTerminalOpen = true;
        const std::atomic<bool> bNoAbort{false};
        bOpen = RunSessionChain(bNoAbort);
    }
    m_sink.Report(bOpen ? TXT_SESSION_OPENED : TXT_OPEN_FAILED);
    return bOpen;
}

bool CCtApiWorker::CloseSession()
{
    m_sink.Report(TXT_CLOSING);
    const int nCode = m_entries.pClose(CTN);
    // whatever the answer, the number is not closed a second time by the destructor
    m_bTerminalOpen = false;
    // -10: the terminal is already gone (e.g. restarting with new firmware): closed as well
    const bool bClosed = nCode == CTAPI_OK || nCode == CTAPI_ERR_TRANS;
    m_sink.Report(bClosed ? TXT_CLOSED : TXT_CLOSE_FAILED);
    return bClosed;
}

bool CCtApiWorker::DownloadFirmware(const std::string& strLibraryPath, uint16_t nPn,
                                    const std::string& strFirmwarePath, const std::atomic<bool>& bAbort)
{
    struct SAbortScope
    {
        const std::atomic<bool>*& pRef;
        ~SAbortScope() { pRef = nullptr; }
    } scope{m_pAbort};
    m_pAbort = &bAbort;

    if (!LoadCtApi(strLibraryPath, nPn))
        return false;
    m_sink.Post(wm::WM_OPERATION, 0);
    const int nCode = m_entries.pInit(CTN, nPn);
    PostLogRecord(texts::FormatPattern("CT_Init returned with %d", nCode));
    if (!ReportResult(nCode))
        return false;
    m_bTerminalOpen = true;

    if (!RunSessionChain(bAbort))
        return false;
    std::vector<uint8_t> vecAnswer(STATUS_BUFFER);
    size_t nLength = 0;
    if (!bAbort.load())
    {
        nLength = vecAnswer.size();
        if (!TransmitCommand(CMD_DOWNLOAD_INIT, vecAnswer.data(), nLength))
            return false;
    }
    if (!bAbort.load() && !SendFirmwareFile(strFirmwarePath, bAbort))
        return false; // the terminal's state is unknown: no finish, no close
    if (!bAbort.load())
    {
        nLength = vecAnswer.size();
        if (!TransmitCommand(CMD_DOWNLOAD_FINISH, vecAnswer.data(), nLength))
            return false;
    }
    CloseSession();
    return true;
}

bool CCtApiWorker::SendFirmwareFile(const std::string& strPath, const std::atomic<bool>& bAbort)
{
    if (m_nPacketSize == 0)
    {
        m_sink.Report(TXT_NO_PACKET_SIZE);
        m_sink.Post(wm::WM_REPORT, wm::STATUS_ICON, wm::ICON_RED);
        return false;
    }
    std::ifstream file(strPath, std::ios::binary);
    if (!file)
        return false;
    const size_t nChunk = std::min<size_t>(m_nPacketSize, MAX_PACKET_DATA);
    std::vector<uint8_t> vecData(nChunk);
    std::vector<uint8_t> vecCommand;
    std::vector<uint8_t> vecAnswer;
    int64_t nPacket = 0;
    while (!bAbort.load())
    {
        ++nPacket;
        file.read(reinterpret_cast<char*>(vecData.data()), static_cast<std::streamsize>(nChunk));
        const size_t nRead = static_cast<size_t>(file.gcount());
        if (nRead == 0)
            break; // the end of the file fell on a packet boundary: the last packet decides
        if (!DownloadDataCommand(vecData.data(), nRead, false, vecCommand))
            return false;
        m_sink.Report(TXT_SENDING);
        int nCode = 0;
        const EPacketOutcome eOutcome = ExchangePacket(vecCommand, nCode, vecAnswer);
        if (eOutcome == EPacketOutcome::Timeout)
        {
            PostLogRecord(TEXT_TRANSMIT_TIMEOUT);
            return false;
        }
        if (eOutcome == EPacketOutcome::NoThread)
        {
            m_sink.Report(TXT_UNKNOWN_ERROR);
            return false;
        }
        if (nCode != CTAPI_OK)
        {
            ReportResult(nCode);
            return false;
        }
        if (vecAnswer[0] == 0x90 && vecAnswer[1] == 0x00)
            m_sink.Post(wm::WM_PACKET_SENT, nPacket, static_cast<int64_t>(nRead));
        else if (vecAnswer[0] == 0x69)
        {
            m_sink.Report(TXT_NO_DOWNLOAD_SESSION);
            return false;
        }
        else if (vecAnswer[0] == 0x64)
        {
            m_sink.Report(TXT_FIRMWARE_INVALID);
            return false;
        }
        else
        {
            PostLogRecord(texts::Format(TXT_SICCT_ERROR, static_cast<int>(vecAnswer[0]), static_cast<int>(vecAnswer[1])));
            return false;
        }
        if (nRead < nChunk)
            break; // end of file
    }
    return true;
}

CCtApiWorker::EPacketOutcome CCtApiWorker::ExchangePacket(const std::vector<uint8_t>& vecCommand, int& nCode,
                                                          std::vector<uint8_t>& vecAnswer)
{
    nCode = CTAPI_NO_ENTRY;
    vecAnswer.assign(2, 0);
    auto pCall = std::make_shared<SPacketCall>();
    pCall->pLibrary = m_pLibrary;
    pCall->pData = m_entries.pData;
    pCall->vecCommand = vecCommand;
    pCall->vecResponse.assign(RESPONSE_BUFFER, 0);

    std::thread thread;
    try
    {
        thread = std::thread(RunPacketCall, pCall);
    }
    catch (const std::system_error&)
    {
        return EPacketOutcome::NoThread;
    }

    const auto tLimit = std::chrono::milliseconds(int64_t(m_nPacketSize) * PACKET_TIMEOUT_MS_PER_BYTE);
    {
        std::unique_lock<std::mutex> lock(pCall->mtx);
        if (!pCall->cv.wait_for(lock, tLimit, [&] { return pCall->bDone; }))
        {
            // Given up: the thread keeps its copies and the library; it ends on its own if the
            // call ever returns. Killing it could leave the library's locks held.
            pCall->bAbandoned = true;
            ++g_nAbandonedCalls;
            lock.unlock();
            thread.detach();
            TC_TRACE(TRACE_CATEGORY, trace::LEVEL_ERROR,
                     "CT_data did not return in time; call abandoned, library not called again", tLimit.count());
            Abandon();
            return EPacketOutcome::Timeout;
        }
    }
    thread.join();
    if (pCall->bThrew)
        return EPacketOutcome::NoThread;
    nCode = pCall->nCode;
    // the first two answer bytes are judged; a shorter answer leaves zeros there
    const size_t nAnswer = std::max<size_t>(2, std::min<size_t>(pCall->nLenr, RESPONSE_BUFFER));
    vecAnswer.assign(pCall->vecResponse.begin(), pCall->vecResponse.begin() + static_cast<std::ptrdiff_t>(nAnswer));
    return EPacketOutcome::Done;
}

void CCtApiWorker::Abandon()
{
    m_bAbandoned = true;
    m_bTerminalOpen = false;
    m_entries = SEntries{&MissingInit, &MissingData, &MissingClose};
}

bool CCtApiWorker::TransmitUnitQuery(int nCommandId, const std::string& strUnit, std::vector<uint8_t>& vecAnswer)
{
    std::vector<uint8_t> vecCommand;
    vecAnswer.assign(RESPONSE_BUFFER, 0);
    if (!CommandFromTable(nCommandId, m_nSicctVersion, strUnit, vecCommand))
    {
        vecAnswer.clear();
        return false;
    }
    size_t nLength = vecAnswer.size();
    const bool bOk = TransmitCommand(vecCommand, vecAnswer.data(), nLength);
    vecAnswer.resize(nLength);
    return bOk;
}

bool CCtApiWorker::GetManufacturerStatus(ManufacturerInfo& info)
{
    info = ManufacturerInfo{};
    std::vector<uint8_t> vecAnswer(STATUS_BUFFER);
    size_t nLength = vecAnswer.size();
    const bool bOk = TransmitCommand(CMD_MANUFACTURER, vecAnswer.data(), nLength);
    if (bOk)
        CResponseDecoder::DecodeManufacturer(vecAnswer.data(), nLength, info);
    return bOk;
}

bool CCtApiWorker::GetFunctionalUnits(std::vector<uint8_t>& vecUnits, int& nCount)
{
    vecUnits.clear();
    nCount = 0;
    std::vector<uint8_t> vecAnswer(STATUS_BUFFER);
    size_t nLength = vecAnswer.size();
    const bool bOk = TransmitCommand(CMD_UNIT_LIST, vecAnswer.data(), nLength);
    if (bOk && CResponseDecoder::DecodeUnitList(vecAnswer.data(), nLength, vecUnits))
        nCount = static_cast<int>(vecUnits.size() / 2);
    return bOk;
}

bool CCtApiWorker::GetUnitName(const std::string& strUnit, std::string& strName)
{
    strName.clear();
    std::vector<uint8_t> vecAnswer;
    const bool bOk = TransmitUnitQuery(CMD_UNIT_NAME, strUnit, vecAnswer);
    if (bOk)
        CResponseDecoder::DecodeUnitName(vecAnswer.data(), vecAnswer.size(), strName);
    return bOk;
}

bool CCtApiWorker::GetDisplay(const std::string& strUnit, DisplayInfo& info)
{
    info = DisplayInfo{};
    std::vector<uint8_t> vecAnswer;
    const bool bOk = TransmitUnitQuery(CMD_DISPLAY, strUnit, vecAnswer);
    if (bOk)
        CResponseDecoder::DecodeDisplay(vecAnswer.data(), vecAnswer.size(), info);
    return bOk;
}

bool CCtApiWorker::GetKeypad(const std::string& strUnit, KeypadInfo& info)
{
    info = KeypadInfo{};
    std::vector<uint8_t> vecAnswer;
    const bool bOk = TransmitUnitQuery(CMD_KEYPAD, strUnit, vecAnswer);
    if (bOk)
        CResponseDecoder::DecodeKeypad(vecAnswer.data(), vecAnswer.size(), info);
    return bOk;
}

bool CCtApiWorker::GetIccStatus(const std::string& strUnit, IccStatusInfo& info)
{
    info = IccStatusInfo{};
    std::vector<uint8_t> vecAnswer;
    const bool bOk = TransmitUnitQuery(CMD_ICC_STATUS, strUnit, vecAnswer);
    if (bOk)
        CResponseDecoder::DecodeIccStatus(vecAnswer.data(), vecAnswer.size(), info);
    return bOk;
}

bool CCtApiWorker::GetIccInterface(const std::string& strUnit, IccInterfaceInfo& info)
{
    info = IccInterfaceInfo{};
    std::vector<uint8_t> vecAnswer;
    const bool bOk = TransmitUnitQuery(CMD_ICC_INTERFACE, strUnit, vecAnswer);
    if (bOk)
        CResponseDecoder::DecodeIccInterface(vecAnswer.data(), vecAnswer.size(), info);
    return bOk;
}

bool CCtApiWorker::GetAtr(const std::string& strUnit, std::string& strAtr)
{
    strAtr = ATR_NONE;
    std::vector<uint8_t> vecAnswer;
    const bool bOk = TransmitUnitQuery(CMD_RESET_WITH_ATR, strUnit, vecAnswer);
    std::string strDecoded;
    if (bOk && CResponseDecoder::DecodeAtr(vecAnswer.data(), vecAnswer.size(), strDecoded))
        strAtr = strDecoded;
    return bOk;
}
