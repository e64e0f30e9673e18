// ctest-labels: threaded
// The one table of limits, walked: each limit is taken at its edges and
// clamped, reset or refused one step past them where it is used: stored
// settings, a correction file (written at its edges, read back whole), the
// processor's state read and what is sent to it. The meters' replies have
// their rows in the meters' tests.
#include "correctionfile.h"
#include "polledcontext.h"
#include "testsupport.h"
#include "valuelimits.h"
#include "vantor.h"
#include "vantorreplies.h"
#include "veltranor.h"

#include <QBuffer>
#include <QJsonObject>
#include <QSettings>

using S = Limits::Stored;

namespace {

struct Expected
{
    double low, high;
    S stored = S::Unbounded;
    double fallback = 0.0;
};

// The bounds the settings, the window, the files and the devices are described with.
const QHash<QString, Expected> kExpected {
    {"targetCCT", {1667, 10000, S::Clamped, 6500}}, {"targetDuv", {-0.01, 0.01, S::Clamped, 0}},
    {"gamma", {1.0, 3.8, S::Default, 2.4}}, {"readDelay", {500, 5000, S::Clamped, 1500}},
    {"readCount", {1, 100, S::Clamped, 4}}, {"steps", {1, 100, S::Clamped, 17}},
    {"brightnessLevel", {1, 4294967295.0, S::Clamped, 100}}, {"errorAllowed", {0, 100}},
    {"highGainLimit", {0.01, 5}}, {"lowGainLimit", {0.005, 5}}, {"btCompliantIterations", {5, 100, S::Default, 20}},
    {"btMinIterations", {5, 100, S::Default, 50}}, {"btMaxIterations", {100, 500, S::Default, 400}},
    {"tileMeshWidth", {1, 200, S::Default, 20}}, {"tileMeshHeight", {1, 200, S::Default, 20}},
    {"linearGainBoost", {1, 8, S::Default, 2}}, {"gainTweak", {0.5, 1.5}}, {"displayGain", {0, 2}},
    {"level", {-1000, 1000}}, {"luminance", {0, 1e6}}, {"cct", {1, 1e5}}, {"duv", {-1, 1}}, {"chromaticity", {0, 1}}};

QString text(double value) { return QString::number(value, 'g', 16); }

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT
    testsupport::PolledContext net_;

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setOrganizationName(QStringLiteral("Tessaline")); }

    void storedSettings_data()
    {
        QTest::addColumn<bool>("high");
        QTest::addColumn<bool>("past");
        QTest::newRow("at the low edges") << false << false;
        QTest::newRow("one step below") << false << true;
        QTest::newRow("at the high edges") << true << false;
        QTest::newRow("one step above") << true << true;
    }

    // Every setting stored at once: at its edge it is taken; one step past it
    // is clamped and written back, or takes its default and leaves the store,
    // or (bounded by the window alone) is taken as it is.
    void storedSettings()
    {
        QFETCH(bool, high);
        QFETCH(bool, past);
        QSettings().clear();
        QHash<QString, double> stored, expected;
        for (const Limits::Limit& limit : Limits::kAll) {
            QVERIFY2(kExpected.contains(limit.name.data()), limit.name.data());
            const Expected e = kExpected.value(limit.name.data());
            const QMetaProperty property = Veltranor::staticMetaObject.property(
                Veltranor::staticMetaObject.indexOfProperty(limit.name.data()));
            const double step = property.metaType().id() == QMetaType::UInt ? 1.0 : (e.high - e.low) / 100;
            const double edge = high ? std::min(e.high, 10000.0) : e.low; // the processor's maximum luminance
            const double value = stored[limit.key.data()] = past ? edge + (high ? step : -step) : edge;
            expected[limit.key.data()] = !past || e.stored == S::Unbounded ? value
                                         : e.stored == S::Clamped        ? edge : e.fallback;
            if (!limit.key.empty())
                QSettings().setValue(limit.key.data(), value);
        }
        auto v = std::make_unique<Veltranor>(net_.io());
        v->idleTimer().stop();
        for (const Limits::Limit& limit : Limits::kAll) {
            if (limit.key.empty())
                continue;
            QCOMPARE(v->property(limit.name.data()).toDouble(), expected.value(limit.key.data()));
            const QVariant left = QSettings().value(limit.key.data());
            if (past && kExpected.value(limit.name.data()).stored == S::Default)
                QVERIFY2(!left.isValid(), limit.key.data());
            else
                QCOMPARE(left.toDouble(), expected.value(limit.key.data()));
        }
    }

    // A file with every column at its low edge in one row and its high edge
    // in the next is read back whole; one step past either is refused.
    void correctionFile()
    {
        const QStringList columns = CorrectionFile::columnNames();
        const auto bounds = [](const QString& c) -> std::optional<Expected> {
            if (c == "#" || c == "seconds" || c.endsWith("Slope"))
                return std::nullopt;
            return c == "cct" ? Expected {0, 1e5} // 0: a point without a reading
                              : kExpected.value(c.endsWith("DisplayGain") ? "displayGain"
                                                : c.startsWith("luminance") ? "luminance"
                                                : c == "duv" ? "duv" : "level");
        };
        const auto read = [&](const QString& changed, double value) {
            QByteArray file = columns.join('\t').toUtf8() + "\r\n";
            for (int row = 0; row < 2; ++row) {
                QStringList fields;
                for (const QString& c : columns)
                    fields << (c == changed ? text(value) : bounds(c) ? text(row ? bounds(c)->high : bounds(c)->low)
                                                                      : QString::number(row));
                file += fields.join('\t').toUtf8() + "\r\n";
            }
            QBuffer buffer(&file);
            buffer.open(QIODevice::ReadOnly);
            return std::make_pair(CorrectionFile::read(buffer), file);
        };
        const auto [whole, edges] = read(QString(), 0);
        QCOMPARE(CorrectionFile::write(whole.points), edges);
        for (const QString& c : columns) {
            for (const double past : {-0.01, 1.01}) {
                if (const auto b = bounds(c)) {
                    const CorrectionFile::ReadResult refused = read(c, b->low + past * (b->high - b->low)).first;
                    QCOMPARE(refused.outcome, CorrectionFile::ReadResult::OutOfRange);
                    QCOMPARE(refused.columnName + text(refused.low) + text(refused.high), c + text(b->low) + text(b->high));
                }
            }
        }
    }

    // A display gain at its edges is taken from the processor and sent (here
    // it reaches the request layer, which has no address); one step past, neither.
    void displayGains()
    {
        QSettings().clear();
        Vantor vantor(net_.io());
        for (const double gain : {0.0, 2.0, -0.02, 2.02}) {
            const bool inside = gain >= kExpected["displayGain"].low && gain <= kExpected["displayGain"].high;
            const QJsonObject display {{"gains", QJsonObject {{"r", 1}, {"g", gain}, {"b", 1}}}};
            QCOMPARE(VantorReply::parseDisplayState(QJsonDocument(QJsonObject {{"dev", QJsonObject {{"display", display}}}}))
                         .displayGains.has_value(), inside);
            const QString refusal = QStringLiteral("The green display gain %1 lies outside 0..2").arg(text(gain));
            for (const ErrorType& sent : {vantor.sendCalibration({}, 1, gain, 1), vantor.setDisplayGainRGB(1, gain, 1)})
                QCOMPARE(sent.message, inside ? QStringLiteral("No network address") : refusal);
        }
    }
};

VELTRANO_TEST_MAIN(TestLimits)

#include "tst_limits.moc"
