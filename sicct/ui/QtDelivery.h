#pragma once
#include <QMetaObject>
#include <QObject>
#include <memory>
#include <mutex>
#include <utility>

/// Queues calls from any thread onto the thread of one receiving QObject (a dialog), like a
/// posted window message: Post never blocks and never runs the call itself. After Detach
/// (the receiver is going away) every further Post is dropped; calls already queued are
/// dropped by Qt when the receiver is destroyed before they run.
///
/// Threads: Post from any thread; Detach on the receiver's thread. Copies share one state,
/// so a worker may keep its copy alive longer than the receiver.
class CQtDelivery
{
public:
    explicit CQtDelivery(QObject* pReceiver) : m_pState(std::make_shared<SState>()) { m_pState->pReceiver = pReceiver; }

    /// Queues fn (a callable without arguments) to run on the receiver's thread.
    template <typename TFn>
    void Post(TFn&& fn) const
    {
        std::lock_guard lock(m_pState->mutex);
        // Under the lock: Detach cannot complete while the call is being queued, so the
        // receiver pointer is valid here.
        if (m_pState->pReceiver != nullptr)
            QMetaObject::invokeMethod(m_pState->pReceiver, std::forward<TFn>(fn), Qt::QueuedConnection);
    }

    /// Drops every later Post. Idempotent.
    void Detach() const
    {
        std::lock_guard lock(m_pState->mutex);
        m_pState->pReceiver = nullptr;
    }

private:
    struct SState
    {
        std::mutex mutex;
        QObject* pReceiver = nullptr;
    };
    std::shared_ptr<SState> m_pState;
};
