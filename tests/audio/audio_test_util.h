// Helpers of the audio tests: the SDL disk device as the sound card, real
// MP3 sounds from the fixture movies under tests/data, a reference decode, and comparisons that
// allow the silence a device adds when its queue runs dry but catch lost,
// repeated or reordered samples.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/wave_out.h"
#include "reader/sound/of_sound.h"
#include "test_support.h"

namespace kestrel::test {

// True once pred() holds, polling until the time-out.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Each test gets its own disk "sound card" file and a notifier whose hook
// wakes waiters, as a window's event loop would be woken.
class AudioTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string deviceFile() const { return dir.file("device.raw"); }
    Bytes recording() const { return readAll(deviceFile()); }
    // Waits until `count` buffers were reported finished.
    bool waitPosted(std::uint64_t count);
    // Releases reported buffers until none of `device` is pending.
    bool drainDevice(AudioDeviceId device);

    TempDir dir;
    AudioNotifierPtr notifier = std::make_shared<OBAudioNotifier>();

private:
    std::mutex mutex_;
    std::condition_variable posted_;
};

// Samples of a raw 16-bit little-endian recording other than silence (0).
std::vector<std::int16_t> nonSilent16(const Bytes& raw);
// Samples of a raw unsigned 8-bit recording other than silence (0x80).
std::vector<std::uint8_t> nonSilent8(const Bytes& raw);

// 16-bit little-endian noise without silent samples, so that any lost,
// doubled or swapped stretch shows.
Bytes noise16(std::size_t samples, std::uint32_t seed);
Bytes noise8(std::size_t samples, std::uint32_t seed);

// The first sound of the given format in a fixture movie (tests/data).
std::unique_ptr<OFSound> fixtureSound(const std::string& file, SoundFormat format, bool stream);
// A 44.1 kHz stereo MP3 event sound of variable bit rate: the fixture
// stereo-vbr.mp3 in the DefineSound tag of a movie built for the test.
std::unique_ptr<OFSound> stereoMp3Sound();
// A sound whose blocks are those of `sound`, `copies` times over.
std::unique_ptr<OFSound> repeated(const OFSound& sound, int copies);

// What libmpg123 decodes from the concatenated blocks, fed whole, as
// 16-bit PCM of the given layout.
Bytes referenceMp3(const OFSound& sound, int channels, long rate);

// MP3 44.1 kHz mono event sound of one second, 64 kbit/s.
inline constexpr const char* kChildSwf = "mp3-event-44k-mono.swf";
// MP3 11025 Hz mono at 16 kbit/s: event sounds (the first is 37 frames of
// 576 samples) and a stream sound of 400 frames (about 21 seconds).
inline constexpr const char* kCakeSwf = "cakegame9.swf";

}  // namespace kestrel::test
