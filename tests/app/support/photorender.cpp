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

namespace {

// Homography between pixel-centre coordinates of the wall and of an image
// whose edges are scaled by `scale` from the photo's.
cv::Mat wallHomography(const Wall& wall, const Shot& shot, float scale)
{
    const cv::Size ws = wall.size();
    const std::array<cv::Point2f, 4> from{cv::Point2f(0, 0), cv::Point2f(float(ws.width), 0),
                                          cv::Point2f(float(ws.width), float(ws.height)),
                                          cv::Point2f(0, float(ws.height))};
    std::array<cv::Point2f, 4> to;
    for (int i = 0; i < 4; ++i)
        to[i] = shot.corners[i] * scale;
    const cv::Mat edges = cv::getPerspectiveTransform(from.data(), to.data());
    cv::Mat toEdge = (cv::Mat_<double>(3, 3) << 1, 0, 0.5, 0, 1, 0.5, 0, 0, 1);
    cv::Mat toCentre = (cv::Mat_<double>(3, 3) << 1, 0, -0.5, 0, 1, -0.5, 0, 0, 1);
    return toCentre * edges * toEdge;
}

} // namespace

cv::Point2f wallToPhoto(const Wall& wall, const Shot& shot, cv::Point2f wallPoint)
{
    const cv::Mat h = wallHomography(wall, shot, 1.0f);
    std::vector<cv::Point2f> in{wallPoint - cv::Point2f(0.5f, 0.5f)}, out;
    cv::perspectiveTransform(in, out, h);
    return out[0] + cv::Point2f(0.5f, 0.5f);
}

cv::Mat lensFalloff(cv::Size size, float k, cv::Rect2f frame)
{
    if (frame.empty())
        frame = cv::Rect2f(0, 0, float(size.width), float(size.height));
    cv::Mat f(size, CV_32FC1);
    for (int r = 0; r < size.height; ++r)
        for (int c = 0; c < size.width; ++c) {
            const float dy = (float(r) - frame.y) * 120.0f / frame.height - 60.0f;
            const float dx = (float(c) - frame.x) * 180.0f / frame.width - 90.0f;
            f.at<float>(r, c) = 1.0f - k * (dx * dx + dy * dy);
        }
    return f;
}

cv::Mat renderPhoto(const Wall& wall, const Shot& shot)
{
    const int ss = std::max(1, shot.supersample);
    const cv::Mat big = [&] {
        cv::Mat out;
        cv::warpPerspective(renderWall(wall), out, wallHomography(wall, shot, float(ss)),
                            cv::Size(shot.size.width * ss, shot.size.height * ss), cv::INTER_LINEAR,
                            cv::BORDER_CONSTANT, cv::Scalar::all(0));
        return out;
    }();
    cv::Mat photo;
    cv::resize(big, photo, shot.size, 0, 0, cv::INTER_AREA);
    photo += cv::Scalar(shot.ambient[0], shot.ambient[1], shot.ambient[2]);
    if (shot.lensK != 0.0f) {
        const cv::Mat f = lensFalloff(shot.size, shot.lensK, shot.frame);
        cv::Mat f3;
        cv::merge(std::vector<cv::Mat>{f, f, f}, f3);
        photo = photo.mul(f3);
    }
    if (shot.noise > 0.0f) {
        cv::RNG rng(shot.seed);
        cv::Mat n(photo.size(), CV_32FC3);
        rng.fill(n, cv::RNG::NORMAL, 0.0, shot.noise);
        photo += n;
    }
    return photo;
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
