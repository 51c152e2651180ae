// The filters on a 4000 x 4000 16-bit image, each kernel timed beside a plain double-precision
// N x N convolution over the same pixels: the yardstick the filters are held to.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "image/ImageModel.h"
#include "process/Filters.h"

namespace {

using namespace pelorin;

constexpr int kSide = 4000;

// One image for the whole run: sky-like data (a background with noise and a few bright
// spots) over the full signed range, stored with the usual offset of unsigned 16-bit data.
const ImageState& SharedImage() {
    static const ImageState image = [] {
        ImageState im;
        im.width = im.height = kSide;
        im.bitpix = 16;
        im.bzero = 32768;
        im.bscale = 1;
        im.pixels16.resize(kSide, kSide);
        std::mt19937 gen(12345);
        std::normal_distribution<double> noise(-31000, 400);
        std::uniform_int_distribution<int> spot(0, 999);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                double v = noise(gen);
                if (spot(gen) == 0) v += 40000;
                im.pixels16[y][x] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
            }
        SaveSourcePixels(im);
        return im;
    }();
    return image;
}

void BM_Filter(benchmark::State& state) {
    const int index = static_cast<int>(state.range(0));
    ImageState image = SharedImage();
    for (auto _ : state) {
        const long long n = FilterImage(image, index, 9e99L);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(image.pixels16.data());
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

// The yardstick: the same N x N weighted sum per interior pixel in doubles, divided, clipped
// and stored; no threshold, no rounding rule, no statistics.
void BM_PlainDouble(benchmark::State& state) {
    const int index = static_cast<int>(state.range(0));
    const Kernel& k = KernelFor(index);
    const ImageState& src = SharedImage();
    PixelArray<std::int16_t> out = src.source16;
    const int h = k.size / 2;
    for (auto _ : state) {
        for (int y = h; y < kSide - h; ++y) {
            std::int16_t* o = out[y];
            for (int x = h; x < kSide - h; ++x) {
                double acc = 0;
                for (int i = 0; i < k.size; ++i) {
                    const std::int16_t* s = src.source16[y + i - h] + (x - h);
                    for (int j = 0; j < k.size; ++j)
                        acc += k.weights[i][j] * s[j];
                }
                o[x] = static_cast<std::int16_t>(std::clamp(acc / k.divisor, -32768.0, 32767.0));
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

// Each kernel's filter right after its yardstick, so the two figures sit side by side.
int main(int argc, char** argv) {
    for (int i = 1; i < kFilterCount; ++i) {
        std::string plain = "PlainDouble/";
        plain += std::to_string(i);
        std::string filter = "Filter/";
        filter += std::to_string(i);
        benchmark::RegisterBenchmark(plain.c_str(), BM_PlainDouble)
            ->Arg(i)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(filter.c_str(), BM_Filter)
            ->Arg(i)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
