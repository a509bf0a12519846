#pragma once
#include "RunEnd.h"

/// Exit codes of terminalctl. They follow the status icons of the dialogs, so a script sees
/// what an administrator would have seen: green, red, yellow, plus the two outcomes a dialog
/// never has (bad input and an empty search).
namespace cli
{
enum EExitCode : int
{
    EXIT_OK = 0,         // success (green icon)
    EXIT_FAILED = 1,     // a step failed (red icon)
    EXIT_USAGE = 2,      // usage error or bad input (nothing was sent to a terminal)
    EXIT_WARNING = 3,    // cancelled (Ctrl-C) or a warning (yellow icon, e.g. expired certificate)
    EXIT_NOT_FOUND = 4,  // no terminal answered / none found
};

/// The exit code of a maintenance run's end.
constexpr int ExitCodeOf(ERunEnd eEnd)
{
    switch (eEnd)
    {
    case ERunEnd::Green:
        return EXIT_OK;
    case ERunEnd::Yellow:
        return EXIT_WARNING;
    case ERunEnd::Red:
        break;
    }
    return EXIT_FAILED;
}
} // namespace cli
