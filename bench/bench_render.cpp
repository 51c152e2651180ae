// Redraw of a whole 4000 x 4000 image of each kind, beside the practical limit: a bare
// loop mapping the same 16 million stored values through a 65536-entry byte table.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>

#include "viewer/Viewer.h"

using namespace pelorin;

namespace {

constexpr int kSide = 4000;

std::unique_ptr<Viewer> MakeViewer(int bitpix) {
    auto v = std::make_unique<Viewer>(std::filesystem::temp_directory_path().string());
    v->paletteFallbacks.clear();
    v->startUp();
    ImageState& im = v->image;
    im.bitpix = bitpix;
    im.width = im.height = kSide;
    im.bscale = 1;
    im.bzero = bitpix == 16 ? 32768 : 0;
    std::mt19937 rng(7);
    auto fill = [&](auto& arr, auto gen) {
        arr.resize(kSide, kSide);
        for (std::size_t i = 0; i < arr.size(); ++i)
            arr.data()[i] = gen();
    };
    switch (bitpix) {
        case 8:
            fill(im.pixels8, [&] { return static_cast<std::uint8_t>(rng()); });
            break;
        case 16:
            fill(im.pixels16, [&] { return static_cast<std::int16_t>(rng()); });
            break;
        case 32:
            fill(im.pixels32, [&] { return static_cast<std::int32_t>(rng() % 60000); });
            break;
        case -32:
            fill(im.pixelsR32, [&] { return static_cast<float>(rng() % 100000) * 0.5f; });
            break;
        default:
            fill(im.pixelsR64, [&] { return static_cast<double>(rng() % 100000) * 0.25; });
            break;
    }
    im.dataMin = 0;
    im.dataMax = 60000;
    im.mean = 30000;
    im.sigma = 10000;
    v->computeThresholds();
    v->levels.low = 1000;
    v->levels.high = 50000;
    ZoomWindow& z = v->zoom;
    z.colStart = z.rowStart = 0;
    z.colEnd = z.cols = z.rowEnd = z.rows = kSide;
    im.loaded = true;
    return v;
}

void BM_RenderDisplay(benchmark::State& state) {
    auto v = MakeViewer(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        v->renderDisplay();
        benchmark::DoNotOptimize(v->displayBitmap.row(0));
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_RenderDisplay)
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->Arg(-32)
    ->Arg(-64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The practical limit: the same number of 16-bit values through a byte table, one thread.
void BM_BareTableLoop(benchmark::State& state) {
    std::vector<std::int16_t> values(static_cast<std::size_t>(kSide) * kSide);
    std::mt19937 rng(7);
    for (auto& x : values)
        x = static_cast<std::int16_t>(rng());
    std::vector<std::uint8_t> table(65536);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<std::uint8_t>(i * 7);
    const std::uint8_t* t = table.data() + 32768;
    Bitmap out;
    for (auto _ : state) {
        out.create(kSide, kSide, 8);
        for (int r = 0; r < kSide; ++r) {
            const std::int16_t* src = values.data() + static_cast<std::size_t>(r) * kSide;
            std::uint8_t* dst = out.row(r);
            for (int c = 0; c < kSide; ++c)
                dst[c] = t[src[c]];
        }
        benchmark::DoNotOptimize(out.row(0));
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_BareTableLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
