#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QString>

#include <opencv2/core.hpp>

#include "wallphoto.h"

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

// How the wall is photographed (the program's own camera view).
using Shot = wallphoto::Shot;

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
