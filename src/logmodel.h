#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

// An in-memory, append-only list of log entries shown live by the scene.
// One process-wide instance (GetAppLog) collects every diagnostic line of every
// thread through the Qt message hook; Veltranor keeps a second one for the
// linearity run's own log.
class LogModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Severity : quint8 {
        Debug = 0,
        Info = 1,
        Warning = 2,
        Critical = 3,
        Fatal = 4,
    };
    Q_ENUM(Severity)

    enum Roles {
        TimeRole = Qt::UserRole + 1,
        CategoryRole,
        SeverityRole,
        FunctionRole,
        MessageRole,
    };

    struct Entry
    {
        QDateTime time;
        QString category;
        Severity severity = Info;
        QString function;
        QString message;
    };

    explicit LogModel(QObject* parent = nullptr);
    ~LogModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE void clear();
    Q_INVOKABLE void appendEntry(QDateTime time, QString category, LogModel::Severity severity,
                                 QString function, QString msg);
    // Writes every message, one per line; returns "" or the file's error text.
    // The earlier file is replaced only by a complete new one.
    Q_INVOKABLE QString saveTo(QString fileName);
    // The same; *opened tells whether the file could be opened at all.
    QString saveTo(const QString& fileName, bool* opened);

    // The display text of an entry: ISO time with milliseconds, ": ", message.
    static QString displayText(const Entry& entry);

private:
    QList<Entry> entries_;
    bool inserting_ = false;
};

// The process-wide log; the first call creates it and installs the message hook.
LogModel* GetAppLog();

// The installed Qt message handler.
void LogMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
