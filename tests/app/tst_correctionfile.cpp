// The correction file: written, read back and sent to the stand-in processor;
// headers in another order, duplicates, short and long rows; every failure
// text; the folder remembered and the default log file name.
#include "polledcontext.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

using testsupport::PolledContext;

namespace {

const QString kHandles = QStringLiteral("redPx\tredPy\tredMx\tredMy\tgreenPx\tgreenPy\tgreenMx\tgreenMy\t"
                                        "bluePx\tbluePy\tblueMx\tblueMy");
const QString kZeroHandles = QStringLiteral("0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0");

QList<CalibrationPoint> samplePoints()
{
    QList<CalibrationPoint> points;
    for (int i = 0; i < 3; ++i) {
        CalibrationPoint p;
        p.red = i / 3.0;
        p.green = 0.5 * i;
        p.blue = 1e-05 * i;
        p.cct = 6500.123456789 + i;
        p.duv = -0.0012345;
        p.luminance = 100.0 / 7.0;
        p.luminanceTarget = 14.5;
        double* handles[] = {&p.redPx, &p.redPy, &p.redMx, &p.redMy, &p.redSlope, &p.greenPx, &p.greenPy,
                             &p.greenMx, &p.greenMy, &p.greenSlope, &p.bluePx, &p.bluePy, &p.blueMx, &p.blueMy,
                             &p.blueSlope};
        for (int h = 0; h < 15; ++h)
            *handles[h] = (i + 1) * 0.1 + h / 7.0;
        p.redDisplayGain = 0.8 + i;
        p.greenDisplayGain = 0.7;
        p.blueDisplayGain = 0.6;
        p.seconds = 12 + i;
        points.append(p);
    }
    return points;
}

QJsonObject lastPatch(ProcessorStandin& fake)
{
    const QJsonArray log = fake.requestLog();
    for (qsizetype i = log.size() - 1; i >= 0; --i)
        if (log.at(i).toObject().value("method").toString() == QLatin1String("PATCH"))
            return QJsonDocument::fromJson(ProcessorStandin::body(log.at(i).toObject())).object();
    return {};
}

int patchCount(ProcessorStandin& fake)
{
    int n = 0;
    for (const QJsonValue& record : fake.requestLog())
        n += record.toObject().value("method").toString() == QLatin1String("PATCH");
    return n;
}

} // namespace

class TestCorrectionFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<PolledContext> net_;
    ProcessorStandin fake_;
    QTemporaryDir dir_;

    std::unique_ptr<Veltranor> make()
    {
        auto v = std::make_unique<Veltranor>(net_->io());
        v->idleTimer().stop();
        v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake_.port()));
        return v;
    }

    QString path(const QString& name) const { return dir_.filePath(name); }

    QString write(const QString& name, const QByteArray& bytes) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(bytes);
        return file.fileName();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        fake_.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
    }

    void init() { QSettings().clear(); }

    void cleanupTestCase()
    {
        fake_.stop();
        net_.reset();
    }

    // Written, read back (same bytes when saved again) and sent: one PATCH
    // with each primary's curve and the last point's display gains.
    void roundTripAndSend()
    {
        auto v = make();
        const QList<CalibrationPoint> points = samplePoints();
        v->correctionPoints = points;
        const QString first = path(QStringLiteral("first.tsv"));
        QVERIFY(v->saveCalibration(QUrl::fromLocalFile(first)));
        QCOMPARE(v->statusString(), QStringLiteral("Correction saved to %1").arg(first));
        QCOMPARE(v->filepath(), dir_.path() + QLatin1Char('/'));

        const QByteArray bytes = testsupport::readFile(first);
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines[0], QByteArray("#\tred\tgreen\tblue\tcct\tduv\tluminance\tluminanceTarget\tredPx\tredPy\tredMx\t"
                                      "redMy\tredSlope\tgreenPx\tgreenPy\tgreenMx\tgreenMy\tgreenSlope\tbluePx\tbluePy\t"
                                      "blueMx\tblueMy\tblueSlope\tredDisplayGain\tgreenDisplayGain\tblueDisplayGain\t"
                                      "seconds\r"));
        const QList<QByteArray> row = lines[2].chopped(1).split('\t');
        QCOMPARE(row.size(), 27);
        QCOMPARE(row.mid(0, 4), QList<QByteArray>({"1", "0.3333333333333333", "0.5", "1e-05"}));
        QCOMPARE(row[6], QByteArray("14.28571428571429"));
        QCOMPARE(row[26], QByteArray("13"));

        fake_.clearLog();
        QVERIFY(v->readCalibration(QUrl::fromLocalFile(first)));
        QCOMPARE(v->filename(), first);
        QVERIFY(v->calibrationAvailable());
        QVERIFY(!v->running());
        QCOMPARE(v->correctionPoints.size(), 3);
        QCOMPARE(v->correctionPoints[2].seconds, 14u);
        QCOMPARE(v->linearityLog()->data(v->linearityLog()->index(0, 0), LogModel::MessageRole).toString(),
                 QStringLiteral("first.tsv"));
        const QString second = path(QStringLiteral("second.tsv"));
        QVERIFY(v->saveCalibration(QUrl::fromLocalFile(second)));
        QCOMPARE(testsupport::readFile(second), bytes);

        QCOMPARE(patchCount(fake_), 1);
        const QJsonObject patch = lastPatch(fake_);
        const QJsonObject display = patch["dev"]["display"].toObject();
        QCOMPARE(display["gains"].toObject(), QJsonObject({{"r", 2.8}, {"g", 0.7}, {"b", 0.6}}));
        const QString curveKeys[] = {"r", "g", "b"};
        for (int c = 0; c < 3; ++c) {
            const QJsonArray curve =
                QJsonDocument::fromJson(display["out"]["curves"][curveKeys[c]].toString().toUtf8()).array();
            QCOMPARE(curve.size(), 3);
            for (int i = 0; i < 3; ++i) {
                const double* base = &points[i].redPx + 5 * c;
                const QJsonObject handle = curve[i].toObject();
                QVERIFY(qFuzzyCompare(handle["px"].toDouble(), base[0]));
                QVERIFY(qFuzzyCompare(handle["my"].toDouble(), base[3]));
            }
        }
    }

    void readVariants_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("red");
        QTest::addColumn<double>("greenGain");
        const QString longField(600, QLatin1Char('x'));
        QTest::newRow("reordered, extra column")
            << QStringLiteral("extra\tgreenDisplayGain\t%1\tred\r\nfoo\t0.25\t%2\t0.75\r\n").arg(kHandles, kZeroHandles)
            << 1 << 0.75 << 0.25;
        QTest::newRow("later duplicate wins")
            << QStringLiteral("red\t%1\tred\r\n0.1\t%2\t0.9\r\n").arg(kHandles, kZeroHandles) << 1 << 0.9 << 1.0;
        QTest::newRow("short row keeps defaults")
            << QStringLiteral("red\t%1\tgreenDisplayGain\r\n0.5\t0\t0\r\n").arg(kHandles) << 1 << 0.5 << 1.0;
        QTest::newRow("not a number")
            << QStringLiteral("red\t%1\r\nabc\t%2\r\n").arg(kHandles, kZeroHandles) << 1 << 0.0 << 1.0;
        QTest::newRow("row longer than 500 characters")
            << QStringLiteral("note\t%1\tred\r\n%3\t%2\t0.5\r\n0\t%2\t0.6\r\n").arg(kHandles, kZeroHandles, longField)
            << 2 << 0.5 << 1.0;
        QTest::newRow("line feeds only, empty line ends")
            << QStringLiteral("red\t%1\n0.5\t%2\n\n0.7\t%2\n").arg(kHandles, kZeroHandles) << 1 << 0.5 << 1.0;
    }

    void readVariants()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(double, red);
        QFETCH(double, greenGain);
        auto v = make();
        const QString file = write(QStringLiteral("%1.tsv").arg(QTest::currentDataTag()), text.toUtf8());
        QVERIFY(v->readCalibration(QUrl::fromLocalFile(file)));
        QCOMPARE(v->correctionPoints.size(), qsizetype(count));
        QCOMPARE(v->correctionPoints[0].red, red);
        QCOMPARE(v->correctionPoints[0].greenDisplayGain, greenGain);
    }

    void failureTexts_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("target"); // file name in the test folder
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("status"); // %1: the full path
        const QByteArray header = QStringLiteral("red\t%1\r\n").arg(kHandles).toUtf8();
        QTest::newRow("read missing") << "read" << "none.tsv" << QByteArray() << false
                                      << "Can’t open file none.tsv: No such file or directory";
        QTest::newRow("read empty") << "read" << "empty.tsv" << QByteArray("") << false << "File empty.tsv is empty";
        QTest::newRow("read header only") << "read" << "header.tsv" << header << false << "File header.tsv is empty";
        QTest::newRow("read without blueMy")
            << "read" << "partial.tsv" << QStringLiteral("red\t%1\r\n0\t%2\r\n").arg(kHandles.chopped(7), kZeroHandles).toUtf8()
            << false << "File is missing one or more px, py, mx, or my columns, so it can’t be used";
        QTest::newRow("save into missing folder")
            << "save" << "missing/out.tsv" << QByteArray() << false << "Unable to open file %1";
        QTest::newRow("log into missing folder")
            << "log" << "missing/log.txt" << QByteArray() << true << "Unable to open file %1";
        QTest::newRow("log saved") << "log" << "log.txt" << QByteArray() << true << "Log saved to %1";
    }

    // Failures keep the earlier points, except a file without its handle
    // columns, which leaves none; nothing is sent.
    void failureTexts()
    {
        QFETCH(QString, operation);
        QFETCH(QString, target);
        QFETCH(QByteArray, contents);
        QFETCH(bool, result);
        QFETCH(QString, status);
        auto v = make();
        v->correctionPoints = samplePoints();
        const QString file = contents.isNull() ? path(target) : write(target, contents);
        const QUrl url = QUrl::fromLocalFile(file);
        fake_.clearLog();
        const bool ok = operation == "read" ? v->readCalibration(url)
                        : operation == "save" ? v->saveCalibration(url)
                                              : v->saveLog(url);
        QCOMPARE(ok, result);
        QCOMPARE(v->statusString(), status.contains("%1") ? status.arg(file) : status);
        QCOMPARE(patchCount(fake_), 0);
        QCOMPARE(v->correctionPoints.isEmpty(), target == QLatin1String("partial.tsv"));
        QCOMPARE(v->filepath(), QFileInfo(file).path() + QLatin1Char('/'));
    }

    void folderAndLogName()
    {
        auto v = make();
        v->setFilepath(QStringLiteral("x.tsv"));
        QCOMPARE(v->filepath(), QString());
        v->setFilepath(QStringLiteral("/Users/op:1/x.tsv"));
        QCOMPARE(v->filepath(), QStringLiteral("/Users/op:1/"));
        QCOMPARE(QSettings().value("filepath").toString(), QStringLiteral("/Users/op:1/"));
        const QString name = v->defaultLogFileName();
        QVERIFY2(QRegularExpression(QStringLiteral("^/Users/op:1/VeltranoLog-\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\dZ$"))
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
    }
};

VELTRANO_TEST_MAIN(TestCorrectionFile)

#include "tst_correctionfile.moc"
