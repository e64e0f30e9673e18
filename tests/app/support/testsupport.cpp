#include "testsupport.h"

#include <QFile>

namespace testsupport {

QString isolateUserFolders()
{
    static QTemporaryDir home;
    const QByteArray path = home.path().toLocal8Bit();
    qputenv("XDG_CONFIG_HOME", path + "/config");
    qputenv("XDG_DATA_HOME", path + "/data");
    qputenv("XDG_CACHE_HOME", path + "/cache");
    return home.path();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace testsupport
