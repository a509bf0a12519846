#pragma once
#include <mutex>

#include "SystemLog.h"

namespace os
{
/// The event log on Linux: one syslog(3) message per report, priority LOG_ERR, facility
/// LOG_USER, with the source as ident. openlog/closelog are process-wide, so reports are
/// serialised by a lock of this class (every instance shares it). Any thread.
class CSyslogLinux : public CSystemLog
{
public:
    void ReportError(const std::string& strSource, const std::string& strText) override;

private:
    static std::mutex s_mutex;
};
} // namespace os
