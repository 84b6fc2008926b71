// A sound collected from an SWF file: its format, rate and sample layout
// and the data blocks in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "reader/swf_format.h"

namespace kestrel {

struct OFSoundBlock {
    std::vector<std::uint8_t> data;
    std::uint32_t length() const { return std::uint32_t(data.size()); }
};

// Receives one decoded 16-bit sample (stereo: left, then right).
using SampleSink = void (*)(void* context, std::int16_t sample);

// The PCM a sound becomes in a WAV file and in the preview.
struct PcmLayout {
    std::uint32_t rateHz = 0;
    std::uint16_t channels = 1;
    std::uint16_t bits = 16;
};

class OFSound {
public:
    std::uint16_t frame = 0;
    TagCode tag = TagCode::DefineSound;  // or SoundStreamHead(2) for a stream
    std::uint64_t tagOffset = 0;         // of that tag's header, when known
    SoundFormat format = SoundFormat::Uncompressed;
    std::uint8_t playbackRate = 0;
    bool playback16Bit = false;
    bool playbackStereo = false;
    std::uint8_t rate = 0;  // 0 = 5.5 kHz, 1 = 11 kHz, 2 = 22 kHz, 3 = 44 kHz
    bool is16Bit = false;
    bool stereo = false;
    std::uint32_t sampleCount = 0;  // DefineSound: the sample count it declares; 0 for streams
    std::vector<OFSoundBlock> blocks;
    std::int32_t durationMs = 0;
    std::int64_t decodedBytes = 0;  // ADPCM and libavcodec codecs: bytes of the decoded 16-bit PCM
    std::string problem;            // why the codec could not decode the sound; empty when it could

    // Copies n bytes into a new block; false when memory runs out.
    bool addBlock(const std::uint8_t* bytes, std::size_t n);
    std::int64_t totalBytes() const;

    // Duration in milliseconds by format; stores durationMs (and
    // decodedBytes). Sounds of the libavcodec codecs are decoded once for
    // this; a failure leaves 0 and its reason in problem.
    std::int32_t computeDuration();
    // Rate, channels and sample size of the PCM written and played.
    PcmLayout pcmLayout() const;
    // Decodes a sound of a libavcodec codec (Nellymoser, G.711, Speex) to
    // interleaved 16-bit samples; the sink returns false to stop. Empty on
    // success, else the reason it failed.
    std::string decodeCodec(const std::function<bool(std::span<const std::int16_t>)>& sink) const;
    // Sum of the MPEG audio frame durations over all blocks as one stream.
    std::int32_t mp3Duration() const;
    // SWF ADPCM decoding of one block.
    void decodeAdpcm(const OFSoundBlock& block, SampleSink sink, void* context) const;
    // RIFF WAVE file: formats 0 and 3 as stored, ADPCM and the libavcodec
    // codecs decoded to 16-bit PCM. False for MP3, when the file cannot be
    // created, the codec fails or the file is not written completely (the
    // caller deletes it).
    bool writeWav(const std::string& path) const;
};

// Length of the ID3v2 tag (header, frames and footer) an MP3 file starts
// with; 0 when it starts with none.
std::size_t id3v2Length(std::span<const std::uint8_t> data);

// The MPEG audio frames of an MP3 file.
struct Mp3Stream {
    std::uint32_t rateHz = 0;   // of the first frame
    bool stereo = false;        // the first frame's channel mode is not mono
    int version = 0;            // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    std::uint64_t samples = 0;  // per channel, over the frames that follow one another
    std::size_t frames = 0;
};

// The frames of `data` after a leading ID3v2 tag (and the zero bytes that
// may pad it); nothing unless a frame starts there and, in data without a
// tag, is followed by another frame or by the end of the data. The walk
// stops at the first bytes that are not a frame (an ID3v1 tag at the end).
std::optional<Mp3Stream> scanMp3(std::span<const std::uint8_t> data);

// Milliseconds of PCM data of the given byte count: bytes / 2 when stereo,
// / 2 when 16-bit, then divided by 5.5125, 11.025, 22.05 or 44.1 for rate
// codes 0 to 3 (only the low two bits of rate count), truncated toward zero
// and clamped to 0..INT32_MAX.
std::int32_t pcmDurationMs(std::int64_t bytes, bool stereo, bool is16Bit, std::uint8_t rate);

}  // namespace kestrel
