// Template upload of many tiles against the stand-in processor, which holds
// every tile request back for a fixed time (as a busy processor would). The
// tiles of one upload run side by side, so an upload of many tiles should
// take little more than one tile's upload: the "concurrency" counter is
// tiles x (time of one tile) / (time of all tiles), ideally the tile count.
//
//   app_calupload_bench [--delay_ms=N] [benchmark flags]
#include "polledcontext.h"
#include "processorstandin.h"

#include "calupdater.h"

#include "glowkit/tesscalfile.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

namespace {

constexpr int kLdmsPerTile = 4;
int gDelayMs = 50;
double gOneTileSeconds = 0.0;

struct Bed {
    ProcessorStandin fake;
    testsupport::PolledContext net;
    http_client::registry cancellers;
    http_client::context ctx {net.io(), cancellers};
    http_client::resolver_results endpoints;
    std::string mesh; // one TessCal stream of a 10 x 10 cell mesh

    bool start()
    {
        if (!fake.start()) {
            std::fprintf(stderr, "stand-in processor: %s\n", qPrintable(fake.errorString()));
            return false;
        }
        fake.addRule(QJsonObject {{QStringLiteral("path"), QStringLiteral("/api/v1/tile/")},
                                  {QStringLiteral("times"), -1},
                                  {QStringLiteral("delay"), gDelayMs / 1000.0}});
        auto resolve = http_client::resolve_address(ctx, fake.host(), fake.service());
        endpoints = http_client::sync_wait(net.io(), resolve).value();

        TessCalFile::Mesh m;
        m.name = "Veltrano continuous";
        m.planes.assign(3, std::vector<std::vector<float>>(12, std::vector<float>(12, 1.0f)));
        m.geometry = {0.5f, 0.5f, 10.0f, 10.0f};
        m.value = 1.0f;
        std::ostringstream out;
        TessCalFile::Handler().writeStream(m, out);
        mesh = out.str();
        return true;
    }
};

Bed* gBed = nullptr;

// One upload of `tiles` tiles of four LDMs each; false when it failed.
bool uploadOnce(int tiles)
{
    CalUpdater updater(gBed->ctx, gBed->fake.host(), gBed->endpoints);
    for (int t = 0; t < tiles; ++t) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "02:00:00:00:%02X:%02X", t / 256, t % 256);
        for (int k = 1; k <= kLdmsPerTile; ++k) {
            CalUpdater::Stream stream;
            stream.commit(boost::asio::buffer_copy(stream.prepare(gBed->mesh.size()), boost::asio::buffer(gBed->mesh)));
            updater.addLDM(mac, std::to_string(k), std::move(stream));
        }
    }
    auto task = updater.UploadTiles();
    const CalUpdater::Result result = http_client::sync_wait(gBed->net.io(), task);
    if (result)
        std::fprintf(stderr, "upload failed: %s\n", qPrintable(*result));
    return !result;
}

void BM_TemplateUpload(benchmark::State& state)
{
    const int tiles = int(state.range(0));
    if (tiles > 1 && gOneTileSeconds == 0.0) {
        // Run on its own: take one tile's time here, outside the measurement.
        const auto start = std::chrono::steady_clock::now();
        uploadOnce(1);
        gOneTileSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!uploadOnce(tiles)) {
            state.SkipWithError("upload failed");
            return;
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        seconds += took.count();
    }
    const double perUpload = seconds / double(state.iterations());
    if (tiles == 1)
        gOneTileSeconds = perUpload;
    state.counters["tiles"] = tiles;
    state.counters["requests"] = tiles * (kLdmsPerTile + 2);
    state.counters["one_tile_ms"] = gOneTileSeconds * 1000.0;
    if (gOneTileSeconds > 0.0)
        state.counters["concurrency"] = double(tiles) * gOneTileSeconds / perUpload;
}

} // namespace

// One tile first: the others are measured against it.
BENCHMARK(BM_TemplateUpload)->Arg(1)->Arg(4)->Arg(24)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--delay_ms=", 11) == 0)
            gDelayMs = std::atoi(argv[i] + 11);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Bed bed;
    if (!bed.start())
        return 1;
    gBed = &bed;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gBed = nullptr;
    return 0;
}
