#pragma once
#include "InstanceLock.h"

namespace os
{
/// The single-instance guard on Linux: an flock()ed file of the lock's name in
/// $XDG_RUNTIME_DIR, the user's session folder (so another user's session never blocks this
/// one). The kernel releases the lock when the process ends, however it ends. Without
/// XDG_RUNTIME_DIR the lock cannot be created (OS_ERR_NOT_FOUND) and the caller runs unguarded.
/// The lock is held until this object is destroyed. User-interface thread only.
class CInstanceLockLinux : public CInstanceLock
{
public:
    /// strFolder empty: $XDG_RUNTIME_DIR at the time of Acquire.
    explicit CInstanceLockLinux(std::string strFolder = {}) : m_strFolder(std::move(strFolder)) {}
    ~CInstanceLockLinux() override;
    CInstanceLockLinux(const CInstanceLockLinux&) = delete;
    CInstanceLockLinux& operator=(const CInstanceLockLinux&) = delete;

    /// OS_OK, OS_ERR_BUSY (held by another process or another open of the same name),
    /// OS_ERR_NOT_FOUND (no session folder), OS_ERR_ACCESS or OS_ERR_GENERAL.
    int Acquire(const std::string& strName) override;

private:
    std::string m_strFolder;
    int m_nFd = -1;
};
} // namespace os
