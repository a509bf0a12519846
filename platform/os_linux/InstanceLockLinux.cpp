#include "InstanceLockLinux.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "OsCodes.h"

namespace os
{
CInstanceLockLinux::~CInstanceLockLinux()
{
    if (m_nFd >= 0)
        ::close(m_nFd);  // closing the last descriptor drops the flock
}

int CInstanceLockLinux::Acquire(const std::string& strName)
{
    if (m_nFd >= 0)
        return OS_OK;
    if (strName.empty() || strName.find('/') != std::string::npos)
        return OS_ERR_GENERAL;
    std::string strFolder = m_strFolder;
    if (strFolder.empty())
    {
        const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
        if (!pszRuntime || pszRuntime[0] != '/')
            return OS_ERR_NOT_FOUND;
        strFolder = pszRuntime;
    }
    const std::string strPath = strFolder + "/" + strName;
    // O_NOFOLLOW: nobody can redirect the lock file to a file of their choosing
    int nFd = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (nFd < 0)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            return OS_ERR_NOT_FOUND;
        return (errno == EACCES || errno == EPERM || errno == EROFS) ? OS_ERR_ACCESS : OS_ERR_GENERAL;
    }
    while (::flock(nFd, LOCK_EX | LOCK_NB) != 0)
    {
        if (errno == EINTR)
            continue;
        int nErr = errno;
        ::close(nFd);
        return nErr == EWOULDBLOCK ? OS_ERR_BUSY : OS_ERR_GENERAL;
    }
    m_nFd = nFd;
    return OS_OK;
}
} // namespace os
