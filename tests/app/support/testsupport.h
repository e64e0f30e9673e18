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
