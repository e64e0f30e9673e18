#include "vantorreplies.h"

#include "valuelimits.h"

#include <QByteArray>
#include <QDebug>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace VantorReply {

namespace {

// The keys of an object in byte-wise order of their UTF-8 text: "1", "10", "2".
QStringList keysInTextOrder(const QJsonObject& object)
{
    std::vector<std::pair<QByteArray, QString>> keys;
    keys.reserve(size_t(object.size()));
    for (auto it = object.begin(); it != object.end(); ++it)
        keys.emplace_back(it.key().toUtf8(), it.key());
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList result;
    result.reserve(qsizetype(keys.size()));
    for (auto& key : keys)
        result.append(std::move(key.second));
    return result;
}

std::optional<Rgb> rgbOf(const QJsonObject& o)
{
    if (!o.contains(QStringLiteral("r")) || !o.contains(QStringLiteral("g")) || !o.contains(QStringLiteral("b")))
        return std::nullopt;
    return Rgb {o.value(QStringLiteral("r")).toDouble(), o.value(QStringLiteral("g")).toDouble(),
                o.value(QStringLiteral("b")).toDouble()};
}

// Where a member that must hold an object holds something else, its path.
std::optional<QString> notAnObject(const QJsonObject& parent, const QString& key, const QString& path)
{
    if (parent.contains(key) && !parent.value(key).isObject())
        return path;
    return std::nullopt;
}

std::optional<double> doubleOf(const QJsonObject& o, const QString& key)
{
    if (!o.contains(key))
        return std::nullopt;
    return o.value(key).toDouble();
}

} // namespace

DisplayState parseDisplayState(const QJsonDocument& reply)
{
    DisplayState state;
    const QJsonObject dev = reply.object().value(QStringLiteral("dev")).toObject();
    const QJsonObject display = dev.value(QStringLiteral("display")).toObject();
    const QJsonObject ingest = dev.value(QStringLiteral("ingest")).toObject();
    const QJsonObject out = display.value(QStringLiteral("out")).toObject();
    state.processorCurves =
        out.value(QStringLiteral("curves")).toObject().value(QStringLiteral("enabled")).toBool();

    state.brightness = doubleOf(display, QStringLiteral("brightness"));
    if (display.contains(QStringLiteral("cct")))
        state.cct = uint(display.value(QStringLiteral("cct")).toInt());
    state.duv = doubleOf(display, QStringLiteral("cctDuv"));
    if (display.contains(QStringLiteral("eotfType")))
        state.eotfType = display.value(QStringLiteral("eotfType")).toString();
    state.gamma = doubleOf(display, QStringLiteral("gamma"));
    if (const auto lumaMax = doubleOf(display, QStringLiteral("lumaMax")))
        state.lumaMax = std::max(*lumaMax, 100.0);
    state.gain = rgbOf(out.value(QStringLiteral("adjust")).toObject().value(QStringLiteral("gain")).toObject());
    const QJsonObject gains = display.value(QStringLiteral("gains")).toObject();
    if (const auto displayGains = rgbOf(gains)) {
        if (isDisplayGain(gains.value(QStringLiteral("r"))) && isDisplayGain(gains.value(QStringLiteral("g")))
            && isDisplayGain(gains.value(QStringLiteral("b"))))
            state.displayGains = displayGains;
        else
            state.displayGainsInvalid = true;
    }

    const QJsonObject testPattern = ingest.value(QStringLiteral("testPattern")).toObject();
    if (testPattern.contains(QStringLiteral("enabled")))
        state.testPatternEnabled = testPattern.value(QStringLiteral("enabled")).toBool();
    state.outputFrequency = doubleOf(ingest, QStringLiteral("outputFreq"));
    return state;
}

bool isDisplayGain(const QJsonValue& value)
{
    if (!value.isDouble())
        return false;
    const double gain = value.toDouble();
    return (gain == 0.0 || std::isnormal(gain)) && Limits::kDisplayGain.holds(gain);
}

Wall parseWall(const QJsonDocument& reply)
{
    Wall wall;
    if (!reply.isObject()) {
        wall.malformed = QStringLiteral("the reply");
        return wall;
    }
    const QJsonObject root = reply.object();
    const QJsonObject dev = root.value(QStringLiteral("dev")).toObject();
    const QJsonObject sys = root.value(QStringLiteral("sys")).toObject();
    wall.malformed = notAnObject(root, QStringLiteral("dev"), QStringLiteral("dev"));
    if (!wall.malformed)
        wall.malformed = notAnObject(dev, QStringLiteral("receivers"), QStringLiteral("dev.receivers"));
    if (!wall.malformed)
        wall.malformed = notAnObject(root, QStringLiteral("sys"), QStringLiteral("sys"));
    if (!wall.malformed)
        wall.malformed = notAnObject(sys, QStringLiteral("fixtures"), QStringLiteral("sys.fixtures"));
    const QJsonObject receivers = dev.value(QStringLiteral("receivers")).toObject();
    for (auto it = receivers.begin(); it != receivers.end() && !wall.malformed; ++it) {
        const QString path = QStringLiteral("dev.receivers.") + it.key();
        if (!it.value().isObject()) {
            wall.malformed = path;
            break;
        }
        const QJsonObject receiver = it.value().toObject();
        wall.malformed = notAnObject(receiver, QStringLiteral("info"), path + QStringLiteral(".info"));
        if (!wall.malformed)
            wall.malformed = notAnObject(receiver, QStringLiteral("ldms"), path + QStringLiteral(".ldms"));
    }
    if (wall.malformed)
        return wall;
    qDebug("VANTOR has %lld receivers", static_cast<long long>(receivers.size()));

    std::set<QString> types;
    int visited = 0;
    for (const QString& mac : keysInTextOrder(receivers)) {
        const QJsonObject receiver = receivers.value(mac).toObject();
        const int rx = receiver.value(QStringLiteral("x")).toInt();
        const int ry = receiver.value(QStringLiteral("y")).toInt();
        const QJsonObject info = receiver.value(QStringLiteral("info")).toObject();
        types.insert(info.value(QStringLiteral("type")).toString());
        const int pixelsW = info.value(QStringLiteral("pixelsW")).toInt();
        const int pixelsH = info.value(QStringLiteral("pixelsH")).toInt();
        const int ldmsW = info.value(QStringLiteral("ldmsW")).toInt();
        const int ldmsH = info.value(QStringLiteral("ldmsH")).toInt();
        const QJsonObject ldms = receiver.value(QStringLiteral("ldms")).toObject();

        if (visited++ < 3)
            qDebug("MAC %s: @%d,%d, %dx%d pixels, %lld %dx%d ldms", qUtf8Printable(mac), rx, ry, pixelsW, pixelsH,
                   static_cast<long long>(ldms.size()), ldmsW, ldmsH);

        // Without LDM columns and rows there is no grid to place LDMs on.
        if (ldmsW <= 0 || ldmsH <= 0) {
            qWarning("VANTOR receiver %s reports a %dx%d LDM grid; skipped", qUtf8Printable(mac), ldmsW, ldmsH);
            continue;
        }
        const int ldmWidth = pixelsW / ldmsW;
        const int ldmHeight = pixelsH / ldmsH;

        Receiver entry;
        Tile& tile = entry.tile;
        tile.name = mac;
        tile.x = float(rx);
        tile.y = float(ry);
        tile.height = float(pixelsH);
        tile.width = float(pixelsW);
        tile.ldmsWide = ldmsW;
        tile.ldmsHigh = ldmsH;

        for (const QString& key : keysInTextOrder(ldms)) {
            bool ok = false;
            int n = key.toInt(&ok, 10);
            if (!ok)
                n = 0;
            // 64-bit, so that absurd keys or offsets cannot overflow.
            const qint64 k = qint64(n) - 1;
            const qint64 row = k / ldmsW;
            const qint64 column = k % ldmsW;
            const QJsonObject gains = ldms.value(key).toObject().value(QStringLiteral("gains")).toObject();

            Macropixel ldm;
            ldm.name = mac;
            ldm.x = float(qint64(rx) + column * ldmWidth);
            ldm.y = float(qint64(ry) + row * ldmHeight);
            ldm.height = float(ldmHeight);
            ldm.width = float(ldmWidth);
            ldm.index = n;
            ldm.redGain = gains.value(QStringLiteral("r")).toDouble();
            ldm.greenGain = gains.value(QStringLiteral("g")).toDouble();
            ldm.blueGain = gains.value(QStringLiteral("b")).toDouble();
            ldm.intensityGain = gains.value(QStringLiteral("i")).toDouble();
            ldm.lit = ldm.intensityGain > -0.9;
            entry.ldms.append(ldm);
        }
        wall.receivers.push_back(std::move(entry));
    }

    const QJsonObject fixtures = sys.value(QStringLiteral("fixtures")).toObject();
    for (const QString& type : types) {
        const QJsonObject fixture = fixtures.value(type).toObject();
        if (fixture.isEmpty()) {
            wall.missingType = type;
            break;
        }
        if (fixture.value(QStringLiteral("cal"))
                .toObject()
                .value(QStringLiteral("uniformity"))
                .toObject()
                .value(QStringLiteral("mesh"))
                .toBool())
            qDebug("Fixture %s supports mesh uniformity", qUtf8Printable(type));
    }
    return wall;
}

} // namespace VantorReply
