// Photo analysis of a 24-megapixel photo of a wall, beside the bare OpenCV
// operations it is made of.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "photorender.h"
#include "tilegrader.h"

namespace {

const cv::Size photoSize(6000, 4000);
const char* const lens = ":/src/lenscomp/ILCE-7C_FE_4^024-070_@050.jpg";

struct Photo
{
    QTemporaryDir dir;
    QString path;
    cv::Mat decoded; // as cv::imread gives it
    cv::Mat floatPhoto;
    std::vector<cv::Point> corners;

    Photo()
    {
        testsupport::Wall wall;
        wall.columns = 24;
        wall.rows = 12;
        wall.module = cv::Size(200, 200);
        for (int i = 0; i < wall.columns * wall.rows; ++i)
            wall.colours.push_back(cv::Vec3f(100 + i % 100, 120 + i % 80, 90 + i % 120));
        testsupport::Shot shot;
        shot.size = photoSize;
        shot.corners = {cv::Point2f(300, 500), cv::Point2f(5700, 420), cv::Point2f(5650, 3550),
                        cv::Point2f(360, 3480)};
        shot.lensK = 1.2829823e-5f;
        shot.noise = 2.0f;
        shot.supersample = 1;
        path = dir.filePath("wall.png");
        testsupport::savePhoto(testsupport::renderPhoto(wall, shot), path);
        decoded = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_COLOR);
        decoded.convertTo(floatPhoto, CV_32FC3);
        for (const cv::Point2f& p : shot.corners)
            corners.emplace_back(int(p.x), int(p.y));
    }
};

Photo& photo()
{
    static Photo instance;
    return instance;
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void BM_Analysis(benchmark::State& state)
{
    Photo& p = photo();
    TileGrader grader;
    grader.setLensFile(QString::fromLatin1(lens));
    grader.setSections(24, 12);
    grader.setSubsections(2, 2);
    for (auto _ : state) {
        if (!grader.loadOriginal(p.path, QString()))
            state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(grader.sectionAverages());
    }
}
BENCHMARK(BM_Analysis)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Imread(benchmark::State& state)
{
    const std::string path = QFile::encodeName(photo().path).toStdString();
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_COLOR));
}
BENCHMARK(BM_Imread)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertToFloat(benchmark::State& state)
{
    cv::Mat out;
    for (auto _ : state)
        photo().decoded.convertTo(out, CV_32FC3, 1.0, 0.0);
}
BENCHMARK(BM_ConvertToFloat)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OutlineSearch(benchmark::State& state)
{
    const cv::Mat& image = photo().floatPhoto;
    for (auto _ : state) {
        cv::Mat grey, grey8, bw;
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(grey8, CV_8U);
        cv::threshold(grey8, bw, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(bw, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        benchmark::DoNotOptimize(contours.size());
    }
}
BENCHMARK(BM_OutlineSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Warp(benchmark::State& state)
{
    Photo& p = photo();
    const cv::Rect box = cv::boundingRect(p.corners);
    const std::vector<cv::Point2f> from{cv::Point2f(p.corners[0]), cv::Point2f(p.corners[1]),
                                        cv::Point2f(p.corners[2]), cv::Point2f(p.corners[3])};
    const std::vector<cv::Point2f> to{cv::Point2f(0, 0), cv::Point2f(float(box.width), 0),
                                      cv::Point2f(float(box.width), float(box.height)),
                                      cv::Point2f(0, float(box.height))};
    const cv::Mat m = cv::getPerspectiveTransform(from, to);
    cv::Mat out;
    for (auto _ : state)
        cv::warpPerspective(p.floatPhoto, out, m, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
}
BENCHMARK(BM_Warp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RegionMeans(benchmark::State& state)
{
    // The section averages' share: the mean of every window of the grid.
    const cv::Mat& image = photo().floatPhoto;
    for (auto _ : state) {
        for (int r = 0; r < 24; ++r)
            for (int c = 0; c < 48; ++c)
                benchmark::DoNotOptimize(cv::mean(image(cv::Rect(c * 120 + 30, r * 160 + 40, 60, 80))));
    }
}
BENCHMARK(BM_RegionMeans)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(quiet);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
