#include "Logging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace
{
// The layout of one line (the banner level leaves category, number, file and line out);
// its length also enters the size limit of a line.
constexpr const char* LINE_FORMAT = "0x%04X;%02d.%02d.%4d %02d:%02d:%02d:%03d;%s;%s;0x%X;0x%X;0x%X;%s;%d\n";
constexpr size_t LINE_RESERVE = 51;
constexpr uint32_t LEVEL_ERROR = 2;
constexpr uint32_t LEVEL_BANNER = 0x2000;

constexpr uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ULL;  // 1970-01-01 in 100-ns units since 1601
constexpr int64_t FILETIME_PER_SECOND = 10000000;
constexpr int64_t FILETIME_PER_MS = 10000;

// Taking the time base waits for the UTC clock to tick over; bounded in reads and counter
// time so that a clock that never moves cannot hold the program up.
constexpr int MAX_BASE_READS = 1000000;
constexpr uint64_t MAX_BASE_WAIT_DIVISOR = 10;  // frequency / 10: 100 ms

// The process-wide instance, and the number of TraceLog calls that may be using it. A call
// counts itself in and then checks the pointer again; the destructor clears the pointer and
// waits for the count to drop to 0. Calls that start after the clearing never count
// themselves in, so the wait ends as soon as the calls already inside have finished.
std::atomic<CLogging*> g_pInstance{nullptr};
std::atomic<int> g_nCallsInside{0};
constexpr auto INSIDE_POLL = std::chrono::milliseconds(1);

uint32_t CurrentThreadId()
{
    // One system call per thread rather than per line.
    thread_local const uint32_t s_nTid = static_cast<uint32_t>(gettid());
    return s_nTid;
}

const char* StripSourcePrefix(const char* pszFile)
{
    const size_t nPrefix = std::strlen(CLogging::SOURCE_PREFIX);
    if (std::strncmp(pszFile, CLogging::SOURCE_PREFIX, nPrefix) == 0)
        return pszFile + nPrefix;
    return pszFile;
}

// Fields 2 and 3, "dd.mm.yyyy hh:mm:ss:mmm": this wide for the years 1000 to 9999.
constexpr size_t TIME_STAMP_CHARS = 23;

// "%0*X": upper-case hexadecimal with at least nMinDigits digits.
void AppendHex(std::string& str, uint32_t nValue, int nMinDigits)
{
    char sz[8];
    int nDigits = 0;
    do
    {
        sz[nDigits++] = "0123456789ABCDEF"[nValue & 0xF];
        nValue >>= 4;
    } while (nValue != 0);
    for (int i = nDigits; i < nMinDigits; ++i)
        str += '0';
    while (nDigits > 0)
        str += sz[--nDigits];
}

// "%d"
void AppendDecimal(std::string& str, int nValue)
{
    char sz[16];
    const auto result = std::to_chars(sz, sz + sizeof sz, nValue);
    str.append(sz, result.ptr);
}

void PutTwoDigits(char* p, int nValue)
{
    p[0] = static_cast<char>('0' + nValue / 10 % 10);
    p[1] = static_cast<char>('0' + nValue % 10);
}

// Writes "%02d.%02d.%4d %02d:%02d:%02d:%03d" over the place held for it at nPos.
void PutTimeStamp(std::string& strLine, size_t nPos, const std::tm& tmNow, int nMs)
{
    const int nYear = tmNow.tm_year + 1900;
    if (nYear < 1000 || nYear > 9999)
    {
        // Another width: the rare case takes the slow way.
        char sz[64];
        const int nLen = std::snprintf(sz, sizeof sz, "%02d.%02d.%4d %02d:%02d:%02d:%03d", tmNow.tm_mday,
                                       tmNow.tm_mon + 1, nYear, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec, nMs);
        strLine.replace(nPos, TIME_STAMP_CHARS, sz, nLen > 0 ? static_cast<size_t>(nLen) : 0);
        return;
    }
    char* p = strLine.data() + nPos;
    PutTwoDigits(p, tmNow.tm_mday);
    p[2] = '.';
    PutTwoDigits(p + 3, tmNow.tm_mon + 1);
    p[5] = '.';
    PutTwoDigits(p + 6, nYear / 100);
    PutTwoDigits(p + 8, nYear % 100);
    p[10] = ' ';
    PutTwoDigits(p + 11, tmNow.tm_hour);
    p[13] = ':';
    PutTwoDigits(p + 14, tmNow.tm_min);
    p[16] = ':';
    PutTwoDigits(p + 17, tmNow.tm_sec);
    p[19] = ':';
    p[20] = static_cast<char>('0' + nMs / 100 % 10);
    PutTwoDigits(p + 21, nMs % 100);
}
} // namespace

CLogging::CLogging(os::CClock& clock, os::CSystemLog& systemLog, os::CDebugOutput& debugOutput)
    : CLogging(clock, systemLog, debugOutput, std::string(), true, true)
{
}

CLogging::CLogging(os::CClock& clock, os::CSystemLog& systemLog, os::CDebugOutput& debugOutput,
                   const std::string& strPath, bool bDebugger, bool bEventLog)
    : m_clock(clock), m_systemLog(systemLog), m_debugOutput(debugOutput), m_lock(Mutex::ProcessWide())
{
    uint32_t nMask = OUTPUT_FILE;
    if (bDebugger)
        nMask |= OUTPUT_DEBUGGER;
    if (bEventLog)
        nMask |= OUTPUT_EVENTLOG;
    m_nOutputMask = nMask;
    m_strPath = strPath.substr(0, MAX_PATH_CHARS);
    m_strActivePath = m_strPath;
    m_nProcessId = static_cast<uint32_t>(getpid());
    // The event source needs no registration here: the system log names its source with
    // every report (syslog ident), so there is nothing to enter in a registry.
    TakeTimeBase();

    CLogging* pNone = nullptr;
    g_pInstance.compare_exchange_strong(pNone, this);
}

CLogging::~CLogging()
{
    CLogging* pSelf = this;
    if (g_pInstance.compare_exchange_strong(pSelf, nullptr))
    {
        // Each call inside is bounded by its lock wait and its output, so this wait is too.
        while (g_nCallsInside.load() != 0)
            std::this_thread::sleep_for(INSIDE_POLL);
    }
    // Direct callers of Trace must be done by now; the lock still orders the close after
    // a call that is just finishing.
    Mutex::CGuard guard(m_lock);
    CloseFile();
}

bool CLogging::IsProcessInstance() const
{
    return g_pInstance.load() == this;
}

void CLogging::TraceProcessWide(const char* pszCategory, uint32_t nLevel, const char* pszMessage,
                                uint32_t nNumber, const char* pszFile, int nLine)
{
    CLogging* pLog = g_pInstance.load();
    if (!pLog)
        return;
    ++g_nCallsInside;
    if (g_pInstance.load() == pLog)
        pLog->Trace(pszCategory, nLevel, pszMessage, nNumber, pszFile, nLine);
    --g_nCallsInside;
}

void CLogging::TakeTimeBase()
{
    // Sit the base on a tick of the UTC clock, so that the counter continues from a moment
    // the clock really showed; then read the counter right with it.
    m_nFrequency = m_clock.CounterFrequency();
    if (m_nFrequency == 0)
        m_nFrequency = 1;
    const uint64_t nFirst = m_clock.SystemTimeAsFileTime();
    const uint64_t nStartCounter = m_clock.QueryCounter();
    const uint64_t nMaxWait = m_nFrequency / MAX_BASE_WAIT_DIVISOR;
    uint64_t nFileTime = nFirst;
    uint64_t nCounter = nStartCounter;
    for (int i = 0; i < MAX_BASE_READS; ++i)
    {
        nFileTime = m_clock.SystemTimeAsFileTime();
        nCounter = m_clock.QueryCounter();
        if (nFileTime != nFirst || nCounter - nStartCounter > nMaxWait)
            break;
    }
    m_nBaseFileTime = nFileTime;
    m_nBaseCounter = nCounter;
}

bool CLogging::TimeStamp(std::tm& tmOut, int& nMs)
{
    // Counter ticks since the base, in 100-ns units rounded to the nearest unit.
    const __int128 nDelta = static_cast<int64_t>(m_clock.QueryCounter() - m_nBaseCounter);
    const __int128 nFreq = m_nFrequency;
    __int128 nTicks = nDelta * FILETIME_PER_SECOND;
    nTicks = nTicks >= 0 ? (nTicks + nFreq / 2) / nFreq : -((-nTicks + nFreq / 2) / nFreq);
    const __int128 nSinceUnix = static_cast<__int128>(m_nBaseFileTime) + nTicks - FILETIME_UNIX_EPOCH;

    __int128 nSeconds = nSinceUnix / FILETIME_PER_SECOND;
    __int128 nRest = nSinceUnix % FILETIME_PER_SECOND;
    if (nRest < 0)
    {
        nRest += FILETIME_PER_SECOND;
        --nSeconds;
    }
    nMs = static_cast<int>(nRest / FILETIME_PER_MS);

    // Calendar conversion once per second: lines come far more often than that.
    if (static_cast<int64_t>(nSeconds) != m_nCachedSecond)
    {
        const std::time_t t = static_cast<std::time_t>(nSeconds);
        std::tm tmNow{};
        if (!gmtime_r(&t, &tmNow))
            return false;
        m_tmCached = tmNow;
        m_nCachedSecond = static_cast<int64_t>(nSeconds);
    }
    tmOut = m_tmCached;
    return true;
}

void CLogging::Trace(const char* pszCategory, uint32_t nLevel, const char* pszMessage, uint32_t nNumber,
                     const char* pszFile, int nLine)
{
    if (!pszCategory || !pszMessage || !pszFile)
        return;

    // Everything but the time stamp is formatted before taking the lock, so that tracing
    // threads format in parallel and the lock covers only the time stamp and the output.
    const bool bBanner = nLevel == LEVEL_BANNER;
    const char* pszName = StripSourcePrefix(pszFile);
    const size_t nNameLen = ::strnlen(pszName, MAX_PATH_CHARS);
    const size_t nCategoryLen = std::strlen(pszCategory);
    const size_t nMessageLen = std::strlen(pszMessage);
    // The line's buffer size; a longer line is cut at it.
    const size_t nSize = std::strlen(LINE_FORMAT) + nCategoryLen + nMessageLen + nNameLen + LINE_RESERVE;

    std::string strLine;
    strLine.reserve(nSize);
    strLine += "0x";
    AppendHex(strLine, nLevel, 4);
    strLine += ';';
    const size_t nStampPos = strLine.size();
    strLine.append(TIME_STAMP_CHARS, ' ');
    strLine += ';';
    if (!bBanner)
        strLine.append(pszCategory, nCategoryLen);
    strLine += ';';
    strLine.append(pszMessage, nMessageLen);
    strLine += ";0x";
    AppendHex(strLine, bBanner ? 0 : nNumber, 1);
    strLine += ";0x";
    AppendHex(strLine, m_nProcessId, 1);
    strLine += ";0x";
    AppendHex(strLine, CurrentThreadId(), 1);
    strLine += ';';
    if (!bBanner)
        strLine.append(pszName, nNameLen);
    strLine += ';';
    AppendDecimal(strLine, bBanner ? 0 : nLine);
    strLine += '\n';

    Mutex::CGuard guard(m_lock);
    if (!guard.Owns())
        return;  // a line that cannot get the lock in time is dropped

    ApplyPathChange();
    const uint32_t nMask = GetOutputMask();
    const bool bFile = (nMask & OUTPUT_FILE) && !m_strActivePath.empty();
    const bool bDebugger = (nMask & OUTPUT_DEBUGGER) != 0;
    const bool bEventLog = (nMask & OUTPUT_EVENTLOG) != 0;
    if (!bFile && !bDebugger && !bEventLog)
        return;

    // The time stamp is read under the lock, so that the lines of all threads follow in time.
    std::tm tmNow{};
    int nMs = 0;
    if (!TimeStamp(tmNow, nMs))
        return;  // no calendar time: the line would be empty, so nothing is sent
    PutTimeStamp(strLine, nStampPos, tmNow, nMs);
    if (strLine.size() > nSize - 1)
        strLine.resize(nSize - 1);

    if (bEventLog && nLevel == LEVEL_ERROR)
        m_systemLog.ReportError(EVENT_SOURCE, strLine);
    if (bDebugger)
        m_debugOutput.Write(strLine);
    if (bFile)
        WriteToFile(strLine.data(), strLine.size());
}

void CLogging::SetDebugFilePath(const std::string& strPath)
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    m_strPath = strPath.substr(0, MAX_PATH_CHARS);
    m_bPathChanged = true;
}

void CLogging::SetOutput(const std::string& strPath, bool bDebugger, bool bEventLog)
{
    SetDebugFilePath(strPath);
    uint32_t nMask = GetOutputMask() & OUTPUT_FILE;
    if (bDebugger)
        nMask |= OUTPUT_DEBUGGER;
    if (bEventLog)
        nMask |= OUTPUT_EVENTLOG;
    SetOutputMask(nMask);
}

std::string CLogging::GetDebugFilePath() const
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_strPath;
}

bool CLogging::CloseDebugFile()
{
    Mutex::CGuard guard(m_lock);
    if (!guard.Owns())
        return false;
    CloseFile();
    return true;
}

void CLogging::ApplyPathChange()
{
    if (!m_bPathChanged.exchange(false))
        return;
    std::string strPath;
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        strPath = m_strPath;
    }
    if (strPath != m_strActivePath)
    {
        CloseFile();
        m_strActivePath = strPath;
    }
}

bool CLogging::OpenFile()
{
    const int nFd = ::open(m_strActivePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (nFd < 0)
        return false;
    struct stat st{};
    if (::fstat(nFd, &st) != 0)
    {
        ::close(nFd);
        return false;
    }
    m_nFd = nFd;
    m_nFileSize = static_cast<uint64_t>(st.st_size);
    m_nFileDev = st.st_dev;
    m_nFileIno = st.st_ino;
    return true;
}

void CLogging::CloseFile()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
    m_nFileSize = 0;
}

void CLogging::RotateFile()
{
    // The size counted since opening covers only what this object wrote; confirm it with
    // the file itself before moving anything.
    struct stat stOpen{};
    if (::fstat(m_nFd, &stOpen) != 0)
        return;
    m_nFileSize = static_cast<uint64_t>(stOpen.st_size);
    if (m_nFileSize < ROTATE_SIZE)
        return;

    // When the path no longer names the open file, someone else has moved it already:
    // follow the path instead of moving the new file over the old one.
    struct stat stPath{};
    const bool bSameFile = ::stat(m_strActivePath.c_str(), &stPath) == 0 && stPath.st_dev == m_nFileDev &&
                           stPath.st_ino == m_nFileIno;
    if (bSameFile)
    {
        // A rename moves the whole content at once and replaces an existing ".old"; it
        // cannot run out of memory or disk space half way, and it keeps the lock hold short.
        const std::string strOld = m_strActivePath + ".old";
        if (::rename(m_strActivePath.c_str(), strOld.c_str()) != 0)
            return;  // keep writing to the current file
    }
    CloseFile();
    OpenFile();  // a fresh, empty file under the path
}

void CLogging::WriteToFile(const char* pszLine, size_t nLen)
{
    if (m_nFd < 0 && !OpenFile())
    {
        m_debugOutput.Write(FILE_ERROR_LINE);
        return;
    }
    if (m_nFileSize >= ROTATE_SIZE)
    {
        RotateFile();
        if (m_nFd < 0)
        {
            m_debugOutput.Write(FILE_ERROR_LINE);
            return;
        }
    }
    // O_APPEND puts every write at the end, so there is no seek; one write per line, so the
    // line is in the file before the lock is released.
    while (nLen > 0)
    {
        const ssize_t nWritten = ::write(m_nFd, pszLine, nLen);
        if (nWritten < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        pszLine += nWritten;
        nLen -= static_cast<size_t>(nWritten);
        m_nFileSize += static_cast<uint64_t>(nWritten);
    }
}
