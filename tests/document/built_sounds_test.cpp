// A built movie with little-endian PCM and codec sounds, event and stream,
// read, listed and extracted the way the programs do it.
#include <cmath>
#include <filesystem>

#include "document/extract.h"
#include "document/swf_document.h"
#include "swfbuilder/av_encode.h"
#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

class Host final : public ExtractionHost {
public:
    OverwriteAnswer confirmOverwrite(const std::string&) override { return OverwriteAnswer::Yes; }
    MessageAnswer report(const std::string& text, MessageIcon, MessageButtons) override {
        reports.push_back(text);
        return MessageAnswer::Yes;
    }
    std::vector<std::string> reports;
};

Bytes pattern(std::size_t n, int seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(i * 7 + std::size_t(seed) * 31 + (i >> 5));
    return b;
}

std::vector<std::int16_t> tone(int rate, int count, double hz) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = std::int16_t(10000 * std::sin(2 * 3.14159265 * hz * i / rate));
    return s;
}

// The data chunk of a WAV file written with an 18-byte fmt chunk.
Bytes wavData(const Bytes& file) {
    if (file.size() < 46) return {};
    const std::size_t size = file[42] | file[43] << 8 | file[44] << 16 | std::size_t(file[45]) << 24;
    return Bytes(file.begin() + 46, file.begin() + 46 + long(std::min(size, file.size() - 46)));
}

TEST(BuiltMovieSounds, LittleEndianPcmAndCodecsListAndExtract) {
    const auto nelly = avEncode("nellymoser", 11025, tone(11025, 11025, 300));
    const auto alaw = avEncode("pcm_alaw", 8000, tone(8000, 3000, 400));
    ASSERT_FALSE(nelly.empty());
    ASSERT_EQ(alaw.size(), 3u);

    const Bytes le16s = pattern(4000, 1), le8m = pattern(1001, 2), le16m = pattern(2002, 3), le8s = pattern(600, 4);
    Tags sprite;
    sprite.tag(kTagSoundStreamHead2, soundStreamHeadBody(3, 2, true, false, 100));
    for (int f = 0; f < 3; ++f) sprite.tag(kTagSoundStreamBlock, pattern(200, 10 + f)).showFrame();
    sprite.end();
    Tags t;
    t.tag(kTagSoundStreamHead, soundStreamHeadBody(7, 1, false, false, 1024));
    for (const auto& packet : alaw) t.tag(kTagSoundStreamBlock, packet);
    t.tag(kTagDefineSound, defineSoundBody(1, 3, 3, true, true, 1000, le16s))
        .tag(kTagDefineSound, defineSoundBody(2, 3, 0, false, false, 1001, le8m))
        .tag(kTagDefineSound, defineSoundBody(3, 3, 1, true, false, 1001, le16m))
        .tag(kTagDefineSound, defineSoundBody(4, 3, 2, false, true, 300, le8s))
        .tag(kTagDefineSound, defineSoundBody(5, 6, 1, true, false, 11025, joined(nelly)))
        .tag(kTagDefineSound, defineSoundBody(6, 11, 0, true, false, 320, Bytes(90, 0xFF)))
        .sprite(7, 3, sprite)
        .showFrame()
        .end();

    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("tones.swf", SwfFile().frames(1).tags(t).bytes()), nullptr, nullptr));
    std::vector<std::string> types;
    for (int i = 0; i < doc.count(); ++i) types.push_back(doc.resource(i).typeText);
    EXPECT_EQ(types, (std::vector<std::string>{"WAV 44 kHz Stereo 16 bits", "WAV 5.5 kHz Mono 8 bits",
                                               "WAV 11 kHz Mono 16 bits", "WAV 22 kHz Stereo 8 bits",
                                               "WAV Nellymoser 11 kHz Mono 16 bits", "WAV Speex 16 kHz Mono 16 bits",
                                               "WAV 22 kHz Mono 16 bits",  // the sprite's stream
                                               "WAV G.711 A-law 8 kHz Mono 16 bits"}));
    ASSERT_EQ(doc.count(), 8);
    const auto& le = static_cast<const SWFSound&>(doc.resource(0));
    EXPECT_EQ(le.durationMs, 22);  // 1000 stereo 16-bit frames at 44.1 kHz
    const auto& stream = static_cast<const SWFSound&>(doc.resource(6));
    EXPECT_EQ(stream.memorySize, 600);
    EXPECT_EQ(stream.durationMs, 13);
    const auto& g711 = static_cast<const SWFSound&>(doc.resource(7));
    EXPECT_EQ(g711.durationMs, 375);
    const auto& speex = static_cast<const SWFSound&>(doc.resource(5));
    ASSERT_EQ(speex.problems.size(), 1u);
    EXPECT_EQ(speex.problems[0].tag, 14);

    Host host;
    const std::string out = dir.path() + "/out";
    const ExtractSummary summary = extractResources(doc, out, {0, 1, 2, 3, 4, 5, 6, 7}, host);
    EXPECT_EQ(summary.written, 7);
    EXPECT_EQ(summary.failed, 1);
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_NE(host.reports[0].find("Speex: Invalid data found when processing input"), std::string::npos)
        << host.reports[0];
    EXPECT_FALSE(std::filesystem::exists(out + "/tones-6.wav"));

    // Little-endian PCM is written as stored, blocks in order.
    EXPECT_EQ(wavData(readAll(out + "/tones-1.wav")), le16s);
    EXPECT_EQ(wavData(readAll(out + "/tones-2.wav")), le8m);
    EXPECT_EQ(wavData(readAll(out + "/tones-3.wav")), le16m);
    EXPECT_EQ(wavData(readAll(out + "/tones-4.wav")), le8s);
    Bytes blocks;
    for (int f = 0; f < 3; ++f) {
        const Bytes b = pattern(200, 10 + f);
        blocks.insert(blocks.end(), b.begin(), b.end());
    }
    EXPECT_EQ(wavData(readAll(out + "/tones-7.wav")), blocks);

    // Codecs: 16-bit PCM of the decoded length.
    EXPECT_EQ(wavData(readAll(out + "/tones-5.wav")).size(), nelly.size() * 256 * 2);
    EXPECT_EQ(wavData(readAll(out + "/tones-8.wav")).size(), 3000u * 2);
}

}  // namespace
}  // namespace kestrel::test
