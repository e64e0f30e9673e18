// ctest-labels: threaded
// How a linearity correction on the stand-in processor ends when a device
// fails: a meter reports an error or a dark level, its readings stop
// changing, it answers nothing at all, the processor refuses the gains or
// goes away, or refuses the closing requests, or holds them until the
// operator stops. Each ends with its own status, the engine's done, the
// levels it kept, how the processor was put back and what reached the
// processor; a correction is told completed only once the processor has it,
// and a run that measured no level leaves the operator's earlier correction
// as it was.
#include "calibrator.h"
#include "cinemeterii.h"
#include "cr100.h"
#include "messagecapture.h"
#include "meterstandin.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

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

// What the correction kept: the step it can be resumed from and the levels
// stored (by index; the brightest is the highest).
QString kept(Calibrator* cal)
{
    QStringList levels;
    for (qsizetype i = 1; i < cal->points.size(); ++i) {
        if (cal->points[i].luminance != 0.0)
            levels.append(QString::number(i));
    }
    return QStringLiteral("resume %1; levels %2").arg(cal->resumeStep()).arg(levels.join(QLatin1Char(' ')));
}

// The shell's lines about how it put the processor back.
QString teardown(const QStringList& messages)
{
    static const QRegularExpression line(
        QStringLiteral("^(Veltranor: Correction |resume \\d+, completed |Cancelled in first step|Display gains zero)"));
    return messages.filter(line).join(QStringLiteral(" | "));
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
        // A meter that answers nothing is given up after 5 s, not 20.
        Calibrator::meterSilenceMs = 5000;
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
        QTest::addColumn<QString>("meter");          // "serial" or "network"
        QTest::addColumn<QString>("trigger");        // status prefix at which the fault starts ("": at once)
        QTest::addColumn<QStringList>("meterFault"); // control lines for the meter stand-in; "silent": no answer
        QTest::addColumn<int>("lasting");            // readings the meter fault lasts (0: to the end)
        QTest::addColumn<QJsonArray>("rules");       // scripted processor answers
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("completed");         // done's second argument
        QTest::addColumn<bool>("measured");          // the run's levels replace the earlier correction
        QTest::addColumn<QString>("kept");           // resume step and stored levels
        QTest::addColumn<QString>("teardown");       // how the shell put the processor back
        QTest::addColumn<QString>("tail");           // what reached the processor
        QTest::addColumn<QString>("waiting");        // Stop once a request is held, with this status ("": no Stop)

        const QString lastLevel = QStringLiteral("Step 2 of 2");
        const QString meterError = QStringLiteral("Correction stopped with colorimeter error ");
        const QString completedTeardown = QStringLiteral("Veltranor: Correction completed. | resume 0, completed 1");
        const QString failedInLevel = QStringLiteral("Veltranor: Correction failed. | resume 1, completed 0");
        const QString failedFirst = QStringLiteral("Veltranor: Correction failed. | resume 0, completed 0 | "
                                                   "Cancelled in first step; reset display gains");
        const QJsonArray noRules;
        const QJsonArray patchesRefused {
            QJsonObject {{"method", "PATCH"}, {"times", -1}, {"status", 500}, {"body", "overloaded"}}};
        QTest::newRow("meter error in a level")
            << "serial" << lastLevel << QStringList {QStringLiteral("reply M|ER:-100:M:fault")} << 0 << noRules
            << meterError + "Error: [ER:-100:M:fault]" << true << true << "resume 1; levels 2" << failedInLevel
            << "r:204 c:204" << "";
        QTest::newRow("dark level")
            << "serial" << lastLevel << QStringList {QStringLiteral("reply RM Y|ER:-304:RM Y:under range")} << 0
            << noRules << "Correction stopped; too dark to proceed." << true << true << "resume 1; levels 2"
            << failedInLevel << "r:204 c:204" << "";
        QTest::newRow("readings that never change")
            << "serial" << QString()
            << QStringList {QStringLiteral("reply RM Y|OK:0:RM Y:100.0000"),
                            QStringLiteral("reply RM CCT|OK:0:RM CCT:6500.0,0.00000")}
            << 0 << noRules << "*** FAILED GETTING RGB DELTA VALUES! ***" << true << false << "resume 0; levels "
            << failedFirst << "r:204" << "";
        QTest::newRow("meter answers nothing")
            << "serial" << "Step 1 of 2: luminance" << QStringList {QStringLiteral("silent")} << 0 << noRules
            << meterError + "no valid reading within 5 s" << true << false << "resume 0; levels " << failedFirst
            << "r:204" << "";
        // Slow is not silent: three recoverable errors and their pauses make
        // one reading longer than the bound, and it is still taken.
        QTest::newRow("meter answering slowly")
            << "serial" << lastLevel << QStringList {QStringLiteral("reply RM CCT|OK:0:RM CCT:0,0")} << 3 << noRules
            << "Correction completed without error" << true << true << "resume 0; levels 1 2" << completedTeardown
            << "r:204 c:204" << "";
        QTest::newRow("network: HTML page")
            << "network" << lastLevel
            << QStringList {R"({"timestamp": false, "body": "<!DOCTYPE html><html><body>Sign in</body></html>"})"}
            << 0 << noRules << meterError + "Cine Meter II: no brightness_SI in reply" << true << true
            << "resume 1; levels 2" << failedInLevel << "r:204 c:204" << "";
        QTest::newRow("network: no new data")
            << "network" << lastLevel << QStringList {R"({"timestamp": false})"} << 0 << noRules
            << meterError + "no new or valid data after multiple retries" << true << true << "resume 1; levels 2"
            << failedInLevel << "r:204 c:204" << "";
        QTest::newRow("network: reply never comes")
            << "network" << lastLevel << QStringList {R"({"delay": 30})"} << 0 << noRules
            << meterError + "Cine Meter II: no answer within 4 s" << true << true << "resume 1; levels 2" << failedInLevel
            << "r:204 c:204" << "";
        QTest::newRow("gains refused")
            << "serial" << lastLevel << QStringList() << 0 << patchesRefused
            << "Correction stopped with display error HTTP error 500: overloaded" << true << true
            << "resume 1; levels 2" << failedInLevel << "20×g:500 r:500 c:500" << "";
        QTest::newRow("gains refused from the first level")
            << "serial" << "Getting maximum brightness level" << QStringList() << 0 << patchesRefused
            << "Correction stopped with display error HTTP error 500: overloaded" << true << false
            << "resume 0; levels " << failedFirst << "20×g:500 r:500" << "";
        QTest::newRow("processor gone")
            << "serial" << lastLevel << QStringList() << 0 << QJsonArray {QJsonObject {{"times", -1}, {"action", "close"}}}
            << "Correction stopped with display error end of stream" << true << true << "resume 1; levels 2"
            << failedInLevel << "20×g:close r:close c:close" << "";
        QTest::newRow("reset refused")
            << "serial" << "Sending the correction" << QStringList() << 0
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"status", 500}, {"body", "locked"}}}
            << "Correction could not be sent: HTTP error 500: locked" << true << true << "resume 0; levels 1 2"
            << completedTeardown << "r:500 c:204" << "";
        QTest::newRow("curves refused")
            << "serial" << "Sending the correction" << QStringList() << 0
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"delay", 0.01}},
                           QJsonObject {{"method", "PATCH"}, {"status", 500}, {"body", "locked"}}}
            << "Correction could not be sent: HTTP error 500: locked" << true << true << "resume 0; levels 1 2"
            << completedTeardown << "r:204 c:500" << "";
        const QString sending = QStringLiteral("Sending the correction to the processor...");
        QTest::newRow("reset unanswered, stopped")
            << "serial" << "Sending the correction" << QStringList() << 0
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"action", "hang"}}}
            << "Correction could not be sent: Operation canceled" << true << true << "resume 0; levels 1 2"
            << completedTeardown << "r:held" << sending;
        QTest::newRow("curves unanswered, stopped")
            << "serial" << "Sending the correction" << QStringList() << 0
            << QJsonArray {QJsonObject {{"method", "PATCH"}, {"delay", 0.01}},
                           QJsonObject {{"method", "PATCH"}, {"action", "hang"}}}
            << "Correction could not be sent: Operation canceled" << true << true << "resume 0; levels 1 2"
            << completedTeardown << "r:204 c:held" << sending;
    }

    void outcomes()
    {
        QFETCH(QString, meter);
        QFETCH(QString, trigger);
        QFETCH(QStringList, meterFault);
        QFETCH(int, lasting);
        QFETCH(QJsonArray, rules);
        QFETCH(QString, status);
        QFETCH(bool, completed);
        QFETCH(bool, measured);
        QFETCH(QString, kept);
        QFETCH(QString, teardown);
        QFETCH(QString, tail);
        QFETCH(QString, waiting);

        QSettings().clear();
        fake_.clearRules();
        fake_.setState(initialState_);
        const bool network = meter == QLatin1String("network");
        MeterStandIn standIn(network ? QStringLiteral("fake_cinemeter.py") : QStringLiteral("fake_cr100.py"));
        if (!network)
            qputenv("VELTRANO_CR100_PORT", standIn.first().toLocal8Bit());

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
        int faultyReadings = 0;
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
        // While the meter fault lasts, the stand-in answers as it says.
        Vantor* vantor = v.vantor();
        connect(v.calibrator(), &Calibrator::takeReading, &context, [&] {
            if (faulted && !meterFault.isEmpty() && (lasting == 0 || faultyReadings < lasting)) {
                ++faultyReadings;
                for (const QString& line : meterFault) {
                    if (line == QLatin1String("silent"))
                        disconnect(v.calibrator(), &Calibrator::takeReading, v.colorimeter(), &Colorimeter::read);
                    else
                        scripted = standIn.control(line) && scripted;
                }
                return;
            }
            const double r = vantor->red() * vantor->displayGainRed();
            const double g = vantor->green() * vantor->displayGainGreen();
            const double b = vantor->blue() * vantor->displayGainBlue();
            const QString lum = QString::number(45 * r + 90 * g + 15 * b, 'f', 4);
            const QString cct = QString::number(6500 - 3000 * r + 500 * g + 2500 * b, 'f', 1);
            const QString duv = QString::number(-0.01 * r + 0.02 * g - 0.01 * b, 'f', 5);
            if (network) {
                const QString body = QStringLiteral("brightness_SI %1 cd/m2\nCCT %2\n\u2206uv %3").arg(lum, cct, duv);
                scripted = standIn.control(QString::fromUtf8(
                               QJsonDocument(QJsonObject {{"body", body}}).toJson(QJsonDocument::Compact)))
                           && scripted;
            } else {
                scripted = standIn.control(QStringLiteral("reply RM Y|OK:0:RM Y:") + lum)
                           && standIn.control(QStringLiteral("reply RM CCT|OK:0:RM CCT:%1,%2").arg(cct, duv))
                           && scripted;
            }
        }, Qt::QueuedConnection);
        if (network) {
            // Chosen after the stand-in's script, which then runs first.
            v.cineMeterII()->setAddress(QStringLiteral("127.0.0.1:") + standIn.first() + QStringLiteral("/meter"));
            // A reply that never comes is given up after 0.2 s, not 4.
            v.cineMeterII()->findChild<QNetworkAccessManager*>()->setTransferTimeout(200);
            v.setColorimeterType(1);
            QCOMPARE(v.colorimeter(), v.cineMeterII());
        }
        fake_.clearLog();
        testsupport::MessageCapture log;

        v.setRunning(true);
        QVERIFY(v.running());
        QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 240000);
        QCOMPARE(shownAtStop, waiting);
        QVERIFY(faulted && scripted);
        QCOMPARE(v.statusString(), status);
        QCOMPARE(done, (QList<QPair<uint, bool>> {{0u, completed}}));
        QCOMPARE(v.status(), status == QLatin1String("Correction completed without error") ? 1 : -1);
        QCOMPARE(::kept(v.calibrator()), kept);
        QCOMPARE(::teardown(log.messages()), teardown);
        // Once the meter has failed, no more gains go to the wall and no
        // more readings are waited for.
        QCOMPARE(log.count(QStringLiteral("****#0    exiting sendRGBGains_"), true), 0);
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
