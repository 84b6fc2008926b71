// WAV output read back with an independent chunk walker.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "sound_test_util.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t le(const Bytes& b, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | b.at(at + std::size_t(i));
    return v;
}

struct Wav {
    std::vector<std::string> ids;  // chunk order
    std::map<std::string, Bytes> chunks;
    Bytes pads;  // value of each pad byte found
    std::size_t fileSize = 0;
    // fmt fields: tag, channels, rate, bytes/s, align, bits, extra size
    std::vector<std::uint32_t> format() const {
        const Bytes& f = chunks.at("fmt ");
        return {le(f, 0, 2), le(f, 2, 2), le(f, 4, 4), le(f, 8, 4), le(f, 12, 2), le(f, 14, 2), le(f, 16, 2)};
    }
};

Wav readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Wav wav;
    wav.fileSize = b.size();
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE") {
        ADD_FAILURE() << "not a RIFF WAVE file";
        return wav;
    }
    EXPECT_EQ(le(b, 4, 4), b.size() - 8);
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + long(at), b.begin() + long(at) + 4);
        const std::size_t size = le(b, at + 4, 4);
        const std::size_t end = at + 8 + size;
        if (end > b.size()) {
            ADD_FAILURE() << id << " runs past the file";
            return wav;
        }
        wav.ids.push_back(id);
        wav.chunks[id] = Bytes(b.begin() + long(at) + 8, b.begin() + long(end));
        at = end;
        if ((size & 1) && at < b.size()) wav.pads.push_back(b[at++]);
    }
    EXPECT_EQ(at, b.size());
    return wav;
}

class WavTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path_); }
    std::string path_ = (std::filesystem::path(::testing::TempDir()) /
                         ("kestrel-wav-" + std::to_string(::getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav"))
                            .string();
};

TEST_F(WavTest, UncompressedHeadersDataAndPadding) {
    OFSound mono = test::makeSound(SoundFormat::Uncompressed, 0, false, false);
    test::addBlock(mono, {0x80, 0x81});
    test::addBlock(mono, {0x7F});
    ASSERT_TRUE(mono.writeWav(path_));
    Wav wav = readWav(path_);
    EXPECT_EQ(wav.ids, (std::vector<std::string>{"fmt ", "data"}));
    EXPECT_EQ(wav.format(), (std::vector<std::uint32_t>{1, 1, 5500, 5500, 1, 8, 18}));
    EXPECT_EQ(wav.chunks["data"], (Bytes{0x80, 0x81, 0x7F}));
    EXPECT_EQ(wav.pads, (Bytes{0}));
    EXPECT_EQ(wav.fileSize, 50u);  // 12 + (8 + 18) + (8 + 3 + 1): RIFF size counts the pad

    OFSound stereo = test::makeSound(SoundFormat::Uncompressed, 3, true, true);
    test::addBlock(stereo, {1, 2, 3, 4});
    test::addBlock(stereo, {5, 6, 7, 8});
    ASSERT_TRUE(stereo.writeWav(path_));  // replaces the file
    wav = readWav(path_);
    EXPECT_EQ(wav.format(), (std::vector<std::uint32_t>{1, 2, 44100, 176400, 4, 16, 18}));
    EXPECT_EQ(wav.chunks["data"], (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(wav.pads.empty());
    EXPECT_EQ(wav.fileSize, 54u);
}

TEST_F(WavTest, AdpcmBlocksAreDecodedEachOnItsOwn) {
    // The five-sample block 1000, 1010, 997, 1002, 997 twice.
    test::BitPacker p;
    p.put(0, 2).put(1000, 16).put(0, 6).put(1, 2).put(3, 2).put(0, 2).put(2, 2);
    OFSound sound = test::makeSound(SoundFormat::Adpcm, 2, true, false);
    test::addBlock(sound, p.bytes());
    test::addBlock(sound, p.bytes());
    ASSERT_TRUE(sound.writeWav(path_));
    Wav wav = readWav(path_);
    EXPECT_EQ(wav.format(), (std::vector<std::uint32_t>{1, 1, 22050, 44100, 2, 16, 18}));
    const Bytes once = {0xE8, 0x03, 0xF2, 0x03, 0xE5, 0x03, 0xEA, 0x03, 0xE5, 0x03};
    Bytes twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(wav.chunks["data"], twice);

    sound.is16Bit = false;  // decodes to nothing
    ASSERT_TRUE(sound.writeWav(path_));
    wav = readWav(path_);
    EXPECT_EQ(wav.ids, (std::vector<std::string>{"fmt ", "data"}));
    EXPECT_TRUE(wav.chunks["data"].empty());
    EXPECT_EQ(wav.fileSize, 46u);
}

TEST_F(WavTest, LargeAdpcmSoundMatchesTheSampleDecoder) {
    // Several hundred kilobytes of output: buffering must not lose or repeat
    // samples; negative samples check the byte order.
    OFSound sound = test::makeSound(SoundFormat::Adpcm, 3, true, true);
    Bytes block(6000);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint8_t(i * 151 + 7);
    block[0] = 0xC0 | (block[0] & 0x3F);  // 5-bit codes
    for (int i = 0; i < 12; ++i) {
        block[1] = std::uint8_t(i * 37);
        test::addBlock(sound, block);
    }
    Bytes expected;
    for (const auto& b : sound.blocks) {
        sound.decodeAdpcm(
            b,
            [](void* context, std::int16_t s) {
                auto* out = static_cast<Bytes*>(context);
                out->push_back(std::uint8_t(std::uint16_t(s)));
                out->push_back(std::uint8_t(std::uint16_t(s) >> 8));
            },
            &expected);
    }
    ASSERT_GT(expected.size(), 200000u);
    ASSERT_TRUE(sound.writeWav(path_));
    EXPECT_TRUE(readWav(path_).chunks["data"] == expected);
}

TEST_F(WavTest, FailuresAreReported) {
    OFSound sound = test::makeSound(SoundFormat::Uncompressed, 0, false, false);
    test::addBlock(sound, Bytes(10, 0x80));
    EXPECT_FALSE(sound.writeWav((std::filesystem::path(path_) / "missing" / "x.wav").string()));

    // Only formats 0 and 1 are written as WAV; no file is created otherwise.
    OFSound mp3 = test::makeSound(SoundFormat::Mp3, 3, true, false);
    test::addBlock(mp3, Bytes(10, 0));
    EXPECT_FALSE(mp3.writeWav(path_));
    EXPECT_FALSE(std::filesystem::exists(path_));

    if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
    OFSound tiny = test::makeSound(SoundFormat::Uncompressed, 0, false, false);
    test::addBlock(tiny, {1});  // fits the stream buffer: fails at flush
    EXPECT_FALSE(tiny.writeWav("/dev/full"));
    OFSound large = test::makeSound(SoundFormat::Uncompressed, 0, false, false);
    test::addBlock(large, Bytes(300000, 0x80));
    EXPECT_FALSE(large.writeWav("/dev/full"));
    OFSound adpcm = test::makeSound(SoundFormat::Adpcm, 0, true, false);
    test::addBlock(adpcm, Bytes(100000, 0x00));
    EXPECT_FALSE(adpcm.writeWav("/dev/full"));
}

}  // namespace
}  // namespace kestrel
