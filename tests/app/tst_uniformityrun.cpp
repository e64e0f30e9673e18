// ctest-labels: threaded
#include "testsupport.h"

#include "calibratorbench.h"
#include "messagecapture.h"

#include <QRegularExpression>

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double target = 140.0;

struct Limits
{
    unsigned compliant = 3;
    unsigned minimum = 12;
    unsigned maximum = 400;
};

// The camera's view of a wall: each macropixel's observed colour follows the
// gains last sent to the display for it (linear, some cross-talk, its own
// brightness and tint, optional noise from a fixed seed). The wall answers
// the engine's observation requests on the test thread, as the shell does,
// and builds the adjusters and records the shell would build.
class Wall : public QObject
{
    Q_OBJECT
public:
    // Balance: `cells` LDMs in one tile. Template: `tiles` tiles of `cells`
    // mesh cells, two cells per LDM.
    Wall(CalibratorBench& bench, Calibrator::Mode mode, int tiles, int cells, Limits limits = {})
        : bench_(bench)
    {
        const bool templating = mode == Calibrator::ModeTemplate;
        for (int t = 0; t < tiles; ++t) {
            auto tile = std::make_unique<Tile>();
            tile->number = uint(t + 1);
            tile->name = QStringLiteral("tile%1").arg(t + 1);
            for (int c = 0; c < cells; ++c) {
                auto m = std::make_unique<Macropixel>();
                m->number = uint(macropixels.size() + 1);
                m->tile = tile->number;
                m->index = templating ? int(m->number + 1) / 2 : int(m->number);
                auto a = std::make_unique<Calibrator>(mode, m->number);
                a->setReadDelay(0);
                a->setErrorAllowed(0);
                a->compliantIterations = limits.compliant;
                a->minIterations = limits.minimum;
                a->maxIterations = limits.maximum;
                tile->macropixels << m.get();
                ldmAnswer << m.get();
                macropixels.push_back(std::move(m));
                adjusters.push_back(std::move(a));
            }
            tileAnswer << tile.get();
            tileList.push_back(std::move(tile));
        }
        QList<Calibrator*> adjusterList;
        for (auto& a : adjusters)
            adjusterList << a.get();
        bench.onWorker([&, mode, adjusterList] {
            Calibrator* c = bench.cal;
            c->setMode(mode);
            c->setAdjusters(adjusterList);
            c->setMacropixels(ldmAnswer);
            c->setTiles(tileAnswer);
            c->setBalanceTargets(target, target, target);
            c->setReadDelay(0);
            c->setLoggable(true);
        });
        connect(bench.cal, &Calibrator::getLdmsObserved, this, [this] { answer(false); });
        connect(bench.cal, &Calibrator::getTilesObserved, this, [this] { answer(true); });
        connect(this, &Wall::ldmsSeen, bench.cal, &Calibrator::macropixelsObserved);
        connect(this, &Wall::tilesSeen, bench.cal, &Calibrator::tilesObserved);
    }

    // What the camera sees of macropixel number n under the given gains.
    std::array<double, 3> seen(uint n, const std::array<double, 3>& g)
    {
        const double b = 150.0 + 7.0 * (n % 5);
        const double tint[3] = {1.0 + 0.04 * (n % 3), 1.0, 1.0 - 0.03 * (n % 2)};
        std::array<double, 3> out;
        for (int c = 0; c < 3; ++c) {
            out[c] = b * tint[c] * (1.0 + g[c]) + 0.03 * b * (1.0 + g[(c + 1) % 3]);
            if (noise > 0)
                out[c] *= 1.0 + noise * std::uniform_real_distribution<double>(-1.0, 1.0)(random_);
        }
        return out;
    }

    // The largest distance from the target of what the sent gains show.
    double worstError()
    {
        const double saved = noise;
        noise = 0;
        double worst = 0;
        for (auto& m : macropixels)
            for (double v : seen(m->number, bench_.display.sentGains(m->number)))
                worst = std::max(worst, std::abs(v - target));
        noise = saved;
        return worst;
    }

    std::vector<std::unique_ptr<Macropixel>> macropixels;
    std::vector<std::unique_ptr<Calibrator>> adjusters;
    std::vector<std::unique_ptr<Tile>> tileList;
    // The lists sent back; tests may swap in others.
    QList<Macropixel*> ldmAnswer;
    QList<Tile*> tileAnswer;
    double noise = 0.0;
    int requests = 0;
    // Called with the request count once the records hold the new
    // observation; false: no answer.
    std::function<bool(int)> beforeAnswer;

Q_SIGNALS:
    void ldmsSeen(QList<Macropixel*> list);
    void tilesSeen(QList<Tile*> list);

private:
    void answer(bool tiles)
    {
        ++requests;
        for (auto& m : macropixels) {
            const auto o = seen(m->number, bench_.display.sentGains(m->number));
            m->redObserved = o[0];
            m->greenObserved = o[1];
            m->blueObserved = o[2];
        }
        if (beforeAnswer && !beforeAnswer(requests))
            return;
        if (tiles)
            Q_EMIT tilesSeen(tileAnswer);
        else
            Q_EMIT ldmsSeen(ldmAnswer);
    }

    CalibratorBench& bench_;
    std::mt19937 random_ {4242};
};

// The cycle count of the run's closing line, -1 when there was none.
int cyclesLogged(const testsupport::MessageCapture& log)
{
    static const QRegularExpression line(QStringLiteral("^\\*\\*\\* \\d+ (balancer|templater)s done after (\\d+) update cycles\\. \\*\\*\\*$"));
    for (const QString& m : log.messages()) {
        const auto match = line.match(m);
        if (match.hasMatch())
            return match.captured(2).toInt();
    }
    return -1;
}

QList<FakeDisplay::Call> callsOf(const FakeDisplay& display, const QString& op)
{
    QList<FakeDisplay::Call> out;
    for (const auto& call : display.calls())
        if (call.op == op)
            out << call;
    return out;
}

QList<uint> numbersUpTo(int n)
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
    // A balance run sends the whole list every cycle and ends with every LDM
    // on target.
    void balanceConverges()
    {
        CalibratorBench bench;
        Wall wall(bench, Calibrator::ModeBalance, 1, 5);
        testsupport::MessageCapture log;
        QVERIFY(bench.runTask(Calibrator::TaskBalance));
        QCOMPARE(bench.done, (QList<QPair<uint, bool>> {{0u, true}}));
        QVERIFY2(wall.worstError() < 1.5, qPrintable(QString::number(wall.worstError())));

        const auto sends = callsOf(bench.display, QStringLiteral("setLdmRGBs"));
        QCOMPARE(sends.size(), cyclesLogged(log));
        for (const auto& call : sends)
            QCOMPARE(call.numbers, numbersUpTo(5));
        QCOMPARE(wall.requests, sends.size());
        QVERIFY(callsOf(bench.display, QStringLiteral("commitMeshRGBs")).isEmpty());
        QVERIFY(wall.adjusters.front()->loggable());
        for (auto& a : wall.adjusters)
            QVERIFY(a->adjustCoroutine.isNull());
    }

    // A template run sends only the meshes of LDMs whose cells changed (or
    // per-LDM gains when told so) and commits once at the end. The second
    // tile's adjusters stop early, so later cycles leave that tile out.
    void templateSendsChangesAndCommits_data()
    {
        QTest::addColumn<bool>("perLdm");
        QTest::newRow("meshes") << false;
        QTest::newRow("per LDM") << true;
    }
    void templateSendsChangesAndCommits()
    {
        QFETCH(bool, perLdm);
        CalibratorBench bench;
        Wall wall(bench, Calibrator::ModeTemplate, 2, 4, {3, 20, 400});
        for (int i = 4; i < 8; ++i)
            wall.adjusters[i]->minIterations = wall.adjusters[i]->maxIterations = 10;
        bench.onWorker([&] { bench.cal->sendPerLdm = perLdm; });
        testsupport::MessageCapture log;
        QVERIFY(bench.runTask(Calibrator::TaskTemplate));
        QCOMPARE(bench.done, (QList<QPair<uint, bool>> {{0u, true}}));

        const QList<FakeDisplay::Call> calls = bench.display.calls();
        QCOMPARE(calls.last().op, QStringLiteral("commitMeshRGBs"));
        QCOMPARE(calls.last().numbers, numbersUpTo(8));
        QCOMPARE(callsOf(bench.display, QStringLiteral("commitMeshRGBs")).size(), 1);

        const auto meshes = callsOf(bench.display, QStringLiteral("setMeshRGBs"));
        const auto ldms = callsOf(bench.display, QStringLiteral("setLdmRGBs"));
        QCOMPARE((perLdm ? meshes : ldms).size(), 0);
        const auto& sends = perLdm ? ldms : meshes;
        QCOMPARE(sends.first().numbers, numbersUpTo(8));
        if (!perLdm) {
            QCOMPARE(sends.last().numbers, numbersUpTo(4));
            QVERIFY(log.count(QStringLiteral("(1 tile(s) changed, 2 tiles total)")) > 0);
            QVERIFY(log.count(QStringLiteral("Vantor::setAndReadMacropixels_: setMeshRGBs completed, 4 mpels changed")) > 0);
        }
        QVERIFY2(wall.worstError() < 3.0, qPrintable(QString::number(wall.worstError())));
    }

    // The adjusters' pass limits end the run: the minimum number of passes
    // once enough points are good, the maximum otherwise, and the run as a
    // whole after 999 cycles. Cycles: 1 initial, 7 of sensitivity
    // measurement, one per pass and one for the final gains.
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
        CalibratorBench bench;
        Wall wall(bench, Calibrator::ModeBalance, 1, 2, {3, minimum, maximum});
        wall.noise = noise;
        testsupport::MessageCapture log;
        QVERIFY(bench.runTask(Calibrator::TaskBalance));
        QCOMPARE(cyclesLogged(log), cycles);
        QCOMPARE(callsOf(bench.display, QStringLiteral("setLdmRGBs")).size(), cycles);
    }

    // Finishing averages what the adjusters have and still commits; a stop
    // ends at once, asks for nothing more and commits nothing.
    void finishOrStopMidRun_data()
    {
        QTest::addColumn<bool>("finish");
        QTest::newRow("finish") << true;
        QTest::newRow("stop") << false;
    }
    void finishOrStopMidRun()
    {
        QFETCH(bool, finish);
        CalibratorBench bench;
        Wall wall(bench, Calibrator::ModeTemplate, 1, 4, {3, 400, 400});
        wall.beforeAnswer = [&](int request) {
            if (request != 15)
                return true;
            if (finish)
                QMetaObject::invokeMethod(bench.cal, "finishBalancing", Qt::QueuedConnection);
            else
                bench.queueRunning(false);
            return finish;
        };
        testsupport::MessageCapture log;
        QVERIFY(bench.runTask(Calibrator::TaskTemplate));
        QCOMPARE(bench.done, (QList<QPair<uint, bool>> {{0u, true}}));
        const int commits = callsOf(bench.display, QStringLiteral("commitMeshRGBs")).size();
        if (finish) {
            QVERIFY2(wall.requests < 20, qPrintable(QString::number(wall.requests)));
            QCOMPARE(commits, 1);
        } else {
            QCOMPARE(wall.requests, 15);
            QCOMPARE(commits, 0);
        }
        for (auto& a : wall.adjusters)
            QVERIFY(a->adjustCoroutine.isNull());
    }

    // An answer must list exactly the records the run holds; copies of the
    // same length are taken over.
    void observationLists_data()
    {
        QTest::addColumn<bool>("templating");
        QTest::addColumn<int>("change"); // entries added (+) or dropped (-); 0: copies
        QTest::addColumn<QString>("refusal");
        QTest::newRow("LDM short") << false << -1 << "*** ERROR: 2 macropixels observed, 3 expected; observation refused ***";
        QTest::newRow("tiles long") << true << 1 << "*** ERROR: 3 tiles observed, 2 expected; observation refused ***";
        QTest::newRow("LDM copies") << false << 0 << QString();
    }
    void observationLists()
    {
        QFETCH(bool, templating);
        QFETCH(int, change);
        QFETCH(QString, refusal);
        CalibratorBench bench;
        Wall wall(bench, templating ? Calibrator::ModeTemplate : Calibrator::ModeBalance, templating ? 2 : 1, 3,
                  {3, 12, 12});
        std::vector<std::unique_ptr<Macropixel>> copies;
        if (change < 0)
            wall.ldmAnswer.removeLast();
        else if (change > 0)
            wall.tileAnswer << wall.tileAnswer.first();
        else {
            wall.ldmAnswer.clear();
            for (auto& m : wall.macropixels) {
                copies.push_back(std::make_unique<Macropixel>(*m));
                wall.ldmAnswer << copies.back().get();
            }
            // The wall observes into the originals; the copies take it over.
            wall.beforeAnswer = [&](int) {
                for (size_t i = 0; i < copies.size(); ++i) {
                    copies[i]->redObserved = wall.macropixels[i]->redObserved;
                    copies[i]->greenObserved = wall.macropixels[i]->greenObserved;
                    copies[i]->blueObserved = wall.macropixels[i]->blueObserved;
                }
                return true;
            };
        }
        testsupport::MessageCapture log;
        QVERIFY(bench.runTask(templating ? Calibrator::TaskTemplate : Calibrator::TaskBalance));
        QCOMPARE(bench.done, (QList<QPair<uint, bool>> {{0u, true}}));
        if (!refusal.isEmpty()) {
            QCOMPARE(log.count(refusal), 1);
            QCOMPARE(wall.requests, 1);
        } else {
            QList<Macropixel*> held;
            bench.onWorker([&] { held = bench.cal->macropixels(); });
            QCOMPARE(held, wall.ldmAnswer);
            QCOMPARE(cyclesLogged(log), 12 + 9);
        }
    }

    // Send failures: a recoverable one is retried after 5 s, a fatal one, or
    // a failed mesh upload, stops the run before it asks for an observation.
    void sendFailures_data()
    {
        QTest::addColumn<bool>("templating");
        QTest::addColumn<QList<ErrorType>>("script");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("LDM gains") << false << QList<ErrorType> {{1, "busy"}, {2, "gone"}}
                                   << QStringList {"Calibrator::setLdmRGBs: recoverable error busy; will retry 20x...",
                                                   "Calibrator::setLdmRGBs: fatal error gone"};
        QTest::newRow("mesh") << true << QList<ErrorType> {{2, "refused"}}
                              << QStringList {"Vantor::setAndReadMacropixels_: setMeshRGBs failed: refused"};
    }
    void sendFailures()
    {
        QFETCH(bool, templating);
        QFETCH(QList<ErrorType>, script);
        QFETCH(QStringList, lines);
        CalibratorBench bench;
        Wall wall(bench, templating ? Calibrator::ModeTemplate : Calibrator::ModeBalance, 1, 2);
        bench.display.script(script);
        testsupport::MessageCapture log;
        QVERIFY(bench.runTask(templating ? Calibrator::TaskTemplate : Calibrator::TaskBalance));
        QCOMPARE(bench.done, (QList<QPair<uint, bool>> {{0u, true}}));
        for (const QString& line : lines)
            QCOMPARE(log.count(line), 1);
        QCOMPARE(wall.requests, 0);
        QCOMPARE(bench.display.calls().size(), script.size());
    }

    // Runs that cannot start end at once, each with done(number, true).
    void refusedStarts()
    {
        Macropixel m;
        m.number = 1;
        struct Row
        {
            uint number;
            int adjusters;
            int macropixels;
            const char* line;
        } rows[] = {
            {7, 1, 1, "#7 balance should NOT happen here! Make sure that running is NOT sent to adjusters_[i]."},
            {0, 2, 1, "***balance(): 2 adjusters != 1 macropixels. ***"},
            {0, 0, 0, "***balance(): no macropixels to process. ***"},
        };
        for (const Row& row : rows) {
            Calibrator adjuster(Calibrator::ModeBalance, 1);
            Calibrator c(Calibrator::ModeBalance, row.number);
            c.setAdjusters(QList<Calibrator*>(row.adjusters, &adjuster));
            c.setMacropixels(QList<Macropixel*>(row.macropixels, &m));
            QList<QPair<uint, bool>> done;
            connect(&c, &Calibrator::done, &c, [&](uint n, bool ok) { done << qMakePair(n, ok); });
            testsupport::MessageCapture log;
            c.setTask(Calibrator::TaskBalance);
            c.setRunning(true);
            QCOMPARE(log.count(QString::fromLatin1(row.line)), 1);
            QCOMPARE(done, (QList<QPair<uint, bool>> {{row.number, true}}));
            QVERIFY(!c.running());
            QVERIFY(!adjuster.running());
        }
    }
};

VELTRANO_TEST_MAIN(TestUniformityRun)
#include "tst_uniformityrun.moc"
