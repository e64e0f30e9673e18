#pragma once

#include <array>
#include <cstdint>

#include <opencv2/core.hpp>

class DisplayBase;

// A camera's view of a lit wall: the wall, given as an image of wall pixels,
// is projected onto four corners of the photo, supersampled, lit by ambient
// light, darkened towards the edges by the analytic radial lens model and
// overlaid with noise. The simulated camera photographs the simulated wall
// with it.
namespace wallphoto {

// How the wall is photographed.
struct Shot
{
    cv::Size size{600, 400};
    // Where the wall's top-left, top-right, bottom-right and bottom-left edges land.
    std::array<cv::Point2f, 4> corners{cv::Point2f(60, 50), cv::Point2f(540, 60), cv::Point2f(530, 350),
                                       cv::Point2f(70, 340)};
    cv::Vec3f ambient{0, 0, 0}; // added to every pixel before the lens
    // Fall-off of the analytic radial lens model: each pixel is multiplied by
    // 1 - k (dx² + dy²) with dx, dy on a 180 x 120 grid spanning `frame`
    // (in photo pixels; empty: the whole photo).
    float lensK = 0.0f;
    cv::Rect2f frame;
    float noise = 0.0f; // standard deviation of Gaussian noise, in codes
    int supersample = 3;
    std::uint64_t seed = 1;
};

// The photo of a wall image (CV_32FC3 codes, blue, green, red): CV_32FC3, not clamped.
cv::Mat renderPhoto(const cv::Mat& wallImage, const Shot& shot);
// The lens model's fall-off factors for a photo of `size` (CV_32FC1).
cv::Mat lensFalloff(cv::Size size, float k, cv::Rect2f frame = {});
// Maps a point of a wall of `wallSize` (wall pixel edges) into the photo of `shot`.
cv::Point2f wallToPhoto(cv::Size wallSize, const Shot& shot, cv::Point2f wallPoint);

// The display model as the wall shows it: every LDM a rectangle of its
// display pixels, `level` codes times the display colour, its gains and its
// intensity; LDMs switched off are dark. Covers the display's extents.
cv::Mat renderDisplay(DisplayBase& display, float level = 255.0f);

} // namespace wallphoto
