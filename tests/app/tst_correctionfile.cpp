// The correction file: written, read back and sent to the stand-in processor;
// headers in another order, duplicates, short and long rows; every failure
// text; saves that fail part-way (a full disk, a file size limit, a killed
// process) keep the earlier file; files with values that are no values, or
// too long or too many lines, are refused whole; the folder remembered and
// the default log file name.
#include "correctionfile.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <memory>

#include <sys/resource.h>

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
        p.redDisplayGain = 0.8 + 0.5 * i;
        p.greenDisplayGain = 0.7;
        p.blueDisplayGain = 0.6;
        p.seconds = 12 + i;
        points.append(p);
    }
    return points;
}

// A long run: n points, each different.
QList<CalibrationPoint> manyPoints(int n)
{
    QList<CalibrationPoint> points(n, samplePoints().at(1));
    for (int i = 0; i < n; ++i) {
        points[i].red = points[i].green = points[i].blue = double(i) / n;
        points[i].redPx = points[i].greenPx = points[i].bluePx = double(i) / n + 1e-7;
        points[i].seconds = quint32(i);
    }
    return points;
}

// Lines the log needs to take more than a few pages.
void growLog(int lines)
{
    for (int i = 0; i < lines; ++i)
        GetAppLog()->appendEntry(QDateTime::currentDateTime(), QString(), LogModel::Info, QString(),
                                 QStringLiteral("line %1 of a log that fills more than one page").arg(i));
}

// The peak resident memory of this process so far, in MB.
long peakMemoryMb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// While it lives, a file this process writes cannot grow past `bytes`: the
// write that would fails (EFBIG) instead of killing the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit {bytes, old_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_ {};
    void (*oldHandler_)(int) = nullptr;
};

// Whether the process has a file of `folder` open (a temporary file without
// a name included).
bool holdsFileIn(qint64 pid, const QString& folder)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget().startsWith(folder + QLatin1Char('/')))
            return true;
    return false;
}

// The full-disk rows mount a small file system that only this process sees.
const bool privateMounts = testsupport::enterPrivateMounts();

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
    static bool isChild() { return !qEnvironmentVariableIsEmpty("TST_CHILD_SAVE"); }

    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
        if (isChild())
            return; // a process that will be killed starts no stand-in
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
        QCOMPARE(display["gains"].toObject(), QJsonObject({{"r", 1.8}, {"g", 0.7}, {"b", 0.6}}));
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
        const QString tail = QStringLiteral("\t%1\t0.5").arg(kZeroHandles);
        QTest::newRow("row of exactly 8192 bytes")
            << QStringLiteral("note\t%1\tred\r\n%2%3\r\n").arg(kHandles, QString(8192 - tail.size(), 'x'), tail)
            << 1 << 0.5 << 1.0;
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
        // Read, then sent to the processor the test drives.
        QCOMPARE(v->statusString(), QStringLiteral("Correction read from %1 and sent").arg(QFileInfo(file).fileName()));
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
        QTest::addColumn<QJsonObject>("rule"); // the processor's answer to the sent correction
        const QByteArray header = QStringLiteral("red\t%1\r\n").arg(kHandles).toUtf8();
        QTest::newRow("read missing") << "read" << "none.tsv" << QByteArray() << false
                                      << "Can’t open file none.tsv: No such file or directory" << QJsonObject();
        QTest::newRow("read empty") << "read" << "empty.tsv" << QByteArray("") << false << "File empty.tsv is empty"
                                    << QJsonObject();
        QTest::newRow("read header only") << "read" << "header.tsv" << header << false << "File header.tsv is empty"
                                          << QJsonObject();
        QTest::newRow("read without blueMy")
            << "read" << "partial.tsv" << QStringLiteral("red\t%1\r\n0\t%2\r\n").arg(kHandles.chopped(7), kZeroHandles).toUtf8()
            << false << "File is missing one or more px, py, mx, or my columns, so it can’t be used" << QJsonObject();
        QTest::newRow("save into missing folder")
            << "save" << "missing/out.tsv" << QByteArray() << false << "Unable to open file %1" << QJsonObject();
        QTest::newRow("log into missing folder")
            << "log" << "missing/log.txt" << QByteArray() << false << "Unable to open file %1" << QJsonObject();
        QTest::newRow("log saved") << "log" << "log.txt" << QByteArray() << true << "Log saved to %1"
                                   << QJsonObject();
        QTest::newRow("read, sending refused")
            << "read" << "refused.tsv"
            << QStringLiteral("red\t%1\r\n0.5\t%2\r\n").arg(kHandles, kZeroHandles).toUtf8()
            << false << "Correction could not be sent: HTTP error 500: locked"
            << QJsonObject {{"method", "PATCH"}, {"status", 500}, {"body", "locked\n"}};
    }

    // Failures keep the earlier points, except a file read whose correction
    // the processor refuses, which stays loaded; only that one is sent.
    void failureTexts()
    {
        QFETCH(QString, operation);
        QFETCH(QString, target);
        QFETCH(QByteArray, contents);
        QFETCH(bool, result);
        QFETCH(QString, status);
        QFETCH(QJsonObject, rule);
        auto v = make();
        v->correctionPoints = samplePoints();
        const QString file = contents.isNull() ? path(target) : write(target, contents);
        const QUrl url = QUrl::fromLocalFile(file);
        fake_.clearLog();
        fake_.clearRules();
        if (!rule.isEmpty())
            fake_.addRule(rule);
        const bool ok = operation == "read" ? v->readCalibration(url)
                        : operation == "save" ? v->saveCalibration(url)
                                              : v->saveLog(url);
        QCOMPARE(ok, result);
        QCOMPARE(v->statusString(), status.contains("%1") ? status.arg(file) : status);
        // Only a file that was read is sent; a refused send keeps its points.
        QCOMPARE(patchCount(fake_), rule.isEmpty() ? 0 : 1);
        QCOMPARE(v->correctionPoints.size(), rule.isEmpty() ? samplePoints().size() : 1);
        QCOMPARE(v->filepath(), QFileInfo(file).path() + QLatin1Char('/'));
    }

    void savesKeepTheEarlierFile_data()
    {
        QTest::addColumn<QString>("what");  // "correction" or "log"
        QTest::addColumn<QString>("how");   // "full disk", "size limit", "killed at limit", "killed"
        QTest::addColumn<int>("points");    // of the new correction
        QTest::newRow("correction, full disk") << "correction" << "full disk" << 11;
        QTest::newRow("log, full disk") << "log" << "full disk" << 0;
        QTest::newRow("correction, write fails past 1 kB") << "correction" << "size limit" << 11;
        QTest::newRow("log, write fails past 1 kB") << "log" << "size limit" << 0;
        QTest::newRow("correction of 11 points, killed at 1 kB") << "correction" << "killed at limit" << 11;
        QTest::newRow("correction of 1000 points, killed at 1 kB") << "correction" << "killed at limit" << 1000;
        QTest::newRow("log, killed at 1 kB") << "log" << "killed at limit" << 0;
        QTest::newRow("correction of 100000 points, killed while saving") << "correction" << "killed" << 100000;
    }

    // A save that fails part-way, or a program killed while it saves, leaves
    // the earlier file as it was; a failed save says so and returns false.
    void savesKeepTheEarlierFile()
    {
        QFETCH(QString, what);
        QFETCH(QString, how);
        QFETCH(int, points);
        const bool log = what == QLatin1String("log");
        std::unique_ptr<testsupport::SmallDisk> disk;
        QTemporaryDir scratch; // also the child's temporary folder
        QString folder = scratch.filePath(QStringLiteral("files"));
        QVERIFY(QDir().mkpath(folder));
        if (how == QLatin1String("full disk")) {
            if (!privateMounts)
                QSKIP("this machine gives the test no mount namespace of its own (needs root): no full disk");
            disk = std::make_unique<testsupport::SmallDisk>(256 * 1024);
            if (!disk->isMounted())
                QSKIP(qPrintable(QStringLiteral("no small disk: %1").arg(disk->errorString())));
            folder = disk->path();
        }
        const QString target = folder + (log ? QStringLiteral("/earlier.log") : QStringLiteral("/earlier.tsv"));
        const QUrl url = QUrl::fromLocalFile(target);

        // The earlier, good file.
        auto v = make();
        v->correctionPoints = samplePoints();
        growLog(200);
        QVERIFY(log ? v->saveLog(url) : v->saveCalibration(url));
        const QByteArray earlier = testsupport::readFile(target);
        QVERIFY(earlier.size() > 1000);
        growLog(200); // the new log takes more pages than the earlier one
        v->correctionPoints = manyPoints(points);

        if (how == QLatin1String("full disk") || how == QLatin1String("size limit")) {
            bool ok = true;
            if (disk) {
                QVERIFY(disk->fill());
                ok = log ? v->saveLog(url) : v->saveCalibration(url);
            } else {
                FileSizeLimit limit(1024);
                ok = log ? v->saveLog(url) : v->saveCalibration(url);
            }
            QVERIFY(!ok);
            QCOMPARE(v->statusString(), QStringLiteral("Unable to write file %1").arg(target));
            // Nor is the partial new file left beside it.
            QStringList left = QDir(folder).entryList(QDir::Files);
            left.removeOne(QStringLiteral("filler"));
            QCOMPARE(left, QStringList {QFileInfo(target).fileName()});
        } else {
            // Another process saves and is killed part-way: by the file size
            // limit as its write passes 1 kB, or by us while it saves.
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TST_CHILD_SAVE"), target);
            env.insert(QStringLiteral("TST_CHILD_WHAT"), what);
            env.insert(QStringLiteral("TST_CHILD_POINTS"), QString::number(points));
            env.insert(QStringLiteral("TST_CHILD_LIMIT"), how == QLatin1String("killed") ? "0" : "1024");
            env.insert(QStringLiteral("TMPDIR"), scratch.path()); // the child's own folders go with ours
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::SeparateChannels);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("saveInChild")});
            QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
            QByteArray output;
            if (how == QLatin1String("killed")) {
                // Killed as soon as it holds a file of the target's folder
                // open: formatting the points alone takes far longer.
                QDeadlineTimer deadline(120000);
                while (child.state() == QProcess::Running && !deadline.hasExpired()
                       && !holdsFileIn(child.processId(), folder))
                    child.waitForReadyRead(1); // also notices the child's end
                child.kill();
            }
            QVERIFY(child.waitForFinished(120000));
            output += child.readAllStandardOutput();
            if (output.contains("child save returned"))
                QSKIP("the save ended before the kill: nothing to check");
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        }
        QCOMPARE(testsupport::readFile(target), earlier);
    }

    // The child process of the kill rows of savesKeepTheEarlierFile.
    void saveInChild()
    {
        if (!isChild())
            QSKIP("runs only as the child process of savesKeepTheEarlierFile");
        const QString target = qEnvironmentVariable("TST_CHILD_SAVE");
        const bool log = qEnvironmentVariable("TST_CHILD_WHAT") == QLatin1String("log");
        const rlim_t bytes = rlim_t(qEnvironmentVariableIntValue("TST_CHILD_LIMIT"));
        auto v = std::make_unique<Veltranor>(net_->io());
        v->idleTimer().stop();
        v->correctionPoints = manyPoints(qEnvironmentVariableIntValue("TST_CHILD_POINTS"));
        growLog(400);
        const rlimit noCore {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (bytes > 0) {
            std::signal(SIGXFSZ, SIG_DFL); // a write past the limit kills
            const rlimit limit {bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const bool ok = log ? v->saveLog(QUrl::fromLocalFile(target)) : v->saveCalibration(QUrl::fromLocalFile(target));
        std::printf("child save returned %d\n", int(ok));
        std::fflush(stdout);
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QByteArray>("contents"); // empty: a sparse file of `size` zero bytes
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("status"); // %1: the file name
        const QString header = QStringLiteral("red\t%1\tgreenDisplayGain\tcct\r\n").arg(kHandles);
        const auto row = [](const QString& red, const QString& handle, const QString& gain, const QString& cct) {
            return QStringLiteral("%1\t%2\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t%3\t%4\r\n").arg(red, handle, gain, cct);
        };
        const QString good = row("0.5", "0.25", "1", "6500");
        const auto file = [&](const QString& rows) { return (header + good + rows).toUtf8(); };
        QTest::newRow("nan handle") << file(row("0.5", "nan", "1", "6500")) << qint64(0)
                                    << "File %1 can’t be used: line 3, column 2 (redPx) is not a finite number";
        QTest::newRow("infinite gain") << file(row("0.5", "0.1", "inf", "6500")) << qint64(0)
                                       << "File %1 can’t be used: line 3, column 14 (greenDisplayGain) is not a finite number";
        QTest::newRow("minus infinite level") << file(row("-inf", "0.1", "1", "6500")) << qint64(0)
                                              << "File %1 can’t be used: line 3, column 1 (red) is not a finite number";
        QTest::newRow("nan measured value") << file(good + row("0.5", "0.1", "1", "NaN")) << qint64(0)
                                            << "File %1 can’t be used: line 4, column 15 (cct) is not a finite number";
        QTest::newRow("beyond a double") << file(row("0.5", "1e309", "1", "6500")) << qint64(0)
                                         << "File %1 can’t be used: line 3, column 2 (redPx) is not a finite number";
        QTest::newRow("absurd handle") << file(row("0.5", "1e308", "1", "6500")) << qint64(0)
                                       << "File %1 can’t be used: line 3, column 2 (redPx) lies outside -1000..1000";
        QTest::newRow("absurd gain") << file(row("0.5", "0.1", "1e6", "6500")) << qint64(0)
                                     << "File %1 can’t be used: line 3, column 14 (greenDisplayGain) lies outside 0..2";
        QTest::newRow("negative gain") << file(row("0.5", "0.1", "-5", "6500")) << qint64(0)
                                       << "File %1 can’t be used: line 3, column 14 (greenDisplayGain) lies outside 0..2";
        // The processor's next state read would refuse it.
        QTest::newRow("gain past the processor's") << file(row("0.5", "0.1", "2.000001", "6500")) << qint64(0)
                                       << "File %1 can’t be used: line 3, column 14 (greenDisplayGain) lies outside 0..2";
        QTest::newRow("CCT no meter reports") << file(row("0.5", "0.1", "1", "1e308")) << qint64(0)
                                              << "File %1 can’t be used: line 3, column 15 (cct) lies outside 0..100000";
        CalibrationPoint zero;
        zero.redDisplayGain = zero.greenDisplayGain = zero.blueDisplayGain = 0.0;
        QTest::newRow("every level, handle and gain 0") << CorrectionFile::write(QList<CalibrationPoint>(17, zero))
            << qint64(0) << "File %1 can’t be used: every level, handle and display gain is 0";
        QTest::newRow("long header") << (QStringLiteral("%1\t").arg(QString(9000, QLatin1Char('n'))) + header + good).toUtf8()
                                     << qint64(0) << "File %1 can’t be used: line 1 is longer than 8192 bytes";
        QTest::newRow("long row") << file(QStringLiteral("%1\t").arg(QString(8200, QLatin1Char('7'))) + good)
                                  << qint64(0) << "File %1 can’t be used: line 3 is longer than 8192 bytes";
        QTest::newRow("row of 8193 bytes") << file(good.chopped(2) + QString(8193 - good.size() + 2, QLatin1Char('\t')) + "\r\n")
                                           << qint64(0) << "File %1 can’t be used: line 3 is longer than 8192 bytes";
        QTest::newRow("32 MB without a line end") << QByteArray() << qint64(32) * 1024 * 1024
                                                  << "File %1 can’t be used: line 1 is longer than 8192 bytes";
        QString rows;
        for (int i = 0; i < 20000; ++i)
            rows += good;
        QTest::newRow("20000 rows") << (header + rows).toUtf8() << qint64(0)
                                    << "File %1 can’t be used: it has more than 10000 rows";
    }

    // A refused file sends nothing and changes neither the points nor
    // whether a correction is available; it is refused fast and small.
    void refusedFiles()
    {
        QFETCH(QByteArray, contents);
        QFETCH(qint64, size);
        QFETCH(QString, status);
        auto v = make();
        v->correctionPoints = samplePoints();
        v->setCalibrationAvailable(true);
        const QString name = QStringLiteral("%1.tsv").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QString file = write(name, contents);
        QVERIFY(!file.isEmpty());
        if (size > 0)
            QVERIFY(QFile::resize(file, size)); // sparse: zero bytes that take no disk
        fake_.clearLog();
        const long memoryBefore = peakMemoryMb();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!v->readCalibration(QUrl::fromLocalFile(file)));
        QVERIFY2(timer.elapsed() < 10000, "a refused file takes at most 10 s");
        QVERIFY2(peakMemoryMb() - memoryBefore < 200, "a refused file takes less than 200 MB");
        QCOMPARE(v->statusString(), status.arg(name));
        QCOMPARE(patchCount(fake_), 0);
        QVERIFY(v->calibrationAvailable());
        QCOMPARE(CorrectionFile::write(v->correctionPoints), CorrectionFile::write(samplePoints()));
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
