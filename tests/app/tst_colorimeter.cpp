// The meter interface and dummy meter, and the option lists and RGB triple
// the scene binds to.

#include "colorimeter.h"
#include "messagecapture.h"
#include "option.h"
#include "optionlist.h"
#include "rgb.h"
#include "testsupport.h"

#include <QDateTime>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QSignalSpy>
#include <QTimeZone>

class TestColorimeter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dummyMeterStartsWithItsShownValues();
    void displayStrings_data();
    void displayStrings();
    void addressLosesSchemeAndIsStored();
    void filterSelectionFollowsTheList();
    void filterAndMatrixApplyLater();
    void errorTypeKeepsEveryCodeButSignalsOnlyOkChanges();
    void dummyReadAnswersOnce();
    void timestampCarriesTheOffset();
    void optionListFromQml();
    void rgbIgnoresFuzzyEqualWrites();
};

void TestColorimeter::dummyMeterStartsWithItsShownValues()
{
    Colorimeter meter(QStringLiteral("dummy"));
    QCOMPARE(meter.address(), QStringLiteral("N/A"));
    QCOMPARE(QSettings().value("dummy/address").toString(), QStringLiteral("N/A"));
    QCOMPARE(meter.cctString(), QStringLiteral("6500 K"));
    QCOMPARE(meter.duvString(), QStringLiteral("+0.0001"));
    QCOMPARE(meter.cieXYString(), QStringLiteral("0.3000, 0.3457"));
    QCOMPARE(meter.luminanceString(), QStringLiteral("1024 cd/m²"));
    QCOMPARE(meter.filterList()->count(), 1);
}

void TestColorimeter::displayStrings_data()
{
    QTest::addColumn<double>("duv");
    QTest::addColumn<QString>("duvText");
    QTest::addColumn<double>("luminance");
    QTest::addColumn<QString>("luminanceText");
    QTest::newRow("negative") << -0.0023 << QStringLiteral("\u22120.0023") << 0.0421
                              << QStringLiteral("0.0421 cd/m²");
    QTest::newRow("zero") << 0.0 << QStringLiteral("+0.0000") << 0.0 << QStringLiteral("0 cd/m²");
    QTest::newRow("negative zero") << -0.0 << QStringLiteral("+0.0000") << 123456.7
                                   << QStringLiteral("123457 cd/m²");
}

void TestColorimeter::displayStrings()
{
    QFETCH(double, duv);
    QFETCH(QString, duvText);
    QFETCH(double, luminance);
    QFETCH(QString, luminanceText);
    Colorimeter meter(QStringLiteral("strings"));
    meter.setDuv(0.5); // so that every row is a change
    meter.setLuminance(-1);
    meter.setDuv(duv);
    meter.setLuminance(luminance);
    QCOMPARE(meter.duvString(), duvText);
    QCOMPARE(meter.luminanceString(), luminanceText);

    // The units rebuild the string; NaN counts as a change every time.
    meter.setLuminanceUnits(QStringLiteral("nits"));
    QVERIFY(meter.luminanceString().endsWith(QStringLiteral(" nits")));
    QSignalSpy cct(&meter, &Colorimeter::cctChanged);
    meter.setCct(qQNaN());
    meter.setCct(qQNaN());
    QCOMPARE(cct.count(), 2);
}

void TestColorimeter::addressLosesSchemeAndIsStored()
{
    Colorimeter meter(QStringLiteral("addr"));
    QSignalSpy changed(&meter, &Colorimeter::addressChanged);
    meter.setAddress(QStringLiteral("HTTP://10.0.0.7:8080/cm"));
    QCOMPARE(meter.address(), QStringLiteral("10.0.0.7:8080/cm"));
    QCOMPARE(QSettings().value("addr/address").toString(), QStringLiteral("10.0.0.7:8080/cm"));
    QCOMPARE(changed.count(), 1);

    // The keys keep the constructor's name after a rename; a new meter reads it back.
    meter.setName(QStringLiteral("renamed"));
    meter.setAddress(QStringLiteral("host2"));
    QCOMPARE(Colorimeter(QStringLiteral("addr")).address(), QStringLiteral("host2"));
}

void TestColorimeter::filterSelectionFollowsTheList()
{
    QSettings().setValue("sel/filter", 4);
    Colorimeter meter(QStringLiteral("sel"));
    // Only "none" is listed: the stored 4 reads as -1 and has no name.
    QCOMPARE(meter.filter(), -1);
    QCOMPARE(meter.filterName(), QString());

    meter.filterList()->append(new Option(4, QStringLiteral("ND-100-0.3"), "Radiance", &meter));
    QCOMPARE(meter.filter(), 4);
    QCOMPARE(meter.filterName(), QStringLiteral("ND-100-0.3"));

    QSignalSpy changed(&meter, &Colorimeter::filterChanged);
    QSignalSpy named(&meter, &Colorimeter::filterNameChanged);
    QTest::ignoreMessage(QtDebugMsg, "Filter #9 not found in filter list; setting no filter.");
    meter.setFilter(9);
    QCOMPARE(meter.filter(), -1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(named.count(), 1);

    // A stored "none" comes back as -1, not as a large unsigned number.
    QSettings().setValue("sel/matrix", QStringLiteral("-1"));
    Colorimeter again(QStringLiteral("sel"));
    again.filterList()->append(new Option(7, QStringLiteral("ND7"), QString(), &again));
    again.matrixList()->append(new Option(3, QStringLiteral("M3"), QString(), &again));
    QCOMPARE(again.filter(), -1);
    QCOMPARE(again.matrix(), -1);
}

void TestColorimeter::filterAndMatrixApplyLater()
{
    Colorimeter meter(QStringLiteral("later"));
    meter.filterList()->append(new Option(3, QStringLiteral("ND3"), QString(), &meter));
    meter.matrixList()->append(new Option(1, QStringLiteral("M1"), QString(), &meter));
    QSignalSpy filter(&meter, &Colorimeter::filterChanged);
    QSignalSpy matrix(&meter, &Colorimeter::matrixChanged);

    meter.setFilterAndMatrix(3, -2);
    QCOMPARE(filter.count(), 0);
    QTRY_COMPARE(filter.count(), 1);
    QCOMPARE(meter.filter(), 3);
    QCOMPARE(matrix.count(), 0);

    // The same values again start nothing.
    QTest::qWait(20);
    meter.setFilterAndMatrix(3, -1);
    QTest::qWait(20);
    QCOMPARE(filter.count(), 1);
    QCOMPARE(matrix.count(), 0);
}

void TestColorimeter::errorTypeKeepsEveryCodeButSignalsOnlyOkChanges()
{
    Colorimeter meter(QStringLiteral("errors"));
    QSignalSpy changed(&meter, &Colorimeter::errorTypeChanged);
    meter.setErrorType(ErrorType(1, QStringLiteral("retry")));
    meter.setErrorType(ErrorType(2, QStringLiteral("fatal")));
    QCOMPARE(meter.errorType().code, 2);
    QCOMPARE(meter.errorType().message, QStringLiteral("fatal"));
    QCOMPARE(changed.count(), 1);
    meter.setErrorType(ErrorType(0));
    QCOMPARE(meter.errorType().code, 0);
    QCOMPARE(changed.count(), 2);
}

void TestColorimeter::dummyReadAnswersOnce()
{
    Colorimeter meter(QStringLiteral("dummy"));
    meter.setError(QStringLiteral("kept"));
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    for (int i = 0; i < 20; ++i) {
        meter.read();
        QCOMPARE(data.count(), i + 1);
        QCOMPARE(data.last().at(0).value<Colorimeter*>(), &meter);
        QVERIFY(meter.luminance() >= 0 && meter.luminance() < 2000);
        QCOMPARE(meter.luminance(), std::floor(meter.luminance()));
        QVERIFY(!meter.timestamp().isEmpty());
    }
    QCOMPARE(meter.cct(), 6500.0);
    QCOMPARE(meter.error(), QStringLiteral("kept"));
}

void TestColorimeter::timestampCarriesTheOffset()
{
    // Run with the time zone set in the child's environment, to see both forms.
    const QByteArray tz = qgetenv("TZ");
    for (const char* zone : {"UTC", "Europe/Berlin"}) {
        qputenv("TZ", zone);
        QTimeZone::systemTimeZoneId(); // re-read
        tzset();
        const QString now = Colorimeter::timestampNow();
        const QDateTime parsed = QDateTime::fromString(now, Qt::ISODateWithMs);
        QVERIFY2(parsed.isValid(), qPrintable(now));
        if (QByteArray(zone) == "UTC")
            QVERIFY2(now.endsWith(QLatin1Char('Z')), qPrintable(now));
        else
            QVERIFY2(now.endsWith(QStringLiteral("+01:00")) || now.endsWith(QStringLiteral("+02:00")),
                     qPrintable(now));
        QCOMPARE(now.indexOf(QLatin1Char('.')), 19); // milliseconds
    }
    if (tz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", tz);
    tzset();
}

void TestColorimeter::optionListFromQml()
{
    qmlRegisterType<Option>("Veltrano.Test", 1, 0, "Option");
    QQmlEngine engine;
    OptionList list;
    QObject owner;
    QCOMPARE(list.count(), 1);
    Option* none = list.option(0);
    QCOMPARE(none->number(), -1);
    QCOMPARE(none->name(), QStringLiteral("none"));
    auto* nd = new Option(4, QStringLiteral("ND-100-0.3"), QStringLiteral("Radiance"), &owner);
    list.append(nd);
    engine.rootContext()->setContextProperty("optionList", &list);
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Veltrano.Test
        QtObject {
            property int before: optionList.options.length
            property string second: optionList.options[1].name
            property int secondNumber: optionList.options[1].number
            property Option made: Option { name: "made" }
            function exercise() {
                optionList.options.push(made)
                var n = optionList.options.length
                optionList.options = []
                return n * 10 + optionList.options.length
            }
        }
    )",
                      QUrl());
    std::unique_ptr<QObject> root(component.create());
    QVERIFY2(root, qPrintable(component.errorString()));
    QCOMPARE(root->property("before").toInt(), 2);
    QCOMPARE(root->property("second").toString(), QStringLiteral("ND-100-0.3"));
    QCOMPARE(root->property("secondNumber").toInt(), 4);
    QVariant result;
    QVERIFY(QMetaObject::invokeMethod(root.get(), "exercise", Q_RETURN_ARG(QVariant, result)));
    // Three after the push; the QML clear leaves only "none".
    QCOMPARE(result.toInt(), 31);
    // A new "none" entry; the removed ones are not deleted and keep their parents.
    QVERIFY(list.option(0) != none);
    QCOMPARE(list.option(0)->name(), QStringLiteral("none"));
    QCOMPARE(nd->parent(), &owner);
    QCOMPARE(qvariant_cast<Option*>(root->property("made"))->number(), 0);
    list.append(nd);
    QCOMPARE(list.option(1), nd);
}

void TestColorimeter::rgbIgnoresFuzzyEqualWrites()
{
    RGB rgb;
    QCOMPARE(rgb.red(), 0.0);
    QSignalSpy red(&rgb, &RGB::redChanged);
    QSignalSpy blue(&rgb, &RGB::blueChanged);
    rgb.setRed(0.3);
    rgb.setRed(0.1 + 0.2);
    QCOMPARE(red.count(), 1);
    rgb.setRed(0.31);
    QCOMPARE(red.count(), 2);
    rgb.setBlue(0.0);
    QCOMPARE(blue.count(), 0);
    rgb.setProperty("blue", 1e-13);
    QCOMPARE(blue.count(), 1);
}

VELTRANO_TEST_MAIN(TestColorimeter)
#include "tst_colorimeter.moc"
