#include "testsupport.h"

#include "calibratorbench.h"
#include "messagecapture.h"

#include <QRegularExpression>

#include <memory>
#include <mutex>
#include <random>

namespace {

constexpr double target = 140.0;
using Done = QList<QPair<uint, bool>>;

// A wall seen by the camera, built and answered as the shell does: each
// record's observed colour follows the gains last sent for it (own brightness
// and tint, cross-talk, optional noise). Template walls have two cells per LDM.
class Wall : public QObject
{
    Q_OBJECT
public:
    Wall(CalibratorBench& bench, Calibrator::Mode mode, int tileCount, int cells, unsigned minimum, unsigned maximum)
        : bench_(bench)
    {
        for (int t = 1; t <= tileCount; ++t) {
            tileStore_.push_back(std::make_unique<Tile>());
            Tile* tile = tileStore_.back().get();
            tile->number = uint(t);
            for (int c = 0; c < cells; ++c) {
                store_.push_back(std::make_unique<Macropixel>());
                Macropixel* m = store_.back().get();
                m->number = uint(store_.size());
                m->tile = uint(t);
                m->index = mode == Calibrator::ModeTemplate ? int(m->number + 1) / 2 : int(m->number);
                adjusters.push_back(std::make_unique<Calibrator>(mode, m->number));
                adjusters.back()->setErrorAllowed(0);
                adjusters.back()->compliantIterations = 3;
                adjusters.back()->minIterations = minimum;
                adjusters.back()->maxIterations = maximum;
                tile->macropixels << m;
                ldms << m;
            }
            tiles << tile;
        }
        QList<Calibrator*> list;
        for (auto& a : adjusters)
            list << a.get();
        bench.onWorker([&, mode, list] {
            Calibrator* c = bench.cal;
            c->setMode(mode);
            c->setAdjusters(list);
            c->setMacropixels(ldms);
            c->setTiles(tiles);
            c->setBalanceTargets(target, target, target);
            c->setReadDelay(0);
            c->setLoggable(true);
        });
        connect(bench.cal, &Calibrator::getLdmsObserved, this, [this] { answer(false); });
        connect(bench.cal, &Calibrator::getTilesObserved, this, [this] { answer(true); });
        // Requests and observations also hand over under a standard mutex,
        // which the thread sanitizer sees (Qt's queue it does not).
        for (auto request : {&Calibrator::getLdmsObserved, &Calibrator::getTilesObserved})
            connect(bench.cal, request, bench.cal, [this] { std::lock_guard lock(handoff_); }, Qt::DirectConnection);
        connect(this, &Wall::ldmsSeen, bench.cal, [this, cal = bench.cal](QList<Macropixel*> list) {
            { std::lock_guard lock(handoff_); }
            cal->macropixelsObserved(list);
        });
        connect(this, &Wall::tilesSeen, bench.cal, [this, cal = bench.cal](QList<Tile*> list) {
            { std::lock_guard lock(handoff_); }
            cal->tilesObserved(list);
        });
    }

    double seen(uint n, int c, bool noisy)
    {
        const auto g = bench_.display.sentGains(n);
        const double b = 150.0 + 7.0 * (n % 5), tint[3] = {1.0 + 0.04 * (n % 3), 1.0, 1.0 - 0.03 * (n % 2)};
        const double v = b * tint[c] * (1.0 + g[c]) + 0.03 * b * (1.0 + g[(c + 1) % 3]);
        return noisy ? v * (1.0 + noise * std::uniform_real_distribution<double>(-1.0, 1.0)(random_)) : v;
    }
    // The largest distance from the target that the sent gains show.
    double worstError()
    {
        double worst = 0;
        for (const Macropixel* m : std::as_const(ldms))
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(seen(m->number, c, false) - target));
        return worst;
    }

    std::vector<std::unique_ptr<Calibrator>> adjusters;
    QList<Macropixel*> ldms; // also the answers; tests may change them
    QList<Tile*> tiles;
    double noise = 0.0;
    int requests = 0;
    // Called with the request count once the records hold the observation;
    // false: no answer.
    std::function<bool(int)> beforeAnswer;

Q_SIGNALS:
    void ldmsSeen(QList<Macropixel*> list);
    void tilesSeen(QList<Tile*> list);

private:
    void answer(bool tiled)
    {
        ++requests;
        std::unique_lock lock(handoff_);
        for (auto& m : store_) {
            m->redObserved = seen(m->number, 0, true);
            m->greenObserved = seen(m->number, 1, true);
            m->blueObserved = seen(m->number, 2, true);
        }
        lock.unlock();
        if (beforeAnswer && !beforeAnswer(requests))
            return;
        if (tiled)
            Q_EMIT tilesSeen(tiles);
        else
            Q_EMIT ldmsSeen(ldms);
    }

    CalibratorBench& bench_;
    std::vector<std::unique_ptr<Macropixel>> store_;
    std::vector<std::unique_ptr<Tile>> tileStore_;
    std::mt19937 random_ {4242};
    std::mutex handoff_;
};

// The cycle count of the run's closing line, -1 when there was none.
int cyclesLogged(const testsupport::MessageCapture& log)
{
    static const QRegularExpression line(QStringLiteral("^\\*\\*\\* \\d+ \\w+s done after (\\d+) update cycles\\. \\*\\*\\*$"));
    for (const QString& m : log.messages())
        if (const auto match = line.match(m); match.hasMatch())
            return match.captured(1).toInt();
    return -1;
}

QList<FakeDisplay::Call> callsOf(const FakeDisplay& display, const char* op)
{
    QList<FakeDisplay::Call> out;
    for (const auto& call : display.calls())
        if (call.op == QLatin1String(op))
            out << call;
    return out;
}

QList<uint> numbers(int n)
{
    QList<uint> out;
    for (int i = 1; i <= n; ++i)
        out << uint(i);
    return out;
}

} // namespace

class TestUniformityRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every run ends on target. A balance run sends all LDMs each cycle; a
    // template run sends the meshes of changed LDMs only (per-LDM gains when
    // told so) and commits once at the end. The second tile's adjusters stop
    // early, so the last meshes leave that tile out.
    void runsConverge_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<bool>("perLdm");
        QTest::newRow("balance") << int(Calibrator::TaskBalance) << false;
        QTest::newRow("template meshes") << int(Calibrator::TaskTemplate) << false;
        QTest::newRow("template per LDM") << int(Calibrator::TaskTemplate) << true;
    }
    void runsConverge()
    {
        QFETCH(int, task);
        QFETCH(bool, perLdm);
        const bool templating = task == Calibrator::TaskTemplate;
        testsupport::MessageCapture log; // outlives the Calibrator thread
        CalibratorBench bench;
        Wall wall(bench, templating ? Calibrator::ModeTemplate : Calibrator::ModeBalance, 2, 4, 20, 400);
        for (int i = 4; i < 8; ++i)
            wall.adjusters[i]->minIterations = wall.adjusters[i]->maxIterations = 10;
        bench.onWorker([&] { bench.cal->sendPerLdm = perLdm; });
        log.clear();
        QVERIFY(bench.runTask(Calibrator::TaskType(task)));
        QCOMPARE(bench.done, (Done {{0u, true}}));
        QVERIFY2(wall.worstError() < 1.5, qPrintable(QString::number(wall.worstError())));

        const auto sends = callsOf(bench.display, templating && !perLdm ? "setMeshRGBs" : "setLdmRGBs");
        const auto commits = callsOf(bench.display, "commitMeshRGBs");
        QCOMPARE(sends.first().numbers, numbers(8));
        QCOMPARE(bench.display.calls().size(), sends.size() + commits.size());
        if (!templating) {
            QCOMPARE(sends.size(), cyclesLogged(log));
            QCOMPARE(sends.last().numbers, numbers(8));
        } else if (!perLdm) {
            QCOMPARE(sends.last().numbers, numbers(4));
            QVERIFY(log.count(QStringLiteral("(1 tile(s) changed, 2 tiles total)")) > 0);
        }
        QCOMPARE(commits.size(), templating ? 1 : 0);
        if (templating)
            QCOMPARE(bench.display.calls().last().numbers, numbers(8));
        for (auto& a : wall.adjusters)
            QVERIFY(a->adjustCoroutine.isNull());
    }

    // Pass limits end the run: the minimum once enough points are good, the
    // maximum otherwise, and the run itself after 999 cycles. Cycles: one
    // initial, 7 of sensitivity measurement, one per pass, one final.
    void iterationLimits_data()
    {
        QTest::addColumn<unsigned>("minimum");
        QTest::addColumn<unsigned>("maximum");
        QTest::addColumn<double>("noise");
        QTest::addColumn<int>("cycles");
        QTest::newRow("minimum") << 12u << 400u << 0.0 << 12 + 9;
        QTest::newRow("maximum") << 400u << 15u << 0.0 << 15 + 9;
        QTest::newRow("999 cycles") << 5000u << 5000u << 0.002 << 1000;
    }
    void iterationLimits()
    {
        QFETCH(unsigned, minimum);
        QFETCH(unsigned, maximum);
        QFETCH(double, noise);
        QFETCH(int, cycles);
        testsupport::MessageCapture log; // outlives the Calibrator thread
        CalibratorBench bench;
        Wall wall(bench, Calibrator::ModeBalance, 1, 2, minimum, maximum);
        wall.noise = noise;
        log.clear();
        QVERIFY(bench.runTask(Calibrator::TaskBalance));
        QCOMPARE(cyclesLogged(log), cycles);
        QCOMPARE(callsOf(bench.display, "setLdmRGBs").size(), cycles);
    }

    // Finishing averages what the adjusters have and still commits; a stop
    // ends at once, asks for nothing more and commits nothing.
    void finishOrStop_data()
    {
        QTest::addColumn<bool>("finish");
        QTest::newRow("finish") << true;
        QTest::newRow("stop") << false;
    }
    void finishOrStop()
    {
        QFETCH(bool, finish);
        CalibratorBench bench;
        Wall wall(bench, Calibrator::ModeTemplate, 1, 4, 400, 400);
        wall.beforeAnswer = [&](int request) {
            if (request == 15 && finish)
                QMetaObject::invokeMethod(bench.cal, "finishBalancing", Qt::QueuedConnection);
            else if (request == 15)
                bench.queueRunning(false);
            return request != 15 || finish;
        };
        QVERIFY(bench.runTask(Calibrator::TaskTemplate));
        QCOMPARE(bench.done, (Done {{0u, true}}));
        QVERIFY2(finish ? wall.requests < 20 : wall.requests == 15, qPrintable(QString::number(wall.requests)));
        QCOMPARE(callsOf(bench.display, "commitMeshRGBs").size(), finish ? 1 : 0);
    }

    // Observation lists of another length than the run's are refused and
    // stop the run; so do failed sends, before anything is observed (a
    // recoverable one is retried first, after 5 s).
    void refusals_data()
    {
        QTest::addColumn<bool>("templating");
        QTest::addColumn<QList<ErrorType>>("script");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("LDMs short") << false << QList<ErrorType> {}
                                    << QStringList {"*** ERROR: 1 macropixels observed, 2 expected; observation refused ***"};
        QTest::newRow("tiles long") << true << QList<ErrorType> {}
                                    << QStringList {"*** ERROR: 2 tiles observed, 1 expected; observation refused ***"};
        QTest::newRow("LDM gains") << false << QList<ErrorType> {{1, "busy"}, {2, "gone"}}
                                   << QStringList {"Calibrator::setLdmRGBs: recoverable error busy; will retry 20x...",
                                                   "Calibrator::setLdmRGBs: fatal error gone"};
        QTest::newRow("mesh") << true << QList<ErrorType> {{2, "refused"}}
                              << QStringList {"Vantor::setAndReadMacropixels_: setMeshRGBs failed: refused"};
    }
    void refusals()
    {
        QFETCH(bool, templating);
        QFETCH(QList<ErrorType>, script);
        QFETCH(QStringList, lines);
        testsupport::MessageCapture log; // outlives the Calibrator thread
        CalibratorBench bench;
        Wall wall(bench, templating ? Calibrator::ModeTemplate : Calibrator::ModeBalance, 1, 2, 12, 12);
        if (templating)
            wall.tiles << wall.tiles.first();
        else
            wall.ldms.removeLast();
        bench.display.script(script);
        log.clear();
        QVERIFY(bench.runTask(templating ? Calibrator::TaskTemplate : Calibrator::TaskBalance));
        // Every run ends with done(number, true). A send the display refused
        // is a failed run, which says why; a refused observation is not.
        QCOMPARE(bench.done, (Done {{0u, true}}));
        QString failure;
        QVERIFY(bench.onWorker([&] { failure = bench.cal->failure; }));
        QCOMPARE(failure.isEmpty(), script.isEmpty());
        for (const QString& line : lines)
            QCOMPARE(log.count(line), 1);
        QCOMPARE(wall.requests, script.isEmpty() ? 1 : 0);
    }
};

VELTRANO_TEST_MAIN(TestUniformityRun)
#include "tst_uniformityrun.moc"
