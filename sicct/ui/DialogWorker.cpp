#include "DialogWorker.h"

#include <chrono>
#include <system_error>

CDialogWorker::~CDialogWorker()
{
    (void)Release(0);
}

bool CDialogWorker::Start(std::function<void()> fn)
{
    if (!Wait(0))
        return false;
    auto pState = std::make_shared<SState>();
    try
    {
        m_thread = std::thread([pState, fn = std::move(fn)] {
            try
            {
                fn();
            }
            catch (...)
            {
                // A job reports through its sink; nothing may leave the thread.
            }
            {
                std::lock_guard lock(pState->mutex);
                pState->bDone = true;
            }
            pState->cv.notify_all();
        });
    }
    catch (const std::system_error&)
    {
        return false;
    }
    m_pState = std::move(pState);
    return true;
}

bool CDialogWorker::IsRunning() const
{
    if (!m_thread.joinable() || !m_pState)
        return false;
    std::lock_guard lock(m_pState->mutex);
    return !m_pState->bDone;
}

bool CDialogWorker::Wait(int nTimeoutMs)
{
    if (!m_thread.joinable())
        return true;
    {
        std::unique_lock lock(m_pState->mutex);
        if (!m_pState->cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs > 0 ? nTimeoutMs : 0),
                                   [this] { return m_pState->bDone; }))
            return false;
    }
    m_thread.join();  // the job has returned: the join is immediate
    m_pState.reset();
    return true;
}

bool CDialogWorker::Release(int nTimeoutMs)
{
    if (Wait(nTimeoutMs))
        return true;
    m_thread.detach();
    m_pState.reset();
    return false;
}
