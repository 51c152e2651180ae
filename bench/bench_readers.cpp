// Loading a 4000 x 4000 FITS image (BITPIX 16, -32 and 8, warm cache, statistics included)
// against the reference FITS library reading the same file into doubles followed by a
// min / max / mean / sigma pass. Two variants of that pass: double sums, and the 80-bit sums
// this program keeps.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/Readers.h"

#ifdef PELORIN_HAVE_CFITSIO
#include <fitsio.h>
#endif

namespace {

constexpr int kSide = 4000;

std::string Card(const std::string& key, const std::string& value) {
    std::string c = key;
    c.resize(8, ' ');
    c += "= ";
    c += std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
    c.resize(80, ' ');
    return c;
}

// One test file per data kind, written once into a temporary folder and read once so that
// it sits in the page cache.
class Files {
  public:
    static Files& get() {
        static Files files;
        return files;
    }
    const std::string& path(int bitpix) {
        auto it = paths_.find(bitpix);
        if (it == paths_.end()) it = paths_.emplace(bitpix, write(bitpix)).first;
        return it->second;
    }
    ~Files() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

  private:
    Files() {
        dir_ = std::filesystem::temp_directory_path() /
               ("pelorin-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir_);
    }

    std::string write(int bitpix) {
        const std::string p = (dir_ / ("img" + std::to_string(bitpix) + ".fits")).string();
        std::string header = Card("SIMPLE", "T") + Card("BITPIX", std::to_string(bitpix)) +
                             Card("NAXIS", "2") + Card("NAXIS1", std::to_string(kSide)) +
                             Card("NAXIS2", std::to_string(kSide));
        if (bitpix == 16) header += Card("BZERO", "32768");
        header += std::string("END").append(77, ' ');
        header.resize(2880, ' ');
        const int bytes = std::abs(bitpix) / 8;
        std::vector<std::uint8_t> data(static_cast<std::size_t>(kSide) * kSide * bytes);
        std::mt19937 rng(1);
        for (std::size_t i = 0; i < data.size(); i += bytes) {
            if (bitpix == -32) {
                const float f = std::uniform_real_distribution<float>(-1000, 60000)(rng);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                for (int b = 0; b < 4; ++b)
                    data[i + b] = static_cast<std::uint8_t>(u >> (24 - 8 * b));
            } else {
                const std::uint32_t r = rng();
                for (int b = 0; b < bytes; ++b)
                    data[i + b] = static_cast<std::uint8_t>(r >> (8 * b));
            }
        }
        data.resize((data.size() + 2879) / 2880 * 2880, 0);
        std::ofstream f(p, std::ios::binary);
        f.write(header.data(), static_cast<std::streamsize>(header.size()));
        f.write(reinterpret_cast<const char*>(data.data()),
                static_cast<std::streamsize>(data.size()));
        f.close();
        // Warm the cache.
        std::ifstream in(p, std::ios::binary);
        std::vector<char> sink(1 << 20);
        while (in.read(sink.data(), static_cast<std::streamsize>(sink.size())) || in.gcount() > 0) {
        }
        return p;
    }

    std::filesystem::path dir_;
    std::map<int, std::string> paths_;
};

// As the viewer loads: one image record for the whole run, its arrays reset to 1 x 1 before
// each load (their memory stays with them).
void BM_PelorinReadFitsImage(benchmark::State& state) {
    const int bitpix = static_cast<int>(state.range(0));
    const std::string& path = Files::get().path(bitpix);
    pelorin::ImageState image;
    pelorin::WcsInfo wcs;
    pelorin::ZoomWindow zoom;
    for (auto _ : state) {
        pelorin::ResetImageArrays(image);
        pelorin::ReadFitsImage(path, image, wcs, zoom, pelorin::MessageWords{});
        if (image.height != kSide) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.mean);
        benchmark::DoNotOptimize(image.sigma);
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PelorinReadFitsImage)->Arg(16)->Arg(-32)->Arg(8)->Unit(benchmark::kMillisecond);

// A fresh image record each time: the first load of a run, which also pays for new memory.
void BM_PelorinReadFitsImageFreshMemory(benchmark::State& state) {
    const int bitpix = static_cast<int>(state.range(0));
    const std::string& path = Files::get().path(bitpix);
    for (auto _ : state) {
        pelorin::ImageState image;
        pelorin::WcsInfo wcs;
        pelorin::ZoomWindow zoom;
        pelorin::ReadFitsImage(path, image, wcs, zoom, pelorin::MessageWords{});
        if (image.height != kSide) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.mean);
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PelorinReadFitsImageFreshMemory)
    ->Arg(16)
    ->Arg(-32)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond);

#ifdef PELORIN_HAVE_CFITSIO

template <typename Sum>
void LibraryReadAndStats(benchmark::State& state) {
    const int bitpix = static_cast<int>(state.range(0));
    const std::string& path = Files::get().path(bitpix);
    const long n = static_cast<long>(kSide) * kSide;
    std::vector<double> pixels(static_cast<std::size_t>(n));  // reused, like the viewer's
    for (auto _ : state) {
        int status = 0, anynul = 0;
        fitsfile* f = nullptr;
        fits_open_file(&f, path.c_str(), READONLY, &status);
        double nul = 0;
        fits_read_img(f, TDOUBLE, 1, n, &nul, pixels.data(), &anynul, &status);
        fits_close_file(f, &status);
        if (status != 0) state.SkipWithError("library read failed");
        double mn = 1e100, mx = -1e100;
        Sum s1 = 0, s2 = 0;
        for (double v : pixels) {
            if (v < mn) mn = v;
            if (v > mx) mx = v;
            s1 += v;
            s2 += static_cast<Sum>(v) * v;
        }
        const Sum mean = s1 / n;
        const Sum sigma = std::sqrt(s2 / n - mean * mean);
        benchmark::DoNotOptimize(mn);
        benchmark::DoNotOptimize(mx);
        benchmark::DoNotOptimize(mean);
        benchmark::DoNotOptimize(sigma);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_LibraryReadImgDoubleSums(benchmark::State& state) {
    LibraryReadAndStats<double>(state);
}
void BM_LibraryReadImgExtendedSums(benchmark::State& state) {
    LibraryReadAndStats<long double>(state);
}
BENCHMARK(BM_LibraryReadImgDoubleSums)->Arg(16)->Arg(-32)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryReadImgExtendedSums)->Arg(16)->Arg(-32)->Arg(8)->Unit(benchmark::kMillisecond);

#endif

}  // namespace

BENCHMARK_MAIN();
