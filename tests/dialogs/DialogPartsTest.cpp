// The pieces every maintenance dialog stands on: queued delivery from worker threads, the
// bounded dialog worker and the progress dots of the log panes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QTest>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DialogWorker.h"
#include "DotRun.h"
#include "LogEdit.h"
#include "QtWorkerSink.h"

using namespace std::chrono_literals;

TEST(QtWorkerSink, MessagesFromOtherThreadsArriveInOrderOnTheReceiversThread)
{
    QObject receiver;
    std::vector<int64_t> vecSeen;
    bool bOnUiThread = true;
    auto pSink = std::make_shared<CQtWorkerSink>(&receiver, [&](const SWorkerMessage& msg) {
        bOnUiThread = bOnUiThread && QThread::currentThread() == receiver.thread();
        vecSeen.push_back(msg.nWParam);
    });
    std::thread worker([pSink] {
        for (int i = 1; i <= 500; ++i)
            pSink->Report(i);
        pSink->Post(wm::WM_REPORT, wm::TEXT_LOG_RECORD, WorkerLogRecord{{0x90, 0x00}, "Antwort"});
    });
    worker.join();
    // Nothing runs inside Deliver: the handler waits for the receiver's event loop.
    EXPECT_TRUE(vecSeen.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return vecSeen.size() == 501; }, 5000));
    EXPECT_TRUE(bOnUiThread);
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(vecSeen[static_cast<size_t>(i)], i + 1);
    EXPECT_EQ(vecSeen.back(), wm::TEXT_LOG_RECORD);
}

TEST(QtWorkerSink, NothingArrivesAfterDetachOrAfterTheReceiverIsGone)
{
    int nSeen = 0;
    auto pReceiver = std::make_unique<QObject>();
    auto pSink = std::make_shared<CQtWorkerSink>(pReceiver.get(), [&](const SWorkerMessage&) { ++nSeen; });
    pSink->Report(1);
    // Queued but not yet run when the receiver goes: Qt drops it with the receiver.
    pReceiver.reset();
    pSink->Detach();
    pSink->Report(2);  // a worker that outlived its dialog posts into the void
    QCoreApplication::processEvents();
    QTest::qWait(20);
    EXPECT_EQ(nSeen, 0);
}

TEST(DialogWorker, StartsOneJobAtATimeAndAbandonsOneThatOverrunsItsBound)
{
    CDialogWorker worker;
    EXPECT_TRUE(worker.Wait(0));  // nothing started
    auto pGate = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    auto pOpen = std::make_shared<bool>(false);
    auto pEnded = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(worker.Start([pGate, pOpen, pEnded] {
        std::unique_lock lock(pGate->first);
        pGate->second.wait_for(lock, 5s, [&] { return *pOpen; });
        *pEnded = true;
    }));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.Start([] {}));  // refused while the first one runs
    const auto tStart = std::chrono::steady_clock::now();
    EXPECT_FALSE(worker.Release(100));  // overran: abandoned, not killed
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, 1s);
    EXPECT_FALSE(worker.IsRunning());
    // The abandoned job still ends on its own once it may.
    {
        std::lock_guard lock(pGate->first);
        *pOpen = true;
    }
    pGate->second.notify_all();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pEnded->load(); }, 5000));

    // A new job after that; an exception thrown by a job stays inside its thread.
    ASSERT_TRUE(worker.Start([] { throw 42; }));
    EXPECT_TRUE(worker.Wait(2000));
    ASSERT_TRUE(worker.Start([] {}));
    EXPECT_TRUE(worker.Release(2000));
}

TEST(DotRun, FirmwareCertificateAndDiagnosisForms)
{
    CLogEdit log;
    {
        // Firmware: the line with its first dot, a new line after every 100th dot.
        CDotRun dots(100, ".");
        dots.Log(log, 2003, "Downloadsitzung wird geöffnet", true);
        for (int i = 0; i < 150; ++i)
            dots.Log(log, 2004, "Sende Daten", true);
        dots.Log(log, 2005, "Downloadsitzung wird geschlossen", true);
        EXPECT_EQ(log.toPlainText().toStdString(), "Downloadsitzung wird geöffnet\nSende Daten" + std::string(100, '.') +
                                                       "\n" + std::string(50, '.') +
                                                       "\nDownloadsitzung wird geschlossen");
    }
    {
        // Certificate list: the line alone, ".." per repeat; a run of another number starts anew.
        log.ClearLog();
        CDotRun dots(100, "..");
        dots.Log(log, 2011, "Warte", false);
        dots.Log(log, 2011, "Warte", false);
        dots.Log(log, 2011, "Warte", false);
        dots.Log(log, 2004, "Sende", false);
        dots.Log(log, 0, "", false);  // an empty text ends the run and adds nothing
        dots.Log(log, 2004, "Sende", false);
        EXPECT_EQ(log.toPlainText().toStdString(), "Warte....\nSende\nSende");
    }
    {
        // Diagnosis: 80 dots per line.
        log.ClearLog();
        CDotRun dots(80, ".");
        for (int i = 0; i < 162; ++i)
            dots.Log(log, 2011, "Warte", false);
        EXPECT_EQ(log.toPlainText().toStdString(),
                  "Warte" + std::string(80, '.') + "\n" + std::string(80, '.') + "\n" + std::string(1, '.'));
    }
}
