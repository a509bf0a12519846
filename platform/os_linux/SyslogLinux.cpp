#include "SyslogLinux.h"

#include <syslog.h>

namespace os
{
std::mutex CSyslogLinux::s_mutex;

void CSyslogLinux::ReportError(const std::string& strSource, const std::string& strText)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    // the ident must stay valid while the log is open: it is closed before strSource goes
    ::openlog(strSource.c_str(), LOG_PID, LOG_USER);
    ::syslog(LOG_ERR, "%s", strText.c_str());
    ::closelog();
}
} // namespace os
