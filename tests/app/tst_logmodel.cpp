// ctest-labels: threaded
#include "logmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QLoggingCategory>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <mutex>

namespace {

// What reached the handler that was installed before the log's own.
std::mutex previousMutex;
QStringList previousMessages;

void recordingHandler(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    std::lock_guard lock(previousMutex);
    previousMessages.append(msg);
}

bool previousSaw(const QString& text)
{
    std::lock_guard lock(previousMutex);
    return previousMessages.contains(text);
}

int rowOf(LogModel* model, const QString& message)
{
    for (int row = model->rowCount() - 1; row >= 0; --row) {
        if (model->data(model->index(row), LogModel::MessageRole).toString() == message)
            return row;
    }
    return -1;
}

} // namespace

class TestLogModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The test framework puts its own handler in front; put the log's back.
        qInstallMessageHandler(LogMessageHandler);
    }

    void rolesSeveritiesAndDisplayText()
    {
        LogModel* log = GetAppLog();
        QAbstractItemModelTester tester(log, QAbstractItemModelTester::FailureReportingMode::QtTest);

        qDebug("plain debug line");
        qInfo("an info line");
        qWarning("a warning line");
        qCritical("a critical line");
        QTRY_VERIFY(rowOf(log, "a critical line") >= 0);

        const int debugRow = rowOf(log, "plain debug line");
        QVERIFY(debugRow >= 0);
        QCOMPARE(log->data(log->index(debugRow), LogModel::SeverityRole).toInt(), 0);
        QCOMPARE(log->data(log->index(rowOf(log, "an info line")), LogModel::SeverityRole).toInt(), 1);
        QCOMPARE(log->data(log->index(rowOf(log, "a warning line")), LogModel::SeverityRole).toInt(), 2);
        QCOMPARE(log->data(log->index(rowOf(log, "a critical line")), LogModel::SeverityRole).toInt(), 3);

        const QModelIndex index = log->index(debugRow);
        const QDateTime time = log->data(index, LogModel::TimeRole).toDateTime();
        QVERIFY(time.isValid());
        QVERIFY(qAbs(time.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(log->data(index, Qt::DisplayRole).toString(),
                 time.toString(Qt::ISODateWithMs) + ": plain debug line");
        QCOMPARE(log->data(index, LogModel::MessageRole).toString(), QString("plain debug line"));
        QCOMPARE(log->data(index, LogModel::CategoryRole).toString(), QString("default"));

        // Role names keep the base ones and add the five of the log.
        const auto names = log->roleNames();
        QCOMPARE(names.value(Qt::DisplayRole), QByteArray("display"));
        QCOMPARE(names.value(Qt::UserRole + 1), QByteArray("time"));
        QCOMPARE(names.value(Qt::UserRole + 2), QByteArray("category"));
        QCOMPARE(names.value(Qt::UserRole + 3), QByteArray("severity"));
        QCOMPARE(names.value(Qt::UserRole + 4), QByteArray("function"));
        QCOMPARE(names.value(Qt::UserRole + 5), QByteArray("message"));

        // Out-of-range rows and unknown roles give nothing.
        QVERIFY(!log->data(log->index(log->rowCount()), Qt::DisplayRole).isValid());
        QVERIFY(!log->data(QModelIndex(), Qt::DisplayRole).isValid());
        QVERIFY(!log->data(index, Qt::UserRole + 99).isValid());

        // Every line also reaches the handler that was there before.
        QVERIFY(previousSaw("a warning line"));
    }

    void entryWithoutCategoryOrFunction()
    {
        LogModel model;
        model.appendEntry(QDateTime::currentDateTime(), QString(), LogModel::Fatal, QString(), "bare");
        QCOMPARE(model.data(model.index(0), LogModel::CategoryRole).toString(), QString());
        QCOMPARE(model.data(model.index(0), LogModel::FunctionRole).toString(), QString());
        QCOMPARE(model.data(model.index(0), LogModel::SeverityRole).toInt(), 4);

        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(reset.count(), 1);
    }

    void shortcutWarningIsDropped()
    {
        LogModel* log = GetAppLog();
        const QString text = "QQuickShortcut: Shortcut: Only binding to one of multiple key bindings: Ctrl+Q";
        qWarning("%s", qPrintable(text));
        QCoreApplication::processEvents();
        QCOMPARE(rowOf(log, text), -1);
        QVERIFY(previousSaw(text));
    }

    // With Qt's own debug categories on, each line the log shows makes Qt log
    // that line's layout, which would come back as a new line without end:
    // such lines go only to the previous handler. Qt's warnings and our own
    // debug lines still enter the log.
    void qtDebugLinesStayOutOfTheLog()
    {
        LogModel* log = GetAppLog();
        QLoggingCategory layout("qt.text.layout");
        layout.setEnabled(QtDebugMsg, true);
        qCDebug(layout, "layout of a line the log shows");
        QMessageLogger(nullptr, 0, nullptr).debug("an item of Qt's own, without a source location");
        qCWarning(layout, "a warning of Qt's own");
        qDebug("our own line after them");
        QTRY_VERIFY(rowOf(log, "our own line after them") >= 0);
        QCOMPARE(rowOf(log, "layout of a line the log shows"), -1);
        QVERIFY(previousSaw("layout of a line the log shows"));
        QCOMPARE(rowOf(log, "an item of Qt's own, without a source location"), -1);
        QVERIFY(rowOf(log, "a warning of Qt's own") >= 0);
    }

    void workerThreadMessagesArriveQueued()
    {
        LogModel* log = GetAppLog();
        QThread* worker = QThread::create([] { qWarning("from the worker thread"); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        // Not in the model until the GUI thread handles its events.
        QCOMPARE(rowOf(log, "from the worker thread"), -1);
        QTRY_VERIFY(rowOf(log, "from the worker thread") >= 0);
        QCOMPARE(log->data(log->index(rowOf(log, "from the worker thread")), LogModel::SeverityRole).toInt(), 2);
    }

    // A line never enters the model inside the logging call (it may come from
    // inside the QML engine, whose views must not run then), and lines keep
    // the order in which they were logged, whichever thread logged them.
    void linesAreQueuedInTheOrderLogged()
    {
        LogModel* log = GetAppLog();
        QAbstractItemModelTester tester(log, QAbstractItemModelTester::FailureReportingMode::QtTest);
        bool logging = false;
        int insertedWhileLogging = 0;
        auto connection = connect(log, &QAbstractItemModel::rowsAboutToBeInserted, this, [&] {
            if (logging)
                ++insertedWhileLogging;
        });
        const auto logHere = [&](const char* text) {
            logging = true;
            qDebug("%s", text);
            logging = false;
        };
        logHere("first, on the model's thread");
        QThread* worker = QThread::create([] { qDebug("second, on a worker thread"); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        logHere("third, on the model's thread again");
        QCOMPARE(insertedWhileLogging, 0);
        QTRY_VERIFY(rowOf(log, "third, on the model's thread again") >= 0);
        disconnect(connection);
        const int first = rowOf(log, "first, on the model's thread");
        const int second = rowOf(log, "second, on a worker thread");
        QVERIFY(first >= 0);
        QVERIFY(second > first);
        QVERIFY(rowOf(log, "third, on the model's thread again") > second);
    }

    void loggingWhileAnEntryIsInsertedDoesNotNest()
    {
        LogModel* log = GetAppLog();
        QAbstractItemModelTester tester(log, QAbstractItemModelTester::FailureReportingMode::QtTest);
        int nested = 0;
        auto connection = connect(log, &QAbstractItemModel::rowsInserted, this, [&] {
            if (nested++ == 0)
                qDebug("logged by a view while rows are inserted");
        });
        qDebug("trigger line");
        QTRY_VERIFY(rowOf(log, "trigger line") >= 0);
        // A line logged from inside the view's handler never nests an insert:
        // it is queued like every line and follows once this insert is done.
        QTRY_VERIFY(rowOf(log, "logged by a view while rows are inserted") > rowOf(log, "trigger line"));
        disconnect(connection);

        // A direct append from inside an insert is deferred, not nested.
        LogModel model;
        QAbstractItemModelTester inner(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        bool once = true;
        connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, [&] {
            if (once) {
                once = false;
                model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "second");
            }
        });
        model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "first");
        QCOMPARE(model.rowCount(), 1);
        QTRY_COMPARE(model.rowCount(), 2);
        QCOMPARE(model.data(model.index(1), LogModel::MessageRole).toString(), QString("second"));
    }

    void saveToWritesMessagesOnly()
    {
        QTemporaryDir dir;
        LogModel model;
        const QString empty = dir.filePath("empty.txt");
        QCOMPARE(model.saveTo(empty), QString());
        QCOMPARE(testsupport::readFile(empty), QByteArray());

        model.appendEntry(QDateTime::currentDateTime(), "cat", LogModel::Warning, "fn", "first line");
        model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, QString::fromUtf8("ümlaut – ®"));
        const QString path = dir.filePath("log.txt");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("previous content that is longer than the new one\n\n\n\n\n\n\n\n\n");
        }
        QCOMPARE(model.saveTo(path), QString());
        QCOMPARE(testsupport::readFile(path), QByteArray("first line\n") + QString::fromUtf8("ümlaut – ®\n").toUtf8());

        const QString missing = dir.filePath("no/such/folder/log.txt");
        const QString error = model.saveTo(missing);
        QVERIFY(!error.isEmpty());
        QFile probe(missing);
        QVERIFY(!probe.open(QIODevice::WriteOnly));
        QCOMPARE(error, probe.errorString());
        QTRY_VERIFY(rowOf(GetAppLog(), "Unable to open file " + missing + ": " + error) >= 0);
        QCOMPARE(model.rowCount(), 2);
    }

    void loggingAfterTheLogIsDestroyedIsSafe()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--log-after-exit"});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QByteArray output = child.readAllStandardError();
        QVERIFY(output.contains("logged while the log exists"));
        QVERIFY(output.contains("logged after the log was destroyed"));
    }

    void logPanelStaysAtTheBottom()
    {
        QQmlEngine engine;
        QQmlComponent component(&engine, QUrl("qrc:/src/ui/LogPanel.qml"));
        QScopedPointer<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        auto* view = qobject_cast<QQuickItem*>(object.data());
        QQuickWindow window;
        window.resize(400, 100);
        view->setParentItem(window.contentItem());
        view->setSize(QSizeF(400, 100));
        window.show();
        LogModel model;
        view->setProperty("model", QVariant::fromValue(&model));
        for (int i = 0; i < 50; ++i)
            model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, QString("line %1").arg(i));
        QTRY_VERIFY(view->property("contentHeight").toReal() > 100);
        const qreal contentHeight = view->property("contentHeight").toReal();
        QVERIFY(contentHeight > 100);
        QTRY_VERIFY(view->property("atYEnd").toBool());

        // Scrolled up, the view stays where the operator put it.
        view->setProperty("contentY", 0);
        model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "one more");
        QTest::qWait(50);
        QCOMPARE(view->property("contentY").toReal(), 0.0);
    }
};

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--log-after-exit") == 0) {
        // Registered before the log exists, so it runs after the log is destroyed.
        std::atexit([] { qWarning("logged after the log was destroyed"); });
        GetAppLog();
        qWarning("logged while the log exists");
        return 0;
    }
    testsupport::isolateUserFolders();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(recordingHandler);
    GetAppLog();
    QApplication app(argc, argv);
    TestLogModel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logmodel.moc"
