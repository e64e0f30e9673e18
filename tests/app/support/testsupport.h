#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

class DisplayBase;

namespace testsupport {

// Points the settings store (and every other per-user folder) at a fresh
// temporary folder for the life of the test process. Call before the
// application object exists.
QString isolateUserFolders();

// Each LDM of the display as one line of text: number, flags, gains and
// observed colour.
QStringList ldmRecords(DisplayBase& display);

// Reads a whole file; empty when it cannot be opened.
QByteArray readFile(const QString& path);

// Gives the process a mount namespace of its own, so that SmallDisk can mount
// file systems that no other process sees and that go with the process. Call
// while the process has one thread (from a static initializer); false where
// the machine does not allow it (no root, no namespaces).
bool enterPrivateMounts();

// A small file system (tmpfs) of its own on a fresh folder, to fill up: a
// full disk without touching the machine's disks. Unmounted when destroyed.
class SmallDisk
{
public:
    explicit SmallDisk(qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return mounted_; }
    QString errorString() const { return error_; } // why it is not mounted
    QString path() const { return dir_.path(); }
    // Writes a filler file until the disk is full; false when it never filled.
    bool fill();

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString error_;
};

} // namespace testsupport

// Like QTEST_MAIN, with the settings store isolated and the offscreen platform.
#define VELTRANO_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        testsupport::isolateUserFolders();                                                         \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
