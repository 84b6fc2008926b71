#include "reader/sound/av_sound.h"

#include <algorithm>

#include "reader/av/av_library.h"
#include "reader/sound/of_sound.h"

namespace kestrel::avsound {

namespace {

constexpr std::size_t kNellymoserPacket = 64;                     // bytes of one 256-sample packet
constexpr std::size_t kNellymoserChunk = 64 * kNellymoserPacket;  // packets handed over at once
constexpr std::size_t kG711Chunk = 4096;

int forward(void* context, const std::int16_t* samples, std::size_t count) {
    const auto& sink = *static_cast<const PcmSink*>(context);
    return sink(std::span<const std::int16_t>(samples, count)) ? 1 : 0;
}

// Owns a decoder of the codec module.
class Decoder {
public:
    Decoder(const KestrelAvApi& api, SoundFormat format, const PcmSink& sink)
        : api_(api), format_(format), sink_(sink) {}
    ~Decoder() {
        if (decoder_) api_.soundClose(decoder_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Empty on success, else the reason.
    std::string open(std::uint32_t rate, std::uint16_t channelCount) {
        int status = KAV_OK;
        decoder_ = api_.soundOpen(int(format_), rate, channelCount, &status, text_, sizeof text_);
        if (decoder_) return {};
        return reason(status);
    }

    // Hands one packet over and drains what it decoded. False ends decoding
    // (an error, kept in reason(), or the sink stopped).
    bool send(const std::uint8_t* bytes, std::size_t n) {
        return done(api_.soundSend(decoder_, bytes, n, forward, const_cast<PcmSink*>(&sink_), text_, sizeof text_));
    }

    bool finish() {
        return done(api_.soundFinish(decoder_, forward, const_cast<PcmSink*>(&sink_), text_, sizeof text_));
    }

    const std::string& reason() const { return reason_; }

private:
    bool done(int status) {
        if (status == KAV_OK) return true;
        reason_ = reason(status);
        return false;
    }

    std::string reason(int status) const {
        switch (status) {
            case KAV_OK:
            case KAV_STOPPED: return {};
            case KAV_NO_DECODER: return std::string("no decoder for ") + codecName(format_);
            case KAV_NO_MEMORY: return "out of memory";
            default: return std::string(codecName(format_)) + ": " + text_;
        }
    }

    const KestrelAvApi& api_;
    SoundFormat format_;
    const PcmSink& sink_;
    KavSoundDecoder* decoder_ = nullptr;
    char text_[256] = {};
    std::string reason_;
};

// The decoder takes one Speex frame per packet. An event sound keeps all
// its frames in one block; when the declared sample count makes whole
// 320-sample frames that divide the block into equal byte-aligned parts
// (constant bit rate), those parts are the frames. 0 otherwise.
std::size_t speexFrameBytes(const std::vector<OFSoundBlock>& blocks, std::uint32_t sampleCount) {
    constexpr std::uint32_t kFrameSamples = 320;
    if (blocks.size() != 1 || sampleCount % kFrameSamples != 0) return 0;
    const std::size_t frames = sampleCount / kFrameSamples;
    const std::size_t bytes = blocks[0].data.size();
    if (frames < 2 || bytes % frames != 0) return 0;
    return bytes / frames;
}

// Largest piece of a block handed over as one packet: whole Nellymoser
// packets (a short tail is not a packet and is dropped), whole G.711
// sample frames, for Speex one frame of speexFrame bytes or else the block.
std::size_t pieceSize(SoundFormat format, std::size_t left, std::uint16_t channelCount, std::size_t speexFrame) {
    switch (format) {
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser: return std::min(left, kNellymoserChunk) / kNellymoserPacket * kNellymoserPacket;
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw: return std::min(left, kG711Chunk) / channelCount * channelCount;
        case SoundFormat::Speex: return speexFrame > 0 ? std::min(left, speexFrame) : left;
        case SoundFormat::Uncompressed:
        case SoundFormat::Adpcm:
        case SoundFormat::Mp3:
        case SoundFormat::UncompressedLE: break;
    }
    return left;
}

}  // namespace

bool handles(SoundFormat format) { return *codecName(format) != '\0'; }

const char* codecName(SoundFormat format) {
    switch (format) {
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser: return "Nellymoser";
        case SoundFormat::G711ALaw: return "G.711 A-law";
        case SoundFormat::G711MuLaw: return "G.711 mu-law";
        case SoundFormat::Speex: return "Speex";
        case SoundFormat::Uncompressed:
        case SoundFormat::Adpcm:
        case SoundFormat::Mp3:
        case SoundFormat::UncompressedLE: break;
    }
    return "";
}

std::uint32_t rateHz(SoundFormat format, std::uint8_t rateCode) {
    switch (format) {
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Speex: return 16000;
        // G.711 is a telephone codec sampled at 8 kHz; movies set the rate
        // bits to other values (a 440 Hz tone with 18.2 samples per period
        // under rate code 1 is one).
        case SoundFormat::Nellymoser8k:
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw: return 8000;
        case SoundFormat::Nellymoser:
        case SoundFormat::Uncompressed:
        case SoundFormat::Adpcm:
        case SoundFormat::Mp3:
        case SoundFormat::UncompressedLE: break;
    }
    return soundRateHz(rateCode);
}

std::uint16_t channels(SoundFormat format, bool stereo) {
    if (format == SoundFormat::G711ALaw || format == SoundFormat::G711MuLaw) return stereo ? 2 : 1;
    return 1;
}

std::string decode(SoundFormat format, std::uint8_t rateCode, bool stereo, std::uint32_t sampleCount,
                   const std::vector<OFSoundBlock>& blocks, const PcmSink& sink) {
    if (!handles(format)) return "not a libavcodec sound format";
    std::string why;
    const KestrelAvApi* api = avlibrary::api(&why);
    if (!api) return why;
    const std::uint16_t channelCount = channels(format, stereo);
    Decoder decoder(*api, format, sink);
    std::string reason = decoder.open(rateHz(format, rateCode), channelCount);
    if (!reason.empty()) return reason;
    const std::size_t speexFrame = format == SoundFormat::Speex ? speexFrameBytes(blocks, sampleCount) : 0;
    for (const auto& block : blocks) {
        std::size_t at = 0;
        while (at < block.data.size()) {
            const std::size_t n = pieceSize(format, block.data.size() - at, channelCount, speexFrame);
            if (n == 0) break;
            if (!decoder.send(block.data.data() + at, n)) return decoder.reason();
            at += n;
        }
    }
    if (!decoder.finish()) return decoder.reason();
    return {};
}

}  // namespace kestrel::avsound
