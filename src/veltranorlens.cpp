// Lens-compensation images: the lenses offered for the connected camera, the
// images of the chosen lens and the choices restored from the settings.

#include "veltranor.h"

#include <QDebug>
#include <QDir>
#include <QSettings>

#include <algorithm>

namespace {

const QString kLensFolder = QStringLiteral(":src/lenscomp");

// The folder's JPEG names, ordered by name without regard to case: the
// lower-cased names compared code unit by code unit ('.' < '_' < '~'), the
// exact name breaking ties so that the order never depends on the listing.
QStringList sortedLensImages(const QDir& folder)
{
    QStringList names = folder.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Unsorted);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int byLower = QString::compare(a.toLower(), b.toLower(), Qt::CaseSensitive);
        return byLower != 0 ? byLower < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return names;
}

// Empties a lens list; the options it held were made for it and go with it.
void resetLensList(OptionList& list)
{
    QList<Option*> previous;
    for (qsizetype i = 0; i < list.count(); ++i)
        previous.append(list.option(i));
    list.clear();
    // QML may still hold the old entries until it re-reads the list.
    for (Option* option : previous)
        option->deleteLater();
}

void replaceAllThreeTimes(QString& text, const QString& before, const QString& after)
{
    for (int pass = 0; pass < 3; ++pass)
        text.replace(before, after, Qt::CaseSensitive);
}

} // namespace

void Veltranor::lensNameForFile(QString& text)
{
    const qsizetype ending = text.lastIndexOf(QStringLiteral(".jp"));
    if (ending > 0)
        text.truncate(ending);
    text.replace(QLatin1Char('_'), QLatin1Char(' '));
    text.replace(QLatin1Char('^'), QLatin1Char('/'));
    replaceAllThreeTimes(text, QStringLiteral("/0"), QStringLiteral("/"));
    replaceAllThreeTimes(text, QStringLiteral("-0"), QStringLiteral("-"));
    replaceAllThreeTimes(text, QStringLiteral("@0"), QStringLiteral("@"));
    if (!text.isEmpty() && text.contains(QLatin1Char('@'))) {
        if (text.contains(QStringLiteral(" [")))
            text.replace(QStringLiteral(" ["), QStringLiteral("mm ["));
        else
            text.append(QStringLiteral("mm"));
    }
}

void Veltranor::getLensFiles()
{
    resetLensList(lensFileList_);
    resetLensList(lensNameList_);

    const QDir folder(kLensFolder);
    if (!folder.exists()) {
        qDebug("getLensFiles: Can't open image resource directory!");
    } else {
        const QStringList files = sortedLensImages(folder);
        if (cameraName_.isEmpty())
            return;

        // Lenses of this camera, each once, in listing order.
        for (const QString& file : files) {
            const QStringList parts = file.split(QLatin1Char('_'), Qt::KeepEmptyParts);
            if (parts.size() < 2 || parts.first() != cameraName_)
                continue;
            QStringList keyParts;
            for (qsizetype i = 1; i < parts.size() && !parts.at(i).startsWith(QLatin1Char('@')); ++i)
                keyParts.append(parts.at(i));
            const QString key = keyParts.join(QLatin1Char('_'));
            if (key.isEmpty())
                continue;
            bool known = false;
            for (qsizetype i = 0; i < lensNameList_.count() && !known; ++i)
                known = lensNameList_.option(i)->type() == key;
            if (known)
                continue;
            QString display = key;
            lensNameForFile(display);
            lensNameList_.append(new Option(1, display, key, &lensNameList_));
        }
        Q_EMIT lensNameListChanged();

        // The saved lens, when this camera has it. A restore, not a choice:
        // taken whatever runs when the camera connects.
        const QString savedLens = QSettings().value(QStringLiteral("lensName"), QString()).toString();
        for (qsizetype i = 0; i < lensNameList_.count(); ++i) {
            if (lensNameList_.option(i)->type() == savedLens)
                storeLensName_(savedLens);
        }

        // Images of the chosen lens; the number is the position in the listing.
        if (!lensName_.isEmpty()) {
            const QString prefix = QStringLiteral("%1_%2").arg(cameraName_, lensName_);
            for (qsizetype k = 0; k < files.size(); ++k) {
                const QString& file = files.at(k);
                if (!file.startsWith(prefix, Qt::CaseSensitive))
                    continue;
                const qsizetype at = file.lastIndexOf(QLatin1Char('@'));
                QString display = at > 0 ? file.mid(at) : file;
                lensNameForFile(display);
                const QString path = display.isEmpty() ? QString() : QStringLiteral(":src/lenscomp/") + file;
                lensFileList_.append(new Option(int(k), display, path, &lensFileList_));
            }
        }
        Q_EMIT lensFileListChanged();
    }

    // The saved image when it is still offered, else none.
    const QString savedFile = QSettings().value(QStringLiteral("lensFile"), QString()).toString();
    for (qsizetype i = 0; i < lensFileList_.count(); ++i) {
        if (lensFileList_.option(i)->type() == savedFile) {
            storeLensFile_(savedFile);
            return;
        }
    }
    storeLensFile_(QString());
}
