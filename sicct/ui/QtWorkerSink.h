#pragma once
#include <functional>
#include <utility>

#include "QtDelivery.h"
#include "WorkerSink.h"

/// The worker sink of a Qt dialog: every message is queued to the dialog's thread and handed
/// to the dialog's handler there, in the order posted; nothing blocks the worker. Once the
/// dialog has detached the sink (it is closing) the messages are dropped.
///
/// Threads: Deliver from worker and receive threads; the handler runs on the dialog's thread.
/// Ownership: the dialog creates the sink and shares it with its worker (std::shared_ptr), so
/// a worker that outlives its bounded join still has a valid sink to post into.
class CQtWorkerSink final : public CWorkerSink
{
public:
    using FnHandler = std::function<void(const SWorkerMessage&)>;

    /// pReceiver: the dialog (its thread runs fnHandler); fnHandler: the dialog's dispatcher.
    CQtWorkerSink(QObject* pReceiver, FnHandler fnHandler)
        : m_delivery(pReceiver), m_pHandler(std::make_shared<FnHandler>(std::move(fnHandler)))
    {
    }

    void Deliver(SWorkerMessage msg) override
    {
        m_delivery.Post([pHandler = m_pHandler, msg = std::move(msg)] { (*pHandler)(msg); });
    }

    /// Queues any other call to the dialog (the end of a run, an observer's result).
    template <typename TFn>
    void PostCall(TFn&& fn)
    {
        m_delivery.Post(std::forward<TFn>(fn));
    }

    /// Drops every later message (the dialog is going away).
    void Detach() { m_delivery.Detach(); }

private:
    CQtDelivery m_delivery;
    std::shared_ptr<FnHandler> m_pHandler;
};
