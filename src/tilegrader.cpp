#include "tilegrader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <limits>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutexLocker>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "photoheader.h"
#include "rawdecoder.h"

namespace {

const QString analyticLens050 = QStringLiteral("ILCE-7C_FE_4^024-070_@050");
const QString analyticLens070 = QStringLiteral("ILCE-7C_FE_4^024-070_@070");

// Grey, saturated to 8 bits and split by Otsu's threshold; the outer outlines.
std::vector<TileGrader::Contour> binarisedOutlines(const cv::Mat& image, const char* who)
{
    cv::Mat grey;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else if (image.channels() == 4)
        cv::cvtColor(image, grey, cv::COLOR_BGRA2GRAY);
    else
        grey = image;
    cv::Mat grey8;
    grey.convertTo(grey8, CV_8U, 1.0, 0.0);
    cv::Mat bw;
    const double threshold = cv::threshold(grey8, bw, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    qDebug("%s: threshold %g", who, threshold);
    std::vector<TileGrader::Contour> contours;
    cv::findContours(bw, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    return contours;
}

template <typename T> T clampTo(long long v, T lo, T hi)
{
    return T(v < lo ? lo : (v > hi ? hi : v));
}

} // namespace

TileGrader::TileGrader(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<cv::Mat>();
}

TileGrader::~TileGrader()
{
    clearAverages_();
}

TileGrader::Settings TileGrader::settings_() const
{
    QMutexLocker lock(&mutex_);
    return settings;
}

bool TileGrader::hasScreenContour() const
{
    QMutexLocker lock(&mutex_);
    return screenContour_ && screenContour_->size() == 4;
}

bool TileGrader::reuseScreenContour() const { return settings_().reuseScreenContour; }

bool TileGrader::hasMeshLocations() const
{
    QMutexLocker lock(&mutex_);
    return meshLocations_.has_value();
}

cv::Mat TileGrader::screenImage() const
{
    QMutexLocker lock(&mutex_);
    return screenImage_;
}

std::optional<TileGrader::Contour> TileGrader::screenContour() const
{
    QMutexLocker lock(&mutex_);
    return screenContour_;
}

std::optional<cv::Mat> TileGrader::meshLocations() const
{
    QMutexLocker lock(&mutex_);
    return meshLocations_;
}

void TileGrader::setMeshLocations(std::optional<cv::Mat> locations)
{
    {
        QMutexLocker lock(&mutex_);
        meshLocations_ = std::move(locations);
    }
    Q_EMIT hasMeshLocationsChanged();
}

cv::Size TileGrader::sections() const { return settings_().sections; }
cv::Size TileGrader::subsections() const { return settings_().subsections; }
float TileGrader::aspectRatio() const { return settings_().aspectRatio; }
bool TileGrader::profiling() const { return settings_().profiling; }
QString TileGrader::lensFile() const { return settings_().lensFile; }
bool TileGrader::usesLogImages() const { return settings_().useLogImages; }
unsigned TileGrader::linearGainBoost() const { return settings_().linearGainBoost; }
unsigned TileGrader::rawInterpolation() const { return settings_().rawInterpolation; }
unsigned TileGrader::highlightRecovery() const { return settings_().highlightRecovery; }
float TileGrader::gammaTweakValue() const { return settings_().gammaTweak; }
float TileGrader::gainTweakValue() const { return settings_().gainTweak; }

bool TileGrader::isRaw() const
{
    QMutexLocker lock(&mutex_);
    return isRaw_;
}

void TileGrader::storeAspectRatio(float aspectRatio) { store_(settings.aspectRatio, aspectRatio); }
void TileGrader::setLinearGainBoost(unsigned boost) { store_(settings.linearGainBoost, boost); }

void TileGrader::setReuseScreenContour(bool reuseScreenContour)
{
    {
        QMutexLocker lock(&mutex_);
        if (settings.reuseScreenContour == reuseScreenContour)
            return;
        settings.reuseScreenContour = reuseScreenContour;
    }
    Q_EMIT reuseScreenContourChanged();
}

void TileGrader::setSections(int width, int height)
{
    {
        QMutexLocker lock(&mutex_);
        if (settings.sections.width != width || settings.sections.height != height)
            averagesStale = true;
        settings.sections = cv::Size(width, height);
    }
    Q_EMIT sectionsUpdated();
}

void TileGrader::setSectionsW(int sections)
{
    {
        QMutexLocker lock(&mutex_);
        if (settings.sections.width != sections)
            averagesStale = true;
        settings.sections.width = sections;
    }
    Q_EMIT sectionsUpdated();
}

void TileGrader::setSectionsH(int sections)
{
    {
        QMutexLocker lock(&mutex_);
        if (settings.sections.height != sections)
            averagesStale = true;
        settings.sections.height = sections;
    }
    Q_EMIT sectionsUpdated();
}

void TileGrader::setSubsections(int width, int height)
{
    {
        QMutexLocker lock(&mutex_);
        if (settings.subsections.width != width || settings.subsections.height != height)
            averagesStale = true;
        settings.subsections = cv::Size(width, height);
    }
    Q_EMIT subsectionsUpdated();
}

void TileGrader::setAspectRatio(float aspectRatio)
{
    storeAspectRatio(aspectRatio);
    Q_EMIT aspectRatioUpdated();
}

void TileGrader::setProfiling(bool profiling) { store_(settings.profiling, profiling); }
void TileGrader::setLensFile(QString newLensFile) { store_(settings.lensFile, newLensFile); }
void TileGrader::useLogImages(bool useLog) { store_(settings.useLogImages, useLog); }
void TileGrader::useRawImages(bool useRaw) { store_(isRaw_, useRaw); }

void TileGrader::setRawInterpolation(uint interpolation)
{
    switch (interpolation) {
    case 0: case 1: case 2: case 3: case 4: case 11: case 12:
        break;
    default:
        qDebug("Unknown raw interpolation value %u; using 0 (bilinear)", interpolation);
        interpolation = 0;
    }
    store_(settings.rawInterpolation, interpolation);
}

void TileGrader::setHighlightRecovery(uint highlights)
{
    if (highlights > 9) {
        qDebug("unknown highlight recovery mode %u, using 3 (rebuild favoring white)", highlights);
        highlights = 3;
    }
    store_(settings.highlightRecovery, highlights);
}

void TileGrader::setGammaTweak(float gamma) { store_(settings.gammaTweak, gamma); }
void TileGrader::setGainTweak(float gain) { store_(settings.gainTweak, gain); }

// ---------------------------------------------------------------- tone tables

void TileGrader::sLog3To16bitLinear(cv::Mat src, cv::Mat3w dest)
{
    if (src.type() != CV_8UC3 || dest.size() != src.size()) {
        qWarning("sLog3To16bitLinear: needs an 8-bit 3-channel source and a destination of its size");
        return;
    }
    std::array<std::uint16_t, 256> t;
    for (int v = 0; v < 256; ++v)
        t[v] = clampTo<std::uint16_t>(std::lround(std::pow(10.0, v / 65.5) / 30.545 * 256.0), 0, 65535);
    for (int r = 0; r < src.rows; ++r) {
        const auto* in = src.ptr<cv::Vec3b>(r);
        auto* out = dest.ptr<cv::Vec3w>(r);
        for (int c = 0; c < src.cols; ++c)
            out[c] = cv::Vec3w(t[in[c][0]], t[in[c][1]], t[in[c][2]]);
    }
}

void TileGrader::linearTo8BitGamma(cv::Mat3w src, cv::Mat dest)
{
    const Settings s = settings_();
    linearTo8BitGamma_(src, dest, s.linearGainBoost, s.profiling);
}

void TileGrader::linearTo8BitGamma_(const cv::Mat3w& src, cv::Mat& dest, unsigned boost, bool profiling)
{
    if (dest.type() != CV_8UC3 || dest.size() != src.size()) {
        qWarning("linearTo8BitGamma: needs an 8-bit 3-channel destination of the source's size");
        return;
    }
    std::vector<uchar> g(65536);
    for (int i = 0; i < 65536; ++i) {
        const double x = double(float(i) / 65535.0f);
        g[i] = clampTo<uchar>(std::lround(double(boost) * (std::pow(x, 0.41) * 255.0)), 0, 255);
    }
    if (profiling)
        qDebug("Linear gain boost: %u", boost);
    for (int r = 0; r < src.rows; ++r) {
        const auto* in = src.ptr<cv::Vec3w>(r);
        auto* out = dest.ptr<cv::Vec3b>(r);
        for (int c = 0; c < src.cols; ++c)
            out[c] = cv::Vec3b(g[in[c][0]], g[in[c][1]], g[in[c][2]]);
    }
}

void TileGrader::gammaTweak(cv::Mat3w src, float gamma)
{
    std::vector<std::uint16_t> q(65536);
    for (int i = 0; i < 65536; ++i)
        q[i] = clampTo<std::uint16_t>(std::lround(std::pow(float(i) / 65535.0f, gamma) * 65535.0f), 0, 65535);
    for (int r = 0; r < src.rows; ++r) {
        auto* p = src.ptr<cv::Vec3w>(r);
        for (int c = 0; c < src.cols; ++c)
            for (int ch = 0; ch < 3; ++ch)
                p[c][ch] = q[p[c][ch]];
    }
}

void TileGrader::gainTweak(cv::Mat3w src, float gain)
{
    for (int r = 0; r < src.rows; ++r) {
        auto* p = src.ptr<cv::Vec3w>(r);
        for (int c = 0; c < src.cols; ++c)
            for (int ch = 0; ch < 3; ++ch) {
                const float v = float(p[c][ch]) * gain;
                p[c][ch] = v >= 65535.0f ? 65535 : (v > 0.0f ? std::uint16_t(v) : 0);
            }
    }
}

// ------------------------------------------------------------------ previews

namespace {

// The pixels of an 8-bit BGR image as an OpenCV matrix (rows padded as the image's).
cv::Mat pixelsOf(QImage& image)
{
    return cv::Mat(image.height(), image.width(), CV_8UC3, image.bits(), std::size_t(image.bytesPerLine()));
}

} // namespace

QImage TileGrader::makeImage(cv::Mat mat)
{
    if (mat.empty() || mat.channels() == 2)
        return {};
    // Converted straight into the image that is handed out.
    QImage out(mat.cols, mat.rows, QImage::Format_BGR888);
    if (out.isNull())
        return {};
    cv::Mat pixels = pixelsOf(out);
    const uchar* const data = pixels.data;
    if (mat.channels() == 3) {
        mat.convertTo(pixels, CV_8U, 1.0);
    } else {
        cv::Mat m8;
        mat.convertTo(m8, CV_8U, 1.0);
        cv::cvtColor(m8, pixels, m8.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    }
    Q_ASSERT(pixels.data == data);
    return out;
}

QImage TileGrader::contourImage_(const cv::Mat& image, const Contour& contour)
{
    QImage out = makeImage(image);
    if (!out.isNull()) {
        cv::Mat pixels = pixelsOf(out);
        cv::drawContours(pixels, std::vector<Contour>{contour}, -1, cv::Scalar(0, 255, 0), 15, 8);
    }
    return out;
}

int TileGrader::exposureMeter(cv::Mat3w image, QString label)
{
    const int h = image.rows, w = image.cols;
    if (h < 10 || w < 10)
        return 0;
    const int r0 = h / 2 - h / 20, c0 = w / 2 - w / 20, nr = h / 10, nc = w / 10;
    long long sum[3] = {0, 0, 0};
    for (int r = r0; r < r0 + nr; ++r) {
        const auto* p = image.ptr<cv::Vec3w>(r);
        for (int c = c0; c < c0 + nc; ++c)
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += p[c][ch];
    }
    const long long n = static_cast<long long>(nr) * nc;
    qDebug("%s center exposure RGB = %lld, %lld, %lld", qUtf8Printable(label), sum[2] / n, sum[1] / n, sum[0] / n);
    return int(sum[1] / n);
}

// ------------------------------------------------------------------ pipeline

bool TileGrader::loadOriginal(QString image, QString darkPath)
{
    try {
        const Settings s = settings_();
        const bool rawPhoto = image.endsWith(QLatin1String("ARW"));
        {
            QMutexLocker lock(&mutex_);
            isRaw_ = rawPhoto;
        }
        qDebug("loadOriginal: %s, isRaw: %d", qUtf8Printable(image), int(rawPhoto));
        timer.start();
        // The previous photo's images go before this one's are decoded.
        photo.release();
        dark.release();
        raw.release();
        darkRaw.release();

        // One frame of the photo's kind: a raw file into rawFrame, any other into frame.
        const auto decode = [&](const QString& file, cv::Mat3w& rawFrame, cv::Mat& frame) {
            const QByteArray path = QFile::encodeName(file);
            if (rawPhoto) {
                rawFrame = rawdecoder::rawImage(path.constData(), s.rawInterpolation, s.highlightRecovery, s.profiling);
                return !rawFrame.empty();
            }
            // The header first: a photo too large to decode, or a JPEG cut
            // short, is refused before any pixel is decoded.
            QString why;
            photoheader::Info header = photoheader::inspectFile(file, &why);
            if (why.isEmpty() && header.format == photoheader::Info::Unknown) {
                // Another format: Qt's readers tell its size, if any does.
                const QSize size = QImageReader(file).size();
                header.width = std::max(size.width(), 0);
                header.height = std::max(size.height(), 0);
            }
            if (why.isEmpty())
                why = photoheader::refusal(header);
            if (!why.isEmpty()) {
                qDebug("TileGrader: %s not decoded: %s.", qUtf8Printable(file), qUtf8Printable(why));
                frame.release();
                return false;
            }
            frame = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
            return !frame.empty();
        };
        // Scales the dark frame by the gain tweak before it is subtracted.
        const auto tweakDarkGain = [&](cv::Mat3w darkFrame) {
            if (s.gainTweak == 1.0f)
                return;
            if (s.profiling)
                qDebug("gain tweak %f", double(s.gainTweak));
            gainTweak(darkFrame, s.gainTweak);
        };

        const bool decoded = decode(image, raw, photo);
        const qint64 loadTime = timer.elapsed();
        if (!decoded) {
            qDebug("TileGrader: unable to load or interpret image from %s.", qUtf8Printable(image));
            return false;
        }

        if (darkPath.isEmpty()) {
            if (!rawPhoto && s.useLogImages) {
                cv::Mat3w linear(photo.size());
                sLog3To16bitLinear(photo, linear);
                linearTo8BitGamma_(linear, photo, s.linearGainBoost, s.profiling);
            }
        } else {
            if (!decode(darkPath, darkRaw, dark)) {
                qDebug("TileGrader: unable to load or interpret dark image from %s.", qUtf8Printable(darkPath));
                qDebug("            dark file %s.", QFileInfo::exists(darkPath) ? "exists" : "does NOT exist");
                return false;
            }
            const cv::Size lightSize = rawPhoto ? raw.size() : photo.size();
            const cv::Size darkSize = rawPhoto ? darkRaw.size() : dark.size();
            if (lightSize != darkSize) {
                qDebug("TileGrader: dark image %s is %d x %d, the image is %d x %d.", qUtf8Printable(darkPath),
                       darkSize.width, darkSize.height, lightSize.width, lightSize.height);
                return false;
            }
            if (!rawPhoto) {
                cv::Mat3w lightLinear(photo.size()), darkLinear(photo.size());
                sLog3To16bitLinear(photo, lightLinear);
                sLog3To16bitLinear(dark, darkLinear);
                tweakDarkGain(darkLinear);
                cv::subtract(lightLinear, darkLinear, lightLinear);
                linearTo8BitGamma_(lightLinear, photo, s.linearGainBoost, s.profiling);
            } else {
                if (s.profiling) {
                    qDebug("subtract dark raw from light raw:");
                    const int bright = exposureMeter(raw, QStringLiteral("  bright"));
                    const int darkLevel = exposureMeter(darkRaw, QStringLiteral("    dark"));
                    qDebug("    bright / dark is %.2f", double(float(bright) / float(darkLevel)));
                }
                tweakDarkGain(darkRaw);
                cv::subtract(raw, darkRaw, raw);
            }
        }
        if (rawPhoto) {
            photo = cv::Mat(raw.size(), CV_8UC3);
            linearTo8BitGamma_(raw, photo, s.linearGainBoost, s.profiling);
        }
        photo.convertTo(photo, CV_32FC3, 1.0, 0.0);
        compensateLens_(s.lensFile);

        timer.restart();
        std::optional<Contour> contour;
        if (!s.reuseScreenContour) {
            contour = findLargestContour(photo);
            {
                QMutexLocker lock(&mutex_);
                screenContour_ = contour;
            }
            Q_EMIT hasScreenContourChanged();
        } else {
            contour = screenContour();
        }
        const qint64 contourTime = timer.elapsed();
        qint64 contourImageTime = 0;
        if (!contour) {
            qDebug("TileGrader failed to detect display in captured image: no contour found!");
            qDebug().noquote() << " image file: " + image;
            qDebug().noquote() << "  dark file: " + darkPath;
            return false;
        }

        timer.restart();
        {
            // The outline is drawn on the 8-bit preview itself, which goes once handed out.
            const QImage contouredImage = contourImage_(photo, *contour);
            contourImageTime = timer.elapsed();
            Q_EMIT contouredImageUpdated(contouredImage);
        }

        if (contour->size() != 4) {
            qDebug("TileGrader failed to detect rectangular display in captured image: contour has %d points, not 4!",
                   int(contour->size()));
            return false;
        }

        {
            // Every check has passed and the earlier screen is about to be
            // replaced: it goes before the new one is made.
            QMutexLocker lock(&mutex_);
            screenImage_.release();
        }
        timer.restart();
        const cv::Mat screen = extractContour(photo, *contour);
        const qint64 extractTime = timer.elapsed();
        {
            QMutexLocker lock(&mutex_);
            screenImage_ = screen;
            averagesStale = true;
        }
        timer.restart();
        Q_EMIT screenImageUpdated(makeImage(screen));
        const qint64 screenImageTime = timer.elapsed();
        if (s.profiling)
            qDebug("load %lld contour %lld contourImage %lld extract %lld screenImage %lld", loadTime, contourTime,
                   contourImageTime, extractTime, screenImageTime);
        return true;
    } catch (const cv::Exception& e) {
        qDebug("TileGrader: analysis of %s failed: %s", qUtf8Printable(image), e.what());
        return false;
    }
}

void TileGrader::compensateLens_(const QString& lensFile)
{
    if (lensFile.isEmpty())
        return;
    const int H = photo.rows, W = photo.cols;
    if (lensFile.contains(analyticLens050) || lensFile.contains(analyticLens070)) {
        // The lens choice is usually a resource path with an extension; the
        // focal length is the end of its base name.
        const bool at070 = QFileInfo(lensFile).completeBaseName().endsWith(QLatin1String("@070"))
                           || lensFile.endsWith(QLatin1String("@070"));
        const float k = at070 ? 1.1498427e-5f : 1.2829823e-5f;
        for (int r = 0; r < H; ++r) {
            const float dy = float(r) * 120.0f / float(H) - 60.0f;
            const float dy2 = dy * dy;
            auto* p = photo.ptr<cv::Vec3f>(r);
            for (int c = 0; c < W; ++c) {
                const float dx = float(c) * 180.0f / float(W) - 90.0f;
                const float gain = 1.0f / (1.0f - k * (dx * dx + dy2));
                p[c] *= gain;
            }
        }
        return;
    }

    // An image that cannot be used leaves the photo uncompensated; the log says which.
    const auto unusable = [&lensFile](const char* why) {
        qDebug("TileGrader: lens-compensation image %s can't be used (%s); the photo is not compensated.",
               qUtf8Printable(lensFile), why);
    };
    QImageReader reader(lensFile);
    QImage shader = reader.read();
    if (shader.isNull()) {
        if (!QFileInfo::exists(lensFile))
            unusable("no such file");
        else if (QFileInfo(lensFile).size() == 0)
            unusable("the file is empty");
        else
            unusable(qUtf8Printable(reader.errorString()));
        return;
    }
    shader = shader.convertToFormat(QImage::Format_BGR888);
    const int format = int(shader.format());
    qDebug("shader is %d x %d, format is %d (0x%X)", shader.width(), shader.height(), format, unsigned(format));
    // QImage rows may be padded: the matrix keeps the image's own row step.
    const cv::Mat flat(shader.height(), shader.width(), CV_8UC3, const_cast<uchar*>(shader.constBits()),
                       std::size_t(shader.bytesPerLine()));
    // A black image would divide every pixel by zero.
    if (cv::countNonZero(flat.reshape(1)) == 0) {
        unusable("it is black");
        return;
    }

    const double ar = double(W) / double(H);
    double targetW = W, targetH = H;
    if (ar < 1.5) {
        targetW = 1.5 * H;
        targetH = H;
    } else if (ar > 1.5) {
        targetW = W;
        targetH = W / 1.5;
    }
    const double scale = targetW / flat.cols;
    qDebug("orig is %d x %d, ar is %f, target %.1f x %.1f, scale %.2f", W, H, ar, targetW, targetH, scale);
    cv::Mat scaled;
    cv::resize(flat, scaled, cv::Size(int(targetW), int(targetH)), 0, 0, cv::INTER_LINEAR);
    qDebug("scaled is %d x %d", scaled.cols, scaled.rows);

    int c0 = (scaled.cols - W) / 2, r0 = (scaled.rows - H) / 2;
    int c1 = W + c0, r1 = H + r0;
    c0 = std::max(c0, 0);
    r0 = std::max(r0, 0);
    c1 = std::min(c1, scaled.cols);
    r1 = std::min(r1, scaled.rows);
    qDebug("cropping to rows (%d %d) cols (%d, %d)", r0, r1, c0, c1);
    if (r1 <= r0 || c1 <= c0)
        return;
    cv::Mat cvShader = scaled(cv::Range(r0, r1), cv::Range(c0, c1));
    if (cvShader.rows == H && cvShader.cols == W) {
        qDebug("sizes match; straight copy");
    } else {
        qDebug("sizes don't match; resize copy");
        cv::Mat resized;
        cv::resize(cvShader, resized, cv::Size(W, H), 0, 0, cv::INTER_LINEAR);
        cvShader = resized;
    }
    qDebug("original image %d x %d", W, H);
    qDebug("final cvShader %d x %d", cvShader.cols, cvShader.rows);
    qDebug("matrix types: original %d shader %d", photo.type(), cvShader.type());
    cv::divide(photo, cvShader, photo, 255.0, CV_32FC3); // element by element, in place
}

// ------------------------------------------------------------------ geometry

std::optional<TileGrader::Contour> TileGrader::findLargestContour(cv::Mat image)
{
    if (image.empty() || image.channels() == 2)
        return std::nullopt;
    const std::vector<Contour> contours = binarisedOutlines(image, "findLargestContour");
    int best = -1;
    double bestArea = 0.0;
    for (int i = 0; i < int(contours.size()); ++i) {
        const double area = cv::contourArea(contours[i]);
        if (area > bestArea) {
            bestArea = area;
            best = i;
        }
    }
    if (best < 0)
        return std::nullopt;
    // A display is a lit area that stands out from its surround. An outline
    // that is the whole frame (a uniform frame, a saturated one, or one lit
    // everywhere around a dark patch) has no surround and no corners.
    if (cv::boundingRect(contours[best]) == cv::Rect(0, 0, image.cols, image.rows)) {
        qDebug("findLargestContour: the outline is the whole frame");
        return std::nullopt;
    }
    const double epsilon = std::max(image.rows / 100.0, image.cols / 100.0);
    Contour polygon;
    cv::approxPolyDP(contours[best], polygon, float(epsilon), true);
    return polygon;
}

cv::Mat TileGrader::extractContour(cv::Mat image, const Contour& contour)
{
    if (contour.size() != 4)
        return {};
    std::array<cv::Point2f, 4> src;
    for (int i = 0; i < 4; ++i)
        src[i] = cv::Point2f(float(contour[i].x), float(contour[i].y));
    std::stable_sort(src.begin(), src.end(), [](const cv::Point2f& a, const cv::Point2f& b) { return a.y < b.y; });
    if (src[0].x > src[1].x)
        std::swap(src[0], src[1]);
    if (src[3].x > src[2].x)
        std::swap(src[2], src[3]);
    const cv::Rect box = cv::boundingRect(contour);
    const float w = float(box.width), h = float(box.height);
    const std::array<cv::Point2f, 4> dst{cv::Point2f(0, 0), cv::Point2f(w, 0), cv::Point2f(w, h), cv::Point2f(0, h)};
    const cv::Mat transform = cv::getPerspectiveTransform(src.data(), dst.data());
    cv::Mat out(box.height, box.width, image.type());
    cv::warpPerspective(image, out, transform, out.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    return out;
}

std::optional<cv::Mat> TileGrader::findMeshLocations(cv::Mat image)
{
    if (image.empty() || image.channels() == 2) {
        qDebug("findMeshLocations: no screen image to search");
        return std::nullopt;
    }
    const std::vector<Contour> contours = binarisedOutlines(image, "findMeshLocations");
    cv::Mat preview = image; // drawn into the caller's pixels

    std::vector<cv::Point2f> remaining;
    double areaSum = 0.0;
    for (int i = 0; i < int(contours.size()); ++i) {
        const cv::Moments m = cv::moments(contours[i]);
        const double area = m.m00;
        if (!(area > 0.0))
            continue; // a line or a dot has no centroid
        const cv::Point2f centre(float(m.m10 / m.m00), float(m.m01 / m.m00));
        if (i >= 10) {
            const double avg = areaSum / i;
            if (area < 0.65 * avg || area > 1.5 * avg) {
                qDebug("findMeshLocations: rejecting contour at (%g, %g), area %g, avg area %g", double(centre.x),
                       double(centre.y), area, avg);
                continue;
            }
        }
        remaining.push_back(centre);
        areaSum += area;
        cv::circle(preview, cv::Point(int(std::lround(centre.x)), int(std::lround(centre.y))), 5,
                   cv::Scalar(255, 0, 0), 2, cv::LINE_8);
    }
    qDebug("findMeshLocations: found %d locations", int(remaining.size()));
    Q_EMIT locationsImageUpdated(makeImage(preview));

    const auto d2 = [](const cv::Point2f& a, const cv::Point2f& b) {
        const float dx = a.x - b.x, dy = a.y - b.y;
        return dx * dx + dy * dy;
    };
    const auto nearestTo = [&](const cv::Point2f& corner) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < remaining.size(); ++i)
            if (d2(remaining[i], corner) < d2(remaining[best], corner))
                best = i;
        return best;
    };

    std::vector<std::vector<cv::Point2f>> rows;
    while (!remaining.empty()) {
        const cv::Point2f end = remaining[nearestTo(cv::Point2f(float(image.cols), 0.0f))];
        std::size_t current = nearestTo(cv::Point2f(0.0f, 0.0f));
        std::vector<cv::Point2f> row;
        while (remaining[current] != end) {
            const cv::Point2f here = remaining[current];
            qDebug().nospace() << "findMeshLocations: location (" << here.x << "," << here.y << ")";
            row.push_back(here);
            remaining.erase(remaining.begin() + std::ptrdiff_t(current));

            // The next module of a row lies to the right: more across than up or down.
            std::vector<std::pair<float, std::size_t>> candidates;
            for (std::size_t i = 0; i < remaining.size(); ++i) {
                const float dx = remaining[i].x - here.x, dy = remaining[i].y - here.y;
                const float dist = d2(remaining[i], here);
                if (dist == 0.0f || !(dx > std::abs(dy)))
                    continue;
                candidates.emplace_back(dist, i);
                std::sort(candidates.begin(), candidates.end());
                if (candidates.size() > 2)
                    candidates.pop_back();
            }
            if (candidates.empty()) {
                qDebug().nospace() << "findMeshLocations: (" << here.x << "," << here.y << ") has no neighbors!";
                return std::nullopt;
            }
            std::vector<std::size_t> neighbours;
            for (const auto& [dist, i] : candidates)
                if (dist < 1.5f * candidates.front().first)
                    neighbours.push_back(i);
            if (neighbours.size() == 1)
                qDebug().nospace() << "findMeshLocations: (" << here.x << "," << here.y << ") has " << 1
                                   << " neighbors:";
            if (neighbours.empty()) {
                qDebug().nospace() << "findMeshLocations: (" << here.x << "," << here.y
                                   << ") has no neighbor nearest the top right!";
                return std::nullopt;
            }
            std::size_t next = neighbours.front();
            for (std::size_t i : neighbours)
                if (d2(remaining[i], end) < d2(remaining[next], end))
                    next = i;
            current = next;
        }
        row.push_back(end);
        remaining.erase(remaining.begin() + std::ptrdiff_t(current));
        if (!rows.empty() && row.size() != rows.front().size()) {
            qDebug().nospace() << "findMeshLocations: inconsistent width! grid is " << rows.front().size()
                               << " wide, row " << rows.size() << " is " << row.size() << " wide";
            return std::nullopt;
        }
        rows.push_back(std::move(row));
    }
    if (rows.empty())
        return std::nullopt;
    cv::Mat grid(int(rows.size()), int(rows.front().size()), CV_32FC2);
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.cols; ++c)
            grid.at<cv::Vec2f>(r, c) = cv::Vec2f(rows[r][c].x, rows[r][c].y);
    return grid;
}

// ---------------------------------------------------------- section averages

void TileGrader::clearAverages_()
{
    qDeleteAll(averages);
    averages.clear();
}

QList<cv::Mat*>* TileGrader::sectionAverages()
{
    cv::Mat screen;
    cv::Size secs, subs;
    {
        QMutexLocker lock(&mutex_);
        if (!averagesStale)
            return &averages;
        screen = screenImage_;
        secs = settings.sections;
        subs = settings.subsections;
        averagesStale = false;
    }
    clearAverages_();
    averages = sectionAvgList(screen, secs, subs);
    return &averages;
}

QList<cv::Mat*> TileGrader::sectionAvgList(cv::Mat screen, cv::Size sections, cv::Size subsections)
{
    timer.restart();
    const Settings s = settings_();
    const std::optional<cv::Mat> mesh = meshLocations();
    const int sw = std::max(1, sections.width), sh = std::max(1, sections.height);
    const int uw = std::max(1, subsections.width), uh = std::max(1, subsections.height);
    cv::Mat3f img;
    if (screen.type() == CV_32FC3)
        img = screen;
    else if (!screen.empty())
        screen.convertTo(img, CV_32FC3);
    const int W = img.cols, H = img.rows;

    qDebug("TileGrader screen is %d x %d", W, H);
    const float secW = float(W) / float(sw), secH = float(H) / float(sh);
    const float subW = secW / float(uw), subH = secH / float(uh);
    qDebug("TileGrader sections are %.2f x %.2f, subsections are %.2f x %.2f", double(secW), double(secH),
           double(subW), double(subH));
    const float xMargin = 0.25f * subW, yMargin = 0.25f * subH;
    qDebug("TileGrader xMargin %.2f, yMargin %.2f", double(xMargin), double(yMargin));

    if (mesh)
        qDebug("TileGrader: requested resolution %d x %d, mesh locations %d x %d", sw * uw, sh * uh, mesh->cols,
               mesh->rows);
    // A single module gives no spacing to size its window from.
    const bool useMesh = mesh && mesh->type() == CV_32FC2 && mesh->rows == sh * uh && mesh->cols == sw * uw
                         && mesh->rows * mesh->cols > 1;

    // The preview: the screen at 8 bits, each sampled pixel at half its
    // value (a quarter where two windows overlap, and so on).
    QImage sampled = makeImage(img);
    cv::Mat sampledPixels = sampled.isNull() ? cv::Mat() : pixelsOf(sampled);
    cv::Mat1b halvings(img.size(), uchar(0));
    std::array<float, 256> halved;
    for (int k = 0; k < 256; ++k)
        halved[k] = std::ldexp(1.0f, -k);
    QList<cv::Mat*> list;
    for (int sy = 0; sy < sh; ++sy) {
        for (int sx = 0; sx < sw; ++sx) {
            auto* section = new cv::Mat(uh, uw, CV_32FC3);
            const float y0 = float(sy) * secH, x0 = float(sx) * secW;
            for (int j = 0; j < uh; ++j) {
                for (int i = 0; i < uw; ++i) {
                    long top, bottom, left, right;
                    if (!useMesh) {
                        top = std::lround(float(j) * subH + y0 + yMargin);
                        bottom = std::lround(float(j + 1) * subH + y0 - yMargin);
                        left = std::lround(float(i) * subW + x0 + xMargin);
                        right = std::lround(float(i + 1) * subW + x0 - xMargin);
                    } else {
                        const int r = sy * uh + j, c = sx * uw + i;
                        const int lastR = mesh->rows - 1, lastC = mesh->cols - 1;
                        // The diagonal neighbour; along a single row or column
                        // the one axis there is sizes the window both ways.
                        const int qr = lastR == 0 ? r : (r < lastR ? r + 1 : r - 1);
                        const int qc = lastC == 0 ? c : (c < lastC ? c + 1 : c - 1);
                        const cv::Vec2f p = mesh->at<cv::Vec2f>(r, c);
                        const cv::Vec2f q = mesh->at<cv::Vec2f>(qr, qc);
                        float dx = 0.25f * std::abs(p[0] - q[0]);
                        float dy = 0.25f * std::abs(p[1] - q[1]);
                        if (lastR == 0)
                            dy = dx;
                        if (lastC == 0)
                            dx = dy;
                        top = std::lround(p[1] - dy);
                        bottom = std::lround(p[1] + dy);
                        left = std::lround(p[0] - dx);
                        right = std::lround(p[0] + dx);
                    }
                    top = std::max(top, 0L);
                    left = std::max(left, 0L);
                    bottom = std::min(bottom, long(H) - 1);
                    right = std::min(right, long(W) - 1);

                    double sum[3] = {0.0, 0.0, 0.0};
                    long long count = 0;
                    for (long y = top; y < bottom; ++y) {
                        const cv::Vec3f* in = img[int(y)];
                        auto* out = sampledPixels.ptr<cv::Vec3b>(int(y));
                        uchar* times = halvings[int(y)];
                        for (long x = left; x < right; ++x) {
                            for (int ch = 0; ch < 3; ++ch)
                                sum[ch] += in[x][ch];
                            if (times[x] < 255)
                                ++times[x];
                            const float f = halved[times[x]];
                            out[x] = cv::Vec3b(cv::saturate_cast<uchar>(in[x][0] * f),
                                               cv::saturate_cast<uchar>(in[x][1] * f),
                                               cv::saturate_cast<uchar>(in[x][2] * f));
                            ++count;
                        }
                    }
                    const double nan = std::numeric_limits<double>::quiet_NaN();
                    section->at<cv::Vec3f>(j, i) = count > 0 ? cv::Vec3f(float(sum[0] / double(count)),
                                                                         float(sum[1] / double(count)),
                                                                         float(sum[2] / double(count)))
                                                             : cv::Vec3f(float(nan), float(nan), float(nan));
                }
            }
            list.append(section);
        }
    }
    halvings.release();
    Q_EMIT sampledImageUpdated(sampled);
    if (s.profiling)
        qDebug("sectionAvgList %lld", qlonglong(timer.elapsed()));
    return list;
}
