#pragma once
#include <atomic>

/// CCancelSignal: Ctrl-C as the dialogs' Cancel button. The first SIGINT sets the process's
/// cancel flag, which every run reads between its steps and inside its waits; a second
/// SIGINT ends the process at once with exit code 3 (cancelled). SIGTERM is left alone.
///
/// Threads: Install once from main before any thread starts; the flag may be read and set
/// from any thread (a lock-free atomic, so the handler may set it). Process-wide by nature.
class CCancelSignal
{
public:
    /// The flag the runs are given.
    static std::atomic<bool>& Flag();
    /// Installs the handler (without SA_RESTART, so a waiting password prompt returns).
    /// False when sigaction fails.
    static bool Install();
    /// What the handler does for one SIGINT (exposed for tests: the first call sets the
    /// flag and returns; a call with the flag already set ends the process).
    static void OnInterrupt();
};
