// Nellymoser, G.711 and Speex through libavcodec: lengths, layouts, the
// samples themselves and the failure path. Test data comes from the
// library's own encoders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reader/sound/av_sound.h"
#include "sound_test_util.h"
#include "swfbuilder/av_encode.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kPi = 3.14159265358979323846;

std::vector<std::int16_t> tone(int rate, int count, double hz, double amplitude = 12000) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int16_t(amplitude * std::sin(2 * kPi * hz * double(i) / rate));
    return s;
}

std::vector<std::int16_t> decodeAll(const OFSound& sound, std::string* reason = nullptr) {
    std::vector<std::int16_t> out;
    const std::string failure = sound.decodeCodec([&out](std::span<const std::int16_t> samples) {
        out.insert(out.end(), samples.begin(), samples.end());
        return true;
    });
    if (reason) *reason = failure;
    return out;
}

// Frequency from upward zero crossings of the samples between from and to.
double frequency(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to, int rate) {
    std::size_t first = 0, last = 0, count = 0;
    for (std::size_t i = from + 1; i < to && i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (count == 0) first = i;
            last = i;
            ++count;
        }
    }
    if (count < 2) return 0;
    return double(rate) * double(count - 1) / double(last - first);
}

double rms(const std::vector<std::int16_t>& s) {
    double sum = 0;
    for (const std::int16_t v : s) sum += double(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

class AvSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ =
            (std::filesystem::temp_directory_path() / ("kestrel-av-" + std::to_string(::getpid()) + ".wav")).string();
    }
    void TearDown() override { std::filesystem::remove(path_); }

    // fmt fields and data chunk of a written file (our own fixed layout:
    // an 18-byte fmt chunk, then data at 38).
    struct Wav {
        std::uint32_t channels = 0, rate = 0, bits = 0;
        std::vector<std::int16_t> samples;
    };
    Wav readWav() const {
        std::ifstream in(path_, std::ios::binary);
        const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Wav wav;
        if (b.size() < 46 || std::string(b.begin() + 38, b.begin() + 42) != "data") {
            ADD_FAILURE() << "unexpected WAV layout";
            return wav;
        }
        auto le = [&b](std::size_t at, int n) {
            std::uint32_t v = 0;
            for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + std::size_t(i)];
            return v;
        };
        wav.channels = le(22, 2);
        wav.rate = le(24, 4);
        wav.bits = le(34, 2);
        const std::uint32_t size = le(42, 4);
        EXPECT_EQ(std::size_t(size) + 46 + (size & 1), b.size());
        for (std::size_t i = 46; i + 1 < 46 + std::size_t(size); i += 2) wav.samples.push_back(std::int16_t(le(i, 2)));
        return wav;
    }

    std::string path_;
};

TEST_F(AvSoundTest, NellymoserDecodesEveryPacketAtItsFormatsRate) {
    const auto packets = swfbuilder::avEncode("nellymoser", 22050, tone(22050, 22050, 440));
    ASSERT_GT(packets.size(), 80u);
    Bytes data = swfbuilder::joined(packets);
    ASSERT_EQ(data.size() % 64, 0u);
    const std::size_t packetCount = data.size() / 64;

    // Format 6: the rate bits; a tail shorter than a packet is not one.
    OFSound sound = test::makeSound(SoundFormat::Nellymoser, 2, true, true);
    Bytes withTail = data;
    withTail.resize(withTail.size() + 30, 0x5A);
    test::addBlock(sound, withTail);
    EXPECT_EQ(sound.computeDuration(), std::int32_t(packetCount * 256 * 1000 / 22050));
    EXPECT_EQ(sound.problem, "");
    EXPECT_EQ(sound.decodedBytes, std::int64_t(packetCount * 256 * 2));
    const PcmLayout layout = sound.pcmLayout();
    EXPECT_EQ(layout.rateHz, 22050u);
    EXPECT_EQ(layout.channels, 1) << "Nellymoser is mono whatever the stereo flag says";
    EXPECT_EQ(layout.bits, 16);

    ASSERT_TRUE(sound.writeWav(path_));
    const Wav wav = readWav();
    EXPECT_EQ(wav.rate, 22050u);
    EXPECT_EQ(wav.channels, 1u);
    EXPECT_EQ(wav.bits, 16u);
    ASSERT_EQ(std::int64_t(wav.samples.size()) * 2, sound.decodedBytes);
    EXPECT_GT(rms(wav.samples), 3000.0);
    EXPECT_NEAR(frequency(wav.samples, 4000, 18000, 22050), 440.0, 5.0);
    EXPECT_EQ(wav.samples, decodeAll(sound));

    // Formats 4 and 5 keep their fixed rates; blocks decode as one stream.
    for (const auto& [format, rate] :
         {std::pair{SoundFormat::Nellymoser16k, 16000u}, {SoundFormat::Nellymoser8k, 8000u}}) {
        OFSound fixed = test::makeSound(format, 3, true, false);
        test::addBlock(fixed, Bytes(data.begin(), data.begin() + 64 * 10));
        test::addBlock(fixed, Bytes(data.begin() + 64 * 10, data.end()));
        fixed.computeDuration();
        EXPECT_EQ(fixed.pcmLayout().rateHz, rate);
        EXPECT_EQ(fixed.decodedBytes, std::int64_t(packetCount * 256 * 2));
        EXPECT_EQ(fixed.durationMs, std::int32_t(packetCount * 256 * 1000 / rate));
    }
}

TEST_F(AvSoundTest, G711MatchesTheLawsAndFollowsTheChannels) {
    // Hand-checked codes: A-law 0xD5/0x55 are the smallest steps, 0xAA/0x2A
    // the largest; mu-law 0xFF/0x7F are zero, 0x80/0x00 the largest.
    OFSound alaw = test::makeSound(SoundFormat::G711ALaw, 1, false, false);
    test::addBlock(alaw, {0xD5, 0x55, 0xAA, 0x2A});
    EXPECT_EQ(decodeAll(alaw), (std::vector<std::int16_t>{8, -8, 32256, -32256}));
    OFSound mulaw = test::makeSound(SoundFormat::G711MuLaw, 1, false, false);
    test::addBlock(mulaw, {0xFF, 0x7F, 0x80, 0x00});
    EXPECT_EQ(decodeAll(mulaw), (std::vector<std::int16_t>{0, 0, 32124, -32124}));

    // Round trip through the library's encoders, within the laws' steps.
    std::vector<std::int16_t> ramp;
    for (int v = -32000; v <= 32000; v += 37) ramp.push_back(std::int16_t(v));
    for (const auto& [name, format] :
         {std::pair{"pcm_alaw", SoundFormat::G711ALaw}, {"pcm_mulaw", SoundFormat::G711MuLaw}}) {
        SCOPED_TRACE(name);
        OFSound sound = test::makeSound(format, 0, false, false);
        for (const auto& packet : swfbuilder::avEncode(name, 8000, ramp)) test::addBlock(sound, packet);
        const auto decoded = decodeAll(sound);
        ASSERT_EQ(decoded.size(), ramp.size());
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ASSERT_LE(std::abs(decoded[i] - ramp[i]), std::abs(ramp[i]) / 16 + 16) << "sample " << i;
    }

    // Stereo: interleaved pairs, half the duration; always 8 kHz.
    OFSound stereo = test::makeSound(SoundFormat::G711ALaw, 3, false, true);
    test::addBlock(stereo, Bytes(1601, 0xD5));  // the odd byte is half a sample frame
    stereo.computeDuration();
    EXPECT_EQ(stereo.pcmLayout().channels, 2);
    EXPECT_EQ(stereo.pcmLayout().rateHz, 8000u);
    EXPECT_EQ(stereo.decodedBytes, 3200);
    EXPECT_EQ(stereo.durationMs, 100);
    ASSERT_TRUE(stereo.writeWav(path_));
    const Wav wav = readWav();
    EXPECT_EQ(wav.channels, 2u);
    EXPECT_EQ(wav.rate, 8000u);
    EXPECT_EQ(wav.samples, std::vector<std::int16_t>(1600, 8));
}

TEST_F(AvSoundTest, SpeexFramesDecodeOnePerBlock) {
    const auto packets = swfbuilder::avEncode("libspeex", 16000, tone(16000, 16000, 500));
    if (packets.empty()) GTEST_SKIP() << "this libavcodec has no Speex encoder";
    OFSound sound = test::makeSound(SoundFormat::Speex, 0, false, false);
    for (const auto& packet : packets) test::addBlock(sound, packet);
    sound.computeDuration();
    EXPECT_EQ(sound.problem, "");
    EXPECT_EQ(sound.decodedBytes, std::int64_t(packets.size() * 320 * 2));
    EXPECT_EQ(sound.pcmLayout().rateHz, 16000u);
    const auto decoded = decodeAll(sound);
    EXPECT_GT(rms(decoded), 2000.0);
    EXPECT_NEAR(frequency(decoded, 2000, 12000, 16000), 500.0, 10.0);

    // An event sound holds every frame in one block: constant-rate frames
    // are split by the declared sample count.
    OFSound joined = test::makeSound(SoundFormat::Speex, 0, false, false);
    test::addBlock(joined, swfbuilder::joined(packets));
    joined.sampleCount = std::uint32_t(packets.size() * 320);
    joined.computeDuration();
    EXPECT_EQ(joined.problem, "");
    EXPECT_EQ(joined.decodedBytes, sound.decodedBytes);
    EXPECT_EQ(decodeAll(joined), decoded);

    // Frames it cannot tell apart would come out as the first frame only:
    // that is reported, not written short.
    OFSound uneven = test::makeSound(SoundFormat::Speex, 0, false, false);
    Bytes data = swfbuilder::joined(packets);
    data.push_back(0);
    test::addBlock(uneven, data);
    uneven.sampleCount = joined.sampleCount;
    uneven.computeDuration();
    EXPECT_EQ(uneven.problem, "Speex: 320 of " + std::to_string(uneven.sampleCount) + " samples decoded");
    EXPECT_EQ(uneven.durationMs, 0);
}

TEST_F(AvSoundTest, UndecodableDataIsAReasonAndNoFile) {
    OFSound sound = test::makeSound(SoundFormat::Speex, 0, false, false);
    test::addBlock(sound, Bytes(200, 0xFF));
    EXPECT_EQ(sound.computeDuration(), 0);
    EXPECT_EQ(sound.decodedBytes, 0);
    EXPECT_EQ(sound.problem, "Speex: Invalid data found when processing input");
    EXPECT_FALSE(sound.writeWav(path_));

    // Data too short for one packet is an empty sound, not a failure.
    OFSound tiny = test::makeSound(SoundFormat::Nellymoser, 1, true, false);
    test::addBlock(tiny, Bytes(63, 1));
    EXPECT_EQ(tiny.computeDuration(), 0);
    EXPECT_EQ(tiny.problem, "");

    EXPECT_FALSE(avsound::handles(SoundFormat::UncompressedLE));
    EXPECT_STREQ(avsound::codecName(SoundFormat::G711MuLaw), "G.711 mu-law");
}

}  // namespace
}  // namespace kestrel
