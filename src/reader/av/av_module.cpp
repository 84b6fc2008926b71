// kestrel-av.so: sound decoding, FLV writing and first frames through
// libavcodec, libavformat and libswscale, behind the plain C table of
// av_api.h.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "reader/av/av_api.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libswscale/swscale.h>
}

namespace {

// Failures come back as texts; the libraries' own messages would only
// clutter the output of the programs.
void quiet() {
    static const bool once = (av_log_set_level(AV_LOG_QUIET), true);
    (void)once;
}

void put(char* reason, std::size_t size, const std::string& text) {
    if (!reason || size == 0) return;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(reason, text.data(), n);
    reason[n] = '\0';
}

std::string errorText(int status) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(status, text, sizeof text) < 0) return "error " + std::to_string(status);
    return text;
}

AVCodecID soundCodec(int swfFormat) {
    switch (swfFormat) {
        case 4:
        case 5:
        case 6: return AV_CODEC_ID_NELLYMOSER;
        case 7: return AV_CODEC_ID_PCM_ALAW;
        case 8: return AV_CODEC_ID_PCM_MULAW;
        case 11: return AV_CODEC_ID_SPEEX;
        default: return AV_CODEC_ID_NONE;
    }
}

AVCodecID videoCodec(int swfCodec) {
    switch (swfCodec) {
        case 2: return AV_CODEC_ID_FLV1;
        case 3: return AV_CODEC_ID_FLASHSV;
        case 4: return AV_CODEC_ID_VP6F;
        case 5: return AV_CODEC_ID_VP6A;
        case 6: return AV_CODEC_ID_FLASHSV2;
        default: return AV_CODEC_ID_NONE;
    }
}

bool isVp6(int swfCodec) { return swfCodec == 4 || swfCodec == 5; }

// VP6 in FLV has a byte before each packet that a SWF packet lacks: how
// far the coded size (a multiple of 16) exceeds the picture, per axis.
std::uint8_t vp6Adjustment(int width, int height) {
    const int dx = (16 - width % 16) % 16;
    const int dy = (16 - height % 16) % 16;
    return std::uint8_t(dx << 4 | dy);
}

// A one-byte extradata holding the VP6 adjustment; false when out of memory.
bool setVp6Extradata(std::uint8_t*& extradata, int& size, int width, int height) {
    extradata = static_cast<std::uint8_t*>(av_mallocz(1 + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!extradata) return false;
    extradata[0] = vp6Adjustment(width, height);
    size = 1;
    return true;
}

std::int16_t fromFloat(float value) {
    if (!(value == value)) return 0;  // NaN
    const long scaled = std::lrintf(std::clamp(value, -2.0f, 2.0f) * 32768.0f);
    return std::int16_t(
        std::clamp<long>(scaled, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

// Owns the decoder, a packet and a frame; converts every frame to
// interleaved 16-bit samples for the sink.
struct KavSoundDecoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<std::int16_t> out;

    ~KavSoundDecoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }

    int drain(KavPcmSink sink, void* sinkContext, char* reason, std::size_t reasonSize) {
        for (;;) {
            const int status = avcodec_receive_frame(context, frame);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return KAV_OK;
            if (status < 0) {
                put(reason, reasonSize, errorText(status));
                return KAV_FAILED;
            }
            const int result = deliver(sink, sinkContext, reason, reasonSize);
            av_frame_unref(frame);
            if (result != KAV_OK) return result;
        }
    }

    // Interleaves and converts the frame; S16, S32 and float, packed or planar.
    int deliver(KavPcmSink sink, void* sinkContext, char* reason, std::size_t reasonSize) {
        const int channelCount = frame->ch_layout.nb_channels;
        const int samples = frame->nb_samples;
        if (channelCount <= 0 || samples <= 0) return KAV_OK;
        const auto format = AVSampleFormat(frame->format);
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        try {
            out.resize(std::size_t(samples) * std::size_t(channelCount));
        } catch (const std::bad_alloc&) {
            return KAV_NO_MEMORY;
        }
        for (int c = 0; c < channelCount; ++c) {
            for (int i = 0; i < samples; ++i) {
                const std::size_t at = planar ? std::size_t(i) : std::size_t(i) * channelCount + c;
                const std::uint8_t* plane = frame->extended_data[planar ? c : 0];
                std::int16_t value = 0;
                switch (av_get_packed_sample_fmt(format)) {
                    case AV_SAMPLE_FMT_S16: value = reinterpret_cast<const std::int16_t*>(plane)[at]; break;
                    case AV_SAMPLE_FMT_S32:
                        value = std::int16_t(reinterpret_cast<const std::int32_t*>(plane)[at] >> 16);
                        break;
                    case AV_SAMPLE_FMT_FLT: value = fromFloat(reinterpret_cast<const float*>(plane)[at]); break;
                    case AV_SAMPLE_FMT_DBL: value = fromFloat(float(reinterpret_cast<const double*>(plane)[at])); break;
                    default:
                        put(reason, reasonSize, "unexpected sample format " + std::to_string(int(format)));
                        return KAV_FAILED;
                }
                out[std::size_t(i) * channelCount + c] = value;
            }
        }
        return sink(sinkContext, out.data(), out.size()) ? KAV_OK : KAV_STOPPED;
    }
};

namespace {

KavSoundDecoder* soundOpen(int swfFormat, std::uint32_t rate, std::uint16_t channels, int* status, char* reason,
                           std::size_t reasonSize) {
    quiet();
    const AVCodec* codec = avcodec_find_decoder(soundCodec(swfFormat));
    if (!codec) {
        *status = KAV_NO_DECODER;
        return nullptr;
    }
    auto* decoder = new (std::nothrow) KavSoundDecoder;
    if (decoder) {
        decoder->context = avcodec_alloc_context3(codec);
        decoder->packet = av_packet_alloc();
        decoder->frame = av_frame_alloc();
    }
    if (!decoder || !decoder->context || !decoder->packet || !decoder->frame) {
        delete decoder;
        *status = KAV_NO_MEMORY;
        return nullptr;
    }
    decoder->context->sample_rate = int(rate);
    av_channel_layout_default(&decoder->context->ch_layout, channels);
    const int opened = avcodec_open2(decoder->context, codec, nullptr);
    if (opened < 0) {
        put(reason, reasonSize, errorText(opened));
        delete decoder;
        *status = KAV_FAILED;
        return nullptr;
    }
    *status = KAV_OK;
    return decoder;
}

int soundSend(KavSoundDecoder* decoder, const std::uint8_t* bytes, std::size_t n, KavPcmSink sink, void* context,
              char* reason, std::size_t reasonSize) {
    if (n == 0) return KAV_OK;
    if (n > std::size_t(std::numeric_limits<int>::max())) {
        put(reason, reasonSize, "packet too large");
        return KAV_FAILED;
    }
    av_packet_unref(decoder->packet);
    int status = av_new_packet(decoder->packet, int(n));
    if (status >= 0) {
        std::memcpy(decoder->packet->data, bytes, n);
        status = avcodec_send_packet(decoder->context, decoder->packet);
    }
    if (status < 0) {
        put(reason, reasonSize, errorText(status));
        return KAV_FAILED;
    }
    return decoder->drain(sink, context, reason, reasonSize);
}

int soundFinish(KavSoundDecoder* decoder, KavPcmSink sink, void* context, char* reason, std::size_t reasonSize) {
    const int status = avcodec_send_packet(decoder->context, nullptr);
    if (status < 0 && status != AVERROR_EOF) {
        put(reason, reasonSize, errorText(status));
        return KAV_FAILED;
    }
    return decoder->drain(sink, context, reason, reasonSize);
}

void soundClose(KavSoundDecoder* decoder) { delete decoder; }

struct FormatContext {
    AVFormatContext* context = nullptr;
    ~FormatContext() {
        if (context) {
            if (context->pb) avio_closep(&context->pb);
            avformat_free_context(context);
        }
    }
};

// Whole message on failure (e.g. "FLV header: Invalid argument").
std::string writeFlvFile(int swfCodec, int width, int height, int frameRate88, double framesPerSecond,
                         const KavPacket* packets, std::size_t count, const char* path) {
    const AVCodecID id = videoCodec(swfCodec);
    if (id == AV_CODEC_ID_NONE) return "FLV has no codec id " + std::to_string(swfCodec);
    FormatContext out;
    int status = avformat_alloc_output_context2(&out.context, nullptr, "flv", path);
    if (status < 0 || !out.context) return "FLV muxer: " + errorText(status);
    AVStream* stream = avformat_new_stream(out.context, nullptr);
    if (!stream) return "out of memory for the FLV stream";
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = id;
    stream->codecpar->width = width;
    stream->codecpar->height = height;
    stream->time_base = AVRational{1, 1000};
    stream->avg_frame_rate = frameRate88 > 0 ? AVRational{frameRate88, 256} : AVRational{int(framesPerSecond), 1};
    // The muxer writes the last extradata byte as each VP6 packet's size adjustment.
    if (isVp6(swfCodec) &&
        !setVp6Extradata(stream->codecpar->extradata, stream->codecpar->extradata_size, width, height))
        return "out of memory for the FLV stream";
    status = avio_open(&out.context->pb, path, AVIO_FLAG_WRITE);
    if (status < 0) return "cannot create the file: " + errorText(status);

    auto fail = [path](std::string why) {
        std::remove(path);
        return why;
    };
    status = avformat_write_header(out.context, nullptr);
    if (status < 0) return fail("FLV header: " + errorText(status));
    AVPacket* packet = av_packet_alloc();
    if (!packet) return fail("out of memory for a packet");
    for (std::size_t i = 0; i < count && status >= 0; ++i) {
        if (packets[i].size > std::size_t(std::numeric_limits<int>::max() - AV_INPUT_BUFFER_PADDING_SIZE)) {
            status = AVERROR(EINVAL);
            break;
        }
        status = av_new_packet(packet, int(packets[i].size));
        if (status < 0) break;
        if (packets[i].size > 0) std::memcpy(packet->data, packets[i].data, packets[i].size);
        packet->stream_index = stream->index;
        packet->pts = packet->dts = av_rescale_q(packets[i].timeMs, AVRational{1, 1000}, stream->time_base);
        if (packets[i].key) packet->flags |= AV_PKT_FLAG_KEY;
        status = av_write_frame(out.context, packet);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (status < 0) return fail("FLV frame: " + errorText(status));
    status = av_write_trailer(out.context);
    if (status < 0) return fail("FLV trailer: " + errorText(status));
    status = avio_closep(&out.context->pb);
    if (status < 0) return fail("cannot write the file: " + errorText(status));
    return {};
}

int writeFlv(int swfCodec, int width, int height, int frameRate88, double framesPerSecond, const KavPacket* packets,
             std::size_t count, const char* path, char* reason, std::size_t reasonSize) {
    quiet();
    const std::string why = writeFlvFile(swfCodec, width, height, frameRate88, framesPerSecond, packets, count, path);
    if (why.empty()) return KAV_OK;
    put(reason, reasonSize, why);
    return KAV_FAILED;
}

struct VideoDecoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    ~VideoDecoder() {
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
};

// Converts the frame to RGB, or RGBA when its format has alpha.
int toPicture(const AVFrame& frame, const KavPictureSink& sink) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    const bool alpha = descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA);
    const int width = frame.width;
    const int height = frame.height;
    if (!sink.begin(sink.context, alpha ? 1 : 0, width, height)) return KAV_UNCONVERTED;
    SwsContext* scaler = sws_getContext(width, height, AVPixelFormat(frame.format), width, height,
                                        alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr);
    if (!scaler) return KAV_UNCONVERTED;
    // Scaled into a buffer of its own: the scaler may write past the end of a row.
    const int rowBytes = width * (alpha ? 4 : 3);
    const int lineSize = (rowBytes + 63) & ~63;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(std::size_t(lineSize) * std::size_t(height) + 64);
    } catch (const std::bad_alloc&) {
        sws_freeContext(scaler);
        return KAV_UNCONVERTED;
    }
    std::uint8_t* planes[4] = {buffer.data(), nullptr, nullptr, nullptr};
    int strides[4] = {lineSize, 0, 0, 0};
    const int rows = sws_scale(scaler, frame.data, frame.linesize, 0, height, planes, strides);
    sws_freeContext(scaler);
    if (rows != height) return KAV_UNCONVERTED;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = sink.row(sink.context, y);
        if (!row) return KAV_UNCONVERTED;
        std::memcpy(row, buffer.data() + std::size_t(y) * std::size_t(lineSize), std::size_t(rowBytes));
    }
    return KAV_OK;
}

int decodeFirstFrame(int swfCodec, int width, int height, const KavPacket* packets, std::size_t count,
                     const KavPictureSink* sink, char* reason, std::size_t reasonSize) {
    quiet();
    const AVCodecID id = videoCodec(swfCodec);
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!codec) return KAV_NO_DECODER;
    VideoDecoder decoder;
    decoder.context = avcodec_alloc_context3(codec);
    if (!decoder.context || !decoder.packet || !decoder.frame) return KAV_NO_MEMORY;
    decoder.context->width = width;
    decoder.context->height = height;
    if (isVp6(swfCodec)) setVp6Extradata(decoder.context->extradata, decoder.context->extradata_size, width, height);
    int status = avcodec_open2(decoder.context, codec, nullptr);
    std::string why;
    const std::size_t tries = count;
    for (std::size_t i = 0; status >= 0 && i <= tries; ++i) {
        if (i < tries) {
            if (packets[i].size > std::size_t(std::numeric_limits<int>::max() - AV_INPUT_BUFFER_PADDING_SIZE)) {
                why = errorText(AVERROR(EINVAL));
                continue;
            }
            status = av_new_packet(decoder.packet, int(packets[i].size));
            if (status < 0) break;
            if (packets[i].size > 0) std::memcpy(decoder.packet->data, packets[i].data, packets[i].size);
            if (packets[i].key) decoder.packet->flags |= AV_PKT_FLAG_KEY;
            status = avcodec_send_packet(decoder.context, decoder.packet);
            av_packet_unref(decoder.packet);
        } else {
            status = avcodec_send_packet(decoder.context, nullptr);  // drain
        }
        if (status < 0 && status != AVERROR(EAGAIN)) {
            // A damaged packet: note it and try the next.
            why = errorText(status);
            status = 0;
            continue;
        }
        status = avcodec_receive_frame(decoder.context, decoder.frame);
        if (status == 0) return toPicture(*decoder.frame, *sink);
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) why = errorText(status);
        status = 0;
    }
    if (why.empty() && status < 0) why = errorText(status);
    put(reason, reasonSize, why);
    return KAV_FAILED;
}

const KestrelAvApi kApi = {
    KESTREL_AV_API_VERSION, soundOpen, soundSend, soundFinish, soundClose, writeFlv, decodeFirstFrame,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KestrelAvApi* kestrel_av_api(void) { return &kApi; }
