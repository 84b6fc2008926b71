#include "reader/image_decode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>
#include <zlib.h>

#include <cstring>

#include "reader/embedded_image.h"
#include "reader/picture/png_codec.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Test data made with the real libraries.

// Pixels with enough detail that quantisation tables visibly matter.
Bytes pattern(int width, int height, int components) {
    Bytes pixels(std::size_t(width) * height * components);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                pixels[(std::size_t(y) * width + x) * components + c] =
                    std::uint8_t((x * 37 + y * 91 + c * 50 + ((x ^ y) & 3) * 60) & 0xFF);
    return pixels;
}

class Encoder {
public:
    Encoder(int width, int height, int components, J_COLOR_SPACE space, int quality)
        : width_(width), components_(components) {
        c_.err = jpeg_std_error(&err_);
        jpeg_create_compress(&c_);
        c_.image_width = JDIMENSION(width);
        c_.image_height = JDIMENSION(height);
        c_.input_components = components;
        c_.in_color_space = space;
        jpeg_set_defaults(&c_);
        jpeg_set_quality(&c_, quality, TRUE);
    }
    ~Encoder() { jpeg_destroy_compress(&c_); }

    // The colour space of the datastream (YCCK for CMYK input, say).
    Encoder& store(J_COLOR_SPACE space) {
        jpeg_set_colorspace(&c_, space);
        return *this;
    }

    // SOI, tables, EOI.
    Bytes tables() {
        begin();
        jpeg_write_tables(&c_);
        return end();
    }
    // A complete datastream, or one without tables after tables().
    Bytes image(const Bytes& pixels, bool withTables = true) {
        begin();
        jpeg_start_compress(&c_, withTables ? TRUE : FALSE);
        const std::size_t rowBytes = std::size_t(width_) * components_;
        while (c_.next_scanline < c_.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + c_.next_scanline * rowBytes);
            jpeg_write_scanlines(&c_, &row, 1);
        }
        jpeg_finish_compress(&c_);
        return end();
    }

private:
    void begin() {
        buffer_ = nullptr;
        size_ = 0;
        jpeg_mem_dest(&c_, &buffer_, &size_);
    }
    Bytes end() {
        Bytes out(buffer_, buffer_ + size_);
        std::free(buffer_);
        buffer_ = nullptr;
        return out;
    }

    jpeg_compress_struct c_{};
    jpeg_error_mgr err_{};
    int width_;
    int components_;
    unsigned char* buffer_ = nullptr;
    unsigned long size_ = 0;
};

Bytes encodeJpeg(int width, int height, int components, int quality = 85) {
    Encoder encoder(width, height, components, components == 1 ? JCS_GRAYSCALE : JCS_RGB, quality);
    return encoder.image(pattern(width, height, components));
}

// Top-down samples decoded by libjpeg directly; the datastream may begin
// with a tables-only part.
Bytes referenceDecode(const Bytes& jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&d, FALSE) == JPEG_HEADER_TABLES_ONLY) jpeg_read_header(&d, TRUE);
    d.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d);
    const std::size_t rowBytes = std::size_t(d.output_width) * d.output_components;
    Bytes out(rowBytes * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.data() + d.output_scanline * rowBytes;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

Bytes zlibCompress(const Bytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), uLong(data.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes le16(unsigned v) { return {std::uint8_t(v), std::uint8_t(v >> 8)}; }
Bytes le32(std::uint32_t v) { return concat({le16(v & 0xFFFF), le16(v >> 16)}); }

const Bytes kCharacterId = le16(7);

Bytes jpeg3Body(const Bytes& jpeg, const Bytes& alphaZ) {
    return concat({kCharacterId, le32(std::uint32_t(jpeg.size())), jpeg, alphaZ});
}

Bytes losslessBody(int format, int width, int height, const Bytes& zdata, int colours = 0) {
    Bytes header = concat({kCharacterId, {std::uint8_t(format)}, le16(unsigned(width)), le16(unsigned(height))});
    if (format == 3) header.push_back(std::uint8_t(colours - 1));
    return concat({header, zdata});
}

// Screen pixel (x, y), y = 0 at the top.
const std::uint8_t* pixel(const OBPicture& p, int x, int y) {
    return p.row(p.height() - 1 - y) + std::size_t(x) * OBPicture::bytesPerPixel(p.format());
}

// Compares the colour samples of every pixel with top-down reference samples.
void expectSamples(const OBPicture& p, const Bytes& reference, int components) {
    ASSERT_EQ(reference.size(), std::size_t(p.width()) * p.height() * components);
    int mismatches = 0;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            for (int c = 0; c < components; ++c)
                if (pixel(p, x, y)[c] != reference[(std::size_t(y) * p.width() + x) * components + c]) ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

// ---------------------------------------------------------------------------
// DefineBitsJPEG2 / DefineBitsJPEG3

TEST(DefineBitsJpeg, DecodesBottomUpAndSwapsLeadingEoiSoiInPlace) {
    for (int components : {3, 1}) {
        SCOPED_TRACE(components);
        const Bytes jpeg = encodeJpeg(21, 13, components);  // odd width: padded rows
        Bytes body = concat({kCharacterId, {0xFF, 0xD9, 0xFF, 0xD8}, jpeg});
        DecodedImage image = decodeDefineBitsJpeg(body, false);
        ASSERT_EQ(image.code, 0);
        EXPECT_EQ(image.picture->format(), components == 3 ? kFormatRGB : kFormatGrayscale);
        EXPECT_EQ(image.picture->width(), 21);
        EXPECT_EQ(image.picture->height(), 13);
        expectSamples(*image.picture, referenceDecode(jpeg), components);
        EXPECT_EQ(body[3], 0xD8);
        EXPECT_EQ(body[5], 0xD9);
    }
}

TEST(DefineBitsJpeg, TablesPartThenImageInOneDatastream) {
    Encoder encoder(16, 10, 3, JCS_RGB, 60);
    const Bytes pixels = pattern(16, 10, 3);
    const Bytes tables = encoder.tables();
    const Bytes abbreviated = encoder.image(pixels, false);
    Bytes body = concat({kCharacterId, tables, abbreviated});
    DecodedImage image = decodeDefineBitsJpeg(body, false);
    ASSERT_EQ(image.code, 0);
    expectSamples(*image.picture, referenceDecode(concat({tables, abbreviated})), 3);
}

// SOF0 height and width fields set to 65500.
Bytes withHugeSize(Bytes jpeg) {
    std::size_t sof = 2;
    while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
    for (std::size_t i = sof + 5; i < sof + 9 && i + 1 < jpeg.size(); i += 2) {
        jpeg[i] = 0xFF;
        jpeg[i + 1] = 0xDC;
    }
    return jpeg;
}

TEST(DefineBitsJpeg, BrokenOrUnsupportedDatastreamsFail) {
    const Bytes jpeg = encodeJpeg(24, 16, 3);
    const Bytes noEoi(jpeg.begin(), jpeg.end() - 2);
    const Bytes cutInScan(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() * 3 / 4));
    const Bytes tablesOnly = Encoder(8, 8, 3, JCS_RGB, 50).tables();
    for (const Bytes& data : {noEoi, cutInScan, tablesOnly, withHugeSize(encodeJpeg(8, 8, 1))}) {
        Bytes body = concat({kCharacterId, data});
        DecodedImage image = decodeDefineBitsJpeg(body, false);
        EXPECT_EQ(image.code, 3);
        EXPECT_FALSE(image.picture);
        // The library's own words, or the limit that was hit.
        EXPECT_EQ(image.reason.rfind("JPEG: ", 0), 0u) << image.reason;
        EXPECT_GT(image.reason.size(), 6u);
    }
    Bytes cutBody = concat({kCharacterId, cutInScan});
    EXPECT_EQ(decodeDefineBitsJpeg(cutBody, false).reason, "JPEG: Premature end of input file");
    Bytes empty = kCharacterId;
    EXPECT_EQ(decodeDefineBitsJpeg(empty, false).reason, "no image data");
    Bytes shortBody{7};
    EXPECT_EQ(decodeDefineBitsJpeg(shortBody, false).code, 3);
}

TEST(DefineBitsJpeg3, AlphaGoesBottomUpIntoLastByte) {
    const int w = 7, h = 5;
    Bytes alpha(std::size_t(w) * h);
    for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = std::uint8_t(i * 7 + 1);
    for (int components : {3, 1}) {
        SCOPED_TRACE(components);
        const Bytes jpeg = encodeJpeg(w, h, components);
        Bytes body = jpeg3Body(jpeg, zlibCompress(alpha));
        DecodedImage image = decodeDefineBitsJpeg(body, true);
        ASSERT_EQ(image.code, 0);
        const OBPicture& p = *image.picture;
        EXPECT_EQ(p.format(), components == 3 ? kFormatRGBA : kFormatGrayAlpha);
        expectSamples(p, referenceDecode(jpeg), components);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) EXPECT_EQ(pixel(p, x, y)[components], alpha[std::size_t(y) * w + x]);
    }
}

TEST(DefineBitsJpeg3, AlphaPlaneMustFitAndMayBeShort) {
    const Bytes jpeg = encodeJpeg(6, 4, 3);
    Bytes beyond = concat({kCharacterId, le32(std::uint32_t(jpeg.size() + 100)), jpeg, zlibCompress(Bytes(24))});
    EXPECT_EQ(decodeDefineBitsJpeg(beyond, true).code, 3);
    Bytes tooLong = jpeg3Body(jpeg, zlibCompress(Bytes(25)));
    EXPECT_EQ(decodeDefineBitsJpeg(tooLong, true).code, 3);
    Bytes shortBody{7, 0, 1};
    EXPECT_EQ(decodeDefineBitsJpeg(shortBody, true).code, 3);

    // A complete but short plane: the rest is transparent.
    Bytes shortPlane = jpeg3Body(jpeg, zlibCompress(Bytes(10, 0x55)));
    DecodedImage image = decodeDefineBitsJpeg(shortPlane, true);
    ASSERT_EQ(image.code, 0);
    EXPECT_EQ(pixel(*image.picture, 3, 1)[3], 0x55);
    EXPECT_EQ(pixel(*image.picture, 4, 1)[3], 0);
    EXPECT_EQ(pixel(*image.picture, 5, 3)[3], 0);
}

TEST(DefineBitsJpeg3, BadAlphaPlanesSayWhy) {
    const Bytes jpeg = encodeJpeg(6, 4, 3);
    Bytes noPlane = jpeg3Body(jpeg, {});
    const DecodedImage missing = decodeDefineBitsJpeg(noPlane, true);
    EXPECT_EQ(missing.code, 3);
    EXPECT_EQ(missing.reason, "no alpha data");

    Bytes cutPlane = zlibCompress(Bytes(24, 9));
    cutPlane.resize(cutPlane.size() - 3);
    Bytes cut = jpeg3Body(jpeg, cutPlane);
    EXPECT_EQ(decodeDefineBitsJpeg(cut, true).reason, "alpha data: zlib stream cut short");
    Bytes beyond = concat({kCharacterId, le32(std::uint32_t(jpeg.size() + 1)), jpeg});
    EXPECT_EQ(decodeDefineBitsJpeg(beyond, true).reason, "alpha offset past the end of the tag");
}

// DefineBitsJPEG4: id, alpha offset, 8.8 deblocking, image data, alpha plane.
Bytes jpeg4Body(const Bytes& image, const Bytes& alphaZ, unsigned deblocking) {
    return concat({kCharacterId, le32(std::uint32_t(image.size())), le16(deblocking), image, alphaZ});
}

TEST(DefineBitsJpeg4, ReadLikeJpeg3WithTheDeblockingValueKept) {
    const int w = 7, h = 5;
    const Bytes jpeg = encodeJpeg(w, h, 3);
    Bytes alpha(std::size_t(w) * h);
    for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = std::uint8_t(255 - i * 5);

    Bytes withAlpha = jpeg4Body(jpeg, zlibCompress(alpha), 0x0180);
    DecodedImage image = decodeDefineBitsJpeg4(withAlpha);
    ASSERT_EQ(image.code, 0) << image.reason;
    EXPECT_TRUE(image.isJpeg);
    EXPECT_TRUE(image.premultiplied);
    EXPECT_EQ(image.deblocking, std::optional<std::uint16_t>(0x0180));
    ASSERT_EQ(image.picture->format(), kFormatRGBA);
    expectSamples(*image.picture, referenceDecode(jpeg), 3);
    EXPECT_EQ(pixel(*image.picture, 6, 4)[3], alpha.back());
    EXPECT_EQ(image.jpegData.front(), 0xFF);

    // An opaque plane still gives alpha values; without one the tag fails
    // as DefineBitsJPEG3 does.
    Bytes opaque = jpeg4Body(jpeg, zlibCompress(Bytes(alpha.size(), 255)), 0);
    image = decodeDefineBitsJpeg4(opaque);
    ASSERT_EQ(image.code, 0);
    EXPECT_EQ(image.picture->format(), kFormatRGBA);
    EXPECT_EQ(image.deblocking, std::optional<std::uint16_t>(0));
    expectSamples(*image.picture, referenceDecode(jpeg), 3);
    EXPECT_EQ(pixel(*image.picture, 3, 2)[3], 255);
    Bytes noPlane = jpeg4Body(jpeg, {}, 0);
    EXPECT_EQ(decodeDefineBitsJpeg4(noPlane).reason, "no alpha data");

    // Without image data (a real file holds such a tag) or header: fails.
    Bytes empty = jpeg4Body({}, zlibCompress({}), 0);
    image = decodeDefineBitsJpeg4(empty);
    EXPECT_EQ(image.code, 3);
    EXPECT_EQ(image.reason, "no image data");
    Bytes shortBody = concat({kCharacterId, le32(0)});
    EXPECT_EQ(decodeDefineBitsJpeg4(shortBody).code, 3);
    // The JPEG3 layout is not taken for JPEG4: the image would start two
    // bytes early.
    Bytes jpeg3 = jpeg3Body(jpeg, zlibCompress(alpha));
    EXPECT_EQ(decodeDefineBitsJpeg4(jpeg3).code, 3);
}

// A CMYK picture as Adobe applications store it: inverted inks, 255 = none.
Bytes adobeCmyk(int w, int h) {
    Bytes pixels(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &pixels[(std::size_t(y) * w + x) * 4];
            // Left half red (magenta + yellow), right half mid grey (black ink).
            const bool left = x < w / 2;
            p[0] = left ? 255 : 255;
            p[1] = left ? 0 : 255;
            p[2] = left ? 0 : 255;
            p[3] = left ? 255 : 128;
        }
    return pixels;
}

TEST(DefineBitsJpeg, CmykAndYcckBecomeRgb) {
    const int w = 16, h = 8;
    for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
        SCOPED_TRACE(stored);
        Encoder encoder(w, h, 4, JCS_CMYK, 95);
        const Bytes jpeg = encoder.store(stored).image(adobeCmyk(w, h));
        for (bool withAlpha : {false, true}) {
            Bytes body = withAlpha ? jpeg3Body(jpeg, zlibCompress(Bytes(std::size_t(w) * h, 200)))
                                   : concat({kCharacterId, jpeg});
            DecodedImage image = decodeDefineBitsJpeg(body, withAlpha);
            ASSERT_EQ(image.code, 0) << image.reason;
            ASSERT_EQ(image.picture->format(), withAlpha ? kFormatRGBA : kFormatRGB);
            const std::uint8_t* red = pixel(*image.picture, 2, 3);
            const std::uint8_t* grey = pixel(*image.picture, 12, 3);
            EXPECT_NEAR(red[0], 255, 6);
            EXPECT_NEAR(red[1], 0, 6);
            EXPECT_NEAR(red[2], 0, 6);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(grey[c], 128, 6) << c;
            if (withAlpha) {
                EXPECT_EQ(red[3], 200);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// JPEGTables + DefineBits

struct SharedTables {
    Bytes tablesLow, tablesHigh, abbreviated, reference;
    SharedTables() {
        const Bytes pixels = pattern(24, 16, 3);
        Encoder high(24, 16, 3, JCS_RGB, 90);
        tablesHigh = high.tables();
        abbreviated = high.image(pixels, false);
        reference = referenceDecode(concat({tablesHigh, abbreviated}));
        tablesLow = Encoder(24, 16, 3, JCS_RGB, 5).tables();
    }
};

TEST(JpegTables, DefineBitsUsesTheLastTablesLoaded) {
    SharedTables t;
    ASSERT_NE(t.tablesLow, t.tablesHigh);
    Bytes body = concat({kCharacterId, t.abbreviated});

    JpegTablesDecoder decoder;
    ASSERT_TRUE(decoder.ok());
    Bytes low = t.tablesLow, high = t.tablesHigh;
    ASSERT_TRUE(decoder.loadTables(low));
    ASSERT_TRUE(decoder.loadTables(high));
    DecodedImage image = decoder.decodeDefineBits(body);
    ASSERT_EQ(image.code, 0);
    expectSamples(*image.picture, t.reference, 3);

    // The same data with the other tables last gives other pixels.
    ASSERT_TRUE(decoder.loadTables(low));
    image = decoder.decodeDefineBits(body);
    ASSERT_EQ(image.code, 0);
    EXPECT_NE(Bytes(image.picture->row(0), image.picture->row(0) + 24 * 3),
              Bytes(t.reference.end() - 24 * 3, t.reference.end()));
}

TEST(JpegTables, EmptyTablesThenCompleteStreams) {
    JpegTablesDecoder decoder;
    Bytes empty;
    ASSERT_TRUE(decoder.loadTables(empty));
    for (int components : {3, 1}) {
        const Bytes jpeg = encodeJpeg(11, 6, components);
        DecodedImage image = decoder.decodeDefineBits(concat({kCharacterId, jpeg}));
        ASSERT_EQ(image.code, 0);
        expectSamples(*image.picture, referenceDecode(jpeg), components);
    }
}

TEST(JpegTables, FailedDefineBitsKeepsTheTables) {
    SharedTables t;
    JpegTablesDecoder decoder;
    Bytes tables = concat({{0xFF, 0xD9, 0xFF, 0xD8}, t.tablesHigh});  // marker fix applies here too
    ASSERT_TRUE(decoder.loadTables(tables));
    EXPECT_EQ(tables[1], 0xD8);

    const Bytes truncated(t.abbreviated.begin(), t.abbreviated.end() - 2);
    const Bytes cut(t.abbreviated.begin(), t.abbreviated.begin() + std::ptrdiff_t(t.abbreviated.size() / 2));
    int round = 0;
    for (const Bytes& bad : {truncated, cut, Bytes{0x12, 0x34}, Bytes{}}) {
        SCOPED_TRACE(round++);
        const DecodedImage failed = decoder.decodeDefineBits(concat({kCharacterId, bad}));
        EXPECT_EQ(failed.code, 3);
        EXPECT_EQ(failed.reason.rfind("JPEG: ", 0), 0u) << failed.reason;
        DecodedImage image = decoder.decodeDefineBits(concat({kCharacterId, t.abbreviated}));
        ASSERT_EQ(image.code, 0);
        expectSamples(*image.picture, t.reference, 3);
    }
}

// ---------------------------------------------------------------------------
// DefineBitsLossless / DefineBitsLossless2

TEST(Lossless, ColourMappedKeepsPaletteAndReversesPaddedRows) {
    const int w = 5, h = 3, stride = 8;
    for (bool withAlpha : {false, true}) {
        SCOPED_TRACE(withAlpha);
        const int entry = withAlpha ? 4 : 3;
        Bytes data(std::size_t(256) * entry);
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < entry; ++c) data[std::size_t(i) * entry + c] = std::uint8_t(i + c * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < stride; ++x) data.push_back(std::uint8_t(y * 50 + x));
        DecodedImage image = decodeDefineBitsLossless(losslessBody(3, w, h, zlibCompress(data), 256), withAlpha);
        ASSERT_EQ(image.code, 0);
        const OBPicture& p = *image.picture;
        EXPECT_EQ(p.format(), kFormatIndexed);
        EXPECT_EQ(p.paletteKind(), withAlpha ? 2 : 1);
        EXPECT_EQ(p.colourCount(), 256);
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t* e = p.paletteEntry(i);
            ASSERT_EQ(e[0], std::uint8_t(i));
            ASSERT_EQ(e[2], std::uint8_t(i + 6));
            ASSERT_EQ(e[3], withAlpha ? std::uint8_t(i + 9) : 255);
        }
        ASSERT_EQ(p.stride(), stride);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < stride; ++x) EXPECT_EQ(p.row(h - 1 - y)[x], std::uint8_t(y * 50 + x));
    }
}

TEST(Lossless, FifteenBitPixels) {
    // Width 3: 6 bytes of pixels and 2 of padding per row.
    const Bytes data{0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F, 0xEE, 0xEE,  //
                     0xFF, 0xFF, 0x04, 0x21, 0x00, 0x00, 0xEE, 0xEE};
    DecodedImage image = decodeDefineBitsLossless(losslessBody(4, 3, 2, zlibCompress(data)), false);
    ASSERT_EQ(image.code, 0);
    const OBPicture& p = *image.picture;
    EXPECT_EQ(p.format(), kFormatRGB);
    const std::uint8_t expected[2][3][3] = {{{248, 0, 0}, {0, 248, 0}, {0, 0, 248}},
                                            {{248, 248, 248}, {8, 8, 8}, {0, 0, 0}}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(pixel(p, x, y)[c], expected[y][x][c]) << x << "," << y;
}

TEST(Lossless, ThirtyTwoBitPixelsKeepStoredColours) {
    const Bytes data{0x80, 0x40, 0x20, 0x10, 0xFF, 1, 2, 3,  //
                     0x00, 9,    8,    7,    0x33, 4, 5, 6};
    DecodedImage rgba = decodeDefineBitsLossless(losslessBody(5, 2, 2, zlibCompress(data)), true);
    ASSERT_EQ(rgba.code, 0);
    EXPECT_EQ(rgba.picture->format(), kFormatRGBA);
    EXPECT_EQ(Bytes(pixel(*rgba.picture, 0, 0), pixel(*rgba.picture, 0, 0) + 8),
              (Bytes{0x40, 0x20, 0x10, 0x80, 1, 2, 3, 0xFF}));
    EXPECT_EQ(Bytes(pixel(*rgba.picture, 0, 1), pixel(*rgba.picture, 0, 1) + 8), (Bytes{9, 8, 7, 0, 4, 5, 6, 0x33}));

    DecodedImage rgb = decodeDefineBitsLossless(losslessBody(5, 2, 2, zlibCompress(data)), false);
    ASSERT_EQ(rgb.code, 0);
    EXPECT_EQ(rgb.picture->format(), kFormatRGB);
    EXPECT_EQ(Bytes(pixel(*rgb.picture, 0, 0), pixel(*rgb.picture, 0, 0) + 6), (Bytes{0x40, 0x20, 0x10, 1, 2, 3}));
    EXPECT_EQ(Bytes(pixel(*rgb.picture, 0, 1), pixel(*rgb.picture, 0, 1) + 6), (Bytes{9, 8, 7, 4, 5, 6}));
}

TEST(Lossless, EmptyDimensionFailsThatImageOnly) {
    const Bytes z = zlibCompress(Bytes(64, 0));
    const DecodedImage noWidth = decodeDefineBitsLossless(losslessBody(5, 0, 4, z), true);
    EXPECT_EQ(noWidth.code, 3);
    EXPECT_FALSE(noWidth.picture);
    EXPECT_EQ(noWidth.reason, "lossless bitmap of width 0");
    const DecodedImage noHeight = decodeDefineBitsLossless(losslessBody(3, 4, 0, z, 2), false);
    EXPECT_EQ(noHeight.code, 3);
    EXPECT_EQ(noHeight.reason, "lossless bitmap of height 0");
    EXPECT_EQ(decodeDefineBitsLossless(Bytes{7, 0, 5}, false).code, 3);  // missing fields read as zero
}

TEST(Lossless, BadDataFailsTheImage) {
    const DecodedImage unknown = decodeDefineBitsLossless(losslessBody(7, 2, 2, zlibCompress(Bytes(16))), false);
    EXPECT_EQ(unknown.code, 3);
    EXPECT_EQ(unknown.reason, "unknown lossless format 7");
    const DecodedImage tooLong = decodeDefineBitsLossless(losslessBody(5, 2, 2, zlibCompress(Bytes(17))), false);
    EXPECT_EQ(tooLong.code, 3);
    EXPECT_EQ(tooLong.reason, "zlib stream longer than the bitmap");
    Bytes truncated = zlibCompress(Bytes(16, 1));
    truncated.pop_back();
    const DecodedImage cut = decodeDefineBitsLossless(losslessBody(5, 2, 2, truncated), true);
    EXPECT_EQ(cut.code, 3);
    EXPECT_EQ(cut.reason, "zlib stream cut short");
    const Bytes garbage = {0x78, 0x9C, 0x07, 0, 0};  // a block of the reserved type
    EXPECT_EQ(decodeDefineBitsLossless(losslessBody(5, 2, 2, garbage), true).reason, "zlib stream damaged");
    EXPECT_EQ(decodeDefineBitsLossless(losslessBody(4, 2, 2, {}), false).code, 3);
    // 65535 x 65535 declared in a 50-byte body: refused without allocating.
    for (int format : {3, 4, 5}) {
        Bytes body = losslessBody(format, 65535, 65535, zlibCompress(Bytes(16)), 2);
        body.resize(50, 0);
        EXPECT_EQ(decodeDefineBitsLossless(body, true).code, 3);
    }
}

TEST(InflateExactly, StreamMustEndAndFit) {
    const Bytes data = pattern(10, 10, 10);
    const Bytes z = zlibCompress(data);
    Bytes out(1003, 0xAA);
    EXPECT_TRUE(inflateExactly(z.data(), z.size(), out.data(), out.size()));
    EXPECT_EQ(out, concat({data, {0, 0, 0}}));
    EXPECT_FALSE(inflateExactly(z.data(), z.size(), out.data(), 999));
    EXPECT_FALSE(inflateExactly(z.data(), z.size() - 1, out.data(), out.size()));
    EXPECT_FALSE(inflateExactly(data.data(), data.size(), out.data(), out.size()));
}

// ---------------------------------------------------------------------------
// PNG and GIF data in JPEG tags, and the original JPEG bytes

Bytes pngFile(const OBPicture& picture) {
    std::FILE* f = std::tmpfile();
    EXPECT_TRUE(writePng(picture, f, 6));
    Bytes out(std::size_t(std::ftell(f)));
    std::rewind(f);
    EXPECT_EQ(std::fread(out.data(), 1, out.size(), f), out.size());
    std::fclose(f);
    return out;
}

struct GifWriter {
    Bytes bytes;
    static int write(GifFileType* gif, const GifByteType* data, int n) {
        auto* self = static_cast<GifWriter*>(gif->UserData);
        self->bytes.insert(self->bytes.end(), data, data + n);
        return n;
    }
};

// A screenWidth x screenHeight GIF whose one image sits at (left, top) and
// has pixel (x, y) = colour index (x + y) % 4; index 3 is transparent.
Bytes gifFile(int screenWidth, int screenHeight, int left, int top, int width, int height, bool interlaced) {
    GifWriter out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, GifWriter::write, &error);
    GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, screenWidth, screenHeight, 2, 0, map);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = 3;
    GifByteType ext[4];
    const size_t extLength = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(extLength), ext);
    EGifPutImageDesc(gif, left, top, width, height, interlaced, nullptr);
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));
    static const int kStart[] = {0, 4, 2, 1};
    static const int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
        for (int y = interlaced ? kStart[pass] : 0; y < height; y += interlaced ? kStep[pass] : 1) {
            for (int x = 0; x < width; ++x) line[std::size_t(x)] = GifPixelType((x + y) % 4);
            EGifPutLine(gif, line.data(), width);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out.bytes;
}

TEST(EmbeddedImages, PngInJpegTagsDecodesLikeALosslessImage) {
    auto source = OBPicture::create(kFormatRGBA, 3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            std::uint8_t* p = source->row(y) + x * 4;
            p[0] = std::uint8_t(x * 80);
            p[1] = std::uint8_t(y * 200);
            p[2] = 7;
            p[3] = std::uint8_t(100 + x);
        }
    const Bytes png = pngFile(*source);

    Bytes jpeg2 = concat({kCharacterId, png});
    DecodedImage r = decodeDefineBitsJpeg(jpeg2, false);
    ASSERT_EQ(r.code, 0);
    EXPECT_FALSE(r.isJpeg);
    EXPECT_FALSE(r.premultiplied);
    EXPECT_TRUE(r.jpegData.empty());
    ASSERT_EQ(r.picture->format(), kFormatRGBA);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(0, std::memcmp(r.picture->row(y), source->row(y), 12)) << y;

    // A JPEG3 alpha block does not apply to PNG data.
    Bytes jpeg3 = jpeg3Body(png, zlibCompress(Bytes(6, 0)));
    r = decodeDefineBitsJpeg(jpeg3, true);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.picture->row(0)[3], source->row(0)[3]);

    Bytes cut = concat({kCharacterId, Bytes(png.begin(), png.end() - 20)});
    EXPECT_EQ(decodeDefineBitsJpeg(cut, false).code, 3);
}

TEST(EmbeddedImages, GifFirstImageOnItsScreenWithTransparency) {
    for (bool interlaced : {false, true}) {
        const Bytes gif = gifFile(6, 11, 1, 0, 4, 10, interlaced);
        Bytes body = concat({kCharacterId, gif});
        DecodedImage r = decodeDefineBitsJpeg(body, false);
        ASSERT_EQ(r.code, 0) << interlaced;
        EXPECT_FALSE(r.isJpeg);
        const OBPicture& p = *r.picture;
        ASSERT_EQ(p.width(), 6);
        ASSERT_EQ(p.height(), 11);
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 4; ++x) {
                const std::uint8_t* px = pixel(p, x + 1, y);
                const int index = (x + y) % 4;
                if (index == 3) {
                    EXPECT_EQ(px[3], 0) << x << "," << y;
                } else {
                    EXPECT_EQ(px[3], 255);
                    EXPECT_EQ(px[index], 255) << x << "," << y << " interlaced " << interlaced;
                }
            }
        }
        EXPECT_EQ(pixel(p, 0, 0)[3], 0);   // left of the image
        EXPECT_EQ(pixel(p, 5, 10)[3], 0);  // below it
    }
    Bytes broken = concat({kCharacterId, gifFile(6, 11, 0, 0, 6, 11, false)});
    broken.resize(broken.size() - 12);
    EXPECT_EQ(decodeDefineBitsJpeg(broken, false).code, 3);
}

TEST(OriginalJpeg, TablesMergedStrayMarkersDroppedEndAdded) {
    const Bytes pixels = pattern(24, 16, 3);
    Encoder encoder(24, 16, 3, JCS_RGB, 60);
    const Bytes tables = encoder.tables();
    const Bytes image = encoder.image(pixels, false);

    JpegTablesDecoder decoder;
    Bytes tablesBody = tables;
    ASSERT_TRUE(decoder.loadTables(tablesBody));
    const DecodedImage r = decoder.decodeDefineBits(concat({kCharacterId, image}));
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.isJpeg);
    // One stream: SOI first, EOI last, no SOI inside; decodes to the same samples.
    ASSERT_GE(r.jpegData.size(), 4u);
    EXPECT_EQ(r.jpegData[0], 0xFF);
    EXPECT_EQ(r.jpegData[1], 0xD8);
    EXPECT_EQ(r.jpegData[r.jpegData.size() - 1], 0xD9);
    EXPECT_EQ(referenceDecode(r.jpegData), referenceDecode(concat({tables, image})));

    // JPEG2 data with the authoring tools' leading EOI/SOI pair.
    const Bytes full = encodeJpeg(16, 8, 3);
    Bytes body = concat({kCharacterId, {0xFF, 0xD9, 0xFF, 0xD8}, full});
    const DecodedImage j2 = decodeDefineBitsJpeg(body, false);
    ASSERT_EQ(j2.code, 0);
    EXPECT_EQ(j2.jpegData, full);

    // A stream cut before its EOI gets one.
    EXPECT_EQ(mergeJpegStreams({Bytes(full.begin(), full.end() - 2)}), full);
}

}  // namespace
}  // namespace kestrel
