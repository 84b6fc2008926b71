// Sound data for built movies, encoded with libavcodec's own encoders:
// "nellymoser", "pcm_alaw", "pcm_mulaw" and "libspeex" (where the library
// was built with it). Link the kestrel_swfbuilder_av target.
//
//   auto packets = swfbuilder::avEncode("nellymoser", 22050, samples);
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace swfbuilder {

namespace detail {

inline bool drainPackets(AVCodecContext* context, AVPacket* packet, std::vector<std::vector<std::uint8_t>>& out,
                         std::vector<bool>* keys = nullptr) {
    for (;;) {
        const int status = avcodec_receive_packet(context, packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
        if (status < 0) return false;
        out.emplace_back(packet->data, packet->data + packet->size);
        if (keys) keys->push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
        av_packet_unref(packet);
    }
}

}  // namespace detail

// Encodes mono 16-bit samples at `rate`; the encoder's packets in order.
// Fixed-size frames (Nellymoser, Speex) are padded with silence at the end. Empty when the
// encoder is missing or fails.
inline std::vector<std::vector<std::uint8_t>> avEncode(const char* encoder, int rate,
                                                       const std::vector<std::int16_t>& samples) {
    std::vector<std::vector<std::uint8_t>> out;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec) return out;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool good = context && packet && frame;
    const bool isFloat = codec->sample_fmts && codec->sample_fmts[0] == AV_SAMPLE_FMT_FLT;
    if (good) {
        context->sample_rate = rate;
        context->sample_fmt = isFloat ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&context->ch_layout, 1);
        context->bit_rate = 0;
        good = avcodec_open2(context, codec, nullptr) >= 0;
    }
    const bool fixedSize = good && context->frame_size > 0;
    const int frameSize = fixedSize ? context->frame_size : 1024;
    for (std::size_t at = 0; good && at < samples.size(); at += std::size_t(frameSize)) {
        frame->nb_samples = fixedSize ? frameSize
                                      : int(std::min<std::size_t>(std::size_t(frameSize), samples.size() - at));
        frame->format = context->sample_fmt;
        av_channel_layout_default(&frame->ch_layout, 1);
        frame->sample_rate = rate;
        if (av_frame_get_buffer(frame, 0) < 0) {
            good = false;
            break;
        }
        for (int i = 0; i < frame->nb_samples; ++i) {
            const std::size_t k = at + std::size_t(i);
            const std::int16_t v = k < samples.size() ? samples[k] : 0;
            if (isFloat)
                reinterpret_cast<float*>(frame->data[0])[i] = float(v) / 32768.0f;
            else
                reinterpret_cast<std::int16_t*>(frame->data[0])[i] = v;
        }
        good = avcodec_send_frame(context, frame) >= 0 && detail::drainPackets(context, packet, out);
        av_frame_unref(frame);
    }
    if (good) good = avcodec_send_frame(context, nullptr) >= 0 && detail::drainPackets(context, packet, out);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    if (!good) out.clear();
    return out;
}

// Encodes `count` pictures with a video encoder ("flv", "flashsv"), one
// packet per picture, key frames only every `keyInterval` pictures; `keys`
// (when given) receives the encoder's key frame flags. The pictures share a
// pattern and differ in their top left corner only. Empty when the encoder
// is missing or fails.
inline std::vector<std::vector<std::uint8_t>> avEncodeVideo(const char* encoder, int width, int height, int count,
                                                            int keyInterval = 100, std::vector<bool>* keys = nullptr) {
    std::vector<std::vector<std::uint8_t>> out;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec || !codec->pix_fmts) return out;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool good = context && packet && frame;
    if (good) {
        context->width = width;
        context->height = height;
        context->pix_fmt = codec->pix_fmts[0];
        context->time_base = AVRational{1, 10};
        context->gop_size = keyInterval;
        context->max_b_frames = 0;
        good = avcodec_open2(context, codec, nullptr) >= 0;
    }
    for (int i = 0; good && i < count; ++i) {
        frame->format = context->pix_fmt;
        frame->width = width;
        frame->height = height;
        if (av_frame_get_buffer(frame, 0) < 0) {
            good = false;
            break;
        }
        for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
            const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(context->pix_fmt);
            const bool chroma = (plane == 1 || plane == 2) && layout->nb_components > 2;
            const int rows = chroma ? AV_CEIL_RSHIFT(height, layout->log2_chroma_h) : height;
            for (int y = 0; y < rows; ++y) {
                for (int x = 0; x < frame->linesize[plane]; ++x) {
                    const int corner = x < 8 && y < 8 ? i * 40 : 0;
                    frame->data[plane][y * frame->linesize[plane] + x] =
                        std::uint8_t((x + y) * 4 + corner + plane * 60);
                }
            }
        }
        frame->pts = i;
        good = avcodec_send_frame(context, frame) >= 0 && detail::drainPackets(context, packet, out, keys);
        av_frame_unref(frame);
    }
    if (good) good = avcodec_send_frame(context, nullptr) >= 0 && detail::drainPackets(context, packet, out, keys);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    if (!good) out.clear();
    return out;
}

// The packets joined, as one DefineSound holds them.
inline std::vector<std::uint8_t> joined(const std::vector<std::vector<std::uint8_t>>& packets) {
    std::vector<std::uint8_t> all;
    for (const auto& p : packets) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace swfbuilder
