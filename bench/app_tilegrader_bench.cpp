// Photo analysis of a 24-megapixel photo of a wall, beside the bare OpenCV
// operations it is made of: BM_BareOperations does the same operations at the
// same sizes (decode, float conversion, lens gain, outline, its preview,
// warp, screen preview, section means and their preview) with nothing kept
// beyond what the next step needs. Each benchmark runs in a process of its
// own and reports that process's peak resident memory as peak_MiB.
//
//   app_tilegrader_bench [benchmark flags]
//
// VELTRANO_BENCH_PHOTO=<file.png> keeps the rendered photo in that file (it is
// rendered there when missing), so that a process given one benchmark's
// filter spends nothing on rendering; otherwise the photo is rendered into a
// temporary folder, once, before the benchmarks' processes start.
#include <benchmark/benchmark.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "benchsupport.h"
#include "photorender.h"
#include "tilegrader.h"

namespace {

// The outline search's own steps: grey, 8 bits, Otsu's threshold, the outer
// contours.
std::vector<std::vector<cv::Point>> outerContours(const cv::Mat& photo)
{
    cv::Mat grey, grey8, bw;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    grey.convertTo(grey8, CV_8U);
    cv::threshold(grey8, bw, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(bw, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    return contours;
}

const cv::Size photoSize(6000, 4000);
const char* const lens = ":/src/lenscomp/ILCE-7C_FE_4^024-070_@050.jpg";
constexpr float lensK = 1.2829823e-5f;
const std::vector<cv::Point2f> corners{cv::Point2f(300, 500), cv::Point2f(5700, 420), cv::Point2f(5650, 3550),
                                       cv::Point2f(360, 3480)};
constexpr int sectionsW = 24, sectionsH = 12, subsections = 2;

QString renderedPhoto()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        QString file = qEnvironmentVariable("VELTRANO_BENCH_PHOTO");
        if (file.isEmpty())
            file = dir.filePath("wall.png");
        if (QFileInfo::exists(file))
            return file;
        testsupport::Wall wall;
        wall.columns = sectionsW;
        wall.rows = sectionsH;
        wall.module = cv::Size(200, 200);
        for (int i = 0; i < wall.columns * wall.rows; ++i)
            wall.colours.push_back(cv::Vec3f(100 + i % 100, 120 + i % 80, 90 + i % 120));
        testsupport::Shot shot;
        shot.size = photoSize;
        std::copy(corners.begin(), corners.end(), shot.corners.begin());
        shot.lensK = lensK;
        shot.noise = 2.0f;
        shot.supersample = 1;
        const QString part = file + ".part.png";
        testsupport::savePhoto(testsupport::renderPhoto(wall, shot), part);
        QFile::rename(part, file);
        return file;
    }();
    return path;
}

std::string photoPath() { return QFile::encodeName(renderedPhoto()).toStdString(); }

// The decoded photo and its float version, for the single operations.
struct Decoded
{
    cv::Mat decoded = cv::imread(photoPath(), cv::IMREAD_COLOR);
    cv::Mat floatPhoto;
    Decoded() { decoded.convertTo(floatPhoto, CV_32FC3); }
};

Decoded& decoded()
{
    static Decoded instance;
    return instance;
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void BM_Analysis(benchmark::State& state)
{
    const QString path = renderedPhoto();
    TileGrader grader;
    grader.setLensFile(QString::fromLatin1(lens));
    grader.setSections(sectionsW, sectionsH);
    grader.setSubsections(subsections, subsections);
    for (auto _ : state) {
        if (!grader.loadOriginal(path, QString()))
            state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(grader.sectionAverages());
    }
    benchsupport::reportPeak(state);
}

void BM_BareOperations(benchmark::State& state)
{
    const std::string path = photoPath();
    for (auto _ : state) {
        cv::Mat photo;
        cv::imread(path, cv::IMREAD_COLOR).convertTo(photo, CV_32FC3);
        const int H = photo.rows, W = photo.cols;
        for (int r = 0; r < H; ++r) {
            const float dy = float(r) * 120.0f / float(H) - 60.0f;
            auto* p = photo.ptr<cv::Vec3f>(r);
            for (int c = 0; c < W; ++c) {
                const float dx = float(c) * 180.0f / float(W) - 90.0f;
                p[c] *= 1.0f / (1.0f - lensK * (dx * dx + dy * dy));
            }
        }
        std::vector<cv::Point> outline;
        {
            const std::vector<std::vector<cv::Point>> contours = outerContours(photo);
            const auto largest = std::max_element(contours.begin(), contours.end(), [](const auto& a, const auto& b) {
                return cv::contourArea(a) < cv::contourArea(b);
            });
            cv::approxPolyDP(*largest, outline, std::max(H, W) / 100.0, true);
        }
        {
            cv::Mat preview;
            photo.convertTo(preview, CV_8UC3);
            cv::drawContours(preview, std::vector<std::vector<cv::Point>>{outline}, -1, cv::Scalar(0, 255, 0), 15, 8);
            benchmark::DoNotOptimize(preview.data);
        }
        const cv::Rect box = cv::boundingRect(corners);
        const std::vector<cv::Point2f> to{cv::Point2f(0, 0), cv::Point2f(float(box.width), 0),
                                          cv::Point2f(float(box.width), float(box.height)),
                                          cv::Point2f(0, float(box.height))};
        cv::Mat screen;
        cv::warpPerspective(photo, screen, cv::getPerspectiveTransform(corners, to), box.size(), cv::INTER_LINEAR,
                            cv::BORDER_CONSTANT);
        {
            cv::Mat preview;
            screen.convertTo(preview, CV_8UC3);
            benchmark::DoNotOptimize(preview.data);
        }
        cv::Mat preview;
        screen.convertTo(preview, CV_8UC3);
        const int across = sectionsW * subsections, down = sectionsH * subsections;
        const int w = screen.cols / across, h = screen.rows / down;
        for (int r = 0; r < down; ++r)
            for (int c = 0; c < across; ++c) {
                const cv::Rect window(c * w + w / 4, r * h + h / 4, w / 2, h / 2);
                benchmark::DoNotOptimize(cv::mean(screen(window)));
                cv::Mat part = preview(window);
                screen(window).convertTo(part, CV_8U, 0.5);
            }
        benchmark::DoNotOptimize(preview.data);
    }
    benchsupport::reportPeak(state);
}

void BM_Imread(benchmark::State& state)
{
    const std::string path = photoPath();
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_COLOR));
}

void BM_ConvertToFloat(benchmark::State& state)
{
    cv::Mat out;
    for (auto _ : state)
        decoded().decoded.convertTo(out, CV_32FC3, 1.0, 0.0);
}

void BM_OutlineSearch(benchmark::State& state)
{
    const cv::Mat& image = decoded().floatPhoto;
    for (auto _ : state) {
        const std::vector<std::vector<cv::Point>> contours = outerContours(image);
        benchmark::DoNotOptimize(contours.size());
    }
}

void BM_Warp(benchmark::State& state)
{
    const cv::Rect box = cv::boundingRect(corners);
    const std::vector<cv::Point2f> to{cv::Point2f(0, 0), cv::Point2f(float(box.width), 0),
                                      cv::Point2f(float(box.width), float(box.height)),
                                      cv::Point2f(0, float(box.height))};
    const cv::Mat m = cv::getPerspectiveTransform(corners, to);
    cv::Mat out;
    for (auto _ : state)
        cv::warpPerspective(decoded().floatPhoto, out, m, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
}

void BM_RegionMeans(benchmark::State& state)
{
    // The section averages' share: the mean of every window of the grid.
    const cv::Mat& image = decoded().floatPhoto;
    for (auto _ : state) {
        for (int r = 0; r < 24; ++r)
            for (int c = 0; c < 48; ++c)
                benchmark::DoNotOptimize(cv::mean(image(cv::Rect(c * 120 + 30, r * 160 + 40, 60, 80))));
    }
}

} // namespace

BENCHMARK(BM_Analysis)->Iterations(3)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_BareOperations)->Iterations(3)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Imread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertToFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OutlineSearch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Warp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RegionMeans)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    qInstallMessageHandler(quiet);
    // Rendered here, once, so that no benchmark's process renders it.
    qputenv("VELTRANO_BENCH_PHOTO", QFile::encodeName(renderedPhoto()));
    return benchsupport::run(argc, argv,
                             {"BM_Analysis", "BM_BareOperations", "BM_Imread", "BM_ConvertToFloat", "BM_OutlineSearch",
                              "BM_Warp", "BM_RegionMeans"});
}
