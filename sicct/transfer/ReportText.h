#pragma once
#include <string>

#include "WorkerMessages.h"

namespace wm
{
/// The text a WM_REPORT message stands for, as a log shows it: a text of the table by its
/// number, the socket error text with its code, a log record with its bytes in hex, or the
/// text the message carries. Empty for other messages and the status icon. A number the table
/// lacks gives an empty text, or "#<number>" with bMarkUnknown (the command line keeps it
/// visible; the dialogs show nothing).
std::string ReportText(const SWorkerMessage& msg, bool bMarkUnknown = false);
} // namespace wm
