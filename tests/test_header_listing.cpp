// Header listings: FITS cards block by block up to the block holding END, PIC fields with
// their labels.
#include <gtest/gtest.h>

#include <sstream>

#include "TestUtil.h"
#include "base/Errors.h"
#include "image/Readers.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

struct Listing {
    bool ok = false;
    HeaderText text;
    std::string error;
};

Listing ListFits(const std::string& bytes) {
    Listing l;
    std::istringstream in(bytes);
    l.ok = ListFitsHeader(in, l.text, l.error, MessageWords{});
    return l;
}

std::string Raw(std::string s) {
    s.resize(80, ' ');
    return s;
}

const std::string kSimpleMissing = "Mot clé \"SIMPLE = T\" manquant";

}  // namespace

TEST(FitsListing, EveryCardUpToTheEndBlockWithTrailingBlanks) {
    std::vector<std::string> cards = {Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "2")};
    while (cards.size() < 50)
        cards.push_back(Raw("COMMENT card " + std::to_string(cards.size())));
    cards.push_back(Card("END", ""));
    std::string file = HeaderBlocks(cards);
    // Data after the header: never listed.
    file += std::string(2880, 'X');
    const Listing l = ListFits(file);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.text.size(), 72u);
    for (const std::string& line : l.text)
        EXPECT_EQ(line.size(), 80u);
    EXPECT_EQ(l.text[0], Card("SIMPLE", "T"));
    EXPECT_EQ(l.text[49], Raw("COMMENT card 49"));
    EXPECT_EQ(l.text[50], Raw("END"));
    EXPECT_EQ(l.text[71], std::string(80, ' '));
    EXPECT_TRUE(l.error.empty());
}

TEST(FitsListing, SimpleMayBeAnywhereInTheFirstBlockWhateverItsValue) {
    const Listing l =
        ListFits(HeaderBlocks({Card("BITPIX", "8"), Card("SIMPLE", "F"), Raw("END")}));
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(l.text.size(), 36u);
}

TEST(FitsListing, NoSimpleInTheFirstBlockFails) {
    Listing l = ListFits(HeaderBlocks({Card("BITPIX", "8"), Raw("END")}));
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, kSimpleMissing);

    // SIMPLE only in the second block is too late.
    std::vector<std::string> cards(36, Raw("COMMENT"));
    cards.push_back(Card("SIMPLE", "T"));
    cards.push_back(Raw("END"));
    l = ListFits(HeaderBlocks(cards));
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, kSimpleMissing);

    // A keyword that only starts with SIMPLE, or SIMPLE inside a comment, is not SIMPLE.
    l = ListFits(HeaderBlocks({Raw("SIMPLEX = T"), Raw("COMMENT SIMPLE = T"), Raw("END")}));
    EXPECT_FALSE(l.ok);

    l = ListFits("");
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, kSimpleMissing);
}

TEST(FitsListing, EndIsFoundByTheKeywordRule) {
    // "COMMENT END" and "ENDX" are not END; a blank-padded "  END" with control characters is.
    std::vector<std::string> cards = {Card("SIMPLE", "T"), Raw("COMMENT END"), Raw("ENDX"),
                                      Raw("\t END\x01")};
    std::string file = HeaderBlocks(cards) + HeaderBlocks({Raw("COMMENT next")});
    Listing l = ListFits(file);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.text.size(), 36u);

    cards.pop_back();
    l = ListFits(HeaderBlocks(cards) + HeaderBlocks({Raw("COMMENT next"), Raw("END")}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.text.size(), 72u);
    EXPECT_EQ(l.text[36], Raw("COMMENT next"));
}

TEST(FitsListing, FileEndingBeforeEndListsWhatItHolds) {
    const std::string block = HeaderBlocks({Card("SIMPLE", "T"), Card("BITPIX", "8")});
    Listing l = ListFits(block);
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(l.text.size(), 36u);

    // A cut block: its whole cards, then what is left of the last one.
    l = ListFits(block + block.substr(0, 170));
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.text.size(), 39u);
    EXPECT_EQ(l.text[36], Card("SIMPLE", "T"));
    EXPECT_EQ(l.text[38], std::string(10, ' '));

    l = ListFits(Card("SIMPLE", "T").substr(0, 30));
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.text.size(), 1u);
}

TEST(FitsListing, LinesKeepTheFileBytes) {
    const std::string card = Raw("SIMPLE  = T / caf\xE9\x01");
    const Listing l = ListFits(HeaderBlocks({card, Raw("END")}));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.text[0], card);
}

TEST(FitsListing, ListingByPathAndMissingFile) {
    TempDir dir;
    WriteFile(dir.file("h.fits"), FitsFile({Card("SIMPLE", "T")}, {1, 2, 3}));
    HeaderText text = {"old line"};
    std::string error;
    EXPECT_TRUE(ListFitsHeader(dir.file("h.fits"), text, error, MessageWords{}));
    EXPECT_EQ(text.size(), 36u);
    EXPECT_THROW(ListFitsHeader(dir.file("none.fits"), text, error, MessageWords{}),
                 OperationError);
}

// --- PIC ---------------------------------------------------------------------------------

namespace {

void PutText(std::vector<std::uint8_t>& b, std::size_t at, const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i)
        b[at + i] = static_cast<std::uint8_t>(s[i]);
}

HeaderText ListPic(const std::vector<std::uint8_t>& bytes) {
    HeaderText text;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(ListPicHeader(in, text));
    return text;
}

}  // namespace

TEST(PicListing, AllTwentyFourLinesWithLabelsAndValues) {
    std::vector<std::uint8_t> h(290 + 100, 0xEE);  // data after the header is not listed
    std::fill(h.begin(), h.begin() + 290, 0);
    h[0] = 0x3C;
    h[1] = 0xAB;
    PutLE16At(h, 2, 290);
    PutText(h, 4, "M31 \xE9toile  ");      // trailing blanks kept
    PutText(h, 36, std::string(32, 'L'));  // full field, no NUL
    PutLE16At(h, 68, 768);
    PutLE16At(h, 70, 512);
    PutLE16At(h, 72, 2);
    PutLE16At(h, 74, 3);
    PutLE32At(h, 76, -1);
    PutLE32At(h, 80, 2147483647);
    PutLE32At(h, 84, -2147483647 - 1);
    PutLE16At(h, 88, 2);
    PutLE16At(h, 90, 3);
    PutLE16At(h, 92, 1);
    PutText(h, 94, "12/03/1999");
    PutText(h, 104, "21:04:05.25");
    PutLE16At(h, 118, 1000);
    PutLE16At(h, 120, -100);
    PutLE16At(h, 122, 7);
    PutLE16At(h, 124, -32768);
    PutLE32At(h, 126, 123456);
    PutText(h, 130, "first comment");
    PutText(h, 210, "second");
    PutText(h, 217, "hidden");  // after the NUL: not shown
    const HeaderText t = ListPic(h);
    const HeaderText expected = {
        "Signature           003C",
        "Version             00AB",
        "Dimension du header 290",
        "Nom de l'image      M31 \xE9toile  ",
        "Nom de l'image li\xE9"
        "e " +
            std::string(32, 'L'),
        "Nombre de colonnes  768",
        "Nombre de lignes    512",
        "Dimension donn\xE9"
        "es   2",
        "Type de donn\xE9"
        "es     3",
        "Orientation         -1",
        "Echelle en X        2147483647",
        "Echelle en Y        -2147483648",
        "Binning en X        2",
        "Binning en Y        3",
        "Plans couleurs      1",
        "Date                12/03/1999",
        "Heure               21:04:05.25",
        "Seuil haut          1000",
        "Seuil bas           -100",
        "Fract. seuil haut   7",
        "Fract. seuil bas    -32768",
        "Temps d'int\xE9gration 123456",
        "Commentaire 1       first comment",
        "Commentaire 2       second",
    };
    ASSERT_EQ(t.size(), expected.size());
    for (std::size_t i = 0; i < t.size(); ++i)
        EXPECT_EQ(t[i], expected[i]) << i;
}

TEST(PicListing, ShortFileListsZerosAndEmptyTexts) {
    std::vector<std::uint8_t> h = {0x3C, 0x01, 0x22};
    const HeaderText t = ListPic(h);
    ASSERT_EQ(t.size(), 24u);
    EXPECT_EQ(t[0], "Signature           003C");
    EXPECT_EQ(t[1], "Version             0001");
    EXPECT_EQ(t[2], "Dimension du header 34");
    EXPECT_EQ(t[3], "Nom de l'image      ");
    EXPECT_EQ(t[23], "Commentaire 2       ");
}

TEST(PicListing, ByPathReplacesOldLinesAndMissingFileRaises) {
    TempDir dir;
    WriteFile(dir.file("a.pic"), std::vector<std::uint8_t>(290, 0));
    HeaderText text = {"old"};
    EXPECT_TRUE(ListPicHeader(dir.file("a.pic"), text));
    EXPECT_EQ(text.size(), 24u);
    EXPECT_EQ(text[0], "Signature           0000");
    EXPECT_THROW(ListPicHeader(dir.file("b.pic"), text), OperationError);
}
