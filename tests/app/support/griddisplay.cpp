#include "griddisplay.h"

#include "wallphoto.h"

#include <opencv2/imgproc.hpp>

GridDisplay::GridDisplay(const Layout& layout, QObject* parent)
    : SimulatedDisplay(parent)
    , layout_(layout)
{
    fetchLdms();
}

ErrorType GridDisplay::fetchLdms()
{
    const Layout& l = layout_;
    {
        std::lock_guard lock(modelMutex_);
        ldmList.clear();
        tileList.clear();
        for (int ty = 0; ty < l.tilesHigh; ++ty) {
            for (int tx = 0; tx < l.tilesWide; ++tx) {
                Tile t;
                t.name = QStringLiteral("AA:00:00:00:%1:%2").arg(ty, 2, 10, QLatin1Char('0')).arg(tx, 2, 10, QLatin1Char('0'));
                t.x = float(l.left + tx * l.ldmsWide * l.ldmWidth);
                t.y = float(l.top + ty * l.ldmsHigh * l.ldmHeight);
                t.width = float(l.ldmsWide * l.ldmWidth);
                t.height = float(l.ldmsHigh * l.ldmHeight);
                t.ldmsWide = l.ldmsWide;
                t.ldmsHigh = l.ldmsHigh;
                addTile(t);
                const uint tileNumber = uint(tileList.size());
                for (int k = 0; k < l.ldmsWide * l.ldmsHigh; ++k) {
                    Macropixel m;
                    m.name = t.name;
                    m.x = t.x + float((k % l.ldmsWide) * l.ldmWidth);
                    m.y = t.y + float((k / l.ldmsWide) * l.ldmHeight);
                    m.width = float(l.ldmWidth);
                    m.height = float(l.ldmHeight);
                    m.index = k + 1;
                    m.tile = tileNumber;
                    addLdm(m);
                }
            }
        }
    }
    fetchLdmsDone();
    return {};
}

ErrorType GridDisplay::displayTestPattern(DisplayBase::TestPattern pattern, int x, int y)
{
    patterns.append(int(pattern));
    stepX_ = x;
    stepY_ = y;
    pattern_ = int(pattern);
    return {};
}

cv::Mat GridDisplay::wallImage()
{
    const int pattern = pattern_;
    if (pattern == TestPatternOff)
        return wallphoto::renderDisplay(*this);
    const cv::Size size(maxX() - minX(), maxY() - minY());
    if (pattern == TestPatternWhite)
        return cv::Mat(size, CV_32FC3, cv::Scalar::all(230));
    cv::Mat wall(size, CV_32FC3, cv::Scalar::all(0));
    const int scale = coarsePattern ? 2 : 1;
    const int sx = stepX_ * scale, sy = stepY_ * scale;
    if (sx <= 0 || sy <= 0)
        return wall;
    for (int y = 0; y + sy <= size.height; y += sy)
        for (int x = 0; x + sx <= size.width; x += sx)
            cv::rectangle(wall, cv::Rect(x + sx / 4, y + sy / 4, sx / 2, sy / 2), cv::Scalar::all(230), cv::FILLED);
    return wall;
}
