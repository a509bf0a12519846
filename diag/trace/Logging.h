#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "Clock.h"
#include "Mutex.h"
#include "SystemLog.h"

/// The process-wide trace facility. Every trace call is stamped with a high-resolution UTC
/// time, the process and thread ids, formatted as one text line and sent to up to three
/// sinks: the event log (errors only), the debugger output and a debug file that is moved
/// to "<path>.old" when it has grown to 51,200,000 bytes.
///
/// Threads: any thread may call Trace. A call formats its text first, then stamps and sends
/// the line under Mutex::ProcessWide(), the file rotation included, so lines of all threads
/// reach every output whole and in time order. The wait for the lock is bounded (a line is
/// dropped when it times out). The setters may be called from any thread at any time.
///
/// Ownership: the front end creates one instance at start and deletes it at its end; the
/// first instance alive registers itself as the process-wide one, to which TraceLog()
/// (Trace.h) forwards. The OS services are borrowed and must outlive the object. The open
/// debug file belongs to the object and is closed with it.
class CLogging
{
public:
    /// Output mask bits (GetOutputMask/SetOutputMask).
    static constexpr uint32_t OUTPUT_FILE = 0x1;
    static constexpr uint32_t OUTPUT_DEBUGGER = 0x2;
    static constexpr uint32_t OUTPUT_EVENTLOG = 0x4;
    static constexpr uint32_t OUTPUT_ALL = OUTPUT_FILE | OUTPUT_DEBUGGER | OUTPUT_EVENTLOG;

    /// Event source of the error reports.
    static constexpr const char* EVENT_SOURCE = "VOVAVoRU";
    /// A debug file of this size or more is moved to "<path>.old" before the next line.
    static constexpr uint64_t ROTATE_SIZE = 51200000;
    /// Longest debug file path and longest source file name written, in characters.
    static constexpr size_t MAX_PATH_CHARS = 259;
    /// Build-tree prefix removed from source file names (compared case-sensitively).
    static constexpr const char* SOURCE_PREFIX = "y:\\sw_src\\sck\\middleware\\ctvnt.egk\\";
    /// Passed to the debugger output on every call while the debug file cannot be opened.
    static constexpr const char* FILE_ERROR_LINE = "*** Could not write to Debug-File! ***\n";

    /// No debug file; all three outputs on (the file output stays silent until a path is set).
    CLogging(os::CClock& clock, os::CSystemLog& systemLog, os::CDebugOutput& debugOutput);
    /// With a debug file path (empty: none) and the debugger and event log outputs chosen.
    CLogging(os::CClock& clock, os::CSystemLog& systemLog, os::CDebugOutput& debugOutput,
             const std::string& strPath, bool bDebugger, bool bEventLog);
    /// Unregisters the process-wide instance (waiting for trace calls in flight through
    /// TraceLog) and closes the debug file.
    ~CLogging();
    CLogging(const CLogging&) = delete;
    CLogging& operator=(const CLogging&) = delete;

    /// Writes one line (see the class comment). Nothing is written when pszCategory,
    /// pszMessage or pszFile is null, when every output is off, or when the lock cannot be
    /// obtained within Mutex::DEFAULT_TIMEOUT_MS. Never reports failure.
    void Trace(const char* pszCategory, uint32_t nLevel, const char* pszMessage, uint32_t nNumber,
               const char* pszFile, int nLine);

    /// Sets the debug file path (cut to MAX_PATH_CHARS; empty: no file). A file open under
    /// another path is closed before the next line, which then goes to the new path.
    void SetDebugFilePath(const std::string& strPath);
    /// Sets the path and the debugger and event log outputs together.
    void SetOutput(const std::string& strPath, bool bDebugger, bool bEventLog);
    std::string GetDebugFilePath() const;

    /// The three output flags as OUTPUT_* bits; bits outside OUTPUT_ALL are ignored.
    uint32_t GetOutputMask() const { return m_nOutputMask.load(std::memory_order_relaxed); }
    void SetOutputMask(uint32_t nMask) { m_nOutputMask.store(nMask & OUTPUT_ALL, std::memory_order_relaxed); }

    /// Closes the debug file; the next line opens it again. Returns false when the lock
    /// could not be obtained in time (the file then stays open).
    bool CloseDebugFile();

    /// True when this object is the one TraceLog forwards to.
    bool IsProcessInstance() const;
    /// Forwards to the process-wide instance; does nothing when there is none.
    static void TraceProcessWide(const char* pszCategory, uint32_t nLevel, const char* pszMessage,
                                 uint32_t nNumber, const char* pszFile, int nLine);

private:
    void TakeTimeBase();
    bool TimeStamp(std::tm& tmOut, int& nMs);
    void ApplyPathChange();
    void WriteToFile(const char* pszLine, size_t nLen);
    bool OpenFile();
    void CloseFile();
    void RotateFile();

    os::CClock& m_clock;
    os::CSystemLog& m_systemLog;
    os::CDebugOutput& m_debugOutput;
    Mutex& m_lock;

    std::atomic<uint32_t> m_nOutputMask{OUTPUT_ALL};

    // The setters write m_strPath under m_pathMutex and raise the flag; the next trace call
    // takes the new path over into m_strActivePath under the trace lock.
    mutable std::mutex m_pathMutex;
    std::string m_strPath;
    std::atomic<bool> m_bPathChanged{false};

    // Everything below is used only under m_lock.
    std::string m_strActivePath;
    int m_nFd = -1;
    uint64_t m_nFileSize = 0;  // bytes in the open file, counted since it was opened
    dev_t m_nFileDev = 0;
    ino_t m_nFileIno = 0;

    // Time base: a FILETIME taken right after a clock tick, with the counter read with it.
    uint64_t m_nBaseFileTime = 0;
    uint64_t m_nBaseCounter = 0;
    uint64_t m_nFrequency = 1;
    // The calendar fields of the last second converted, reused while the second is the same.
    int64_t m_nCachedSecond = INT64_MIN;
    std::tm m_tmCached{};

    uint32_t m_nProcessId = 0;
};
