// ctest-labels: threaded
#include "messagecapture.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "updater.h"
#include "veltranor.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

#include <memory>

namespace {

// One program with its updater, driven against the loopback update service.
struct Program {
    boost::asio::io_context context;
    Veltranor veltranor{context};
    Updater* updater = veltranor.updater();
    QList<QPair<QString, QStringList>> launches;
    int quits = 0;
    bool launcherWorks = true;

    Program()
    {
        updater->setLauncher([this](const QString& program, const QStringList& arguments) {
            launches.append({program, arguments});
            return launcherWorks;
        });
        updater->setQuitter([this] { ++quits; });
    }

    // Runs one feed check to its reply.
    bool check(const QString& channel = QStringLiteral("release"), bool latest = true)
    {
        QSignalSpy replies(updater->feedManager(), &QNetworkAccessManager::finished);
        updater->check(channel, latest);
        return replies.wait(30000);
    }
};

QByteArray feed(const QStringList& versions)
{
    QJsonArray items;
    for (const QString& v : versions)
        items.append(QJsonObject{{"version", v}, {"name", "inst-" + v}, {"url", "url-" + v}, {"notes", "notes-" + v}});
    return QJsonDocument(QJsonObject{{"items", items}}).toJson();
}

QByteArray installerBytes(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += char(i % 251);
    return bytes;
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

    ProcessorStandin service_{QStringLiteral("fake_update_feed.py")};
    QTemporaryDir downloads_;

    void setFeed(const QJsonObject& feed) { QVERIFY(!service_.control("POST", "/__feed", feed).isNull()); }
    void setInstaller(const QJsonObject& installer)
    {
        QVERIFY(!service_.control("POST", "/__installer", installer).isNull());
    }
    QUrl installerUrl() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/installers/Veltrano.dmg").arg(service_.port()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QVERIFY2(service_.start(), qPrintable(service_.errorString()));
        // The trash goes into the (temporary) data folder, which must exist.
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
        qputenv("VELTRANO_UPDATE_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(service_.port()));
    }

    void init()
    {
        QSettings().clear();
        setFeed({{"status", 200}, {"body", ""}, {"hang", false}});
    }

    void feedRequestCarriesPathQueryAndAgent()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.0"));
        Program program;
        const int before = service_.control("GET", "/__log").toArray().size();
        QVERIFY(program.check(QStringLiteral("release"), true));
        QVERIFY(program.check(QStringLiteral("beta"), false));

        const QJsonArray log = service_.control("GET", "/__log").toArray();
        QCOMPARE(log.size(), before + 2);
        const QJsonObject latest = log.at(before).toObject();
        QCOMPARE(latest["method"].toString(), QStringLiteral("GET"));
        QCOMPARE(latest["target"].toString(), QStringLiteral("/api/v1/updates/veltrano/release?arch=Darwin-x86_64&latest"));
        QCOMPARE(ProcessorStandin::header(latest, "User-Agent"), QStringLiteral("VANTOR Veltrano/2.0.0"));
        QCOMPARE(log.at(before + 1).toObject()["target"].toString(),
                 QStringLiteral("/api/v1/updates/veltrano/release?arch=Darwin-x86_64"));
    }

    void newerVersionsAreOffered_data()
    {
        QTest::addColumn<QString>("app");
        QTest::addColumn<QString>("skip");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QStringList>("offered");

        QTest::newRow("newer, equal, older, prefixed, suffixed")
            << "2.0.0" << "" << false << QStringList{"1.9", "2.0.0", "V2.1", "2.2-beta"} << QStringList{"V2.1"};
        QTest::newRow("extra zero segment counts as newer") << "2.0" << "" << false << QStringList{"2.0.0"}
                                                            << QStringList{"2.0.0"};
        QTest::newRow("malformed versions") << "1.2" << "" << false
                                            << QStringList{"", "garbage", "ver2.1", "-1.x.3", "1.99999999999", "1.2.-3.4"}
                                            << QStringList{"-1.x.3", "1.2.-3.4"};
        QTest::newRow("start-up check skips") << "2.0.0" << "2.1" << false << QStringList{"2.1", "2.2"}
                                              << QStringList{"2.2"};
        QTest::newRow("manual check ignores skip") << "2.0.0" << "2.1" << true << QStringList{"2.1", "2.2"}
                                                   << QStringList{"2.1", "2.2"};
        QTest::newRow("skip compared as numbers") << "2.10.0" << "2.9" << false << QStringList{"2.9", "2.10.0", "2.11"}
                                                  << QStringList{"2.11"};
    }

    void newerVersionsAreOffered()
    {
        QFETCH(QString, app);
        QFETCH(QString, skip);
        QFETCH(bool, manual);
        QFETCH(QStringList, items);
        QFETCH(QStringList, offered);

        QCoreApplication::setApplicationVersion(app);
        QSettings().setValue("SkipVersion", skip);
        Program program;
        program.updater->setManualCheck(manual);
        program.updater->setAvailable(-999);
        setFeed({{"body", QString::fromUtf8(feed(items))}});
        QVERIFY(program.check());

        Updater& u = *program.updater;
        QCOMPARE(u.versions(), offered);
        QCOMPARE(u.available(), offered.size());
        QStringList installers, urls, notes;
        for (const QString& v : offered) {
            installers << "inst-" + v;
            urls << "url-" + v;
            notes << "notes-" + v;
        }
        QCOMPARE(u.installers(), installers);
        QCOMPARE(u.urls(), urls);
        QCOMPARE(u.notes(), notes);
        QCOMPARE(u.skipVersion(), manual ? QString() : skip);
    }

    void feedRepliesSignalOnlyChanges()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
        Program program;
        Updater& u = *program.updater;
        QSignalSpy available(&u, &Updater::availableChanged);
        QSignalSpy error(&u, &Updater::errorChanged);
        QSignalSpy versions(&u, &Updater::versionsChanged);
        // Every answer ends the check, failures in a row included: the
        // scene's busy phase waits for it.
        QSignalSpy ended(&u, &Updater::checkEnded);

        QVERIFY(program.check()); // empty body: nothing changes
        QCOMPARE(available.count(), 0);

        setFeed({{"body", QString::fromUtf8(feed({"1.1"}))}});
        QVERIFY(program.check());
        QVERIFY(program.check()); // the same count again
        QCOMPARE(u.available(), 1);
        QCOMPARE(available.count(), 1);

        setFeed({{"status", 500}, {"body", "broken"}});
        QVERIFY(program.check());
        QVERIFY(program.check());
        QCOMPARE(u.available(), -1);
        QCOMPARE(available.count(), 2);
        QVERIFY(u.error().contains("Internal Server Error"));
        QCOMPARE(error.count(), 0);
        QCOMPARE(versions.count(), 0);
        QCOMPARE(ended.count(), 5);

        // A check replaced by a later one (the start-up check by a manual
        // one): its late failure neither undoes nor ends the later answer.
        const auto feedRequests = [this] { return service_.control("GET", "/__log").toArray().size(); };
        const qsizetype before = feedRequests();
        setFeed({{"hang", true}});
        QSignalSpy replies(u.feedManager(), &QNetworkAccessManager::finished);
        u.check(QStringLiteral("release"), true);
        QTRY_COMPARE(feedRequests(), before + 1); // it hangs in the stand-in
        setFeed({{"status", 200}, {"body", QString::fromUtf8(feed({"1.1"}))}, {"hang", false}});
        QVERIFY(program.check());
        QCOMPARE(u.available(), 1);
        service_.control("POST", "/__release");
        QTRY_COMPARE_WITH_TIMEOUT(replies.count(), 2, 20000);
        QCOMPARE(u.available(), 1);
        QCOMPARE(ended.count(), 6);

        QSignalSpy skip(&u, &Updater::skipVersionChanged);
        u.setSkipVersion("3.0");
        u.setSkipVersion("3.0");
        QCOMPARE(skip.count(), 1);
        QCOMPARE(QSettings().value("SkipVersion").toString(), QStringLiteral("3.0"));
    }

    void silentFeedEndsAfterTimeout()
    {
        Program program;
        setFeed({{"hang", true}});
        QVERIFY(program.check());
        QCOMPARE(program.updater->available(), -1);
        QCOMPARE(program.updater->error(), QStringLiteral("Operation canceled"));
        service_.control("POST", "/__release");
    }

    void stopMovesThePartialFileToTheTrash()
    {
        // Progress reports come at most every 100 ms: the delay lets the
        // first part be reported on its own.
        setInstaller({{"size", 2048}, {"length", true}, {"delay", 0.3}, {"hold", 512}});
        testsupport::MessageCapture messages; // outlives the program's threads
        Program program;
        const QString path = downloads_.filePath("stopped.dmg");
        QVERIFY(program.updater->download(installerUrl().toString(), QUrl::fromLocalFile(path)));
        QVERIFY(program.veltranor.running());

        QTRY_COMPARE_WITH_TIMEOUT(program.veltranor.statusString(), QStringLiteral("Downloading %1, 25%").arg(path), 20000);
        QCOMPARE(program.veltranor.progress(), 0.25);
        QVERIFY(!program.updater->download(installerUrl().toString(), QUrl::fromLocalFile(path + "2")));

        program.veltranor.setRunning(false); // the Stop button
        service_.control("POST", "/__release");
        QTRY_COMPARE_WITH_TIMEOUT(program.veltranor.statusString(), QStringLiteral("Download stopped."), 20000);
        QTest::qWait(200); // let the aborted reply report whatever it still reports
        QCOMPARE(messages.count("FinishDownload: ", true), 1);
        QCOMPARE(program.veltranor.progress(), -1.0);
        QVERIFY(!program.veltranor.running());
        QVERIFY(!QFile::exists(path));
        const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
        QVERIFY(QFile::exists(trash + "/stopped.dmg"));
        QVERIFY(program.launches.isEmpty());
    }

    void unwritableTargetAbortsAtFirstData()
    {
        setInstaller({{"size", 4096}, {"length", true}, {"delay", 0.3}, {"hold", 0}});
        testsupport::MessageCapture messages; // outlives the program's threads
        Program program;
        const QString path = downloads_.filePath("missing/folder/x.dmg");
        QVERIFY(program.updater->download(installerUrl().toString(), QUrl::fromLocalFile(path)));
        QTRY_VERIFY_WITH_TIMEOUT(!program.veltranor.running(), 20000);
        QTest::qWait(200);
        QCOMPARE(program.veltranor.statusString(), QStringLiteral("Download aborted; unable to write to file."));
        QCOMPARE(messages.count("FinishDownload: ", true), 1);
        QVERIFY(program.launches.isEmpty());
        QCOMPARE(program.quits, 0);
    }

    void finishedDownloadLaunchesAndQuits()
    {
        // No announced size: no percentage while the download runs.
        setInstaller({{"size", 3000}, {"length", false}, {"delay", 0.3}, {"hold", 1000}});
        Program program;
        QStringList statuses;
        connect(&program.veltranor, &Veltranor::statusStringChanged, this,
                [&] { statuses << program.veltranor.statusString(); });
        const QString path = downloads_.filePath("Veltrano 2.1.dmg");
        QVERIFY(program.updater->download(installerUrl().toString(), QUrl::fromLocalFile(path)));
        QTRY_COMPARE_WITH_TIMEOUT(program.veltranor.statusString(), "Downloading " + path, 20000);
        service_.control("POST", "/__release");
        QTRY_COMPARE_WITH_TIMEOUT(program.quits, 1, 30000);

        QCOMPARE(testsupport::readFile(path), installerBytes(3000));
        QVERIFY(statuses.contains("Installer at " + path));
        QCOMPARE(statuses.last(), QStringLiteral("Installer launching; Veltrano will quit..."));
        QCOMPARE(program.veltranor.progress(), 1.0);
        QVERIFY(!program.veltranor.running());
        const QList<QPair<QString, QStringList>> expected{{"open", {"-R", path}}, {"open", {path}}};
        QCOMPARE(program.launches, expected);

        // An installer that cannot be opened keeps the program running.
        program.launcherWorks = false;
        setInstaller({{"length", true}, {"hold", 0}});
        QVERIFY(program.updater->download(installerUrl().toString(), QUrl::fromLocalFile(path)));
        QTRY_VERIFY_WITH_TIMEOUT(!program.veltranor.running(), 20000);
        QCOMPARE(program.veltranor.statusString(), path + " could not be opened; will not install.");
        QCOMPARE(program.quits, 1);
    }

    void shutdownReleasesTheManagers()
    {
        Program program;
        QPointer<QNetworkAccessManager> feedManager = program.updater->feedManager();
        program.updater->shutdown();
        QVERIFY(feedManager.isNull());
        QVERIFY(!program.updater->downloadManager());
        program.updater->check("release", true); // harmless after shutdown
    }
};

VELTRANO_TEST_MAIN(TestUpdater)

#include "tst_updater.moc"
