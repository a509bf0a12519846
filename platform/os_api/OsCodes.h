#pragma once
// Result codes of the platform layer. Every os_api operation returns 0 or one of these;
// no OS type and no errno value crosses this boundary.

namespace os
{
enum OsResult : int
{
    OS_OK = 0,
    OS_ERR_GENERAL = -1,    // anything not listed below
    OS_ERR_NOT_FOUND = -2,  // file, device, symbol or value missing
    OS_ERR_ACCESS = -3,     // permission denied
    OS_ERR_TIMEOUT = -4,    // a bounded wait ended without result
    OS_ERR_STOPPED = -5,    // the stop event ended the wait
    OS_ERR_CLOSED = -6,     // the peer or device went away
    OS_ERR_BUSY = -7,       // e.g. the single-instance lock is held by another process
};
} // namespace os
