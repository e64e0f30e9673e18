#include "testsupport.h"

#include "displaybase.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>

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

bool enterPrivateMounts()
{
    // Mounts made afterwards stay in this namespace and end with the process.
    return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

SmallDisk::SmallDisk(qint64 bytes)
{
    if (!dir_.isValid()) {
        error_ = dir_.errorString();
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.constData())
        != 0) {
        error_ = QString::fromLocal8Bit(strerror(errno));
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk()
{
    if (mounted_)
        umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
}

bool SmallDisk::fill()
{
    QFile filler(dir_.filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'f');
    for (int i = 0; i < 1 << 20; ++i) {
        if (filler.write(block) != block.size())
            break;
    }
    // Then byte by byte, for a last partial block.
    while (filler.write("f", 1) == 1) {
    }
    return filler.error() != QFileDevice::NoError;
}

} // namespace testsupport
