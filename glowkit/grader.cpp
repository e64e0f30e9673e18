#include "glowkit/grader.h"

#include <CCfits/CCfits>
#include <png++/png.hpp>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <iostream>
#include <numbers>
#include <valarray>
#include <vector>

namespace {

const char* channelLetter(std::int32_t channel)
{
    static const char* const letters[] = {"R", "G", "B"};
    return letters[channel];
}

Vector2D<float> zeroPlane(const Vector2D<float>& like)
{
    return Vector2D<float>(like.size(), std::vector<float>(like.empty() ? 0 : like.front().size(), 0.0f));
}

std::size_t widthOf(const Vector2D<float>& p)
{
    return p.empty() ? 0 : p.front().size();
}

bool sameShape(const Vector2D<float>& a, const Vector2D<float>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t r = 0; r < a.size(); ++r)
        if (a[r].size() != b[r].size())
            return false;
    return true;
}

// Checks the common preconditions and returns the channel's planes in key order.
bool slices(const Grader::Captures& captures, std::int32_t channel, const char* who,
            std::vector<std::pair<std::string, Vector2D<float>>>& out)
{
    if (captures.empty()) {
        std::cerr << "Grader::" << who << ": no captures" << std::endl;
        return false;
    }
    if (channel < 0 || channel > 2) {
        std::cerr << "Grader::" << who << ": invalid channel " << channel << std::endl;
        return false;
    }
    for (const auto& [id, data] : captures) {
        out.emplace_back(id, data.slice(static_cast<std::uint64_t>(channel)));
        const auto& p = out.back().second;
        if (!sameShape(p, out.front().second) || widthOf(p) == 0) {
            std::cerr << "Grader::" << who << ": capture " << id << " has another size or no pixels" << std::endl;
            return false;
        }
    }
    return true;
}

bool enoughModules(std::int32_t across, std::int32_t down, const char* who)
{
    if (across < 1 || down < 1) {
        std::cerr << "Grader::" << who << ": needs at least one module" << std::endl;
        return false;
    }
    return true;
}

void addTo(Vector2D<float>& acc, const Vector2D<float>& p)
{
    for (std::size_t r = 0; r < acc.size(); ++r)
        for (std::size_t c = 0; c < acc[r].size(); ++c)
            acc[r][c] += p[r][c];
}

void divideBy(Vector2D<float>& acc, float d)
{
    for (auto& row : acc)
        for (float& v : row)
            v /= d;
}

// Index mirrored into [first, end) without repeating the border, then kept inside
// even where the kernel is wider than the cell.
long mirror(long s, long first, long end)
{
    if (s < first)
        s = 2 * first - s;
    else if (s >= end)
        s = 2 * end - s - 2;
    return std::clamp(s, first, end - 1);
}

} // namespace

void Grader::writePng(const Vector2D<float>& plane, const std::string& path, float lo, float hi) const
{
    const std::size_t width = widthOf(plane);
    if (width == 0) {
        std::cerr << "Grader::writePng: empty plane, " << path << " not written" << std::endl;
        return;
    }
    if (lo == hi) {
        lo = FLT_MAX;
        hi = 0.0f;
        for (const auto& row : plane)
            for (float v : row) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    }
    png::image<png::rgb_pixel> image(static_cast<png::uint_32>(width), static_cast<png::uint_32>(plane.size()));
    for (std::size_t r = 0; r < plane.size(); ++r) {
        for (std::size_t c = 0; c < width; ++c) {
            const float v = c < plane[r].size() ? plane[r][c] : 0.0f;
            const float g = (v - lo) * 255.0f / (hi - lo);
            // NaN (a constant plane) and values no int holds are grey 0.
            const bool representable = g > static_cast<float>(INT_MIN) && g < static_cast<float>(INT_MAX);
            const auto grey = static_cast<png::byte>(representable ? static_cast<int>(g) & 0xFF : 0);
            image[static_cast<png::uint_32>(r)][static_cast<png::uint_32>(c)] = png::rgb_pixel(grey, grey, grey);
        }
    }
    image.write(path);
}

void Grader::writeFits(const Vector2D<float>& plane, const std::string& path) const
{
    const std::size_t width = widthOf(plane);
    std::vector<long> axes{static_cast<long>(width), static_cast<long>(plane.size())};
    CCfits::FITS file(path, FLOAT_IMG, 2, axes.data());
    std::valarray<float> values(width * plane.size());
    std::size_t i = 0;
    for (const auto& row : plane)
        for (std::size_t c = 0; c < width; ++c)
            values[i++] = c < row.size() ? row[c] : 0.0f;
    if (values.size() > 0)
        file.pHDU().write(1, static_cast<long>(values.size()), values);
}

Vector2D<float> Grader::gaussianKernel(std::int32_t n) const
{
    if (n <= 0)
        return {};
    const double sigma = ((n - 1) * 0.5 - 1) * 0.3 + 0.8;
    const int h = (n - 1) / 2;
    Vector2D<float> k(static_cast<std::size_t>(n), std::vector<float>(static_cast<std::size_t>(n)));
    float sum = 0.0f;
    for (int row = 0; row < n; ++row) {
        for (int col = 0; col < n; ++col) {
            const int d2 = (col - h) * (col - h) + (row - h) * (row - h);
            const double v = std::exp(-d2 / (2 * sigma * sigma)) / (std::numbers::pi * 2 * sigma * sigma);
            k[row][col] = static_cast<float>(v);
            sum += k[row][col];
        }
    }
    for (auto& row : k)
        for (float& v : row)
            v /= sum;
    return k;
}

Vector2D<float> Grader::gaussianBlur(const Vector2D<float>& plane, std::int32_t n, std::int32_t modulesAcross,
                                     std::int32_t modulesDown) const
{
    return convolve(plane, gaussianKernel(n), modulesAcross, modulesDown);
}

Vector2D<float> Grader::convolve(const Vector2D<float>& plane, const Vector2D<float>& kernel,
                                 std::int32_t modulesAcross, std::int32_t modulesDown) const
{
    Vector2D<float> out = zeroPlane(plane);
    const long height = static_cast<long>(plane.size());
    const long width = static_cast<long>(widthOf(plane));
    if (height == 0 || width == 0 || kernel.empty() || kernel.front().empty())
        return out;
    const long cellH = modulesDown > 0 ? height / modulesDown : 0;
    const long cellW = modulesAcross > 0 ? width / modulesAcross : 0;
    if (cellH == 0 || cellW == 0) {
        std::cerr << "Grader::convolve: " << modulesAcross << " x " << modulesDown << " modules do not fit "
                  << width << " x " << height << " pixels" << std::endl;
        return out;
    }
    const long n = static_cast<long>(kernel.front().size());
    const long o = (1 - n) / 2;
    const long kRows = std::min<long>(n, static_cast<long>(kernel.size()));
    for (long i = 0; i < height; ++i) {
        const long g = i - i % cellH;
        const long gE = std::min(g + cellH, height);
        for (long j = 0; j < width; ++j) {
            const long t = j - j % cellW;
            const long tE = std::min(t + cellW, width);
            float sum = 0.0f;
            for (long k = 0; k < kRows; ++k) {
                const auto& srcRow = plane[static_cast<std::size_t>(mirror(i + o + k, g, gE))];
                const auto& kRow = kernel[static_cast<std::size_t>(k)];
                const long kCols = std::min<long>(n, static_cast<long>(kRow.size()));
                for (long l = 0; l < kCols; ++l) {
                    const auto c = static_cast<std::size_t>(mirror(j + o + l, t, tE));
                    if (c < srcRow.size())
                        sum += srcRow[c] * kRow[static_cast<std::size_t>(l)];
                }
            }
            out[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = sum;
        }
    }
    return out;
}

Vector2D<float> Grader::pixelAverage(const Captures& captures, std::int32_t channel, const std::string& folder) const
{
    std::vector<std::pair<std::string, Vector2D<float>>> planes;
    if (!slices(captures, channel, "pixelAverage", planes))
        return {};
    Vector2D<float> acc = zeroPlane(planes.front().second);
    for (const auto& [id, p] : planes) {
        writePng(p, folder + "/" + id + "_original.png", 0, 0);
        addTo(acc, p);
    }
    divideBy(acc, static_cast<float>(planes.size()));
    double sum = 0.0;
    for (const auto& row : acc)
        for (float v : row)
            sum += v;
    const double mean = sum / static_cast<double>(acc.size() * widthOf(acc));
    for (auto& row : acc)
        for (float& v : row)
            v = static_cast<float>(v / mean);
    return acc;
}

Vector2D<float> Grader::averageBlurred(const Captures& captures, std::int32_t modulesAcross, std::int32_t modulesDown,
                                       std::int32_t channel, std::int32_t kernelSize, const std::string& folder) const
{
    std::vector<std::pair<std::string, Vector2D<float>>> planes;
    if (!enoughModules(modulesAcross, modulesDown, "averageBlurred")
        || !slices(captures, channel, "averageBlurred", planes))
        return {};
    const std::string letter = channelLetter(channel);
    Vector2D<float> acc = zeroPlane(planes.front().second);
    std::size_t k = 0;
    for (const auto& [id, p] : planes) {
        writePng(p, folder + "/" + id + "_original_" + letter + ".png", 0, 0);
        addTo(acc, p);
        std::cout << "averaged " << ++k << " of " << planes.size() << std::endl;
    }
    divideBy(acc, static_cast<float>(planes.size()));
    writePng(acc, folder + "/average_" + letter + ".png", 0, 0);
    writeFits(acc, "!" + folder + "/average_" + letter + ".fits");

    Vector2D<float> b = gaussianBlur(acc, kernelSize, modulesAcross, modulesDown);
    std::cout << "blur done" << std::endl;
    writePng(b, folder + "/average_blur_" + letter + ".png", 0, 0);
    writeFits(b, "!" + folder + "/average_blur_" + letter + ".fits");

    float sum = 0.0f;
    for (const auto& row : b)
        for (float v : row)
            sum += v;
    const float mean = sum / static_cast<float>(b.size() * widthOf(b));
    std::cout << "pixel average done" << std::endl;
    divideBy(b, mean);
    return b;
}

Vector2D<float> Grader::relativeAverage(const Captures& captures, std::int32_t modulesAcross, std::int32_t modulesDown,
                                        std::int32_t channel, std::int32_t kernelSize, const std::string& folder) const
{
    std::vector<std::pair<std::string, Vector2D<float>>> planes;
    if (!enoughModules(modulesAcross, modulesDown, "relativeAverage")
        || !slices(captures, channel, "relativeAverage", planes))
        return {};
    const Vector2D<float> kernel = gaussianKernel(kernelSize);
    const std::size_t height = planes.front().second.size();
    const std::size_t width = widthOf(planes.front().second);
    const std::size_t cellH = height / static_cast<std::size_t>(modulesDown);
    const std::size_t cellW = width / static_cast<std::size_t>(modulesAcross);

    std::vector<Vector2D<float>> relative;
    for (const auto& [id, p] : planes) {
        writePng(p, folder + "/" + id + "_original.png", 0, 0);
        Vector2D<float> b = convolve(p, kernel, modulesAcross, modulesDown);
        writePng(b, folder + "/" + id + "_blur.png", 0, 0);
        if (cellH > 0 && cellW > 0) {
            for (std::size_t R = 0; R < static_cast<std::size_t>(modulesDown); ++R) {
                for (std::size_t K = 0; K < static_cast<std::size_t>(modulesAcross); ++K) {
                    const float centre = b[R * cellH + cellH / 2][K * cellW + cellW / 2];
                    for (std::size_t r = R * cellH; r < (R + 1) * cellH; ++r)
                        for (std::size_t c = K * cellW; c < (K + 1) * cellW; ++c)
                            b[r][c] /= centre;
                }
            }
        }
        writePng(b, folder + "/" + id + "_relative.png", 0, 0);
        writeFits(b, "!" + folder + "/" + id + "_relative.fits");
        relative.push_back(std::move(b));
        std::cout << "processed " << relative.size() << " of " << planes.size() << std::endl;
    }

    Vector2D<float> avg = zeroPlane(relative.front());
    for (const auto& p : relative)
        addTo(avg, p);
    divideBy(avg, static_cast<float>(relative.size()));
    writePng(avg, folder + "/relative_avg.png", 0, 0);
    writeFits(avg, "!" + folder + "/relative_avg.fits");

    Vector2D<float> sd = zeroPlane(avg);
    for (const auto& p : relative)
        for (std::size_t r = 0; r < height; ++r)
            for (std::size_t c = 0; c < width; ++c)
                sd[r][c] += (p[r][c] - avg[r][c]) * (p[r][c] - avg[r][c]);
    for (auto& row : sd)
        for (float& v : row)
            v = std::sqrt(v);
    writePng(sd, folder + "/relative_stddev.png", 0, 0);
    writeFits(sd, "!" + folder + "/relative_stddev.fits");

    Vector2D<float> result = zeroPlane(avg);
    for (std::size_t r = 0; r < height; ++r) {
        for (std::size_t c = 0; c < width; ++c) {
            const double w = std::max(1.0, static_cast<double>(sd[r][c]) / 0.2);
            result[r][c] = static_cast<float>(avg[r][c] * (1.0 - w) + w);
        }
    }
    return result;
}
