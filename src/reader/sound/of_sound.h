// A sound collected from an SWF file: its format, rate and sample layout
// and the data blocks in file order.
#pragma once

#include <cstddef>
#include <cstdint>
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

class OFSound {
public:
    std::uint16_t frame = 0;
    SoundFormat format = SoundFormat::Uncompressed;
    std::uint8_t playbackRate = 0;
    bool playback16Bit = false;
    bool playbackStereo = false;
    std::uint8_t rate = 0;  // 0 = 5.5 kHz, 1 = 11 kHz, 2 = 22 kHz, 3 = 44 kHz
    bool is16Bit = false;
    bool stereo = false;
    std::vector<OFSoundBlock> blocks;
    std::int32_t durationMs = 0;
    std::int64_t decodedBytes = 0;  // ADPCM: bytes of the decoded 16-bit PCM

    // Copies n bytes into a new block; false when memory runs out.
    bool addBlock(const std::uint8_t* bytes, std::size_t n);
    std::int64_t totalBytes() const;

    // Duration in milliseconds by format; stores durationMs (and decodedBytes).
    std::int32_t computeDuration();
    // Sum of the MPEG audio frame durations over all blocks as one stream.
    std::int32_t mp3Duration() const;
    // SWF ADPCM decoding of one block.
    void decodeAdpcm(const OFSoundBlock& block, SampleSink sink, void* context) const;
    // RIFF WAVE file for formats 0 and 1; false when the file cannot be
    // created or is not written completely (the caller deletes it).
    bool writeWav(const std::string& path) const;
};

// Milliseconds of PCM data of the given byte count: bytes / 2 when stereo,
// / 2 when 16-bit, then divided by 5.5125, 11.025, 22.05 or 44.1 for rate
// codes 0 to 3 (only the low two bits of rate count), truncated toward zero
// and clamped to 0..INT32_MAX.
std::int32_t pcmDurationMs(std::int64_t bytes, bool stereo, bool is16Bit, std::uint8_t rate);

}  // namespace kestrel
