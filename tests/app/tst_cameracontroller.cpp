// ctest-labels: threaded
#include "background.h"
#include "cameracontroller.h"
#include "simulateddisplay.h"
#include "simulatedcamerasdk.h"
#include "testsupport.h"
#include "threadhandover.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

// The whole capture chain on its real threads: the controller on the GUI
// thread, the camera on the camera thread, the simulated SDK's callbacks on
// its own thread and the grab worker on the Background thread, photographing
// the simulated display.
class TestCameraController : public QObject
{
    Q_OBJECT

    QTemporaryDir pictures;

    // A controller whose camera is connected and configured.
    std::unique_ptr<CameraController> connected(const std::shared_ptr<SimulatedCameraSdk>& sdk)
    {
        auto controller = std::make_unique<CameraController>(nullptr, sdk);
        controller->connect();
        controller->useRawImages(false); // the first property pass
        const bool configured = QTest::qWaitFor([&] {
            return sdk->property(camerasdk::StillImageStoreDestination)->GetCurrentValue() == 1
                   && controller->cameraReady();
        }, 10000);
        return configured ? std::move(controller) : nullptr;
    }

    // One grab through the grab worker on its own thread, as a run asks for
    // it: false when no answer came; the section averages of a good answer.
    // With `stopAfter`, the run is stopped once the grab has told these waits.
    bool grabAverages(ImageSource* source, SimulatedDisplay& display, bool darkFrame, QList<cv::Vec3f>& averages,
                      const QStringList& stopAfter = {})
    {
        QThread thread;
        auto* worker = new Background;
        worker->moveToThread(&thread);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &Background::blankDisplay, &display, [&](bool blank) { display.lightLitLdms(!blank); });
        int answers = 0;
        connect(worker, &Background::grabImageDataDone, this, [&](bool ok, QList<cv::Mat*>* list) {
            threadhandover::takeOver(list);
            ++answers;
            if (ok)
                for (const cv::Mat* m : *list)
                    averages.append(m->at<cv::Vec3f>(0, 0));
        });
        thread.start();
        QTest::qWaitFor([&] { return thread.eventDispatcher() != nullptr; });
        worker->setImageSource(source);
        worker->setArrayInfo(16, 9, 1600.0f / 900.0f);
        worker->setSubarrayInfo(1, 1);
        worker->setReadDelay(0);
        worker->removeReflections(darkFrame);
        worker->setRunning(true);
        QStringList waits;
        connect(worker, &Background::waitingForPicture, this,
                [&](int tryNumber, int attempt) { waits.append(Background::waitingText(tryNumber, attempt)); });
        QMetaObject::invokeMethod(worker, "grabImageData", Qt::QueuedConnection, Q_ARG(bool, false));
        if (!stopAfter.isEmpty() && QTest::qWaitFor([&] { return waits == stopAfter; }, 15000))
            QMetaObject::invokeMethod(worker, "setRunning", Qt::QueuedConnection, Q_ARG(bool, false));
        const bool answered = QTest::qWaitFor([&] { return answers == 1; }, 60000) && waits.mid(0, stopAfter.size()) == stopAfter;
        thread.quit();
        thread.wait();
        return answered;
    }

private Q_SLOTS:
    void initTestCase() { qputenv("TMPDIR", QFile::encodeName(pictures.path())); }

    void grabYieldsSectionAverages_data()
    {
        QTest::addColumn<bool>("darkFrame");
        QTest::newRow("lit wall") << false;
        QTest::newRow("with a dark frame") << true;
    }
    void grabYieldsSectionAverages()
    {
        QFETCH(bool, darkFrame);
        SimulatedDisplay display;
        display.fetchLdms();
        display.setLdmRGB(1, -0.5, 0.0, 0.0);     // top left: half red
        display.setLdmRGB(144, 0.0, 0.0, -0.4);   // bottom right: less blue
        auto sdk = std::make_shared<SimulatedCameraSdk>();
        sdk->setDisplay(&display);
        auto controller = connected(sdk);
        QVERIFY(controller);

        QList<cv::Vec3f> averages;
        QVERIFY(grabAverages(controller.get(), display, darkFrame, averages));

        QCOMPARE(averages.size(), 144);
        const cv::Vec3f plain = averages.at(60), halfRed = averages.front(), lessBlue = averages.back();
        if (!darkFrame) {
            // Codes: display colour 0.5 of 255, ambient 3, JPEG.
            for (int ch = 0; ch < 3; ++ch)
                QVERIFY2(std::abs(plain[ch] - 130.5f) < 2.5f, qPrintable(QString::number(plain[ch])));
            QVERIFY(std::abs(halfRed[2] - 66.75f) < 2.5f);
            QVERIFY(std::abs(lessBlue[0] - 79.5f) < 2.5f);
        }
        QVERIFY(halfRed[2] < 0.75f * plain[2] && std::abs(halfRed[1] - plain[1]) < 3.0f);
        QVERIFY(lessBlue[0] < 0.85f * plain[0] && std::abs(lessBlue[2] - plain[2]) < 3.0f);
        QCOMPARE(sdk->pictures().size(), darkFrame ? 2 : 1);
        // Analysed pictures are deleted.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(sdk->pictures().front()) && !QFile::exists(sdk->pictures().back()), 10000);
        QCOMPARE(display.ldmIntensityGain(1), 0.0);

        // A picture taken and not analysed goes with the controller.
        controller->grab();
        QCOMPARE(controller->imagePath(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(!controller->imagePath().isEmpty(), 10000);
        const QString last = controller->imagePath();
        QVERIFY(QFile::exists(last));
        controller.reset();
        QVERIFY(!QFile::exists(last));
    }

    void activeDisplayAtTheCameraExposure_data()
    {
        QTest::addColumn<quint64>("shutter"); // numerator << 16 | denominator
        QTest::addColumn<quint64>("iso");
        QTest::addColumn<quint64>("fNumber"); // x 100
        QTest::addColumn<bool>("forget");
        QTest::addColumn<double>("white"); // green code of full white; half red in its red
        QTest::addColumn<double>("halfRed");
        // A 1000 cd/m² white metered to 18 % grey at N² / t = L S / 12.5,
        // through a 1 / 2.2 tone curve: 255 (0.476 + 0.3 / 255)^(1 / 2.2).
        QTest::newRow("as the camera comes") << quint64(0x10064) << quint64(400) << quint64(1100) << false << 182.2
                                            << 133.1;
        QTest::newRow("one stop less") << quint64(0x10064) << quint64(200) << quint64(1100) << false << 133.1 << 97.3;
        QTest::newRow("f/8 at 1/200 s") << quint64(0x100C8) << quint64(400) << quint64(800) << false << 177.6 << 129.8;
        QTest::newRow("overexposed") << quint64(0x10064) << quint64(3200) << quint64(1100) << false << 255.0 << 255.0;
        // The program's display no longer there: nothing of it in the photo,
        // a featureless dark frame, which the analysis refuses.
        QTest::newRow("display forgotten") << quint64(0x10064) << quint64(400) << quint64(1100) << true << 2.0 << 2.0;
    }

    // The display the program drives, photographed as a camera at its
    // shutter, ISO and aperture sees it.
    void activeDisplayAtTheCameraExposure()
    {
        QFETCH(quint64, shutter);
        QFETCH(quint64, iso);
        QFETCH(quint64, fNumber);
        QFETCH(bool, forget);
        QFETCH(double, white);
        QFETCH(double, halfRed);
        SimulatedDisplay display;
        display.fetchLdms();
        display.setRGB(0, 1.0, 1.0, 1.0);
        display.setLdmRGB(1, -0.5, 0.0, 0.0);
        auto sdk = std::make_shared<SimulatedCameraSdk>();
        sdk->setActiveDisplay(&display);
        auto controller = connected(sdk);
        QVERIFY(controller);
        const auto set = [&](std::uint32_t code, quint64 value) {
            camerasdk::DeviceProperty p = *sdk->property(code);
            p.SetCurrentValue(value);
            sdk->setProperty(p);
        };
        set(camerasdk::ShutterSpeed, shutter);
        set(camerasdk::IsoSensitivity, iso);
        set(camerasdk::FNumber, fNumber);
        SimulatedDisplay other;
        sdk->forgetActiveDisplay(&other); // not the active one: changes nothing
        if (forget)
            sdk->forgetActiveDisplay(&display);

        QList<cv::Vec3f> averages;
        QVERIFY(grabAverages(controller.get(), display, false, averages));

        if (forget) {
            QVERIFY(averages.isEmpty());
            return;
        }
        if (forget) {
            QVERIFY(averages.isEmpty());
            return;
        }
        QCOMPARE(averages.size(), 144);
        const cv::Vec3f plain = averages.at(60), reddish = averages.front();
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY2(std::abs(plain[ch] - white) < 2.5, qPrintable(QString::number(plain[ch])));
        QVERIFY2(std::abs(reddish[2] - halfRed) < 2.5, qPrintable(QString::number(reddish[2])));
    }

    // What the operator sees of the camera: its name (which chooses the lens
    // lists offered), the status lamp's text, and what a grab waits for.
    void operatorView_data()
    {
        using Outcome = SimulatedCameraSdk::ConnectOutcome;
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lamp");
        QTest::addColumn<QStringList>("waits"); // of a grab whose picture never comes
        QTest::newRow("configured as it connects") << int(Outcome::Connect) << "ILCE-7C" << "" << QStringList();
        QTest::newRow("connection refused") << int(Outcome::Fail) << "" << "Camera connection error 0x8207"
                                            << QStringList();
        QTest::newRow("picture never comes")
            << int(Outcome::Connect) << "ILCE-7C" << ""
            << QStringList({"Waiting for the camera's picture: try 1 of 5, attempt 1 of 3...",
                            "Waiting for the camera's picture: try 1 of 5, attempt 2 of 3..."});
    }
    void operatorView()
    {
        QFETCH(int, outcome);
        QFETCH(QString, name);
        QFETCH(QString, lamp);
        QFETCH(QStringList, waits);
        auto sdk = std::make_shared<SimulatedCameraSdk>();
        sdk->setConnectOutcome(SimulatedCameraSdk::ConnectOutcome(outcome));
        sdk->setShutterDelay(-1);
        CameraController controller(nullptr, sdk);
        // As the program starts it: the raw-image choice asks for a property
        // pass while the connection is being made.
        controller.connect();
        controller.useRawImages(false);
        if (name.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(controller.statusMessage(), lamp, 10000);
            // Nothing was configured on a camera that never connected.
            QCOMPARE(sdk->callCount("SetDeviceProperty"), 0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(controller.cameraName(), name, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(controller.cameraReady(), 10000);
        QCOMPARE(controller.statusMessage(), lamp);
        QCOMPARE(sdk->property(camerasdk::StillImageStoreDestination)->GetCurrentValue(), 1u);
        if (waits.isEmpty())
            return;
        SimulatedDisplay display;
        QList<cv::Vec3f> averages;
        QVERIFY(grabAverages(&controller, display, false, averages, waits));
        QVERIFY(averages.isEmpty());
    }

    void exposureRequest()
    {
        auto sdk = std::make_shared<SimulatedCameraSdk>();
        auto controller = connected(sdk);
        QVERIFY(controller);
        // From f/11 at ISO 400 the aperture moves to f/8 and ISO takes the difference.
        QCOMPARE(controller->changeExposure(0), 1);
        QCOMPARE(sdk->property(camerasdk::FNumber)->GetCurrentValue(), 800u);
        QCOMPARE(sdk->property(camerasdk::IsoSensitivity)->GetCurrentValue(), 200u);
        QCOMPARE(controller->changeExposure(0), 0);
        // A camera that does not answer within a second: the previous answer.
        QMetaObject::invokeMethod(controller->camera(), [] { QThread::msleep(1500); });
        QCOMPARE(controller->changeExposure(-3), 0);
        QTRY_COMPARE(sdk->property(camerasdk::IsoSensitivity)->GetCurrentValue(), 100u);
    }
};

VELTRANO_TEST_MAIN(TestCameraController)
#include "tst_cameracontroller.moc"
