#include "reader/picture/jpeg_codec.h"
#include "reader/picture/png_codec.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "picture_test_util.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

using picture_test::at;
using picture_test::filled;

// Distinct per position and channel, so swapped rows or channels show.
int pattern(int x, int y, int c) { return (x * 37 + y * 71 + c * 13) & 0xff; }

Bytes contents(std::FILE* f) {
    std::fflush(f);
    const long size = std::ftell(f);
    Bytes out(std::size_t(std::max(size, 0L)));
    std::rewind(f);
    if (!out.empty()) {
        EXPECT_EQ(std::fread(out.data(), 1, out.size(), f), out.size());
    }
    return out;
}

Bytes pngOf(const OBPicture& p, int level = 9) {
    std::FILE* f = std::tmpfile();
    EXPECT_TRUE(writePng(p, f, level));
    Bytes out = contents(f);
    std::fclose(f);
    return out;
}

// The visible bytes of every row (padding left out).
std::vector<Bytes> rowsOf(const OBPicture& p) {
    std::vector<Bytes> rows;
    const std::size_t n = std::size_t(p.width()) * OBPicture::bytesPerPixel(p.format());
    for (int y = 0; y < p.height(); ++y) rows.emplace_back(p.row(y), p.row(y) + n);
    return rows;
}

int pngColourTypeByte(const Bytes& png) { return png.size() > 25 ? png[25] : -1; }

// Decodes with libpng's simplified reader: top-down rows in the file's
// own channel layout, independent of readPng.
Bytes firstPngRow(const Bytes& png, int& channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    channels = int(PNG_IMAGE_PIXEL_CHANNELS(image.format));
    Bytes all(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, all.data(), 0, nullptr));
    return Bytes(all.begin(), all.begin() + std::ptrdiff_t(image.width) * channels);
}

TEST(WritePng, RoundTripsEveryDirectFormat) {
    const struct {
        int format, width, colourType;
    } cases[] = {
        {kFormatRGB, 5, PNG_COLOR_TYPE_RGB},
        {kFormatRGBA, 3, PNG_COLOR_TYPE_RGB_ALPHA},
        {kFormatGrayscale, 7, PNG_COLOR_TYPE_GRAY},
        {kFormatGrayAlpha, 3, PNG_COLOR_TYPE_GRAY_ALPHA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        auto p = filled(c.format, c.width, 4, pattern);
        const Bytes png = pngOf(*p);
        EXPECT_EQ(pngColourTypeByte(png), c.colourType);

        auto back = readPng(png.data(), png.size(), nullptr, nullptr);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->format(), c.format);
        EXPECT_EQ(back->width(), c.width);
        EXPECT_EQ(rowsOf(*back), rowsOf(*p));

        // The file's first row is the top of the picture.
        int channels = 0;
        const Bytes top = firstPngRow(png, channels);
        EXPECT_EQ(channels, OBPicture::bytesPerPixel(c.format));
        EXPECT_EQ(top, Bytes(at(*p, 0, 0), at(*p, 0, 0) + top.size()));
    }
}

TEST(WritePng, IndexedAndAlphaPicturesAreExpanded) {
    auto ix = filled(kFormatIndexed, 5, 3, [](int x, int y, int) { return (x + y) % 3; });
    const std::uint8_t entries[12] = {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255};
    ix->setPalette(3, entries);
    Bytes png = pngOf(*ix);
    EXPECT_EQ(pngColourTypeByte(png), PNG_COLOR_TYPE_RGB_ALPHA);
    auto back = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(rowsOf(*back), rowsOf(*ix->expandIndexed()));

    ix->setPaletteKind(kFormatGrayscale);
    EXPECT_EQ(pngColourTypeByte(pngOf(*ix)), PNG_COLOR_TYPE_GRAY);

    auto alpha = filled(kFormatAlpha, 3, 2, pattern);
    png = pngOf(*alpha);
    EXPECT_EQ(pngColourTypeByte(png), PNG_COLOR_TYPE_GRAY);
    back = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->format(), kFormatGrayscale);
    EXPECT_EQ(rowsOf(*back), rowsOf(*alpha));

    auto rgba5551 = filled(kFormatRGBA5551, 3, 2, pattern);
    png = pngOf(*rgba5551);
    back = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(rowsOf(*back), rowsOf(*rgba5551->toDisplay()));
}

TEST(WritePng, LevelIsClamped) {
    auto p = filled(kFormatRGB, 64, 64, [](int x, int, int) { return x / 8; });
    const Bytes level9 = pngOf(*p, 9);
    const Bytes level0 = pngOf(*p, 0);
    EXPECT_LT(level9.size(), level0.size());
    EXPECT_EQ(pngOf(*p, 12), level9);
    EXPECT_EQ(pngOf(*p, -1), level0);
}

TEST(Writers, FailingStreamIsReported) {
    if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "/dev/full not available";
    std::FILE* f = std::fopen("/dev/full", "wb");
    if (!f) GTEST_SKIP() << "/dev/full not available";
    auto small = filled(kFormatRGB, 2, 2, pattern);
    auto large = filled(kFormatRGB, 300, 300, pattern);
    EXPECT_FALSE(writePng(*small, f, 9));
    EXPECT_FALSE(writePng(*large, f, 9));
    EXPECT_FALSE(writeJpeg(*small, f, 100));
    EXPECT_FALSE(writeJpeg(*large, f, 100));
    std::fclose(f);
}

struct DecodedJpeg {
    int width = 0, height = 0, components = 0;
    bool progressive = false;
    int densityUnit = -1;
    Bytes pixels;  // top-down, packed
};

DecodedJpeg decodeJpeg(const Bytes& data) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    DecodedJpeg out;
    out.progressive = cinfo.progressive_mode;
    out.densityUnit = cinfo.density_unit;
    jpeg_start_decompress(&cinfo);
    out.width = int(cinfo.output_width);
    out.height = int(cinfo.output_height);
    out.components = cinfo.output_components;
    const std::size_t rowBytes = std::size_t(out.width) * out.components;
    out.pixels.resize(rowBytes * out.height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.pixels.data() + rowBytes * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

TEST(WriteJpeg, ColourAndGreyReadBackAtTheSameSize) {
    const struct { int format, components; } cases[] = {{kFormatRGB, 3}, {kFormatGrayscale, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        // Smooth and bright at the top, dark at the bottom.
        auto p = filled(c.format, 21, 13, [](int x, int y, int ch) { return 200 - y * 12 + x + ch * 3; });
        std::FILE* f = std::tmpfile();
        ASSERT_TRUE(writeJpeg(*p, f, 100));
        const Bytes data = contents(f);
        std::fclose(f);

        const DecodedJpeg d = decodeJpeg(data);
        EXPECT_EQ(d.width, 21);
        EXPECT_EQ(d.height, 13);
        EXPECT_EQ(d.components, c.components);
        EXPECT_TRUE(d.progressive);
        EXPECT_EQ(d.densityUnit, 0);
        int worst = 0;
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 21 * c.components; ++x)
                worst = std::max(
                    worst, std::abs(int(d.pixels[std::size_t(y * 21 * c.components + x)]) - int(at(*p, 0, y)[x])));
        EXPECT_LE(worst, 6);
    }
}

TEST(WriteJpeg, OtherFormatsLeaveTheStreamUntouched) {
    for (int format : {kFormatRGBA, kFormatAlpha, kFormatGrayAlpha, kFormatIndexed, kFormatRGBA5551}) {
        auto p = filled(format, 4, 4, pattern);
        std::FILE* f = std::tmpfile();
        EXPECT_FALSE(writeJpeg(*p, f, 100)) << format;
        EXPECT_EQ(std::ftell(f), 0) << format;
        std::fclose(f);
    }
}

// ---- readPng on files made directly with libpng ----

struct RawPng {
    int width = 0, height = 0, colourType = 0, bitDepth = 8, interlace = PNG_INTERLACE_NONE;
    std::vector<Bytes> rows{};  // top-down, as stored in the file
    std::vector<png_color> palette{};
    Bytes paletteAlpha{};
    int transparentGrey = -1;
};

Bytes encode(const RawPng& raw) {
    std::FILE* f = std::tmpfile();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(raw.width), png_uint_32(raw.height), raw.bitDepth, raw.colourType,
                 raw.interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!raw.palette.empty()) png_set_PLTE(png, info, raw.palette.data(), int(raw.palette.size()));
    if (!raw.paletteAlpha.empty())
        png_set_tRNS(png, info, raw.paletteAlpha.data(), int(raw.paletteAlpha.size()), nullptr);
    if (raw.transparentGrey >= 0) {
        png_color_16 grey{};
        grey.gray = png_uint_16(raw.transparentGrey);
        png_set_tRNS(png, info, nullptr, 0, &grey);
    }
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const Bytes& r : raw.rows) rows.push_back(const_cast<png_bytep>(r.data()));
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    Bytes out = contents(f);
    std::fclose(f);
    return out;
}

TEST(ReadPng, PaletteImageBecomesIndexed) {
    RawPng raw{.width = 5, .height = 2, .colourType = PNG_COLOR_TYPE_PALETTE, .bitDepth = 4};
    raw.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    raw.paletteAlpha = {0};
    raw.rows = {{0x01, 0x20, 0x10}, {0x22, 0x11, 0x00}};  // 4-bit indexes, high nibble first
    const Bytes png = encode(raw);
    auto p = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->format(), kFormatIndexed);
    EXPECT_EQ(p->colourCount(), 3);
    EXPECT_EQ(p->paletteKind(), kFormatRGBA);
    EXPECT_EQ(Bytes(p->paletteEntry(0), p->paletteEntry(0) + 4), (Bytes{10, 20, 30, 0}));
    EXPECT_EQ(Bytes(p->paletteEntry(2), p->paletteEntry(2) + 4), (Bytes{70, 80, 90, 255}));
    EXPECT_EQ(Bytes(at(*p, 0, 0), at(*p, 0, 0) + 5), (Bytes{0, 1, 2, 0, 1}));
    EXPECT_EQ(Bytes(at(*p, 0, 1), at(*p, 0, 1) + 5), (Bytes{2, 2, 1, 1, 0}));

    raw.palette = {{5, 5, 5}, {9, 9, 9}, {0, 0, 0}};
    raw.paletteAlpha.clear();
    const Bytes grey = encode(raw);
    EXPECT_EQ(readPng(grey.data(), grey.size(), nullptr, nullptr)->paletteKind(), kFormatGrayscale);
}

TEST(ReadPng, NarrowAndKeyedGreyImages) {
    RawPng bits{.width = 10, .height = 1, .colourType = PNG_COLOR_TYPE_GRAY, .bitDepth = 1};
    bits.rows = {{0xA0, 0xC0}};
    Bytes png = encode(bits);
    auto p = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->format(), kFormatGrayscale);
    EXPECT_EQ(Bytes(p->row(0), p->row(0) + 10), (Bytes{255, 0, 255, 0, 0, 0, 0, 0, 255, 255}));

    // A transparent grey level arrives as an alpha channel.
    RawPng keyed{.width = 3, .height = 1, .colourType = PNG_COLOR_TYPE_GRAY, .bitDepth = 8};
    keyed.rows = {{7, 8, 7}};
    keyed.transparentGrey = 7;
    png = encode(keyed);
    p = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->format(), kFormatGrayAlpha);
    EXPECT_EQ(Bytes(p->row(0), p->row(0) + 6), (Bytes{7, 0, 8, 255, 7, 0}));
}

TEST(ReadPng, InterlacedImage) {
    RawPng raw{.width = 9, .height = 7, .colourType = PNG_COLOR_TYPE_RGB, .interlace = PNG_INTERLACE_ADAM7};
    auto expected = filled(kFormatRGB, 9, 7, pattern);
    for (int y = 0; y < 7; ++y) raw.rows.emplace_back(at(*expected, 0, y), at(*expected, 0, y) + 27);
    const Bytes png = encode(raw);
    auto p = readPng(png.data(), png.size(), nullptr, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(rowsOf(*p), rowsOf(*expected));
}

TEST(ReadPng, MalformedInputGivesNull) {
    auto p = filled(kFormatRGBA, 6, 5, pattern);
    const Bytes png = pngOf(*p);
    for (std::size_t cut = 0; cut < png.size() - 12; ++cut)  // the IEND chunk is never read
        EXPECT_EQ(readPng(png.data(), cut, nullptr, nullptr), nullptr) << cut;
    Bytes damaged = png;
    damaged[40] ^= 0xff;
    EXPECT_EQ(readPng(damaged.data(), damaged.size(), nullptr, nullptr), nullptr);
    const Bytes garbage(200, 0x5a);
    EXPECT_EQ(readPng(garbage.data(), garbage.size(), nullptr, nullptr), nullptr);
    EXPECT_EQ(readPng(nullptr, 10, nullptr, nullptr), nullptr);
}

TEST(ReadPng, CancelAbandonsThePicture) {
    auto p = filled(kFormatGrayscale, 8, 40, pattern);
    const Bytes png = pngOf(*p);
    int calls = 0;
    auto stop = [](void* ctx) { return ++*static_cast<int*>(ctx) > 0; };
    EXPECT_EQ(readPng(png.data(), png.size(), stop, &calls), nullptr);
    EXPECT_EQ(calls, 1);
    calls = -1000;
    EXPECT_NE(readPng(png.data(), png.size(), stop, &calls), nullptr);
    EXPECT_GT(calls, -1000);
}

}  // namespace
}  // namespace kestrel
