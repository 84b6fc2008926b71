#include <sys/resource.h>
#include <sys/stat.h>

#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

// A tiny uncompressed event sound whose single data byte marks it.
Bytes markedSound(std::uint8_t mark) { return defineSoundBody(1, 0, 1, false, false, 1, {mark}); }

std::uint8_t markOf(const OFSound& s) { return s.blocks.at(0).data.at(0); }

struct ReadOutcome {
    bool ok;
    int result;
};

ReadOutcome readBytes(const Bytes& file, RecordingSink& sink, ReaderProgress* progress = nullptr) {
    SWFReader reader(&sink);
    const bool ok = reader.readMemory(file, progress);
    return {ok, reader.result()};
}

std::vector<int> marks(const RecordingSink& sink) {
    std::vector<int> out;
    for (const auto& s : sink.sounds) out.push_back(markOf(*s));
    return out;
}

// --- header ------------------------------------------------------------------

// The smallest useful timeline: the body must hold at least 20 bytes.
Tags emptyTimeline() {
    Tags t;
    t.tag(777, Bytes(8, 0)).end();
    return t;
}

TEST(SwfHeader, SignatureAndLengthRejections) {
    struct Case {
        const char* what;
        Bytes file;
        bool ok;
        int result;
    };
    const Tags t = emptyTimeline();
    const Bytes good = SwfFile().tags(t).bytes();
    Bytes zws = good;
    zws[0] = 'Z';
    Bytes lower = good;
    lower[1] = 'w';
    const Case cases[] = {
        {"empty file", {}, false, kReadDamaged},
        {"seven bytes of FWS", Bytes(good.begin(), good.begin() + 7), false, kReadDamaged},
        {"seven bytes of garbage", Bytes{'G', 'I', 'F', '8', '9', 'a', 0}, false, kReadDamaged},
        {"LZMA signature", zws, false, kReadNotSwf},
        {"lower-case signature", lower, false, kReadNotSwf},
        {"declared 20", SwfFile().tags(t).declaredLength(20).bytes(), false, kReadDamaged},
        {"declared negative", SwfFile().tags(t).declaredLength(0x80000000u).bytes(), false, kReadDamaged},
        {"declared 27", SwfFile().tags(t).declaredLength(27).bytes(), false, kReadDamaged},
        {"plain", good, true, kReadOk},
        {"compressed", SwfFile().compressed().tags(t).bytes(), true, kReadOk},
    };
    for (const Case& c : cases) {
        RecordingSink sink;
        const ReadOutcome r = readBytes(c.file, sink);
        EXPECT_EQ(r.ok, c.ok) << c.what;
        EXPECT_EQ(r.result, c.result) << c.what;
    }
}

TEST(SwfHeader, TwentyEightBytesWithACompleteBodyIsAccepted) {
    // 8 header bytes + 20 body bytes: RECT, rate, count and padding tags.
    Bytes body = SwfFile().frames(1).body({}).uncompressedBody();
    body.resize(20, 0);  // zero bytes read as End tags
    Writer w;
    w.text("FWS").u8(6).u32(28).bytes(body);
    RecordingSink sink;
    const ReadOutcome r = readBytes(w.take(), sink);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, kReadOk);
}

TEST(SwfHeader, CompressedStreamThatIsCutOrTooLongIsDamaged) {
    Tags t;
    for (int i = 0; i < 50; ++i) t.tag(kTagDefineSound, markedSound(std::uint8_t(i)));
    t.end();
    const Bytes full = SwfFile().compressed().tags(t).bytes();

    // The walk may already have handed over resources (the body inflates
    // while the tags are read); the result tells the caller to drop them.
    RecordingSink cut;
    const ReadOutcome r = readBytes(Bytes(full.begin(), full.end() - 10), cut);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.result, kReadDamaged);

    const std::uint32_t trueLength = std::uint32_t(SwfFile().tags(t).bytes().size());
    RecordingSink small;
    EXPECT_EQ(readBytes(SwfFile().compressed().tags(t).declaredLength(trueLength - 1).bytes(), small).result,
              kReadDamaged);

    RecordingSink corrupt;
    Bytes bad = full;
    bad[12] ^= 0x55;
    bad[13] ^= 0xAA;
    EXPECT_EQ(readBytes(bad, corrupt).result, kReadDamaged);
}

TEST(SwfHeader, PlainFileShorterThanDeclaredIsReadAsFarAsItGoes) {
    Tags t;
    t.tag(kTagDefineSound, markedSound(1)).tag(kTagDefineSound, markedSound(2)).end();
    const Bytes file = SwfFile().tags(t).declaredLength(100000).bytes();
    RecordingSink sink;
    const ReadOutcome r = readBytes(file, sink);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, kReadOk);
    EXPECT_EQ(marks(sink), (std::vector<int>{1, 2}));
}

TEST(SwfHeader, FrameRateAndCount) {
    const Tags t = emptyTimeline();
    for (auto [raw, rate] : {std::pair{0x0C00, 12.0f}, std::pair{0x1880, 24.5f}}) {
        RecordingSink sink;
        SWFReader reader(&sink);
        reader.readMemory(SwfFile().frameRate(std::uint16_t(raw)).frames(7).version(9).tags(t).bytes(), nullptr);
        EXPECT_FLOAT_EQ(reader.frameRate(), rate);
        EXPECT_EQ(reader.frameCount(), 7);
        EXPECT_EQ(reader.version(), 9);
    }
}

// --- primitives --------------------------------------------------------------

TEST(SwfPrimitives, ShortReadsGiveZeroAndKeepState) {
    RecordingSink sink;
    SWFReader r(&sink);
    r.setDataForTesting({0xA5, 0x01, 0x02, 0x03});
    EXPECT_EQ(r.readBits(3), 0b101u);
    EXPECT_EQ(r.readU32(), 0u);  // only 3 bytes left: nothing changes
    EXPECT_EQ(r.position(), 1u);
    EXPECT_EQ(r.readBits(5), 0b00101u);  // the bit buffer was kept
    EXPECT_EQ(r.readU16(), 0x0201);
    EXPECT_EQ(r.readU16(), 0u);
    EXPECT_EQ(r.readU8(), 0x03);
    EXPECT_EQ(r.readU8(), 0);
    EXPECT_EQ(r.position(), 4u);
    std::uint8_t dest[4] = {9, 9, 9, 9};
    EXPECT_EQ(r.readBytes(4, dest), 0u);
    EXPECT_EQ(dest[0] | dest[1] | dest[2] | dest[3], 0);
}

TEST(SwfPrimitives, BitsSignsAndRect) {
    RecordingSink sink;
    SWFReader r(&sink);
    r.setDataForTesting({0xFF, 0xFF, 0xFF, 0xFF, 0x80});
    EXPECT_EQ(r.readBits(32), 0xFFFFFFFFu);
    EXPECT_EQ(r.readSignedBits(0), 0);
    EXPECT_EQ(r.readSignedBits(1), -1);
    EXPECT_EQ(r.readBits(7), 0u);
    EXPECT_EQ(r.readBits(4), 0u);  // past the end: zeros

    // RECT with nbits 15: 0, 11000, -20, 8000.
    Writer w;
    w.bits(15, 5).bits(0, 15).bits(11000, 15).bits(std::uint32_t(-20) & 0x7FFF, 15).bits(8000, 15);
    SWFReader rect(&sink);
    rect.setDataForTesting(w.take());
    const SwfRect got = rect.readRect();
    EXPECT_EQ(got.xMin, 0);
    EXPECT_EQ(got.xMax, 11000);
    EXPECT_EQ(got.yMin, -20);
    EXPECT_EQ(got.yMax, 8000);
    EXPECT_EQ(rect.position(), 9u);  // 5 + 60 bits: nine bytes
}

TEST(SwfPrimitives, TagHeaderShortAndLongForms) {
    Tags t;
    t.tag(kTagDefineSound, Bytes(0x3E, 7)).tag(kTagDefineSound, Bytes(0x3F, 7)).longTag(kTagShowFrame, {});
    RecordingSink sink;
    SWFReader r(&sink);
    r.setDataForTesting(t.bytes());
    TagHeader h = r.readTagHeader();
    EXPECT_EQ(h.code, kTagDefineSound);
    EXPECT_EQ(h.length, 0x3Eu);
    EXPECT_EQ(r.position(), 2u);
    Bytes skip(0x3E);
    r.readBytes(0x3E, skip.data());
    h = r.readTagHeader();
    EXPECT_EQ(h.length, 0x3Fu);
    EXPECT_EQ(r.position(), 2u + 0x3E + 6u);  // a length of 0x3F needs the long form
    Bytes skip2(0x3F);
    r.readBytes(0x3F, skip2.data());
    h = r.readTagHeader();
    EXPECT_EQ(h.code, kTagShowFrame);
    EXPECT_EQ(h.length, 0u);
}

// --- tag loop ----------------------------------------------------------------

TEST(SwfTagLoop, FramesCountShowFramesAndStopAfterTheLimit) {
    Tags t;
    t.tag(kTagDefineSound, markedSound(1))  // frame 0
        .showFrame()
        .tag(kTagDefineSound, markedSound(2))  // frame 1
        .showFrame()
        .tag(kTagDefineSound, markedSound(3))  // frame 2: still read with 2 frames declared
        .showFrame()                           // the third ShowFrame passes the limit
        .tag(kTagDefineSound, markedSound(4))
        .end();
    RecordingSink sink;
    readBytes(SwfFile().frames(2).tags(t).bytes(), sink);
    ASSERT_EQ(marks(sink), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(sink.sounds[0]->frame, 0);
    EXPECT_EQ(sink.sounds[1]->frame, 1);
    EXPECT_EQ(sink.sounds[2]->frame, 2);
}

TEST(SwfTagLoop, EndTagStopsAndUnknownTagsAreSkippedByLength) {
    Tags t;
    t.tag(777, Bytes(100, 0xEE))
        .tag(60, Bytes(20, 0))  // DefineVideoStream: named, not read
        .tag(kTagDefineSound, markedSound(1))
        .end()
        .tag(kTagDefineSound, markedSound(2));
    RecordingSink sink;
    EXPECT_EQ(readBytes(SwfFile().tags(t).bytes(), sink).result, kReadOk);
    EXPECT_EQ(marks(sink), (std::vector<int>{1}));
}

TEST(SwfTagLoop, TagRunningPastTheDataEndsTheLoopAndKeepsWhatWasRead) {
    Tags t;
    t.tag(kTagDefineSound, markedSound(1)).header(kTagDefineSound, 0xFFFFFFF0u).raw(markedSound(2));
    RecordingSink sink;
    const ReadOutcome r = readBytes(SwfFile().tags(t).bytes(), sink);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, kReadOk);
    EXPECT_EQ(marks(sink), (std::vector<int>{1}));

    // A length that wraps a 32-bit sum must not pass the check either.
    Tags wrap;
    wrap.header(kTagDefineSound, 0xFFFFFFFFu).raw(markedSound(3));
    RecordingSink sink2;
    EXPECT_EQ(readBytes(SwfFile().tags(wrap).bytes(), sink2).result, kReadOk);
    EXPECT_TRUE(sink2.sounds.empty());
}

TEST(SwfTagLoop, HandlersSeeZerosPastTheirTagAndTheLoopResumesAtTheDeclaredEnd) {
    // A stream head cut to one byte: its format and rate bits read as zeros,
    // not as the header of the DefineSound that follows.
    Tags t;
    t.tag(kTagSoundStreamHead, {0x00})
        .tag(kTagDefineSound, defineSoundBody(1, 0, 3, true, true, 1, {5}))
        .tag(kTagSoundStreamBlock, {0x42})
        .end();
    RecordingSink sink;
    readBytes(SwfFile().tags(t).bytes(), sink);
    ASSERT_EQ(sink.sounds.size(), 2u);
    EXPECT_EQ(markOf(*sink.sounds[0]), 5);
    const OFSound& stream = *sink.sounds[1];
    EXPECT_EQ(stream.format, SoundFormat::Uncompressed);
    EXPECT_EQ(stream.rate, 0);
    EXPECT_FALSE(stream.is16Bit);
    EXPECT_FALSE(stream.stereo);
    EXPECT_EQ(stream.blocks.at(0).data, Bytes{0x42});
}

TEST(SwfTagLoop, SpritesCountTheirOwnFrames) {
    Tags inner;
    inner.showFrame(2).tag(kTagDefineSound, markedSound(2)).showFrame().end();
    Tags t;
    t.showFrame(3).tag(kTagDefineSound, markedSound(1)).sprite(5, 3, inner).tag(kTagDefineSound, markedSound(3)).end();
    RecordingSink sink;
    readBytes(SwfFile().frames(10).tags(t).bytes(), sink);
    ASSERT_EQ(marks(sink), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(sink.sounds[0]->frame, 3);
    EXPECT_EQ(sink.sounds[1]->frame, 2);  // third frame of the sprite
    EXPECT_EQ(sink.sounds[2]->frame, 3);
}

TEST(SwfTagLoop, SpriteWithoutEndStaysInsideItsTag) {
    Tags inner;
    inner.tag(kTagDefineSound, markedSound(2)).showFrame();  // no End tag
    Tags t;
    t.sprite(5, 1, inner).tag(kTagDefineSound, markedSound(3)).end();
    RecordingSink sink;
    readBytes(SwfFile().tags(t).bytes(), sink);
    EXPECT_EQ(marks(sink), (std::vector<int>{2, 3}));  // no duplicate of 3
}

TEST(SwfTagLoop, SpriteFrameLimitAndZeroFrames) {
    Tags inner;
    inner.tag(kTagDefineSound, markedSound(1)).showFrame().tag(kTagDefineSound, markedSound(2)).end();
    Tags t;
    t.sprite(5, 0, inner).tag(kTagDefineSound, markedSound(3)).end();
    RecordingSink sink;
    readBytes(SwfFile().tags(t).bytes(), sink);
    // Frame count 0: the first ShowFrame passes the limit.
    EXPECT_EQ(marks(sink), (std::vector<int>{1, 3}));
}

TEST(SwfTagLoop, DeeplyNestedSpritesAreCutOffWithoutRecursingForever) {
    Tags innermost;
    innermost.tag(kTagDefineSound, markedSound(1)).end();
    Tags current = innermost;
    for (int depth = 0; depth < 2000; ++depth) {
        Tags wrapper;
        wrapper.sprite(std::uint16_t(depth), 1, current).end();
        current = wrapper;
    }
    Tags t;
    t.sprite(60000, 1, current).tag(kTagDefineSound, markedSound(3)).end();
    RecordingSink sink;
    const ReadOutcome r = readBytes(SwfFile().tags(t).bytes(), sink);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(marks(sink), (std::vector<int>{3}));

    // A shallow nesting is still read.
    Tags two;
    two.sprite(1, 1, Tags().sprite(2, 1, innermost).end()).end();
    RecordingSink shallow;
    readBytes(SwfFile().tags(two).bytes(), shallow);
    EXPECT_EQ(marks(shallow), (std::vector<int>{1}));
}

// --- stream sounds -------------------------------------------------------------

Bytes pcmHead() { return soundStreamHeadBody(0, 1, false, false, 10); }

TEST(SwfStreamSounds, FinishedAtTheEndOfTheirTimelineNewestFirst) {
    Tags spriteA;
    spriteA.tag(kTagSoundStreamHead, pcmHead()).tag(kTagSoundStreamBlock, {0xA1}).end();
    Tags spriteB;
    spriteB.tag(kTagSoundStreamHead2, pcmHead()).tag(kTagSoundStreamBlock, {0xB1}).end();
    Tags t;
    t.tag(kTagSoundStreamHead, pcmHead())
        .tag(kTagSoundStreamBlock, {0x01})
        .sprite(1, 1, spriteA)
        .tag(kTagSoundStreamHead, pcmHead())
        .tag(kTagSoundStreamBlock, {0x02})
        .sprite(2, 1, spriteB)
        .tag(kTagDefineSound, markedSound(0x50))
        .end();
    RecordingSink sink;
    readBytes(SwfFile().tags(t).bytes(), sink);
    // Each sprite's sound when the sprite ends; the two main-timeline heads
    // when the file ends, newest first.
    EXPECT_EQ(marks(sink), (std::vector<int>{0xA1, 0xB1, 0x50, 0x02, 0x01}));
}

TEST(SwfStreamSounds, BlocksFollowTheNewestHeadAndOrphansAreIgnored) {
    Tags t;
    t.tag(kTagSoundStreamBlock, {0x99})
        .tag(kTagSoundStreamHead, pcmHead())
        .tag(kTagSoundStreamBlock, {0x01, 0x02})
        .showFrame()
        .tag(kTagSoundStreamBlock, {0x03})
        .showFrame()
        .end();
    RecordingSink sink;
    readBytes(SwfFile().frames(2).tags(t).bytes(), sink);
    ASSERT_EQ(sink.sounds.size(), 1u);
    ASSERT_EQ(sink.sounds[0]->blocks.size(), 2u);
    EXPECT_EQ(sink.sounds[0]->blocks[0].data, (Bytes{0x01, 0x02}));
    EXPECT_EQ(sink.sounds[0]->blocks[1].data, (Bytes{0x03}));
}

TEST(SwfStreamSounds, Mp3BlocksLoseSampleCountAndSeekFields) {
    Tags t;
    t.tag(kTagSoundStreamHead2, soundStreamHeadBody(2, 3, true, false, 1152))
        .tag(kTagSoundStreamBlock, {1, 2, 3})        // 3 bytes: nothing
        .tag(kTagSoundStreamBlock, {1, 2, 3, 4, 5})  // 5 bytes: one byte
        .tag(kTagSoundStreamBlock, mp3StreamBlockBody(1152, 0, {0xFF, 0xFB, 0x90}))
        .tag(kTagSoundStreamBlock, {})
        .end();
    RecordingSink sink;
    readBytes(SwfFile().tags(t).bytes(), sink);
    ASSERT_EQ(sink.sounds.size(), 1u);
    const OFSound& s = *sink.sounds[0];
    EXPECT_EQ(s.format, SoundFormat::Mp3);
    EXPECT_EQ(s.rate, 3);
    EXPECT_TRUE(s.is16Bit);
    ASSERT_EQ(s.blocks.size(), 2u);
    EXPECT_EQ(s.blocks[0].data, Bytes{5});
    EXPECT_EQ(s.blocks[1].data, (Bytes{0xFF, 0xFB, 0x90}));
}

TEST(SwfEventSounds, SkipRulesAndFields) {
    Tags t;
    t.tag(kTagDefineSound, Bytes(7, 0))                                         // shorter than 8
        .tag(kTagDefineSound, defineSoundBody(1, 3, 3, true, true, 4, {1, 2}))  // little-endian PCM
        .tag(kTagDefineSound, defineSoundBody(2, 1, 2, true, true, 99, {7, 8, 9}))
        .tag(kTagDefineSound, defineSoundBody(3, 2, 0, false, false, 9, {0x34, 0x12, 0xAA}))
        .end();
    RecordingSink sink;
    readBytes(SwfFile().tags(t).bytes(), sink);
    ASSERT_EQ(sink.sounds.size(), 2u);
    const OFSound& adpcm = *sink.sounds[0];
    EXPECT_EQ(adpcm.format, SoundFormat::Adpcm);
    EXPECT_EQ(adpcm.rate, 2);
    EXPECT_TRUE(adpcm.is16Bit);
    EXPECT_TRUE(adpcm.stereo);
    EXPECT_EQ(adpcm.blocks.at(0).data, (Bytes{7, 8, 9}));
    const OFSound& mp3 = *sink.sounds[1];
    EXPECT_EQ(mp3.blocks.at(0).data, Bytes{0xAA});  // SeekSamples skipped
}

// --- progress ------------------------------------------------------------------

class CallLog final : public ReaderProgress {
public:
    void setStepCount(int n) override { calls.push_back("steps " + std::to_string(n)); }
    void setPosition(int p) override { calls.push_back("pos " + std::to_string(p)); }
    std::vector<std::string> calls;
};

TEST(SwfProgress, MainTimelineFramesOnlyInOrder) {
    Tags inner;
    inner.showFrame(3).end();
    Tags t;
    t.showFrame().sprite(1, 3, inner).showFrame().end();
    CallLog log;
    RecordingSink sink;
    readBytes(SwfFile().frames(2).tags(t).bytes(), sink, &log);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"steps 2", "pos 0", "pos 2", "pos 3"}));
}

// --- files -----------------------------------------------------------------------

TEST(SwfFiles, OnlyRegularFilesAreOpened) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.swf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.path(), fifo, dir.file("missing.swf")}) {
        RecordingSink sink;
        SWFReader reader(&sink);
        EXPECT_FALSE(reader.read(path, nullptr)) << path;
        EXPECT_EQ(reader.result(), kReadCannotOpen) << path;
    }
    Tags t;
    t.tag(kTagDefineSound, markedSound(4)).end();
    RecordingSink sink;
    SWFReader reader(&sink);
    EXPECT_TRUE(reader.read(dir.write("ok.swf", SwfFile().compressed().tags(t).bytes()), nullptr));
    EXPECT_EQ(marks(sink), (std::vector<int>{4}));
}

long maxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(SwfFiles, DeclaredLengthDoesNotCommitMemory) {
    TempDir dir;
    Tags t;
    t.tag(kTagDefineSound, markedSound(4)).end();
    const std::string path = dir.write("liar.swf", SwfFile().tags(t).declaredLength(0x7FFFFFF0u).bytes());
    const long before = maxRssKb();
    RecordingSink sink;
    SWFReader reader(&sink);
    EXPECT_TRUE(reader.read(path, nullptr));
    EXPECT_EQ(marks(sink), (std::vector<int>{4}));
    EXPECT_LT(maxRssKb() - before, 256 * 1024);  // far below the 2 GB declared
}

}  // namespace
}  // namespace kestrel::test
