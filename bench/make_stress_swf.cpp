// Writes a large, deterministic stress movie for the benchmarks:
//
//   make-stress-swf OUT.swf [--scale S] [--seed N]
//
// At scale 1 it holds 223 JPEG images of 1 to 4 megapixels (DefineBits
// with two JPEGTables, DefineBitsJPEG2 in colour and grey, some behind an
// EOI/SOI pair, DefineBitsJPEG3 with alpha planes), 35 lossless bitmaps
// (formats 3, 4 and 5, with and without alpha), MP3, ADPCM and PCM event
// sounds, an MP3 stream on the main timeline and sprites with their own
// MP3 and ADPCM streams and images: about 100 MB uncompressed, written CWS
// with zlib level 1, in about 15 seconds. The scale multiplies the number of every
// kind of resource (at least one of each); picture sizes stay the same.
// The same arguments always give the same bytes.
//
// Pictures are gradients with soft clouds, waves, filled shapes and grain,
// so that JPEG and zlib have real work to do.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "swfbuilder/swf_builder.h"

using namespace swfbuilder;

namespace {

constexpr double kPi = 3.14159265358979323846;

// --- deterministic randomness --------------------------------------------------

class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // [0, 1)
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    // [lo, hi]
    int range(int lo, int hi) { return lo + int(next() % std::uint64_t(hi - lo + 1)); }
    bool chance(double p) { return uniform() < p; }

private:
    std::uint64_t state_;
};

std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

std::uint8_t clamp8(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

// --- pictures ------------------------------------------------------------------

// Top-down RGB pixels and, when asked for, an alpha plane; colours are
// premultiplied by alpha, as the player stores them.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    std::vector<std::uint8_t> alpha;  // empty: opaque
};

struct Colour {
    int r, g, b;
};

Colour randomColour(Rng& rng) { return {rng.range(0, 255), rng.range(0, 255), rng.range(0, 255)}; }

// Size of about `megapixels` with a common aspect ratio.
void pickSize(Rng& rng, double megapixels, int& width, int& height) {
    static const double kAspects[] = {4.0 / 3, 16.0 / 9, 3.0 / 2, 1.0, 3.0 / 4, 2.0 / 3};
    const double aspect = kAspects[rng.range(0, 5)];
    const double pixels = megapixels * 1e6;
    width = std::max(16, int(std::sqrt(pixels * aspect)));
    height = std::max(16, int(pixels / width));
}

Picture paint(Rng& rng, int width, int height, int grain, bool withAlpha) {
    Picture p;
    p.width = width;
    p.height = height;
    p.rgb.resize(std::size_t(width) * height * 3);
    const std::size_t w = std::size_t(width);

    // Linear gradient between two colours along a random direction.
    const Colour a = randomColour(rng);
    const Colour b = randomColour(rng);
    const double angle = rng.uniform() * 2 * kPi;
    const double dx = std::cos(angle), dy = std::sin(angle);
    const double span = std::abs(dx) * width + std::abs(dy) * height;
    const double origin = std::min(0.0, dx * width) + std::min(0.0, dy * height);
    std::vector<int> tx(w), ty(static_cast<std::size_t>(height));  // gradient position in 1/4096
    for (int x = 0; x < width; ++x) tx[std::size_t(x)] = int(4096 * (dx * x - origin) / span);
    for (int y = 0; y < height; ++y) ty[std::size_t(y)] = int(4096 * dy * y / span);

    // Waves: a few cycles across each axis.
    std::vector<int> wx(w), wy(static_cast<std::size_t>(height));
    const double fx = (2 + rng.uniform() * 10) * 2 * kPi / width, px = rng.uniform() * 2 * kPi;
    const double fy = (2 + rng.uniform() * 10) * 2 * kPi / height, py = rng.uniform() * 2 * kPi;
    const double waveAmp = 6 + rng.uniform() * 14;
    for (int x = 0; x < width; ++x) wx[std::size_t(x)] = int(waveAmp * std::sin(fx * x + px));
    for (int y = 0; y < height; ++y) wy[std::size_t(y)] = int(waveAmp * std::sin(fy * y + py));

    // Clouds: value noise on a coarse grid, interpolated.
    const int cell = 48 + rng.range(0, 96);
    const int gw = width / cell + 2, gh = height / cell + 2;
    std::vector<int> grid(std::size_t(gw) * gh);
    const int cloudAmp = rng.range(20, 50);
    for (int& v : grid) v = rng.range(-cloudAmp, cloudAmp);
    std::vector<int> rowNoise(static_cast<std::size_t>(gw));

    const std::uint32_t seed = std::uint32_t(rng.next());
    for (int y = 0; y < height; ++y) {
        const int gy = y / cell, fyc = (y % cell) * 256 / cell;
        for (int gx = 0; gx < gw; ++gx) {
            const int top = grid[std::size_t(gy) * gw + gx], bottom = grid[std::size_t(gy + 1) * gw + gx];
            rowNoise[std::size_t(gx)] = top * 256 + (bottom - top) * fyc;  // in 1/256
        }
        std::uint8_t* out = p.rgb.data() + std::size_t(y) * w * 3;
        const int wavey = wy[std::size_t(y)];
        for (int x = 0; x < width; ++x) {
            const int t = std::clamp(tx[std::size_t(x)] + ty[std::size_t(y)], 0, 4096);
            const int gx = x / cell, fxc = (x % cell) * 256 / cell;
            const int left = rowNoise[std::size_t(gx)], right = rowNoise[std::size_t(gx + 1)];
            const int cloud = (left * 256 + (right - left) * fxc) >> 16;
            const std::uint32_t h = hash32(std::uint32_t(y) * 65599u + std::uint32_t(x) * 2654435761u + seed);
            const int luma = grain ? int(h & 0xFF) * grain / 256 - grain / 2 : 0;
            const int chroma = grain ? int((h >> 8) & 0xFF) * grain / 1024 - grain / 8 : 0;
            const int wave = wx[std::size_t(x)];
            out[0] = clamp8(a.r + ((b.r - a.r) * t >> 12) + cloud + wave + luma + chroma);
            out[1] = clamp8(a.g + ((b.g - a.g) * t >> 12) + cloud + wavey + luma);
            out[2] = clamp8(a.b + ((b.b - a.b) * t >> 12) + cloud - wave + luma - chroma);
            out += 3;
        }
    }

    // Filled shapes with shading, drawn span by span.
    const int shapes = rng.range(4, 14);
    for (int s = 0; s < shapes; ++s) {
        const Colour c = randomColour(rng);
        const int cx = rng.range(0, width - 1), cy = rng.range(0, height - 1);
        const int radius = rng.range(std::min(width, height) / 20 + 1, std::min(width, height) / 4 + 2);
        const bool disc = rng.chance(0.6);
        for (int y = std::max(0, cy - radius); y <= std::min(height - 1, cy + radius); ++y) {
            const int ry = y - cy;
            const int half = disc ? int(std::sqrt(double(radius) * radius - double(ry) * ry)) : radius * 2 / 3;
            std::uint8_t* row = p.rgb.data() + std::size_t(y) * w * 3;
            for (int x = std::max(0, cx - half); x <= std::min(width - 1, cx + half); ++x) {
                const int shade = (x - cx + ry) * 24 / (radius + 1);
                std::uint8_t* px = row + std::size_t(x) * 3;
                px[0] = clamp8((c.r + shade + px[0]) / 2 + (c.r >> 2));
                px[1] = clamp8((c.g + shade + px[1]) / 2 + (c.g >> 2));
                px[2] = clamp8((c.b + shade + px[2]) / 2 + (c.b >> 2));
            }
        }
    }

    if (!withAlpha) return p;

    // Alpha: an opaque ellipse fading out towards the edges, with holes.
    p.alpha.resize(w * std::size_t(height));
    const double inner = 0.55 + rng.uniform() * 0.25;
    for (int y = 0; y < height; ++y) {
        const double ny = (y - height / 2.0) / (height / 2.0);
        for (int x = 0; x < width; ++x) {
            const double nx = (x - width / 2.0) / (width / 2.0);
            const double d = std::sqrt(nx * nx + ny * ny);
            const double v = d <= inner ? 255 : d >= 1 ? 0 : 255 * (1 - d) / (1 - inner);
            p.alpha[std::size_t(y) * w + std::size_t(x)] = std::uint8_t(v);
        }
    }
    const int holes = rng.range(1, 4);
    for (int k = 0; k < holes; ++k) {
        const int cx = rng.range(0, width - 1), cy = rng.range(0, height - 1);
        const int radius = rng.range(4, std::min(width, height) / 8 + 5);
        for (int y = std::max(0, cy - radius); y <= std::min(height - 1, cy + radius); ++y) {
            for (int x = std::max(0, cx - radius); x <= std::min(width - 1, cx + radius); ++x) {
                const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (d2 <= radius * radius)
                    p.alpha[std::size_t(y) * w + std::size_t(x)] = std::uint8_t(d2 * 255 / (radius * radius + 1) / 2);
            }
        }
    }
    for (std::size_t i = 0; i < p.alpha.size(); ++i) {
        const int al = p.alpha[i];
        for (int c = 0; c < 3; ++c) p.rgb[i * 3 + c] = std::uint8_t((p.rgb[i * 3 + c] * al + 127) / 255);
    }
    return p;
}

// --- JPEG ----------------------------------------------------------------------

class JpegEncoder {
public:
    JpegEncoder() {
        cinfo_.err = jpeg_std_error(&error_);
        jpeg_create_compress(&cinfo_);
    }
    ~JpegEncoder() { jpeg_destroy_compress(&cinfo_); }

    // A complete stream, or (abbreviated) one without tables.
    Bytes encode(const Picture& p, int quality, bool grey, bool abbreviated = false) {
        unsigned char* data = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo_, &data, &size);
        setUp(p.width, p.height, grey ? 1 : 3, quality);
        if (abbreviated) jpeg_suppress_tables(&cinfo_, TRUE);
        jpeg_start_compress(&cinfo_, abbreviated ? FALSE : TRUE);
        std::vector<std::uint8_t> greyRow(grey ? std::size_t(p.width) : 0);
        while (cinfo_.next_scanline < cinfo_.image_height) {
            const std::uint8_t* rgb = p.rgb.data() + std::size_t(cinfo_.next_scanline) * p.width * 3;
            JSAMPROW row = const_cast<JSAMPROW>(rgb);
            if (grey) {
                for (int x = 0; x < p.width; ++x) {
                    greyRow[std::size_t(x)] =
                        std::uint8_t((rgb[x * 3] * 77 + rgb[x * 3 + 1] * 150 + rgb[x * 3 + 2] * 29) >> 8);
                }
                row = greyRow.data();
            }
            jpeg_write_scanlines(&cinfo_, &row, 1);
        }
        jpeg_finish_compress(&cinfo_);
        Bytes out(data, data + size);
        std::free(data);
        return out;
    }

    // The tables-only stream that matches encode(..., quality, false, true).
    Bytes tables(int quality) {
        unsigned char* data = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo_, &data, &size);
        setUp(16, 16, 3, quality);
        jpeg_write_tables(&cinfo_);
        Bytes out(data, data + size);
        std::free(data);
        return out;
    }

private:
    void setUp(int width, int height, int components, int quality) {
        cinfo_.image_width = JDIMENSION(width);
        cinfo_.image_height = JDIMENSION(height);
        cinfo_.input_components = components;
        cinfo_.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_set_defaults(&cinfo_);
        jpeg_set_quality(&cinfo_, quality, TRUE);
    }

    jpeg_compress_struct cinfo_{};
    jpeg_error_mgr error_{};
};

// --- lossless bitmaps ------------------------------------------------------------

constexpr int kLosslessLevel = 6;

// Format 5: A, R, G, B per pixel.
Bytes lossless5(std::uint16_t id, const Picture& p) {
    Bytes rows(std::size_t(p.width) * p.height * 4);
    for (std::size_t i = 0, n = std::size_t(p.width) * p.height; i < n; ++i) {
        rows[i * 4] = p.alpha.empty() ? 255 : p.alpha[i];
        rows[i * 4 + 1] = p.rgb[i * 3];
        rows[i * 4 + 2] = p.rgb[i * 3 + 1];
        rows[i * 4 + 3] = p.rgb[i * 3 + 2];
    }
    return losslessBody(id, 5, std::uint16_t(p.width), std::uint16_t(p.height), deflate(rows, kLosslessLevel));
}

// Format 4: big-endian 15-bit pixels, rows padded to 4 bytes.
Bytes lossless4(std::uint16_t id, const Picture& p) {
    const std::size_t stride = (std::size_t(p.width) * 2 + 3) & ~std::size_t(3);
    Bytes rows(stride * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.rgb.data() + (std::size_t(y) * p.width + x) * 3;
            const unsigned v = unsigned(px[0] >> 3) << 10 | unsigned(px[1] >> 3) << 5 | unsigned(px[2] >> 3);
            rows[std::size_t(y) * stride + std::size_t(x) * 2] = std::uint8_t(v >> 8);
            rows[std::size_t(y) * stride + std::size_t(x) * 2 + 1] = std::uint8_t(v);
        }
    }
    return losslessBody(id, 4, std::uint16_t(p.width), std::uint16_t(p.height), deflate(rows, kLosslessLevel));
}

// Format 3: the picture's brightness mapped onto a ramp of `colours`
// palette entries through three random colours, with dithering; with
// alpha the entries fade out towards the end of the ramp (premultiplied).
Bytes lossless3(std::uint16_t id, const Picture& p, int colours, bool withAlpha, Rng& rng) {
    const Colour c0 = randomColour(rng), c1 = randomColour(rng), c2 = randomColour(rng);
    Bytes data;
    for (int i = 0; i < colours; ++i) {
        const double t = colours == 1 ? 0 : double(i) / (colours - 1);
        const Colour& from = t < 0.5 ? c0 : c1;
        const Colour& to = t < 0.5 ? c1 : c2;
        const double u = t < 0.5 ? t * 2 : t * 2 - 1;
        int r = int(from.r + (to.r - from.r) * u), g = int(from.g + (to.g - from.g) * u),
            b = int(from.b + (to.b - from.b) * u);
        if (withAlpha) {
            const int a = i == 0 ? 0 : std::min(255, 64 + (colours - i) * 400 / colours);
            data.push_back(std::uint8_t(r * a / 255));
            data.push_back(std::uint8_t(g * a / 255));
            data.push_back(std::uint8_t(b * a / 255));
            data.push_back(std::uint8_t(a));
        } else {
            data.push_back(std::uint8_t(r));
            data.push_back(std::uint8_t(g));
            data.push_back(std::uint8_t(b));
        }
    }
    const std::size_t stride = (std::size_t(p.width) + 3) & ~std::size_t(3);
    const std::size_t table = data.size();
    data.resize(table + stride * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        std::uint8_t* out = data.data() + table + std::size_t(y) * stride;
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.rgb.data() + (std::size_t(y) * p.width + x) * 3;
            const int luma = (px[0] * 77 + px[1] * 150 + px[2] * 29) >> 8;
            const int dither = int(hash32(std::uint32_t(y * 7919 + x)) & 3) - 1;
            out[x] = std::uint8_t(std::clamp(luma * colours / 256 + dither, 0, colours - 1));
        }
    }
    return losslessBody(id, 3, std::uint16_t(p.width), std::uint16_t(p.height), deflate(data, kLosslessLevel), colours);
}

// --- sounds ----------------------------------------------------------------------

// Interleaved 16-bit samples: a few drifting tones with an envelope and
// some hiss.
std::vector<std::int16_t> synth(Rng& rng, int rate, double seconds, bool stereo) {
    const std::size_t frames = std::size_t(rate * seconds);
    const int channels = stereo ? 2 : 1;
    std::vector<std::int16_t> out(frames * channels);
    const double f1 = 110 + rng.uniform() * 440, f2 = f1 * (1.5 + rng.uniform()), wobble = 0.5 + rng.uniform() * 4;
    double phase1 = 0, phase2 = 0;
    std::uint32_t noise = std::uint32_t(rng.next());
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double env = std::min(1.0, std::min(t, seconds - t) * 20) * (0.6 + 0.4 * std::sin(2 * kPi * wobble * t));
        phase1 += 2 * kPi * f1 * (1 + 0.01 * std::sin(2 * kPi * 0.3 * t)) / rate;
        phase2 += 2 * kPi * f2 / rate;
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (int(noise >> 16) - 32768) / 32768.0 * 0.05;
        const double v = env * (0.5 * std::sin(phase1) + 0.25 * std::sin(phase2) + hiss);
        for (int c = 0; c < channels; ++c) {
            const double pan = stereo ? (c == 0 ? 0.8 + 0.2 * std::sin(t) : 0.8 - 0.2 * std::sin(t)) : 1.0;
            out[i * channels + c] = std::int16_t(std::clamp(v * pan * 20000, -32768.0, 32767.0));
        }
    }
    return out;
}

// MPEG audio frames with valid headers, zero side information (they
// decode to silence) and noise-like main data, as real MP3 data does not
// compress either.
class Mp3Maker {
public:
    // MPEG-1 Layer III, 128 kbit/s, 44100 Hz, stereo: 1152 samples a frame.
    static constexpr int kSamplesPerFrame = 1152;

    explicit Mp3Maker(std::uint64_t seed) : rng_(seed) {}

    Bytes frames(int count) {
        Bytes out;
        for (int i = 0; i < count; ++i) {
            remainder_ += 144000 * 128 % 44100;
            const bool padding = remainder_ >= 44100;
            if (padding) remainder_ -= 44100;
            const std::size_t length = 144000 * 128 / 44100 + (padding ? 1 : 0);
            const std::size_t start = out.size();
            out.resize(start + length, 0);
            std::uint8_t* f = out.data() + start;
            f[0] = 0xFF;
            f[1] = 0xFB;                                    // MPEG-1, Layer III, no CRC
            f[2] = std::uint8_t(0x90 | (padding ? 2 : 0));  // 128 kbit/s, 44100 Hz
            f[3] = 0x04;                                    // stereo, original
            // 32 bytes of side information stay zero; the rest is noise
            // without sync patterns.
            for (std::size_t k = 36; k < length; ++k) {
                std::uint8_t v = std::uint8_t(rng_.next());
                f[k] = v == 0xFF ? 0x7F : v;
            }
        }
        return out;
    }

private:
    Rng rng_;
    int remainder_ = 0;
};

// --- the movie ---------------------------------------------------------------------

struct Counts {
    int defineBits = 90;
    int jpeg2 = 95;
    int jpeg3 = 30;
    int lossless = 30;
    int mp3Events = 10;
    int adpcmEvents = 10;
    int pcmEvents = 2;
    int sprites = 6;

    void scale(double s) {
        for (int* n : {&defineBits, &jpeg2, &jpeg3, &lossless, &mp3Events, &adpcmEvents, &pcmEvents, &sprites}) {
            *n = std::max(1, int(std::lround(*n * s)));
        }
    }
};

enum class Item {
    DefineBits,
    Jpeg2,
    Jpeg3,
    Lossless,
    Mp3Event,
    AdpcmEvent,
    PcmEvent,
    Sprite
};

struct Stats {
    int images = 0;
    int sounds = 0;
    double megapixels = 0;
    std::size_t jpegBytes = 0;
    std::size_t losslessBytes = 0;
    std::size_t soundBytes = 0;
};

class MovieMaker {
public:
    MovieMaker(std::uint64_t seed, Counts counts) : rng_(seed), mp3_(seed ^ 0x5EED), counts_(counts) {}

    Bytes build() {
        std::vector<Item> items;
        auto add = [&](Item item, int n) { items.insert(items.end(), std::size_t(n), item); };
        add(Item::DefineBits, counts_.defineBits);
        add(Item::Jpeg2, counts_.jpeg2);
        add(Item::Jpeg3, counts_.jpeg3);
        add(Item::Lossless, counts_.lossless);
        add(Item::Mp3Event, counts_.mp3Events);
        add(Item::AdpcmEvent, counts_.adpcmEvents);
        add(Item::PcmEvent, counts_.pcmEvents);
        add(Item::Sprite, counts_.sprites);
        for (std::size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[std::size_t(rng_.next() % i)]);

        // Main timeline: an MP3 stream with one block per frame, two items
        // per frame, the JPEG tables replaced halfway.
        tablesQuality_ = 80;
        main_.tag(kTagJpegTables, jpeg_.tables(tablesQuality_));
        main_.tag(kTagSoundStreamHead2, soundStreamHeadBody(2, 3, true, true, 1838));
        std::size_t done = 0;
        std::uint16_t frames = 0;
        while (done < items.size()) {
            if (done >= items.size() / 2 && tablesQuality_ == 80) {
                tablesQuality_ = 70;
                main_.tag(kTagJpegTables, jpeg_.tables(tablesQuality_));
            }
            for (int k = 0; k < 2 && done < items.size(); ++k) emit(main_, items[done++]);
            streamBlockMp3(main_, mainStreamSamples_);
            main_.showFrame();
            ++frames;
        }
        main_.end();
        frames_ = frames;
        return SwfFile().version(10).frameRate(24 << 8).frames(frames).stage(1280, 720).tags(main_).uncompressedBody();
    }

    const Stats& stats() const { return stats_; }
    std::uint16_t frames() const { return frames_; }

private:
    std::uint16_t nextId() { return id_++; }

    void emit(Tags& t, Item item) {
        switch (item) {
            case Item::DefineBits: defineBits(t); break;
            case Item::Jpeg2: jpeg2(t); break;
            case Item::Jpeg3: jpeg3(t); break;
            case Item::Lossless: lossless(t); break;
            case Item::Mp3Event: mp3Event(t); break;
            case Item::AdpcmEvent: adpcmEvent(t); break;
            case Item::PcmEvent: pcmEvent(t); break;
            case Item::Sprite: sprite(t); break;
        }
    }

    Picture jpegPicture(double minMp, double maxMp, bool alpha) {
        int w = 0, h = 0;
        pickSize(rng_, minMp + rng_.uniform() * (maxMp - minMp), w, h);
        stats_.megapixels += w * double(h) / 1e6;
        ++stats_.images;
        return paint(rng_, w, h, rng_.range(14, 34), alpha);
    }

    void defineBits(Tags& t) {
        const Picture p = jpegPicture(1.0, 4.0, false);
        const Bytes body = defineBitsBody(nextId(), jpeg_.encode(p, tablesQuality_, false, true));
        stats_.jpegBytes += body.size();
        t.tag(kTagDefineBits, body);
    }

    void jpeg2(Tags& t) {
        const Picture p = jpegPicture(1.0, 4.0, false);
        const bool grey = rng_.chance(0.15);
        const bool prefix = rng_.chance(0.2);
        const Bytes body = defineBitsJpeg2Body(nextId(), jpeg_.encode(p, rng_.range(65, 90), grey), prefix);
        stats_.jpegBytes += body.size();
        t.tag(kTagDefineBitsJpeg2, body);
    }

    void jpeg3(Tags& t) {
        const Picture p = jpegPicture(1.0, 1.6, true);
        const Bytes body =
            defineBitsJpeg3Body(nextId(), jpeg_.encode(p, rng_.range(70, 90), false), deflate(p.alpha, kLosslessLevel));
        stats_.jpegBytes += body.size();
        t.tag(kTagDefineBitsJpeg3, body);
    }

    // Formats 3, 4 and 5 in turn; 3 and 5 alternate between
    // DefineBitsLossless and DefineBitsLossless2 (format 4 has no alpha form).
    void lossless(Tags& t) {
        static const int kKinds[][2] = {{5, 0}, {5, 1}, {4, 0}, {3, 0}, {3, 1}};
        const int* kind = kKinds[losslessTurn_++ % 5];
        const int format = kind[0];
        const bool alpha = kind[1] != 0;
        int w = 0, h = 0;
        pickSize(rng_, 0.5 + rng_.uniform() * 1.0, w, h);
        // Flat-shaded art compresses better than photographs: less grain.
        const Picture p = paint(rng_, w, h, format == 3 ? 0 : rng_.range(2, 6), alpha && format == 5);
        Bytes body;
        if (format == 5)
            body = lossless5(nextId(), p);
        else if (format == 4)
            body = lossless4(nextId(), p);
        else
            body = lossless3(nextId(), p, rng_.range(16, 256), alpha, rng_);
        stats_.megapixels += w * double(h) / 1e6;
        ++stats_.images;
        stats_.losslessBytes += body.size();
        t.tag(alpha ? kTagDefineBitsLossless2 : kTagDefineBitsLossless, body);
    }

    void mp3Event(Tags& t) {
        const int frames = rng_.range(40, 300);  // 1 to 8 seconds
        Writer data;
        data.u16(0).bytes(mp3_.frames(frames));
        const Bytes body = defineSoundBody(nextId(), 2, 3, true, true,
                                           std::uint32_t(frames * Mp3Maker::kSamplesPerFrame), data.take());
        addSound(t, kTagDefineSound, body);
    }

    void adpcmEvent(Tags& t) {
        static const int kRates[] = {5512, 11025, 22050, 44100};
        const int rateCode = rng_.range(1, 3);
        const bool stereo = rng_.chance(0.4);
        const auto samples = synth(rng_, kRates[rateCode], 1 + rng_.uniform() * 4, stereo);
        const Bytes data = adpcmEncode(samples, stereo, rng_.range(2, 5));
        const Bytes body = defineSoundBody(nextId(), 1, rateCode, true, stereo,
                                           std::uint32_t(samples.size() / (stereo ? 2 : 1)), data);
        addSound(t, kTagDefineSound, body);
    }

    void pcmEvent(Tags& t) {
        const auto samples = synth(rng_, 22050, 0.5 + rng_.uniform(), false);
        Writer data;
        for (std::int16_t s : samples) data.u16(std::uint16_t(s));
        const Bytes body = defineSoundBody(nextId(), 0, 2, true, false, std::uint32_t(samples.size()), data.take());
        addSound(t, kTagDefineSound, body);
    }

    void addSound(Tags& t, std::uint16_t code, const Bytes& body) {
        ++stats_.sounds;
        stats_.soundBytes += body.size();
        t.tag(code, body);
    }

    // One MP3 stream block holding the frames due by the end of this SWF
    // frame (24 per second).
    void streamBlockMp3(Tags& t, double& samples) {
        const double before = samples;
        samples += 44100.0 / 24;
        const int due = int(samples / Mp3Maker::kSamplesPerFrame) - int(before / Mp3Maker::kSamplesPerFrame);
        if (before == 0) ++stats_.sounds;  // the stream's first block makes it a sound
        const Bytes frames = mp3_.frames(due);
        stats_.soundBytes += frames.size();
        t.tag(kTagSoundStreamBlock, mp3StreamBlockBody(std::uint16_t(due * Mp3Maker::kSamplesPerFrame), 0, frames));
    }

    // A sprite with its own stream (MP3 or ADPCM), one block a frame, and
    // a few images among its frames.
    void sprite(Tags& t) {
        Tags inner;
        const bool mp3 = spriteTurn_++ % 2 == 0;
        const std::uint16_t frames = std::uint16_t(rng_.range(12, 36));
        const int images = rng_.range(1, 3);
        if (mp3) {
            inner.tag(kTagSoundStreamHead, soundStreamHeadBody(2, 3, true, true, 1838));
        } else {
            inner.tag(kTagSoundStreamHead, soundStreamHeadBody(1, 2, true, false, 919));
        }
        double samples = 0;
        if (!mp3) ++stats_.sounds;  // streamBlockMp3 counts its stream itself
        for (std::uint16_t f = 0; f < frames; ++f) {
            if (mp3) {
                streamBlockMp3(inner, samples);
            } else {
                const auto s = synth(rng_, 22050, 1.0 / 24, false);
                const Bytes block = adpcmEncode(s, false, 4);
                stats_.soundBytes += block.size();
                inner.tag(kTagSoundStreamBlock, block);
            }
            if (f < images) {
                if (f == 0)
                    defineBits(inner);
                else if (f == 1)
                    lossless(inner);
                else
                    jpeg2(inner);
            }
            inner.showFrame();
        }
        inner.end();
        t.sprite(nextId(), frames, inner);
    }

    Rng rng_;
    Mp3Maker mp3_;
    Counts counts_;
    JpegEncoder jpeg_;
    Tags main_;
    Stats stats_;
    double mainStreamSamples_ = 0;
    int tablesQuality_ = 80;
    int losslessTurn_ = 0;
    int spriteTurn_ = 0;
    std::uint16_t id_ = 1;
    std::uint16_t frames_ = 0;
};

int usage() {
    std::fprintf(stderr, "usage: make-stress-swf OUT.swf [--scale S] [--seed N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out;
    double scale = 1.0;
    std::uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
            if (!(scale > 0 && scale <= 10)) return usage();
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (!arg.empty() && arg[0] != '-' && out.empty()) {
            out = arg;
        } else {
            return usage();
        }
    }
    if (out.empty()) return usage();

    const auto start = std::chrono::steady_clock::now();
    Counts counts;
    counts.scale(scale);
    MovieMaker maker(seed, counts);
    const Bytes body = maker.build();
    const Bytes file = compressedFile(body, 10, 1);
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make-stress-swf: cannot write %s\n", out.c_str());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Stats& s = maker.stats();
    std::fprintf(stderr,
                 "make-stress-swf: %s: %d images (%.0f megapixels), %d sounds, %u frames; "
                 "%.1f MB uncompressed (JPEG %.1f, lossless %.1f, sound %.1f), %.1f MB file; %.1f s\n",
                 out.c_str(), s.images, s.megapixels, s.sounds, unsigned(maker.frames()), (body.size() + 8) / 1e6,
                 s.jpegBytes / 1e6, s.losslessBytes / 1e6, s.soundBytes / 1e6, file.size() / 1e6, seconds);
    return 0;
}
