// SWF ADPCM decoding against hand-computed samples. Each expectation lists
// the step-table value used and the resulting difference.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sound_test_util.h"

namespace kestrel {
namespace {

using test::BitPacker;

std::vector<std::int16_t> decode(const OFSound& sound, const std::vector<std::uint8_t>& bytes) {
    OFSoundBlock block;
    block.data = bytes;
    std::vector<std::int16_t> out;
    sound.decodeAdpcm(
        block,
        [](void* context, std::int16_t sample) { static_cast<std::vector<std::int16_t>*>(context)->push_back(sample); },
        &out);
    return out;
}

const OFSound kMono = test::makeSound(SoundFormat::Adpcm, 0, true, false);
const OFSound kStereo = test::makeSound(SoundFormat::Adpcm, 0, true, true);

TEST(Adpcm, TwoBitMonoFourByteBlockGivesFiveSamples) {
    // 2 + 22 + 4 x 2 = 32 bits exactly.
    BitPacker p;
    p.put(0, 2).put(1000, 16).put(0, 6).put(1, 2).put(3, 2).put(0, 2).put(2, 2);
    ASSERT_EQ(p.bytes().size(), 4u);
    // step 7: +7+3 -> 1010, idx 2 (9); -(9+4) -> 997, idx 4 (11);
    // +5 -> 1002, idx 3 (10); -5 -> 997.
    EXPECT_EQ(decode(kMono, p.bytes()), (std::vector<std::int16_t>{1000, 1010, 997, 1002, 997}));
}

TEST(Adpcm, ThreeBitCodesStopWhenTheNextCodeDoesNotFit) {
    // 2 + 22 + 3 x 3 = 33 bits in 5 bytes: two more codes from the zero
    // padding fit (39 bits), a third would need 42.
    BitPacker p;
    p.put(1, 2).put(std::uint16_t(-100), 16).put(9, 6).put(3, 3).put(6, 3).put(1, 3);
    ASSERT_EQ(p.bytes().size(), 5u);
    // idx 9 step 17: +(17+8+4) -> -71, idx 13 (25); -(25+6) -> -102, idx 15 (31);
    // +(15+7) -> -80, idx 14 (28); +7 -> -73, idx 13 (25); +6 -> -67.
    EXPECT_EQ(decode(kMono, p.bytes()), (std::vector<std::int16_t>{-100, -71, -102, -80, -73, -67}));
}

TEST(Adpcm, FourBitCodesClampThePredictor) {
    // The 6-bit header index reaches 63 at most.
    BitPacker p;
    p.put(2, 2).put(32700, 16).put(63, 6).put(7, 4).put(15, 4).put(8, 4).put(9, 4);
    // idx 63 step 3024: +(3024+1512+756+378) = 38370 -> 32767, idx 71 (6484);
    // -(6484+3242+1621+810) -> 20610, idx 79 (13899);
    // -(13899 >> 3 = 1737) -> 18873, idx 78 (12635);
    // -(12635 >> 2 = 3158, + 12635 >> 3 = 1579) -> 14136.
    EXPECT_EQ(decode(kMono, p.bytes()), (std::vector<std::int16_t>{32700, 32767, 20610, 18873, 14136}));

    BitPacker q;
    q.put(2, 2).put(std::uint16_t(-32000), 16).put(60, 6).put(9, 4).put(0, 4);
    // idx 60 step 2272: -(568+284) = -32852 -> -32768, idx 59 (2066);
    // +(2066 >> 3 = 258) -> -32510.
    EXPECT_EQ(decode(kMono, q.bytes()), (std::vector<std::int16_t>{-32000, -32768, -32510}));

    BitPacker r;
    r.put(2, 2).put(32767, 16).put(63, 6).put(7, 4).put(7, 4).put(7, 4).put(7, 4).put(8, 4).put(0, 4);
    // idx 63 -> 71 -> 79 -> 87 -> 88 (clamped from 95); -(32767 >> 3), idx 87
    // (29794); +(29794 >> 3).
    const auto samples = decode(kMono, r.bytes());
    ASSERT_EQ(samples.size(), 7u);
    EXPECT_EQ(samples[5], 32767 - 4095);
    EXPECT_EQ(samples[6], 32767 - 4095 + 3724);
}

TEST(Adpcm, FiveBitCodes) {
    // 2 + 22 + 3 x 5 = 39 bits in 5 bytes; the last bit cannot hold a code.
    BitPacker p;
    p.put(3, 2).put(0, 16).put(0, 6).put(15, 5).put(25, 5).put(4, 5);
    // step 7: +(7+3+1+0)+0 = 11, idx 16 (34); -(34+4+2) = -29, idx 18 (41);
    // +(20+2) = -7.
    EXPECT_EQ(decode(kMono, p.bytes()), (std::vector<std::int16_t>{0, 11, -29, -7}));
}

TEST(Adpcm, StereoInterleavesLeftThenRight) {
    BitPacker p;
    p.put(0, 2).put(100, 16).put(0, 6).put(std::uint16_t(-200), 16).put(20, 6);
    p.put(1, 2).put(2, 2).put(2, 2).put(1, 2);  // L, R, L, R
    // 54 bits in 7 bytes: 2 bits left, a stereo step needs 4.
    // L step 7: +10 -> 110, idx 2 (9); -4 -> 106.
    // R step 50: -25 -> -225, idx 19 (45); +(45+22) -> -158.
    EXPECT_EQ(decode(kStereo, p.bytes()), (std::vector<std::int16_t>{100, -200, 110, -225, 106, -158}));
}

TEST(Adpcm, SampleFourThousandNinetySixStartsANewPacket) {
    BitPacker p;
    p.put(0, 2).put(0, 16).put(0, 6);
    for (int i = 0; i < 4095; ++i) p.put(0, 2);  // +3 each at index 0
    p.put(std::uint16_t(-5000), 16).put(30, 6).put(1, 2).put(0, 2);
    const auto samples = decode(kMono, p.bytes());
    ASSERT_EQ(samples.size(), 4099u);
    EXPECT_EQ(samples[1], 3);
    EXPECT_EQ(samples[4095], 3 * 4095);
    // New header, then step 130: +(130+65) -> -4805, idx 32 (157); +78 -> -4727.
    EXPECT_EQ(samples[4096], -5000);
    EXPECT_EQ(samples[4097], -4805);
    EXPECT_EQ(samples[4098], -4727);
}

TEST(Adpcm, BlockEndingInsideAPacketHeaderStopsBeforeIt) {
    // One full mono 2-bit packet takes 2 + 22 + 4095 x 2 = 8214 bits; 1028
    // bytes leave 10 bits, not enough for the next 22-bit header.
    std::vector<std::uint8_t> bytes(1028, 0x55);
    bytes[0] = 0x15;  // code size 2
    EXPECT_EQ(decode(kMono, bytes).size(), 4096u);
    // Stereo: 2 + 44 + 4095 x 4 = 16426 bits; 2053 bytes (16424) end inside
    // the last step of the first packet.
    std::vector<std::uint8_t> stereo(2053, 0);
    EXPECT_EQ(decode(kStereo, stereo).size(), 2u * 4095);
}

TEST(Adpcm, TinyBlocksAndClearedSampleSizeDeliverNothing) {
    for (std::size_t n = 0; n <= 2; ++n) EXPECT_TRUE(decode(kMono, std::vector<std::uint8_t>(n, 0xFF)).empty()) << n;
    EXPECT_EQ(decode(kMono, {0x00, 0x00, 0x00}).size(), 1u);  // 24 bits: header only
    EXPECT_TRUE(decode(kStereo, std::vector<std::uint8_t>(5, 0)).empty());

    const OFSound eightBit = test::makeSound(SoundFormat::Adpcm, 0, false, false);
    EXPECT_TRUE(decode(eightBit, std::vector<std::uint8_t>(64, 0)).empty());
}

TEST(Adpcm, DecodedBytesMatchTheDecoderForEveryBlockLength) {
    // computeDuration counts without decoding; it must agree with the decoder
    // for every code size and layout, across packet boundaries.
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < 48; ++n) lengths.push_back(n);
    // Where one or two packets of each layout end (mono 2-bit 1026.5 bytes,
    // stereo 5-bit 5124 bytes, ...).
    for (std::size_t edge : {1027u, 1538u, 2050u, 2053u, 2562u, 3077u, 4100u, 4101u, 5124u, 6154u, 8201u, 10248u}) {
        for (std::size_t n = edge - 3; n <= edge + 3; ++n) lengths.push_back(n);
    }
    for (bool stereo : {false, true}) {
        for (std::uint8_t codeSize = 0; codeSize < 4; ++codeSize) {
            for (std::size_t n : lengths) {
                std::vector<std::uint8_t> bytes(n, 0xA7);
                if (n > 0) bytes[0] = std::uint8_t(codeSize << 6 | 0x2A);
                OFSound sound = test::makeSound(SoundFormat::Adpcm, 0, true, stereo);
                test::addBlock(sound, bytes);
                sound.computeDuration();
                EXPECT_EQ(sound.decodedBytes, std::int64_t(decode(sound, bytes).size()) * 2)
                    << "stereo " << stereo << " code size " << int(codeSize) + 2 << " bytes " << n;
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
