// Writes Kestrel's bundled demo movies: one of every bitmap tag and sound
// format Kestrel reads, on the main timeline and inside a sprite.
//
//   make-demo OUT.swf [OUT-LZMA.swf]   (samples/demo.swf, samples/demo-lzma.swf)
//
// The output is deterministic, so the committed samples/demo.swf can be
// checked against a fresh build of it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <vector>

#include "swfbuilder/av_encode.h"
#include "swfbuilder/swf_builder.h"

extern "C" {
#include <libavutil/cpu.h>
}

using namespace swfbuilder;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgba {
    std::uint8_t r, g, b, a;
};

// A small scene: sky gradient, sun, hills. Row-major, top row first.
std::vector<Rgba> scene(int w, int h, bool cutOut) {
    std::vector<Rgba> px(std::size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double fy = double(y) / h;
            Rgba c{std::uint8_t(70 + 120 * fy), std::uint8_t(130 + 90 * fy), 235, 255};
            const double sx = x - w * 0.7, sy = y - h * 0.3, r = h * 0.15;
            if (sx * sx + sy * sy < r * r) c = {255, 210, 60, 255};
            const double hill = h * (0.7 + 0.1 * std::sin(x * 2 * kPi / w * 1.5));
            if (y > hill) c = {60, std::uint8_t(140 + 40 * std::sin(x * 0.2)), 60, 255};
            if (cutOut) {
                const double dx = x - w / 2.0, dy = y - h / 2.0;
                const double d = std::sqrt(dx * dx + dy * dy) / (std::min(w, h) / 2.0);
                const double a = d >= 1 ? 0 : d < 0.8 ? 255 : 255 * (1 - d) / 0.2;
                c.a = std::uint8_t(a);
                // Stored premultiplied, as the player expects.
                c.r = std::uint8_t(c.r * c.a / 255);
                c.g = std::uint8_t(c.g * c.a / 255);
                c.b = std::uint8_t(c.b * c.a / 255);
            }
            px[std::size_t(y) * w + x] = c;
        }
    }
    return px;
}

// --- JPEG -------------------------------------------------------------------

struct JpegOut {
    unsigned char* data = nullptr;
    unsigned long size = 0;
    Bytes take() {
        Bytes out(data, data + size);
        std::free(data);
        data = nullptr;
        return out;
    }
};

void setUp(jpeg_compress_struct& c, jpeg_error_mgr& err, JpegOut& out, int w, int h, int components) {
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out.data, &out.size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
}

void writeRows(jpeg_compress_struct& c, const std::vector<Rgba>& px, int w, int components) {
    std::vector<std::uint8_t> row(std::size_t(w) * components);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < w; ++x) {
            const Rgba& p = px[std::size_t(c.next_scanline) * w + x];
            if (components == 1) {
                row[x] = std::uint8_t((p.r * 3 + p.g * 6 + p.b) / 10);
            } else {
                row[x * 3] = p.r;
                row[x * 3 + 1] = p.g;
                row[x * 3 + 2] = p.b;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
}

// A complete JPEG stream.
Bytes jpeg(const std::vector<Rgba>& px, int w, int h, int components = 3) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    JpegOut out;
    setUp(c, err, out, w, h, components);
    jpeg_start_compress(&c, TRUE);
    writeRows(c, px, w, components);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return out.take();
}

// Tables-only stream and an image stream without tables, from one encoder.
std::pair<Bytes, Bytes> jpegSplit(const std::vector<Rgba>& px, int w, int h) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    JpegOut tables;
    setUp(c, err, tables, w, h, 3);
    jpeg_write_tables(&c);
    JpegOut image;
    jpeg_mem_dest(&c, &image.data, &image.size);
    jpeg_suppress_tables(&c, TRUE);
    jpeg_start_compress(&c, FALSE);
    writeRows(c, px, w, 3);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return {tables.take(), image.take()};
}

// --- bitmaps --------------------------------------------------------------------

Bytes defineBitsLossless5(std::uint16_t id, const std::vector<Rgba>& px, int w, int h) {
    Writer rows;
    for (const Rgba& p : px) rows.u8(p.a).u8(p.r).u8(p.g).u8(p.b);
    return losslessBody(id, 5, std::uint16_t(w), std::uint16_t(h), deflate(rows.take()));
}

Bytes defineBitsLossless4(std::uint16_t id, const std::vector<Rgba>& px, int w, int h) {
    Writer rows;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgba& p = px[std::size_t(y) * w + x];
            rows.u16be(std::uint32_t(p.r >> 3) << 10 | std::uint32_t(p.g >> 3) << 5 | (p.b >> 3));
        }
        if (w % 2) rows.u16(0);  // rows padded to 4 bytes
    }
    return losslessBody(id, 4, std::uint16_t(w), std::uint16_t(h), deflate(rows.take()));
}

// 8-bit palette image: concentric rings in `colours` shades.
Bytes defineBitsLossless3(std::uint16_t id, int w, int h, int colours, bool withAlpha) {
    Writer data;
    for (int i = 0; i < colours; ++i) {
        data.u8(std::uint32_t(40 + i * 200 / colours))
            .u8(std::uint32_t(90 + i * 120 / colours))
            .u8(std::uint32_t(200 - i * 150 / colours));
        if (withAlpha) data.u8(i == 0 ? 0 : 255);
    }
    const int stride = (w + 3) & ~3;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < stride; ++x) {
            const double d = std::hypot(x - w / 2.0, y - h / 2.0);
            data.u8(x < w ? std::uint32_t(int(d / 1.5) % colours) : 0);
        }
    }
    return losslessBody(id, 3, std::uint16_t(w), std::uint16_t(h), deflate(data.take()), colours);
}

Bytes defineBitsJpeg3(std::uint16_t id, const std::vector<Rgba>& px, int w, int h) {
    const Bytes image = jpeg(px, w, h);
    Bytes alpha;
    for (const Rgba& p : px) alpha.push_back(p.a);
    Writer body;
    return body.u16(id).u32(std::uint32_t(image.size())).bytes(image).bytes(deflate(alpha)).take();
}

// DefineBitsJPEG4: a JPEG with an alpha plane and a deblocking strength
// (8.8 fixed point) that players may use and extractors leave alone.
Bytes defineBitsJpeg4(std::uint16_t id, const std::vector<Rgba>& px, int w, int h, std::uint16_t deblocking) {
    Bytes alpha;
    for (const Rgba& p : px) alpha.push_back(p.a);
    return defineBitsJpeg4Body(id, jpeg(px, w, h), deflate(alpha), deblocking);
}

// --- sounds ---------------------------------------------------------------------

std::vector<std::int16_t> tone(int rate, double seconds, double hz) {
    std::vector<std::int16_t> s(std::size_t(rate * seconds));
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double env = std::min(1.0, std::min(i, s.size() - i) / (rate * 0.02));
        s[i] = std::int16_t(9000 * env * std::sin(2 * kPi * hz * double(i) / rate));
    }
    return s;
}

Bytes pcm16(const std::vector<std::int16_t>& samples) {
    Writer w;
    for (std::int16_t v : samples) w.u16(std::uint16_t(v));
    return w.take();
}

Bytes pcm8(const std::vector<std::int16_t>& samples) {
    Bytes out;
    for (std::int16_t v : samples) out.push_back(std::uint8_t((v >> 8) + 128));
    return out;
}

// Silent MPEG-2 Layer III frames, 32 kbit/s, 22050 Hz, mono: 104-byte
// frames of 576 samples whose side information is all zero.
Bytes mp3Silence(int frames) {
    Bytes out;
    for (int i = 0; i < frames; ++i) {
        Writer w;
        w.bytes({0xFF, 0xF3, 0x40, 0xC4});  // sync, MPEG-2, Layer III, no CRC, 32 kbit/s, 22050 Hz, mono
        Bytes frame = w.take();
        frame.resize(72 * 32000 / 22050, 0);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

bool writeFile(const char* path, const Bytes& bytes) {
    std::FILE* out = std::fopen(path, "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "make-demo: cannot write %s\n", path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make-demo OUT.swf [OUT-LZMA.swf]\n");
        return 2;
    }
    const int w = 96, h = 64;
    const auto sky = scene(w, h, false);
    const auto cut = scene(w, h, true);
    const auto [tables, abbreviated] = jpegSplit(sky, w, h);

    // JPEG2 written the way authoring tools often do: an empty EOI/SOI
    // pair in front of a complete stream.
    Bytes jpeg2;
    jpeg2.insert(jpeg2.end(), {0xFF, 0xD9, 0xFF, 0xD8});
    const Bytes full = jpeg(sky, w, h);
    jpeg2.insert(jpeg2.end(), full.begin(), full.end());

    const auto voice = tone(11025, 0.6, 440);
    const auto low = tone(5512, 0.4, 220);
    const auto chime = tone(22050, 0.5, 660);

    // Little-endian PCM, and Nellymoser from libavcodec's encoder. Its
    // plain C code paths keep the bytes independent of the processor.
    const auto hum = tone(22050, 0.5, 330);
    av_force_cpu_flags(0);
    const auto nellymoser = joined(avEncode("nellymoser", 11025, tone(11025, 0.6, 523)));
    if (nellymoser.empty()) {
        std::fprintf(stderr, "make-demo: libavcodec has no Nellymoser encoder\n");
        return 1;
    }

    Tags sprite;
    sprite.tag(kTagSoundStreamHead, soundStreamHeadBody(2, 2, true, false, 576));
    for (int f = 0; f < 4; ++f) {
        sprite.tag(kTagSoundStreamBlock, mp3StreamBlockBody(576, 0, mp3Silence(1))).showFrame();
    }
    sprite.tag(kTagDefineBitsLossless2, defineBitsLossless3(20, 40, 40, 12, true)).end();

    Tags t;
    t.tag(kTagJpegTables, tables)
        .tag(kTagDefineBits, Writer().u16(1).bytes(abbreviated).take())
        .tag(kTagDefineBitsJpeg2, Writer().u16(2).bytes(jpeg2).take())
        .tag(kTagDefineBitsJpeg2, Writer().u16(3).bytes(jpeg(scene(w / 2, h / 2, false), w / 2, h / 2, 1)).take())
        .tag(kTagDefineBitsJpeg3, defineBitsJpeg3(4, cut, w, h))
        .showFrame()
        .tag(kTagDefineBitsLossless, defineBitsLossless5(5, sky, w, h))
        .tag(kTagDefineBitsLossless, defineBitsLossless4(6, scene(w - 1, h, false), w - 1, h))
        .tag(kTagDefineBitsLossless, defineBitsLossless3(7, 33, 33, 16, false))
        .tag(kTagDefineBitsLossless2, defineBitsLossless5(8, cut, w, h))
        .tag(kTagDefineSound, defineSoundBody(9, 0, 1, true, false, std::uint32_t(voice.size()), pcm16(voice)))
        .tag(kTagDefineSound, defineSoundBody(10, 0, 0, false, false, std::uint32_t(low.size()), pcm8(low)))
        .tag(kTagDefineSound,
             defineSoundBody(11, 1, 2, true, false, std::uint32_t(chime.size()), adpcmEncode(chime, false, 4)))
        .tag(kTagDefineSound,
             defineSoundBody(12, 2, 2, true, false, 576 * 20, Writer().u16(0).bytes(mp3Silence(20)).take()))
        .tag(kTagDefineSound, defineSoundBody(21, 3, 2, true, false, std::uint32_t(hum.size()), pcm16(hum)))
        .tag(kTagDefineSound,
             defineSoundBody(22, 6, 1, true, false, std::uint32_t(nellymoser.size() / 64 * 256), nellymoser))
        .showFrame()
        .sprite(13, 4, sprite)
        .tag(kTagDefineBitsJpeg4, defineBitsJpeg4(14, scene(w / 2, h / 2, true), w / 2, h / 2, 0x0100))
        .showFrame()
        .end();

    // The same movie twice: zlib-compressed (CWS) and LZMA-compressed (ZWS).
    // LZMA needs version 13 or later to play.
    const Bytes file = SwfFile().version(10).frames(3).stage(w * 4, h * 4).compressed().tags(t).bytes();
    if (!writeFile(argv[1], file)) return 1;
    if (argc == 3) {
        const Bytes lzma = SwfFile().version(13).frames(3).stage(w * 4, h * 4).lzma().tags(t).bytes();
        if (lzma.size() <= 17 || !writeFile(argv[2], lzma)) return 1;
    }
    return 0;
}
