#include "Mutex.h"

#include <chrono>

Mutex& Mutex::ProcessWide()
{
    // Function-local so that it exists before any static object's constructor may trace.
    static Mutex s_processMutex;
    return s_processMutex;
}

bool Mutex::Lock(int nTimeoutMs)
{
    if (nTimeoutMs <= 0)
        return m_mutex.try_lock();
    return m_mutex.try_lock_for(std::chrono::milliseconds(nTimeoutMs));
}

void Mutex::Unlock()
{
    m_mutex.unlock();
}
