#include "logmodel.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <cstring>

namespace {

const char kShortcutWarning[] = "Shortcut: Only binding to one of multiple key bindings";

QtMessageHandler defaultMessageHandler = nullptr;
bool handlerInstalled = false;

// The process-wide model while it exists; cleared by its destructor before the
// previous handler is reinstalled, so the hook never reaches a dead model.
std::atomic<LogModel*> appLogModel{nullptr};

// Set while this thread is inside the handler: anything logged from there (by
// Qt, by a view reacting to a new row, ...) only goes to the previous handler.
thread_local bool inHandler = false;

// Debug lines of Qt's own libraries (its "qt.*" categories, and the lines
// without a source location, which our code always gives) go to the previous
// handler only: with Qt's debug categories on, showing a line in the log makes
// Qt log that line's layout and items, which would come back as new lines, and
// so on without end. Qt's warnings and every line of ours still enter the log.
bool isQtChatter(QtMsgType type, const QMessageLogContext& context)
{
    return type == QtDebugMsg && (!context.file || (context.category && std::strncmp(context.category, "qt.", 3) == 0));
}

LogModel::Severity severityFor(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return LogModel::Debug;
    case QtWarningMsg:
        return LogModel::Warning;
    case QtCriticalMsg:
        return LogModel::Critical;
    case QtFatalMsg:
        return LogModel::Fatal;
    default:
        return LogModel::Info;
    }
}

void chain(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (defaultMessageHandler)
        defaultMessageHandler(type, context, msg);
}

} // namespace

LogModel::LogModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

LogModel::~LogModel()
{
    LogModel* self = this;
    if (appLogModel.compare_exchange_strong(self, nullptr) && handlerInstalled) {
        qInstallMessageHandler(defaultMessageHandler);
        handlerInstalled = false;
    }
}

int LogModel::rowCount(const QModelIndex&) const
{
    return int(entries_.size());
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.column() < 0
        || index.row() >= entries_.size())
        return {};

    const Entry& entry = entries_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return displayText(entry);
    case TimeRole:
        return entry.time;
    case CategoryRole:
        return entry.category;
    case SeverityRole:
        return int(entry.severity);
    case FunctionRole:
        return entry.function;
    case MessageRole:
        return entry.message;
    default:
        return {};
    }
}

QHash<int, QByteArray> LogModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(TimeRole, "time");
    names.insert(CategoryRole, "category");
    names.insert(SeverityRole, "severity");
    names.insert(FunctionRole, "function");
    names.insert(MessageRole, "message");
    return names;
}

void LogModel::clear()
{
    beginResetModel();
    entries_.clear();
    endResetModel();
}

void LogModel::appendEntry(QDateTime time, QString category, LogModel::Severity severity,
                           QString function, QString msg)
{
    if (inserting_) {
        // A view logged from inside rowsAboutToBeInserted/rowsInserted: nesting
        // beginInsertRows is not allowed, so add the entry once this one is done.
        QMetaObject::invokeMethod(
            this,
            [this, time, category, severity, function, msg] {
                appendEntry(time, category, severity, function, msg);
            },
            Qt::QueuedConnection);
        return;
    }
    const int row = int(entries_.size());
    inserting_ = true;
    beginInsertRows(QModelIndex(), row, row);
    entries_.append(Entry{std::move(time), std::move(category), severity, std::move(function),
                          std::move(msg)});
    endInsertRows();
    inserting_ = false;
}

QString LogModel::saveTo(QString fileName)
{
    return saveTo(fileName, nullptr);
}

QString LogModel::saveTo(const QString& fileName, bool* opened)
{
    QSaveFile file(fileName);
    const bool isOpen = file.open(QIODevice::WriteOnly);
    if (opened)
        *opened = isOpen;
    if (!isOpen) {
        const QString error = file.errorString();
        qDebug("Unable to open file %s: %s", qPrintable(fileName), qPrintable(error));
        return error;
    }
    for (const Entry& entry : std::as_const(entries_)) {
        file.write(entry.message.toUtf8());
        file.write("\n", 1);
    }
    // A write that failed on the way (a full disk) fails the commit, which
    // then keeps the earlier file; the last flush is checked here, as a
    // commit does not see its failure.
    if (!file.flush() || !file.commit()) {
        QString error = file.errorString();
        if (error.isEmpty())
            error = QStringLiteral("Unknown error");
        qDebug("Unable to write file %s: %s", qPrintable(fileName), qPrintable(error));
        return error;
    }
    return QString();
}

QString LogModel::displayText(const Entry& entry)
{
    return entry.time.toString(Qt::ISODateWithMs) + QStringLiteral(": ") + entry.message;
}

LogModel* GetAppLog()
{
    static LogModel* const model = [] {
        static LogModel instance;
        appLogModel.store(&instance);
        return &instance;
    }();
    if (!handlerInstalled && appLogModel.load() == model) {
        defaultMessageHandler = qInstallMessageHandler(LogMessageHandler);
        handlerInstalled = true;
    }
    return model;
}

void LogMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (inHandler) {
        chain(type, context, msg);
        return;
    }
    inHandler = true;
    if (!msg.contains(QLatin1String(kShortcutWarning)) && !isQtChatter(type, context)) {
        if (LogModel* model = appLogModel.load()) {
            const QDateTime now = QDateTime::currentDateTime();
            const QString category = context.category ? QString::fromUtf8(context.category) : QString();
            const QString function = context.function ? QString::fromUtf8(context.function) : QString();
            const LogModel::Severity severity = severityFor(type);
            // Queued, also on the model's own thread: a message may come from
            // inside the QML engine (a binding, a view being built), and a row
            // inserted there would run the log views' handlers re-entrantly.
            // Posted events keep the order in which the lines were logged,
            // from every thread. Only without an application object (before
            // it exists, or while it is torn down) no event loop would deliver
            // the line, and no scene runs: then it goes in at once.
            const bool queued = model->thread() != QThread::currentThread() || QCoreApplication::instance();
            QMetaObject::invokeMethod(
                model,
                [model, now, category, severity, function, msg] {
                    model->appendEntry(now, category, severity, function, msg);
                },
                queued ? Qt::QueuedConnection : Qt::DirectConnection);
        }
    }
    chain(type, context, msg);
    inHandler = false;
}
