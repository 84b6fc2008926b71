#include <algorithm>
#include <cstring>

#include "base/memory_budget.h"
#include "document/swf_document.h"
#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

class RecordingMessages final : public MessageSink {
public:
    struct Shown {
        std::string text;
        MessageIcon icon;
    };
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons) override {
        shown.push_back({text, icon});
        return MessageAnswer::Ok;
    }
    std::vector<Shown> shown;
};

std::unique_ptr<OBPicture> rgbPicture(int w, int h, std::uint8_t seed) {
    auto p = OBPicture::create(kFormatRGB, w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w * 3; ++x) p->row(y)[x] = std::uint8_t(seed + x * 7 + y);
    }
    return p;
}

std::unique_ptr<OFSound> pcmSound(std::uint16_t frame, std::size_t bytes) {
    auto s = std::make_unique<OFSound>();
    s->format = SoundFormat::Uncompressed;
    s->rate = 3;
    s->is16Bit = true;
    s->frame = frame;
    s->addBlock(Bytes(bytes, 0).data(), bytes);
    return s;
}

// image(frame, w x h, body), sound(frame, bytes) in a given order.
struct Fixture {
    SWFDocument doc;
    void image(std::uint16_t frame, int w, int h, std::uint32_t body, bool jpeg = true) {
        doc.addImage(frame, rgbPicture(w, h, std::uint8_t(frame)), jpeg, body);
    }
    void sound(std::uint16_t frame, std::size_t bytes) { doc.addSound(pcmSound(frame, bytes)); }
    std::string order() const {
        std::string out;
        for (int i = 0; i < doc.count(); ++i) {
            const SWFRes& r = doc.resource(i);
            out += (r.kind == kKindImage ? "I" : "S") + std::to_string(r.frame) + " ";
        }
        return out;
    }
};

TEST(SwfDocumentSort, FlippingAndCriteria) {
    Fixture f;
    f.image(4, 10, 10, 5000);
    f.sound(1, 44100 * 2 * 3);  // 3 s
    f.image(2, 2, 2, 300);
    f.sound(0, 44100 * 2 / 10);  // 100 ms
    f.image(0, 50, 50, 100);

    f.doc.sort(2);
    EXPECT_EQ(f.order(), "S1 I1 S2 I3 I5 ");
    f.doc.sort(-2);
    EXPECT_EQ(f.order(), "I5 I3 S2 I1 S1 ");
    f.doc.sort(4);  // images by pixel count, then sounds by duration
    EXPECT_EQ(f.order(), "I3 I5 I1 S1 S2 ");
    f.doc.sort(-4);
    EXPECT_EQ(f.order(), "S2 S1 I1 I5 I3 ");
    f.doc.sort(3);
    EXPECT_EQ(f.order(), "I1 I3 I5 S1 S2 ");
    f.doc.sort(0);
    f.doc.sort(6);
    f.doc.sort(-9);
    EXPECT_EQ(f.order(), "I1 I3 I5 S1 S2 ");  // unchanged
}

TEST(SwfDocumentSort, ByTypeImagesFirstThenTypeText) {
    Fixture f;
    f.sound(0, 10);
    f.image(1, 4, 4, 10, false);  // PNG RGB
    f.image(2, 4, 4, 10, true);   // JPEG RGB
    f.doc.sort(1);
    EXPECT_EQ(f.order(), "I3 I2 S1 ");
    f.doc.sort(-1);
    EXPECT_EQ(f.order(), "S1 I2 I3 ");
}

TEST(SwfDocumentSort, EqualKeysFollowTheSelectionSort) {
    // Equal frames: the earliest equal record is kept as candidate, so a
    // plain ascending pass leaves equal records in place.
    Fixture f;
    f.image(0, 1, 1, 30);
    f.image(0, 1, 1, 10);
    f.image(0, 1, 1, 20);
    f.doc.sort(2);
    EXPECT_EQ(f.doc.resource(0).memorySize, 30);
    EXPECT_EQ(f.doc.resource(1).memorySize, 10);
    EXPECT_EQ(f.doc.resource(2).memorySize, 20);
}

TEST(SwfDocumentRead, NumbersImagesAndSoundsApartInReadingOrder) {
    TempDir dir;
    Tags t;
    t.tag(kTagDefineBitsLossless, losslessBody(1, 5, 1, 1, deflate(argbRows({0xFF0000FF}))))
        .tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 3, {1, 2, 3}))
        .tag(kTagDefineBitsLossless, losslessBody(3, 5, 1, 1, deflate(argbRows({0x00FF00FF}))))
        .tag(kTagDefineSound, defineSoundBody(4, 0, 1, false, false, 3, {1, 2, 3}))
        .tag(kTagDefineSound, defineSoundBody(5, 0, 1, false, false, 3, {1, 2, 3}))
        .end();
    SWFDocument doc;
    RecordingMessages messages;
    ASSERT_TRUE(doc.readFile(dir.write("clip.v2.swf", SwfFile().tags(t).bytes()), nullptr, &messages));
    EXPECT_TRUE(messages.shown.empty());
    std::string numbers;
    for (int i = 0; i < doc.count(); ++i) {
        numbers += (doc.resource(i).kind == kKindImage ? "I" : "S") + std::to_string(doc.resource(i).number);
    }
    EXPECT_EQ(numbers, "I1S1I2S2S3");
    EXPECT_EQ(doc.resourceFileName(0, 1), "clip.v2-1.png");
    EXPECT_EQ(doc.resourceFileName(3, 2), "clip.v2-2.wav");
}

TEST(SwfDocumentRead, MessagesForEveryResult) {
    TempDir dir;
    Tags good;
    good.tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 3, {1, 2, 3})).end();
    Tags zeroWidth;
    zeroWidth.tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 3, {1, 2, 3}))
        .tag(kTagDefineBitsLossless, losslessBody(1, 5, 0, 1, deflate(Bytes(4, 0))))
        .end();
    Tags someFailed;
    someFailed.tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 3, {1, 2, 3}))
        .tag(kTagDefineBitsLossless, losslessBody(1, 9, 1, 1, deflate(Bytes(4, 0))))
        .end();
    Bytes notSwf = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0};
    // Many resources, then a compressed body cut short: those before the cut stay.
    Tags many;
    for (int i = 0; i < 200; ++i) many.tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 3, Bytes(300, i)));
    many.end();
    Bytes cut = SwfFile().compressed().tags(many).bytes();
    cut.resize(cut.size() - 8);

    struct Case {
        std::string path;
        bool usable;
        int result;
        std::string message;  // the problem lines follow it
        MessageIcon icon;
        int records;
        std::string problems;
    };
    const std::string damaged = "Unable to read the SWF file. It may be truncated or damaged.";
    const std::string notSwfPath = dir.write("pic.swf", notSwf);
    const std::string missing = dir.file("missing.swf");
    const Case cases[] = {
        {dir.write("good.swf", SwfFile().tags(good).bytes()), true, kReadOk, "", MessageIcon::Error, 1, ""},
        {missing, false, kReadCannotOpen, "Unable to open file " + missing, MessageIcon::Error, 0, ""},
        // A bitmap of width 0 fails alone; the sound before it stays.
        {dir.write("zero.swf", SwfFile().tags(zeroWidth).bytes()), true, kReadSomeFailed,
         "Errors occurred while reading some resources.", MessageIcon::Warning, 1,
         "\n  DefineBitsLossless (tag 20) at offset 33: lossless bitmap of width 0"},
        {dir.write("some.swf", SwfFile().tags(someFailed).bytes()), true, kReadSomeFailed,
         "Errors occurred while reading some resources.", MessageIcon::Warning, 1,
         "\n  DefineBitsLossless (tag 20) at offset 33: unknown lossless format 9"},
        {notSwfPath, false, kReadNotSwf, "The file " + notSwfPath + " is not a SWF file", MessageIcon::Error, 0, ""},
        {dir.write("cut.swf", cut), true, kReadDamaged, damaged, MessageIcon::Error, 199,
         "\n  Body at offset BODY: zlib stream cut short"},
        {dir.write("short.swf", Bytes(cut.begin(), cut.begin() + 20)), false, kReadDamaged, damaged, MessageIcon::Error,
         0, "\n  Body at offset BODY: zlib stream cut short"},
    };
    for (const Case& c : cases) {
        SWFDocument doc;
        RecordingMessages messages;
        EXPECT_EQ(doc.readFile(c.path, nullptr, &messages), c.usable) << c.path;
        EXPECT_EQ(doc.readResult(), c.result) << c.path;
        EXPECT_EQ(doc.count(), c.records) << c.path;
        if (c.message.empty()) {
            EXPECT_TRUE(messages.shown.empty());
            EXPECT_TRUE(doc.problems().empty());
        } else {
            std::string problems = c.problems;
            if (const auto at = problems.find("BODY"); at != std::string::npos)
                problems.replace(at, 4, std::to_string(8 + doc.bodyBytes()));
            ASSERT_EQ(messages.shown.size(), 1u) << c.path;
            EXPECT_EQ(messages.shown[0].text, c.message + problems);
            EXPECT_EQ(messages.shown[0].icon, c.icon);
        }
    }
}

TEST(SwfDocumentRead, ProblemLinesAndOrigins) {
    EXPECT_EQ(problemText({0, 4, "declared length out of range"}), "Header at offset 4: declared length out of range");
    EXPECT_EQ(problemText({77, 900, "x"}), "Tag 77 at offset 900: x");
    std::vector<Problem> many(25, Problem{35, 10, "JPEG: bogus Huffman table"});
    const std::string text = messageWithProblems("Head.", many);
    EXPECT_EQ(text.rfind("Head.\n  DefineBitsJPEG3 (tag 35) at offset 10: JPEG: bogus Huffman table\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
    EXPECT_TRUE(text.ends_with("\n  ... and 5 more"));

    // Tag, character id and timeline travel from the reader to the records.
    TempDir dir;
    Tags sprite;
    sprite.tag(kTagSoundStreamHead, soundStreamHeadBody(0, 1, false, false, 4))
        .tag(kTagSoundStreamBlock, Bytes(4, 9))
        .showFrame()
        .tag(kTagDefineBitsLossless2, losslessBody(21, 5, 1, 1, deflate(Bytes(4, 0xFF))))
        .end();
    Tags t;
    t.tag(kTagDefineSound, defineSoundBody(7, 0, 1, false, false, 3, {1, 2, 3})).sprite(30, 1, sprite).end();
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("o.swf", SwfFile().lzma().tags(t).bytes()), nullptr, nullptr));
    ASSERT_EQ(doc.count(), 3);
    struct Origin {
        int tag, id, timeline;
        bool operator==(const Origin&) const = default;
    };
    std::vector<Origin> origins;
    for (int i = 0; i < doc.count(); ++i) {
        const SWFRes& r = doc.resource(i);
        origins.push_back({r.tag, r.characterId, r.timeline});
    }
    // Reading order: the event sound, the sprite's bitmap, then its stream
    // sound when the sprite ends.
    EXPECT_EQ(origins, (std::vector<Origin>{{14, 7, 0}, {36, 21, 30}, {18, -1, 30}}));
    EXPECT_TRUE(doc.compressed());
    EXPECT_EQ(doc.bodyBytes(), SwfFile().tags(t).bytes().size() - 8);
}

TEST(SwfDocumentRead, PicturesBeyondTheMemoryBudgetFailInsteadOfExhaustingMemory) {
    TempDir dir;
    // Three 20 x 20 RGB bitmaps of 1200 bytes each, with distinct colours.
    Tags t;
    std::size_t third = 0;  // offset of the third tag, which is refused
    for (std::uint32_t c : {0xFF0000FFu, 0x00FF00FFu, 0x0000FFFFu}) {
        third = SwfFile().tags(t).bytes().size();
        t.tag(kTagDefineBitsLossless,
              losslessBody(1, 5, 20, 20, deflate(argbRows(std::vector<std::uint32_t>(400, c)))));
    }
    t.end();
    const std::string path = dir.write("big.swf", SwfFile().tags(t).bytes());

    const std::int64_t saved = MemoryBudget::limit();
    const std::int64_t before = MemoryBudget::inUse();
    MemoryBudget::setLimit(before + 2500);
    {
        SWFDocument doc;
        RecordingMessages messages;
        EXPECT_TRUE(doc.readFile(path, nullptr, &messages));
        EXPECT_EQ(doc.readResult(), kReadSomeFailed);
        EXPECT_EQ(doc.count(), 2);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text,
                  "Errors occurred while reading some resources.\n  DefineBitsLossless (tag 20) at offset " +
                      std::to_string(third) + ": not enough memory for the picture");
        ASSERT_EQ(doc.problems().size(), 1u);
        EXPECT_EQ(doc.problems()[0].tag, 20);
        EXPECT_EQ(MemoryBudget::inUse(), before + 2400);
    }
    EXPECT_EQ(MemoryBudget::inUse(), before);  // closing gives it back
    SWFDocument again;
    EXPECT_TRUE(again.readFile(path, nullptr, nullptr));
    EXPECT_EQ(again.count(), 2);
    MemoryBudget::setLimit(saved);
}

}  // namespace
}  // namespace kestrel::test
