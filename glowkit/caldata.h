#pragma once

// Per-pixel calibration cube: the common in-memory form of a measured LED
// module or of a rectangular group of modules. Every file handler of the
// library produces it, the image operations change it in place and the
// statistics images read one channel of it at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Row-major two-dimensional array: a vector of rows, each row a vector of T.
// Its width is the size of row 0, its height the number of rows.
template <typename T>
using Vector2D = std::vector<std::vector<T>>;

// Rows x Cols values in row-major storage order: element (i, j) is m[i * Cols + j].
template <typename T, std::size_t Rows, std::size_t Cols>
using Matrix = std::array<T, Rows * Cols>;

namespace Cal {

// One reading of one emitter.
struct EmitterReading {
    float Cx = 0.0f;         // CIE 1931 chromaticity x
    float Cy = 0.0f;         // CIE 1931 chromaticity y
    float Lv = 0.0f;         // luminance (CIE Y)
    float WaveLength = 0.0f; // dominant wavelength, 0 where the source has none

    bool operator==(const EmitterReading&) const = default;
};

// Average tristimulus values per channel over a window of the cube.
struct Totals {
    // Row c holds the average X, Y and Z of channel c (0 red, 1 green, 2 blue).
    Vector2D<float> xyz = Vector2D<float>(3, std::vector<float>(3, 0.0f));
    // Number of pixels averaged. 0 means nothing was averaged; xyz is then all 0.
    std::uint64_t count = 0;

    bool operator==(const Totals&) const = default;
};

// Pixel (row, column) belongs to module column firstModuleColumn + column / moduleWidth
// and module row firstModuleRow + row / moduleHeight. Every pixel holds one reading per
// emitter channel: 0 red, 1 green, 2 blue. The grid's width is the size of row 0.
//
// Pixels may hold fewer readings than the others (a measurement table leaves the pixels
// it does not name empty); operations leave such pixels alone for the channels they lack,
// and the totals skip them.
struct Data {
    std::uint64_t firstModuleColumn = 0;
    std::uint64_t lastModuleColumn = 0;
    std::uint64_t firstModuleRow = 0;
    std::uint64_t lastModuleRow = 0;
    std::uint64_t moduleWidth = 0;
    std::uint64_t moduleHeight = 0;
    // Per channel, the component-wise minimum and maximum over all pixels, where a
    // reader fills them in.
    std::vector<EmitterReading> minimum;
    std::vector<EmitterReading> maximum;
    // Indexed by row, then column, then channel.
    Vector2D<std::vector<EmitterReading>> pixels;

    bool operator==(const Data&) const = default;

    // Appends one channel to every pixel. On an object without rows the grid is first
    // sized to the plane and taken as one module. A plane of another shape (or a
    // ragged one) is refused with "Cal::Data::addChannel: incorrect size!" on stderr.
    void addChannel(const Vector2D<EmitterReading>& plane);
    // Appends a channel of readings {0, 0, value, 0}; same size rule as addChannel.
    void addYChannel(const Vector2D<float>& plane);

    // Copy of the w x h window at column x, row y, taken as one module; the module
    // numbers are kept, minimum and maximum left empty. A window reaching past the
    // grid is clipped to it (one line on stderr).
    Data subset(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) const;

    // Dims the module borders: a border pixel's Lv of channel 0/1/2 is multiplied by
    // rFactor/gFactor/bFactor, rising linearly to 1 at edgeWidth/edgeHeight pixels
    // from the border. The module sizes are the arguments; sizes of 0 or less change
    // nothing (one line on stderr). Negative edge sizes count as 0.
    void feather(std::int32_t moduleWidth, std::int32_t moduleHeight,
                 std::int32_t edgeWidth, std::int32_t edgeHeight,
                 float rFactor, float gFactor, float bFactor);

    // Ramps the luminance across the inner rectangle of every module (the module less
    // its edges), horizontally or vertically, from the begin to the end factor of each
    // channel; the end factor itself is never reached. Module sizes of 0 or less change
    // nothing (one line on stderr); modules cut off by the grid's edge are clipped.
    void gradient(std::int32_t moduleWidth, std::int32_t moduleHeight,
                  std::int32_t edgeWidth, std::int32_t edgeHeight, bool vertical,
                  float rBegin, float rEnd, float gBegin, float gEnd,
                  float bBegin, float bEnd);

    // Applies m in XYZ to channels 0-2 of every pixel: (X', Y', Z') = (X, Y, Z) x m.
    void matrix(Matrix<float, 3, 3> m);

    // Multiplies the Lv of one channel by a per-pixel factor. A plane of another shape
    // is refused with "Cal::Data::fix: incorrect size!" on stderr.
    void fix(std::uint64_t channel, const Vector2D<float>& factors);

    // Multiplies the Lv of one channel by a factor interpolated from a coarse grid,
    // with a plateau of spread / 2 around each grid cell (spread 0: bilinear). An empty
    // or ragged grid, or a spread that is not a number, is refused (one line on stderr).
    void scale(std::uint64_t channel, const Vector2D<float>& grid, float spread);

    // The Lv of one channel as a plane of the grid's shape (0 where a pixel lacks it).
    Vector2D<float> slice(std::uint64_t channel) const;

    // Average XYZ per channel inside the disc of the given radius around column x,
    // row y (border included); radius 0 takes the whole grid.
    Totals totals(std::uint64_t x, std::uint64_t y, float radius) const;
    // Average XYZ per channel over rows y .. y + h and columns x .. x + w, both ends
    // included (so w + 1 columns and h + 1 rows), clipped to the grid.
    Totals totals(std::uint64_t x, std::uint64_t y, std::uint64_t w, std::uint64_t h) const;
};

} // namespace Cal
