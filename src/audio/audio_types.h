// Shared vocabulary of the audio library: result codes, the PCM format a
// device is opened with, PCM buffers and the tick clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "reader/sound/wave_format.h"

namespace kestrel {

// Result codes of every audio operation that can fail.
enum AudioResult : int {
    kAudioOk = 0,
    kAudioDecoderFailed = 1,  // decoder unusable, rate not supported, stream not opened
    kAudioNoDecoder = 2,      // no decoder converts the format to PCM
    kAudioBadArgument = 3,    // no source, wrong kind, bad descriptor, no output format
    kAudioOutOfMemory = 4,
    kAudioNoDevice = 5,  // the output device cannot be opened
};

// Kind of an audio source; MP3 data is the only kind this program makes.
inline constexpr int kAudioKindMp3 = 2;

// The format of an MP3 source: what GetFormat hands out (8 bytes).
struct Mp3FormatDescriptor {
    std::int32_t channels = 2;
    std::int32_t rate = 44100;
};
static_assert(sizeof(Mp3FormatDescriptor) == 8);

using AudioBufferId = std::uint64_t;
using AudioDeviceId = std::uint64_t;

// A block of PCM bytes on its way to a device: `length` bytes are valid out
// of `capacity`. Allocation never throws; a failed allocation or resize
// reports failure and leaves the buffer as it was.
class OBAudioBuffer {
public:
    // Null when the memory cannot be had.
    static std::unique_ptr<OBAudioBuffer> allocate(std::size_t capacity);

    bool resize(std::size_t capacity);  // keeps the first min(old, new) bytes

    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t capacity() const { return capacity_; }

    std::size_t length = 0;
    AudioBufferId id = 0;      // set when written to a device
    AudioDeviceId device = 0;  // the device that holds it

private:
    OBAudioBuffer() = default;
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t capacity_ = 0;
};

using AudioBufferPtr = std::unique_ptr<OBAudioBuffer>;

// Seconds on a monotonic clock; the pacing of playback runs on it.
double AudioNow();

}  // namespace kestrel
