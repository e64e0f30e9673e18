#include "testsupport.h"

#include "displaybase.h"

#include <QDir>
#include <QFile>

namespace testsupport {

QString isolateUserFolders()
{
    static QTemporaryDir home;
    const QByteArray path = home.path().toLocal8Bit();
    qputenv("XDG_CONFIG_HOME", path + "/config");
    qputenv("XDG_DATA_HOME", path + "/data");
    qputenv("XDG_CACHE_HOME", path + "/cache");
    // The Documents folder, where files are proposed, lies there too.
    QDir().mkpath(home.path() + "/config");
    QFile dirs(home.path() + "/config/user-dirs.dirs");
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DOCUMENTS_DIR=\"" + path + "/Documents\"\n");
    return home.path();
}

QStringList ldmRecords(DisplayBase& display)
{
    QStringList all;
    for (uint n = 1; n <= display.ldmCount(); ++n) {
        const Macropixel m = display.ldm(n);
        all << QStringLiteral("%1 sel %2 adj %3 lit %4 gains %5 %6 %7 %8 seen %9 %10 %11")
                   .arg(n).arg(m.selected).arg(m.adjustable).arg(m.lit)
                   .arg(m.redGain).arg(m.greenGain).arg(m.blueGain).arg(m.intensityGain)
                   .arg(m.redObserved).arg(m.greenObserved).arg(m.blueObserved);
    }
    return all;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace testsupport
