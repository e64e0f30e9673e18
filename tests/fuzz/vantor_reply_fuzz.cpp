// libFuzzer target: arbitrary bytes as the processor's JSON reply, read the
// way the Vantor display reads it: parsed whole (a body that is no JSON is a
// null document), then as the state read's display settings and as the tile
// and LDM fetch's receivers.

#include "valuelimits.h"
#include "vantorreplies.h"

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

void silent(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto previous = qInstallMessageHandler(silent);
    (void)previous;
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const QJsonDocument reply = QJsonDocument::fromJson(body);

    const VantorReply::DisplayState state = VantorReply::parseDisplayState(reply);
    if (state.lumaMax && !(*state.lumaMax >= 100.0))
        std::abort(); // raised to 100 when lower
    if (state.displayGains && state.displayGainsInvalid)
        std::abort();
    if (const auto* g = state.displayGains ? &*state.displayGains : nullptr)
        for (const double gain : {g->r, g->g, g->b})
            if (!(gain >= 0.0 && gain <= Limits::kDisplayGain.high))
                std::abort(); // only gains the processor can hold

    const VantorReply::Wall wall = VantorReply::parseWall(reply);
    if (wall.malformed && (!wall.receivers.empty() || wall.missingType))
        std::abort(); // a malformed wall yields nothing else
    for (std::size_t i = 0; i < wall.receivers.size(); ++i) {
        const VantorReply::Receiver& r = wall.receivers[i];
        if (i > 0 && !(wall.receivers[i - 1].tile.name.toUtf8() < r.tile.name.toUtf8()))
            std::abort(); // in ascending text order, each once
        if (r.tile.ldmsWide <= 0 || r.tile.ldmsHigh <= 0 || r.tile.number != 0)
            std::abort(); // only receivers with an LDM grid, numbered by the model
        for (const Macropixel& ldm : r.ldms) {
            if (ldm.name != r.tile.name || ldm.number != 0 || ldm.tile != 0
                || ldm.lit != (ldm.intensityGain > -0.9))
                std::abort();
        }
    }
    return 0;
}
