#include "photorender.h"

#include <cmath>

#include <QFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace testsupport {

cv::Size Wall::size() const
{
    return {columns * module.width + (columns - 1) * gap, rows * module.height + (rows - 1) * gap};
}

cv::Vec3f Wall::colour(int column, int row) const
{
    const std::size_t i = std::size_t(row) * columns + column;
    return i < colours.size() ? colours[i] : fill;
}

cv::Point2f Wall::centre(int column, int row) const
{
    return {column * float(module.width + gap) + module.width / 2.0f,
            row * float(module.height + gap) + module.height / 2.0f};
}

cv::Mat renderWall(const Wall& wall)
{
    cv::Mat image(wall.size(), CV_32FC3, cv::Scalar::all(0));
    for (int r = 0; r < wall.rows; ++r)
        for (int c = 0; c < wall.columns; ++c) {
            const cv::Vec3f v = wall.colour(c, r);
            image(cv::Rect(c * (wall.module.width + wall.gap), r * (wall.module.height + wall.gap),
                           wall.module.width, wall.module.height))
                .setTo(cv::Scalar(v[0], v[1], v[2]));
        }
    return image;
}

cv::Point2f wallToPhoto(const Wall& wall, const Shot& shot, cv::Point2f wallPoint)
{
    return wallphoto::wallToPhoto(wall.size(), shot, wallPoint);
}

cv::Mat lensFalloff(cv::Size size, float k, cv::Rect2f frame)
{
    return wallphoto::lensFalloff(size, k, frame);
}

cv::Mat renderPhoto(const Wall& wall, const Shot& shot)
{
    return wallphoto::renderPhoto(renderWall(wall), shot);
}

float sLog3Code(double linear16)
{
    return float(65.5 * std::log10(linear16 * 30.545 / 256.0));
}

bool savePhoto(const cv::Mat& photo, const QString& path)
{
    cv::Mat out;
    photo.convertTo(out, CV_8U); // rounds and saturates
    return cv::imwrite(QFile::encodeName(path).toStdString(), out);
}

} // namespace testsupport
