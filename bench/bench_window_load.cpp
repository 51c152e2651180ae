// The window's load of a 4000 x 4000 BITPIX -32 file with some NaNs: from the click on the
// file (openFocusedFile) to the display bitmap ready to be shown, on the viewer object the
// window drives. To set beside the converter's time for the same kind of file
// (bench/convert_4k.sh).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "viewer/Viewer.h"

namespace {

constexpr int kSide = 4000;

std::string Card(const std::string& key, const std::string& value) {
    std::string c = key;
    c.resize(8, ' ');
    c += "= " + std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
    c.resize(80, ' ');
    return c;
}

// A sky-like picture: noise on a background, one value in 800 a NaN.
void WriteReal32(const std::filesystem::path& path) {
    std::string header = Card("SIMPLE", "T") + Card("BITPIX", "-32") + Card("NAXIS", "2") +
                         Card("NAXIS1", std::to_string(kSide)) +
                         Card("NAXIS2", std::to_string(kSide));
    header += std::string("END").append(77, ' ');
    header.resize(2880, ' ');
    std::vector<std::uint8_t> data(static_cast<std::size_t>(kSide) * kSide * 4);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(1000, 30);
    for (std::size_t i = 0; i < data.size(); i += 4) {
        float f = noise(rng);
        if (rng() % 800 == 0) f = std::numeric_limits<float>::quiet_NaN();
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        for (int b = 0; b < 4; ++b)
            data[i + b] = static_cast<std::uint8_t>(u >> (24 - 8 * b));
    }
    data.resize((data.size() + 2879) / 2880 * 2880, 0);
    std::ofstream f(path, std::ios::binary);
    f.write(header.data(), static_cast<std::streamsize>(header.size()));
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void BM_WindowLoadReal32(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("pelorin-bench-load-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    WriteReal32(dir / "r32.fits");

    pelorin::Viewer v(dir.string());
    v.startUp();
    v.setFolder(dir.string(), "*.*");
    v.controls.fileList.entries.at(0).selected = true;
    v.controls.fileList.focused = 0;
    v.openFocusedFile();  // warms the page cache and the viewer's memory, as a second click
    for (auto _ : state) {
        v.openFocusedFile();
        if (v.displayBitmap.width() != kSide) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(v.displayBitmap.row(0));
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WindowLoadReal32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
