#include "audio/decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/audio_source.h"
#include "audio/wave_out.h"

namespace kestrel {

namespace {

constexpr std::size_t kChannelRows = 2;
constexpr std::size_t kMinFirstOutput = 22050;
constexpr std::size_t kRatioSlack = 128;
// A single block never yields more than this; what the decoder still holds
// comes out with the next block.
constexpr std::size_t kMaxOutputBytes = std::size_t(64) << 20;
// Passes in a row that produce nothing before a conversion gives up.
constexpr int kMaxIdlePasses = 4;

using CacheRow = std::array<DriverCacheSlot, kMpegRates.size()>;
std::array<CacheRow, kChannelRows> g_cache;
bool g_holdsSoundSystem = false;

int rateIndex(std::int32_t rate) {
    const auto it = std::find(kMpegRates.begin(), kMpegRates.end(), rate);
    return it == kMpegRates.end() ? -1 : int(it - kMpegRates.begin());
}

// Sets a handle up to put out 16-bit signed little-endian PCM at exactly
// the given rate and channel count, whatever the frames declare.
bool configureHandle(mpg123_handle* handle, const Mp3FormatDescriptor& format) {
    const bool mono = format.channels == 1;
    long flags = MPG123_QUIET | MPG123_FORCE_ENDIAN | (mono ? MPG123_MONO_MIX : MPG123_FORCE_STEREO);
    if (mpg123_param(handle, MPG123_ADD_FLAGS, flags, 0.0) != MPG123_OK) return false;
    if (mpg123_feature(MPG123_FEATURE_DECODE_NTOM)) mpg123_param(handle, MPG123_FORCE_RATE, format.rate, 0.0);
    if (mpg123_format_none(handle) != MPG123_OK) return false;
    return mpg123_format(handle, format.rate, mono ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) == MPG123_OK;
}

struct HandleCloser {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using HandleOwner = std::unique_ptr<mpg123_handle, HandleCloser>;

}  // namespace

int OBAudioDecoderDriver::Select(int kind, const void* descriptor, std::int32_t size) {
    if (kind != kAudioKindMp3 || !descriptor || size != std::int32_t(sizeof(Mp3FormatDescriptor)))
        return kAudioBadArgument;
    Mp3FormatDescriptor format;
    std::memcpy(&format, descriptor, sizeof(format));
    source_ = format;
    if (rateIndex(format.rate) < 0 || (format.channels != 1 && format.channels != 2)) return kAudioNoDecoder;

    int error = MPG123_OK;
    HandleOwner handle(mpg123_new(nullptr, &error));
    if (!handle) return kAudioDecoderFailed;
    if (!configureHandle(handle.get(), format)) return kAudioNoDecoder;
    const int layouts = mpg123_format_support(handle.get(), format.rate, MPG123_ENC_SIGNED_16);
    if (!(layouts & (format.channels == 1 ? MPG123_MONO : MPG123_STEREO))) return kAudioNoDecoder;
    if (mpg123_open_feed(handle.get()) != MPG123_OK) return kAudioNoDecoder;

    output_ = WaveFormat::pcm(std::uint16_t(format.channels), std::uint32_t(format.rate), 16);
    return kAudioOk;
}

int AcquireDecoderDriver(DriverLookup lookup, int kind, const void* descriptor, std::int32_t size,
                         DecoderDriverPtr& driver) {
    if (lookup == DriverLookup::kCache && kind == kAudioKindMp3 && descriptor &&
        size == std::int32_t(sizeof(Mp3FormatDescriptor))) {
        Mp3FormatDescriptor format;
        std::memcpy(&format, descriptor, sizeof(format));
        const int column = rateIndex(format.rate);
        if (column < 0) {
            driver.reset();
            return kAudioDecoderFailed;
        }
        const DriverCacheSlot& slot = g_cache[format.channels == 1 ? 0 : 1][std::size_t(column)];
        driver = slot.driver;
        return slot.driver ? kAudioOk : slot.code;
    }

    driver.reset();
    auto fresh = std::shared_ptr<OBAudioDecoderDriver>(new (std::nothrow) OBAudioDecoderDriver);
    if (!fresh) return kAudioOutOfMemory;
    const int code = fresh->Select(kind, descriptor, size);
    if (code != kAudioOk) return code;
    driver = std::move(fresh);
    return kAudioOk;
}

bool AudioStartup() {
    for (std::size_t column = 0; column < kMpegRates.size(); ++column) {
        for (std::size_t row = 0; row < kChannelRows; ++row) {
            const Mp3FormatDescriptor format{std::int32_t(row + 1), kMpegRates[column]};
            DriverCacheSlot& slot = g_cache[row][column];
            slot.code =
                AcquireDecoderDriver(DriverLookup::kSearch, kAudioKindMp3, &format, sizeof(format), slot.driver);
        }
    }
    if (!g_holdsSoundSystem) g_holdsSoundSystem = AcquireSoundSystem();
    return true;
}

void AudioShutdown() {
    for (auto& row : g_cache) {
        for (auto& slot : row) {
            slot.driver.reset();
            slot.code = kAudioDecoderFailed;
        }
    }
    if (g_holdsSoundSystem) {
        ReleaseSoundSystem();
        g_holdsSoundSystem = false;
    }
}

DriverCacheSlot DecoderDriverCacheSlot(bool stereo, std::size_t rateIndex) {
    if (rateIndex >= kMpegRates.size()) return {};
    return g_cache[stereo ? 1 : 0][rateIndex];
}

OBAudioDecoder::OBAudioDecoder() = default;

OBAudioDecoder::~OBAudioDecoder() { closeStream(); }

int OBAudioDecoder::Open(DecoderDriverPtr driver) {
    closeStream();
    driver_.reset();
    if (!driver) return kAudioDecoderFailed;
    driver_ = std::move(driver);
    if (!openStream()) {
        driver_.reset();
        return kAudioDecoderFailed;
    }
    return kAudioOk;
}

bool OBAudioDecoder::openStream() {
    int error = MPG123_OK;
    HandleOwner handle(mpg123_new(nullptr, &error));
    if (!handle || !configureHandle(handle.get(), driver_->sourceFormat()) ||
        mpg123_open_feed(handle.get()) != MPG123_OK)
        return false;
    stream_ = handle.release();
    fed_ = false;
    return true;
}

void OBAudioDecoder::closeStream() {
    if (stream_) {
        mpg123_delete(stream_);
        stream_ = nullptr;
    }
}

std::size_t OBAudioDecoder::firstOutputSize(std::size_t inputLength) const {
    // MP3 runs at 8 kbit/s (1000 bytes a second) at the least, so this is
    // the most PCM the input can hold.
    const std::uint64_t perSecond = driver_->outputFormat().avgBytesPerSec;
    const std::uint64_t estimate = std::uint64_t(inputLength) * perSecond / 1000;
    return std::size_t(std::clamp<std::uint64_t>(estimate, kMinFirstOutput, kMaxOutputBytes));
}

bool OBAudioDecoder::Decode(OBAudio* source, AudioBufferPtr& buffer, bool& end) {
    buffer.reset();
    if (!source) return false;
    bool start = false;
    bool blockEnd = false;
    std::int32_t offset = 0;
    AudioBlockPtr block = source->NextBlock(start, blockEnd, offset);
    end = blockEnd;
    if (!block) return false;
    if (!stream_ || offset < 0 || offset > block->length) return true;

    // A block that begins a stream starts the decoder afresh.
    if (start && fed_ && mpg123_open_feed(stream_) == MPG123_OK) fed_ = false;

    const std::size_t inputLength = std::size_t(block->length - offset);
    std::size_t outputSize = ratio_ == 0.0f
                                 ? firstOutputSize(inputLength)
                                 : std::min(std::size_t(double(inputLength) * ratio_), kMaxOutputBytes) + kRatioSlack;
    AudioBufferPtr out = OBAudioBuffer::allocate(outputSize);
    if (!out) return true;

    const std::uint8_t* input = block->data.get() + offset;
    std::size_t inputLeft = inputLength;
    std::size_t produced = 0;
    std::size_t consumed = 0;
    bool grown = false;
    int idle = 0;
    for (;;) {
        std::size_t done = 0;
        const std::size_t fed = inputLeft;
        const int rc = mpg123_decode(stream_, fed ? input : nullptr, fed, out->data() + produced,
                                     out->capacity() - produced, &done);
        if (fed > 0) fed_ = true;
        input += fed;
        inputLeft = 0;
        consumed += fed;
        produced += done;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT && rc != MPG123_NEED_MORE && rc != MPG123_DONE) {
            // Keep what came out before the error; the rest of the block is
            // lost and the stream starts over with the next one.
            if (mpg123_open_feed(stream_) == MPG123_OK) fed_ = false;
            break;
        }
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;  // everything this input holds has come out
        if (produced < out->capacity()) {
            if (done == 0 && ++idle > kMaxIdlePasses) break;
            continue;
        }
        idle = 0;

        // Output full while the decoder holds more: grow the buffer.
        const std::size_t old = out->capacity();
        std::size_t grownSize = (!grown && fed > 0) ? std::size_t(std::uint64_t(done) * inputLength / fed) + old / 10
                                                    : old + old / 2;
        grown = true;
        if (grownSize <= old) grownSize = old + old / 2 + 1;
        if (grownSize > kMaxOutputBytes || !out->resize(grownSize)) break;
        ++growths_;
    }

    if (produced == 0) return true;
    if (consumed > 0) ratio_ = float(double(produced) / double(consumed));
    out->length = produced;
    buffer = std::move(out);
    return true;
}

}  // namespace kestrel
