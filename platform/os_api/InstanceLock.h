#pragma once
#include <string>

namespace os
{
/// The single-instance guard of the program (a named mutex on Windows): a lock of the given
/// name, per user session, held from a successful Acquire until the object is destroyed or
/// the process ends (the system releases it then, also after a crash).
/// Used on the user-interface thread at start-up only.
class CInstanceLock
{
public:
    virtual ~CInstanceLock() = default;
    /// Takes the lock. Codes: OS_OK (this process holds it now, or already held it),
    /// OS_ERR_BUSY (another process holds it), any other OS_ERR_* (the lock could not be
    /// created; the caller then runs without the guard).
    virtual int Acquire(const std::string& strName) = 0;
};
} // namespace os
