// The update feed's reading, apart from the network side of the updater so
// that it can be exercised on its own (it needs no parent, no network and no
// meta-object code).
#include "updater.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QVersionNumber Updater::stringToVersion_(const QString& text)
{
    QString digits = text;
    if (!digits.isEmpty() && !digits.at(0).isDigit())
        digits.remove(0, 1);
    QList<int> segments;
    for (const QString& part : digits.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (ok && value >= 0)
            segments.append(value);
    }
    return QVersionNumber(segments);
}

QList<Updater::Offer> Updater::newerVersions_(const QByteArray& body, const QVersionNumber& reference)
{
    QList<Offer> offers;
    const QJsonArray items = QJsonDocument::fromJson(body).object().value(QLatin1String("items")).toArray();
    for (const QJsonValue& value : items) {
        const QJsonObject item = value.toObject();
        Offer offer{item.value(QLatin1String("version")).toString(), item.value(QLatin1String("name")).toString(),
                    item.value(QLatin1String("url")).toString(), item.value(QLatin1String("notes")).toString()};
        const QVersionNumber version = stringToVersion_(offer.version);
        qDebug("version %s, installer %s", qUtf8Printable(version.toString()), qUtf8Printable(offer.installer));
        if (!(reference < version))
            continue;
        qDebug("found new version %s!", qUtf8Printable(offer.version));
        offers.append(std::move(offer));
    }
    return offers;
}
