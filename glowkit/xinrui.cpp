#include "glowkit/xinrui.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>
#include <vector>

namespace XinRui_Raw {

const char* const header16 =
    "ModCol\tModRow\tPixCol\tPixRow\tRed_Lv\tRed_Cx\tRed_Cy\tRed_WaveLength\tGreen_Lv\tGreen_Cx\tGreen_Cy\t"
    "Green_WaveLength\tBlue_Lv\tBlue_Cx\tBlue_Cy\tBlue_WaveLength";
const char* const header13 =
    "ModCol\tModRow\tPixCol\tPixRow\tRed_Lv\tRed_Cx\tRed_Cy\tGreen_Lv\tGreen_Cx\tGreen_Cy\tBlue_Lv\tBlue_Cx\tBlue_Cy";

namespace {

constexpr const char* kPrefix = "XinRui_Raw_";
constexpr const char* kSuffix = ".txt";

struct Entry {
    std::uint64_t modCol = 0;
    std::uint64_t modRow = 0;
    std::uint64_t pixCol = 0;
    std::uint64_t pixRow = 0;
    Cal::EmitterReading readings[3]{};
};

void dropCarriageReturn(std::string& line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
}

bool parsePosition(const std::string& token, std::uint64_t& out)
{
    const char* end = token.data() + token.size();
    std::uint64_t v = 0;
    const auto [ptr, ec] = std::from_chars(token.data(), end, v);
    if (ec != std::errc() || ptr != end || v > maxPosition)
        return false;
    out = v;
    return true;
}

bool parseValue(const std::string& token, float& out)
{
    const char* end = token.data() + token.size();
    float v = 0.0f;
    const auto [ptr, ec] = std::from_chars(token.data(), end, v);
    if (ec != std::errc() || ptr != end)
        return false;
    out = v;
    return true;
}

// Parses one data line. Returns false when a field is missing or malformed; the
// fields before it are kept. `placed` tells whether all four positions were read.
bool parseLine(const std::string& line, bool withWaveLength, Entry& e, bool& placed)
{
    std::istringstream ls(line);
    std::string token;
    std::uint64_t* positions[] = {&e.modCol, &e.modRow, &e.pixCol, &e.pixRow};
    placed = false;
    for (auto* p : positions) {
        if (!(ls >> token) || !parsePosition(token, *p))
            return false;
    }
    placed = true;
    for (auto& r : e.readings) {
        float* fields[] = {&r.Lv, &r.Cx, &r.Cy, &r.WaveLength};
        const int n = withWaveLength ? 4 : 3;
        for (int i = 0; i < n; ++i) {
            if (!(ls >> token) || !parseValue(token, *fields[i]))
                return false;
        }
    }
    return true;
}

void updateExtremes(Cal::EmitterReading& lo, Cal::EmitterReading& hi, const Cal::EmitterReading& v)
{
    lo.Cx = std::min(lo.Cx, v.Cx);
    lo.Cy = std::min(lo.Cy, v.Cy);
    lo.Lv = std::min(lo.Lv, v.Lv);
    lo.WaveLength = std::min(lo.WaveLength, v.WaveLength);
    hi.Cx = std::max(hi.Cx, v.Cx);
    hi.Cy = std::max(hi.Cy, v.Cy);
    hi.Lv = std::max(hi.Lv, v.Lv);
    hi.WaveLength = std::max(hi.WaveLength, v.WaveLength);
}

} // namespace

Cal::Data Handler::readStream(std::istream& is) const
{
    std::string line;
    std::getline(is, line);
    dropCarriageReturn(line);
    const bool with16 = line == header16;
    if (!with16 && line != header13) {
        std::cerr << "Incorrect headers: " << std::endl << line << std::endl << header16 << std::endl;
        return {};
    }

    Cal::Data data;
    data.firstModuleColumn = std::numeric_limits<std::uint64_t>::max();
    data.firstModuleRow = std::numeric_limits<std::uint64_t>::max();
    data.lastModuleColumn = 0;
    data.lastModuleRow = 0;
    data.moduleWidth = 0;
    data.moduleHeight = 0;

    std::vector<Entry> entries;
    std::uint64_t counter = 2;
    while (is.good()) {
        std::getline(is, line);
        dropCarriageReturn(line);
        if (line.empty())
            continue;
        Entry e;
        bool placed = false;
        if (!parseLine(line, with16, e, placed))
            std::cout << "bad entry, line " << counter << std::endl;
        ++counter;
        if (!placed)
            continue;
        data.firstModuleColumn = std::min(data.firstModuleColumn, e.modCol);
        data.lastModuleColumn = std::max(data.lastModuleColumn, e.modCol);
        data.firstModuleRow = std::min(data.firstModuleRow, e.modRow);
        data.lastModuleRow = std::max(data.lastModuleRow, e.modRow);
        data.moduleWidth = std::max(data.moduleWidth, e.pixCol + 1);
        data.moduleHeight = std::max(data.moduleHeight, e.pixRow + 1);
        entries.push_back(e);
    }

    const std::uint64_t across = data.lastModuleColumn - data.firstModuleColumn + 1;
    const std::uint64_t down = data.lastModuleRow - data.firstModuleRow + 1;
    const std::uint64_t width = data.moduleWidth * across;
    const std::uint64_t height = data.moduleHeight * down;
    std::cout << "read " << counter << " lines, " << across << " x " << down << " modules, " << width << " x "
              << height << " pixels " << std::endl;

    // Positions are at most maxPosition, so width and height fit 32 bits each; their
    // product can still reach 2^64 and wrap to 0.
    if (!entries.empty() && (width > maxPixels || height > maxPixels || width * height > maxPixels)) {
        std::cerr << "XinRui table too large: " << width << " x " << height << " pixels" << std::endl;
        return {};
    }
    if (width * height > pixelsPerLine * entries.size()) {
        std::cerr << "XinRui table too sparse: " << width << " x " << height << " pixels for " << entries.size()
                  << " lines" << std::endl;
        return {};
    }
    data.pixels.assign(height, std::vector<std::vector<Cal::EmitterReading>>(width));
    const float big = std::numeric_limits<float>::max();
    data.minimum.assign(3, Cal::EmitterReading{big, big, big, big});
    data.maximum.assign(3, Cal::EmitterReading{});
    for (const Entry& e : entries) {
        const std::uint64_t row = (e.modRow - data.firstModuleRow) * data.moduleHeight + e.pixRow;
        const std::uint64_t col = (e.modCol - data.firstModuleColumn) * data.moduleWidth + e.pixCol;
        data.pixels[row][col].assign(std::begin(e.readings), std::end(e.readings));
        for (int c = 0; c < 3; ++c)
            updateExtremes(data.minimum[c], data.maximum[c], e.readings[c]);
    }
    return data;
}

Cal::Data Handler::readFile(const std::string& path) const
{
    std::cout << "reading " << path << " ..." << std::endl;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "Can't open file " << path << ": " << std::strerror(errno) << std::endl;
        return {};
    }
    return readStream(in);
}

std::map<std::string, Cal::Data> Handler::readFiles(const std::string& folder) const
{
    namespace fs = std::filesystem;
    std::map<std::string, Cal::Data> result;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        std::cerr << "Can't read folder " << folder << ": " << ec.message() << std::endl;
        return result;
    }
    const std::string prefix = kPrefix;
    const std::string suffix = kSuffix;
    for (const auto& entry : it) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError))
            continue;
        const std::string name = entry.path().filename().string();
        if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0
            || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string id = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        result[id] = readFile(entry.path().string());
    }
    return result;
}

void Handler::writeStream(const Cal::Data& data, std::ostream& os, int precision) const
{
    os << header16 << '\n';
    os << std::fixed;
    const std::size_t width = data.pixels.empty() ? 0 : data.pixels.front().size();
    if (width > 0 && (data.moduleWidth == 0 || data.moduleHeight == 0)) {
        std::cerr << "XinRui_Raw::Handler::writeStream: module size 0, no pixels written" << std::endl;
        os << std::setprecision(1);
        return;
    }
    for (std::size_t r = 0; r < data.pixels.size(); ++r) {
        const auto& row = data.pixels[r];
        for (std::size_t c = 0; c < std::min(width, row.size()); ++c) {
            const auto& px = row[c];
            if (px.size() < 3)
                continue;
            os << data.firstModuleColumn + c / data.moduleWidth << ' ' << data.firstModuleRow + r / data.moduleHeight
               << ' ' << c % data.moduleWidth << ' ' << r % data.moduleHeight << ' ';
            for (int k = 0; k < 3; ++k) {
                if (k > 0)
                    os << '\t';
                os << std::setprecision(precision) << px[k].Lv << '\t' << std::setprecision(4) << px[k].Cx << '\t'
                   << px[k].Cy << '\t' << std::setprecision(1) << px[k].WaveLength;
            }
            os << '\n';
        }
    }
    os << std::setprecision(1);
}

void Handler::writeFile(const Cal::Data& data, const std::string& path, int precision) const
{
    std::cout << "writing " << path << " ..." << std::endl;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "Can't open file " << path << ": " << std::strerror(errno) << std::endl;
        return;
    }
    writeStream(data, out, precision);
}

void Handler::writeFiles(const std::map<std::string, Cal::Data>& data, const std::string& folder,
                         int precision) const
{
    for (const auto& [id, d] : data)
        writeFile(d, folder + "/" + kPrefix + id + kSuffix, precision);
}

} // namespace XinRui_Raw
