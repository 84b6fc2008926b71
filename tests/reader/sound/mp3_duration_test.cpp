// MPEG audio frame walk: frame lengths from the header, resynchronisation
// over garbage and invalid headers, frames spread over several blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sound_test_util.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame with the given header bytes 1 and 2 and a zero body (no 0xFF).
Bytes frame(std::uint8_t b1, std::uint8_t b2, std::size_t length) {
    Bytes bytes(length, 0);
    bytes[0] = 0xFF;
    bytes[1] = b1;
    bytes[2] = b2;
    return bytes;
}

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, no padding: 144000 x 128 / 44100
// = 417 bytes, 417 x 8 / 128 = 26.06 ms.
Bytes mpeg1Frame() { return frame(0xFB, 0x90, 417); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::int32_t durationOf(const std::vector<Bytes>& blocks) {
    OFSound sound = test::makeSound(SoundFormat::Mp3, 3, true, false);
    for (const auto& block : blocks) test::addBlock(sound, block);
    return sound.mp3Duration();
}

TEST(Mp3Duration, SumsWholeFramesOnly) {
    EXPECT_EQ(durationOf({mpeg1Frame()}), 26);
    EXPECT_EQ(durationOf({mpeg1Frame() + mpeg1Frame()}), 52);  // 52.125
    // The padding bit adds a byte: 418 bytes, 26.125 ms each.
    Bytes padded;
    for (int i = 0; i < 8; ++i) padded = padded + frame(0xFB, 0x92, 418);
    EXPECT_EQ(durationOf({padded}), 209);
    // A last frame running one byte past the data is not counted.
    Bytes cut = mpeg1Frame() + mpeg1Frame();
    cut.pop_back();
    EXPECT_EQ(durationOf({cut}), 26);
    EXPECT_EQ(durationOf({}), 0);
    EXPECT_EQ(durationOf({{0xFF}, {0xFB, 0x90}}), 0);
}

TEST(Mp3Duration, FrameLengthsByVersionAndLayer) {
    // MPEG-2 Layer III, 32 kbit/s, 16000 Hz: 72000 x 32 / 16000 = 144 bytes, 36 ms.
    EXPECT_EQ(durationOf({frame(0xF3, 0x48, 144) + frame(0xF3, 0x48, 144)}), 72);
    // MPEG-2.5 Layer III, 8 kbit/s, 8000 Hz, padded: 72 + 1 = 73 bytes, 73 ms.
    EXPECT_EQ(durationOf({frame(0xE3, 0x1A, 73) + frame(0xE3, 0x1A, 73)}), 146);
    // MPEG-1 Layer II, 192 kbit/s, 48000 Hz: 576 bytes, 24 ms.
    EXPECT_EQ(durationOf({frame(0xFD, 0xA4, 576) + frame(0xFD, 0xA4, 576)}), 48);
    // MPEG-2 Layer II holds 1152 samples like MPEG-1: 64 kbit/s, 24000 Hz is
    // 144000 x 64 / 24000 = 384 bytes, 48 ms.
    EXPECT_EQ(durationOf({frame(0xF5, 0x84, 384) + frame(0xF5, 0x84, 384)}), 96);
    // MPEG-1 Layer I, 64 kbit/s, 32000 Hz: 12000 x 64 / 32000 = 24 slots of 4
    // bytes, 12 ms; padding adds one slot: 100 bytes, 12.5 ms.
    Bytes layer1;
    for (int i = 0; i < 4; ++i) layer1 = layer1 + frame(0xFF, 0x2A, 100);
    EXPECT_EQ(durationOf({layer1 + frame(0xFF, 0x28, 96)}), 62);
}

TEST(Mp3Duration, SkipsGarbageAndInvalidHeaders) {
    // Garbage before the first header, including a 0xFF not followed by a
    // sync byte, is skipped byte by byte.
    EXPECT_EQ(durationOf({Bytes{0x00, 0x12, 0xFF, 0x1F, 0x37} + mpeg1Frame()}), 26);

    // An invalid header is skipped as four bytes. Here its last byte is 0xFF:
    // resuming any earlier would take that byte and the frame's first three
    // as a header and lose the frame.
    for (std::uint8_t b2 : {0xF0, 0x00, 0x9C}) {  // bitrate 15, bitrate 0, rate 3
        EXPECT_EQ(durationOf({Bytes{0xFF, 0xFB, b2, 0xFF} + mpeg1Frame()}), 26) << int(b2);
    }
    // Reserved version (1) and reserved layer (0).
    EXPECT_EQ(durationOf({Bytes{0xFF, 0xEB, 0x90, 0xFF} + mpeg1Frame()}), 26);
    EXPECT_EQ(durationOf({Bytes{0xFF, 0xF9, 0x90, 0xFF} + mpeg1Frame()}), 26);
}

TEST(Mp3Duration, WalksAcrossBlockBoundaries) {
    const Bytes two = mpeg1Frame() + mpeg1Frame();
    // Frame body split, and the second header split between blocks.
    EXPECT_EQ(durationOf({Bytes(two.begin(), two.begin() + 200), Bytes(two.begin() + 200, two.begin() + 419),
                          Bytes(two.begin() + 419, two.end())}),
              52);
    // Many tiny blocks.
    std::vector<Bytes> bytes;
    for (std::uint8_t b : two) bytes.push_back({b});
    EXPECT_EQ(durationOf(bytes), 52);
    // The frame length counts all blocks: the second frame one byte short.
    EXPECT_EQ(durationOf({Bytes(two.begin(), two.begin() + 500), Bytes(two.begin() + 500, two.end() - 1)}), 26);
}

}  // namespace
}  // namespace kestrel
