#include "reader/video/av_video.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "reader/video/of_video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kestrel::avvideo {

namespace {

// Packets tried before a stream is taken as undecodable.
constexpr std::size_t kDecodeTries = 16;

void quiet() {
    static const bool once = (av_log_set_level(AV_LOG_QUIET), true);
    (void)once;
}

AVCodecID codecId(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::SorensonH263: return AV_CODEC_ID_FLV1;
        case VideoCodec::ScreenVideo: return AV_CODEC_ID_FLASHSV;
        case VideoCodec::Vp6: return AV_CODEC_ID_VP6F;
        case VideoCodec::Vp6Alpha: return AV_CODEC_ID_VP6A;
        case VideoCodec::ScreenVideo2: return AV_CODEC_ID_FLASHSV2;
    }
    return AV_CODEC_ID_NONE;
}

std::string errorText(int status) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    return text;
}

// VP6 in FLV has a byte before each packet that a SWF packet lacks: how
// far the coded size (a multiple of 16) exceeds the picture, per axis.
std::uint8_t vp6Adjustment(int width, int height) {
    const int dx = (16 - width % 16) % 16;
    const int dy = (16 - height % 16) % 16;
    return std::uint8_t(dx << 4 | dy);
}

bool isVp6(VideoCodec codec) { return codec == VideoCodec::Vp6 || codec == VideoCodec::Vp6Alpha; }

// Screen video: a frame whose blocks all carry data replaces the picture.
bool everyBlockPresent(std::span<const std::uint8_t> p, bool version2) {
    if (p.size() < 4) return false;
    const int blockWidth = ((p[0] >> 4) + 1) * 16;
    const int width = (p[0] & 0x0F) << 8 | p[1];
    const int blockHeight = ((p[2] >> 4) + 1) * 16;
    const int height = (p[2] & 0x0F) << 8 | p[3];
    std::size_t at = 4;
    if (version2) {
        if (p.size() < 5 || (p[4] & 1)) return false;  // a palette follows: not walked here
        at = 5;
    }
    const long blocks = long((width + blockWidth - 1) / blockWidth) * ((height + blockHeight - 1) / blockHeight);
    if (blocks == 0) return false;
    for (long i = 0; i < blocks; ++i) {
        if (at + 2 > p.size()) return false;
        const std::size_t size = std::size_t(p[at]) << 8 | p[at + 1];
        if (size == 0) return false;
        at += 2 + size;
    }
    return true;
}

struct FormatContext {
    AVFormatContext* context = nullptr;
    ~FormatContext() {
        if (context) {
            if (context->pb) avio_closep(&context->pb);
            avformat_free_context(context);
        }
    }
};

struct Decoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    ~Decoder() {
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
};

std::unique_ptr<OBPicture> toPicture(const AVFrame& frame) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    const bool alpha = descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA);
    const int width = frame.width;
    const int height = frame.height;
    auto picture = OBPicture::createChecked(alpha ? kFormatRGBA : kFormatRGB, width, height);
    if (!picture) return nullptr;
    const AVPixelFormat target = alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    SwsContext* scaler = sws_getContext(width, height, AVPixelFormat(frame.format), width, height, target, SWS_BILINEAR,
                                        nullptr, nullptr, nullptr);
    if (!scaler) return nullptr;
    // Scaled into a buffer of its own: the scaler may write past the end of
    // a row. Pictures keep their rows bottom-up, so the rows are copied in
    // reverse.
    const int rowBytes = width * (alpha ? 4 : 3);
    const int lineSize = (rowBytes + 63) & ~63;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(std::size_t(lineSize) * std::size_t(height) + 64);
    } catch (const std::bad_alloc&) {
        sws_freeContext(scaler);
        return nullptr;
    }
    std::uint8_t* planes[4] = {buffer.data(), nullptr, nullptr, nullptr};
    int strides[4] = {lineSize, 0, 0, 0};
    const int rows = sws_scale(scaler, frame.data, frame.linesize, 0, height, planes, strides);
    sws_freeContext(scaler);
    if (rows != height) return nullptr;
    for (int y = 0; y < height; ++y)
        std::memcpy(picture->row(height - 1 - y), buffer.data() + std::size_t(y) * std::size_t(lineSize),
                    std::size_t(rowBytes));
    return picture;
}

}  // namespace

bool writable(VideoCodec codec) { return codecId(codec) != AV_CODEC_ID_NONE; }

bool isKeyFrame(VideoCodec codec, std::span<const std::uint8_t> packet, bool first) {
    switch (codec) {
        case VideoCodec::SorensonH263: {
            // 17-bit start code, 5-bit version, 8-bit time, 3-bit size code
            // (0 and 1: width and height follow in 8 or 16 bits), 2-bit type.
            auto bitsAt = [&packet](std::size_t at, int n) {
                std::uint32_t v = 0;
                for (int i = 0; i < n; ++i, ++at) {
                    const std::size_t byte = at / 8;
                    const int bit = byte < packet.size() ? packet[byte] >> (7 - at % 8) & 1 : 0;
                    v = v << 1 | std::uint32_t(bit);
                }
                return v;
            };
            if (packet.size() < 5) return first;
            const std::uint32_t sizeCode = bitsAt(30, 3);
            const std::size_t skip = sizeCode == 0 ? 16 : sizeCode == 1 ? 32 : 0;
            return bitsAt(33 + skip, 2) == 0;
        }
        case VideoCodec::Vp6:
        case VideoCodec::Vp6Alpha: {
            const std::size_t at = codec == VideoCodec::Vp6Alpha ? 3 : 0;
            if (packet.size() <= at) return first;
            return (packet[at] & 0x80) == 0;
        }
        case VideoCodec::ScreenVideo: return first || everyBlockPresent(packet, false);
        case VideoCodec::ScreenVideo2: return first || everyBlockPresent(packet, true);
    }
    return first;
}

std::string writeFlv(const OFVideo& video, const std::string& path) {
    quiet();
    const AVCodecID id = codecId(video.codec);
    if (id == AV_CODEC_ID_NONE) return "FLV has no codec id " + std::to_string(int(video.codec));
    if (video.frames.empty()) return "the stream has no frames";
    FormatContext out;
    int status = avformat_alloc_output_context2(&out.context, nullptr, "flv", path.c_str());
    if (status < 0 || !out.context) return "FLV muxer: " + errorText(status);
    AVStream* stream = avformat_new_stream(out.context, nullptr);
    if (!stream) return "out of memory for the FLV stream";
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = id;
    stream->codecpar->width = video.width;
    stream->codecpar->height = video.height;
    stream->time_base = AVRational{1, 1000};
    stream->avg_frame_rate = video.frameRate88 > 0 ? AVRational{video.frameRate88, 256}
                                                   : AVRational{int(video.framesPerSecond()), 1};
    if (isVp6(video.codec)) {
        // The muxer writes the last extradata byte as each packet's size adjustment.
        stream->codecpar->extradata = static_cast<std::uint8_t*>(av_mallocz(1 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!stream->codecpar->extradata) return "out of memory for the FLV stream";
        stream->codecpar->extradata[0] = vp6Adjustment(video.width, video.height);
        stream->codecpar->extradata_size = 1;
    }
    status = avio_open(&out.context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) return "cannot create the file: " + errorText(status);

    auto fail = [&path](std::string why) {
        std::remove(path.c_str());
        return why;
    };
    status = avformat_write_header(out.context, nullptr);
    if (status < 0) return fail("FLV header: " + errorText(status));
    const std::vector<std::int64_t> times = video.timestampsMs();
    AVPacket* packet = av_packet_alloc();
    if (!packet) return fail("out of memory for a packet");
    for (std::size_t i = 0; i < video.frames.size() && status >= 0; ++i) {
        const std::vector<std::uint8_t>& data = video.frames[i].data;
        status = av_new_packet(packet, int(data.size()));
        if (status < 0) break;
        std::memcpy(packet->data, data.data(), data.size());
        packet->stream_index = stream->index;
        packet->pts = packet->dts = av_rescale_q(times[i], AVRational{1, 1000}, stream->time_base);
        if (isKeyFrame(video.codec, data, i == 0)) packet->flags |= AV_PKT_FLAG_KEY;
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

FirstFrame decodeFirstFrame(const OFVideo& video) {
    quiet();
    FirstFrame out;
    const AVCodecID id = codecId(video.codec);
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!codec) {
        const char* name = videoCodecName(video.codec);
        out.problem = std::string("no decoder for ") + (name ? name : "codec " + std::to_string(int(video.codec)));
        return out;
    }
    Decoder decoder;
    decoder.context = avcodec_alloc_context3(codec);
    if (!decoder.context || !decoder.packet || !decoder.frame) {
        out.problem = "out of memory for the decoder";
        return out;
    }
    decoder.context->width = video.width;
    decoder.context->height = video.height;
    if (isVp6(video.codec)) {
        decoder.context->extradata = static_cast<std::uint8_t*>(av_mallocz(1 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (decoder.context->extradata) {
            decoder.context->extradata[0] = vp6Adjustment(video.width, video.height);
            decoder.context->extradata_size = 1;
        }
    }
    int status = avcodec_open2(decoder.context, codec, nullptr);
    std::string why;
    const std::size_t tries = std::min(video.frames.size(), kDecodeTries);
    for (std::size_t i = 0; status >= 0 && i <= tries; ++i) {
        if (i < tries) {
            const std::vector<std::uint8_t>& data = video.frames[i].data;
            status = av_new_packet(decoder.packet, int(data.size()));
            if (status < 0) break;
            std::memcpy(decoder.packet->data, data.data(), data.size());
            if (isKeyFrame(video.codec, data, i == 0)) decoder.packet->flags |= AV_PKT_FLAG_KEY;
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
        if (status == 0) {
            out.picture = toPicture(*decoder.frame);
            if (!out.picture) out.problem = "the first frame could not be converted";
            return out;
        }
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            status = 0;
        } else {
            why = errorText(status);
            status = 0;
        }
    }
    if (why.empty() && status < 0) why = errorText(status);
    const char* name = videoCodecName(video.codec);
    out.problem = std::string(name ? name : "video") + ": " + (why.empty() ? "no frame decoded" : why);
    return out;
}

}  // namespace kestrel::avvideo
