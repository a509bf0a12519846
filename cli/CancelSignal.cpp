#include "CancelSignal.h"

#include <csignal>
#include <unistd.h>

#include "CliCodes.h"

namespace
{
std::atomic<bool> g_bCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets the flag");

extern "C" void HandleSigint(int)
{
    CCancelSignal::OnInterrupt();
}
} // namespace

std::atomic<bool>& CCancelSignal::Flag()
{
    return g_bCancel;
}

void CCancelSignal::OnInterrupt()
{
    if (g_bCancel.exchange(true))
    {
        // Second Ctrl-C: the user does not want to wait for the run to wind down.
        static const char kText[] = "\nterminalctl: cancelled\n";
        (void)!::write(STDERR_FILENO, kText, sizeof kText - 1);
        ::_exit(cli::EXIT_WARNING);
    }
    static const char kText[] = "\nterminalctl: cancelling (press Ctrl-C again to quit at once)\n";
    (void)!::write(STDERR_FILENO, kText, sizeof kText - 1);
}

bool CCancelSignal::Install()
{
    struct sigaction action{};
    action.sa_handler = HandleSigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read returns EINTR
    return ::sigaction(SIGINT, &action, nullptr) == 0;
}
