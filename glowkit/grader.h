#pragma once

// Uniformity statistics over a set of measured modules: the luminance of one
// channel averaged per pixel, blurred, or compared with the centre of each
// module. Every intermediate plane is written as an 8-bit PNG picture and the
// main results also as FITS images.

#include "glowkit/caldata.h"

#include <cstdint>
#include <map>
#include <string>

class Grader {
public:
    using Captures = std::map<std::string, Cal::Data>;

    // Each operation needs a non-empty map whose entries all give planes of one shape
    // and a channel 0-2 (the blurred and relative ones also at least one module across
    // and down); otherwise it writes one line on stderr and returns an empty plane.
    // PNG and FITS write failures are the libraries' exceptions.

    // Per-pixel average of the channel's luminance, normalised to a mean of 1.
    Vector2D<float> pixelAverage(const Captures& captures, std::int32_t channel, const std::string& folder) const;
    // The average blurred with a Gaussian kernel inside each module, normalised to a mean of 1.
    Vector2D<float> averageBlurred(const Captures& captures, std::int32_t modulesAcross, std::int32_t modulesDown,
                                   std::int32_t channel, std::int32_t kernelSize, const std::string& folder) const;
    // Every blurred capture relative to the centre of each module, averaged; pixels whose
    // spread over the captures is small come out as 1.
    Vector2D<float> relativeAverage(const Captures& captures, std::int32_t modulesAcross, std::int32_t modulesDown,
                                    std::int32_t channel, std::int32_t kernelSize, const std::string& folder) const;

    // Grey picture of the plane; lo = hi takes the range from the plane (hi never below 0).
    // Values that map to no number (a constant plane, NaN) are grey 0.
    void writePng(const Vector2D<float>& plane, const std::string& path, float lo, float hi) const;
    // 32-bit float primary image, NAXIS1 = columns. A path starting with "!" replaces a file.
    void writeFits(const Vector2D<float>& plane, const std::string& path) const;
    // Normalised n x n Gaussian kernel (empty for n <= 0).
    Vector2D<float> gaussianKernel(std::int32_t n) const;
    Vector2D<float> gaussianBlur(const Vector2D<float>& plane, std::int32_t n, std::int32_t modulesAcross,
                                 std::int32_t modulesDown) const;
    // Convolution mirrored at the borders of each module cell.
    Vector2D<float> convolve(const Vector2D<float>& plane, const Vector2D<float>& kernel, std::int32_t modulesAcross,
                             std::int32_t modulesDown) const;
};
