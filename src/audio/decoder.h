// MP3 decoding: which (channels, rate) pairs the decoder handles and the PCM
// format it suggests (the driver), a process-wide cache of drivers for every
// MPEG sample rate and both channel layouts, and conversion streams that
// turn source blocks into PCM buffers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "audio/audio_types.h"

struct mpg123_handle_struct;

namespace kestrel {

class OBAudio;

// A decoder able to convert one MP3 format (channels, rate) to PCM.
class OBAudioDecoderDriver {
public:
    OBAudioDecoderDriver() = default;

    // Checks that the decoder converts the MP3 format given by `descriptor`
    // (an Mp3FormatDescriptor, `size` 8) to PCM and records the PCM format
    // it suggests. Result: kAudioOk, kAudioBadArgument (kind not MP3, no
    // descriptor, wrong size), kAudioDecoderFailed (decoder unusable) or
    // kAudioNoDecoder (format not supported).
    int Select(int kind, const void* descriptor, std::int32_t size);

    const Mp3FormatDescriptor& sourceFormat() const { return source_; }
    // 16-bit signed PCM with the source's rate and channel count.
    const WaveFormat& outputFormat() const { return output_; }

private:
    Mp3FormatDescriptor source_{0, 0};
    WaveFormat output_;
};

using DecoderDriverPtr = std::shared_ptr<OBAudioDecoderDriver>;

// The MPEG sample rates, in the column order of the driver cache.
inline constexpr std::array<std::int32_t, 9> kMpegRates = {8000,  11025, 12000, 16000, 22050,
                                                           24000, 32000, 44100, 48000};

// Builds the driver cache: one selection per rate for mono and stereo.
// Also keeps the sound system initialised until AudioShutdown. Returns true.
bool AudioStartup();
// Drops the cache's drivers; every slot reads code 1 again.
void AudioShutdown();

enum class DriverLookup {
    kCache,   // the cached driver of the format (players use this)
    kSearch,  // a fresh selection
};

// Hands out a driver for an MP3 source format. With kCache the rate must be
// one of kMpegRates (else code 1), channel count 1 picks the mono row and
// any other count the stereo row; the result is the slot's code, with no
// driver unless it is 0. With kSearch a new driver is selected.
int AcquireDecoderDriver(DriverLookup lookup, int kind, const void* descriptor, std::int32_t size,
                         DecoderDriverPtr& driver);

// A conversion stream on a driver.
class OBAudioDecoder {
public:
    OBAudioDecoder();
    ~OBAudioDecoder();
    OBAudioDecoder(const OBAudioDecoder&) = delete;
    OBAudioDecoder& operator=(const OBAudioDecoder&) = delete;

    // kAudioOk, or kAudioDecoderFailed when no stream can be opened (the
    // decoder then holds neither stream nor driver).
    int Open(DecoderDriverPtr driver);

    // Converts the source's next block. False when the source has no more
    // blocks (or there is no source). True when a block was taken; `buffer`
    // is then set if the block produced PCM. `end` is the block's end flag.
    bool Decode(OBAudio* source, AudioBufferPtr& buffer, bool& end);

    bool isOpen() const { return stream_ != nullptr; }
    // Output bytes per input byte of the last successful conversion.
    float expansionRatio() const { return ratio_; }
    // How often an output buffer had to grow during conversions.
    int growthCount() const { return growths_; }

private:
    bool openStream();
    void closeStream();
    std::size_t firstOutputSize(std::size_t inputLength) const;

    DecoderDriverPtr driver_;
    mpg123_handle_struct* stream_ = nullptr;
    float ratio_ = 0.0f;
    bool fed_ = false;  // the stream has taken input since it was opened
    int growths_ = 0;
};

// Test view of the cache: the driver and code of one slot.
struct DriverCacheSlot {
    DecoderDriverPtr driver;
    int code = kAudioDecoderFailed;
};
DriverCacheSlot DecoderDriverCacheSlot(bool stereo, std::size_t rateIndex);

}  // namespace kestrel
