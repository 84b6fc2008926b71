// Builds SWF files from tags, for tests, benchmarks and the demo file.
//
//   Tags body;
//   body.tag(kTagDefineBitsLossless, losslessBody).showFrame().end();
//   auto bytes = SwfFile().frames(1).tags(body).bytes();          // FWS
//   auto packed = SwfFile().compressed().tags(body).bytes();       // CWS
//   auto lzma = SwfFile().lzma().tags(body).bytes();               // ZWS
//
// Every field a hostile file could lie about can be set: the declared
// length, the tag length (short or long form), truncation of the result.
#pragma once

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace swfbuilder {

using Bytes = std::vector<std::uint8_t>;

enum TagCode : std::uint16_t {
    kTagEnd = 0,
    kTagShowFrame = 1,
    kTagDefineBits = 6,
    kTagJpegTables = 8,
    kTagDefineSound = 14,
    kTagSoundStreamHead = 18,
    kTagSoundStreamBlock = 19,
    kTagDefineBitsLossless = 20,
    kTagDefineBitsJpeg2 = 21,
    kTagDefineBitsJpeg3 = 35,
    kTagDefineBitsLossless2 = 36,
    kTagDefineSprite = 39,
    kTagSoundStreamHead2 = 45,
    kTagExportAssets = 56,
    kTagDefineVideoStream = 60,
    kTagVideoFrame = 61,
    kTagSymbolClass = 76,
    kTagDefineBinaryData = 87,
    kTagDefineBitsJpeg4 = 90,
};

// Little-endian byte writer with an MSB-first bit writer on the side.
class Writer {
public:
    Writer& u8(std::uint32_t v) {
        flushBits();
        out_.push_back(std::uint8_t(v));
        return *this;
    }
    Writer& u16(std::uint32_t v) {
        u8(v & 0xFF);
        return u8((v >> 8) & 0xFF);
    }
    Writer& u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        return u16(v >> 16);
    }
    Writer& u16be(std::uint32_t v) {
        u8((v >> 8) & 0xFF);
        return u8(v & 0xFF);
    }
    Writer& bytes(const Bytes& b) {
        flushBits();
        out_.insert(out_.end(), b.begin(), b.end());
        return *this;
    }
    Writer& bytes(std::initializer_list<std::uint8_t> b) {
        flushBits();
        out_.insert(out_.end(), b);
        return *this;
    }
    Writer& text(std::string_view s) {
        flushBits();
        out_.insert(out_.end(), s.begin(), s.end());
        return *this;
    }
    Writer& zeros(std::size_t n) {
        flushBits();
        out_.insert(out_.end(), n, 0);
        return *this;
    }
    // n bits of v, most significant first.
    Writer& bits(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc_ = std::uint8_t((acc_ << 1) | ((v >> i) & 1));
            if (++nbits_ == 8) {
                out_.push_back(acc_);
                acc_ = 0;
                nbits_ = 0;
            }
        }
        return *this;
    }
    Writer& flushBits() {
        if (nbits_ > 0) {
            out_.push_back(std::uint8_t(acc_ << (8 - nbits_)));
            acc_ = 0;
            nbits_ = 0;
        }
        return *this;
    }
    Bytes take() {
        flushBits();
        return std::move(out_);
    }
    std::size_t size() const { return out_.size(); }

private:
    Bytes out_;
    std::uint8_t acc_ = 0;
    int nbits_ = 0;
};

// A sequence of tags: a timeline's content.
class Tags {
public:
    // Short form when the length is below 0x3F, long form otherwise.
    Tags& tag(std::uint16_t code, const Bytes& body = {}) {
        return body.size() < 0x3F ? shortTag(code, body) : longTag(code, body);
    }
    Tags& shortTag(std::uint16_t code, const Bytes& body) {
        w_.u16(std::uint32_t(code) << 6 | std::uint32_t(body.size() & 0x3F)).bytes(body);
        return *this;
    }
    Tags& longTag(std::uint16_t code, const Bytes& body) {
        w_.u16(std::uint32_t(code) << 6 | 0x3F).u32(std::uint32_t(body.size())).bytes(body);
        return *this;
    }
    // A header that declares `declaredLength` whatever follows (lying lengths).
    Tags& header(std::uint16_t code, std::uint32_t declaredLength) {
        if (declaredLength < 0x3F)
            w_.u16(std::uint32_t(code) << 6 | declaredLength);
        else
            w_.u16(std::uint32_t(code) << 6 | 0x3F).u32(declaredLength);
        return *this;
    }
    Tags& showFrame(int count = 1) {
        for (int i = 0; i < count; ++i) tag(kTagShowFrame);
        return *this;
    }
    Tags& end() { return tag(kTagEnd); }
    Tags& raw(const Bytes& b) {
        w_.bytes(b);
        return *this;
    }
    Tags& sprite(std::uint16_t id, std::uint16_t frameCount, const Tags& inner) {
        Writer body;
        body.u16(id).u16(frameCount).bytes(inner.bytes());
        return tag(kTagDefineSprite, body.take());
    }
    Bytes bytes() const {
        Writer copy = w_;
        return copy.take();
    }

private:
    Writer w_;
};

// The file: header, frame RECT, rate, count, then the tags.
class SwfFile {
public:
    SwfFile& compressed(bool on = true) {
        compressed_ = on;
        lzma_ = false;
        return *this;
    }
    // ZWS: the body as a raw LZMA1 stream.
    SwfFile& lzma(bool on = true) {
        lzma_ = on;
        compressed_ = false;
        return *this;
    }
    SwfFile& signature(std::string_view sig) {
        signature_ = std::string(sig);
        return *this;
    }
    SwfFile& version(std::uint8_t v) {
        version_ = v;
        return *this;
    }
    SwfFile& frameRate(std::uint16_t raw88) {
        rate_ = raw88;
        return *this;
    }
    SwfFile& frames(std::uint16_t n) {
        frames_ = n;
        return *this;
    }
    SwfFile& stage(std::int32_t w, std::int32_t h) {
        width_ = w;
        height_ = h;
        return *this;
    }
    // Header length field; by default the true uncompressed length.
    SwfFile& declaredLength(std::uint32_t n) {
        declared_ = n;
        return *this;
    }
    SwfFile& tags(const Tags& t) {
        tags_ = t.bytes();
        return *this;
    }
    SwfFile& body(const Bytes& b) {
        tags_ = b;
        return *this;
    }
    // Cut the finished file to n bytes.
    SwfFile& truncate(std::size_t n) {
        truncate_ = n;
        return *this;
    }

    // The body after the 8 header bytes, uncompressed.
    Bytes uncompressedBody() const {
        Writer w;
        w.bits(15, 5)
            .bits(0, 15)
            .bits(std::uint32_t(width_ * 20), 15)
            .bits(0, 15)
            .bits(std::uint32_t(height_ * 20), 15);
        w.flushBits();
        w.u16(rate_).u16(frames_).bytes(tags_);
        return w.take();
    }

    Bytes bytes() const {
        Bytes body = uncompressedBody();
        Writer w;
        std::string sig = signature_.empty() ? (compressed_ ? "CWS" : lzma_ ? "ZWS" : "FWS") : signature_;
        w.text(sig.substr(0, 3)).u8(version_).u32(declared_.value_or(std::uint32_t(body.size() + 8)));
        Bytes out = w.take();
        if (lzma_) {
            const Bytes packed = zwsPayload(body);
            out.insert(out.end(), packed.begin(), packed.end());
        } else if (compressed_) {
            uLongf packedLength = compressBound(uLong(body.size()));
            Bytes packed(packedLength);
            compress2(packed.data(), &packedLength, body.data(), uLong(body.size()), 9);
            packed.resize(packedLength);
            out.insert(out.end(), packed.begin(), packed.end());
        } else {
            out.insert(out.end(), body.begin(), body.end());
        }
        if (truncate_ && *truncate_ < out.size()) out.resize(*truncate_);
        return out;
    }

    // What follows the 8-byte header of a ZWS file: the compressed length
    // (bytes after the 5 properties), the 5 LZMA property bytes, then the
    // LZMA1 stream, ended by an end marker. Preset 6, so the output is
    // the same on every run.
    static Bytes zwsPayload(const Bytes& body) {
        lzma_options_lzma options;
        lzma_lzma_preset(&options, 6);
        lzma_stream ls = LZMA_STREAM_INIT;
        if (lzma_alone_encoder(&ls, &options) != LZMA_OK) return {};
        Bytes alone(body.size() + body.size() / 2 + 4096);
        ls.next_in = body.data();
        ls.avail_in = body.size();
        ls.next_out = alone.data();
        ls.avail_out = alone.size();
        lzma_ret rc = LZMA_OK;
        while (rc == LZMA_OK) rc = lzma_code(&ls, LZMA_FINISH);
        const std::size_t n = std::size_t(ls.total_out);
        lzma_end(&ls);
        if (rc != LZMA_STREAM_END || n < 13) return {};
        // The .lzma header: 5 property bytes, then an 8-byte size ZWS has not.
        Writer w;
        w.u32(std::uint32_t(n - 13));
        Bytes out = w.take();
        out.insert(out.end(), alone.begin(), alone.begin() + 5);
        out.insert(out.end(), alone.begin() + 13, alone.begin() + std::ptrdiff_t(n));
        return out;
    }

private:
    bool compressed_ = false;
    bool lzma_ = false;
    std::string signature_;
    std::uint8_t version_ = 10;
    std::uint16_t rate_ = 0x0C00;
    std::uint16_t frames_ = 1;
    std::int32_t width_ = 550;
    std::int32_t height_ = 400;
    std::optional<std::uint32_t> declared_;
    std::optional<std::size_t> truncate_;
    Bytes tags_;
};

// zlib stream of `data` (for lossless bitmaps and alpha planes).
inline Bytes deflate(const Bytes& data, int level = 9) {
    uLongf n = compressBound(uLong(data.size()));
    Bytes out(n);
    compress2(out.data(), &n, data.data(), uLong(data.size()), level);
    out.resize(n);
    return out;
}

// --- tag bodies -----------------------------------------------------------

// DefineSound: id, format/rate/size/type bits, sample count, data.
inline Bytes defineSoundBody(std::uint16_t id, int format, int rate, bool is16Bit, bool stereo,
                             std::uint32_t sampleCount, const Bytes& data) {
    Writer w;
    w.u16(id).bits(std::uint32_t(format), 4).bits(std::uint32_t(rate), 2).bits(is16Bit, 1).bits(stereo, 1);
    return w.u32(sampleCount).bytes(data).take();
}

// SoundStreamHead/Head2: playback and stream fields, samples per block,
// and for MP3 the latency seek.
inline Bytes soundStreamHeadBody(int format, int rate, bool is16Bit, bool stereo, std::uint16_t samplesPerBlock,
                                 std::int16_t latencySeek = 0) {
    Writer w;
    w.bits(0, 4).bits(std::uint32_t(rate), 2).bits(is16Bit, 1).bits(stereo, 1);
    w.bits(std::uint32_t(format), 4).bits(std::uint32_t(rate), 2).bits(is16Bit, 1).bits(stereo, 1);
    w.u16(samplesPerBlock);
    if (format == 2) w.u16(std::uint16_t(latencySeek));
    return w.take();
}

// DefineVideoStream: id, declared frame count, size, flags and codec id.
inline Bytes defineVideoStreamBody(std::uint16_t id, std::uint16_t frames, std::uint16_t width, std::uint16_t height,
                                   int codec, int deblocking = 0, bool smoothing = false) {
    Writer w;
    w.u16(id).u16(frames).u16(width).u16(height);
    w.bits(0, 4).bits(std::uint32_t(deblocking), 3).bits(smoothing, 1);
    return w.u8(std::uint32_t(codec)).take();
}

// VideoFrame: stream id, frame number, packet.
inline Bytes videoFrameBody(std::uint16_t streamId, std::uint16_t frame, const Bytes& packet) {
    Writer w;
    return w.u16(streamId).u16(frame).bytes(packet).take();
}

// SoundStreamBlock of an MP3 stream: sample count, seek samples, frames.
inline Bytes mp3StreamBlockBody(std::uint16_t sampleCount, std::int16_t seekSamples, const Bytes& frames) {
    Writer w;
    return w.u16(sampleCount).u16(std::uint16_t(seekSamples)).bytes(frames).take();
}

// DefineBinaryData: id, a reserved 32-bit zero, the payload.
inline Bytes defineBinaryDataBody(std::uint16_t id, const Bytes& payload) {
    Writer w;
    w.u16(id).u32(0).bytes(payload);
    return w.take();
}

// DefineBitsLossless/2: id, format, width, height, [colour count - 1], zlib data.
inline Bytes losslessBody(std::uint16_t id, int format, std::uint16_t width, std::uint16_t height,
                          const Bytes& zlibData, int colours = 0) {
    Writer w;
    w.u16(id).u8(std::uint32_t(format)).u16(width).u16(height);
    if (format == 3) w.u8(std::uint32_t(colours - 1));
    return w.bytes(zlibData).take();
}

// ExportAssets and SymbolClass: a count, then a character id and a
// null-terminated name per entry.
inline Bytes namesBody(const std::vector<std::pair<std::uint16_t, std::string>>& entries) {
    Writer w;
    w.u16(std::uint32_t(entries.size()));
    for (const auto& [id, name] : entries) w.u16(id).text(name).u8(0);
    return w.take();
}

// Format 5 pixels (A, R, G, B per pixel, rows top-down) from RGBA values.
inline Bytes argbRows(const std::vector<std::uint32_t>& rgba) {
    Writer w;
    for (std::uint32_t p : rgba) w.u8(p & 0xFF).u8(p >> 24).u8((p >> 16) & 0xFF).u8((p >> 8) & 0xFF);
    return w.take();
}

}  // namespace swfbuilder

// --- large files and JPEG tag bodies -------------------------------------------

namespace swfbuilder {

// The CWS file of an uncompressed body (as SwfFile::uncompressedBody gives
// it) with a chosen zlib level; bytes() always uses level 9, which is slow
// for files of a hundred megabytes.
inline Bytes compressedFile(const Bytes& uncompressedBody, std::uint8_t version = 10, int level = 1) {
    Writer w;
    w.text("CWS").u8(version).u32(std::uint32_t(uncompressedBody.size() + 8));
    Bytes out = w.take();
    const Bytes packed = deflate(uncompressedBody, level);
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

// DefineBits: id, then a JPEG stream without tables (they come from JPEGTables).
inline Bytes defineBitsBody(std::uint16_t id, const Bytes& abbreviatedJpeg) {
    Writer w;
    return w.u16(id).bytes(abbreviatedJpeg).take();
}

// DefineBitsJPEG2: id, then a complete JPEG stream (optionally behind an
// empty EOI/SOI pair, as some authoring tools write it).
inline Bytes defineBitsJpeg2Body(std::uint16_t id, const Bytes& jpeg, bool eoiSoiPrefix = false) {
    Writer w;
    w.u16(id);
    if (eoiSoiPrefix) w.bytes({0xFF, 0xD9, 0xFF, 0xD8});
    return w.bytes(jpeg).take();
}

// DefineBitsJPEG3: id, offset of the alpha block, JPEG stream, zlib alpha plane.
inline Bytes defineBitsJpeg3Body(std::uint16_t id, const Bytes& jpeg, const Bytes& zlibAlpha) {
    Writer w;
    return w.u16(id).u32(std::uint32_t(jpeg.size())).bytes(jpeg).bytes(zlibAlpha).take();
}

// DefineBitsJPEG4: as DefineBitsJPEG3 with the 8.8 deblocking value after
// the offset of the alpha block.
inline Bytes defineBitsJpeg4Body(std::uint16_t id, const Bytes& image, const Bytes& zlibAlpha,
                                 std::uint16_t deblocking = 0) {
    Writer w;
    return w.u16(id).u32(std::uint32_t(image.size())).u16(deblocking).bytes(image).bytes(zlibAlpha).take();
}

// SWF ADPCM with `codeBits` (2..5) bits per code, samples interleaved
// left, right when stereo; one packet per 4096 samples per channel, each
// starting with the raw sample and step index.
inline Bytes adpcmEncode(const std::vector<std::int16_t>& samples, bool stereo, int codeBits) {
    static const int kSteps[89] = {
        7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
        31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
        130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
        544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
        2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
        9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    static const int kIndex2[] = {-1, 2};
    static const int kIndex3[] = {-1, -1, 2, 4};
    static const int kIndex4[] = {-1, -1, -1, -1, 2, 4, 6, 8};
    static const int kIndex5[] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};
    const int* table = codeBits == 2 ? kIndex2 : codeBits == 3 ? kIndex3 : codeBits == 4 ? kIndex4 : kIndex5;
    const int channels = stereo ? 2 : 1;
    const int signBit = 1 << (codeBits - 1);
    Writer w;
    w.bits(std::uint32_t(codeBits - 2), 2);
    int predictor[2] = {0, 0}, index[2] = {0, 0};
    const std::size_t frames = samples.size() / channels;
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int sample = samples[i * channels + c];
            if (i % 4096 == 0) {
                predictor[c] = sample;
                index[c] = 20;
                w.bits(std::uint32_t(sample) & 0xFFFF, 16).bits(std::uint32_t(index[c]), 6);
                continue;
            }
            int diff = sample - predictor[c];
            int code = 0;
            if (diff < 0) {
                code = signBit;
                diff = -diff;
            }
            int step = kSteps[index[c]];
            int delta = 0;
            for (int bit = codeBits - 2; bit >= 0; --bit) {
                if (diff >= step) {
                    code |= 1 << bit;
                    diff -= step;
                    delta += step;
                }
                step >>= 1;
            }
            delta += step;
            predictor[c] = std::clamp(code & signBit ? predictor[c] - delta : predictor[c] + delta, -32768, 32767);
            index[c] = std::clamp(index[c] + table[code & (signBit - 1)], 0, 88);
            w.bits(std::uint32_t(code), codeBits);
        }
    }
    return w.take();
}

}  // namespace swfbuilder
