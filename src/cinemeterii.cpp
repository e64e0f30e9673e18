#include "cinemeterii.h"

#include "meterreplies.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace {

const char* const kFilterLines[] = {
    "4,ND-100-0.3,Radiance", "5,ND-100-0.6,Radiance", "6,ND-100-0.9,Radiance",
    "7,ND-100-1.2,Radiance", "1,ND-100-1.8,Radiance", "2,ND-100-2.1,Radiance",
    "9,CC30M,Radiance",      "2,ND-42-42,Unassigned",
};

const char* const kMatrixLines[] = {
    "0,Matrix One,1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0",
    "1,Second Matrix,1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0",
    "3,Orvane,1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0",
};

constexpr int kTransferTimeoutMs = 4000;
constexpr double kLowLightLimit = 0.05;

} // namespace

CineMeterII::CineMeterII(QObject* parent)
    : Colorimeter(QStringLiteral("Cine Meter II"), parent)
{
    network = new QNetworkAccessManager(this);
    network->setTransferTimeout(kTransferTimeoutMs);
    connect(network, &QNetworkAccessManager::finished, this, &CineMeterII::gotReply);
    QTimer::singleShot(5000, this, &CineMeterII::loadFilterAndMatrixLists_);
}

void CineMeterII::read()
{
    if (address().isEmpty()) {
        setError(QStringLiteral("Cine Meter II: no network address; can't connect"));
        setErrorType(ErrorType(2));
        // A waiting reader needs an outcome, or it waits until stopped.
        Q_EMIT dataAvailable(this);
        return;
    }
    const QUrl url(QStringLiteral("http://") + address(), QUrl::TolerantMode);
    network->get(QNetworkRequest(url));
}

void CineMeterII::gotReply(QNetworkReply* reply)
{
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    lock();
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError) {
        // Nothing here aborts a reading: the transfer limit ended it.
        refuse_(QStringLiteral("Cine Meter II: no answer within %1 s").arg(kTransferTimeoutMs / 1000));
    } else if (reply->error() != QNetworkReply::NoError) {
        // One outcome per reply: an error page's body is not a reading.
        refuse_(reply->errorString());
    } else if (body.isEmpty()) {
        refuse_(QStringLiteral("Cine Meter II: empty reply"));
    } else {
        const MeterReply::NetworkReport report = MeterReply::parseNetworkReport(body);
        const double luminance = report.luminance.value_or(0.0) * filterFactor_;
        // The dark carries no colour: its CCT may be missing or 0.
        const bool dark = luminance < kLowLightLimit;
        // Nothing of a reply with a value that cannot be true is taken.
        if (!report.fault.isEmpty()) {
            refuse_(QStringLiteral("Cine Meter II: bad ") + report.fault);
        } else if (!report.luminance) {
            refuse_(QStringLiteral("Cine Meter II: no brightness_SI in reply"));
        } else if (!MeterReply::plausibleLuminance(luminance)) {
            refuse_(QStringLiteral("Cine Meter II: bad brightness_SI [%1]").arg(report.luminanceText));
        } else if (!dark && !report.cct) {
            refuse_(QStringLiteral("Cine Meter II: no CCT in reply"));
        } else if (!dark && *report.cct == 0.0) {
            refuse_(QStringLiteral("CCT, dUV unavailable / out of range"));
        } else {
            if (report.timestamp)
                setTimestamp(*report.timestamp);
            setLuminanceUnits(report.units);
            if (dark) {
                qDebug("Cine Meter II low light limit");
                setLuminance(0.0);
            } else {
                setLuminance(luminance);
            }
            if (report.cct && *report.cct > 0.0)
                setCct(*report.cct);
            if (report.duv)
                setDuv(*report.duv);
            if (report.xy)
                setCieXY(report.xy->first, report.xy->second);
            setError(QString());
            setErrorType(ErrorType(0));
        }
    }
    unlock();
    Q_EMIT dataAvailable(this);
    reply->deleteLater();
}

void CineMeterII::refuse_(const QString& error)
{
    setError(error);
    setErrorType(ErrorType(1));
}

void CineMeterII::setFilter(int number)
{
    Colorimeter::setFilter(number);
    const int stored = storedFilter();
    qsizetype position = -1;
    for (qsizetype i = 0; i < filterList_.count(); ++i) {
        if (filterList_.option(i)->number() == stored) {
            position = i;
            break;
        }
    }
    if (position < 0)
        return;
    if (position == 0) {
        filterFactor_ = 1.0;
        return;
    }
    const QStringList parts = filterList_.option(position)->name().split(QLatin1Char('-'));
    if (parts.size() < 2) {
        filterFactor_ = 1.0;
        return;
    }
    const QString density = parts.last();
    filterFactor_ = std::pow(10.0, density.toDouble());
    qDebug("CMII: ND value is %s, filter factor is %.2f", qUtf8Printable(density), filterFactor_);
}

void CineMeterII::loadFilterAndMatrixLists_()
{
    for (const char* text : kFilterLines) {
        const QString line = QString::fromLatin1(text);
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() != 3)
            continue;
        auto* option = new Option(fields.at(0).toInt(), fields.at(1), fields.at(2), this);
        if (option->name().startsWith(QLatin1String("ND"))
            && option->type().startsWith(QLatin1String("Radiance"))) {
            filterList_.append(option);
            if (verbose_)
                qDebug("CMII: adding filter %s", qUtf8Printable(line));
        } else if (verbose_) {
            qDebug("CMII: skipping filter %s", qUtf8Printable(line));
        }
    }
    dumpFilters_();
    Q_EMIT filterListChanged();
    setFilter(storedFilter());

    for (const char* text : kMatrixLines) {
        const QString line = QString::fromLatin1(text);
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() < 2)
            continue;
        matrixList_.append(new Option(fields.at(0).toInt(), fields.at(1), QString(), this));
        if (verbose_)
            qDebug("dummy: adding matrix %s", qUtf8Printable(line));
    }
    dumpMatrices_();
    Q_EMIT matrixListChanged();
    Colorimeter::setMatrix(storedMatrix());
}
