#pragma once

#include <QFile>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVersionNumber>

#include <functional>

class QNetworkAccessManager;
class Veltranor;

// Keeps the program up to date from the update service: reads the update
// feed, publishes the newer versions to the scene, remembers a version the
// user chose to skip, downloads the chosen installer with progress on the
// parent Veltranor's status line and progress bar, then starts the installer
// and quits. GUI thread only.
class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList installers READ installers WRITE setInstallers NOTIFY installersChanged)
    Q_PROPERTY(QStringList versions READ versions WRITE setVersions NOTIFY versionsChanged)
    Q_PROPERTY(QStringList urls READ urls WRITE setUrls NOTIFY urlsChanged)
    Q_PROPERTY(QStringList notes READ notes WRITE setNotes NOTIFY notesChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(int available READ available WRITE setAvailable NOTIFY availableChanged)
    Q_PROPERTY(QString skipVersion READ skipVersion WRITE setSkipVersion NOTIFY skipVersionChanged)
    Q_PROPERTY(bool manualCheck READ manualCheck WRITE setManualCheck NOTIFY manualCheckChanged)

public:
    // Starts a program detached (the system's "open" command by default);
    // false when it could not be started.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    explicit Updater(QObject* parent = nullptr);
    ~Updater() override;

    QStringList installers() const { return installers_; }
    QStringList versions() const { return versions_; }
    QStringList urls() const { return urls_; }
    QStringList notes() const { return notes_; }
    QString error() const { return error_; }
    int available() const { return available_; }
    QString skipVersion() const { return skipVersion_; }
    bool manualCheck() const { return manualCheck_; }

    void setInstallers(const QStringList& installers);
    void setVersions(const QStringList& versions);
    void setUrls(const QStringList& urls);
    void setNotes(const QStringList& notes);
    void setError(const QString& error);
    void setAvailable(int available);
    void setSkipVersion(const QString& skipVersion);
    void setManualCheck(bool manualCheck);

    // The update service's base address: VELTRANO_UPDATE_URL when set,
    // otherwise the maker's HTTPS endpoint.
    static QUrl serviceUrl();

    // Version text as a version number: one leading non-digit is dropped,
    // then every '.'-separated part that is a non-negative int is a segment.
    static QVersionNumber stringToVersion_(const QString& text);

    // One feed item that is newer than the reference version.
    struct Offer {
        QString version; // as the feed gives it
        QString installer;
        QString url;
        QString notes;
    };
    // The items of a feed reply body that are newer than `reference`, in the
    // feed's order; a body that is not a JSON object has none.
    static QList<Offer> newerVersions_(const QByteArray& body, const QVersionNumber& reference);

    // How installers are started and how the program quits after a launch.
    void setLauncher(Launcher launcher) { launcher_ = std::move(launcher); }
    void setQuitter(std::function<void()> quitter) { quitter_ = std::move(quitter); }

    QNetworkAccessManager* feedManager() const { return feedManager_; }
    QNetworkAccessManager* downloadManager() const { return downloadManager_; }

public Q_SLOTS:
    void check(QString channel, bool latest);
    void gotReply(QNetworkReply* reply);
    bool download(QString installer, QUrl location);
    void downloadError(QNetworkReply::NetworkError err);
    void downloadSslErrors(QList<QSslError> errors);
    void downloadProgress(qlonglong read, qlonglong total);
    void downloadFinished();
    void downloadAbort();
    void shutdown();

Q_SIGNALS:
    void installersChanged();
    void errorChanged();
    void versionsChanged();
    void availableChanged();
    void urlsChanged();
    void notesChanged();
    void skipVersionChanged();
    void manualCheckChanged();
    // A feed check has its answer, whatever it was (also one that changes
    // nothing), after the properties took it.
    void checkEnded();

private:
    // True while a download runs and has not yet ended.
    bool downloading_() const { return downloadReply_ && !downloadEnded_; }
    // The running download's reply when `sender` is it and it has not ended.
    QNetworkReply* liveReply_(QObject* sender) const;
    // Writes what the reply has to the installer file; false on a short write.
    bool storeAvailable_();

    void finishDownload_(QString message);
    bool install_(QString path);
    void setProgress_(double progress);
    void setStatus_(QString status);

    Veltranor* veltranor_() const;
    QByteArray userAgent_() const;

    QNetworkAccessManager* feedManager_ = nullptr;
    // The reply of the latest check: an earlier check's answer that comes
    // after it (the start-up check's, say, after a manual one) is no answer.
    QPointer<QNetworkReply> feedReply_;
    QNetworkAccessManager* downloadManager_ = nullptr;
    QPointer<QNetworkReply> downloadReply_;
    QFile installerFile_;
    QStringList installers_;
    QStringList versions_;
    QStringList urls_;
    QStringList notes_;
    QString error_;
    int available_ = 0;
    bool stopped_ = false;
    bool failed_ = false;
    bool downloadEnded_ = false;
    QString skipVersion_;
    bool manualCheck_ = false;

    Launcher launcher_;
    std::function<void()> quitter_;
};
