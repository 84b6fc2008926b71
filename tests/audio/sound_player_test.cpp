// The preview's sound player: each sound format reaches the device intact,
// failures stay silent, and nothing outlives a preview. Also the preview's
// time display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "audio/sound_player.h"
#include "audio_test_util.h"

namespace kestrel {
namespace {

using test::Bytes;

OFSound pcmSound(SoundFormat format, std::uint8_t rate, bool is16Bit, bool stereo) {
    OFSound sound;
    sound.format = format;
    sound.rate = rate;
    sound.is16Bit = is16Bit;
    sound.stereo = stereo;
    return sound;
}

void addBlock(OFSound& sound, const Bytes& bytes) { sound.addBlock(bytes.data(), bytes.size()); }

int threadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

using SoundPlayerTest = test::AudioTest;

TEST_F(SoundPlayerTest, UncompressedSoundsPlayAsOneBuffer) {
    {
        OFSound sound = pcmSound(SoundFormat::Uncompressed, 2, true, true);
        const Bytes signal = test::noise16(22050, 11);  // half a second of stereo
        addBlock(sound, Bytes(signal.begin(), signal.begin() + 30000));
        addBlock(sound, Bytes(signal.begin() + 30000, signal.end()));
        KSSoundPlayer player;
        ASSERT_TRUE(player.Play(&sound, notifier));
        ASSERT_NE(player.waveOut(), nullptr);
        EXPECT_EQ(player.waveOut()->format(), WaveFormat::pcm(2, 22050, 16, 18));
        ASSERT_TRUE(waitPosted(1));
        EXPECT_EQ(notifier->ReleaseDoneBuffers(), 1u);
        EXPECT_EQ(PendingBufferCount(), 0u);
        player.Stop();
        EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(signal));
    }
    {
        ::setenv("SDL_DISKAUDIOFILE", dir.file("eight.raw").c_str(), 1);
        OFSound sound = pcmSound(SoundFormat::Uncompressed, 0, false, false);
        const Bytes signal = test::noise8(2750, 12);
        addBlock(sound, signal);
        KSSoundPlayer player;
        ASSERT_TRUE(player.Play(&sound, notifier));
        const WaveFormat format = player.waveOut()->format();
        EXPECT_EQ(format.samplesPerSec, 5500u);
        EXPECT_EQ(format.avgBytesPerSec, 5500u);
        EXPECT_EQ(format.blockAlign, 1u);
        ASSERT_TRUE(waitPosted(2));
        player.Stop();
        const Bytes raw = test::readAll(dir.file("eight.raw"));
        EXPECT_EQ(test::nonSilent8(raw), signal);
        // 8-bit sound is unsigned: the device's own silence is the midpoint.
        ASSERT_GT(raw.size(), signal.size());
        EXPECT_EQ(raw.back(), 0x80);
    }
}

TEST_F(SoundPlayerTest, LittleEndianPcmPlaysAsStored) {
    OFSound sound = pcmSound(SoundFormat::UncompressedLE, 1, true, true);
    const Bytes signal = test::noise16(4000, 31);
    addBlock(sound, signal);
    KSSoundPlayer player;
    ASSERT_TRUE(player.Play(&sound, notifier));
    ASSERT_NE(player.waveOut(), nullptr);
    EXPECT_EQ(player.waveOut()->format(), WaveFormat::pcm(2, 11025, 16, 18));
    ASSERT_TRUE(waitPosted(1));
    player.Stop();
    EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(signal));
}

TEST_F(SoundPlayerTest, CodecSoundsPlayTheirDecodedSamples) {
    // G.711 mu-law: every byte is a sample, decoded at 8 kHz whatever the
    // rate bits say; 0x80 and 0x00 are the extremes.
    OFSound sound = pcmSound(SoundFormat::G711MuLaw, 3, false, false);
    Bytes codes(4000);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = i % 2 ? 0x80 : 0x00;
    addBlock(sound, codes);
    sound.computeDuration();
    ASSERT_EQ(sound.problem, "");
    ASSERT_EQ(sound.decodedBytes, 8000);

    KSSoundPlayer player;
    ASSERT_TRUE(player.Play(&sound, notifier));
    ASSERT_NE(player.waveOut(), nullptr);
    EXPECT_EQ(player.waveOut()->format(), WaveFormat::pcm(1, 8000, 16, 18));
    ASSERT_TRUE(waitPosted(1));
    player.Stop();
    Bytes expected;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const auto v = std::uint16_t(i % 2 ? 32124 : -32124);
        expected.push_back(std::uint8_t(v));
        expected.push_back(std::uint8_t(v >> 8));
    }
    EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(expected));
}

TEST_F(SoundPlayerTest, AdpcmSoundPlaysItsDecodedSamples) {
    OFSound sound = pcmSound(SoundFormat::Adpcm, 1, true, false);
    // Any bit string is valid SWF ADPCM: code size, packet headers, codes.
    addBlock(sound, test::noise8(3000, 21));
    addBlock(sound, test::noise8(1777, 22));
    sound.computeDuration();
    ASSERT_GT(sound.decodedBytes, 0);

    Bytes expected;
    for (const auto& block : sound.blocks) {
        sound.decodeAdpcm(
            block,
            [](void* out, std::int16_t sample) {
                auto& bytes = *static_cast<Bytes*>(out);
                bytes.push_back(std::uint8_t(std::uint16_t(sample)));
                bytes.push_back(std::uint8_t(std::uint16_t(sample) >> 8));
            },
            &expected);
    }
    ASSERT_EQ(std::int64_t(expected.size()), sound.decodedBytes);

    KSSoundPlayer player;
    ASSERT_TRUE(player.Play(&sound, notifier));
    EXPECT_EQ(player.waveOut()->format(), WaveFormat::pcm(1, 11025, 16, 18));
    ASSERT_TRUE(waitPosted(1));
    player.Stop();
    EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(expected));
}

TEST_F(SoundPlayerTest, Mp3SoundPlaysThroughAManager) {
    auto sound = test::fixtureSound(test::kCakeSwf, SoundFormat::Mp3, false);
    ASSERT_NE(sound, nullptr);
    KSSoundPlayer player;
    ASSERT_TRUE(player.Play(sound.get(), notifier));
    ASSERT_NE(player.manager(), nullptr);
    EXPECT_EQ(player.waveOut(), nullptr);
    const OBAudioManager& manager = *player.manager();
    ASSERT_TRUE(test::eventually([&] { return manager.handledCommands() == 1 && !manager.playerActive(); }));
    ASSERT_TRUE(drainDevice(manager.deviceId()));
    player.Stop();
    EXPECT_EQ(player.manager(), nullptr);
    EXPECT_TRUE(test::nonSilent16(recording()) == test::nonSilent16(test::referenceMp3(*sound, 1, 11025)));
}

TEST_F(SoundPlayerTest, UnplayableSoundsStaySilent) {
    KSSoundPlayer player;
    EXPECT_FALSE(player.Play(nullptr, notifier));
    OFSound odd = pcmSound(SoundFormat(9), 3, true, true);
    addBlock(odd, test::noise16(100, 1));
    EXPECT_TRUE(player.Play(&odd, notifier));
    EXPECT_EQ(player.waveOut(), nullptr);
    EXPECT_EQ(player.manager(), nullptr);

    // A codec that failed when the file was read plays nothing.
    OFSound speex = pcmSound(SoundFormat::Speex, 0, true, false);
    addBlock(speex, test::noise8(700, 3));
    speex.problem = "Speex: Invalid data found when processing input";
    speex.decodedBytes = 640;
    EXPECT_TRUE(player.Play(&speex, notifier));
    EXPECT_EQ(player.waveOut(), nullptr);

    // No device: uncompressed sounds report the failure, MP3 sounds run
    // their worker without output.
    ::setenv("SDL_DISKAUDIOFILE", (dir.path() + "/missing/device.raw").c_str(), 1);
    OFSound pcm = pcmSound(SoundFormat::Uncompressed, 3, true, false);
    addBlock(pcm, test::noise16(100, 2));
    EXPECT_FALSE(player.Play(&pcm, notifier));
    EXPECT_EQ(player.waveOut(), nullptr);

    auto mp3 = test::fixtureSound(test::kChildSwf, SoundFormat::Mp3, false);
    ASSERT_NE(mp3, nullptr);
    EXPECT_TRUE(player.Play(mp3.get(), notifier));
    ASSERT_NE(player.manager(), nullptr);
    ASSERT_TRUE(test::eventually([&] { return player.manager()->handledCommands() == 1; }));
    EXPECT_EQ(player.manager()->deviceId(), 0u);
    player.Stop();
    EXPECT_EQ(PendingBufferCount(), 0u);
    EXPECT_EQ(notifier->postedCount(), 0u);
}

TEST_F(SoundPlayerTest, AHundredPreviewsLeaveNothingBehind) {
    auto mp3 = test::fixtureSound(test::kChildSwf, SoundFormat::Mp3, false);
    ASSERT_NE(mp3, nullptr);
    OFSound pcm = pcmSound(SoundFormat::Uncompressed, 3, true, true);
    addBlock(pcm, test::noise16(44100, 3));
    const int threads = threadCount();

    for (int i = 0; i < 100; ++i) {
        KSSoundPlayer player;
        ASSERT_TRUE(player.Play(i % 2 ? &pcm : mp3.get(), notifier));
        if (i % 10 == 0) {
            // Some previews are closed while the worker is busy playing.
            ASSERT_TRUE(test::eventually(
                [&] { return player.waveOut() || (player.manager() && player.manager()->deviceId() != 0); }));
        }
        if (i % 3 == 0) notifier->ReleaseDoneBuffers();
    }
    notifier->ReleaseDoneBuffers();
    EXPECT_EQ(OBAudioManager::liveWorkers(), 0);
    EXPECT_EQ(OBAudioWaveOut::openDevices(), 0);
    EXPECT_EQ(PendingBufferCount(), 0u);
    EXPECT_TRUE(test::eventually([&] { return threadCount() == threads; }))
        << threadCount() << " threads, " << threads << " before";
}

TEST(PreviewTimeTest, TextShowsPlayedTimeAgainstTheDuration) {
    EXPECT_EQ(PreviewTimeText(PreviewShownTime(5000, 83456), 83456), "00:05.0 - 01:23.4");
    // Laying out before playing starts shows the duration on both sides.
    EXPECT_EQ(PreviewTimeText(PreviewShownTime(4000000000u, 83456), 83456), "01:23.4 - 01:23.4");
    EXPECT_EQ(PreviewTimeText(0, 6000000), "00:00.0 - 00:00.0");  // minutes modulo 100
    EXPECT_EQ(PreviewTimeText(61999, 3599999), "01:01.9 - 59:59.9");
}

TEST(PreviewTimeTest, PreviewEndsMoreThan100MsAfterTheDuration) {
    EXPECT_FALSE(PreviewFinished(83556, 83456));
    EXPECT_TRUE(PreviewFinished(83557, 83456));
    EXPECT_FALSE(PreviewFinished(100, 0));
    EXPECT_TRUE(PreviewFinished(101, 0));
    EXPECT_EQ(PreviewShownTime(90000, 83456), 83456);
}

}  // namespace
}  // namespace kestrel
