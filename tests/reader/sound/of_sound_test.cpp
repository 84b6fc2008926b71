// Block collection and the duration routine by format.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "sound_test_util.h"

namespace kestrel {
namespace {

TEST(SoundBlocks, AddBlockCopiesBytesAndSkipsEmptyBlocks) {
    OFSound sound;
    std::vector<std::uint8_t> bytes = {1, 2, 3};
    EXPECT_TRUE(sound.addBlock(bytes.data(), bytes.size()));
    bytes[0] = 9;  // the block holds its own copy
    EXPECT_TRUE(sound.addBlock(bytes.data(), 0));
    EXPECT_TRUE(sound.addBlock(nullptr, 0));
    EXPECT_FALSE(sound.addBlock(nullptr, 5));
    EXPECT_TRUE(sound.addBlock(bytes.data(), 2));

    ASSERT_EQ(sound.blocks.size(), 2u);
    EXPECT_EQ(sound.blocks[0].data, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(sound.blocks[1].length(), 2u);
    EXPECT_EQ(sound.totalBytes(), 5);
}

TEST(SoundDuration, UncompressedByLayoutAndRate) {
    struct Case {
        std::uint8_t rate;
        bool is16Bit;
        bool stereo;
        std::size_t bytes;
        std::int32_t ms;
    };
    const Case cases[] = {
        {3, true, true, 44100, 250},    // 44100 / 2 / 2 / 44.1
        {0, false, false, 5512, 999},   // 5512 / 5.5125 = 999.9
        {1, true, false, 22050, 1000},  // 11025 / 11.025
        {2, false, true, 4411, 100},    // 2205 / 22.05
        {2, true, true, 3, 0},
    };
    for (const auto& c : cases) {
        OFSound sound = test::makeSound(SoundFormat::Uncompressed, c.rate, c.is16Bit, c.stereo);
        // Split over two blocks: the total is what counts.
        test::addBlock(sound, std::vector<std::uint8_t>(c.bytes / 3, 0x80));
        test::addBlock(sound, std::vector<std::uint8_t>(c.bytes - c.bytes / 3, 0x80));
        sound.durationMs = -1;
        EXPECT_EQ(sound.computeDuration(), c.ms) << c.bytes;
        EXPECT_EQ(sound.durationMs, c.ms);
    }
}

TEST(SoundDuration, PcmDurationClampsInsteadOfOverflowing) {
    const auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(pcmDurationMs(max, false, false, 0), std::numeric_limits<std::int32_t>::max());
    // Sizes beyond 32 bits: 48000 s of 44 kHz 16-bit stereo is 8.4 GB.
    EXPECT_EQ(pcmDurationMs(std::int64_t(4) * 44100 * 48000, true, true, 3), 48000000);
    EXPECT_EQ(pcmDurationMs(std::int64_t(1) << 40, true, true, 3), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(pcmDurationMs(-5, false, false, 0), 0);
}

TEST(SoundDuration, AdpcmCountsDecodedSamples) {
    // Mono 2-bit block of 1030 bytes: one full packet (4096 samples), a
    // header and two codes: 4099 samples.
    std::vector<std::uint8_t> block(1030, 0);
    OFSound sound = test::makeSound(SoundFormat::Adpcm, 0, true, false);
    test::addBlock(sound, block);
    test::addBlock(sound, block);
    EXPECT_EQ(sound.computeDuration(), 1487);  // 8198 / 5.5125 = 1487.2
    EXPECT_EQ(sound.decodedBytes, 2 * 8198);

    OFSound stereo = test::makeSound(SoundFormat::Adpcm, 3, true, true);
    test::addBlock(stereo, std::vector<std::uint8_t>(2060, 0));
    // 2 + 44 + 4095 x 4 = 16426 bits per packet; 16480 - 16426 = 54 bits
    // hold a header and two steps: 4099 steps of two samples.
    stereo.computeDuration();
    EXPECT_EQ(stereo.decodedBytes, 2 * 2 * 4099);
    EXPECT_EQ(stereo.durationMs, 92);  // 4099 / 44.1 = 92.9
}

TEST(SoundDuration, AdpcmWithoutSixteenBitFlagIsEmpty) {
    OFSound sound = test::makeSound(SoundFormat::Adpcm, 0, false, false);
    test::addBlock(sound, std::vector<std::uint8_t>(1030, 0));
    sound.decodedBytes = 77;
    EXPECT_EQ(sound.computeDuration(), 0);
    EXPECT_EQ(sound.decodedBytes, 0);
}

TEST(SoundDuration, Mp3AndUnknownFormats) {
    std::vector<std::uint8_t> frame(417, 0);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    frame[2] = 0x90;
    OFSound mp3 = test::makeSound(SoundFormat::Mp3, 3, true, false);
    test::addBlock(mp3, frame);
    EXPECT_EQ(mp3.computeDuration(), 26);

    // Little-endian PCM counts as uncompressed PCM; codes the format does
    // not define have no duration.
    OFSound le = test::makeSound(SoundFormat::UncompressedLE, 3, true, false);
    test::addBlock(le, std::vector<std::uint8_t>(44100, 0));
    EXPECT_EQ(le.computeDuration(), 500);
    for (int format : {9, 15}) {
        OFSound other = test::makeSound(SoundFormat(format), 3, true, false);
        test::addBlock(other, std::vector<std::uint8_t>(44100, 0));
        other.durationMs = 5;
        EXPECT_EQ(other.computeDuration(), 0);
        EXPECT_EQ(other.durationMs, 0);
    }
}

}  // namespace
}  // namespace kestrel
