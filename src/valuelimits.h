#pragma once

// The bounds of every value the program reads, stores and sends, in one
// table. The stored settings and the preferences window's fields, the
// correction file's columns, the colour meters' replies and the processor's
// replies all take their bounds from here, so that what one place writes or
// sends, every other place takes back. Qt-free.

#include <array>
#include <string_view>

namespace Limits {

// What a stored setting outside its bounds becomes when the settings are read
// at start. A stored value that is not a finite number always takes the
// default and leaves the store.
enum class Stored {
    Unbounded, // no key, or a key read without bounds (the window alone bounds it)
    Clamped,   // the nearest bound, written back
    Default,   // the default; the key leaves the store
};

struct Limit
{
    std::string_view name; // the property that holds the value, or the value's own name
    double low;            // both bounds included
    double high;
    std::string_view key = {}; // its settings key, if any
    Stored stored = Stored::Unbounded;
    double fallback = 0.0; // the default of a setting

    constexpr bool holds(double value) const { return value >= low && value <= high; } // NaN: false
    constexpr double clamp(double value) const { return value < low ? low : value > high ? high : value; }
};

// ---- settings, each with its window field
inline constexpr Limit kTargetCct {"targetCCT", 1667, 10000, "targetCCT", Stored::Clamped, 6500};
inline constexpr Limit kTargetDuv {"targetDuv", -0.01, 0.01, "targetDuv", Stored::Clamped, 0.0};
// The window's field shows the gamma divided by 2.4. The setter clamps.
inline constexpr Limit kGamma {"gamma", 1.0, 3.8, "gamma", Stored::Default, 2.4};
inline constexpr Limit kReadDelay {"readDelay", 500, 5000, "readDelay", Stored::Clamped, 1500};
inline constexpr Limit kReadCount {"readCount", 1, 100, "readCount", Stored::Clamped, 4};
// A run allocates one point per step.
inline constexpr Limit kSteps {"steps", 1, 100, "steps", Stored::Clamped, 17};
// In nits; also at most the processor's maximum luminance (`Vantor::lumaMax`).
inline constexpr Limit kBrightness {"brightnessLevel", 1, 4294967295.0, "bright", Stored::Clamped, 100};
inline constexpr Limit kErrorAllowed {"errorAllowed", 0, 100, "errAllowed", Stored::Unbounded, 0.3};
inline constexpr Limit kHighGainLimit {"highGainLimit", 0.01, 5.0, "hiGainLimit", Stored::Unbounded, 0.5};
inline constexpr Limit kLowGainLimit {"lowGainLimit", 0.005, 5.0, "loGainLimit", Stored::Unbounded, 0.25};
inline constexpr Limit kCompliantIterations {"btCompliantIterations", 5, 100, "btCompliantIterations",
                                             Stored::Default, 20};
inline constexpr Limit kMinIterations {"btMinIterations", 5, 100, "btMinIterations", Stored::Default, 50};
inline constexpr Limit kMaxIterations {"btMaxIterations", 100, 500, "btMaxIterations", Stored::Default, 400};
inline constexpr Limit kTileMeshWidth {"tileMeshWidth", 1, 200, "tileMeshWidth", Stored::Default, 20};
inline constexpr Limit kTileMeshHeight {"tileMeshHeight", 1, 200, "tileMeshHeight", Stored::Default, 20};
inline constexpr Limit kLinearGainBoost {"linearGainBoost", 1, 8, "linearGainBoost", Stored::Default, 2};
inline constexpr Limit kGainTweak {"gainTweak", 0.5, 1.5};

// ---- values read from files and devices, and sent
// A display gain: read from a correction file and from the processor's
// state, reached by a linearity run, sent to the processor.
inline constexpr Limit kDisplayGain {"displayGain", 0.0, 2.0};
// A drive level or curve handle of a correction file (they live near 0..1).
inline constexpr Limit kLevel {"level", -1000, 1000};
// What a colour meter can report, and a correction file holds: luminance in
// cd/m², CCT in K and Duv. A meter's CCT of 0, or above 0 but below kCct.low,
// is none measured ("unavailable / out of range"); a file's CCT of 0 is a
// point without a reading, such as the black level.
inline constexpr Limit kLuminance {"luminance", 0.0, 1.0e6};
inline constexpr Limit kCct {"cct", 1.0, 1.0e5};
inline constexpr Limit kDuv {"duv", -1.0, 1.0};
// The network meter's CIE 1931 x and y.
inline constexpr Limit kChromaticity {"chromaticity", 0.0, 1.0};

inline constexpr std::array kAll {
    kTargetCct,     kTargetDuv,     kGamma,           kReadDelay, kReadCount, kSteps, kBrightness,
    kErrorAllowed,  kHighGainLimit, kLowGainLimit,    kCompliantIterations, kMinIterations, kMaxIterations,
    kTileMeshWidth, kTileMeshHeight, kLinearGainBoost, kGainTweak, kDisplayGain, kLevel, kLuminance,
    kCct,           kDuv,           kChromaticity,
};

} // namespace Limits
