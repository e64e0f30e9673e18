// ctest-labels: threaded
// How a linearity correction on the stand-in processor ends when a device
// fails: the serial meter reports an error or a dark level, its readings stop
// changing, the processor refuses the gains or goes away, or refuses the
// closing requests, or holds them until the operator stops. Each ends with
// its own status, the engine's done and what reached the processor; a
// correction is told completed only once the processor has it, and a run
// that measured no level leaves the operator's earlier correction as it was.
#include "cr100.h"
#include "meterstandin.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

using testsupport::PolledContext;

namespace {

// The processor's requests that set its display, in order, as "kind:outcome":
// g = colour or gains in the measuring state, r = the measuring state
// undone, c = the correction curves. Runs of the same entry are counted
// ("20×g:500"). Only the part from the first refused request or the reset
// on is kept.
QString displayTail(const QJsonArray& log)
{
    QStringList entries;
    for (const QJsonValue& value : log) {
        const QJsonObject record = value.toObject();
        if (record.value("method").toString() != QLatin1String("PATCH"))
            continue;
        const QJsonObject body = QJsonDocument::fromJson(ProcessorStandin::body(record)).object();
        const QJsonValue curves = body["dev"]["display"]["out"]["curves"]["r"];
        const QJsonValue pattern = body["dev"]["ingest"]["testPattern"]["enabled"];
        const QString kind = !curves.isUndefined() ? QStringLiteral("c")
                             : pattern.toBool(true) ? QStringLiteral("g")
                                                    : QStringLiteral("r");
        const QJsonValue outcome = record.value("outcome");
        entries.append(kind + QLatin1Char(':')
                       + (outcome.isDouble() ? QString::number(outcome.toInt())
                          : outcome.isNull() ? QStringLiteral("held")
                                             : outcome.toString()));
    }
    qsizetype from = 0;
    while (from < entries.size() && !entries[from].startsWith(QLatin1String("r:"))
           && entries[from].endsWith(QLatin1String(":204")))
        ++from;
    QStringList runs;
    for (qsizetype i = from; i < entries.size();) {
        qsizetype n = 1;
        while (i + n < entries.size() && entries[i + n] == entries[i])
            ++n;
        runs.append(n > 1 ? QStringLiteral("%1×%2").arg(n).arg(entries[i]) : entries[i]);
        i += n;
    }
    return runs.join(QLatin1Char(' '));
}

} // namespace

class TestLinearityOutcomes : public QObject
{
    Q_OBJECT

    std::unique_ptr<PolledContext> net_;
    ProcessorStandin fake_;
    QTemporaryDir dir_;
    QJsonObject initialState_;

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        initialState_ = fake_.state();
    }

    void cleanupTestCase()
    {
        fake_.stop();
        net_.reset();
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("trigger");        // status prefix at which the fault starts ("": at once)
        QTest::addColumn<QStringList>("meterFault"); // control lines for the meter stand-in
        QTest::addColumn<QJsonArray>("rules");       // scripted processor answers
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("completed");         // done's second argument
        QTest::addColumn<bool>("measured");          // the run's levels replace the earlier correction
        QTest::addColumn<QString>("tail");           // what reached the processor
        QTest::addColumn<QString>("waiting");        // Stop once a request is held, with this status ("": no Stop)

        const QString lastLevel = QStringLiteral("Step 2 of 2");
        QTest::newRow("meter error in a level")
            << lastLevel << QStringList {QStringLiteral("reply M|ER:-100:M:fault")} << QJsonArray()
            << "Correction stopped with colorimeter error Error: [ER:-100:M:fault]" << true << true
            << "r:204 c:204" << "";
        QTest::newRow("dark level")
            << lastLevel << QStringList {QStringLiteral("reply RM Y|ER:-304:RM Y:under range")} << QJsonArray()
            << "Correction stopped; too dark to proceed." << true << true << "r:204 c:204" << "";
        QTest::newRow("readings that never change")
            << QString()
            << QStringList {QStringLiteral("reply RM Y|OK:0:RM Y:100.0000"),
                            QStringLiteral("reply RM CCT|OK:0:RM CCT:6500.0,0.00000")}
            << QJsonArray() << "*** FAILED GETTING RGB DELTA VALUES! ***" << true << false << "r:204" << "";
        QTest::newRow("gains refused")
            << lastLevel << QStringList()
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"times", -1}, {"status", 500}, {"body", "overloaded"}}}
            << "Correction stopped with display error HTTP error 500: overloaded" << true << true
            << "20×g:500 r:500 c:500" << "";
        QTest::newRow("gains refused from the first level")
            << "Getting maximum brightness level" << QStringList()
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"times", -1}, {"status", 500}, {"body", "overloaded"}}}
            << "Correction stopped with display error HTTP error 500: overloaded" << true << false
            << "20×g:500 r:500" << "";
        QTest::newRow("processor gone")
            << lastLevel << QStringList() << QJsonArray {QJsonObject {{"times", -1}, {"action", "close"}}}
            << "Correction stopped with display error end of stream" << true << true
            << "20×g:close r:close c:close" << "";
        QTest::newRow("reset refused")
            << "Sending the correction" << QStringList()
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"status", 500}, {"body", "locked"}}}
            << "Correction could not be sent: HTTP error 500: locked" << true << true << "r:500 c:204" << "";
        QTest::newRow("curves refused")
            << "Sending the correction" << QStringList()
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"delay", 0.01}},
                           QJsonObject {{"method", "PATCH"}, {"status", 500}, {"body", "locked"}}}
            << "Correction could not be sent: HTTP error 500: locked" << true << true << "r:204 c:500" << "";
        const QString sending = QStringLiteral("Sending the correction to the processor...");
        QTest::newRow("reset unanswered, stopped")
            << "Sending the correction" << QStringList()
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"action", "hang"}}}
            << "Correction could not be sent: Operation canceled" << true << true << "r:held" << sending;
        QTest::newRow("curves unanswered, stopped")
            << "Sending the correction" << QStringList()
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"delay", 0.01}},
                           QJsonObject {{"method", "PATCH"}, {"action", "hang"}}}
            << "Correction could not be sent: Operation canceled" << true << true << "r:204 c:held" << sending;
    }

    void outcomes()
    {
        QFETCH(QString, trigger);
        QFETCH(QStringList, meterFault);
        QFETCH(QJsonArray, rules);
        QFETCH(QString, status);
        QFETCH(bool, completed);
        QFETCH(bool, measured);
        QFETCH(QString, tail);
        QFETCH(QString, waiting);

        QSettings().clear();
        fake_.clearRules();
        fake_.setState(initialState_);
        MeterStandIn meter(QStringLiteral("fake_cr100.py"));
        qputenv("VELTRANO_CR100_PORT", meter.first().toLocal8Bit());

        Veltranor v(net_->io());
        v.idleTimer().stop();
        v.setReadCount(1);
        v.setReadDelay(500);
        v.setSteps(2);
        v.setAmbientBlack(false);
        v.setFilepath(dir_.filePath(QStringLiteral("x")));
        v.vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake_.port()));
        v.vantor()->read();
        QCOMPARE(v.colorimeter(), v.cr100());
        // The correction the operator has, saved in a good file.
        const QString earlierFile = dir_.filePath(QStringLiteral("earlier.tsv"));
        v.correctionPoints = QList<CalibrationPoint>(2);
        v.correctionPoints[1].red = v.correctionPoints[1].redPx = 1.0;
        QVERIFY(v.saveCalibration(QUrl::fromLocalFile(earlierFile)));
        const QByteArray earlierBytes = testsupport::readFile(earlierFile);
        v.setFilename(earlierFile);
        v.setCalibrationAvailable(true);

        QList<QPair<uint, bool>> done;
        bool faulted = false;
        bool scripted = true;
        // Gone before the central object: nothing queued for it runs later.
        QObject context;
        // The operator presses Stop once the processor holds a request; the
        // status then says what the window waits for.
        QString shownAtStop;
        QTimer operatorHand;
        operatorHand.setInterval(50);
        connect(&operatorHand, &QTimer::timeout, &context, [&] {
            for (const QJsonValue& record : fake_.requestLog()) {
                if (record.toObject().value("held").toBool() && v.running()) {
                    operatorHand.stop();
                    shownAtStop = v.statusString();
                    v.setRunning(false);
                    return;
                }
            }
        });
        connect(v.calibrator(), &Calibrator::done, &context, [&](uint n, bool c) { done.append({n, c}); },
                Qt::QueuedConnection);
        const auto fault = [&] {
            if (faulted)
                return;
            faulted = true;
            for (const QString& line : meterFault)
                scripted = meter.control(line) && scripted;
            for (const QJsonValue& r : rules)
                fake_.addRule(r.toObject());
            if (!waiting.isEmpty())
                operatorHand.start();
        };
        if (trigger.isEmpty())
            fault();
        else
            connect(&v, &Veltranor::statusStringChanged, &context, [&] {
                if (v.statusString().startsWith(trigger))
                    fault();
            });
        // Before the meter answers a reading, its stand-in is told what the
        // wall shows for the processor's colour and display gains: 150 nits
        // at full white, 6500 K and Duv 0 whenever the primaries are equal.
        Vantor* vantor = v.vantor();
        connect(v.calibrator(), &Calibrator::takeReading, &context, [&] {
            if (faulted && !meterFault.isEmpty())
                return;
            const double r = vantor->red() * vantor->displayGainRed();
            const double g = vantor->green() * vantor->displayGainGreen();
            const double b = vantor->blue() * vantor->displayGainBlue();
            const QString lum = QString::number(45 * r + 90 * g + 15 * b, 'f', 4);
            const QString cct = QString::number(6500 - 3000 * r + 500 * g + 2500 * b, 'f', 1);
            const QString duv = QString::number(-0.01 * r + 0.02 * g - 0.01 * b, 'f', 5);
            scripted = meter.control(QStringLiteral("reply RM Y|OK:0:RM Y:") + lum)
                       && meter.control(QStringLiteral("reply RM CCT|OK:0:RM CCT:%1,%2").arg(cct, duv)) && scripted;
        }, Qt::QueuedConnection);
        fake_.clearLog();

        v.setRunning(true);
        QVERIFY(v.running());
        QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 240000);
        QCOMPARE(shownAtStop, waiting);
        QVERIFY(faulted && scripted);
        QCOMPARE(v.statusString(), status);
        QCOMPARE(done, (QList<QPair<uint, bool>> {{0u, completed}}));
        QCOMPARE(v.status(), -1);
        QCOMPARE(displayTail(fake_.requestLog()), tail);
        QCOMPARE(v.linearityLog()->data(v.linearityLog()->index(0, 0), LogModel::MessageRole).toString(),
                 measured ? QStringLiteral("Finished Correction:") : QStringLiteral("No level was measured."));
        // Save writes the run's correction, or else the earlier one to its own file.
        QVERIFY(v.calibrationAvailable());
        QCOMPARE(v.filename() == earlierFile, !measured);
        QVERIFY(v.saveCalibration(QUrl::fromLocalFile(v.filename())));
        QCOMPARE(testsupport::readFile(v.filename()) == earlierBytes, !measured);
        fake_.releaseHung();
    }
};

VELTRANO_TEST_MAIN(TestLinearityOutcomes)

#include "tst_linearityoutcomes.moc"
