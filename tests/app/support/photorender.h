#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QString>

#include <opencv2/core.hpp>

namespace testsupport {

// A wall of LED modules of known colours (blue, green, red code values on the
// 0..255 scale), modules in rows, top row first.
struct Wall
{
    int columns = 4;
    int rows = 3;
    cv::Size module{40, 30}; // wall pixels of one module
    int gap = 0;             // dark wall pixels between neighbouring modules
    cv::Vec3f fill{200, 200, 200};
    std::vector<cv::Vec3f> colours; // row-major; empty: every module has `fill`

    cv::Size size() const;
    cv::Vec3f colour(int column, int row) const;
    // Centre of a module in wall pixels.
    cv::Point2f centre(int column, int row) const;
};

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

// The wall as an image of wall pixels (CV_32FC3).
cv::Mat renderWall(const Wall& wall);
// The photo of the wall (CV_32FC3, codes, not clamped).
cv::Mat renderPhoto(const Wall& wall, const Shot& shot);
// The lens model's fall-off factors for a photo of `size` (CV_32FC1).
cv::Mat lensFalloff(cv::Size size, float k, cv::Rect2f frame = {});
// S-Log3 code of a 16-bit linear value (the inverse of the camera's curve).
float sLog3Code(double linear16);
// Writes a code image as 8-bit (rounded, clamped) PNG or JPEG, by suffix.
bool savePhoto(const cv::Mat& photo, const QString& path);
// Maps a point of the wall (wall pixel edges) into the photo of `shot`.
cv::Point2f wallToPhoto(const Wall& wall, const Shot& shot, cv::Point2f wallPoint);

} // namespace testsupport
