#include "calibratorbench.h"

#include "colorimeter.h"

#include <QtTest>

namespace {

// Like QTest::qWaitFor, but sleeps in the event dispatcher instead of in
// 10 ms naps, so a meter on this thread answers at once.
bool waitFor(const std::function<bool()>& predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick;
    tick.start(20);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

CalibratorBench::CalibratorBench()
    : cal(new Calibrator(Calibrator::ModeLinearity, 0))
{
    cal->setDisplay(&display);
    cal->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, this, [this] {
        delete cal; // on the Calibrator thread, as deleteLater would
        deleted_ = true;
    }, Qt::DirectConnection);
    connect(this, &CalibratorBench::running, cal, &Calibrator::setRunning, Qt::QueuedConnection);
    connect(this, &CalibratorBench::work, cal, [this] {
        std::function<void()> f;
        {
            std::lock_guard lock(jobMutex_);
            f = job_;
        }
        f();
        finished_ = true;
    });
    connect(cal, &Calibrator::done, this, [this](uint number, bool completed) { done << qMakePair(number, completed); });
    connect(cal, &Calibrator::appendLinearityLog, this, [this](const QString& line) { linearityLog << line; });
    connect(cal, &Calibrator::clearLinearityLog, this, [this] { linearityLog.clear(); });
    connect(cal, &Calibrator::statusStringChanged, this, [this](const QString& text) { statuses << text; });
    connect(cal, &Calibrator::progressChanged, this, [this](double value) { progress << value; });
    thread_.start();
}

CalibratorBench::~CalibratorBench()
{
    queueRunning(false);
    thread_.quit();
    thread_.wait();
    while (!deleted_)
        QThread::yieldCurrentThread();
}

void CalibratorBench::useMeter(Colorimeter* meter)
{
    connect(cal, &Calibrator::takeReading, meter, &Colorimeter::read);
    connect(meter, &Colorimeter::dataAvailable, cal, &Calibrator::readColorimeterData);
}

bool CalibratorBench::runTask(Calibrator::TaskType task, int timeoutMs)
{
    const qsizetype before = done.size();
    cal->setTask(task);
    queueRunning(true);
    // The no-op job orders everything the task did before what the test
    // reads next (done() itself arrives through Qt's queue).
    return waitFor([&] { return done.size() > before; }, timeoutMs) && onWorker([] {});
}

bool CalibratorBench::configureLinearity(uint steps)
{
    return onWorker([this, steps] {
        cal->setMode(Calibrator::ModeLinearity);
        cal->setSteps(steps);
        cal->setReadDelay(0);
        cal->setReadCount(1);
        cal->setErrorAllowed(1.0);
        cal->setTargetLum(80);
        cal->setTargetCCT(6500);
        cal->setTargetDuv(0);
        cal->setAmbientBlack(false);
    });
}

bool CalibratorBench::onWorker(std::function<void()> work, int timeoutMs)
{
    {
        std::lock_guard lock(jobMutex_);
        job_ = std::move(work);
    }
    finished_ = false;
    Q_EMIT this->work();
    return waitFor([this] { return finished_.load(); }, timeoutMs);
}

bool CalibratorBench::waitForStatus(const QString& prefix, int timeoutMs)
{
    return waitFor(
        [&] {
            for (const QString& s : std::as_const(statuses))
                if (s.startsWith(prefix))
                    return true;
            return false;
        },
        timeoutMs);
}
