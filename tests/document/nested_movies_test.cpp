// Movies, pictures and MP3 files inside DefineBinaryData: listed after the
// movie's own resources with the tag they come from, numbered on, named by
// their own movie, and damage inside them reported on the file without
// losing what came before.
#include <cstdio>

#include "base/memory_budget.h"
#include "document/swf_document.h"
#include "reader/picture/jpeg_codec.h"
#include "reader/picture/png_codec.h"
#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

// A lossless bitmap `width` pixels wide and one high, so that records can
// be told apart by their width.
Bytes bitmap(std::uint16_t id, std::uint16_t width) {
    return losslessBody(id, 5, width, 1, deflate(argbRows(std::vector<std::uint32_t>(width, 0x336699FF))));
}

Tags binary(std::uint16_t id, const Bytes& payload) {
    Tags t;
    t.tag(kTagDefineBinaryData, defineBinaryDataBody(id, payload));
    return t;
}

struct Listed {
    int kind;
    int number;
    int width;  // images; 0 for sounds
    std::string container;
    bool operator==(const Listed&) const = default;
};

std::vector<Listed> listing(const SWFDocument& doc) {
    std::vector<Listed> out;
    for (int i = 0; i < doc.count(); ++i) {
        const SWFRes& r = doc.resource(i);
        const int width = r.kind == kKindImage ? static_cast<const SWFImage&>(r).payload->width() : 0;
        out.push_back({r.kind, r.number, width, r.container});
    }
    return out;
}

std::string read(SWFDocument& doc, const TempDir& dir, const Bytes& file) {
    doc.readFile(dir.write("movie.swf", file), nullptr, nullptr);
    std::string problems;
    for (const Problem& p : doc.problems()) problems += problemText(p) + "\n";
    return problems;
}

// Offset of the first tag after `before` in a plain movie built from them.
std::size_t offsetAfter(const Tags& before) { return SwfFile().tags(before).bytes().size(); }

Bytes encoded(bool png) {
    auto picture = OBPicture::create(png ? kFormatRGBA : kFormatRGB, 7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < picture->stride(); ++x) picture->row(y)[x] = std::uint8_t(x * 9 + y * 40);
    std::FILE* tmp = std::tmpfile();
    const bool ok = png ? writePng(*picture, tmp, 6) : writeJpeg(*picture, tmp, 90);
    Bytes bytes(ok ? std::size_t(std::ftell(tmp)) : 0);
    std::rewind(tmp);
    if (std::fread(bytes.data(), 1, bytes.size(), tmp) != bytes.size()) bytes.clear();
    std::fclose(tmp);
    return bytes;
}

TEST(NestedMovies, CompressedInsidePlainNumbersOnWithTheirOrigins) {
    Tags inner;
    inner.tag(kTagDefineBitsLossless, bitmap(1, 4))
        .tag(kTagDefineSound, defineSoundBody(2, 3, 1, false, false, 500, Bytes(500, 0x80)))
        .tag(kTagSymbolClass, namesBody({{2, "InnerSound"}}))
        .showFrame()
        .end();
    Tags middle = binary(3, SwfFile().compressed().tags(inner).bytes());
    middle.tag(kTagDefineBitsLossless, bitmap(1, 3))
        .tag(kTagExportAssets, namesBody({{1, "Middle"}}))
        .showFrame()
        .end();
    Tags outer;
    outer.tag(kTagDefineBitsLossless, bitmap(1, 1))
        .tag(kTagDefineSound, defineSoundBody(2, 3, 1, false, false, 300, Bytes(300, 0x80)))
        .raw(binary(12, SwfFile().tags(middle).bytes()).bytes())
        .tag(kTagDefineBitsLossless, bitmap(5, 2))
        .tag(kTagSymbolClass, namesBody({{1, "Outer"}, {5, "Late"}}))
        .showFrame()
        .end();

    TempDir dir;
    SWFDocument doc;
    EXPECT_EQ(read(doc, dir, SwfFile().lzma().tags(outer).bytes()), "");
    EXPECT_EQ(doc.readResult(), kReadOk);
    const std::vector<Listed> want = {
        {kKindImage, 1, 1, ""},
        {kKindSound, 1, 0, ""},
        {kKindImage, 2, 2, ""},
        {kKindImage, 3, 3, "binary 12"},
        {kKindImage, 4, 4, "binary 12/binary 3"},
        {kKindSound, 2, 0, "binary 12/binary 3"},
    };
    EXPECT_EQ(listing(doc), want);
    EXPECT_EQ(doc.resource(4).characterId, 1);
    // Each movie names its own ids, whatever the ids of the others.
    const std::vector<std::vector<std::string>> names = {{"Outer"}, {}, {"Late"}, {"Middle"}, {}, {"InnerSound"}};
    for (int i = 0; i < doc.count(); ++i) EXPECT_EQ(doc.resource(i).names, names[std::size_t(i)]) << i;
    EXPECT_EQ(doc.resourceFileName(5, doc.resource(5).number), "movie-2.wav");
}

TEST(NestedMovies, DamageInsideIsAProblemOfTheFileAndKeepsWhatCameBefore) {
    // A bitmap, then a sound of noise that neither cut leaves whole.
    Bytes noise(20000);
    std::uint32_t seed = 1;
    for (std::uint8_t& b : noise) b = std::uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    Tags inner;
    inner.tag(kTagDefineBitsLossless, bitmap(1, 2))
        .tag(kTagDefineSound, defineSoundBody(2, 3, 1, false, false, 20000, noise))
        .showFrame()
        .end();
    const Bytes packed = SwfFile().compressed().tags(inner).bytes();
    const Bytes plain = SwfFile().tags(inner).bytes();

    Tags first;
    first.tag(kTagDefineBitsLossless, bitmap(1, 1));
    Tags outer = first;
    // Each cut keeps the bitmap at the start of the movie.
    outer.raw(binary(7, Bytes(packed.begin(), packed.begin() + std::ptrdiff_t(packed.size() / 2))).bytes())
        .raw(binary(8, Bytes(plain.begin(), plain.begin() + 200)).bytes())
        .showFrame()
        .end();

    TempDir dir;
    SWFDocument doc;
    const std::string problems = read(doc, dir, SwfFile().compressed().tags(outer).bytes());
    EXPECT_EQ(doc.readResult(), kReadSomeFailed);
    const std::vector<Listed> want = {
        {kKindImage, 1, 1, ""}, {kKindImage, 2, 2, "binary 7"}, {kKindImage, 3, 2, "binary 8"}};
    EXPECT_EQ(listing(doc), want);
    ASSERT_EQ(doc.problems().size(), 2u) << problems;
    const std::size_t at = offsetAfter(first);
    const std::string head = "DefineBinaryData (tag 87) at offset " + std::to_string(at) + ": movie in binary 7: body";
    EXPECT_EQ(problemText(doc.problems()[0]).rfind(head, 0), 0u) << problems;
    EXPECT_TRUE(problems.find("zlib stream cut short") != std::string::npos) << problems;
    EXPECT_EQ(doc.problems()[1].tag, 87);
    EXPECT_GT(doc.problems()[1].offset, at);
    EXPECT_EQ(doc.problems()[1].reason,
              "movie in binary 8: cut short (200 of " + std::to_string(plain.size()) + " bytes)");
}

TEST(NestedMovies, PicturesAndMp3FilesBecomeResourcesOtherPayloadsAreLeftAlone) {
    const Bytes png = encoded(true);
    const Bytes jpeg = encoded(false);
    ASSERT_FALSE(png.empty());
    ASSERT_FALSE(jpeg.empty());
    const Bytes mp3 = readAll(dataFile("stereo-vbr.mp3"));
    ASSERT_GT(mp3.size(), 1000u);
    // An ID3v2.4 tag of 20 bytes: a TIT2 frame of 10 bytes header and 10 of text.
    Bytes tagged = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20, 'T', 'I', 'T', '2', 0, 0, 0, 10, 0, 0, 3};
    for (const char c : std::string("\xFF\xE3\x18jump!!")) tagged.push_back(std::uint8_t(c));
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());

    Tags t;
    t.raw(binary(1, png).bytes())
        .raw(binary(2, jpeg).bytes())
        .raw(binary(3, tagged).bytes())
        .raw(binary(4, {0xFF, 0xFB, 0x90, 0x00, 'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'}).bytes())
        .raw(binary(5, {'<', 'x', 'm', 'l', '/', '>'}).bytes())
        .showFrame()
        .end();
    TempDir dir;
    SWFDocument doc;
    EXPECT_EQ(read(doc, dir, SwfFile().tags(t).bytes()), "");
    EXPECT_EQ(doc.readResult(), kReadOk);
    ASSERT_EQ(doc.count(), 3);

    const auto& fromPng = static_cast<const SWFImage&>(doc.resource(0));
    EXPECT_EQ(fromPng.container, "binary 1");
    EXPECT_FALSE(fromPng.isJpeg);
    EXPECT_TRUE(fromPng.payload->hasAlpha());
    const auto& fromJpeg = static_cast<const SWFImage&>(doc.resource(1));
    EXPECT_EQ(fromJpeg.container, "binary 2");
    EXPECT_TRUE(fromJpeg.isJpeg);
    EXPECT_EQ(fromJpeg.payload->width(), 7);
    EXPECT_EQ(fromJpeg.extension(), ".jpg");

    const auto& sound = static_cast<const SWFSound&>(doc.resource(2));
    EXPECT_EQ(sound.container, "binary 3");
    EXPECT_EQ(sound.characterId, 3);
    EXPECT_EQ(sound.extension(), ".mp3");
    EXPECT_EQ(sound.payload->format, SoundFormat::Mp3);
    EXPECT_TRUE(sound.payload->stereo);
    // The frames of the file, not the sync-like bytes of its ID3 tag.
    OFSound bare;
    bare.format = SoundFormat::Mp3;
    ASSERT_TRUE(bare.addBlock(mp3.data(), mp3.size()));
    EXPECT_EQ(sound.durationMs, bare.mp3Duration());
    EXPECT_GT(sound.durationMs, 500);
    // 1.5 s at 44.1 kHz, in whole frames of 1152 samples with the encoder's padding.
    EXPECT_GE(sound.payload->sampleCount, 66150u);
    EXPECT_LT(sound.payload->sampleCount, 66150u + 3 * 1152);
    EXPECT_EQ(soundRateHz(sound.payload->rate), 44100u);
    // Extracted as the file it is.
    ASSERT_EQ(writeResourceFile(sound, dir.file("sound.mp3")), WriteOk);
    EXPECT_EQ(readAll(dir.file("sound.mp3")), tagged);
}

TEST(NestedMovies, AMovieClaimingGigabytesTakesOnlyWhatItHolds) {
    Tags inner;
    inner.tag(kTagDefineBitsLossless, bitmap(1, 3)).showFrame().end();
    const std::int64_t limit = MemoryBudget::limit();
    MemoryBudget::setLimit(std::int64_t(16) << 20);
    Tags t;
    t.raw(binary(1, SwfFile().declaredLength(0x7FFFFFF0).tags(inner).bytes()).bytes())
        .raw(binary(2, SwfFile().compressed().declaredLength(0x7FFFFFF0).tags(inner).bytes()).bytes())
        .raw(binary(3, SwfFile().lzma().declaredLength(0x7FFFFFF0).tags(inner).bytes()).bytes())
        .showFrame()
        .end();
    TempDir dir;
    SWFDocument doc;
    const std::string problems = read(doc, dir, SwfFile().tags(t).bytes());
    MemoryBudget::setLimit(limit);
    const std::vector<Listed> want = {
        {kKindImage, 1, 3, "binary 1"}, {kKindImage, 2, 3, "binary 2"}, {kKindImage, 3, 3, "binary 3"}};
    EXPECT_EQ(listing(doc), want) << problems;
    // The plain one has lost its end; the zlib stream ends where it should.
    EXPECT_NE(problems.find("movie in binary 1: cut short"), std::string::npos) << problems;
    EXPECT_EQ(problems.find("binary 2"), std::string::npos) << problems;
}

TEST(NestedMovies, NestingStopsFourLevelsDown) {
    Bytes movie;
    for (std::uint16_t width = 6; width >= 1; --width) {
        Tags t;
        t.tag(kTagDefineBitsLossless, bitmap(1, width));
        if (!movie.empty()) t.raw(binary(9, movie).bytes());
        t.showFrame().end();
        movie = width % 2 ? SwfFile().compressed().tags(t).bytes() : SwfFile().tags(t).bytes();
    }
    TempDir dir;
    SWFDocument doc;
    EXPECT_EQ(read(doc, dir, movie), "");
    const std::vector<Listed> want = {
        {kKindImage, 1, 1, ""},
        {kKindImage, 2, 2, "binary 9"},
        {kKindImage, 3, 3, "binary 9/binary 9"},
        {kKindImage, 4, 4, "binary 9/binary 9/binary 9"},
        {kKindImage, 5, 5, "binary 9/binary 9/binary 9/binary 9"},
    };
    EXPECT_EQ(listing(doc), want);
}

}  // namespace
}  // namespace kestrel::test
