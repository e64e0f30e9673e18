#pragma once

// The processor's JSON replies that the Vantor display reads: the display
// settings of the state read and the receivers of the tile and LDM fetch.
// Qt Core only, so that they can be exercised on their own.

#include "macropixel.h"
#include "tile.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace VantorReply {

struct Rgb
{
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

// The members of the state read's reply, each set when its key is present
// (whatever its JSON type; another type reads as 0, false or empty).
struct DisplayState
{
    bool processorCurves = false; // "out" -> "curves" -> "enabled", false when missing
    std::optional<double> brightness;
    std::optional<uint> cct;
    std::optional<double> duv;
    std::optional<QString> eotfType;
    std::optional<double> gamma;
    std::optional<double> lumaMax; // raised to 100.0 when lower
    std::optional<Rgb> gain;       // "out" -> "adjust" -> "gain", only with all of r, g and b
    std::optional<Rgb> displayGains; // "gains", only with all of r, g and b, each a valid gain
    bool displayGainsInvalid = false; // "gains" has r, g and b, and one of them is no valid gain
    std::optional<bool> testPatternEnabled;
    std::optional<double> outputFrequency;
};

DisplayState parseDisplayState(const QJsonDocument& reply);

// One receiver of the fetch: its tile and its LDMs, in the order the display
// model appends them. The LDMs' `tile` is left 0: the tile's number is known
// only once the model has appended it.
struct Receiver
{
    Tile tile;
    QList<Macropixel> ldms;
};

struct Wall
{
    // Set when the reply is no JSON object or a member that holds the wall
    // is no object: the member's path. Nothing else is then set.
    std::optional<QString> malformed;
    // In ascending order of the MAC text; receivers without an LDM grid are left out.
    std::vector<Receiver> receivers;
    // The first receiver type (in text order) that "sys" -> "fixtures" lacks or
    // holds as an empty object.
    std::optional<QString> missingType;
};

// A gain as the processor reports it: a JSON number, 0 or a normal number
// (a denormal is no gain) within Limits::kDisplayGain (valuelimits.h), the
// bounds of a display gain wherever one is read or sent.
bool isDisplayGain(const QJsonValue& value);

// Logs the receiver count, the first three receivers, receivers skipped for
// want of an LDM grid and the fixtures that support mesh uniformity.
Wall parseWall(const QJsonDocument& reply);

} // namespace VantorReply
