#include "reader/sound/av_sound.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "reader/sound/of_sound.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
}

namespace kestrel::avsound {

namespace {

constexpr std::size_t kNellymoserPacket = 64;                     // bytes of one 256-sample packet
constexpr std::size_t kNellymoserChunk = 64 * kNellymoserPacket;  // packets handed over at once
constexpr std::size_t kG711Chunk = 4096;

AVCodecID codecId(SoundFormat format) {
    switch (format) {
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser: return AV_CODEC_ID_NELLYMOSER;
        case SoundFormat::G711ALaw: return AV_CODEC_ID_PCM_ALAW;
        case SoundFormat::G711MuLaw: return AV_CODEC_ID_PCM_MULAW;
        case SoundFormat::Speex: return AV_CODEC_ID_SPEEX;
        case SoundFormat::Uncompressed:
        case SoundFormat::Adpcm:
        case SoundFormat::Mp3:
        case SoundFormat::UncompressedLE: break;
    }
    return AV_CODEC_ID_NONE;
}

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof(text)) < 0) return "error " + std::to_string(code);
    return text;
}

std::int16_t fromFloat(float value) {
    if (!(value == value)) return 0;  // NaN
    const long scaled = std::lrintf(std::clamp(value, -2.0f, 2.0f) * 32768.0f);
    return std::int16_t(
        std::clamp<long>(scaled, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

// Owns the decoder, a packet and a frame; converts every frame to
// interleaved 16-bit samples for the sink.
class Decoder {
public:
    Decoder(SoundFormat format, const PcmSink& sink) : format_(format), sink_(sink) {}
    ~Decoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Empty on success, else the reason.
    std::string open(std::uint32_t rate, std::uint16_t channelCount) {
        const AVCodec* codec = avcodec_find_decoder(codecId(format_));
        if (!codec) return std::string("no decoder for ") + codecName(format_);
        context_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!context_ || !packet_ || !frame_) return "out of memory";
        context_->sample_rate = int(rate);
        av_channel_layout_default(&context_->ch_layout, channelCount);
        const int status = avcodec_open2(context_, codec, nullptr);
        if (status < 0) return failure(status);
        return {};
    }

    // Hands one packet over and drains what it decoded. False ends decoding
    // (an error, kept in reason(), or the sink stopped).
    bool send(const std::uint8_t* bytes, std::size_t n) {
        if (n == 0) return true;
        if (n > std::size_t(std::numeric_limits<int>::max())) return fail("packet too large");
        av_packet_unref(packet_);
        const int made = av_new_packet(packet_, int(n));
        if (made < 0) return fail(failure(made));
        std::copy(bytes, bytes + n, packet_->data);
        const int status = avcodec_send_packet(context_, packet_);
        if (status < 0) return fail(failure(status));
        return drain();
    }

    bool finish() {
        const int status = avcodec_send_packet(context_, nullptr);
        if (status < 0 && status != AVERROR_EOF) return fail(failure(status));
        return drain();
    }

    const std::string& reason() const { return reason_; }

private:
    std::string failure(int status) const { return std::string(codecName(format_)) + ": " + avError(status); }

    bool fail(std::string reason) {
        reason_ = std::move(reason);
        return false;
    }

    bool drain() {
        for (;;) {
            const int status = avcodec_receive_frame(context_, frame_);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
            if (status < 0) return fail(failure(status));
            const bool more = deliver();
            av_frame_unref(frame_);
            if (!more) return false;
        }
    }

    // Interleaves and converts the frame; S16, S32 and float, packed or planar.
    bool deliver() {
        const int channelCount = frame_->ch_layout.nb_channels;
        const int samples = frame_->nb_samples;
        if (channelCount <= 0 || samples <= 0) return true;
        const auto format = AVSampleFormat(frame_->format);
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        try {
            out_.resize(std::size_t(samples) * std::size_t(channelCount));
        } catch (const std::bad_alloc&) {
            return fail("out of memory");
        }
        for (int c = 0; c < channelCount; ++c) {
            for (int i = 0; i < samples; ++i) {
                const std::size_t at = planar ? std::size_t(i) : std::size_t(i) * channelCount + c;
                const std::uint8_t* plane = frame_->extended_data[planar ? c : 0];
                std::int16_t value = 0;
                switch (av_get_packed_sample_fmt(format)) {
                    case AV_SAMPLE_FMT_S16: value = reinterpret_cast<const std::int16_t*>(plane)[at]; break;
                    case AV_SAMPLE_FMT_S32:
                        value = std::int16_t(reinterpret_cast<const std::int32_t*>(plane)[at] >> 16);
                        break;
                    case AV_SAMPLE_FMT_FLT: value = fromFloat(reinterpret_cast<const float*>(plane)[at]); break;
                    case AV_SAMPLE_FMT_DBL: value = fromFloat(float(reinterpret_cast<const double*>(plane)[at])); break;
                    default:
                        return fail(std::string(codecName(format_)) + ": unexpected sample format " +
                                    std::to_string(int(format)));
                }
                out_[std::size_t(i) * channelCount + c] = value;
            }
        }
        return sink_(std::span<const std::int16_t>(out_.data(), out_.size()));
    }

    SoundFormat format_;
    const PcmSink& sink_;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::vector<std::int16_t> out_;
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

bool handles(SoundFormat format) { return codecId(format) != AV_CODEC_ID_NONE; }

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
    // Failures come back as reasons; the library's own messages would only
    // clutter the output of the programs.
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    const std::uint16_t channelCount = channels(format, stereo);
    Decoder decoder(format, sink);
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
