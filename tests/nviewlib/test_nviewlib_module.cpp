// The decoder module through its two C entries, loaded the way the program loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "PictureFiles.h"
#include "TestUtil.h"
#include "nviewlib/nviewlib.h"

#ifndef PELORIN_GM_PROGRAM
#define PELORIN_GM_PROGRAM "gm"
#endif

namespace pelorin::test {
namespace {

// s as one shell word: in single quotes, each quote in it closed, escaped and reopened.
std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

// Runs the `gm` tool, for the formats too tedious to encode by hand (GIF, JPEG); true when
// it succeeded.
bool RunGm(const std::vector<std::string>& args) {
    std::string command = Quote(PELORIN_GM_PROGRAM);
    for (const std::string& a : args)
        command += " " + Quote(a);
    command += " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

struct ModuleApi {
    NViewLibLoadFn load = nullptr;
    NViewLibFreeFn release = nullptr;
    NViewLibPingFn ping = nullptr;
};

const ModuleApi& Module() {
    static const ModuleApi api = [] {
        ModuleApi a;
        void* handle = dlopen(NVIEWLIB_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return a;
        a.load = reinterpret_cast<NViewLibLoadFn>(dlsym(handle, "NViewLibLoad"));
        a.release = reinterpret_cast<NViewLibFreeFn>(dlsym(handle, "NViewLibFree"));
        a.ping = reinterpret_cast<NViewLibPingFn>(dlsym(handle, "NViewLibPing"));
        return a;
    }();
    return api;
}

struct Release {
    void operator()(NViewPicture* p) const { Module().release(p); }
};
using Picture = std::unique_ptr<NViewPicture, Release>;

class DecoderModule : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Module().load, nullptr) << "cannot load " << NVIEWLIB_MODULE_PATH;
        ASSERT_NE(Module().release, nullptr);
    }

    Picture Load(const std::string& path) { return Picture(Module().load(path.c_str(), 0)); }

    Picture LoadBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir.file(name);
        WriteFile(path, bytes);
        return Load(path);
    }

    // Writes `image` as PPM and has gm convert it to `name` (format from the arguments or
    // the name's extension).
    std::string Convert(const RgbImage& image, const std::string& name,
                        const std::vector<std::string>& options = {},
                        const std::string& target = "") {
        const std::string source = dir.file(name + ".source.ppm");
        WriteFile(source, Ppm(image));
        std::vector<std::string> args{"convert", source};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(target.empty() ? dir.file(name) : target + ":" + dir.file(name));
        EXPECT_TRUE(RunGm(args)) << "gm could not write " << name;
        return dir.file(name);
    }

    TempDir dir;
};

std::size_t ExpectedStride(int width) {
    return (3 * static_cast<std::size_t>(width) + 3) & ~3u;
}

// Size, stride, zeroed padding and every pixel as blue, green, red within `tolerance`.
::testing::AssertionResult SamePicture(const NViewPicture* p, const RgbImage& expected,
                                       int tolerance = 0) {
    if (p == nullptr) return ::testing::AssertionFailure() << "no picture";
    if (p->width != expected.width || p->height != expected.height) {
        return ::testing::AssertionFailure()
               << "size " << p->width << "x" << p->height << ", expected " << expected.width << "x"
               << expected.height;
    }
    if (static_cast<std::size_t>(p->stride) != ExpectedStride(p->width)) {
        return ::testing::AssertionFailure() << "stride " << p->stride;
    }
    for (int y = 0; y < p->height; ++y) {
        const unsigned char* row = p->bits + static_cast<std::size_t>(y) * p->stride;
        for (int x = 0; x < p->width; ++x) {
            const Rgb want = expected.at(x, y);
            const int got[3] = {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
            const int wanted[3] = {want.b, want.g, want.r};
            for (int c = 0; c < 3; ++c) {
                if (std::abs(got[c] - wanted[c]) > tolerance) {
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << "," << y << ") is B,G,R " << got[0] << "," << got[1]
                           << "," << got[2] << ", expected " << wanted[0] << "," << wanted[1] << ","
                           << wanted[2];
                }
            }
        }
        for (int i = 3 * p->width; i < p->stride; ++i) {
            if (row[i] != 0) {
                return ::testing::AssertionFailure() << "padding byte " << i << " of row " << y;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- Lossless formats, exact colours ----

TEST_F(DecoderModule, BmpContentUnderDibNameDecodesTopRowFirstInBgrWithPaddedRows) {
    const RgbImage image = Pattern(5, 3);  // 15 bytes a row: one byte of padding
    const Picture p = LoadBytes("p.dib", Bmp24(image));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->stride, 16);
    EXPECT_TRUE(SamePicture(p.get(), image));
    // The first bytes are the top-left pixel, blue first.
    EXPECT_EQ(p->bits[0], image.at(0, 0).b);
    EXPECT_EQ(p->bits[2], image.at(0, 0).r);
}

TEST_F(DecoderModule, RunLengthBmpUnderRleNameDecodes) {
    const std::vector<Rgb> palette{{0, 0, 0}, {250, 10, 20}, {30, 200, 40}, {60, 70, 210}};
    // 6 x 2, bottom row first: three 1s then 2,3,2 in absolute mode (padded to a word),
    // end of line; six 3s, end of line; end of bitmap.
    const std::vector<std::uint8_t> stream{3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 6, 3, 0, 0, 0, 1};
    RgbImage expected = Flat(6, 2, palette[3]);
    for (int x = 0; x < 3; ++x)
        expected.at(x, 1) = palette[1];
    expected.at(3, 1) = palette[2];
    expected.at(4, 1) = palette[3];
    expected.at(5, 1) = palette[2];
    const Picture p = LoadBytes("runs.rle", BmpRle8(6, 2, palette, stream));
    EXPECT_TRUE(SamePicture(p.get(), expected));
}

TEST_F(DecoderModule, GifDecodesExactly) {
    const RgbImage image = Pattern(7, 4);
    const Picture p = Load(Convert(image, "p.gif"));
    EXPECT_TRUE(SamePicture(p.get(), image));
}

TEST_F(DecoderModule, AnimatedGifGivesItsFirstFrame) {
    const std::string red = dir.file("red.ppm");
    const std::string blue = dir.file("blue.ppm");
    WriteFile(red, Ppm(Flat(4, 3, Rgb{220, 10, 10})));
    WriteFile(blue, Ppm(Flat(4, 3, Rgb{10, 10, 220})));
    const std::string anim = dir.file("anim.gif");
    ASSERT_TRUE(RunGm({"convert", "-delay", "10", red, blue, anim}));
    const Picture p = Load(anim);
    EXPECT_TRUE(SamePicture(p.get(), Flat(4, 3, Rgb{220, 10, 10})));
}

TEST_F(DecoderModule, TransparentGifPixelsComeOutBlack) {
    RgbImage image = Pattern(4, 3);
    const Rgb key{255, 0, 255};
    image.at(1, 1) = key;
    image.at(3, 0) = key;
    const Picture p = Load(Convert(image, "t.gif", {"-transparent", "#FF00FF"}));
    RgbImage expected = image;
    expected.at(1, 1) = Rgb{};
    expected.at(3, 0) = Rgb{};
    EXPECT_TRUE(SamePicture(p.get(), expected));
}

TEST_F(DecoderModule, TargaInEveryRowOrderAndEncoding) {
    const RgbImage image = Pattern(6, 5);
    EXPECT_TRUE(SamePicture(LoadBytes("up.tga", Tga24(image, false)).get(), image));
    EXPECT_TRUE(SamePicture(LoadBytes("down.tga", Tga24(image, true)).get(), image));
    RgbImage runs = Halves(9, 3, Rgb{5, 100, 200}, Rgb{180, 90, 3});
    runs.at(0, 2) = Rgb{1, 2, 3};  // a raw packet among the runs
    EXPECT_TRUE(SamePicture(LoadBytes("rle.tga", TgaRle24(runs)).get(), runs));
    // Extension in capitals: still a TARGA.
    EXPECT_TRUE(SamePicture(LoadBytes("UP.TGA", Tga24(image, false)).get(), image));
}

TEST_F(DecoderModule, GreyTargaGivesThreeEqualChannels) {
    const std::vector<std::uint8_t> levels{0, 17, 128, 254, 255, 99};
    RgbImage expected{3, 2, {}};
    for (std::uint8_t v : levels)
        expected.pixels.push_back(Rgb{v, v, v});
    EXPECT_TRUE(SamePicture(LoadBytes("grey.tga", TgaGrey(3, 2, levels)).get(), expected));
}

TEST_F(DecoderModule, AlphaIsFlattenedOverBlack) {
    // B, G, R, A: opaque, fully transparent, half transparent.
    const std::vector<std::uint8_t> bgra{50, 100, 200, 255, 50, 100, 200, 0, 50, 100, 200, 128};
    const RgbImage expected{3, 1, {Rgb{200, 100, 50}, Rgb{0, 0, 0}, Rgb{100, 50, 25}}};
    EXPECT_TRUE(SamePicture(LoadBytes("alpha.tga", Tga32(3, 1, bgra)).get(), expected));
}

TEST_F(DecoderModule, PcxDecodesExactly) {
    // Palette PCX written here, including index values that need a one-byte run.
    std::vector<Rgb> palette(256);
    for (int i = 0; i < 256; ++i) {
        palette[i] = Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                         static_cast<std::uint8_t>(i * 7)};
    }
    const std::vector<std::uint8_t> indices{3, 3, 3, 200, 201, 7, 7, 250, 0, 1};
    RgbImage expected{5, 2, {}};
    for (std::uint8_t i : indices)
        expected.pixels.push_back(palette[i]);
    EXPECT_TRUE(SamePicture(LoadBytes("pal.pcx", Pcx8(5, 2, indices, palette)).get(), expected));
    // True colour PCX from gm.
    const RgbImage image = Pattern(5, 4);
    EXPECT_TRUE(SamePicture(Load(Convert(image, "rgb.pcx")).get(), image));
}

// ---- JPEG ----

TEST_F(DecoderModule, JpegUnderJpgAndJifNamesDecodesWithinTolerance) {
    const RgbImage image = Halves(32, 16, Rgb{200, 60, 20}, Rgb{30, 90, 220});
    const std::string jpg = Convert(image, "h.jpg", {"-quality", "100", "-sampling-factor", "1x1"});
    const Picture p = Load(jpg);
    EXPECT_TRUE(SamePicture(p.get(), image, 8));
    const std::string jif = dir.file("h.jif");
    std::filesystem::copy_file(jpg, jif);
    EXPECT_TRUE(SamePicture(Load(jif).get(), image, 8));
}

TEST_F(DecoderModule, GreyJpegGivesThreeEqualChannels) {
    const RgbImage image = Halves(16, 8, Rgb{40, 40, 40}, Rgb{210, 210, 210});
    const Picture p = Load(Convert(image, "g.jpg", {"-colorspace", "GRAY", "-quality", "100"}));
    ASSERT_TRUE(p);
    for (int y = 0; y < p->height; ++y) {
        const unsigned char* row = p->bits + static_cast<std::size_t>(y) * p->stride;
        for (int x = 0; x < p->width; ++x) {
            ASSERT_EQ(row[3 * x], row[3 * x + 1]) << x << "," << y;
            ASSERT_EQ(row[3 * x], row[3 * x + 2]) << x << "," << y;
        }
    }
    EXPECT_TRUE(SamePicture(p.get(), image, 8));
}

TEST_F(DecoderModule, CmykJpegComesOutInRgb) {
    // Ink values written straight into a four-component JPEG: left C,M,Y,K = 0,140,180,55,
    // right 200,100,0,20. Each channel is (255 - ink) * (255 - K) / 255.
    std::vector<std::uint8_t> inks;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const std::vector<std::uint8_t> cmyk = x < 8
                                                       ? std::vector<std::uint8_t>{0, 140, 180, 55}
                                                       : std::vector<std::uint8_t>{200, 100, 0, 20};
            inks.insert(inks.end(), cmyk.begin(), cmyk.end());
        }
    }
    const std::string raw = dir.file("inks.cmyk");
    WriteFile(raw, inks);
    const std::string path = dir.file("c.jpg");
    ASSERT_TRUE(
        RunGm({"convert", "-size", "16x8", "-depth", "8", "CMYK:" + raw, "-quality", "100", path}));
    // Make sure gm did write four components, or the test proves nothing.
    const auto bytes = ReadFile(path);
    bool fourComponents = false;
    for (std::size_t i = 0; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC1)) {
            fourComponents = bytes[i + 9] == 4;
            break;
        }
    }
    ASSERT_TRUE(fourComponents);
    const RgbImage expected = Halves(16, 8, Rgb{200, 90, 59}, Rgb{51, 143, 235});
    EXPECT_TRUE(SamePicture(Load(path).get(), expected, 4));
}

// ---- Content before name ----

TEST_F(DecoderModule, ContentDecidesTheFormatWhateverTheName) {
    const RgbImage image = Pattern(5, 3);
    EXPECT_TRUE(SamePicture(LoadBytes("bmp.jpg", Bmp24(image)).get(), image));
    EXPECT_TRUE(SamePicture(LoadBytes("bmp.tga", Bmp24(image)).get(), image));
    const std::string gif = Convert(image, "gif.pcx", {}, "GIF");
    EXPECT_TRUE(SamePicture(Load(gif).get(), image));
    const std::string png = Convert(image, "png.jpg", {}, "PNG");
    EXPECT_TRUE(SamePicture(Load(png).get(), image));
    const RgbImage halves = Halves(32, 16, Rgb{200, 60, 20}, Rgb{30, 90, 220});
    const std::string jpeg =
        Convert(halves, "jpeg.tga", {"-quality", "100", "-sampling-factor", "1x1"}, "JPEG");
    EXPECT_TRUE(SamePicture(Load(jpeg).get(), halves, 8));
}

TEST_F(DecoderModule, TargaIsOnlyRecognisedByItsName) {
    const RgbImage image = Pattern(4, 4);
    EXPECT_TRUE(SamePicture(LoadBytes("ok.tga", Tga24(image, false)).get(), image));
    EXPECT_FALSE(LoadBytes("named.jpg", Tga24(image, false)));
    EXPECT_FALSE(LoadBytes("noname", Tga24(image, false)));
}

TEST_F(DecoderModule, FileNamesAreNotInterpreted) {
    // Brackets, colons and percent signs mean things to picture libraries; here they are
    // only characters of a name.
    const RgbImage image = Pattern(3, 2);
    EXPECT_TRUE(SamePicture(LoadBytes("frame[1].tga", Tga24(image, false)).get(), image));
    EXPECT_TRUE(SamePicture(LoadBytes("GIF:x%d.dib", Bmp24(image)).get(), image));
}

// ---- Refusals ----

TEST_F(DecoderModule, OversizePicturesAreRefusedFromTheirHeader) {
    EXPECT_FALSE(LoadBytes("huge.dib", Bmp24Header(100000, 100000, 64)));
    EXPECT_FALSE(LoadBytes("square.dib", Bmp24Header(20000, 20000, 64)));
    EXPECT_FALSE(LoadBytes("huge.tga", Tga24Header(65535, 65535, 64)));
    EXPECT_FALSE(LoadBytes("huge.pcx", Pcx8Header(65535, 65535, 64)));
    EXPECT_FALSE(LoadBytes("upside.dib", Bmp24Header(100000, -100000, 64)));
}

TEST_F(DecoderModule, SmallFilesCannotClaimLargePicturesAndPingTellsTheSize) {
    ASSERT_NE(Module().ping, nullptr);
    // Runs of 255 that really cover n x n pixels, some 20 bytes a row: about 100 pixels a
    // byte, allowed up to 2048 x 2048 and refused above, though the stream is sound.
    auto square = [](int n) {
        std::vector<std::uint8_t> rows;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; x += 255)
                rows.insert(rows.end(), {static_cast<std::uint8_t>(std::min(255, n - x)), 0});
            rows.insert(rows.end(), {0, 0});
        }
        return BmpRle8(n, n, {Rgb{1, 2, 3}}, rows);
    };
    EXPECT_TRUE(LoadBytes("fine.rle", square(2048)));
    WriteFile(dir.file("bomb.rle"), square(2049));
    int w = 0, h = 0;
    ASSERT_EQ(Module().ping(dir.file("bomb.rle").c_str(), &w, &h), 1);
    EXPECT_EQ(w, 2049);
    EXPECT_EQ(h, 2049);
    EXPECT_FALSE(Load(dir.file("bomb.rle")));
    EXPECT_EQ(Module().ping(dir.file("absent.rle").c_str(), &w, &h), 0);
}

TEST_F(DecoderModule, SideLimitIs65535Pixels) {
    const RgbImage widest = Flat(65535, 1, Rgb{9, 8, 7});
    const Picture p = LoadBytes("widest.dib", Bmp24(widest));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->width, 65535);
    EXPECT_EQ(p->stride, 196608);
    EXPECT_TRUE(SamePicture(p.get(), widest));
    EXPECT_FALSE(LoadBytes("wider.dib", Bmp24(Flat(65536, 1, Rgb{9, 8, 7}))));
}

TEST_F(DecoderModule, TruncatedPicturesAreRefused) {
    const RgbImage image = Pattern(10, 7);
    auto cut = [](std::vector<std::uint8_t> bytes, std::size_t keep) {
        bytes.resize(keep);
        return bytes;
    };
    const auto bmp = Bmp24(image);
    EXPECT_FALSE(LoadBytes("cut.dib", cut(bmp, bmp.size() / 2)));
    EXPECT_FALSE(LoadBytes("head.dib", cut(bmp, 20)));
    const auto tga = Tga24(image, false);
    EXPECT_FALSE(LoadBytes("cut.tga", cut(tga, tga.size() / 2)));
    EXPECT_FALSE(LoadBytes("head.tga", cut(tga, 10)));
    const auto gif = ReadFile(Convert(image, "whole.gif"));
    EXPECT_FALSE(LoadBytes("cut.gif", cut(gif, gif.size() / 2)));
    // (gm's PCX ends with a colour table a true colour picture does not use: cut the rows.)
    const auto pcx = ReadFile(Convert(image, "whole.pcx"));
    EXPECT_FALSE(LoadBytes("cut.pcx", cut(pcx, 128 + 40)));
    const auto jpg = ReadFile(Convert(image, "whole.jpg"));
    EXPECT_FALSE(LoadBytes("cut.jpg", cut(jpg, 30)));  // inside its headers
}

TEST_F(DecoderModule, GarbageEmptyAndMissingFilesAreRefused) {
    EXPECT_FALSE(LoadBytes("ff.tga", std::vector<std::uint8_t>(300, 0xFF)));
    EXPECT_FALSE(LoadBytes("text.jpg", std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_FALSE(LoadBytes("empty.gif", {}));
    EXPECT_FALSE(LoadBytes("magic.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}));
    EXPECT_FALSE(Load(dir.file("missing.jpg")));
    EXPECT_FALSE(Load(dir.path().string()));  // a folder
    EXPECT_FALSE(Load(""));
    EXPECT_EQ(Module().load(nullptr, 0), nullptr);
    Module().release(nullptr);  // allowed, does nothing
}

TEST_F(DecoderModule, ConcurrentCallsAllDecode) {
    const RgbImage image = Pattern(7, 4);
    const std::string gif = Convert(image, "p.gif");
    const std::string tga = dir.file("p.tga");
    WriteFile(tga, Tga24(image, true));
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const Picture p = Load((t + i) % 2 ? gif : tga);
                if (!SamePicture(p.get(), image)) ++failures[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace pelorin::test
