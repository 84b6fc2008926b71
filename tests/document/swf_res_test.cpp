#include "document/swf_res.h"
#include "reader/picture/png_codec.h"
#include "test_support.h"

#include <algorithm>

namespace kestrel::test {
namespace {

TEST(RecordTexts, MemoryAndDurationTexts) {
    EXPECT_EQ(memoryTextFor(0), "1 KB");
    EXPECT_EQ(memoryTextFor(1024), "1 KB");
    EXPECT_EQ(memoryTextFor(1025), "1 KB");
    EXPECT_EQ(memoryTextFor(2047), "1 KB");
    EXPECT_EQ(memoryTextFor(2048), "2 KB");
    EXPECT_EQ(durationText(0), "0 ms");
    EXPECT_EQ(durationText(999), "999 ms");
    EXPECT_EQ(durationText(1000), "1 s");
    EXPECT_EQ(durationText(59499), "59 s");
    EXPECT_EQ(durationText(59500), "1 min");
    EXPECT_EQ(durationText(61000), "1 min 1 s");
    EXPECT_EQ(durationText(120400), "2 min");
}

std::unique_ptr<OBPicture> filled(int format, int w, int h, std::initializer_list<std::uint8_t> pixel) {
    auto p = OBPicture::create(format, w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) std::copy(pixel.begin(), pixel.end(), p->row(y) + x * int(pixel.size()));
    }
    return p;
}

TEST(ImageRecord, TextsOfAColourJpeg) {
    SWFImage image(2, filled(kFormatRGB, 320, 240, {10, 20, 30}), true, 5000);
    EXPECT_EQ(image.frame, 3);
    EXPECT_EQ(image.frameText, "3");
    EXPECT_EQ(image.memorySize, 5000);
    EXPECT_EQ(image.memoryText, "4 KB");
    EXPECT_EQ(image.formatName, "JPEG");
    EXPECT_EQ(image.sizeText, "320 \xC3\x97 240");
    EXPECT_EQ(image.detailText, "RGB");
    EXPECT_EQ(image.description, " Image - JPEG - 320 \xC3\x97 240 - RGB");
    EXPECT_EQ(image.typeText, "JPEG RGB");
    EXPECT_EQ(image.extension(), ".jpg");
}

TEST(ImageRecord, ReductionsDecideLayoutAndExtension) {
    // Grey RGB becomes Grayscale.
    SWFImage grey(0, filled(kFormatRGB, 3, 2, {7, 7, 7}), true, 10);
    EXPECT_EQ(grey.payload->format(), kFormatGrayscale);
    EXPECT_EQ(grey.typeText, "JPEG Grayscale");
    EXPECT_EQ(grey.extension(), ".jpg");

    // A JPEG3 whose alpha is opaque everywhere is written as JPEG.
    SWFImage opaque(0, filled(kFormatRGBA, 3, 2, {1, 2, 3, 255}), true, 10);
    EXPECT_EQ(opaque.payload->format(), kFormatRGB);
    EXPECT_EQ(opaque.extension(), ".jpg");

    // ... and one with transparency as PNG, though its format stays JPEG.
    SWFImage alpha(0, filled(kFormatRGBA, 3, 2, {1, 2, 3, 128}), true, 10);
    EXPECT_EQ(alpha.formatName, "JPEG");
    EXPECT_EQ(alpha.detailText, "RGBA");
    EXPECT_EQ(alpha.extension(), ".png");

    // Grey with opaque alpha ends as Grayscale; with transparency as Gray Alpha.
    SWFImage greyOpaque(0, filled(kFormatRGBA, 2, 2, {9, 9, 9, 255}), false, 10);
    EXPECT_EQ(greyOpaque.payload->format(), kFormatGrayscale);
    SWFImage greyAlpha(0, filled(kFormatRGBA, 2, 2, {9, 9, 9, 3}), false, 10);
    EXPECT_EQ(greyAlpha.payload->format(), kFormatGrayAlpha);
    EXPECT_EQ(greyAlpha.detailText, "Gray Alpha");
    EXPECT_EQ(greyAlpha.typeText, "PNG Gray Alpha");
}

TEST(ImageRecord, PaletteTexts) {
    auto p = OBPicture::create(kFormatIndexed, 4, 4);
    p->setColourCount(16);
    for (int i = 0; i < 16; ++i) {
        std::uint8_t* e = p->paletteEntry(i);
        e[0] = std::uint8_t(i * 10);
        e[1] = std::uint8_t(i);
        e[2] = 200;
        e[3] = 255;
    }
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) p->row(y)[x] = std::uint8_t(y * 4 + x);
    }
    SWFImage image(0, std::move(p), false, 700);
    EXPECT_EQ(image.detailText, "RGB 16 colors");
    EXPECT_EQ(image.typeText, "PNG RGB 16 colors");
    EXPECT_EQ(image.extension(), ".png");
}

std::unique_ptr<OFSound> sound(int format, int rate, bool is16, bool stereo, std::size_t bytes) {
    auto s = std::make_unique<OFSound>();
    s->format = SoundFormat(format);
    s->rate = std::uint8_t(rate);
    s->is16Bit = is16;
    s->stereo = stereo;
    s->frame = 4;
    Bytes data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) data[i] = std::uint8_t(i * 13);
    s->addBlock(data.data(), data.size());
    return s;
}

TEST(SoundRecord, Texts) {
    SWFSound pcm(sound(0, 3, true, true, 44100));
    EXPECT_EQ(pcm.frame, 5);
    EXPECT_EQ(pcm.durationMs, 250);
    EXPECT_EQ(pcm.sizeText, "250 ms");
    EXPECT_EQ(pcm.formatName, "WAV");
    EXPECT_EQ(pcm.memoryText, "43 KB");
    EXPECT_EQ(pcm.detailText, "44 kHz - Stereo - 16 bits");
    EXPECT_EQ(pcm.description, " Sound - 44 kHz - Stereo - 16 bits");
    EXPECT_EQ(pcm.typeText, "WAV 44 kHz Stereo 16 bits");
    EXPECT_EQ(pcm.extension(), ".wav");

    SWFSound mp3(sound(2, 0, false, false, 10));
    EXPECT_EQ(mp3.formatName, "MP3");
    EXPECT_EQ(mp3.typeText, "MP3 5.5 kHz Mono 8 bits");
    EXPECT_EQ(mp3.extension(), ".mp3");

    // Little-endian PCM reads like the other uncompressed format.
    SWFSound le(sound(3, 1, false, true, 11025));
    EXPECT_EQ(le.formatName, "WAV");
    EXPECT_EQ(le.typeText, "WAV 11 kHz Stereo 8 bits");
    EXPECT_EQ(le.durationMs, 499);  // 5512 sample frames at 11.025 kHz, truncated
    EXPECT_EQ(le.extension(), ".wav");
    EXPECT_TRUE(le.problems.empty());
}

TEST(SoundRecord, CodecTextsShowTheDecodedPcm) {
    // 640 bytes: ten Nellymoser packets of 256 samples.
    SWFSound nelly(sound(6, 2, false, true, 640));
    EXPECT_EQ(nelly.formatName, "WAV Nellymoser");
    EXPECT_EQ(nelly.typeText, "WAV Nellymoser 22 kHz Mono 16 bits");
    EXPECT_EQ(nelly.description, " Sound - 22 kHz - Mono - 16 bits");
    EXPECT_EQ(nelly.durationMs, 2560 * 1000 / 22050);
    EXPECT_EQ(nelly.extension(), ".wav");
    EXPECT_EQ(SWFSound(sound(4, 3, true, false, 640)).typeText, "WAV Nellymoser 16 kHz Mono 16 bits");
    EXPECT_EQ(SWFSound(sound(5, 0, true, false, 640)).typeText, "WAV Nellymoser 8 kHz Mono 16 bits");

    SWFSound alaw(sound(7, 1, false, true, 1600));
    EXPECT_EQ(alaw.typeText, "WAV G.711 A-law 8 kHz Stereo 16 bits");
    EXPECT_EQ(alaw.durationMs, 100);
    SWFSound mulaw(sound(8, 3, false, false, 1600));
    EXPECT_EQ(mulaw.typeText, "WAV G.711 mu-law 8 kHz Mono 16 bits");
    EXPECT_EQ(mulaw.durationMs, 200);
    EXPECT_TRUE(mulaw.problems.empty());
}

TEST(SoundRecord, AnUndecodableCodecIsListedWithItsProblem) {
    auto bad = sound(11, 0, true, false, 0);
    const Bytes ones(200, 0xFF);
    bad->addBlock(ones.data(), ones.size());
    bad->tag = TagCode::SoundStreamHead2;
    bad->tagOffset = 1234;
    SWFSound speex(std::move(bad));
    EXPECT_EQ(speex.typeText, "WAV Speex 16 kHz Mono 16 bits");
    EXPECT_EQ(speex.durationMs, 0);
    ASSERT_EQ(speex.problems.size(), 1u);
    EXPECT_EQ(speex.problems[0].tag, 45);
    EXPECT_EQ(speex.problems[0].offset, 1234u);
    EXPECT_EQ(speex.problems[0].reason, "Speex: Invalid data found when processing input");

    // Its extraction fails before the path is touched: a file already
    // there stays as it was.
    TempDir dir;
    const std::string path = dir.write("s.wav", Bytes{1, 2, 3});
    EXPECT_EQ(writeResourceFile(speex, path), WriteFailed);
    EXPECT_EQ(readAll(path), (Bytes{1, 2, 3}));
}

TEST(WriteResourceFile, SoundsAndFailures) {
    TempDir dir;
    SWFSound mp3(sound(2, 3, true, false, 0));
    mp3.payload->blocks.clear();
    mp3.payload->addBlock(Bytes{1, 2, 3}.data(), 3);
    mp3.payload->addBlock(Bytes{4, 5}.data(), 2);
    ASSERT_EQ(writeResourceFile(mp3, dir.file("a.mp3")), WriteOk);
    EXPECT_EQ(readAll(dir.file("a.mp3")), (Bytes{1, 2, 3, 4, 5}));

    // Little-endian PCM is written as stored; a codec sound as 16-bit PCM.
    SWFSound le(sound(3, 0, false, false, 6));
    ASSERT_EQ(writeResourceFile(le, dir.file("le.wav")), WriteOk);
    const Bytes leFile = readAll(dir.file("le.wav"));
    EXPECT_EQ(Bytes(leFile.end() - 6, leFile.end()), (Bytes{0, 13, 26, 39, 52, 65}));
    SWFSound mulaw(sound(8, 0, false, false, 3));
    ASSERT_EQ(writeResourceFile(mulaw, dir.file("mu.wav")), WriteOk);
    EXPECT_EQ(readAll(dir.file("mu.wav")).size(), 46u + 6u);

    // A folder that does not exist: the file cannot be created.
    EXPECT_EQ(writeResourceFile(mp3, dir.file("none/a.mp3")), CreateFailed);

    // Disk full shows only when the data is flushed: the file is reported
    // and nothing claims success. The failed file is deleted, so write
    // through a link: the link goes, the device stays.
    if (std::filesystem::is_character_file("/dev/full")) {
        const std::string full = dir.file("full.mp3");
        std::filesystem::create_symlink("/dev/full", full);
        SWFSound big(sound(2, 3, true, false, 1 << 16));
        EXPECT_EQ(writeResourceFile(big, full), WriteFailed);
        EXPECT_FALSE(std::filesystem::is_symlink(full));
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    }
}

TEST(WriteResourceFile, ImagesAsJpegOrPng) {
    TempDir dir;
    SWFImage jpeg(0, filled(kFormatRGB, 5, 3, {200, 10, 10}), true, 10);
    ASSERT_EQ(writeResourceFile(jpeg, dir.file("x.jpg")), WriteOk);
    const Bytes j = readAll(dir.file("x.jpg"));
    ASSERT_GE(j.size(), 4u);
    EXPECT_EQ(j[0], 0xFF);
    EXPECT_EQ(j[1], 0xD8);

    SWFImage png(0, filled(kFormatRGBA, 5, 3, {200, 10, 10, 7}), true, 10);
    ASSERT_EQ(writeResourceFile(png, dir.file("x.png")), WriteOk);
    const Bytes p = readAll(dir.file("x.png"));
    ASSERT_GE(p.size(), 8u);
    EXPECT_EQ(p[1], 'P');
}

TEST(WriteOptions, StraightAlphaByDefaultPremultipliedOnRequest) {
    TempDir dir;
    SWFImage image(0, filled(kFormatRGBA, 2, 2, {100, 50, 0, 128}), false, 10);
    image.premultiplied = true;
    WriteOptions premultiplied;
    premultiplied.premultipliedAlpha = true;
    ASSERT_EQ(writeResourceFile(image, dir.file("pre.png"), premultiplied), WriteOk);
    ASSERT_EQ(writeResourceFile(image, dir.file("straight.png")), WriteOk);

    const Bytes pre = readAll(dir.file("pre.png"));
    const Bytes str = readAll(dir.file("straight.png"));
    auto prePicture = readPng(pre.data(), pre.size(), nullptr, nullptr);
    auto strPicture = readPng(str.data(), str.size(), nullptr, nullptr);
    ASSERT_TRUE(prePicture && strPicture);
    const std::uint8_t* a = prePicture->row(0);
    const std::uint8_t* b = strPicture->row(0);
    EXPECT_EQ((std::vector<int>{a[0], a[1], a[2], a[3]}), (std::vector<int>{100, 50, 0, 128}));
    EXPECT_EQ((std::vector<int>{b[0], b[1], b[2], b[3]}), (std::vector<int>{199, 100, 0, 128}));

    // Images whose colours are not premultiplied are written as they are.
    SWFImage plain(0, filled(kFormatRGBA, 2, 2, {100, 50, 0, 128}), false, 10);
    ASSERT_EQ(writeResourceFile(plain, dir.file("plain.png")), WriteOk);
    EXPECT_EQ(readAll(dir.file("plain.png")), pre);

    // A palette with alpha has its entries divided; alpha 0 gives black.
    auto indexed = OBPicture::create(kFormatIndexed, 2, 1);
    indexed->setColourCount(2);
    const std::uint8_t e0[4] = {64, 64, 64, 64}, e1[4] = {10, 20, 30, 0};
    std::copy(e0, e0 + 4, indexed->paletteEntry(0));
    std::copy(e1, e1 + 4, indexed->paletteEntry(1));
    indexed->setPaletteKind(2);
    indexed->row(0)[0] = 0;
    indexed->row(0)[1] = 1;
    auto divided = unpremultiplied(*indexed);
    ASSERT_TRUE(divided);
    EXPECT_EQ(divided->paletteEntry(0)[0], 255);
    EXPECT_EQ(divided->paletteEntry(1)[2], 0);
    EXPECT_EQ(unpremultiplied(*filled(kFormatRGB, 1, 1, {1, 2, 3})), nullptr);
}

TEST(WriteOptions, StraightColoursMultiplyBackToTheStoredValues) {
    // Every premultiplied value a movie can hold (colour <= alpha), divided
    // and multiplied back, lands on the stored value.
    auto all = OBPicture::create(kFormatGrayAlpha, 256, 256);
    ASSERT_TRUE(all);
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) {
            all->row(a)[2 * c] = std::uint8_t(std::min(c, a));
            all->row(a)[2 * c + 1] = std::uint8_t(a);
        }
    }
    auto straight = unpremultiplied(*all);
    ASSERT_TRUE(straight);
    int mismatches = 0;
    for (int a = 0; a < 256; ++a) {
        for (int c = 0; c < 256; ++c) {
            const int stored = std::min(c, a);
            const int back = (straight->row(a)[2 * c] * a + 127) / 255;
            if (back != stored || straight->row(a)[2 * c + 1] != a) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(WriteOptions, FullyTransparentPixelsAreWrittenAsZeros) {
    TempDir dir;
    // Colour left in transparent pixels: a premultiplied record (invalid
    // data, but files hold it) and a straight one such as a PNG payload.
    for (bool premultiplied : {true, false}) {
        SCOPED_TRACE(premultiplied);
        auto picture = filled(kFormatRGBA, 2, 1, {40, 30, 20, 0});
        std::uint8_t* opaque = picture->row(0) + 4;
        opaque[0] = 90, opaque[3] = 255;
        SWFImage image(0, std::move(picture), false, 10);
        image.premultiplied = premultiplied;
        ASSERT_EQ(writeResourceFile(image, dir.file("t.png")), WriteOk);
        const Bytes png = readAll(dir.file("t.png"));
        auto back = readPng(png.data(), png.size(), nullptr, nullptr);
        ASSERT_TRUE(back);
        const std::uint8_t* px = back->row(0);
        EXPECT_EQ((std::vector<int>{px[0], px[1], px[2], px[3]}), (std::vector<int>{0, 0, 0, 0}));
        EXPECT_EQ((std::vector<int>{px[4], px[5], px[6], px[7]}), (std::vector<int>{90, 30, 20, 255}));
    }
}

TEST(WriteOptions, OriginalJpegWritesTheFileBytesOnlyWithoutAlpha) {
    TempDir dir;
    SWFImage image(0, filled(kFormatRGB, 4, 4, {10, 200, 30}), true, 10);
    image.originalJpeg = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
    WriteOptions original;
    original.originalJpeg = true;
    ASSERT_EQ(writeResourceFile(image, dir.file("o.jpg"), original), WriteOk);
    EXPECT_EQ(readAll(dir.file("o.jpg")), image.originalJpeg);
    ASSERT_EQ(writeResourceFile(image, dir.file("r.jpg")), WriteOk);
    EXPECT_NE(readAll(dir.file("r.jpg")), image.originalJpeg);  // re-encoded by default

    SWFImage alpha(0, filled(kFormatRGBA, 4, 4, {10, 200, 30, 9}), true, 10);
    alpha.originalJpeg = image.originalJpeg;
    ASSERT_EQ(writeResourceFile(alpha, dir.file("a.png"), original), WriteOk);
    EXPECT_EQ(readAll(dir.file("a.png"))[1], 'P');
}

}  // namespace
}  // namespace kestrel::test
