#pragma once

#include "calibrator.h"
#include "fakedisplay.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

class Colorimeter;

// The main Calibrator on a worker thread, wired to a meter and a recording
// display the way the central object wires the real ones. Its signals are
// recorded on the test thread. Every hand-over between the threads also goes
// through a std::mutex or an atomic, which the thread sanitizer sees.
class CalibratorBench : public QObject
{
    Q_OBJECT
public:
    CalibratorBench();
    ~CalibratorBench() override;

    // Connects takeReading and dataAvailable; the meter stays on this thread.
    void useMeter(Colorimeter* meter);
    void queueRunning(bool on) { Q_EMIT running(on); }
    // Starts a task through a queued setRunning(true) and waits for done().
    bool runTask(Calibrator::TaskType task, int timeoutMs = 120000);
    // Waits until a status line starting with prefix was shown.
    bool waitForStatus(const QString& prefix, int timeoutMs = 60000);
    // Runs work on the Calibrator thread and waits until it returned (read
    // the Calibrator's state this way: the hand-over orders the accesses).
    bool onWorker(std::function<void()> work, int timeoutMs = 120000);
    // A short linearity correction of `steps` steps with no settle time, one
    // reading per point, 1 % allowed error, 80 nits at 6500 K on the Planckian
    // locus, no ambient black (set on the Calibrator thread).
    bool configureLinearity(uint steps);

    FakeDisplay display;
    Calibrator* cal = nullptr;
    // Recorded on the test thread.
    QList<QPair<uint, bool>> done;
    QStringList linearityLog;
    QStringList statuses;
    QList<double> progress;

Q_SIGNALS:
    void running(bool on);
    void work();

private:
    QThread thread_;
    std::mutex jobMutex_;
    std::function<void()> job_;
    std::atomic<bool> finished_ {false};
    std::atomic<bool> deleted_ {false};
};
