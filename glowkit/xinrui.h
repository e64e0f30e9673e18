#pragma once

// Per-pixel measurement tables of XinRui LED measurement systems: one text line
// per pixel with its module position, its position inside the module and, for
// the red, green and blue emitters, luminance, chromaticity and (in the
// 16-column form) dominant wavelength.

#include "glowkit/caldata.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

namespace XinRui_Raw {

// Header of the 16-column table (the form this handler writes).
extern const char* const header16;
// Header of the 13-column table (no wavelengths).
extern const char* const header13;

// Positions above this value (module or pixel, column or row) make a line a bad
// entry. A table whose grid would exceed maxPixels pixels is refused, and so is
// one whose grid holds more than pixelsPerLine pixels for each line that places
// a pixel: a measured table names (nearly) every pixel of its grid, so a few
// lines far apart describe no real wall, and their grid would cost memory out of
// all proportion to the file.
constexpr std::uint64_t maxPosition = 0xFFFF;
constexpr std::uint64_t maxPixels = std::uint64_t(1) << 24;
constexpr std::uint64_t pixelsPerLine = 4;

class Handler {
public:
    // Reads one table. A header that is neither form gives three lines on stderr and an
    // empty cube. A line that does not parse is reported on stdout ("bad entry, line N")
    // and stored with the fields read so far (the rest 0), unless its four positions are
    // not all valid, in which case it cannot be placed and is dropped. Pixels that no
    // line names keep no readings.
    Cal::Data readStream(std::istream& is) const;
    Cal::Data readFile(const std::string& path) const;
    // Every regular file "XinRui_Raw_<id>.txt" of the folder, keyed by id.
    std::map<std::string, Cal::Data> readFiles(const std::string& folder) const;

    // Writes the 16-column table: Lv with `precision` decimals, Cx and Cy with 4,
    // WaveLength with 1. Pixels with fewer than three readings are left out.
    void writeStream(const Cal::Data& data, std::ostream& os, int precision) const;
    void writeFile(const Cal::Data& data, const std::string& path, int precision) const;
    // Writes folder + "/XinRui_Raw_" + id + ".txt" for every entry.
    void writeFiles(const std::map<std::string, Cal::Data>& data, const std::string& folder,
                    int precision) const;
};

} // namespace XinRui_Raw
