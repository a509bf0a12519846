#pragma once
#include <string>

#include "WorkerMessages.h"

namespace wm
{
/// The text a WM_REPORT message stands for, as a log shows it: a text of the table by its
/// number, the socket error text with its code, a log record with its bytes in hex, or the
/// text the message carries. Empty for other messages, the status icon, and numbers the
/// table lacks.
std::string ReportText(const SWorkerMessage& msg);
} // namespace wm
