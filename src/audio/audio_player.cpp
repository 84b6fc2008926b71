#include "audio/audio_player.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "audio/audio_source.h"
#include "audio/wave_out.h"

namespace kestrel {

OBAudioPlayer::OBAudioPlayer(DriverLookup lookup) : lookup_(lookup) {}

OBAudioPlayer::~OBAudioPlayer() = default;

int OBAudioPlayer::Start(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2,
                         std::int32_t argument3) {
    return Start(std::move(source), position, argument2, argument3, AudioNow());
}

int OBAudioPlayer::Start(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2,
                         std::int32_t argument3, double now) {
    if (!source) return kAudioBadArgument;
    std::int32_t size = 0;
    const void* descriptor = source->GetFormat(size);
    DecoderDriverPtr driver;
    const int code = AcquireDecoderDriver(lookup_, source->kind(), descriptor, size, driver);
    if (code != kAudioOk || !driver) return code != kAudioOk ? code : kAudioDecoderFailed;
    if (driver->outputFormat().avgBytesPerSec == 0 ||
        driver->outputFormat().avgBytesPerSec > std::uint32_t(std::numeric_limits<std::int32_t>::max() / 2))
        return kAudioBadArgument;

    std::unique_ptr<OBAudioDecoder> decoder(new (std::nothrow) OBAudioDecoder);
    if (!decoder) return kAudioOutOfMemory;
    if (decoder->Open(driver) != kAudioOk) return kAudioDecoderFailed;

    driver_ = std::move(driver);
    decoder_ = std::move(decoder);
    bytesPerSecond_ = std::int32_t(driver_->outputFormat().avgBytesPerSec);
    queueLimit_ = 2 * bytesPerSecond_;

    clockOrigin_ = now;
    clockPending_ = true;
    decoded_.clear();
    queuedBytes_ = 0;
    writtenMs_ = 0;
    decodingEnded_ = false;
    sourceEnded_ = false;
    position_ = position;
    argument2_ = argument2;
    argument3_ = argument3;
    source_ = std::move(source);
    source_->SeekTo(position);
    return kAudioOk;
}

std::int32_t OBAudioPlayer::leadMs(double now) const {
    const double elapsed = std::trunc((now - clockOrigin_) * 1000.0);
    const double lead = double(writtenMs_) - elapsed;
    return std::int32_t(std::clamp(lead, double(std::numeric_limits<std::int32_t>::min()),
                                   double(std::numeric_limits<std::int32_t>::max())));
}

int OBAudioPlayer::Feed(OBAudioWaveOut& waveOut) { return Feed(waveOut, AudioNow()); }

int OBAudioPlayer::Feed(OBAudioWaveOut& waveOut, double now) {
    if (!decoder_ || !source_) return kFeedStopped;
    if (sourceEnded_ && queuedBytes_ == 0) return kFeedFinished;

    for (;;) {
        // Decode ahead, at most queueLimit_ bytes, and only while the device
        // is far enough ahead or nothing is waiting to be written.
        for (;;) {
            if (queuedBytes_ > 0 && leadMs(now) < kLeadMs) break;
            if (queuedBytes_ >= queueLimit_) break;
            AudioBufferPtr buffer;
            bool end = false;
            const bool took = decoder_->Decode(source_.get(), buffer, end);
            sourceEnded_ = end;
            decodingEnded_ = !took;
            if (!took) break;
            if (buffer && buffer->length > 0) {
                try {
                    decoded_.push_back(std::move(buffer));
                } catch (const std::bad_alloc&) {
                    continue;  // that block is skipped
                }
                queuedBytes_ += std::int32_t(decoded_.back()->length);
            }
        }

        // Write until the device is kLeadMs ahead of the clock.
        for (;;) {
            if (leadMs(now) >= kLeadMs) return kFeedMore;
            if (decoded_.empty()) break;
            AudioBufferPtr buffer = std::move(decoded_.front());
            decoded_.pop_front();
            queuedBytes_ -= std::int32_t(buffer->length);
            if (clockPending_) {
                clockOrigin_ = now;
                clockPending_ = false;
            }
            writtenMs_ += std::int32_t(std::uint64_t(buffer->length) * 1000 / std::uint64_t(bytesPerSecond_));
            waveOut.Write(std::move(buffer));
        }
        if (decodingEnded_) return sourceEnded_ ? kFeedFinished : kFeedStopped;
    }
}

double OBAudioPlayer::SleepTime(double now) const {
    const double seconds = (double(leadMs(now)) - kLeadMs) / 1000.0;
    if (seconds <= 0.0 && decoded_.empty() && decodingEnded_) return 1.0;
    return seconds;
}

void OBAudioPlayer::ShiftClock(double seconds) {
    clockOrigin_ += seconds;
    clockPending_ = false;
}

const WaveFormat* OBAudioPlayer::outputFormat() const { return driver_ ? &driver_->outputFormat() : nullptr; }

}  // namespace kestrel
