// ctest-labels: threaded
// The one table of limits, walked: each limit is taken at its edges and
// clamped, reset or refused one step past them, wherever it is used: the
// stored settings, the correction file (written at its edges and read back
// whole), the colour meters' replies, the processor's state read and what is
// sent to the processor.
#include "correctionfile.h"
#include "meterreplies.h"
#include "polledcontext.h"
#include "testsupport.h"
#include "valuelimits.h"
#include "vantor.h"
#include "vantorreplies.h"
#include "veltranor.h"

#include <QBuffer>
#include <QJsonObject>
#include <QSettings>

#include <algorithm>
#include <memory>
#include <optional>

using Stored = Limits::Stored;

namespace {

struct Expected
{
    double low, high;
    Stored stored = Stored::Unbounded;
    double fallback = 0.0;
};

// The bounds the settings, the window, the files and the devices are described with.
const QHash<QString, Expected> kExpected {
    {"targetCCT", {1667, 10000, Stored::Clamped, 6500}},       {"targetDuv", {-0.01, 0.01, Stored::Clamped, 0}},
    {"gamma", {1.0, 3.8, Stored::Default, 2.4}},               {"readDelay", {500, 5000, Stored::Clamped, 1500}},
    {"readCount", {1, 100, Stored::Clamped, 4}},               {"steps", {1, 100, Stored::Clamped, 17}},
    {"brightnessLevel", {1, 4294967295.0, Stored::Clamped, 100}}, {"errorAllowed", {0, 100, Stored::Unbounded, 0.3}},
    {"highGainLimit", {0.01, 5, Stored::Unbounded, 0.5}},      {"lowGainLimit", {0.005, 5, Stored::Unbounded, 0.25}},
    {"btCompliantIterations", {5, 100, Stored::Default, 20}},  {"btMinIterations", {5, 100, Stored::Default, 50}},
    {"btMaxIterations", {100, 500, Stored::Default, 400}},     {"tileMeshWidth", {1, 200, Stored::Default, 20}},
    {"tileMeshHeight", {1, 200, Stored::Default, 20}},         {"linearGainBoost", {1, 8, Stored::Default, 2}},
    {"gainTweak", {0.5, 1.5}},  {"displayGain", {0, 2}}, {"level", {-1000, 1000}}, {"luminance", {0, 1e6}},
    {"cct", {1, 1e5}},          {"duv", {-1, 1}},        {"chromaticity", {0, 1}}};

QString nameOf(const Limits::Limit& limit) { return QString::fromLatin1(limit.name.data(), qsizetype(limit.name.size())); }
QString text(double value) { return QString::number(value, 'g', 16); }

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT
    testsupport::PolledContext net_;

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QCOMPARE(qsizetype(Limits::kAll.size()), kExpected.size());
        for (const Limits::Limit& limit : Limits::kAll)
            QVERIFY2(kExpected.contains(nameOf(limit)), limit.name.data());
    }

    void storedSettings_data()
    {
        QTest::addColumn<bool>("high");
        QTest::addColumn<bool>("past");
        QTest::newRow("at the low edges") << false << false;
        QTest::newRow("one step below") << false << true;
        QTest::newRow("at the high edges") << true << false;
        QTest::newRow("one step above") << true << true;
    }

    // Every setting of the table stored at once: at an edge it is taken; one
    // step past it is clamped and written back, or takes its default and
    // leaves the store, or (unbounded at start) is taken as it is.
    void storedSettings()
    {
        QFETCH(bool, high);
        QFETCH(bool, past);
        QSettings().clear();
        QHash<QString, double> stored;
        for (const Limits::Limit& limit : Limits::kAll) {
            const Expected e = kExpected.value(nameOf(limit));
            const QMetaProperty property = Veltranor::staticMetaObject.property(
                Veltranor::staticMetaObject.indexOfProperty(limit.name.data()));
            const double step = property.metaType().id() == QMetaType::UInt ? 1.0 : (e.high - e.low) / 100;
            // The brightness is at most the processor's maximum, 10000 until it is read.
            const double edge = high ? std::min(e.high, 10000.0) : e.low;
            if (!limit.key.empty())
                QSettings().setValue(QLatin1String(limit.key.data()), stored[nameOf(limit)] =
                                     past ? edge + (high ? step : -step) : edge);
        }
        auto v = std::make_unique<Veltranor>(net_.io());
        v->idleTimer().stop();
        for (const Limits::Limit& limit : Limits::kAll) {
            if (limit.key.empty())
                continue;
            const Expected e = kExpected.value(nameOf(limit));
            const double value = stored.value(nameOf(limit));
            const double expected = !past || e.stored == Stored::Unbounded ? value
                                    : e.stored == Stored::Clamped         ? (high ? std::min(e.high, 10000.0) : e.low)
                                                                          : e.fallback;
            QCOMPARE(v->property(limit.name.data()).toDouble(), expected);
            const QVariant left = QSettings().value(QLatin1String(limit.key.data()));
            if (past && e.stored == Stored::Default)
                QVERIFY2(!left.isValid(), limit.name.data());
            else
                QCOMPARE(left.toDouble(), expected);
        }
    }

    // A file with every column at its low edge in one row and at its high
    // edge in the next is read back whole; one step past either is refused,
    // naming the column and its bounds.
    void correctionFileAtItsBounds()
    {
        const QStringList columns = CorrectionFile::columnNames();
        const auto bounds = [](const QString& column) -> std::optional<Expected> {
            if (column == "#" || column == "seconds" || column.endsWith("Slope"))
                return std::nullopt;
            if (column == "cct")
                return Expected {0, kExpected["cct"].high}; // 0: a point without a reading
            return kExpected.value(column.endsWith("DisplayGain") ? "displayGain"
                                   : column.startsWith("luminance") ? "luminance"
                                   : column == "duv"                ? "duv"
                                                                    : "level");
        };
        const auto file = [&](const QString& changed, double value) {
            QString text = columns.join('\t') + "\r\n";
            for (int row = 0; row < 2; ++row) {
                QStringList fields;
                for (const QString& column : columns) {
                    const auto b = bounds(column);
                    fields << (column == changed ? ::text(value) : !b ? QString::number(row) : ::text(row ? b->high : b->low));
                }
                text += fields.join('\t') + "\r\n";
            }
            return text.toUtf8();
        };
        const auto read = [](QByteArray bytes) {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::ReadOnly);
            return CorrectionFile::read(buffer);
        };
        const QByteArray edges = file(QString(), 0);
        const CorrectionFile::ReadResult whole = read(edges);
        QCOMPARE(whole.outcome, CorrectionFile::ReadResult::Read);
        QCOMPARE(CorrectionFile::write(whole.points), edges);
        for (const QString& column : columns) {
            if (const auto b = bounds(column)) {
                for (const double past : {b->low - (b->high - b->low) / 100, b->high + (b->high - b->low) / 100}) {
                    const CorrectionFile::ReadResult refused = read(file(column, past));
                    QCOMPARE(refused.outcome, CorrectionFile::ReadResult::OutOfRange);
                    QCOMPARE(refused.columnName, column);
                    QCOMPARE(refused.low, b->low);
                    QCOMPARE(refused.high, b->high);
                }
            }
        }
    }

    // What the meters report is a reading at the edges, an error past them;
    // a CCT below the lowest is none measured.
    void meterRepliesAtTheirBounds()
    {
        for (const char* name : {"luminance", "cct", "duv", "chromaticity"}) {
            const Expected e = kExpected.value(name);
            const double step = (e.high - e.low) / 100;
            for (const double value : {e.low, e.high, e.low - step, e.high + step, e.low / 2}) {
                const bool inside = value >= e.low && value <= e.high;
                const bool none = QByteArray(name) == "cct" && value >= 0 && value < e.low;
                const QString v = text(value);
                const QString line = QHash<QString, QString> {
                    {"luminance", "brightness_SI %1 cd/m2"}, {"cct", "CCT %1"}, {"duv", "\u2206uv %1"},
                    {"chromaticity", "cie1931_x %1\ncie1931_y %1"}}.value(name).arg(v);
                const MeterReply::NetworkReport report = MeterReply::parseNetworkReport(line.toUtf8());
                QVERIFY2(report.fault.isEmpty() == (inside || none), qPrintable(line));
                if (QByteArray(name) == "luminance")
                    QCOMPARE(MeterReply::parseLuminance(v).has_value(), inside);
                if (QByteArray(name) != "cct" && QByteArray(name) != "duv")
                    continue;
                const MeterReply::CctDuv serial =
                    MeterReply::parseCctDuv(QByteArray(name) == "duv" ? "6500," + v : v + ",0.001");
                QVERIFY2(serial.valid == (inside || none), qPrintable(v));
                if (none)
                    QVERIFY(serial.cct == 0.0 && report.cct == 0.0);
            }
        }
    }

    // A display gain at the edges is taken from the processor's state and
    // sent (here it reaches the request layer, which has no address); one
    // step past it is refused and nothing is sent.
    void displayGainsAtTheirBounds()
    {
        const Expected e = kExpected.value("displayGain");
        QSettings().clear(); // no processor address
        Vantor vantor(net_.io());
        for (const double gain : {e.low, e.high, e.low - 0.01, e.high + 0.01}) {
            const bool inside = gain >= e.low && gain <= e.high;
            const QJsonObject gains {{"r", 1}, {"g", gain}, {"b", 1}};
            const VantorReply::DisplayState state = VantorReply::parseDisplayState(
                QJsonDocument(QJsonObject {{"dev", QJsonObject {{"display", QJsonObject {{"gains", gains}}}}}}));
            QCOMPARE(state.displayGains.has_value(), inside);
            const QString refusal = QStringLiteral("The green display gain %1 lies outside 0..2").arg(text(gain));
            for (const ErrorType& sent : {vantor.sendCalibration({}, 1, gain, 1), vantor.setDisplayGainRGB(1, gain, 1)})
                QCOMPARE(sent.message, inside ? QStringLiteral("No network address") : refusal);
        }
    }
};

VELTRANO_TEST_MAIN(TestLimits)

#include "tst_limits.moc"
