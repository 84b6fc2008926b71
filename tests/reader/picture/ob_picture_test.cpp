#include "reader/picture/ob_picture.h"

#include <gtest/gtest.h>

#include "picture_test_util.h"

#include <cstring>
#include <vector>

namespace kestrel {
namespace {

using picture_test::at;
using picture_test::filled;

std::unique_ptr<OBPicture> indexed(int w, int h, int count, const std::vector<std::uint8_t>& pixels) {
    auto p = OBPicture::create(kFormatIndexed, w, h);
    p->setColourCount(count);
    for (int i = 0; i < w * h; ++i) at(*p, i % w, i / w)[0] = pixels[std::size_t(i)];
    return p;
}

void setEntry(OBPicture& p, int i, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    std::uint8_t* e = p.paletteEntry(i);
    e[0] = r, e[1] = g, e[2] = b, e[3] = a;
}

TEST(OBPictureLayout, StrideIsPaddedToFourBytes) {
    EXPECT_EQ(OBPicture::create(kFormatRGB, 1, 2)->stride(), 4);
    EXPECT_EQ(OBPicture::create(kFormatGrayscale, 3, 2)->stride(), 4);
    EXPECT_EQ(OBPicture::create(kFormatRGB, 5, 2)->stride(), 16);
    EXPECT_EQ(OBPicture::create(kFormatGrayAlpha, 3, 1)->stride(), 8);
}

TEST(OBPictureLayout, RefusesHugeOrNegativeSizes) {
    EXPECT_EQ(OBPicture::create(kFormatRGBA, 65535, 65535), nullptr);
    EXPECT_EQ(OBPicture::create(kFormatRGB, -1, 5), nullptr);
    EXPECT_EQ(OBPicture::create(8, 5, 5), nullptr);
    auto p = OBPicture::create(kFormatRGBA, 4, 4);
    EXPECT_FALSE(p->allocate(65535, 65535));
    EXPECT_FALSE(p->allocate(-3, 4));
    EXPECT_EQ(p->width(), 4);
    EXPECT_TRUE(p->isValid());
}

TEST(OBPictureLayout, FlipRowsAndSwapRedBlue) {
    auto p = filled(kFormatRGB, 3, 3, [](int x, int y, int c) { return y * 100 + x * 10 + c; });
    p->flipRows();
    EXPECT_EQ(at(*p, 1, 0)[0], 210);
    EXPECT_EQ(at(*p, 1, 2)[0], 10);
    p->swapRedBlue();
    EXPECT_EQ(at(*p, 2, 0)[0], 222);
    EXPECT_EQ(at(*p, 2, 0)[2], 220);
}

TEST(OBPicturePalette, ClampingAndDescriptions) {
    auto p = OBPicture::create(kFormatIndexed, 2, 2);
    EXPECT_EQ(std::memcmp(p->paletteEntry(200), "\0\0\0\xff", 4), 0);
    EXPECT_EQ(p->paletteEntry(-4), p->paletteEntry(0));
    EXPECT_EQ(p->paletteEntry(999), p->paletteEntry(255));
    p->setColourCount(300);
    EXPECT_EQ(p->sizeFormatText(), "2x2 256 colors");
    EXPECT_FALSE(p->hasAlpha());
    p->setPaletteKind(kFormatAlpha);
    EXPECT_TRUE(p->hasAlpha());
    p->setPaletteKind(kFormatIndexed);
    EXPECT_FALSE(p->isValid());
    EXPECT_EQ(p->sizeFormatText(), "");
}

TEST(OBPictureClone, CopiesPixelsPaletteAndFirstCarriedValue) {
    auto p = indexed(3, 2, 4, {0, 1, 2, 3, 2, 1});
    setEntry(*p, 3, 9, 8, 7, 6);
    p->carried = {11, 22, 33};
    auto c = p->clone();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->colourCount(), 4);
    EXPECT_EQ(c->paletteEntry(3)[3], 6);
    EXPECT_EQ(c->carried[0], 11);
    EXPECT_EQ(c->carried[1], 0);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(std::memcmp(c->row(y), p->row(y), 3), 0);
    at(*c, 0, 0)[0] = 3;
    EXPECT_EQ(at(*p, 0, 0)[0], 0);
}

TEST(OBPictureReduction, RgbToGrayscale) {
    auto grey = filled(kFormatRGB, 5, 3, [](int x, int y, int) { return x * 40 + y; });
    grey->carried = {1, 2, 3};
    auto g = grey->rgbToGrayscale();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->format(), kFormatGrayscale);
    EXPECT_EQ(at(*g, 4, 2)[0], 162);
    EXPECT_EQ(g->carried[2], 3);

    at(*grey, 4, 2)[1] = 0;  // the very last pixel scanned in one of the orders
    EXPECT_EQ(grey->rgbToGrayscale(), nullptr);
    EXPECT_EQ(OBPicture::create(kFormatRGBA, 1, 1)->rgbToGrayscale(), nullptr);
}

TEST(OBPictureReduction, AlphaReductions) {
    auto opaque = filled(kFormatRGBA, 3, 2, [](int x, int, int c) { return c == 3 ? 255 : x * 10 + c; });
    auto rgb = opaque->rgbaToRgb();
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(at(*rgb, 2, 1)[2], 22);
    EXPECT_EQ(opaque->rgbaToGrayAlpha(), nullptr);  // not grey

    at(*opaque, 1, 0)[3] = 254;
    EXPECT_EQ(opaque->rgbaToRgb(), nullptr);

    auto greyA = filled(kFormatRGBA, 3, 2, [](int x, int y, int c) { return c == 3 ? 100 + y : x * 7; });
    auto ga = greyA->rgbaToGrayAlpha();
    ASSERT_NE(ga, nullptr);
    EXPECT_EQ(at(*ga, 2, 1)[0], 14);
    EXPECT_EQ(at(*ga, 2, 1)[1], 101);
    EXPECT_EQ(ga->grayAlphaToGrayscale(), nullptr);

    auto gaOpaque = filled(kFormatGrayAlpha, 3, 1, [](int x, int, int c) { return c ? 255 : x; });
    auto g = gaOpaque->grayAlphaToGrayscale();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(at(*g, 2, 0)[0], 2);
}

TEST(OBPictureCompaction, EqualEntriesFoldIntoOne) {
    auto p = indexed(2, 2, 10, {3, 7, 7, 3});
    for (int i = 0; i < 10; ++i) setEntry(*p, i, std::uint8_t(i * 20), 0, 0);
    setEntry(*p, 7, 60, 0, 0);  // equal to entry 3
    p->compactPalette();
    EXPECT_EQ(p->colourCount(), 1);
    EXPECT_EQ(p->paletteEntry(0)[0], 60);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(at(*p, i % 2, i / 2)[0], 0);
}

TEST(OBPictureCompaction, FullDistinctPaletteIsKept) {
    auto p = indexed(3, 1, 3, {2, 0, 1});
    setEntry(*p, 0, 5, 5, 5);
    setEntry(*p, 1, 9, 9, 9);
    setEntry(*p, 2, 1, 1, 1);
    p->compactPalette();
    EXPECT_EQ(p->colourCount(), 3);
    EXPECT_EQ(at(*p, 0, 0)[0], 2);
    EXPECT_EQ(p->paletteEntry(1)[0], 9);
    EXPECT_EQ(p->paletteKind(), kFormatGrayscale);  // all grey
}

// Colours of every pixel, through the palette.
std::vector<std::uint32_t> colours(const OBPicture& p) {
    std::vector<std::uint32_t> out;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            std::uint32_t c;
            std::memcpy(&c, p.paletteEntry(at(p, x, y)[0]), 4);
            out.push_back(c);
        }
    return out;
}

TEST(OBPictureCompaction, DuplicatesAndGapsKeepEveryPixelsColour) {
    auto p = indexed(5, 2, 8, {1, 3, 5, 6, 1, 6, 6, 3, 5, 1});
    for (int i = 0; i < 8; ++i) setEntry(*p, i, std::uint8_t(i * 30), std::uint8_t(i), 200);
    setEntry(*p, 5, 30, 1, 200);  // same as entry 1
    const auto before = colours(*p);
    p->compactPalette();
    EXPECT_EQ(p->colourCount(), 3);
    EXPECT_EQ(colours(*p), before);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_LT(at(*p, x, y)[0], 3);
    EXPECT_EQ(std::memcmp(p->paletteEntry(3), "\0\0\0\xff", 4), 0);
}

TEST(OBPictureCompaction, DuplicateOfALeadingEntryIsRemapped) {
    // Entries 0..2 are used and 2 repeats 0: the two left are already first,
    // but pixels of entry 2 must still move to 0.
    auto p = indexed(3, 1, 3, {0, 1, 2});
    setEntry(*p, 0, 10, 20, 30);
    setEntry(*p, 1, 40, 50, 60);
    setEntry(*p, 2, 10, 20, 30);
    const auto before = colours(*p);
    p->compactPalette();
    EXPECT_EQ(p->colourCount(), 2);
    EXPECT_EQ(at(*p, 2, 0)[0], 0);
    EXPECT_EQ(colours(*p), before);
}

TEST(OBPictureCompaction, IndexesPastTheCountBecomeZero) {
    auto p = indexed(3, 1, 2, {1, 9, 1});
    setEntry(*p, 1, 70, 80, 90);
    p->compactPalette();
    EXPECT_EQ(p->colourCount(), 1);
    EXPECT_EQ(at(*p, 1, 0)[0], 0);
    EXPECT_EQ(p->paletteEntry(0)[2], 90);
}

TEST(OBPictureCompaction, KindClassification) {
    auto p = indexed(2, 1, 2, {0, 1});
    setEntry(*p, 0, 1, 2, 3, 0);
    setEntry(*p, 1, 4, 5, 6);
    p->compactPalette();
    EXPECT_EQ(p->paletteKind(), kFormatRGBA);

    setEntry(*p, 0, 7, 7, 7, 0);
    setEntry(*p, 1, 9, 9, 9);
    p->compactPalette();
    EXPECT_EQ(p->paletteKind(), kFormatGrayAlpha);

    setEntry(*p, 0, 7, 7, 7);
    p->compactPalette();
    EXPECT_EQ(p->paletteKind(), kFormatGrayscale);

    setEntry(*p, 0, 7, 7, 7, 3);
    p->setPaletteKind(kFormatAlpha);
    p->compactPalette();
    EXPECT_EQ(p->paletteKind(), kFormatAlpha);
}

TEST(OBPictureExpansion, IndexedFollowsThePaletteKind) {
    auto p = indexed(3, 2, 2, {0, 1, 0, 1, 1, 0});
    setEntry(*p, 0, 10, 20, 30, 40);
    setEntry(*p, 1, 50, 60, 70, 80);
    for (int kind = 1; kind <= 5; ++kind) {
        p->setPaletteKind(kind);
        auto e = p->expandIndexed();
        ASSERT_NE(e, nullptr) << kind;
        EXPECT_EQ(e->format(), kind);
        const std::uint8_t* px = at(*e, 1, 0);  // entry 1
        const std::vector<std::uint8_t> want[] = {{}, {50, 60, 70}, {50, 60, 70, 80}, {80}, {50}, {50, 80}};
        EXPECT_EQ(std::vector<std::uint8_t>(px, px + OBPicture::bytesPerPixel(kind)), want[kind]) << kind;
    }
    EXPECT_EQ(OBPicture::create(kFormatRGB, 1, 1)->expandIndexed(), nullptr);
}

TEST(OBPictureExpansion, ToDisplayAndToRGB) {
    auto alpha = filled(kFormatAlpha, 3, 1, [](int x, int, int) { return x * 50; });
    auto d = alpha->toDisplay();
    EXPECT_EQ(d->format(), kFormatRGBA);
    EXPECT_EQ(std::memcmp(at(*d, 2, 0), "\xff\xff\xff\x64", 4), 0);

    auto ga = filled(kFormatGrayAlpha, 3, 1, [](int x, int, int c) { return c ? 9 : x + 1; });
    EXPECT_EQ(std::memcmp(at(*ga->toDisplay(), 2, 0), "\x03\x03\x03\x09", 4), 0);
    auto rgb = ga->toRGB();
    EXPECT_EQ(rgb->format(), kFormatRGB);
    EXPECT_EQ(std::memcmp(at(*rgb, 1, 0), "\x02\x02\x02", 3), 0);

    auto ix = indexed(1, 1, 1, {0});
    setEntry(*ix, 0, 1, 2, 3, 44);
    ix->setPaletteKind(kFormatAlpha);
    EXPECT_EQ(std::memcmp(at(*ix->toDisplay(), 0, 0), "\xff\xff\xff\x2c", 4), 0);
}

TEST(OBPictureExpansion, Rgba5551) {
    auto p = OBPicture::create(kFormatRGBA5551, 2, 1);
    const std::uint16_t red = (31u << 11) | 1u;  // full red, opaque
    const std::uint16_t blue = (16u << 1);       // half blue, clear
    at(*p, 0, 0)[0] = red & 0xff, at(*p, 0, 0)[1] = red >> 8;
    at(*p, 1, 0)[0] = blue & 0xff, at(*p, 1, 0)[1] = blue >> 8;
    auto d = p->toDisplay();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::memcmp(at(*d, 0, 0), "\xff\x00\x00\xff", 4), 0);
    EXPECT_EQ(std::memcmp(at(*d, 1, 0), "\x00\x00\x84\x00", 4), 0);
}

TEST(OBPictureScale, AveragesCoveredArea) {
    auto p =
        filled(kFormatGrayscale, 4, 4, [](int x, int y, int) { return (x / 2) * 100 + (y / 2) * 20 + (x % 2) * 2; });
    auto s = p->scaledCopy(2, 2);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->width(), 2);
    EXPECT_EQ(s->format(), kFormatGrayscale);
    EXPECT_EQ(at(*s, 0, 0)[0], 1);
    EXPECT_EQ(at(*s, 1, 1)[0], 121);

    // Target pixel 0 covers source pixels 0 and half of 1.
    auto row = filled(kFormatRGB, 3, 1, [](int x, int, int) { return x * 90; });
    s = row->scaledCopy(2, 1);
    EXPECT_EQ(at(*s, 0, 0)[0], 30);
    EXPECT_EQ(at(*s, 1, 0)[2], 150);
}

TEST(OBPictureScale, LargeShrinkEnlargeAndSameSize) {
    auto wide =
        filled(kFormatRGBA, 100, 40, [](int x, int y, int c) { return c == 3 ? 255 : (y < 20 ? 200 : 10) + x % 2; });
    auto s = wide->scaledCopy(3, 2);
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(at(*s, 1, 0)[0], 200, 1);
    EXPECT_NEAR(at(*s, 1, 1)[1], 10, 1);
    EXPECT_EQ(at(*s, 2, 1)[3], 255);

    auto dot = filled(kFormatGrayAlpha, 1, 1, [](int, int, int c) { return c ? 9 : 123; });
    auto big = dot->scaledCopy(5, 3);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(at(*big, 4, 2)[0], 123);

    auto same = wide->scaledCopy(100, 40);
    EXPECT_EQ(std::memcmp(same->row(39), wide->row(39), 400), 0);

    EXPECT_EQ(OBPicture::create(kFormatIndexed, 4, 4)->scaledCopy(2, 2), nullptr);
    EXPECT_EQ(wide->scaledCopy(0, 2), nullptr);
}

TEST(OBPictureScale, CancelAbandonsTheCopy) {
    int calls = 0;
    auto stop = [](void* ctx) { return ++*static_cast<int*>(ctx) >= 3; };
    // Rows wider than 64 KiB: the callback is still asked every row.
    auto wide = filled(kFormatRGBA, 20000, 6, [](int, int, int) { return 1; });
    EXPECT_EQ(wide->scaledCopy(20000, 5, stop, &calls), nullptr);
    EXPECT_EQ(calls, 3);
    calls = -100;
    EXPECT_NE(wide->scaledCopy(19999, 5, stop, &calls), nullptr);
}

}  // namespace
}  // namespace kestrel
