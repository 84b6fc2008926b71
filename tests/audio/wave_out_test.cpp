// The wave output on SDL's disk device: order, completions, pause, reset,
// and what happens without a device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "audio/decoder.h"
#include "audio/wave_out.h"
#include "audio_test_util.h"

namespace kestrel {
namespace {

using test::Bytes;

AudioBufferPtr bufferOf(const Bytes& bytes, std::size_t from, std::size_t to) {
    AudioBufferPtr buffer = OBAudioBuffer::allocate(to - from);
    std::copy(bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(to), buffer->data());
    buffer->length = to - from;
    return buffer;
}

// Writes `bytes` as buffers cut at the given byte offsets.
void writeCut(OBAudioWaveOut& out, const Bytes& bytes, std::vector<std::size_t> cuts) {
    cuts.insert(cuts.begin(), 0);
    cuts.push_back(bytes.size());
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        ASSERT_LE(cuts[i], cuts[i + 1]);
        ASSERT_LE(cuts[i + 1], bytes.size());
        ASSERT_EQ(out.Write(bufferOf(bytes, cuts[i], cuts[i + 1])), 0);
    }
}

using WaveOutTest = test::AudioTest;

TEST_F(WaveOutTest, BuffersPlayInOrderWithOneCompletionEach) {
    OBAudioWaveOut out;
    ASSERT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 22050, 16)), kAudioOk);
    EXPECT_EQ(out.format(), WaveFormat::pcm(1, 22050, 16));
    const Bytes signal = test::noise16(11025, 1);
    writeCut(out, signal, {2, 1000, 1002, 9000, 20000});  // a 2-byte and a tiny buffer among them
    ASSERT_TRUE(waitPosted(6));

    const auto done = notifier->waiting();
    ASSERT_EQ(done.size(), 6u);
    for (std::size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i].device, out.deviceId());
        if (i > 0) {
            EXPECT_GT(done[i].buffer, done[i - 1].buffer) << "completions out of order";
        }
    }
    EXPECT_EQ(PendingBufferCount(out.deviceId()), 6u);
    EXPECT_EQ(notifier->ReleaseDoneBuffers(), 6u);
    EXPECT_EQ(PendingBufferCount(out.deviceId()), 0u);
    EXPECT_EQ(out.playedBytes(), signal.size());
    EXPECT_EQ(out.Close(), 0);
    EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(signal));
}

TEST_F(WaveOutTest, PauseHoldsOutputAndRestartLosesNothing) {
    OBAudioWaveOut out;
    ASSERT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(2, 22050, 16)), kAudioOk);
    const Bytes signal = test::noise16(4 * 2 * 22050, 3);  // four seconds
    writeCut(out, signal, {80000, 160000, 240000});
    ASSERT_TRUE(test::eventually([&] { return out.playedBytes() > 0; }));
    EXPECT_EQ(out.Pause(), 0);
    const std::uint64_t held = out.playedBytes();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(out.playedBytes(), held) << "a paused device went on playing";
    EXPECT_LT(held, signal.size());

    EXPECT_EQ(out.Restart(), 0);
    ASSERT_TRUE(waitPosted(4));
    out.Close();
    EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(signal));
}

TEST_F(WaveOutTest, ResetStopsAtOnceAndReturnsEveryBuffer) {
    OBAudioWaveOut out;
    ASSERT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 44100, 16)), kAudioOk);
    const Bytes signal = test::noise16(10 * 44100, 4);  // ten seconds
    writeCut(out, signal, {88200, 176400, 264600, 352800, 441000, 529200, 617400, 705600, 793800});
    ASSERT_TRUE(test::eventually([&] { return out.playedBytes() > 0; }));
    out.Pause();  // only so that the reset catches a paused device
    EXPECT_EQ(out.Reset(), 0);
    const std::uint64_t played = out.playedBytes();
    const std::uint64_t posted = notifier->postedCount();
    EXPECT_EQ(PendingBufferCount(out.deviceId()), 0u);
    EXPECT_LT(played, signal.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(out.playedBytes(), played);
    EXPECT_EQ(notifier->postedCount(), posted);
    notifier->ReleaseDoneBuffers();  // reports of swept buffers are ignored

    // The reset device is open, running and plays what comes next.
    EXPECT_TRUE(out.isOpen());
    const Bytes tail = test::noise16(4410, 5);
    ASSERT_EQ(out.Write(bufferOf(tail, 0, tail.size())), 0);
    ASSERT_TRUE(waitPosted(posted + 1));
    out.Close();

    Bytes expected(signal.begin(), signal.begin() + std::ptrdiff_t(played));
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(test::nonSilent16(recording()), test::nonSilent16(expected));
    EXPECT_EQ(OBAudioWaveOut::openDevices(), 0);
}

TEST_F(WaveOutTest, WithoutADeviceBuffersAreDropped) {
    OBAudioWaveOut out;
    EXPECT_FALSE(out.isOpen());
    WaveFormat closed;
    closed.cbSize = 18;
    EXPECT_EQ(out.format(), closed);
    const std::size_t before = PendingBufferCount();
    EXPECT_EQ(out.Write(OBAudioBuffer::allocate(100)), 0);
    EXPECT_EQ(out.Write(nullptr), 1);
    EXPECT_EQ(PendingBufferCount(), before);
    EXPECT_EQ(out.Reset(), 0);
    EXPECT_EQ(out.Pause(), 0);
    EXPECT_EQ(out.Close(), 0);
}

TEST_F(WaveOutTest, DeviceThatCannotBeOpenedGivesCode5) {
    ::setenv("SDL_DISKAUDIOFILE", (dir.path() + "/missing/folder/device.raw").c_str(), 1);
    OBAudioWaveOut out;
    EXPECT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 22050, 16)), kAudioNoDevice);
    EXPECT_FALSE(out.isOpen());
    EXPECT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 22050, 24)), kAudioNoDevice);
    EXPECT_EQ(out.Open(notifier, 99, WaveFormat::pcm(1, 22050, 16)), kAudioNoDevice);
    EXPECT_EQ(OBAudioWaveOut::openDevices(), 0);
}

TEST_F(WaveOutTest, NoSoundSystemGivesCode5) {
    AudioShutdown();  // drops the start-up hold on the sound system
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    OBAudioWaveOut out;
    EXPECT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 22050, 16)), kAudioNoDevice);
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    EXPECT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 22050, 16)), kAudioOk);
    out.Close();
    AudioStartup();
}

TEST_F(WaveOutTest, ReleaseFreesOnlyAFinishedBufferOfTheNamedDevice) {
    OBAudioWaveOut out;
    ASSERT_EQ(out.Open(notifier, kWaveMapper, WaveFormat::pcm(1, 22050, 16)), kAudioOk);
    writeCut(out, test::noise16(100, 7), {});
    ASSERT_TRUE(waitPosted(1));
    const auto done = notifier->waiting();
    ASSERT_EQ(done.size(), 1u);
    ReleaseDoneBuffer(done[0].device + 1000, done[0].buffer);
    ReleaseDoneBuffer(done[0].device, done[0].buffer + 1000);
    EXPECT_EQ(PendingBufferCount(out.deviceId()), 1u);
    ReleaseDoneBuffer(done[0].device, done[0].buffer);
    EXPECT_EQ(PendingBufferCount(out.deviceId()), 0u);
    ReleaseDoneBuffer(done[0].device, done[0].buffer);  // twice is harmless
}

}  // namespace
}  // namespace kestrel
