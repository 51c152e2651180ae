// FITS files of today's kinds: image extensions, gzip and tile compression, 64-bit integers.
// Each must show exactly what a plain file with the same data and header shows; hostile
// variants must end with a message.
#include <zlib.h>

#include <chrono>
#include <cstring>

#include "TileFiles.h"
#include "ViewerFixture.h"
#include "image/FileKinds.h"
#include "image/Readers.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

const std::vector<std::string> kWcs = {Card("CTYPE1", "'RA---TAN'"), Card("CTYPE2", "'DEC--TAN'"),
                                       Card("CRVAL1", "150.0"),      Card("CRVAL2", "2.0"),
                                       Card("CRPIX1", "3"),          Card("CRPIX2", "3"),
                                       Card("CDELT1", "-0.001"),     Card("CDELT2", "0.001")};

std::vector<std::string> ImageCards(int bitpix, int cols, int rows, int planes = 1) {
    std::vector<std::string> c = {
        Card("BITPIX", std::to_string(bitpix)), Card("NAXIS", planes > 1 ? "3" : "2"),
        Card("NAXIS1", std::to_string(cols)), Card("NAXIS2", std::to_string(rows))};
    if (planes > 1) c.push_back(Card("NAXIS3", std::to_string(planes)));
    return c;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint8_t> Values16(int n, int planes = 1) {
    std::vector<std::uint8_t> d;
    for (int i = 0; i < n * planes; ++i)
        PutBE16(d, static_cast<std::int16_t>((i * 7919) % 3001 - 1000));
    return d;
}

void GzipTo(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    gzFile f = gzopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(gzwrite(f, bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    gzclose(f);
}

}  // namespace

class Formats : public ViewerTest {
  protected:
    // The BMP of a click on `name` and its caption without the file name.
    std::pair<std::vector<std::uint8_t>, std::string> Show(const std::string& name,
                                                           const std::string& plane = "0") {
        viewer->controls.planeText = plane;
        Click(name);
        std::string caption = viewer->controls.status;
        if (const auto at = caption.find(name); at != std::string::npos)
            caption.erase(at, name.size());
        return {viewer->displayBitmap.toBmpBytes(), caption};
    }
    void ExpectSame(const std::string& a, const std::string& b, const std::string& plane = "0") {
        const auto [bmpA, captionA] = Show(a, plane);
        EXPECT_TRUE(viewer->image.loaded) << captionA;
        const auto [bmpB, captionB] = Show(b, plane);
        EXPECT_EQ(captionA, captionB);
        EXPECT_TRUE(bmpA == bmpB) << a << " and " << b << " differ";
    }
    std::string Rejected(const std::string& name) {
        Click(name);
        EXPECT_FALSE(viewer->image.loaded);
        return viewer->controls.status;
    }
};

TEST_F(Formats, ImageExtensionInheritsAndSelectsPlanes) {
    const auto data = Values16(6 * 5, 2);
    const auto plain = Join(Join({Card("SIMPLE", "T")}, ImageCards(16, 6, 5, 2)),
                            Join({Card("BZERO", "100")}, kWcs));
    WriteFile(dir.file("plain.fit"), FitsFile(plain, data));

    // Primary with no data but the world coordinates; the extension inherits them.
    std::vector<std::uint8_t> file = FitsFile(
        Join({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "0"), Card("EXTEND", "T")},
             kWcs),
        {});
    // A table before the image, skipped by its size.
    const auto table = FitsFile(
        {Card("XTENSION", "'BINTABLE'"), Card("BITPIX", "8"), Card("NAXIS", "2"),
         Card("NAXIS1", "10"), Card("NAXIS2", "300"), Card("PCOUNT", "0"), Card("GCOUNT", "1")},
        std::vector<std::uint8_t>(3000, 0x55));
    file.insert(file.end(), table.begin(), table.end());
    const auto image = FitsFile(
        Join(
            Join({Card("XTENSION", "'IMAGE   '")}, ImageCards(16, 6, 5, 2)),
            {Card("PCOUNT", "0"), Card("GCOUNT", "1"), Card("INHERIT", "T"), Card("BZERO", "100")}),
        data);
    file.insert(file.end(), image.begin(), image.end());
    WriteFile(dir.file("ext.fit"), file);
    ExpectSame("plain.fit", "ext.fit");
    ExpectSame("plain.fit", "ext.fit", "2");
    EXPECT_NE(viewer->controls.status.find(" ar:"), std::string::npos) << viewer->controls.status;

    HeaderText text;
    std::string error;
    ASSERT_TRUE(ListFitsHeader(dir.file("ext.fit"), text, error, MessageWords{}));
    const auto sep = std::find_if(text.begin(), text.end(),
                                  [](const std::string& l) { return l.find("----") == 0; });
    // The image's own header first, then the primary header, each ending at its END card:
    // no blank padding between or after them.
    ASSERT_NE(sep, text.end());
    EXPECT_EQ(text.front().substr(0, 20), "XTENSION= 'IMAGE   '");
    EXPECT_EQ(sep[-1].substr(0, 3), "END");
    EXPECT_EQ(sep[1].substr(0, 30), "SIMPLE  =                    T");
    EXPECT_EQ(text.back().substr(0, 3), "END");
    EXPECT_EQ(std::count(text.begin(), text.end(), std::string(80, ' ')), 0);
}

TEST_F(Formats, HostileExtensionSizesEndWithAMessage) {
    const auto primary =
        FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "0")}, {});
    for (const char* naxis1 : {"9223372036854775807", "4611686018427387904", "-5", "100000000"}) {
        auto file = primary;
        const auto ext = FitsFile(
            {Card("XTENSION", "'BINTABLE'"), Card("BITPIX", "8"), Card("NAXIS", "2"),
             Card("NAXIS1", naxis1), Card("NAXIS2", "4"), Card("PCOUNT", "0"), Card("GCOUNT", "1")},
            {});
        file.insert(file.end(), ext.begin(), ext.end());
        const auto img =
            FitsFile(Join({Card("XTENSION", "'IMAGE'")}, ImageCards(16, 4, 4)), Values16(16));
        file.insert(file.end(), img.begin(), img.end());
        WriteFile(dir.file("bad.fit"), file);
        EXPECT_EQ(Rejected("bad.fit"), "Format non supporté.Mot clé \"NAXIS < 2\"") << naxis1;
    }
}

TEST_F(Formats, GzipLoadsAsThePlainFileAndRefusesDamage) {
    const auto plain =
        FitsFile(Join(Join({Card("SIMPLE", "T")}, ImageCards(16, 7, 4)), kWcs), Values16(28));
    WriteFile(dir.file("m51.fits"), plain);
    GzipTo(dir.file("m51.fits.gz"), plain);
    EXPECT_EQ(FileKindOf("x/M51.FITS.GZ"), FileKind::Fits);
    EXPECT_EQ(FileKindOf("x/m51.tar.gz"), FileKind::Other);
    ExpectSame("m51.fits", "m51.fits.gz");
    EXPECT_EQ(viewer->destinationPath("m51.fits.gz"), viewer->destinationPath("m51.bmp"));
    EXPECT_EQ(viewer->destinationPath("m51.fits.fz"), viewer->destinationPath("m51.bmp"));
    HeaderText a, b;
    std::string error;
    ASSERT_TRUE(ListFitsHeader(dir.file("m51.fits.gz"), a, error, MessageWords{}));
    ASSERT_TRUE(ListFitsHeader(dir.file("m51.fits"), b, error, MessageWords{}));
    EXPECT_EQ(a, b);

    auto damaged = ReadFile(dir.file("m51.fits.gz"));
    damaged[damaged.size() / 2] ^= 0xFF;
    damaged[damaged.size() / 2 + 1] ^= 0xFF;
    WriteFile(dir.file("damaged.fit.gz"), damaged);
    damaged.resize(damaged.size() / 2);
    WriteFile(dir.file("cut.fts.gz"), damaged);
    WriteFile(dir.file("plain.fit.gz"), plain);
    for (const char* name : {"damaged.fit.gz", "cut.fts.gz", "plain.fit.gz"})
        EXPECT_EQ(Rejected(name), "Format non supporté.Fichier gzip corrompu") << name;
}

TEST_F(Formats, GzipPaddingAndMembersAreReadAsGzipDoes) {
    const auto plain = FitsFile(Join({Card("SIMPLE", "T")}, ImageCards(16, 7, 4)), Values16(28));
    WriteFile(dir.file("m51.fits"), plain);
    GzipTo(dir.file("m51.fits.gz"), plain);
    const auto member = ReadFile(dir.file("m51.fits.gz"));
    // Zeros after the member, as tape blocks leave them.
    auto padded = member;
    padded.resize(member.size() + 10000, 0);
    WriteFile(dir.file("padded.fits.gz"), padded);
    // The file cut in two members, one after the other.
    const std::vector<std::uint8_t> first(plain.begin(), plain.begin() + 3000);
    const std::vector<std::uint8_t> second(plain.begin() + 3000, plain.end());
    GzipTo(dir.file("a.gz.part"), first);
    GzipTo(dir.file("b.gz.part"), second);
    auto members = ReadFile(dir.file("a.gz.part"));
    const auto tail = ReadFile(dir.file("b.gz.part"));
    members.insert(members.end(), tail.begin(), tail.end());
    WriteFile(dir.file("members.fits.gz"), members);
    ExpectSame("m51.fits", "padded.fits.gz");
    ExpectSame("m51.fits", "members.fits.gz");
    // Anything but zeros after the member is still damage.
    auto trailing = member;
    trailing.push_back(0x1F);
    trailing.push_back(0x42);
    WriteFile(dir.file("trailing.fits.gz"), trailing);
    EXPECT_EQ(Rejected("trailing.fits.gz"), "Format non supporté.Fichier gzip corrompu");
}

TEST_F(Formats, HostileHeaderRunsAndHduChainsEndQuickly) {
    // A primary of 999 blocks of cards and an image extension of as many, inheriting them
    // all: the merge used to compare every card with every other.
    std::vector<std::string> primary = {Card("SIMPLE", "T"), Card("BITPIX", "8"),
                                        Card("NAXIS", "0")};
    std::vector<std::string> own = {Card("XTENSION", "'IMAGE   '"),
                                    Card("BITPIX", "8"),
                                    Card("NAXIS", "2"),
                                    Card("NAXIS1", "2"),
                                    Card("NAXIS2", "2"),
                                    Card("PCOUNT", "0"),
                                    Card("GCOUNT", "1"),
                                    Card("INHERIT", "T")};
    for (int i = 0; primary.size() < 999 * 36 - 1; ++i) {
        primary.push_back(Card("P" + std::to_string(i), std::to_string(i)));
        own.push_back(Card("E" + std::to_string(i), std::to_string(i)));
    }
    auto runs = FitsFile(primary, {});
    const auto ext = FitsFile(own, {1, 2, 3, 4});
    runs.insert(runs.end(), ext.begin(), ext.end());
    GzipTo(dir.file("runs.fits.gz"), runs);
    const auto start = std::chrono::steady_clock::now();
    Click("runs.fits.gz");
    EXPECT_TRUE(viewer->image.loaded) << viewer->controls.status;
    // Its own cards, then those it inherits.
    EXPECT_EQ(viewer->image.cards.size(), own.size() + primary.size() - 3);
    // A header that never ends within the block limit, and a chain of more HDUs than any
    // real file holds, end with a message.
    std::vector<std::string> endless(1001 * 36, Card("HISTORY", ""));
    endless.front() = Card("SIMPLE", "T");
    endless[1] = Card("BITPIX", "8");
    WriteFile(dir.file("endless.fits"), HeaderBlocks(endless));
    EXPECT_EQ(Rejected("endless.fits"), "Format non supporté.Mot clé \"END\" manquant");
    auto chain = FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "0")}, {});
    const auto empty = FitsFile({Card("XTENSION", "'IMAGE   '"), Card("BITPIX", "8"),
                                 Card("NAXIS", "0"), Card("PCOUNT", "0"), Card("GCOUNT", "1")},
                                {});
    for (int i = 0; i < 1100; ++i)
        chain.insert(chain.end(), empty.begin(), empty.end());
    chain.insert(chain.end(), ext.begin(), ext.end());
    WriteFile(dir.file("chain.fits"), chain);
    EXPECT_FALSE(Rejected("chain.fits").empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(Formats, GzipBombIsNotInflatedBeyondWhatTheHeaderNeeds) {
    // 64 MB of blank cards after SIMPLE and BITPIX, never reaching END, in 64 kB.
    gzFile f = gzopen(dir.file("bomb.fits.gz").c_str(), "wb9");
    ASSERT_TRUE(f);
    const std::string head = HeaderBlocks({Card("SIMPLE", "T"), Card("BITPIX", "16")});
    gzwrite(f, head.data(), static_cast<unsigned>(head.size()));
    const std::string blanks(1 << 20, ' ');
    for (int i = 0; i < 64; ++i)
        gzwrite(f, blanks.data(), static_cast<unsigned>(blanks.size()));
    gzclose(f);
    EXPECT_EQ(Rejected("bomb.fits.gz"), "Format non supporté.Mot clé \"END\" manquant");

    // A whole header and 128 MB of zero values in about 130 kB: refused before inflating.
    f = gzopen(dir.file("zeros.fits.gz").c_str(), "wb9");
    ASSERT_TRUE(f);
    const std::string image = HeaderBlocks(
        Join(Join({Card("SIMPLE", "T")}, ImageCards(-64, 4096, 4096)), {Card("END", "")}));
    gzwrite(f, image.data(), static_cast<unsigned>(image.size()));
    const std::string zeros(1 << 20, '\0');
    for (int i = 0; i < 128; ++i)
        gzwrite(f, zeros.data(), static_cast<unsigned>(zeros.size()));
    gzclose(f);
    const std::string refusal = Rejected("zeros.fits.gz");
    EXPECT_EQ(refusal.rfind("Format non supporté.Image compressée illisible (taille 134217728", 0),
              0u)
        << refusal;
}

TEST_F(Formats, SixtyFourBitIntegersKeepTheirValues) {
    // Stored values near 2^62 that only the offset brings back to small physical values: a
    // double could not tell them apart. The same physical values as 32-bit integers must
    // look the same.
    const long long big = 1LL << 62;
    auto values = [&](int blankAt) {
        std::vector<std::uint8_t> d64, d32;
        for (int i = 0; i < 30; ++i) {
            const std::int32_t v = (i * 37) % 500 - 250;
            const long long stored = i == blankAt ? big + 999 : big + v;
            for (int s = 56; s >= 0; s -= 8)
                d64.push_back(
                    static_cast<std::uint8_t>(static_cast<unsigned long long>(stored) >> s));
            PutBE32(d32, v);
        }
        return std::pair{d64, d32};
    };
    const auto cards64 =
        Join(Join({Card("SIMPLE", "T")}, ImageCards(64, 6, 5)),
             {Card("BZERO", "-4611686018427387904"), Card("BLANK", "4611686018427388903")});
    WriteFile(dir.file("i64.fit"), FitsFile(cards64, values(-1).first));
    WriteFile(dir.file("i32.fit"),
              FitsFile(Join({Card("SIMPLE", "T")}, ImageCards(32, 6, 5)), values(-1).second));
    const auto [bmp64, caption64] = Show("i64.fit");
    EXPECT_EQ(viewer->image.pixels64[4][0], big - 250);
    EXPECT_EQ(PhysicalValue(viewer->image, 4, 0), -250);
    const auto [bmp32, caption32] = Show("i32.fit");
    EXPECT_TRUE(bmp64 == bmp32);
    EXPECT_EQ(caption64, "  6x5  64 bits");
    EXPECT_EQ(caption32, "  6x5  32 bits");

    // BLANK, given beyond what a double holds exactly, still names its one value.
    WriteFile(dir.file("blank.fit"), FitsFile(cards64, values(7).first));
    Show("blank.fit");
    EXPECT_EQ(viewer->image.pixels64[3][1], 0);  // file row 1, column 1
    EXPECT_EQ(viewer->image.dataMin, static_cast<double>(-big));

    // The extremes of the kind render to the ends of the scale.
    IdentityItt();
    const std::int64_t extremes[] = {INT64_MIN, -1, 0, INT64_MAX};
    viewer->image.headerLow = viewer->image.headerHigh = 0;  // thresholds from the data
    ShowImage(64, 1, 4, [&](int, int c) { return extremes[c]; });
    EXPECT_EQ(Pixel(0, 0), 0);
    EXPECT_EQ(Pixel(1, 0), 127);
    EXPECT_EQ(Pixel(3, 0), 255);
}

namespace {

std::vector<double> Ramp16(int n) {  // PLIO takes no negative values
    std::vector<double> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = (i * 131) % 4000;
    return v;
}

}  // namespace

TEST_F(Formats, TileCompressedImagesShowAsThePlainImage) {
    const int cols = 20, rows = 16;
    const auto v = Ramp16(cols * rows);
    std::vector<std::uint8_t> plain;
    for (double x : v)
        PutBE16(plain, static_cast<std::int16_t>(x));
    const std::vector<std::string> scaling = {Card("BZERO", "100")};
    WriteFile(
        dir.file("plain.fits"),
        FitsFile(Join(Join({Card("SIMPLE", "T")}, ImageCards(16, cols, rows)), scaling), plain));
    for (const char* codec : {"RICE_1", "GZIP_1", "GZIP_2", "HCOMPRESS_1", "PLIO_1"}) {
        // Tiles dividing neither side.
        WriteFile(dir.file("tiles.fz"),
                  TileCompressedFits(16, cols, rows, v, codec, 7, 6, scaling).bytes);
        ExpectSame("plain.fits", "tiles.fz");
    }
    const TileFile good = TileCompressedFits(16, cols, rows, v, "RICE_1", 7, 6, scaling);

    // Cut inside the table: refused before cfitsio sees it.
    auto cut = good.bytes;
    cut.resize(good.table + 40);
    WriteFile(dir.file("cut.fz"), cut);
    EXPECT_EQ(Rejected("cut.fz"), "Format non supporté.Image compressée tronquée");

    // A tile size that does not give the table's row count.
    TileFile lying = good;
    lying.setCard("ZTILE1", "4");
    WriteFile(dir.file("lying.fz"), lying.bytes);
    EXPECT_EQ(Rejected("lying.fz"), "Format non supporté.Mot clé \"NAXIS2\" ?");

    // Damaged compressed bytes: cfitsio's message, or some image, never a crash.
    auto damaged = good.bytes;
    for (auto i = good.heap; i < good.heap + 300; i += 3)
        damaged[i] ^= 0xA5;
    WriteFile(dir.file("damaged.fz"), damaged);
    Click("damaged.fz");
    if (!viewer->image.loaded) {
        EXPECT_EQ(viewer->controls.status.rfind("Format non supporté.", 0), 0u);
    }
}

// Tiles that once made cfitsio loop, grow or write past its buffers: each file ends within
// seconds with a message or an image, and the next file is read as if alone.
// A sanitized helper has no address-space limit (the sanitizers reserve terabytes): there,
// cfitsio's growth on a cut gzip tile is ended by the processor-time limit instead.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELORIN_SANITIZED_HELPER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PELORIN_SANITIZED_HELPER 1
#endif
#ifdef PELORIN_SANITIZED_HELPER
constexpr auto kHostileTime = std::chrono::seconds(20);
#else
constexpr auto kHostileTime = std::chrono::seconds(5);
#endif

TEST_F(Formats, HostileTilesEndInSecondsAndLeaveNothingBehind) {
    const int cols = 64, rows = 64;
    const auto v = Ramp16(cols * rows);
    const TileFile gzip = TileCompressedFits(16, cols, rows, v, "GZIP_1", 64, 8);
    WriteFile(dir.file("small.fz"),
              TileCompressedFits(16, 10, 10, Ramp16(100), "RICE_1", 10, 1).bytes);
    const auto [alone, aloneCaption] = Show("small.fz");

    std::vector<std::pair<std::string, TileFile>> hostile;
    TileFile headerOnly = gzip, halves = gzip, shared = gzip, huge = gzip;
    for (std::size_t r = 0; r < gzip.rows; ++r) {
        const auto [count, offset] = gzip.descriptor(r);
        headerOnly.setDescriptor(r, 0, 10, offset);  // the gzip header alone
        halves.setDescriptor(r, 0, count / 2, offset);
        // Every tile on the whole heap: together far more than the heap holds.
        shared.setDescriptor(r, 0, static_cast<std::uint32_t>(gzip.heapBytes), 0);
    }
    // A few kilobytes claiming a 128 MB image, and one of 4 GB.
    huge.setCard("ZNAXIS1", "1048576");
    huge.setCard("ZTILE1", "1048576");
    TileFile huger = huge;
    huger.setCard("ZNAXIS1", "33554432");
    huger.setCard("ZTILE1", "33554432");
    // A flat mask packs tighter than any sky; past the bound it is refused for every codec.
    TileFile hugeMask = TileCompressedFits(16, cols, rows, v, "PLIO_1", 64, 1);
    hugeMask.setCard("ZNAXIS1", "1048576");
    hugeMask.setCard("ZTILE1", "1048576");
    // A damaged tile far down a large image: cfitsio fails after the first bands were sent.
    const int bigSide = 2048;
    TileFile late =
        TileCompressedFits(16, bigSide, bigSide, Ramp16(bigSide * bigSide), "GZIP_1", bigSide, 16);
    for (std::size_t i = late.heapBytes - 200; i < late.heapBytes - 20; ++i)
        late.bytes[late.heap + i] ^= 0x5A;
    hostile = {{"header_only.fz", headerOnly}, {"halves.fz", halves},
               {"shared.fz", shared},          {"huge.fz", huge},
               {"huge_mask.fz", hugeMask},     {"late.fz", late}};
    // HCOMPRESS tiles with one byte changed: in the stream's own header (its sizes, which
    // cfitsio trusts and writes past its buffer by) and here and there in the data.
    const TileFile h = TileCompressedFits(16, cols, rows, v, "HCOMPRESS_1", 64, 64);
    for (std::size_t i : {std::size_t{3}, std::size_t{5}, std::size_t{8}, h.heapBytes / 3,
                          h.heapBytes / 2, h.heapBytes - 5}) {
        TileFile flipped = h;
        flipped.bytes[h.heap + i] ^= 0x80;
        hostile.emplace_back("flip" + std::to_string(i) + ".fz", flipped);
    }
    for (const auto& [name, file] : hostile) {
        WriteFile(dir.file(name), file.bytes);
        const auto begin = std::chrono::steady_clock::now();
        Click(name);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, kHostileTime) << name;
        if (!viewer->image.loaded) {
            EXPECT_EQ(viewer->controls.status.rfind("Format non supporté.Image compressée", 0), 0u)
                << name << ": " << viewer->controls.status;
        }
        const auto [after, afterCaption] = Show("small.fz");
        EXPECT_EQ(afterCaption, aloneCaption) << "after " << name;
        EXPECT_TRUE(after == alone) << "after " << name;
    }
    EXPECT_EQ(Rejected("shared.fz"),
              "Format non supporté.Image compressée illisible (table des tuiles)");
    for (const char* name : {"huge.fz", "huge_mask.fz"})
        EXPECT_EQ(
            Rejected(name).rfind("Format non supporté.Image compressée illisible (taille ", 0), 0u)
            << name;
    EXPECT_EQ(Rejected("late.fz").rfind("Format non supporté.Image compressée illisible", 0), 0u);
    WriteFile(dir.file("huger.fz"), huger.bytes);
    EXPECT_EQ(Rejected("huger.fz"),
              "Format non supporté.Image trop grande : 33554432 x 64 pixels "
              "(4294967296 octets, au plus 2147483648)");
}
