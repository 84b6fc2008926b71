// Decoding of the sound codecs that libavcodec provides: Nellymoser (formats
// 4, 5 and 6), G.711 A-law and mu-law (7 and 8) and Speex (11), to
// interleaved 16-bit PCM.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "reader/swf_format.h"

namespace kestrel {

struct OFSoundBlock;

namespace avsound {

// True for the formats decoded here.
bool handles(SoundFormat format);

// The codec's name for texts: "Nellymoser", "G.711 A-law", "G.711 mu-law",
// "Speex"; empty for other formats.
const char* codecName(SoundFormat format);

// Rate of the decoded PCM: 16 kHz for format 4 and Speex, 8 kHz for format 5
// and G.711, the rate code's rate for format 6.
std::uint32_t rateHz(SoundFormat format, std::uint8_t rateCode);

// Channels of the decoded PCM: Nellymoser and Speex are mono, G.711 follows
// the stereo flag.
std::uint16_t channels(SoundFormat format, bool stereo);

// Receives decoded samples, interleaved; returning false stops decoding.
using PcmSink = std::function<bool(std::span<const std::int16_t>)>;

// Decodes the blocks as one stream. sampleCount is what a DefineSound
// declares (0 for streams); it tells where the frames of a constant-rate
// Speex event sound end. Returns an empty string when every block decoded
// (or the sink stopped), else a short reason such as "no decoder for Speex"
// or "Nellymoser: Invalid data found when processing input".
std::string decode(SoundFormat format, std::uint8_t rateCode, bool stereo, std::uint32_t sampleCount,
                   const std::vector<OFSoundBlock>& blocks, const PcmSink& sink);

}  // namespace avsound
}  // namespace kestrel
