#include "updater.h"

#include "veltranor.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProcess>
#include <QSettings>
#include <QThread>

namespace {

const char* const kDefaultServiceUrl = "https://update.tessaline.com";
constexpr int kFeedTimeoutMs = 10000;
constexpr int kQuitDelayMs = 3000;

// Starts "open" detached. The macOS command reveals ("-R") or opens a file;
// elsewhere a program called "open" is something else entirely, so the
// desktop's own handlers stand in for it.
bool systemLauncher(const QString& program, const QStringList& arguments)
{
#if defined(Q_OS_MACOS)
    return QProcess::startDetached(program, arguments);
#else
    if (program != QLatin1String("open") || arguments.isEmpty())
        return false;
    const bool reveal = arguments.size() > 1 && arguments.first() == QLatin1String("-R");
    const QString path = arguments.last();
    const QString target = reveal ? QFileInfo(path).absolutePath() : path;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(target));
#endif
}

} // namespace

Updater::Updater(QObject* parent)
    : QObject(parent)
    , launcher_(systemLauncher)
    , quitter_([] { QCoreApplication::quit(); })
{
    feedManager_ = new QNetworkAccessManager(this);
    feedManager_->setTransferTimeout(kFeedTimeoutMs);
    connect(feedManager_, &QNetworkAccessManager::finished, this, &Updater::gotReply);
}

Updater::~Updater() = default;

// ---------------------------------------------------------------- properties

void Updater::setInstallers(const QStringList& installers)
{
    if (installers_ == installers)
        return;
    installers_ = installers;
    Q_EMIT installersChanged();
}

void Updater::setVersions(const QStringList& versions)
{
    if (versions_ == versions)
        return;
    versions_ = versions;
    Q_EMIT versionsChanged();
}

void Updater::setUrls(const QStringList& urls)
{
    if (urls_ == urls)
        return;
    urls_ = urls;
    Q_EMIT urlsChanged();
}

void Updater::setNotes(const QStringList& notes)
{
    if (notes_ == notes)
        return;
    notes_ = notes;
    Q_EMIT notesChanged();
}

void Updater::setError(const QString& error)
{
    if (error_ == error)
        return;
    error_ = error;
    Q_EMIT errorChanged();
}

void Updater::setAvailable(int available)
{
    if (available_ == available)
        return;
    available_ = available;
    Q_EMIT availableChanged();
}

void Updater::setSkipVersion(const QString& skipVersion)
{
    if (skipVersion_ == skipVersion)
        return;
    skipVersion_ = skipVersion;
    qDebug() << "Skip version" << skipVersion_;
    QSettings().setValue(QStringLiteral("SkipVersion"), skipVersion_);
    Q_EMIT skipVersionChanged();
}

void Updater::setManualCheck(bool manualCheck)
{
    if (manualCheck_ == manualCheck)
        return;
    manualCheck_ = manualCheck;
    Q_EMIT manualCheckChanged();
}

// ------------------------------------------------------------------ service

QUrl Updater::serviceUrl()
{
    const QString overridden = qEnvironmentVariable("VELTRANO_UPDATE_URL");
    return QUrl(overridden.isEmpty() ? QString::fromLatin1(kDefaultServiceUrl) : overridden);
}

// --------------------------------------------------------------------- feed

QByteArray Updater::userAgent_() const
{
    return "VANTOR Veltrano/" + QCoreApplication::applicationVersion().toUtf8();
}

void Updater::check(QString channel, bool latest)
{
    // Only the release channel is served; "beta" and anything else ask for it too.
    Q_UNUSED(channel);
    if (!feedManager_) {
        qDebug("Updater: no update check after shutdown");
        return;
    }
    QUrl url = serviceUrl();
    url.setPath(url.path() + QStringLiteral("/api/v1/updates/veltrano/release"));
    QString query = QStringLiteral("arch=%1").arg(QStringLiteral("Darwin-x86_64"));
    if (latest)
        query += QStringLiteral("&latest");
    url.setQuery(query);

    QNetworkRequest request(url);
    const QByteArray agent = userAgent_();
    request.setRawHeader("User-Agent", agent);
    qDebug("HEADER: User-Agent: %s", agent.constData());
    feedReply_ = feedManager_->get(request);
}

void Updater::gotReply(QNetworkReply* reply)
{
    if (reply != feedReply_) {
        qDebug("Updater: ignoring the answer to an earlier check");
        reply->deleteLater();
        return;
    }
    feedReply_ = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug("Updater network error %d: %ls", int(reply->error()),
               qUtf16Printable(reply->errorString()));
        error_ = reply->errorString();
        setAvailable(-1);
        reply->deleteLater();
        Q_EMIT checkEnded();
        return;
    }
    const QByteArray body = reply->readAll();
    if (body.isEmpty()) {
        reply->deleteLater();
        Q_EMIT checkEnded();
        return;
    }

    installers_.clear();
    versions_.clear();
    urls_.clear();
    notes_.clear();

    QString reference = QCoreApplication::applicationVersion();
    if (!manualCheck_) {
        setSkipVersion(QSettings().value(QStringLiteral("SkipVersion"), QString()).toString());
        // As version numbers: as text, 2.10 would sort before 2.9 and the
        // installed version would be offered again.
        if (stringToVersion_(reference) < stringToVersion_(skipVersion_)) {
            qDebug() << "skipping" << skipVersion_;
            reference = skipVersion_;
        }
    }

    for (const Offer& offer : newerVersions_(body, stringToVersion_(reference))) {
        versions_.append(offer.version);
        installers_.append(offer.installer);
        urls_.append(offer.url);
        notes_.append(offer.notes);
    }
    setAvailable(int(versions_.size()));
    reply->deleteLater();
    Q_EMIT checkEnded();
}

// ----------------------------------------------------------------- download

bool Updater::download(QString installer, QUrl location)
{
    if (downloading_()) {
        qDebug("download %s refused: another download is running", qUtf8Printable(installer));
        return false;
    }
    if (!downloadManager_)
        downloadManager_ = new QNetworkAccessManager(this);

    const QString path = location.toLocalFile();
    qDebug("download %s to %s", qUtf8Printable(installer), qUtf8Printable(path));
    if (installerFile_.isOpen())
        installerFile_.close();
    installerFile_.setFileName(path);
    if (!installerFile_.open(QIODevice::WriteOnly))
        qDebug("download: cannot open %s: %s", qUtf8Printable(path),
               qUtf8Printable(installerFile_.errorString()));
    qDebug("download: %s", qUtf8Printable(installer));

    setProgress_(0.0);
    if (Veltranor* parent = veltranor_())
        parent->runNothing();

    stopped_ = false;
    failed_ = false;
    downloadEnded_ = false;
    QNetworkRequest request{QUrl(installer)};
    request.setRawHeader("User-Agent", userAgent_());
    QNetworkReply* reply = downloadManager_->get(request);
    downloadReply_ = reply;
    connect(reply, &QNetworkReply::errorOccurred, this, &Updater::downloadError);
#if QT_CONFIG(ssl)
    connect(reply, &QNetworkReply::sslErrors, this, &Updater::downloadSslErrors);
#endif
    connect(reply, &QNetworkReply::downloadProgress, this, &Updater::downloadProgress);
    connect(reply, &QNetworkReply::finished, this, &Updater::downloadFinished);
    return true;
}

QNetworkReply* Updater::liveReply_(QObject* sender) const
{
    if (!downloading_() || sender != downloadReply_.data())
        return nullptr;
    return downloadReply_.data();
}

bool Updater::storeAvailable_()
{
    const QByteArray data = downloadReply_->readAll();
    const qint64 written = installerFile_.write(data);
    if (written == data.size())
        return true;
    qDebug("read %lld bytes but wrote %d!", qlonglong(data.size()), int(written));
    return false;
}

void Updater::downloadProgress(qlonglong read, qlonglong total)
{
    QNetworkReply* reply = liveReply_(sender());
    if (!reply)
        return;
    if (!storeAvailable_()) {
        // End first: the abort below reports an error that must not end the
        // download a second time with another message.
        failed_ = true;
        finishDownload_(QStringLiteral("Download aborted; unable to write to file."));
        reply->abort();
        return;
    }
    if (total > 0) {
        const double fraction = double(read) / double(total);
        setProgress_(fraction);
        setStatus_(QStringLiteral("Downloading %1, %2%")
                       .arg(installerFile_.fileName())
                       .arg(int(fraction * 100.0)));
    } else {
        // No announced size: nothing to take a percentage of.
        setStatus_(QStringLiteral("Downloading %1").arg(installerFile_.fileName()));
    }

    Veltranor* parent = veltranor_();
    if (parent && !parent->running()) {
        stopped_ = true;
        reply->abort();
    }
}

void Updater::downloadError(QNetworkReply::NetworkError err)
{
    QNetworkReply* reply = liveReply_(sender());
    if (!reply)
        return;
    qDebug("DOWNLOAD ERROR  %d: %s", int(err), qUtf8Printable(reply->errorString()));
    failed_ = true;
    finishDownload_(QStringLiteral("Download stopped with error: %1").arg(reply->errorString()));
}

void Updater::downloadSslErrors(QList<QSslError> errors)
{
    QNetworkReply* reply = liveReply_(sender());
    if (!reply)
        return;
    qDebug("DOWNLOAD SSL ERRORS: %s", qUtf8Printable(reply->errorString()));
#if QT_CONFIG(ssl)
    qDebug() << errors;
#else
    Q_UNUSED(errors);
#endif
    failed_ = true;
    finishDownload_(QStringLiteral("Download stopped with SSL errors. See Log Messages for details."));
    reply->abort();
}

void Updater::downloadFinished()
{
    QNetworkReply* reply = liveReply_(sender());
    if (!reply)
        return;
    qDebug("download done.");
    // Whatever arrived after the last progress report belongs in the file too.
    if (reply->bytesAvailable() > 0 && !storeAvailable_()) {
        failed_ = true;
        finishDownload_(QStringLiteral("Download aborted; unable to write to file."));
        return;
    }
    finishDownload_(QStringLiteral("Installer at %1").arg(installerFile_.fileName()));
}

void Updater::downloadAbort()
{
    if (!downloading_())
        return;
    stopped_ = true;
    downloadReply_->abort();
}

void Updater::finishDownload_(QString message)
{
    downloadEnded_ = true;
    qDebug("FinishDownload: %s", qUtf8Printable(message));

    installerFile_.flush();
    installerFile_.close();
    const QString path = installerFile_.fileName();
    if (stopped_ && !QFile::moveToTrash(path))
        qDebug("Unable to move %s to the trash", qUtf8Printable(path));

    setProgress_(-1.0);
    setStatus_(stopped_ ? QStringLiteral("Download stopped.") : message);

    const bool launched = !stopped_ && !failed_ && install_(path);

    if (Veltranor* parent = veltranor_())
        parent->setRunning(false);
    if (downloadReply_)
        downloadReply_->deleteLater();

    if (!launched)
        return;
    setProgress_(1.0);
    setStatus_(QStringLiteral("Installer launching; Veltrano will quit..."));
    const QDeadlineTimer deadline(kQuitDelayMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    quitter_();
}

bool Updater::install_(QString path)
{
    qDebug("Installing %s", qUtf8Printable(path));
    if (!QFile::exists(path)) {
        setStatus_(path + QStringLiteral(" does not exist; will not install."));
        return false;
    }
    launcher_(QStringLiteral("open"), {QStringLiteral("-R"), path});
    // Quitting when the installer did not start would leave the user with
    // neither the program nor the installer.
    if (!launcher_(QStringLiteral("open"), {path})) {
        setStatus_(path + QStringLiteral(" could not be opened; will not install."));
        return false;
    }
    return true;
}

// ------------------------------------------------------------------- parent

Veltranor* Updater::veltranor_() const
{
    return qobject_cast<Veltranor*>(parent());
}

void Updater::setProgress_(double progress)
{
    if (Veltranor* parent = veltranor_())
        parent->setProgress(progress);
}

void Updater::setStatus_(QString status)
{
    if (Veltranor* parent = veltranor_())
        parent->setStatusString(status);
}

// ------------------------------------------------------------------ shutdown

void Updater::shutdown()
{
    if (downloadReply_)
        downloadReply_->disconnect(this);
    for (QNetworkAccessManager** manager : {&downloadManager_, &feedManager_}) {
        if (!*manager)
            continue;
        (*manager)->disconnect();
        delete *manager;
        *manager = nullptr;
    }
}
