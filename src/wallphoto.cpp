#include "wallphoto.h"

#include "displaybase.h"

#include <algorithm>
#include <mutex>

#include <opencv2/imgproc.hpp>

namespace wallphoto {

namespace {

// Homography between pixel-centre coordinates of the wall and of an image
// whose edges are scaled by `scale` from the photo's.
cv::Mat wallHomography(cv::Size ws, const Shot& shot, float scale)
{
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

cv::Point2f wallToPhoto(cv::Size wallSize, const Shot& shot, cv::Point2f wallPoint)
{
    const cv::Mat h = wallHomography(wallSize, shot, 1.0f);
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

cv::Mat renderPhoto(const cv::Mat& wallImage, const Shot& shot)
{
    const int ss = std::max(1, shot.supersample);
    cv::Mat big;
    cv::warpPerspective(wallImage, big, wallHomography(wallImage.size(), shot, float(ss)),
                        cv::Size(shot.size.width * ss, shot.size.height * ss), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar::all(0));
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

cv::Mat renderDisplay(DisplayBase& display, float level)
{
    std::lock_guard lock(display.modelMutex());
    const int x0 = display.minX(), y0 = display.minY();
    const cv::Size size(std::max(1, display.maxX() - x0), std::max(1, display.maxY() - y0));
    cv::Mat image(size, CV_32FC3, cv::Scalar::all(0));
    const double red = display.red(), green = display.green(), blue = display.blue();
    const uint count = display.ldmCount();
    for (uint n = 1; n <= count; ++n) {
        const Macropixel& m = display.ldm(n);
        if (m.intensityGain <= -0.9)
            continue;
        const double i = 1.0 + m.intensityGain;
        const cv::Scalar colour(level * blue * (1.0 + m.blueGain) * i, level * green * (1.0 + m.greenGain) * i,
                                level * red * (1.0 + m.redGain) * i);
        const cv::Rect r = cv::Rect(int(m.x) - x0, int(m.y) - y0, int(m.width), int(m.height))
                           & cv::Rect(cv::Point(0, 0), size);
        if (!r.empty())
            image(r).setTo(colour);
    }
    return image;
}

} // namespace wallphoto
