// ctest-labels: threaded
// The message capture against threads that log while captures begin and end.

#include "messagecapture.h"

#include <QDeadlineTimer>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<long> passedOn {0};

// Stands in for the handler a capture finds: counts what reaches it, and
// keeps the threads' flood out of the test's output.
void quietHandler(QtMsgType, const QMessageLogContext&, const QString&)
{
    ++passedOn;
}

} // namespace

class TestMessageCapture : public QObject
{
    Q_OBJECT

private slots:
    // Three threads log without pause while captures begin and end on the
    // main thread, so messages arrive as a capture is made and as it is
    // destroyed. Each capture sees every thread's messages and hands each on;
    // none is written into a capture that has ended (the sanitizers watch).
    void capturesBeginAndEndWhileThreadsLog()
    {
        const QtMessageHandler before = qInstallMessageHandler(&quietHandler);
        std::atomic<bool> stop {false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([t, &stop] {
                for (long i = 0; !stop.load(); ++i)
                    qWarning("thread %d message %ld", t, i);
            });

        long captured = 0;
        bool allSeen = true;
        for (int round = 0; round < 200 && allSeen; ++round) {
            auto capture = std::make_unique<testsupport::MessageCapture>();
            // Waits for the very state it reads: a message of each thread.
            const QDeadlineTimer deadline(30000);
            auto seenAll = [&capture] {
                for (int t = 0; t < 3; ++t)
                    if (capture->count(QStringLiteral("thread %1 message ").arg(t), true) == 0)
                        return false;
                return true;
            };
            while (!seenAll() && !deadline.hasExpired())
                std::this_thread::yield();
            allSeen = seenAll();
            if (round % 2)
                capture->clear();
            captured += capture->messages().size();
            capture.reset();
        }

        stop = true;
        for (std::thread& thread : threads)
            thread.join();
        qInstallMessageHandler(before);
        QVERIFY2(allSeen, "a capture missed the messages of a thread");
        // Everything a capture kept also went on to the handler before it.
        QVERIFY(passedOn.load() >= captured);
    }
};

QTEST_GUILESS_MAIN(TestMessageCapture)
#include "tst_messagecapture.moc"
