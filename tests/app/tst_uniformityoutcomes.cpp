// ctest-labels: threaded
// How the mesh work on the stand-in processor ends when the processor fails
// it: a template run whose mesh upload, busy/idle poll or commit is refused,
// cut off or never finishes; the checkerboard mesh and the mesh registration
// whose requests are refused. Each says that it failed and why; the test
// answers the camera observations itself with a wall already at the target.
#include "polledcontext.h"
#include "processorstandin.h"
#include "processorwall.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

namespace {

constexpr double kTarget = 140.0;

// The processor's mesh requests as "kind:outcome" (cal, calBusy, calSave,
// or the method of any other request), in order.
QStringList meshRequests(const QJsonArray& log)
{
    QStringList entries;
    for (const QJsonValue& value : log) {
        const QJsonObject record = value.toObject();
        const QStringList path = record.value("path").toString().split(QLatin1Char('/'));
        const QString kind = path.size() >= 6 && path.at(3) == QLatin1String("tile") ? path.last()
                                                                                      : record.value("method").toString();
        const QJsonValue outcome = record.value("outcome");
        entries.append(kind + QLatin1Char(':')
                       + (outcome.isDouble() ? QString::number(outcome.toInt()) : outcome.toString()));
    }
    return entries;
}

} // namespace

class TestUniformityOutcomes : public QObject
{
    Q_OBJECT

    QTemporaryDir pictures_;
    std::unique_ptr<testsupport::PolledContext> net_;
    ProcessorStandin fake_;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TMPDIR", QFile::encodeName(pictures_.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<testsupport::PolledContext>();
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
    }

    void cleanupTestCase()
    {
        fake_.stop();
        net_.reset();
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QJsonObject>("rule");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("last");  // the last request that reached the processor
        QTest::addColumn<int>("count");     // how many requests of that kind reached it
        QTest::addColumn<int>("saves");     // commits asked for

        const QString calPath = QStringLiteral("/api/v1/tile/AA:BB:CC:DD:EE:00/");
        const QString upload = QStringLiteral("Uniformity failed: mesh upload: UploadLdms: tile AA:BB:CC:DD:EE:00, ");
        QTest::newRow("upload refused")
            << "template" << QJsonObject {{"method", "POST"}, {"path", calPath + "1/cal"}, {"times", -1}, {"status", 500}}
            << upload + "ldm 1, http status 500" << "cal:500" << 1 << 0;
        QTest::newRow("upload cut off")
            << "template" << QJsonObject {{"method", "POST"}, {"path", calPath + "1/cal"}, {"times", -1}, {"action", "close"}}
            << upload + "ldm 1, network error end of stream" << "cal:close" << 1 << 0;
        QTest::newRow("poll refused")
            << "template" << QJsonObject {{"path", calPath + "calBusy"}, {"times", -1}, {"status", 500}}
            << upload + "http status 500" << "calBusy:500" << 1 << 0;
        QTest::newRow("poll cut off")
            << "template" << QJsonObject {{"path", calPath + "calBusy"}, {"times", -1}, {"action", "close"}}
            << upload + "network error end of stream" << "calBusy:close" << 1 << 0;
        QTest::newRow("never idle")
            << "template"
            << QJsonObject {{"path", calPath + "calBusy"}, {"times", -1}, {"status", 200}, {"body", "busy"}}
            << upload + "status timeout" << "calBusy:200" << 301 << 0;
        QTest::newRow("commit refused")
            << "template"
            << QJsonObject {{"path", calPath + "calSave"}, {"times", -1}, {"status", 500}, {"body", "read-only"}}
            << "Uniformity failed: mesh commit: HTTP error 500: read-only" << "calSave:500" << 1 << 1;
        QTest::newRow("commit cut off")
            << "template" << QJsonObject {{"path", calPath + "calSave"}, {"times", -1}, {"action", "close"}}
            << "Uniformity failed: mesh commit: end of stream" << "calSave:close" << 1 << 1;
        QTest::newRow("checkerboard refused")
            << "checkerboard"
            << QJsonObject {{"method", "POST"}, {"path", calPath + "1/cal"}, {"times", -1}, {"status", 500}}
            << "Failed to send the mesh test pattern: UploadLdms: tile AA:BB:CC:DD:EE:00, ldm 1, http status 500"
            << "cal:500" << 1 << 0;
        QTest::newRow("registration pattern refused")
            << "registration"
            << QJsonObject {{"method", "PATCH"}, {"times", -1}, {"status", 500}, {"body", "no pattern"}}
            << "Failed to show the test pattern: HTTP error 500: no pattern" << "PATCH:500" << 2 << 0;
    }

    void outcomes()
    {
        QFETCH(QString, action);
        QFETCH(QJsonObject, rule);
        QFETCH(QString, status);
        QFETCH(QString, last);
        QFETCH(int, count);
        QFETCH(int, saves);

        QSettings().clear();
        fake_.clearRules();
        fake_.clearCalBusy();
        // One receiver of 120 x 80 pixels, 2 x 2 LDMs of 60 x 40.
        fake_.setState(testsupport::meshWallState(1, 120, 80, 2, 2));

        Veltranor v(net_->io());
        v.idleTimer().stop();
        v.setCameraType(0);
        v.vantor()->meshPollInterval = 5;
        v.vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake_.port()));
        v.setMode(Calibrator::ModeTemplate); // fetches the wall
        QCOMPARE(v.vantor()->ldmCount(), 4u);
        v.setTileMeshWidth(2); // a cell on each LDM
        v.setTileMeshHeight(2);
        v.setBtCompliantIterations(3);
        v.setBtMinIterations(3);
        v.setBtMaxIterations(8);
        v.setBalanceTargetRed(kTarget);
        v.setBalanceTargetGreen(kTarget);
        v.setBalanceTargetBlue(kTarget);
        v.setReadDelay(0);

        // The camera's place: every observation finds the wall at the target.
        QObject::disconnect(&v, &Veltranor::grabImageData, v.background(), &Background::grabImageData);
        std::vector<std::unique_ptr<cv::Mat>> images;
        std::vector<std::unique_ptr<QList<cv::Mat*>>> lists;
        QList<QPair<uint, bool>> done;
        QObject context; // gone before the central object: nothing queued for it runs later
        connect(&v, &Veltranor::grabImageData, &context, [&] {
            images.push_back(std::make_unique<cv::Mat>(2, 2, CV_32FC3, cv::Scalar::all(kTarget)));
            lists.push_back(std::make_unique<QList<cv::Mat*>>(QList<cv::Mat*> {images.back().get()}));
            QMetaObject::invokeMethod(&context, [&v, list = lists.back().get()] { v.grabImageDataDone(true, list); },
                                      Qt::QueuedConnection);
        });
        connect(v.calibrator(), &Calibrator::done, &context, [&](uint n, bool c) { done.append({n, c}); },
                Qt::QueuedConnection);

        fake_.clearLog();
        fake_.addRule(rule);
        if (action == QLatin1String("template")) {
            v.setRunning(true);
            QVERIFY(v.running());
            QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 120000);
            // Every uniformity run ends with done(number, true); the status
            // below says that it failed.
            QCOMPARE(done, (QList<QPair<uint, bool>> {{0u, true}}));
        } else if (action == QLatin1String("checkerboard")) {
            v.setMeshTestPattern();
        } else {
            v.runMeshRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 60000);
        }
        QCOMPARE(v.statusString(), status);
        QCOMPARE(v.status(), -1);

        const QStringList requests = meshRequests(fake_.requestLog());
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.last(), last);
        const QString kind = last.section(QLatin1Char(':'), 0, -2);
        QCOMPARE(requests.filter(QRegularExpression(QStringLiteral("^%1:").arg(kind))).size(), count);
        QCOMPARE(requests.filter(QRegularExpression(QStringLiteral("^calSave:"))).size(), saves);
    }
};

VELTRANO_TEST_MAIN(TestUniformityOutcomes)
#include "tst_uniformityoutcomes.moc"
