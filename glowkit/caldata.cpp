#include "glowkit/caldata.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace Cal {

namespace {

// Channels 0, 1 and 2 are the ones the colour operations address.
constexpr std::size_t kColourChannels = 3;

std::uint64_t gridWidth(const Vector2D<std::vector<EmitterReading>>& pixels)
{
    return pixels.empty() ? 0 : pixels.front().size();
}

// True when every row of the plane holds exactly `width` values and there are `height` rows.
template <typename T>
bool hasShape(const Vector2D<T>& plane, std::uint64_t height, std::uint64_t width)
{
    if (plane.size() != height)
        return false;
    return std::all_of(plane.begin(), plane.end(),
                       [width](const std::vector<T>& row) { return row.size() == width; });
}

// Columns of a row that an operation may touch: the grid width, but never past the row.
std::size_t usableColumns(const std::vector<std::vector<EmitterReading>>& row, std::uint64_t width)
{
    return static_cast<std::size_t>(std::min<std::uint64_t>(width, row.size()));
}

// Blends a towards b by t; exact at both ends and never past b.
float blend(float a, float b, float t)
{
    if ((a < 0.0f && b > 0.0f) || (a > 0.0f && b < 0.0f) || a == 0.0f || b == 0.0f)
        return t * b + (1.0f - t) * a;
    if (t == 1.0f)
        return b;
    const float v = a + t * (b - a);
    return b > a ? std::min(v, b) : std::max(v, b);
}

// Weight of a fractional grid position with a plateau of `half` at both ends.
float plateauWeight(float f, float half, float spread)
{
    f = std::min(std::max(f, 0.0f), 1.0f);
    if (f <= half)
        return 0.0f;
    if (f >= 1.0f - half)
        return 1.0f;
    return (f - half) / (1.0f - spread);
}

// Lower and upper index of [centre - radius, centre + radius] clipped to [0, last].
// Returns false when the range is empty.
bool discRange(std::uint64_t centre, float radius, std::uint64_t last, std::uint64_t& lo, std::uint64_t& hi)
{
    const double c = static_cast<double>(centre);
    const double r = radius;
    const double top = c + r;
    if (r <= c && c - r > static_cast<double>(last))
        return false; // starts past the grid
    lo = r > c ? 0 : static_cast<std::uint64_t>(c - r);
    hi = top >= static_cast<double>(last) ? last : static_cast<std::uint64_t>(top);
    return lo <= hi;
}

struct Accumulator {
    double sum[kColourChannels][3] = {};
    std::uint64_t count = 0;

    void add(const std::vector<EmitterReading>& readings)
    {
        if (readings.size() < kColourChannels)
            return; // a pixel without three readings has nothing to give
        for (std::size_t c = 0; c < kColourChannels; ++c) {
            const EmitterReading& e = readings[c];
            sum[c][0] += e.Cx * e.Lv / e.Cy;
            sum[c][1] += e.Lv;
            sum[c][2] += (1.0f - e.Cx - e.Cy) * e.Lv / e.Cy;
        }
        ++count;
    }

    Totals result() const
    {
        Totals t;
        if (count == 0) {
            std::cerr << "Cal::Data::totals: no pixels to average!" << std::endl;
            return t;
        }
        t.count = count;
        const double n = static_cast<float>(count);
        for (std::size_t c = 0; c < kColourChannels; ++c)
            for (std::size_t k = 0; k < 3; ++k)
                t.xyz[c][k] = static_cast<float>(sum[c][k] / n);
        return t;
    }
};

} // namespace

void Data::addChannel(const Vector2D<EmitterReading>& plane)
{
    const std::uint64_t planeWidth = plane.empty() ? 0 : plane.front().size();
    if (!hasShape(plane, plane.size(), planeWidth)) {
        std::cerr << "Cal::Data::addChannel: incorrect size!" << std::endl;
        return;
    }
    if (pixels.empty()) {
        pixels.assign(plane.size(), std::vector<std::vector<EmitterReading>>(planeWidth));
        moduleWidth = planeWidth;
        moduleHeight = plane.size();
    }
    const std::uint64_t width = gridWidth(pixels);
    if (planeWidth != width || plane.size() != pixels.size()) {
        std::cerr << "Cal::Data::addChannel: incorrect size!" << std::endl;
        return;
    }
    for (std::size_t r = 0; r < pixels.size(); ++r) {
        auto& row = pixels[r];
        const std::size_t n = usableColumns(row, width);
        for (std::size_t c = 0; c < n; ++c)
            row[c].push_back(plane[r][c]);
    }
}

void Data::addYChannel(const Vector2D<float>& plane)
{
    Vector2D<EmitterReading> readings(plane.size());
    for (std::size_t r = 0; r < plane.size(); ++r) {
        readings[r].reserve(plane[r].size());
        for (float y : plane[r])
            readings[r].push_back(EmitterReading{0.0f, 0.0f, y, 0.0f});
    }
    addChannel(readings);
}

Data Data::subset(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) const
{
    const std::uint64_t width = gridWidth(pixels);
    const std::uint64_t height = pixels.size();
    const std::uint64_t cw = x >= width ? 0 : std::min(w, width - x);
    const std::uint64_t ch = y >= height ? 0 : std::min(h, height - y);
    if (cw != w || ch != h)
        std::cerr << "Cal::Data::subset: window outside the grid, clipped!" << std::endl;

    Data out;
    out.firstModuleColumn = firstModuleColumn;
    out.lastModuleColumn = lastModuleColumn;
    out.firstModuleRow = firstModuleRow;
    out.lastModuleRow = lastModuleRow;
    out.moduleWidth = cw;
    out.moduleHeight = ch;
    out.pixels.resize(ch);
    for (std::uint64_t i = 0; i < ch; ++i) {
        const auto& src = pixels[y + i];
        auto& dst = out.pixels[i];
        dst.resize(cw);
        // A row shorter than row 0 leaves the missing pixels without readings.
        for (std::uint64_t j = 0; j < cw && x + j < src.size(); ++j)
            dst[j] = src[x + j];
    }
    return out;
}

void Data::feather(std::int32_t mw, std::int32_t mh, std::int32_t ew, std::int32_t eh,
                   float rFactor, float gFactor, float bFactor)
{
    if (mw <= 0 || mh <= 0) {
        std::cerr << "Cal::Data::feather: incorrect module size!" << std::endl;
        return;
    }
    ew = std::max(ew, 0);
    eh = std::max(eh, 0);
    const float factors[kColourChannels] = {rFactor, gFactor, bFactor};
    const std::uint64_t umw = static_cast<std::uint64_t>(mw);
    const std::uint64_t umh = static_cast<std::uint64_t>(mh);
    const std::uint64_t width = gridWidth(pixels);

    for (std::uint64_t r = 0; r < pixels.size(); ++r) {
        const std::uint64_t ry = r % umh;
        const std::uint64_t dy = std::min(ry, umh - 1 - ry);
        auto& row = pixels[r];
        const std::size_t n = usableColumns(row, width);
        for (std::uint64_t c = 0; c < n; ++c) {
            const std::uint64_t cx = c % umw;
            const std::uint64_t dx = std::min(cx, umw - 1 - cx);
            if (dx >= static_cast<std::uint64_t>(ew) && dy >= static_cast<std::uint64_t>(eh))
                continue;
            const float fy = eh == 0 ? 1.0f : static_cast<float>(dy) / static_cast<float>(eh);
            const float fx = ew == 0 ? 1.0f : static_cast<float>(dx) / static_cast<float>(ew);
            const float t = std::min(fx, fy);
            auto& readings = row[c];
            const std::size_t channels = std::min(readings.size(), kColourChannels);
            for (std::size_t k = 0; k < channels; ++k)
                readings[k].Lv *= t * (1.0f - factors[k]) + factors[k];
        }
    }
}

void Data::gradient(std::int32_t mw, std::int32_t mh, std::int32_t ew, std::int32_t eh, bool vertical,
                    float rBegin, float rEnd, float gBegin, float gEnd, float bBegin, float bEnd)
{
    if (mw <= 0 || mh <= 0) {
        std::cerr << "Cal::Data::gradient: incorrect module size!" << std::endl;
        return;
    }
    ew = std::max(ew, 0);
    eh = std::max(eh, 0);
    const std::int64_t innerW = static_cast<std::int64_t>(mw) - 2 * static_cast<std::int64_t>(ew);
    const std::int64_t innerH = static_cast<std::int64_t>(mh) - 2 * static_cast<std::int64_t>(eh);
    if (innerW <= 0 || innerH <= 0)
        return; // the edges cover the whole module
    const float begin[kColourChannels] = {rBegin, gBegin, bBegin};
    const float end[kColourChannels] = {rEnd, gEnd, bEnd};
    const std::uint64_t width = gridWidth(pixels);
    const std::uint64_t height = pixels.size();

    for (std::uint64_t R = 0; R < height; R += static_cast<std::uint64_t>(mh)) {
        for (std::uint64_t K = 0; K < width; K += static_cast<std::uint64_t>(mw)) {
            for (std::int64_t i = 0; i < innerH; ++i) {
                const std::uint64_t r = R + static_cast<std::uint64_t>(eh + i);
                if (r >= height)
                    break; // the last module row is cut off by the grid
                auto& row = pixels[r];
                const std::size_t n = usableColumns(row, width);
                for (std::int64_t j = 0; j < innerW; ++j) {
                    const std::uint64_t c = K + static_cast<std::uint64_t>(ew + j);
                    if (c >= n)
                        break;
                    const float t = vertical ? static_cast<float>(i) / static_cast<float>(innerH)
                                             : static_cast<float>(j) / static_cast<float>(innerW);
                    auto& readings = row[c];
                    const std::size_t channels = std::min(readings.size(), kColourChannels);
                    for (std::size_t k = 0; k < channels; ++k)
                        readings[k].Lv *= begin[k] + t * (end[k] - begin[k]);
                }
            }
        }
    }
}

void Data::matrix(Matrix<float, 3, 3> m)
{
    const std::uint64_t width = gridWidth(pixels);
    for (auto& row : pixels) {
        const std::size_t n = usableColumns(row, width);
        for (std::size_t c = 0; c < n; ++c) {
            auto& readings = row[c];
            const std::size_t channels = std::min(readings.size(), kColourChannels);
            for (std::size_t k = 0; k < channels; ++k) {
                EmitterReading& e = readings[k];
                const float X = e.Cx * e.Lv / e.Cy;
                const float Y = e.Lv;
                const float Z = (1.0f - e.Cx - e.Cy) * e.Lv / e.Cy;
                const float X2 = m[0] * X + m[3] * Y + m[6] * Z;
                const float Y2 = m[1] * X + m[4] * Y + m[7] * Z;
                const float Z2 = m[2] * X + m[5] * Y + m[8] * Z;
                const float S = X2 + Y2 + Z2;
                e.Cx = X2 / S;
                e.Cy = Y2 / S;
                e.Lv = Y2;
            }
        }
    }
}

void Data::fix(std::uint64_t channel, const Vector2D<float>& factors)
{
    const std::uint64_t width = gridWidth(pixels);
    if (!hasShape(factors, pixels.size(), width)) {
        std::cerr << "Cal::Data::fix: incorrect size!" << std::endl;
        return;
    }
    for (std::size_t r = 0; r < pixels.size(); ++r) {
        auto& row = pixels[r];
        const std::size_t n = usableColumns(row, width);
        for (std::size_t c = 0; c < n; ++c) {
            if (channel < row[c].size())
                row[c][channel].Lv *= factors[r][c];
        }
    }
}

void Data::scale(std::uint64_t channel, const Vector2D<float>& grid, float spread)
{
    const std::uint64_t gridRows = grid.size();
    const std::uint64_t gridCols = grid.empty() ? 0 : grid.front().size();
    const bool ragged = std::any_of(grid.begin(), grid.end(), [gridCols](const std::vector<float>& row) {
        return row.size() < gridCols;
    });
    if (gridRows == 0 || gridCols == 0 || ragged || std::isnan(spread)) {
        std::cerr << "Cal::Data::scale: incorrect grid!" << std::endl;
        return;
    }
    const std::uint64_t width = gridWidth(pixels);
    const std::uint64_t height = pixels.size();
    const float half = spread / 2.0f;

    for (std::uint64_t i = 0; i < height; ++i) {
        const float p = static_cast<float>(i) * static_cast<float>(gridRows) / static_cast<float>(height) - 0.5f;
        const std::uint64_t l = std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(std::trunc(p), 0.0f)),
                                                        gridRows - 1);
        const float wy = plateauWeight(p - static_cast<float>(l), half, spread);
        const bool nextRow = l + 1 < gridRows;
        auto& row = pixels[i];
        const std::size_t n = usableColumns(row, width);
        for (std::uint64_t j = 0; j < n; ++j) {
            if (channel >= row[j].size())
                continue;
            const float q = static_cast<float>(j) * static_cast<float>(gridCols) / static_cast<float>(width) - 0.5f;
            const std::uint64_t v = std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(std::trunc(q), 0.0f)),
                                                            gridCols - 1);
            const float wx = plateauWeight(q - static_cast<float>(v), half, spread);
            const bool nextCol = v + 1 < gridCols;
            const float a = nextCol ? blend(grid[l][v], grid[l][v + 1], wx) : grid[l][v];
            float factor = a;
            if (nextRow) {
                const float b = nextCol ? blend(grid[l + 1][v], grid[l + 1][v + 1], wx) : grid[l + 1][v];
                factor = blend(a, b, wy);
            }
            row[j][channel].Lv *= factor;
        }
    }
}

Vector2D<float> Data::slice(std::uint64_t channel) const
{
    const std::uint64_t width = gridWidth(pixels);
    Vector2D<float> plane(pixels.size(), std::vector<float>(width, 0.0f));
    for (std::size_t r = 0; r < pixels.size(); ++r) {
        const auto& row = pixels[r];
        const std::size_t n = usableColumns(row, width);
        for (std::size_t c = 0; c < n; ++c) {
            if (channel < row[c].size())
                plane[r][c] = row[c][channel].Lv;
        }
    }
    return plane;
}

Totals Data::totals(std::uint64_t x, std::uint64_t y, float radius) const
{
    Accumulator acc;
    const std::uint64_t width = gridWidth(pixels);
    const std::uint64_t height = pixels.size();

    if (radius == 0.0f) {
        for (const auto& row : pixels) {
            const std::size_t n = usableColumns(row, width);
            for (std::size_t c = 0; c < n; ++c)
                acc.add(row[c]);
        }
        return acc.result();
    }

    // A negative radius takes no pixel, and neither does one that is not a number.
    std::uint64_t r0 = 0, r1 = 0, c0 = 0, c1 = 0;
    if (radius > 0.0f && width > 0 && height > 0
        && discRange(y, radius, height - 1, r0, r1) && discRange(x, radius, width - 1, c0, c1)) {
        const float r2 = radius * radius;
        for (std::uint64_t r = r0; r <= r1; ++r) {
            const auto& row = pixels[r];
            const std::size_t n = usableColumns(row, width);
            const float dy = static_cast<float>(r) - static_cast<float>(y);
            for (std::uint64_t c = c0; c <= c1 && c < n; ++c) {
                const float dx = static_cast<float>(c) - static_cast<float>(x);
                if (r2 >= dx * dx + dy * dy)
                    acc.add(row[c]);
            }
        }
    }
    return acc.result();
}

Totals Data::totals(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) const
{
    Accumulator acc;
    const std::uint64_t width = gridWidth(pixels);
    const std::uint64_t height = pixels.size();
    if (x < width && y < height) {
        // Both ends are included; w and h past the grid stop at its last row and column.
        const std::uint64_t r1 = h >= height - 1 - y ? height - 1 : y + h;
        const std::uint64_t c1 = w >= width - 1 - x ? width - 1 : x + w;
        for (std::uint64_t r = y; r <= r1; ++r) {
            const auto& row = pixels[r];
            const std::size_t n = usableColumns(row, width);
            for (std::uint64_t c = x; c <= c1 && c < n; ++c)
                acc.add(row[c]);
        }
    }
    return acc.result();
}

} // namespace Cal
