#pragma once
#include <utility>

#include "WorkerMessages.h"

/// Receiver of a worker's messages (the Linux stand-in for posting to a dialog window).
/// Called from worker threads and from the session's receive thread; an implementation
/// must return at once (queue, print or record) and must never call back into the worker.
/// The sink is not owned by the worker; its owner keeps it alive until the worker has been
/// stopped and joined.
class CWorkerSink
{
public:
    virtual ~CWorkerSink() = default;

    /// Delivers one message; ownership of the payload passes to the sink. Never blocks.
    virtual void Deliver(SWorkerMessage msg) = 0;

    /// Posts a message with two numbers (e.g. WM_REPORT with a text number).
    void Post(wm::EWorkerMessage eMessage, int64_t nWParam, int64_t nLParam = 0)
    {
        Deliver(SWorkerMessage{eMessage, nWParam, nLParam, {}});
    }
    /// Posts a message with a payload (e.g. WM_REPORT / 1030 with a WorkerLogRecord).
    void Post(wm::EWorkerMessage eMessage, int64_t nWParam, WorkerPayload payload)
    {
        Deliver(SWorkerMessage{eMessage, nWParam, 0, std::move(payload)});
    }
    /// Report by string-table number (WM_REPORT, lParam 0).
    void Report(int nTextId, int64_t nLParam = 0) { Post(wm::WM_REPORT, nTextId, nLParam); }
};
