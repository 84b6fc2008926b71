// Decoder drivers, their cache, and block-by-block MP3 conversion checked
// against libmpg123 decoding the whole stream at once.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/audio_source.h"
#include "audio/decoder.h"
#include "audio_test_util.h"

namespace kestrel {
namespace {

using test::Bytes;

int lookup(DriverLookup how, std::int32_t channels, std::int32_t rate, DecoderDriverPtr& driver,
           int kind = kAudioKindMp3, std::int32_t size = 8) {
    const Mp3FormatDescriptor format{channels, rate};
    return AcquireDecoderDriver(how, kind, &format, size, driver);
}

// Decodes every block of the source, concatenating the PCM.
Bytes decodeAll(OBAudioDecoder& decoder, OBAudio& source, int* blocks = nullptr) {
    Bytes pcm;
    AudioBufferPtr buffer;
    bool end = false;
    int taken = 0;
    while (decoder.Decode(&source, buffer, end)) {
        ++taken;
        if (buffer) pcm.insert(pcm.end(), buffer->data(), buffer->data() + buffer->length);
    }
    EXPECT_TRUE(end);
    if (blocks) *blocks = taken;
    return pcm;
}

TEST(DecoderCacheTest, EveryMpegRateAndLayoutHasADriver) {
    for (bool stereo : {false, true}) {
        for (std::size_t i = 0; i < kMpegRates.size(); ++i) {
            SCOPED_TRACE(kMpegRates[i]);
            const DriverCacheSlot slot = DecoderDriverCacheSlot(stereo, i);
            EXPECT_EQ(slot.code, kAudioOk);
            ASSERT_NE(slot.driver, nullptr);
            const std::uint16_t channels = stereo ? 2 : 1;
            EXPECT_EQ(slot.driver->outputFormat(), WaveFormat::pcm(channels, std::uint32_t(kMpegRates[i]), 16));
            EXPECT_EQ(slot.driver->outputFormat().avgBytesPerSec, std::uint32_t(kMpegRates[i]) * 2 * channels);
        }
    }
}

TEST(DecoderCacheTest, LookupPicksTheRowByChannelCountAndRefusesOtherRates) {
    DecoderDriverPtr driver;
    EXPECT_EQ(lookup(DriverLookup::kCache, 1, 22050, driver), kAudioOk);
    EXPECT_EQ(driver, DecoderDriverCacheSlot(false, 4).driver);
    for (std::int32_t channels : {0, 2, 3, -1}) {
        EXPECT_EQ(lookup(DriverLookup::kCache, channels, 22050, driver), kAudioOk);
        EXPECT_EQ(driver, DecoderDriverCacheSlot(true, 4).driver);
    }
    EXPECT_EQ(lookup(DriverLookup::kCache, 1, 5500, driver), kAudioDecoderFailed);
    EXPECT_EQ(driver, nullptr);
    EXPECT_EQ(lookup(DriverLookup::kCache, 1, 44101, driver), kAudioDecoderFailed);

    // Anything but an 8-byte MP3 descriptor is a fresh selection, which
    // refuses it.
    EXPECT_EQ(lookup(DriverLookup::kCache, 1, 22050, driver, 1), kAudioBadArgument);
    EXPECT_EQ(lookup(DriverLookup::kCache, 1, 22050, driver, kAudioKindMp3, 4), kAudioBadArgument);
    EXPECT_EQ(AcquireDecoderDriver(DriverLookup::kCache, kAudioKindMp3, nullptr, 8, driver), kAudioBadArgument);

    EXPECT_EQ(lookup(DriverLookup::kSearch, 1, 5500, driver), kAudioNoDecoder);
    EXPECT_EQ(lookup(DriverLookup::kSearch, 3, 22050, driver), kAudioNoDecoder);
    EXPECT_EQ(driver, nullptr);
}

TEST(DecoderCacheTest, ShutdownEmptiesEverySlot) {
    AudioShutdown();
    DecoderDriverPtr driver;
    EXPECT_EQ(lookup(DriverLookup::kCache, 2, 44100, driver), kAudioDecoderFailed);
    EXPECT_EQ(driver, nullptr);
    EXPECT_EQ(DecoderDriverCacheSlot(true, 7).code, kAudioDecoderFailed);
    AudioStartup();
    EXPECT_EQ(lookup(DriverLookup::kCache, 2, 44100, driver), kAudioOk);
}

TEST(DecoderTest, BlockwiseDecodingEqualsTheWholeStream) {
    struct Case {
        const char* file;
        bool stream;
        int channels;
        long rate;
    };
    const Case cases[] = {
        {test::kChildSwf, false, 1, 44100},  // 4 source blocks, 64 kbit/s
        {test::kCakeSwf, true, 1, 11025},    // 21 source blocks, 16 kbit/s
        {nullptr, false, 2, 44100},          // variable bit rate, stereo
    };
    int growths = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "stereo");
        auto sound = c.file ? test::fixtureSound(c.file, SoundFormat::Mp3, c.stream) : test::stereoMp3Sound();
        ASSERT_NE(sound, nullptr);
        OFAudioMP3 source(sound.get());
        source.Open();
        std::int32_t size = 0;
        const void* format = source.GetFormat(size);
        DecoderDriverPtr driver;
        ASSERT_EQ(AcquireDecoderDriver(DriverLookup::kCache, source.kind(), format, size, driver), kAudioOk);
        OBAudioDecoder decoder;
        ASSERT_EQ(decoder.Open(driver), kAudioOk);

        int blocks = 0;
        const Bytes pcm = decodeAll(decoder, source, &blocks);
        EXPECT_EQ(blocks, int((sound->totalBytes() + 1999) / 2000));
        const Bytes reference = test::referenceMp3(*sound, c.channels, c.rate);
        ASSERT_FALSE(reference.empty());
        EXPECT_TRUE(pcm == reference) << pcm.size() << " bytes against " << reference.size();
        EXPECT_GT(decoder.expansionRatio(), 1.0f);
        growths += decoder.growthCount();
    }
    // Blocks that hold one frame more than the one before need a larger
    // buffer than the measured ratio gives: the growth path ran and lost
    // nothing.
    EXPECT_GT(growths, 0);
}

TEST(DecoderTest, AnMp3FileInBinaryDataPlaysAsTheFileItIs) {
    // An ID3 tag whose 4-byte body looks like a frame header comes first.
    Bytes file = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 4, 0xFF, 0xFB, 0x90, 0x64};
    const Bytes mp3 = test::readAll(test::dataFile("stereo-vbr.mp3"));
    file.insert(file.end(), mp3.begin(), mp3.end());
    swfbuilder::Tags tags;
    tags.tag(swfbuilder::kTagDefineBinaryData, swfbuilder::defineBinaryDataBody(5, file)).showFrame().end();
    test::RecordingSink sink;
    SWFReader reader(&sink);
    reader.readMemory(swfbuilder::SwfFile().tags(tags).bytes(), nullptr);
    ASSERT_EQ(sink.sounds.size(), 1u);

    OFAudioMP3 source(sink.sounds[0].get());
    source.Open();
    std::int32_t size = 0;
    const void* format = source.GetFormat(size);
    DecoderDriverPtr driver;
    ASSERT_EQ(AcquireDecoderDriver(DriverLookup::kCache, source.kind(), format, size, driver), kAudioOk);
    OBAudioDecoder decoder;
    ASSERT_EQ(decoder.Open(driver), kAudioOk);
    const Bytes pcm = decodeAll(decoder, source);
    EXPECT_TRUE(pcm == test::referenceMp3(*test::stereoMp3Sound(), 2, 44100)) << pcm.size() << " bytes";
}

TEST(DecoderTest, OutputTakesTheSwfHeadersRateAndLayout) {
    // 11025 Hz mono frames declared as 22 kHz stereo: the PCM has the
    // declared rate and layout, so it plays at the right speed.
    auto sound = test::fixtureSound(test::kCakeSwf, SoundFormat::Mp3, false);
    ASSERT_NE(sound, nullptr);
    sound->rate = 2;
    sound->stereo = true;
    OFAudioMP3 source(sound.get());
    source.Open();
    DecoderDriverPtr driver;
    ASSERT_EQ(lookup(DriverLookup::kCache, 2, 22050, driver), kAudioOk);
    OBAudioDecoder decoder;
    ASSERT_EQ(decoder.Open(driver), kAudioOk);
    const Bytes pcm = decodeAll(decoder, source);
    // 37 frames of 576 samples, twice the rate, two channels of 2 bytes.
    EXPECT_EQ(pcm.size(), 37u * 576 * 2 * 2 * 2);
    EXPECT_TRUE(pcm == test::referenceMp3(*sound, 2, 22050));
}

TEST(DecoderTest, JunkAroundTheFramesCostsNoRealSample) {
    auto real = test::fixtureSound(test::kChildSwf, SoundFormat::Mp3, false);
    ASSERT_NE(real, nullptr);
    OFSound sound = *real;
    std::vector<std::uint8_t> junk(5000);
    std::uint32_t state = 7;
    for (auto& byte : junk) {
        state = state * 1103515245u + 12345u;
        byte = std::uint8_t(state >> 16);
    }
    sound.blocks.insert(sound.blocks.begin(), OFSoundBlock{junk});
    sound.blocks.push_back(OFSoundBlock{junk});

    OFAudioMP3 source(&sound);
    source.Open();
    DecoderDriverPtr driver;
    ASSERT_EQ(lookup(DriverLookup::kCache, 1, 44100, driver), kAudioOk);
    OBAudioDecoder decoder;
    ASSERT_EQ(decoder.Open(driver), kAudioOk);
    const Bytes pcm = decodeAll(decoder, source);
    // Junk before and after does not cost a single real sample.
    const Bytes reference = test::referenceMp3(*real, 1, 44100);
    EXPECT_NE(std::search(pcm.begin(), pcm.end(), reference.begin(), reference.end()), pcm.end());
}

}  // namespace
}  // namespace kestrel
