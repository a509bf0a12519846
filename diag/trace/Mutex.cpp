#include "Mutex.h"

#include <chrono>
#include <thread>

namespace
{
constexpr int SPIN_TRIES = 100;

void SpinPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}
} // namespace

Mutex& Mutex::ProcessWide()
{
    // Function-local so that it exists before any static object's constructor may trace.
    static Mutex s_processMutex;
    return s_processMutex;
}

bool Mutex::Lock(int nTimeoutMs)
{
    // Holders keep the mutex for microseconds: a short spin usually gets it without
    // putting this thread to sleep and waking it again.
    for (int i = 0; i < SPIN_TRIES; ++i)
    {
        if (m_mutex.try_lock())
            return true;
        if (nTimeoutMs <= 0)
            return false;
        SpinPause();
    }
    return m_mutex.try_lock_for(std::chrono::milliseconds(nTimeoutMs));
}

void Mutex::Unlock()
{
    m_mutex.unlock();
}
