// Finding and loading the decoder module, and what its decoder makes of what the module
// hands back.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "PictureFiles.h"
#include "TestUtil.h"
#include "nviewlib/DecoderLoader.h"

namespace pelorin::test {
namespace {

namespace fs = std::filesystem;

int FakeFreed() {
    void* handle = dlopen(NVIEWLIB_FAKE_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return -1;
    auto count = reinterpret_cast<int (*)()>(dlsym(handle, "FakeFreedCount"));
    dlclose(handle);  // only drops the reference RTLD_NOLOAD took
    return count ? count() : -1;
}

TEST(DecoderLoader, RealModuleDecodesIntoA24BitBitmap) {
    auto decoder = LoadPictureDecoderFrom(NVIEWLIB_MODULE_PATH);
    ASSERT_TRUE(decoder);
    TempDir dir;
    const RgbImage image = Pattern(5, 3);
    WriteFile(dir.file("p.dib"), Bmp24(image));
    Bitmap out;
    ASSERT_TRUE(decoder->decode(dir.file("p.dib"), out));
    EXPECT_EQ(out.width(), 5);
    EXPECT_EQ(out.height(), 3);
    EXPECT_EQ(out.bitsPerPixel(), 24);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const std::uint8_t* px = out.row(y) + 3 * x;
            const Rgb want = image.at(x, y);
            EXPECT_EQ(px[0], want.b) << x << "," << y;
            EXPECT_EQ(px[1], want.g) << x << "," << y;
            EXPECT_EQ(px[2], want.r) << x << "," << y;
        }
    }
}

TEST(DecoderLoader, FailedDecodeLeavesTheBitmapAlone) {
    auto decoder = LoadPictureDecoderFrom(NVIEWLIB_MODULE_PATH);
    ASSERT_TRUE(decoder);
    TempDir dir;
    WriteFile(dir.file("bad.jpg"), std::string("not a picture"));
    Bitmap out;
    out.create(3, 2, 8);
    out.row(1)[2] = 77;
    const Bitmap before = out;
    EXPECT_FALSE(decoder->decode(dir.file("bad.jpg"), out));
    EXPECT_FALSE(decoder->decode(dir.file("missing.gif"), out));
    EXPECT_TRUE(out == before);
}

TEST(DecoderLoader, RowsAreCopiedByTheModulesStrideAndEveryPictureIsGivenBack) {
    auto decoder = LoadPictureDecoderFrom(NVIEWLIB_FAKE_MODULE_PATH);
    ASSERT_TRUE(decoder);
    const int freedBefore = FakeFreed();
    ASSERT_GE(freedBefore, 0);
    Bitmap out;
    ASSERT_TRUE(decoder->decode("/any/ok", out));
    ASSERT_EQ(out.width(), 2);
    ASSERT_EQ(out.height(), 2);
    EXPECT_EQ(out.bitsPerPixel(), 24);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out.row(0)[i], 1 + i);
        EXPECT_EQ(out.row(1)[i], 11 + i);
    }
    EXPECT_EQ(FakeFreed(), freedBefore + 1);
}

TEST(DecoderLoader, ImplausiblePicturesFromTheModuleAreRefused) {
    auto decoder = LoadPictureDecoderFrom(NVIEWLIB_FAKE_MODULE_PATH);
    ASSERT_TRUE(decoder);
    const int freedBefore = FakeFreed();
    Bitmap out;
    for (const char* name : {"narrow", "empty", "nobits", "huge"}) {
        EXPECT_FALSE(decoder->decode(name, out)) << name;
    }
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(FakeFreed(), freedBefore + 4);  // refused, but still given back
    EXPECT_FALSE(decoder->decode("unknown", out));
    EXPECT_EQ(FakeFreed(), freedBefore + 4);  // nothing to give back
}

TEST(DecoderLoader, ModulesThatCannotServeAreNotLoaded) {
    TempDir dir;
    EXPECT_FALSE(LoadPictureDecoderFrom(NVIEWLIB_HALF_MODULE_PATH));  // no NViewLibFree
    EXPECT_FALSE(LoadPictureDecoderFrom(dir.file("libnviewlib.so")));
    WriteFile(dir.file("garbage.so"), std::string("ELF? no."));
    EXPECT_FALSE(LoadPictureDecoderFrom(dir.file("garbage.so")));
    EXPECT_FALSE(LoadPictureDecoderFrom(""));
}

TEST(DecoderLoader, FirstLoadableCandidateWins) {
    TempDir dir;
    const fs::path beside = dir.path() / "bin" / kDecoderModuleName;
    fs::create_directories(beside.parent_path());
    fs::create_symlink(NVIEWLIB_MODULE_PATH, beside);
    std::string where = "unchanged";
    auto decoder =
        LoadFirstPictureDecoder({dir.file("nowhere/libnviewlib.so"), NVIEWLIB_HALF_MODULE_PATH,
                                 beside.string(), NVIEWLIB_FAKE_MODULE_PATH},
                                &where);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(where, beside.string());
    // It is the real module: it decodes a real picture.
    WriteFile(dir.file("p.tga"), Tga24(Pattern(2, 2), false));
    Bitmap out;
    EXPECT_TRUE(decoder->decode(dir.file("p.tga"), out));

    where = "unchanged";
    EXPECT_FALSE(LoadFirstPictureDecoder({dir.file("a.so"), NVIEWLIB_HALF_MODULE_PATH}, &where));
    EXPECT_EQ(where, "unchanged");
    EXPECT_FALSE(LoadFirstPictureDecoder({}, &where));
}

TEST(DecoderLoader, SearchesBesideTheExecutableThenTheInstalledFolderThenTheSystem) {
    const auto candidates = DecoderModuleCandidates();
    ASSERT_EQ(candidates.size(), 4u);
    // This test program is built into the same folder as the module.
    EXPECT_TRUE(fs::equivalent(candidates[0], NVIEWLIB_MODULE_PATH)) << candidates[0];
    // The installed layout under whatever root the program sits in, for an unpacked package.
    const fs::path exeDir = fs::path(candidates[0]).parent_path();
    EXPECT_EQ(fs::path(candidates[1]),
              (exeDir / PELORIN_LIB_DIR_FROM_BIN / "libnviewlib.so").lexically_normal());
    EXPECT_EQ(fs::path(candidates[2]), fs::path(PELORIN_LIB_DIR) / "libnviewlib.so");
    EXPECT_EQ(candidates[3], "libnviewlib.so");
}

TEST(DecoderLoader, FindsTheModuleBesideTheProgram) {
    std::string where;
    auto decoder = LoadPictureDecoder(&where);
    ASSERT_TRUE(decoder);
    EXPECT_TRUE(fs::equivalent(where, NVIEWLIB_MODULE_PATH)) << where;
}

}  // namespace
}  // namespace pelorin::test
