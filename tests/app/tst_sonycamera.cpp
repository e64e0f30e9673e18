// ctest-labels: threaded
#include "messagecapture.h"
#include "simulatedcamerasdk.h"
#include "sonycamera.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace camerasdk;
using Outcome = SimulatedCameraSdk::ConnectOutcome;

namespace {

std::uint64_t value(const SimulatedCameraSdk& sdk, std::uint32_t code)
{
    return sdk.property(code)->GetCurrentValue();
}

void touch(const QString& path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("picture");
}

} // namespace

// The camera against the simulated camera SDK, on the test's own thread:
// the SDK's callbacks arrive on the simulator's thread and reach the camera
// through its event queue.
class TestSonyCamera : public QObject
{
    Q_OBJECT

    QTemporaryDir pictures;
    std::shared_ptr<SimulatedCameraSdk> sdk;
    std::unique_ptr<SonyCamera> camera;

    // A camera on a fresh simulated SDK, connected when `connect`.
    void makeCamera(bool connect = true)
    {
        camera.reset();
        sdk = std::make_shared<SimulatedCameraSdk>();
        camera = std::make_unique<SonyCamera>(false, nullptr, sdk);
        if (connect)
            QVERIFY(camera->connectCamera());
    }
    // Runs property passes until the camera settles (ready, or `expectReady` false: not ready).
    void settle(bool expectReady = true)
    {
        camera->updateProperties();
        if (expectReady)
            QTRY_VERIFY_WITH_TIMEOUT(camera->cameraReady(), 10000);
        else
            QTest::qWait(1500);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(pictures.isValid());
        qputenv("TMPDIR", QFile::encodeName(pictures.path()));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::TempLocation), pictures.path());
    }
    void cleanup() { camera.reset(); }

    void connection_data();
    void connection();
    void unusableSdk();
    void propertyPass_data();
    void propertyPass();
    void shutterForRefreshRate_data();
    void shutterForRefreshRate();
    void whiteBalance_data();
    void whiteBalance();
    void exposureClicks_data();
    void exposureClicks();
    void captureAndDownload();
    void leftoversAtStart();
};

void TestSonyCamera::connection_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("enumError");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("connects");

    QTest::newRow("one camera") << 1 << 0 << int(Outcome::Connect) << true << 0 << "Camera ready" << 1;
    QTest::newRow("connect again once") << 1 << 0 << int(Outcome::AgainThenConnect) << true << 0 << "Camera ready" << 2;
    QTest::newRow("no camera") << 0 << 0 << int(Outcome::Connect) << false << 2 << "No camera detected" << 0;
    QTest::newRow("SDK libraries missing") << 1 << 0x8703 << int(Outcome::Connect) << false << 2
                                           << "Camera discovery error 0x8703; are SDK libraries not installed?" << 0;
    QTest::newRow("discovery error") << 1 << 0x800A << int(Outcome::Connect) << false << 2
                                     << "Camera discovery error 0x800a" << 0;
    QTest::newRow("connect error") << 1 << 0 << int(Outcome::Fail) << false << 2 << "Camera connection error 0x8207" << 1;
}

void TestSonyCamera::connection()
{
    QFETCH(int, cameras);
    QFETCH(int, enumError);
    QFETCH(int, outcome);
    QFETCH(bool, ready);
    QFETCH(int, code);
    QFETCH(QString, status);
    QFETCH(int, connects);

    makeCamera(false);
    sdk->setCameraCount(cameras);
    sdk->setEnumerationError(enumError);
    sdk->setConnectOutcome(Outcome(outcome));
    QSignalSpy statuses(camera.get(), &SonyCamera::status);
    QSignalSpy busy(camera.get(), &SonyCamera::cameraBusyChanged);

    QCOMPARE(camera->connectCamera(), ready);
    QCOMPARE(camera->cameraReady(), ready);
    QCOMPARE(statuses.front().at(1).toString(), QStringLiteral("Looking for camera..."));
    QCOMPARE(statuses.back().at(0).value<ErrorType>().code, code);
    QCOMPARE(statuses.back().at(1).toString(), status);
    QCOMPARE(camera->name(), ready ? QStringLiteral("ILCE-7C") : QString());
    QCOMPARE(sdk->callCount("Connect "), connects);
    // Busy while searching, not afterwards.
    QVERIFY(busy.size() >= 2);
    QCOMPARE(busy.back().at(0).toBool(), false);
    if (ready) {
        QVERIFY(sdk->calls().contains(QStringLiteral("SetSaveInfo %1 [] -1").arg(pictures.path())));
        QVERIFY(sdk->calls().contains("SetDeviceSetting 0 0"));
        // A second connection lets go of the first device before searching.
        sdk->clearCalls();
        QVERIFY(camera->connectCamera());
        QCOMPARE(sdk->calls().mid(0, 3), QStringList({"Disconnect", "ReleaseDevice", "EnumCameraObjects 5"}));
    }
}

void TestSonyCamera::unusableSdk()
{
    camera.reset();
    sdk = std::make_shared<SimulatedCameraSdk>();
    sdk->setInitResult(false);
    camera = std::make_unique<SonyCamera>(false, nullptr, sdk);
    QCOMPARE(camera->statusMessage(), QStringLiteral("Failed to initialize Sony Remote SDK."));
    QSignalSpy anything(camera.get(), &SonyCamera::status);
    QVERIFY(!camera->connectCamera());
    QVERIFY(!camera->reconnectCamera());
    QCOMPARE(anything.count(), 0);
    QCOMPARE(sdk->calls(), QStringList({"Init 0", "Release"}));
}

void TestSonyCamera::propertyPass_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<bool>("ready");
    QTest::newRow("jpeg") << "jpeg" << true;
    QTest::newRow("raw") << "raw" << true;
    QTest::newRow("disabled DRO is skipped") << "dro disabled" << true;
    QTest::newRow("ISO on AUTO") << "iso auto" << false;
    QTest::newRow("saved exposure") << "saved" << true;
}

void TestSonyCamera::propertyPass()
{
    QFETCH(QString, variant);
    QFETCH(bool, ready);
    makeCamera();
    if (variant == "dro disabled")
        sdk->setProperty(DeviceProperty(DroHdrMode, 1, UInt16, {}, 0));
    if (variant == "iso auto")
        sdk->setProperty(DeviceProperty(IsoSensitivity, IsoAuto, UInt32Array, DeviceProperty::list32({IsoAuto, 100, 200})));
    if (variant == "raw")
        camera->useRawImages(true);
    if (variant == "saved") {
        QSettings().setValue("savedShutter", 0x10008);
        QSettings().setValue("savedFNumber", 800);
        QSettings().setValue("savedIso", 200);
        makeCamera();
        camera->useSavedExposure(true);
    }
    settle(ready);

    const bool raw = variant == "raw";
    QCOMPARE(value(*sdk, PriorityKeySettings), 2u);
    QCOMPARE(value(*sdk, ExposureProgramMode), 1u);
    QCOMPARE(value(*sdk, FileType), raw ? 2u : 1u);
    QCOMPARE(value(*sdk, JpegQuality), raw ? 2u : 3u); // only checked for JPEG pictures
    QCOMPARE(value(*sdk, MeteringMode), 6u);
    QCOMPARE(value(*sdk, WhiteBalance), 0x100u);
    QCOMPARE(value(*sdk, ColorTemperature), 6500u);
    QCOMPARE(value(*sdk, FocusMode), 1u);
    QCOMPARE(value(*sdk, DroHdrMode), variant == "dro disabled" ? 1u : 0u);
    QCOMPARE(value(*sdk, StillImageStoreDestination), 1u);
    QCOMPARE(value(*sdk, ShutterSpeed), variant == "saved" ? 0x10008u : 0x10064u);
    QCOMPARE(value(*sdk, FNumber), variant == "saved" ? 800u : 1100u);
    QCOMPARE(camera->cameraReady(), ready);
    QCOMPARE(camera->statusMessage(), ready ? QString() : QStringLiteral("ISO cannot be AUTO: please set a fixed ISO"));
    if (variant == "saved") {
        QSettings().remove("savedShutter");
        QSettings().remove("savedFNumber");
        QSettings().remove("savedIso");
    }
}

void TestSonyCamera::shutterForRefreshRate_data()
{
    QTest::addColumn<double>("hz");
    QTest::addColumn<qulonglong>("shutter");
    QTest::newRow("60 Hz") << 60.0 << qulonglong(0x10005);
    QTest::newRow("50 Hz") << 50.0 << qulonglong(0x10005);
    QTest::newRow("59.94 Hz") << 59.94 << qulonglong(0x10005);
    QTest::newRow("24 Hz") << 24.0 << qulonglong(0x10008);
    QTest::newRow("27 Hz") << 27.0 << qulonglong(0);
}

void TestSonyCamera::shutterForRefreshRate()
{
    QFETCH(double, hz);
    QFETCH(qulonglong, shutter);
    makeCamera();
    settle();
    camera->displayRate(hz);
    QCOMPARE(qulonglong(camera->savedShutter()), shutter);
    QCOMPARE(value(*sdk, ShutterSpeed), shutter ? shutter : 0x10064u);
    QVERIFY(!QSettings().contains("savedShutter"));
}

void TestSonyCamera::whiteBalance_data()
{
    QTest::addColumn<int>("cct");
    QTest::addColumn<int>("expected");
    QTest::newRow("6504 K") << 6504 << 6500;
    QTest::newRow("tie keeps the lower") << 6550 << 6500;
    QTest::newRow("3149 K") << 3149 << 3100;
    QTest::newRow("above the range") << 12000 << 9900;
    QTest::newRow("too far from the minimum") << 20000 << 6500;
}

void TestSonyCamera::whiteBalance()
{
    QFETCH(int, cct);
    QFETCH(int, expected);
    makeCamera();
    settle();
    QCOMPARE(value(*sdk, ColorTemperature), 6500u);
    QCOMPARE(camera->displayColorTemp(cct), expected != 6500);
    QCOMPARE(value(*sdk, ColorTemperature), std::uint64_t(expected));
}

void TestSonyCamera::exposureClicks_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("fnumber");
    QTest::addColumn<int>("iso");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("newFnumber");
    QTest::addColumn<int>("newIso");
    // Apertures ... 710, 800, 900, 1000, 1100, 1300 ...; ISO AUTO, 100, 125 ... 400 ... 6400.
    QTest::newRow("aperture +2 from f/11") << "fnumber" << 2 << 1100 << 400 << 2 << 900 << 400;
    QTest::newRow("aperture never wider than f/8") << "fnumber" << 2 << 800 << 400 << 0 << 800 << 400;
    QTest::newRow("aperture -3") << "fnumber" << -3 << 900 << 400 << -3 << 1300 << 400;
    QTest::newRow("ISO never AUTO") << "iso" << -20 << 1100 << 400 << -6 << 1100 << 100;
    QTest::newRow("ISO from AUTO") << "iso" << 2 << 1100 << int(IsoAuto) << 2 << 1100 << 160;
    QTest::newRow("exposure: f/8 and ISO takes the rest") << "exposure" << 1 << 1100 << 400 << 1 << 800 << 250;
    QTest::newRow("exposure: ISO at its top") << "exposure" << 3 << 800 << 3200 << 1 << 800 << 6400;
}

void TestSonyCamera::exposureClicks()
{
    QFETCH(QString, call);
    QFETCH(int, clicks);
    QFETCH(int, fnumber);
    QFETCH(int, iso);
    QFETCH(int, result);
    QFETCH(int, newFnumber);
    QFETCH(int, newIso);
    makeCamera();
    sdk->setProperty(DeviceProperty(FNumber, std::uint64_t(fnumber), UInt16Array,
                                    DeviceProperty::list16({280, 400, 560, 710, 800, 900, 1000, 1100, 1300, 1400})));
    sdk->setProperty(DeviceProperty(IsoSensitivity, std::uint64_t(iso), UInt32Array,
                                    DeviceProperty::list32({std::uint32_t(IsoAuto), 100, 125, 160, 200, 250, 320,
                                                            400, 500, 640, 800, 1000, 1250, 1600, 3200, 6400})));
    camera->updateProperties(); // takes in the copies
    QSignalSpy adjusted(camera.get(), &SonyCamera::exposureAdjusted);
    int got = 0;
    if (call == "fnumber")
        got = camera->adjustFNumber(clicks);
    else if (call == "iso")
        got = camera->adjustIso(clicks);
    else
        got = camera->adjustExposure(clicks);
    QCOMPARE(got, result);
    QCOMPARE(int(value(*sdk, FNumber)), newFnumber);
    QCOMPARE(int(value(*sdk, IsoSensitivity) & 0xFFFFFFF), newIso);
    QCOMPARE(adjusted.count(), call == "exposure" ? 1 : 0);
}

void TestSonyCamera::captureAndDownload()
{
    const QString source = QDir(pictures.path()).filePath("source.jpg");
    touch(source);
    makeCamera();
    sdk->setPictureFile(source);
    settle();
    QSignalSpy paths(camera.get(), &SonyCamera::imagePathChanged);

    // A picture: shutter down, then the download lets it go and names the file.
    QVERIFY(camera->captureImage());
    QVERIFY(!camera->cameraReady());
    QVERIFY(!camera->captureImage()); // no second capture while the shutter is down
    QCOMPARE(sdk->callCount("SendCommand 0 1"), 1);
    QTRY_COMPARE(paths.count(), 1);
    const QString first = paths.back().at(0).toString();
    QCOMPARE(first, QDir(pictures.path()).filePath("DSC00001.jpg"));
    QCOMPARE(QSettings().value("lastImage").toString(), first);
    QTRY_VERIFY(camera->cameraReady());

    // The next picture replaces the first, whose file goes.
    QVERIFY(camera->captureImage());
    QTRY_COMPARE(paths.count(), 2);
    const QString second = paths.back().at(0).toString();
    QVERIFY(!QFile::exists(first));
    QVERIFY(QFile::exists(second));

    // A camera that reuses the file name: still news, and the file stays.
    sdk->setReuseFileName(true);
    for (int i = 0; i < 2; ++i) {
        QTRY_VERIFY(camera->cameraReady());
        QVERIFY(camera->captureImage());
        QTRY_COMPARE(paths.count(), 3 + i);
        QVERIFY(QFile::exists(paths.back().at(0).toString()));
    }
    QCOMPARE(paths.at(2).at(0), paths.at(3).at(0));

    // The dark frame is set aside and survives the next download.
    const QString dark = camera->imagePath();
    camera->saveImage();
    QCOMPARE(camera->savedImagePath(), dark);
    QCOMPARE(camera->imagePath(), QString());
    // A second dark frame under the same name: its save keeps the frame
    // that it has just set aside.
    QTRY_VERIFY(camera->cameraReady());
    QVERIFY(camera->captureImage());
    QTRY_COMPARE(camera->imagePath(), dark);
    camera->saveImage();
    QCOMPARE(camera->savedImagePath(), dark);
    QVERIFY(QFile::exists(dark));
    sdk->setReuseFileName(false);
    QTRY_VERIFY(camera->cameraReady());
    QVERIFY(camera->captureImage());
    QTRY_VERIFY(!camera->imagePath().isEmpty());
    QVERIFY(QFile::exists(dark));
    const QString lit = camera->imagePath();
    camera->deleteImages();
    QVERIFY(!QFile::exists(dark) && !QFile::exists(lit));

    // The shutter timer after the download changes nothing.
    QTRY_VERIFY(camera->cameraReady());
    QSignalSpy statuses(camera.get(), &SonyCamera::status);
    camera->sendShutterUp();
    QCOMPARE(statuses.count(), 0);

    // A Windows path comes with forward slashes.
    QMetaObject::invokeMethod(camera.get(), [this] { camera->OnCompleteDownload("C:\\pics\\DSC9.JPG", 0); });
    QTRY_COMPARE(camera->imagePath(), QStringLiteral("C:/pics/DSC9.JPG"));

    // A lost connection holds the camera; the SDK's reconnection frees it.
    sdk->injectWarning(WarningReconnecting);
    QTRY_COMPARE(camera->errorType().code, 1);
    QVERIFY(!camera->cameraReady());
    sdk->injectWarning(WarningReconnected);
    QTRY_COMPARE(camera->statusMessage(), QStringLiteral("Camera ready"));
    QTRY_VERIFY(camera->cameraReady());
}

void TestSonyCamera::leftoversAtStart()
{
    QTemporaryDir elsewhere;
    const QString mine = QDir(pictures.path()).filePath("DSC00042.JPG");
    const QString foreign = QDir(elsewhere.path()).filePath("holiday.jpg");
    touch(mine);
    touch(foreign);
    QSettings().setValue("lastImage", mine);
    QSettings().setValue("savedImage", foreign);
    makeCamera(false);
    QVERIFY(!QFile::exists(mine));
    QVERIFY(QFile::exists(foreign));
    QCOMPARE(camera->imagePath(), QString());
    QSettings().remove("lastImage");
    QSettings().remove("savedImage");
}

VELTRANO_TEST_MAIN(TestSonyCamera)
#include "tst_sonycamera.moc"
