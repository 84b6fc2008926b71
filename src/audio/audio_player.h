// The state of one MP3 play: decodes ahead of the device and paces the
// output so that the device holds about two seconds of sound ahead of the
// wall clock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "audio/audio_types.h"
#include "audio/decoder.h"

namespace kestrel {

class OBAudio;
class OBAudioWaveOut;

enum FeedResult : int {
    kFeedMore = 1,      // call again later
    kFeedFinished = 2,  // all decoded PCM written, the source is at its end
    kFeedStopped = 3,   // decoding stopped before the end of the source
};

class OBAudioPlayer {
public:
    static constexpr std::int32_t kLeadMs = 2000;

    explicit OBAudioPlayer(DriverLookup lookup = DriverLookup::kCache);
    ~OBAudioPlayer();
    OBAudioPlayer(const OBAudioPlayer&) = delete;
    OBAudioPlayer& operator=(const OBAudioPlayer&) = delete;

    // Gets a driver and a decoder for the source and rewinds it. An audio
    // result code. `now` is the tick clock (AudioNow()).
    int Start(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2, std::int32_t argument3);
    int Start(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2, std::int32_t argument3,
              double now);

    // Decodes and writes until the device is kLeadMs ahead of the clock.
    int Feed(OBAudioWaveOut& waveOut);
    int Feed(OBAudioWaveOut& waveOut, double now);

    // Seconds until the lead falls back to kLeadMs (negative when it
    // already has); 1 second once everything is written and the lead has
    // run out.
    double SleepTime(double now) const;
    // Moves the clock origin by a pause's length.
    void ShiftClock(double seconds);

    // The PCM format of the decoded sound; null without a driver.
    const WaveFormat* outputFormat() const;

    std::int32_t writtenTimeMs() const { return writtenMs_; }
    std::int32_t queuedBytes() const { return queuedBytes_; }
    std::int32_t queueLimit() const { return queueLimit_; }
    bool decodingEnded() const { return decodingEnded_; }
    bool sourceEnded() const { return sourceEnded_; }
    const OBAudioDecoder* decoder() const { return decoder_.get(); }

private:
    std::int32_t leadMs(double now) const;

    DriverLookup lookup_;
    DecoderDriverPtr driver_;
    std::unique_ptr<OBAudioDecoder> decoder_;
    std::shared_ptr<OBAudio> source_;
    std::int32_t position_ = 0;
    std::int32_t argument2_ = 0;
    std::int32_t argument3_ = 0;
    std::deque<AudioBufferPtr> decoded_;
    std::int32_t queuedBytes_ = 0;
    std::int32_t writtenMs_ = 0;
    bool clockPending_ = true;
    double clockOrigin_ = 0.0;
    bool decodingEnded_ = false;
    bool sourceEnded_ = false;
    std::int32_t queueLimit_ = 0;
    std::int32_t bytesPerSecond_ = 0;
};

}  // namespace kestrel
