// Raw decoding of a camera raw file into a 16-bit image, beside LibRaw's own
// decoding of the same file with the same parameters into its memory image.
// Each benchmark runs in a process of its own and reports that process's peak
// resident memory as peak_MiB.
//
//   app_rawdecoder_bench [benchmark flags]
//
// VELTRANO_BENCH_RAW=<file> names the raw file; by default the camera raw
// file of Debian's rawtran-doc package.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QtGlobal>

#include <libraw/libraw.h>

#include "benchsupport.h"
#include "rawdecoder.h"

namespace {

QByteArray rawFile()
{
    const QByteArray file = qgetenv("VELTRANO_BENCH_RAW");
    return file.isEmpty() ? QByteArray("/usr/share/doc/rawtran/IMG_5952.CR2") : file;
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void BM_RawImage(benchmark::State& state)
{
    const QByteArray file = rawFile();
    for (auto _ : state) {
        const cv::Mat image = rawdecoder::rawImage(file.constData(), 0, 0, false);
        if (image.empty())
            state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(image.data);
    }
    benchsupport::reportPeak(state);
}

void BM_LibRawMemImage(benchmark::State& state)
{
    const QByteArray file = rawFile();
    LibRaw processor(0);
    for (auto _ : state) {
        rawdecoder::applyParameters(processor, 0, 0);
        libraw_processed_image_t* image = nullptr;
        if (processor.open_file(file.constData()) == LIBRAW_SUCCESS && processor.unpack() == LIBRAW_SUCCESS
            && processor.dcraw_process() == LIBRAW_SUCCESS)
            image = processor.dcraw_make_mem_image();
        if (!image)
            state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(image);
        LibRaw::dcraw_clear_mem(image);
        processor.recycle();
    }
    benchsupport::reportPeak(state);
}

} // namespace

BENCHMARK(BM_RawImage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_LibRawMemImage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

int main(int argc, char** argv)
{
    qInstallMessageHandler(quiet);
    return benchsupport::run(argc, argv, {"BM_RawImage", "BM_LibRawMemImage"});
}
