#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

/// The worker thread of a maintenance dialog: runs one job at a time. Ending it never kills
/// the thread: Wait gives the job a bounded time to end; a job that overruns it is abandoned
/// (the thread is detached and ends on its own; the job owns, through shared pointers,
/// everything it still touches).
///
/// Threads: Start, IsRunning, Wait and Release on the dialog's thread; the job on the worker.
/// Ownership: the dialog owns this object; the job is owned by the thread.
class CDialogWorker
{
public:
    CDialogWorker() = default;
    /// Release(0): a running thread is abandoned, never waited for here (the owner waits first).
    ~CDialogWorker();
    CDialogWorker(const CDialogWorker&) = delete;
    CDialogWorker& operator=(const CDialogWorker&) = delete;

    /// Starts fn on a new thread. False when a job still runs (nothing started) or the thread
    /// could not be created. Exceptions thrown by fn are caught at the thread entry.
    bool Start(std::function<void()> fn);
    /// Whether a job was started and has not ended yet.
    bool IsRunning() const;
    /// Waits at most nTimeoutMs for the job to end and joins the thread. True when no thread
    /// remains (also when none was started).
    bool Wait(int nTimeoutMs);
    /// Wait(nTimeoutMs); when the job still runs, abandons it. True when it had ended.
    bool Release(int nTimeoutMs);

private:
    struct SState
    {
        std::mutex mutex;
        std::condition_variable cv;
        bool bDone = false;
    };
    std::thread m_thread;
    std::shared_ptr<SState> m_pState;
};
