// The player's pacing, driven with explicit clock values and a closed wave
// output (every written buffer is dropped, nothing waits for a device).
#include <gtest/gtest.h>

#include "audio/audio_player.h"
#include "audio/audio_source.h"
#include "audio/wave_out.h"
#include "audio_test_util.h"

namespace kestrel {
namespace {

constexpr double kT0 = 1000.0;
// One 2000-byte block of the 16 kbit/s test sound is about one second.
constexpr std::int32_t kMaxBufferMs = 1100;

class PlayerPacingTest : public ::testing::Test {
protected:
    void SetUp() override {
        sound = test::fixtureSound(test::kCakeSwf, SoundFormat::Mp3, true);
        ASSERT_NE(sound, nullptr);
        source = std::make_shared<OFAudioMP3>(sound.get());
        source->Open();
        ASSERT_EQ(player.Start(source, 0, 0, 0, kT0), kAudioOk);
    }

    std::unique_ptr<OFSound> sound;
    std::shared_ptr<OFAudioMP3> source;
    OBAudioPlayer player;
    OBAudioWaveOut closed;
};

TEST_F(PlayerPacingTest, KeepsTheDeviceTwoSecondsAheadOfTheClock) {
    ASSERT_NE(player.outputFormat(), nullptr);
    EXPECT_EQ(player.queueLimit(), 2 * 22050);

    ASSERT_EQ(player.Feed(closed, kT0), kFeedMore);
    const std::int32_t first = player.writtenTimeMs();
    EXPECT_GE(first, 2000);
    EXPECT_LT(first, 2000 + kMaxBufferMs);
    EXPECT_DOUBLE_EQ(player.SleepTime(kT0), (first - 2000) / 1000.0);

    // The next round decodes ahead up to the queue limit and writes nothing.
    ASSERT_EQ(player.Feed(closed, kT0), kFeedMore);
    EXPECT_EQ(player.writtenTimeMs(), first);
    EXPECT_GE(player.queuedBytes(), player.queueLimit());
    EXPECT_LT(player.queuedBytes(), player.queueLimit() + 2 * 22050 * kMaxBufferMs / 1000);

    // 1.5 s later the lead is first - 1500: the sleep counts from that lead.
    EXPECT_DOUBLE_EQ(player.SleepTime(kT0 + 1.5), (first - 1500 - 2000) / 1000.0);
    ASSERT_EQ(player.Feed(closed, kT0 + 1.5), kFeedMore);
    const std::int32_t second = player.writtenTimeMs();
    EXPECT_GE(second - 1500, 2000);
    EXPECT_LT(second - 1500, 2000 + kMaxBufferMs);

    // A lead that already fell below 2 s gives a negative sleep (the worker
    // does not sleep at all).
    EXPECT_LT(player.SleepTime(kT0 + 5.0), 0.0);
}

TEST_F(PlayerPacingTest, ShiftingTheClockKeepsTheLeadOfBeforeThePause) {
    ASSERT_EQ(player.Feed(closed, kT0), kFeedMore);
    const double before = player.SleepTime(kT0 + 0.4);
    player.ShiftClock(3.0);  // paused for 3 s
    EXPECT_DOUBLE_EQ(player.SleepTime(kT0 + 3.4), before);
    // Three seconds on, the device is still as far ahead as right after the
    // first round: nothing more is written.
    const std::int32_t written = player.writtenTimeMs();
    ASSERT_EQ(player.Feed(closed, kT0 + 3.0), kFeedMore);
    EXPECT_EQ(player.writtenTimeMs(), written);
}

TEST_F(PlayerPacingTest, FinishesWhenAllPcmIsWritten) {
    double now = kT0;
    int result = kFeedMore;
    for (int round = 0; round < 40 && result == kFeedMore; ++round, now += 1.0) result = player.Feed(closed, now);
    ASSERT_EQ(result, kFeedFinished);
    // 400 frames of 576 samples at 11025 Hz; each buffer's time is truncated
    // to whole milliseconds.
    EXPECT_LE(player.writtenTimeMs(), 20897);
    EXPECT_GE(player.writtenTimeMs(), 20897 - 20);
    EXPECT_TRUE(player.decodingEnded());
    EXPECT_TRUE(player.sourceEnded());
    EXPECT_EQ(player.queuedBytes(), 0);
    EXPECT_EQ(player.Feed(closed, now), kFeedFinished);
    EXPECT_DOUBLE_EQ(player.SleepTime(now + 60.0), 1.0);
}

// A source that stops delivering without reaching its end.
class StarvedSource : public OBAudioMP3 {
public:
    bool Open() override { return true; }
    std::int32_t GetDuration() const override { return 0; }
    bool Seek(std::int32_t&, int) override { return true; }
    std::int32_t Read(std::uint8_t*, std::int32_t, bool&, bool&) override { return 0; }
};

TEST(PlayerTest, DecodingThatStopsEarlyIsRetriedEverySecond) {
    OBAudioPlayer player;
    OBAudioWaveOut closed;
    ASSERT_EQ(player.Start(std::make_shared<StarvedSource>(), 0, 0, 0, kT0), kAudioOk);
    EXPECT_EQ(player.Feed(closed, kT0), kFeedStopped);
    EXPECT_DOUBLE_EQ(player.SleepTime(kT0), 1.0);
}

TEST(PlayerTest, StartFailsWithoutSourceOrDecoder) {
    OBAudioPlayer player;
    EXPECT_EQ(player.Start(nullptr, 0, 0, 0), kAudioBadArgument);
    EXPECT_EQ(player.outputFormat(), nullptr);

    OFSound sound;
    sound.format = SoundFormat::Mp3;
    sound.rate = 0;  // 5500 Hz: no MPEG rate
    auto source = std::make_shared<OFAudioMP3>(&sound);
    source->Open();
    EXPECT_EQ(player.Start(source, 0, 0, 0), kAudioDecoderFailed);
    EXPECT_EQ(player.outputFormat(), nullptr);
}

}  // namespace
}  // namespace kestrel
