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
    const std::thread::id self = std::this_thread::get_id();
    // Holders keep the mutex for microseconds: a short spin usually gets it without
    // putting this thread to sleep and waking it again.
    for (int i = 0; nTimeoutMs > 0 && i < SPIN_TRIES && m_bHeld.load(std::memory_order_relaxed); ++i)
        SpinPause();

    std::unique_lock<std::mutex> lock(m_stateMutex);
    if (m_nCount > 0 && m_owner == self)
    {
        ++m_nCount;
        return true;
    }
    if (m_nCount > 0)
    {
        if (nTimeoutMs <= 0)
            return false;
        if (!m_cvFree.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [this] { return m_nCount == 0; }))
            return false;
    }
    m_owner = self;
    m_nCount = 1;
    m_bHeld.store(true, std::memory_order_relaxed);
    return true;
}

void Mutex::Unlock()
{
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_nCount == 0 || m_owner != std::this_thread::get_id())
            return;
        if (--m_nCount > 0)
            return;
        m_owner = std::thread::id();
        m_bHeld.store(false, std::memory_order_relaxed);
    }
    m_cvFree.notify_one();
}
