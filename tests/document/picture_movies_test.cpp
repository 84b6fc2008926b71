// Movies built with pictures in them, read into a document and written out
// again: DefineBitsJPEG4, CMYK JPEGs, a bitmap of size 0 among good ones,
// JPEG colour through re-encoding and the alpha of written PNG files.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "document/swf_document.h"
#include "reader/picture/png_codec.h"
#include "swfbuilder/jpeg_encode.h"
#include "test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;
using test::TempDir;

// The messages a read shows, in order.
class RecordingMessages final : public MessageSink {
public:
    MessageAnswer show(const std::string& text, MessageIcon, MessageButtons) override {
        shown.push_back(text);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> shown;
};

// ---- JPEG test data made and read with libjpeg itself ----

// A JPEG file decoded by libjpeg: top-down samples and how it was stored.
// ---- JPEG test data read back with libjpeg itself ----

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<int> sampling;  // h and v factor of each component
    Bytes samples;
};

DecodedJpeg decodeJpegBytes(const Bytes& data) {
    DecodedJpeg out;
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    for (int i = 0; i < d.num_components; ++i) {
        out.sampling.push_back(d.comp_info[i].h_samp_factor);
        out.sampling.push_back(d.comp_info[i].v_samp_factor);
    }
    d.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d);
    out.width = int(d.output_width);
    out.height = int(d.output_height);
    out.components = d.output_components;
    const std::size_t rowBytes = std::size_t(out.width) * std::size_t(out.components);
    out.samples.resize(rowBytes * std::size_t(out.height));
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.samples.data() + d.output_scanline * rowBytes;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

Bytes readAll(const std::string& path) {
    Bytes out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) out.push_back(std::uint8_t(c));
        std::fclose(f);
    }
    return out;
}

// Top-down samples of an RGB or greyscale picture.
Bytes pictureSamples(const OBPicture& p) {
    const std::size_t rowBytes = std::size_t(p.width()) * std::size_t(OBPicture::bytesPerPixel(p.format()));
    Bytes out;
    for (int y = 0; y < p.height(); ++y) {
        const std::uint8_t* row = p.row(p.height() - 1 - y);
        out.insert(out.end(), row, row + rowBytes);
    }
    return out;
}

double psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

const SWFImage& imageAt(const SWFDocument& doc, int i) { return static_cast<const SWFImage&>(doc.resource(i)); }

// Samples of a w x h picture: channel c of (x, y) from f.
template <typename F>
Bytes samplesOf(int w, int h, int channels, F f) {
    Bytes out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) out.push_back(std::uint8_t(f(x, y, c)));
    return out;
}

// ---- reading ----

TEST(PictureMovies, Jpeg4WithAndWithoutAlphaAndWithPngData) {
    TempDir dir;
    const JpegRecipe recipe{16, 8};
    const Bytes jpeg = encodeJpeg(recipe, samplesOf(16, 8, 3, [](int x, int y, int c) { return x * 15 + y * c; }));
    const Bytes alpha = deflate(Bytes(16 * 8, 100));
    // A PNG payload carries its own alpha; the empty alpha block of the tag
    // changes nothing.
    auto rgba = OBPicture::create(kFormatRGBA, 3, 2);
    for (int i = 0; i < 6; ++i) {
        std::uint8_t* p = rgba->pixels() + std::ptrdiff_t(rgba->stride()) * (i / 3) + (i % 3) * 4;
        p[0] = 200, p[1] = 10, p[2] = 10, p[3] = std::uint8_t(40 * i);
    }
    std::FILE* tmp = std::tmpfile();
    ASSERT_TRUE(writePng(*rgba, tmp, 6));
    Bytes png(std::size_t(std::ftell(tmp)));
    std::rewind(tmp);
    ASSERT_EQ(std::fread(png.data(), 1, png.size(), tmp), png.size());
    std::fclose(tmp);

    Tags t;
    t.tag(kTagDefineBitsJpeg4, defineBitsJpeg4Body(1, jpeg, alpha, 0x0100))
        .showFrame()
        .tag(kTagDefineBitsJpeg4, defineBitsJpeg4Body(2, jpeg, deflate(Bytes(16 * 8, 255)), 0x0040))
        .tag(kTagDefineBitsJpeg4, defineBitsJpeg4Body(3, png, deflate({})))
        .showFrame()
        .end();
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("four.swf", SwfFile().frames(2).tags(t).bytes()), nullptr, nullptr));
    EXPECT_EQ(doc.readResult(), kReadOk);
    ASSERT_EQ(doc.count(), 3);

    const SWFImage& transparent = imageAt(doc, 0);
    EXPECT_TRUE(transparent.isJpeg);
    EXPECT_TRUE(transparent.payload->hasAlpha());
    EXPECT_TRUE(transparent.premultiplied);
    EXPECT_EQ(transparent.deblocking, std::optional<std::uint16_t>(0x0100));
    EXPECT_EQ(transparent.extension(), ".png");
    EXPECT_EQ(transparent.formatName, "JPEG");
    EXPECT_EQ(transparent.frame, 1);

    // An alpha plane without transparency leaves a plain JPEG picture.
    const SWFImage& opaque = imageAt(doc, 1);
    EXPECT_TRUE(opaque.isJpeg);
    EXPECT_FALSE(opaque.payload->hasAlpha());
    EXPECT_EQ(opaque.deblocking, std::optional<std::uint16_t>(0x0040));
    EXPECT_EQ(opaque.extension(), ".jpg");
    EXPECT_EQ(opaque.frame, 2);
    EXPECT_GT(psnr(pictureSamples(*opaque.payload), decodeJpegBytes(jpeg).samples), 60);

    const SWFImage& fromPng = imageAt(doc, 2);
    EXPECT_FALSE(fromPng.isJpeg);
    EXPECT_EQ(fromPng.payload->width(), 3);
    EXPECT_TRUE(fromPng.payload->hasAlpha());
    EXPECT_EQ(fromPng.extension(), ".png");

    // Images of other tags carry no deblocking value.
    Tags two;
    two.tag(kTagDefineBitsJpeg2, defineBitsJpeg2Body(1, jpeg)).end();
    SWFDocument other;
    ASSERT_TRUE(other.readFile(dir.write("two.swf", SwfFile().tags(two).bytes()), nullptr, nullptr));
    ASSERT_EQ(other.count(), 1);
    EXPECT_FALSE(imageAt(other, 0).deblocking);
}

TEST(PictureMovies, FailedImagesLeaveTheOthersListed) {
    TempDir dir;
    const Bytes jpeg = encodeJpeg(JpegRecipe{8, 8}, Bytes(8 * 8 * 3, 90));
    Tags t;
    t.tag(kTagDefineBitsLossless, losslessBody(1, 5, 1, 1, deflate(argbRows({0xFF0000FF}))))
        .tag(kTagDefineBitsLossless2, losslessBody(2, 5, 0, 0, deflate({})))  // 0 x 0
        .tag(kTagDefineSound, defineSoundBody(3, 0, 1, false, false, 3, {1, 2, 3}))
        .tag(kTagDefineBitsLossless, losslessBody(4, 3, 0, 5, deflate(Bytes(8, 0)), 2))  // 0 wide
        .tag(kTagDefineBitsJpeg4, defineBitsJpeg4Body(5, {}, deflate({})))               // no image data
        .tag(kTagDefineBitsJpeg2, defineBitsJpeg2Body(6, jpeg))
        .end();
    SWFDocument doc;
    RecordingMessages messages;
    ASSERT_TRUE(doc.readFile(dir.write("zero.swf", SwfFile().tags(t).bytes()), nullptr, &messages));
    EXPECT_EQ(doc.readResult(), kReadSomeFailed);
    ASSERT_EQ(doc.count(), 3);
    EXPECT_EQ(doc.resource(0).kind, kKindImage);
    EXPECT_EQ(doc.resource(1).kind, kKindSound);
    EXPECT_EQ(doc.resource(2).kind, kKindImage);
    EXPECT_EQ(doc.resource(2).number, 2);
    EXPECT_TRUE(imageAt(doc, 2).isJpeg);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].rfind("Errors occurred while reading some resources.", 0), 0u);
}

TEST(PictureMovies, CmykJpegIsReadAsRgb) {
    TempDir dir;
    // Adobe CMYK stores inverted inks: 255 is no ink. Top half red
    // (magenta and yellow), bottom half a dark grey (black ink only).
    const Bytes cmyk = samplesOf(16, 16, 4, [](int, int y, int c) {
        if (y < 8) return c == 1 || c == 2 ? 0 : 255;
        return c == 3 ? 64 : 255;
    });
    Tags t;
    t.tag(kTagDefineBitsJpeg2,
          defineBitsJpeg2Body(1, encodeJpeg(JpegRecipe{16, 16, 4, JCS_CMYK, JCS_UNKNOWN, false, 95}, cmyk)))
        .tag(kTagDefineBitsJpeg2,
             defineBitsJpeg2Body(2, encodeJpeg(JpegRecipe{16, 16, 4, JCS_CMYK, JCS_YCCK, false, 95}, cmyk)))
        .end();
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("cmyk.swf", SwfFile().tags(t).bytes()), nullptr, nullptr));
    EXPECT_EQ(doc.readResult(), kReadOk);
    ASSERT_EQ(doc.count(), 2);
    const Bytes want = samplesOf(16, 16, 3, [](int, int y, int c) {
        if (y < 8) return c == 0 ? 255 : 0;
        return 64;
    });
    for (int i = 0; i < 2; ++i) {
        const SWFImage& image = imageAt(doc, i);
        EXPECT_TRUE(image.isJpeg);
        ASSERT_EQ(image.payload->format(), kFormatRGB) << i;
        EXPECT_GE(psnr(pictureSamples(*image.payload), want), 30) << i;
    }
}

// ---- writing ----

TEST(PictureMovies, ReencodedJpegKeepsThinColourStripes) {
    TempDir dir;
    // 1-pixel columns of red and green: chroma subsampling would average
    // them into olive.
    const Bytes stripes = samplesOf(32, 16, 3, [](int x, int, int c) {
        if (x % 2 == 0) return c == 0 ? 230 : 20;
        return c == 1 ? 200 : 30;
    });
    const Bytes grey = samplesOf(32, 16, 1, [](int x, int y, int) { return (x * 8 + y * 3) & 0xFF; });
    Tags t;
    t.tag(kTagDefineBitsJpeg2,
          defineBitsJpeg2Body(1, encodeJpeg(JpegRecipe{32, 16, 3, JCS_RGB, JCS_UNKNOWN, true, 100}, stripes)))
        .tag(kTagDefineBitsJpeg2,
             defineBitsJpeg2Body(2, encodeJpeg(JpegRecipe{32, 16, 1, JCS_GRAYSCALE, JCS_UNKNOWN, false, 95}, grey)))
        .end();
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("stripes.swf", SwfFile().tags(t).bytes()), nullptr, nullptr));
    ASSERT_EQ(doc.count(), 2);

    const SWFImage& colour = imageAt(doc, 0);
    ASSERT_EQ(colour.payload->format(), kFormatRGB);
    ASSERT_EQ(writeResourceFile(colour, dir.file("stripes.jpg")), WriteOk);
    const DecodedJpeg written = decodeJpegBytes(readAll(dir.file("stripes.jpg")));
    EXPECT_EQ(written.components, 3);
    EXPECT_EQ(written.sampling, (std::vector<int>{1, 1, 1, 1, 1, 1}));
    const double colourPsnr = psnr(written.samples, pictureSamples(*colour.payload));
    EXPECT_GE(colourPsnr, 30.0);
    // The stripes themselves are still red and green, not olive.
    const std::uint8_t* red = &written.samples[0];
    const std::uint8_t* green = &written.samples[3];
    EXPECT_GT(red[0], 200);
    EXPECT_LT(red[1], 50);
    EXPECT_GT(green[1], 170);
    EXPECT_LT(green[0], 60);

    const SWFImage& mono = imageAt(doc, 1);
    ASSERT_EQ(mono.payload->format(), kFormatGrayscale);
    ASSERT_EQ(writeResourceFile(mono, dir.file("grey.jpg")), WriteOk);
    const DecodedJpeg greyFile = decodeJpegBytes(readAll(dir.file("grey.jpg")));
    EXPECT_EQ(greyFile.components, 1);
    EXPECT_GE(psnr(greyFile.samples, pictureSamples(*mono.payload)), 30.0);
}

TEST(PictureMovies, PngHoldsStraightAlphaUnlessPremultipliedIsAsked) {
    TempDir dir;
    // Premultiplied ARGB as the tag stores it: red at alpha 128, green at
    // alpha 51, and a transparent pixel that still holds colour.
    const std::vector<std::uint32_t> pixels = {0x80800000, 0x33003300, 0x00102030, 0xFF0000FF};
    Bytes argb;
    for (std::uint32_t p : pixels) {
        for (int shift : {24, 16, 8, 0}) argb.push_back(std::uint8_t(p >> shift));
    }
    Tags t;
    t.tag(kTagDefineBitsLossless2, losslessBody(1, 5, 4, 1, deflate(argb))).end();
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("alpha.swf", SwfFile().tags(t).bytes()), nullptr, nullptr));
    ASSERT_EQ(doc.count(), 1);
    const SWFImage& image = imageAt(doc, 0);
    ASSERT_TRUE(image.premultiplied);

    WriteOptions premultiplied;
    premultiplied.premultipliedAlpha = true;
    ASSERT_EQ(writeResourceFile(image, dir.file("straight.png")), WriteOk);
    ASSERT_EQ(writeResourceFile(image, dir.file("pre.png"), premultiplied), WriteOk);
    const Bytes straightFile = readAll(dir.file("straight.png"));
    const Bytes preFile = readAll(dir.file("pre.png"));
    auto straight = readPng(straightFile.data(), straightFile.size(), nullptr, nullptr);
    auto pre = readPng(preFile.data(), preFile.size(), nullptr, nullptr);
    ASSERT_TRUE(straight && pre);
    ASSERT_EQ(straight->format(), kFormatRGBA);
    ASSERT_EQ(pre->format(), kFormatRGBA);

    const std::uint8_t* s = straight->row(0);
    const std::uint8_t* p = pre->row(0);
    for (int x = 0; x < 4; ++x) {
        SCOPED_TRACE(x);
        const std::uint32_t stored = pixels[std::size_t(x)];
        const int a = int(stored >> 24);
        const int rgb[3] = {int(stored >> 16 & 0xFF), int(stored >> 8 & 0xFF), int(stored & 0xFF)};
        EXPECT_EQ(s[4 * x + 3], a);
        EXPECT_EQ(p[4 * x + 3], a);
        for (int c = 0; c < 3; ++c) {
            // As stored with the option; straight values multiply back to
            // the stored ones otherwise, and transparent pixels are zero.
            EXPECT_EQ(p[4 * x + c], rgb[c]);
            if (a == 0) {
                EXPECT_EQ(s[4 * x + c], 0);
            } else {
                EXPECT_EQ((s[4 * x + c] * a + 127) / 255, rgb[c]);
            }
        }
    }
    EXPECT_EQ(s[0], 255);  // red at half alpha is full red
    EXPECT_EQ(s[5], 255);
}

}  // namespace
}  // namespace kestrel
