// Audio sources: re-cutting a sound's blocks into 2000-byte source blocks,
// the start and end flags, the read-ahead limit.
#include <gtest/gtest.h>

#include "audio/audio_source.h"
#include "audio/decoder.h"
#include "reader/sound/of_sound.h"

namespace kestrel {
namespace {

// An MP3 sound whose bytes count up (mod 251) across all blocks.
OFSound countingSound(const std::vector<std::size_t>& sizes, std::uint8_t rate = 3, bool stereo = false) {
    OFSound sound;
    sound.format = SoundFormat::Mp3;
    sound.rate = rate;
    sound.stereo = stereo;
    sound.is16Bit = true;
    std::uint32_t next = 0;
    for (std::size_t size : sizes) {
        std::vector<std::uint8_t> bytes(size);
        for (auto& byte : bytes) byte = std::uint8_t(next++ % 251);
        sound.addBlock(bytes.data(), bytes.size());
    }
    return sound;
}

struct Taken {
    std::int32_t length;
    bool start;
    bool end;
    std::vector<std::uint8_t> bytes;
};

std::vector<Taken> takeAll(OBAudio& source) {
    std::vector<Taken> taken;
    for (;;) {
        bool start = false;
        bool end = false;
        std::int32_t offset = -1;
        AudioBlockPtr block = source.NextBlock(start, end, offset);
        if (!block) {
            EXPECT_TRUE(end) << "a source runs dry only at its end";
            return taken;
        }
        EXPECT_EQ(offset, 0);
        taken.push_back({block->length, start, end,
                         std::vector<std::uint8_t>(block->data.get(), block->data.get() + block->length)});
    }
}

TEST(OFAudioMP3Test, FormatComesFromTheSoundsFields) {
    const std::int32_t rates[] = {5500, 11025, 22050, 44100};
    for (std::uint8_t code = 0; code < 4; ++code) {
        OFSound sound = countingSound({100, 50}, code, code == 3);
        OFAudioMP3 source(&sound);
        ASSERT_TRUE(source.Open());
        std::int32_t size = 0;
        const auto* format = static_cast<const Mp3FormatDescriptor*>(source.GetFormat(size));
        EXPECT_EQ(size, 8);
        EXPECT_EQ(format->rate, rates[code]);
        EXPECT_EQ(format->channels, code == 3 ? 2 : 1);
        EXPECT_EQ(source.GetDataSize(), 150);
        EXPECT_EQ(source.kind(), kAudioKindMp3);
    }
    EXPECT_EQ(soundRateHz(7), 44100u);
}

TEST(OFAudioMP3Test, BlocksAreRecutIntoSourceBlocksWithStartAndEnd) {
    OFSound sound = countingSound({1500, 1500, 1500});
    OFAudioMP3 source(&sound);
    source.Open();
    const auto taken = takeAll(source);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].length, 2000);
    EXPECT_EQ(taken[1].length, 2000);
    EXPECT_EQ(taken[2].length, 500);
    EXPECT_TRUE(taken[0].start);
    EXPECT_FALSE(taken[1].start || taken[2].start);
    EXPECT_FALSE(taken[0].end || taken[1].end);
    EXPECT_TRUE(taken[2].end);

    std::uint32_t expected = 0;
    for (const auto& block : taken) {
        for (std::uint8_t byte : block.bytes) ASSERT_EQ(byte, expected++ % 251);
    }
}

TEST(OFAudioMP3Test, ExactMultipleOfTheBlockSizeEndsOnTheLastFullBlock) {
    OFSound sound = countingSound({1000, 1000, 1000, 1000});
    OFAudioMP3 source(&sound);
    source.Open();
    const auto taken = takeAll(source);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].length, 2000);
    EXPECT_TRUE(taken[1].end);
}

TEST(OFAudioMP3Test, EmptySoundEndsAtOnce) {
    OFSound sound = countingSound({});
    OFAudioMP3 source(&sound);
    source.Open();
    std::uint8_t buffer[16];
    bool start = false;
    bool end = false;
    EXPECT_EQ(source.Read(buffer, 16, start, end), 0);
    EXPECT_TRUE(end);

    OBAudioDecoder decoder;
    AudioBufferPtr out;
    bool decodeEnd = false;
    EXPECT_FALSE(decoder.Decode(&source, out, decodeEnd));
    EXPECT_TRUE(decodeEnd);
    EXPECT_EQ(out, nullptr);
}

TEST(OFAudioMP3Test, ReadsTenBlocksAheadAndSeekToOnlyEmptiesTheQueue) {
    OFSound sound = countingSound(std::vector<std::size_t>(30, 2000));
    OFAudioMP3 source(&sound);
    source.Open();
    bool start = false;
    bool end = false;
    std::int32_t offset = 0;
    AudioBlockPtr first = source.NextBlock(start, end, offset);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(start);
    EXPECT_EQ(source.queuedBlocks(), 9);  // ten read, one handed out

    // The read position stays where reading stopped: block 10 comes next.
    EXPECT_TRUE(source.SeekTo(0));
    EXPECT_EQ(source.queuedBlocks(), 0);
    AudioBlockPtr next = source.NextBlock(start, end, offset);
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(start);
    EXPECT_EQ(next->data[0], std::uint8_t(10 * 2000 % 251));
}

TEST(OFAudioMP3Test, DetachedSourceNoLongerReadsTheSound) {
    OFSound sound = countingSound({3000});
    OFAudioMP3 source(&sound);
    source.Open();
    source.Detach();
    std::uint8_t buffer[16];
    bool start = false;
    bool end = false;
    EXPECT_EQ(source.Read(buffer, 16, start, end), 0);
    EXPECT_TRUE(end);
}

}  // namespace
}  // namespace kestrel
