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
    Bytes zws = good;  // an FWS body behind a ZWS signature is no LZMA stream
    zws[0] = 'Z';
    Bytes lower = good;
    lower[1] = 'w';
    const Case cases[] = {
        {"empty file", {}, false, kReadDamaged},
        {"seven bytes of FWS", Bytes(good.begin(), good.begin() + 7), false, kReadDamaged},
        {"seven bytes of garbage", Bytes{'G', 'I', 'F', '8', '9', 'a', 0}, false, kReadDamaged},
        {"ZWS signature over plain data", zws, false, kReadDamaged},
        {"ZWS without its LZMA header", Bytes(good.begin(), good.begin() + 8), false, kReadDamaged},
        {"lower-case signature", lower, false, kReadNotSwf},
        {"declared 20", SwfFile().tags(t).declaredLength(20).bytes(), false, kReadDamaged},
        {"declared negative", SwfFile().tags(t).declaredLength(0x80000000u).bytes(), false, kReadDamaged},
        {"declared 27", SwfFile().tags(t).declaredLength(27).bytes(), false, kReadDamaged},
        {"plain", good, true, kReadOk},
        {"compressed", SwfFile().compressed().tags(t).bytes(), true, kReadOk},
        {"LZMA", SwfFile().lzma().tags(t).bytes(), true, kReadOk},
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

// --- compressed bodies and their salvage ----------------------------------------

struct Salvage {
    ReadOutcome outcome;
    std::vector<int> marks;
    std::vector<Problem> problems;
    std::size_t bodyBytes;
};

Salvage readSalvage(const Bytes& file) {
    RecordingSink sink;
    SWFReader reader(&sink);
    const bool ok = reader.readMemory(file, nullptr);
    return {{ok, reader.result()}, marks(sink), reader.problems(), reader.bodyBytes()};
}

// Fifty marked sounds of 10 bytes each (2-byte header, 8-byte body) behind
// the frame fields, so that a tag's end in the file is known.
struct MarkedMovie {
    Tags tags;
    std::size_t firstTag;  // file offset of the first sound tag
    MarkedMovie() {
        for (int i = 0; i < 50; ++i) tags.tag(kTagDefineSound, markedSound(std::uint8_t(i)));
        tags.end();
        firstTag = 8 + SwfFile().body({}).uncompressedBody().size();
    }
    // The marks the plain file gives when cut after `bodyBytes` body bytes.
    std::vector<int> within(std::size_t bodyBytes) const {
        RecordingSink sink;
        SWFReader reader(&sink);
        reader.readMemory(SwfFile().tags(tags).truncate(8 + bodyBytes).bytes(), nullptr);
        return marks(sink);
    }
};

std::vector<int> allMarks() {
    std::vector<int> out;
    for (int i = 0; i < 50; ++i) out.push_back(i);
    return out;
}

TEST(SwfCompressed, ZlibAndLzmaBodiesReadLikeThePlainOne) {
    const MarkedMovie movie;
    for (const Bytes& file :
         {SwfFile().compressed().tags(movie.tags).bytes(), SwfFile().lzma().tags(movie.tags).bytes()}) {
        const Salvage s = readSalvage(file);
        EXPECT_TRUE(s.outcome.ok);
        EXPECT_EQ(s.outcome.result, kReadOk);
        EXPECT_EQ(s.marks, allMarks());
        EXPECT_TRUE(s.problems.empty());
        EXPECT_EQ(s.bodyBytes, SwfFile().tags(movie.tags).bytes().size() - 8);
    }
}

TEST(SwfCompressed, CutBodiesKeepEveryTagBeforeTheCut) {
    const MarkedMovie movie;
    const struct {
        Bytes file;
        const char* reason;
    } kinds[] = {{SwfFile().compressed().tags(movie.tags).bytes(), "zlib stream cut short"},
                 {SwfFile().lzma().tags(movie.tags).bytes(), "LZMA stream cut short"}};
    for (const auto& kind : kinds) {
        std::size_t lastCount = 0;
        for (const double share : {0.3, 0.6, 0.9}) {
            const std::size_t keep = std::size_t(double(kind.file.size()) * share);
            const Salvage s = readSalvage(Bytes(kind.file.begin(), kind.file.begin() + std::ptrdiff_t(keep)));
            SCOPED_TRACE(std::string(kind.reason) + " at " + std::to_string(keep));
            EXPECT_FALSE(s.outcome.ok);
            EXPECT_EQ(s.outcome.result, kReadDamaged);
            // Exactly the tags that decompressed whole, as for a short plain file.
            EXPECT_EQ(s.marks, movie.within(s.bodyBytes));
            EXPECT_GE(s.marks.size(), lastCount);
            lastCount = s.marks.size();
            ASSERT_EQ(s.problems.size(), 1u);
            EXPECT_EQ(s.problems[0].tag, 0);
            EXPECT_EQ(s.problems[0].offset, 8 + s.bodyBytes);
            EXPECT_EQ(s.problems[0].reason, kind.reason);
        }
        EXPECT_GT(lastCount, 20u);  // 90 % of the stream holds most of the tags
        EXPECT_LT(lastCount, 50u);
    }
}

TEST(SwfCompressed, CorruptOrOverlongBodiesKeepWhatPrecedesTheDamage) {
    const MarkedMovie movie;
    const Bytes zlib = SwfFile().compressed().tags(movie.tags).bytes();
    const Bytes lzma = SwfFile().lzma().tags(movie.tags).bytes();
    for (const Bytes& good : {zlib, lzma}) {
        Bytes bad = good;
        for (std::size_t i = bad.size() * 2 / 3; i < bad.size(); ++i) bad[i] = std::uint8_t(0xA5 ^ i);
        const Salvage s = readSalvage(bad);
        EXPECT_EQ(s.outcome.result, kReadDamaged);
        ASSERT_FALSE(s.problems.empty());
        EXPECT_EQ(s.problems.back().tag, 0);
        EXPECT_EQ(s.problems.back().offset, 8 + s.bodyBytes);
        // The damage lies in the last third: the first tags are intact.
        ASSERT_GE(s.marks.size(), 10u);
        EXPECT_EQ(std::vector<int>(s.marks.begin(), s.marks.begin() + 10), movie.within(movie.firstTag + 100 - 8));
    }
    // The first deflate block of an invalid type (bits 1-2 both set).
    Bytes badBlock = zlib;
    badBlock[10] = 0x07;
    const Salvage s = readSalvage(badBlock);
    EXPECT_EQ(s.outcome.result, kReadDamaged);
    EXPECT_TRUE(s.marks.empty());
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_EQ(s.problems[0].reason, "zlib stream corrupt (invalid block type)");
    EXPECT_EQ(s.problems[0].offset, 8u);

    // A body longer than declared: the declared part is read, then result 2.
    const std::uint32_t trueLength = std::uint32_t(SwfFile().tags(movie.tags).bytes().size());
    for (SwfFile file : {SwfFile().compressed(), SwfFile().lzma()}) {
        const Salvage s = readSalvage(file.tags(movie.tags).declaredLength(trueLength - 11).bytes());
        EXPECT_EQ(s.outcome.result, kReadDamaged);
        EXPECT_EQ(s.marks, movie.within(trueLength - 11 - 8));
        ASSERT_EQ(s.problems.size(), 1u);
    }
    for (SwfFile file : {SwfFile().compressed(), SwfFile().lzma()}) {
        EXPECT_EQ(readSalvage(file.tags(movie.tags).declaredLength(trueLength - 11).bytes()).problems.at(0).reason,
                  "body longer than declared");
    }
}

TEST(SwfCompressed, LzmaHeaderIsCheckedAndItsDictionaryIsNotTrusted) {
    const MarkedMovie movie;
    const Bytes good = SwfFile().lzma().tags(movie.tags).bytes();
    // A dictionary size of 4 GB needs no 4 GB: the body is small.
    Bytes huge = good;
    for (int i = 13; i < 17; ++i) huge[std::size_t(i)] = 0xFF;
    EXPECT_EQ(readSalvage(huge).marks, allMarks());
    // Invalid properties (lc + lp * 9 + pb * 45 must stay below 225).
    Bytes props = good;
    props[12] = 0xFF;
    const Salvage s = readSalvage(props);
    EXPECT_EQ(s.outcome.result, kReadDamaged);
    EXPECT_TRUE(s.marks.empty());
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_EQ(s.problems[0].reason, "LZMA properties invalid");
    // Cut inside the 9 bytes after the header.
    EXPECT_EQ(readSalvage(Bytes(good.begin(), good.begin() + 12)).problems.at(0).reason,
              "compression header cut short");
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

TEST(SwfStreamSounds, LittleEndianPcmStreamsKeepTheirBlocksAndHead) {
    for (const auto head : {kTagSoundStreamHead, kTagSoundStreamHead2}) {
        Tags t;
        t.tag(head, soundStreamHeadBody(3, 1, false, true, 2))
            .tag(kTagSoundStreamBlock, {0x80, 0x81, 0x82, 0x83})
            .showFrame()
            .tag(kTagSoundStreamBlock, {0x84, 0x85})
            .end();
        RecordingSink sink;
        readBytes(SwfFile().tags(t).bytes(), sink);
        ASSERT_EQ(sink.sounds.size(), 1u);
        const OFSound& s = *sink.sounds[0];
        EXPECT_EQ(s.format, SoundFormat::UncompressedLE);
        EXPECT_EQ(s.tag, TagCode(head));
        EXPECT_EQ(s.rate, 1);
        EXPECT_FALSE(s.is16Bit);
        EXPECT_TRUE(s.stereo);
        EXPECT_EQ(s.sampleCount, 0u);
        ASSERT_EQ(s.blocks.size(), 2u);
        EXPECT_EQ(s.blocks[0].data, (Bytes{0x80, 0x81, 0x82, 0x83}));
        EXPECT_EQ(s.blocks[1].data, (Bytes{0x84, 0x85}));
    }
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

// --- problems and origins -----------------------------------------------------

TEST(SwfProblems, EachFailedTagIsNamedWithItsOffsetAndWhy) {
    // A DefineBits before any JPEGTables, then, inside a sprite, a lossless
    // bitmap whose pixels do not inflate; a good sound between them.
    Tags inner;
    inner.tag(kTagDefineBitsLossless, losslessBody(9, 5, 4, 4, {1, 2, 3, 4, 5, 6})).showFrame().end();
    Tags t;
    t.tag(kTagDefineBits, defineBitsBody(1, {0xFF, 0xD8, 0xFF, 0xD9}))
        .tag(kTagDefineSound, markedSound(5))
        .sprite(40, 1, inner)
        .end();
    const Bytes file = SwfFile().tags(t).bytes();
    // Offsets: the first tag follows the frame fields; the sprite's first
    // tag follows the sprite's 6-byte header (2 + id + frame count).
    const std::size_t first = SwfFile().body({}).bytes().size();
    Tags upToSprite;
    upToSprite.tag(kTagDefineBits, defineBitsBody(1, {0xFF, 0xD8, 0xFF, 0xD9})).tag(kTagDefineSound, markedSound(5));
    const std::size_t inSprite = SwfFile().tags(upToSprite).bytes().size() + 6;

    RecordingSink sink;
    SWFReader reader(&sink);
    EXPECT_TRUE(reader.readMemory(file, nullptr));
    EXPECT_EQ(reader.result(), kReadSomeFailed);
    EXPECT_EQ(marks(sink), (std::vector<int>{5}));
    ASSERT_EQ(reader.problems().size(), 2u);
    EXPECT_EQ(reader.problems()[0].tag, 6);
    EXPECT_EQ(reader.problems()[0].offset, first);
    EXPECT_EQ(reader.problems()[0].reason, "no usable JPEGTables before DefineBits");
    EXPECT_EQ(reader.problems()[1].tag, 20);
    EXPECT_EQ(reader.problems()[1].offset, inSprite);
    EXPECT_FALSE(reader.problems()[1].reason.empty());
    EXPECT_FALSE(reader.compressed());
}

TEST(SwfProblems, ResourcesKnowTheirTagCharacterAndTimeline) {
    Tags inner;
    inner.tag(kTagSoundStreamHead2, soundStreamHeadBody(0, 1, false, false, 4))
        .tag(kTagSoundStreamBlock, Bytes(4, 1))
        .tag(kTagDefineSound, defineSoundBody(77, 0, 1, false, false, 1, {2}))
        .showFrame()
        .end();
    Tags t;
    t.tag(kTagDefineBitsLossless2, losslessBody(12, 5, 1, 1, deflate(Bytes(4, 0xFF))))
        .sprite(50, 1, inner)
        .tag(kTagSoundStreamHead, soundStreamHeadBody(0, 1, false, false, 4))
        .tag(kTagSoundStreamBlock, Bytes(4, 3))
        .end();
    RecordingSink sink;
    SWFReader reader(&sink);
    ASSERT_TRUE(reader.readMemory(SwfFile().compressed().tags(t).bytes(), nullptr));
    ASSERT_EQ(sink.images.size(), 1u);
    const ResourceOrigin& image = sink.images[0].extras.origin;
    EXPECT_EQ(image.tag, 36);
    EXPECT_EQ(image.characterId, 12);
    EXPECT_EQ(image.timeline, 0);
    EXPECT_EQ(image.offset, SwfFile().body({}).bytes().size());
    // The sprite's event sound, its stream (at the sprite's end), then the
    // main timeline's stream.
    ASSERT_EQ(sink.soundOrigins.size(), 3u);
    EXPECT_EQ(sink.soundOrigins[0].tag, 14);
    EXPECT_EQ(sink.soundOrigins[0].characterId, 77);
    EXPECT_EQ(sink.soundOrigins[0].timeline, 50);
    EXPECT_EQ(sink.soundOrigins[1].tag, 45);
    EXPECT_EQ(sink.soundOrigins[1].characterId, -1);
    EXPECT_EQ(sink.soundOrigins[1].timeline, 50);
    EXPECT_EQ(sink.soundOrigins[2].tag, 18);
    EXPECT_EQ(sink.soundOrigins[2].timeline, 0);
    for (const ResourceOrigin& o : sink.soundOrigins) EXPECT_TRUE(o.problems.empty());
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
    ASSERT_EQ(sink.sounds.size(), 3u);
    const OFSound& le = *sink.sounds[0];
    EXPECT_EQ(le.format, SoundFormat::UncompressedLE);
    EXPECT_EQ(le.rate, 3);
    EXPECT_TRUE(le.is16Bit);
    EXPECT_TRUE(le.stereo);
    EXPECT_EQ(le.sampleCount, 4u);
    EXPECT_EQ(le.tag, TagCode::DefineSound);
    EXPECT_EQ(le.blocks.at(0).data, (Bytes{1, 2}));
    const OFSound& adpcm = *sink.sounds[1];
    EXPECT_EQ(adpcm.format, SoundFormat::Adpcm);
    EXPECT_EQ(adpcm.rate, 2);
    EXPECT_TRUE(adpcm.is16Bit);
    EXPECT_TRUE(adpcm.stereo);
    EXPECT_EQ(adpcm.blocks.at(0).data, (Bytes{7, 8, 9}));
    const OFSound& mp3 = *sink.sounds[2];
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
