#include "reader/sound/of_sound.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <span>

#include "reader/sound/adpcm.h"
#include "reader/sound/av_sound.h"
#include "reader/sound/riff_writer.h"
#include "reader/sound/wave_format.h"

#include "base/byte_order.h"

namespace kestrel {

namespace {

constexpr std::int32_t kMaxDuration = std::numeric_limits<std::int32_t>::max();

std::int32_t truncateMs(double ms) {
    if (!(ms > 0.0)) return 0;
    if (ms >= double(kMaxDuration)) return kMaxDuration;
    return std::int32_t(ms);
}

std::span<const std::uint8_t> bytesOf(const OFSoundBlock& block) { return {block.data.data(), block.data.size()}; }

// ---- MPEG audio frame walk -------------------------------------------------

// kbit/s by bitrate index; index 0 and 15 are invalid and stay 0.
constexpr std::array<std::uint16_t, 16> kMpeg1Layer1 = {0,   32,  64,  96,  128, 160, 192, 224,
                                                        256, 288, 320, 352, 384, 416, 448, 0};
constexpr std::array<std::uint16_t, 16> kMpeg1Layer2 = {0,   32,  48,  56,  64,  80,  96,  112,
                                                        128, 160, 192, 224, 256, 320, 384, 0};
constexpr std::array<std::uint16_t, 16> kMpeg1Layer3 = {0,   32,  40,  48,  56,  64,  80,  96,
                                                        112, 128, 160, 192, 224, 256, 320, 0};
constexpr std::array<std::uint16_t, 16> kMpeg2Layer1 = {0,   32,  48,  56,  64,  80,  96,  112,
                                                        128, 144, 160, 176, 192, 224, 256, 0};
constexpr std::array<std::uint16_t, 16> kMpeg2Layer23 = {0,  8,  16, 24,  32,  40,  48,  56,
                                                         64, 80, 96, 112, 128, 144, 160, 0};

// By version field (0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1) and rate index.
constexpr std::array<std::array<std::uint32_t, 4>, 4> kSampleRates = {{
    {11025, 12000, 8000, 0},
    {0, 0, 0, 0},
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
}};

constexpr int kLayer3 = 1;
constexpr int kLayer2 = 2;
constexpr int kLayer1 = 3;

std::uint32_t bitrateKbps(int version, int layer, int index) {
    const bool mpeg1 = version == 3;
    switch (layer) {
        case kLayer1: return mpeg1 ? kMpeg1Layer1[index] : kMpeg2Layer1[index];
        case kLayer2: return mpeg1 ? kMpeg1Layer2[index] : kMpeg2Layer23[index];
        case kLayer3: return mpeg1 ? kMpeg1Layer3[index] : kMpeg2Layer23[index];
        default: return 0;
    }
}

// Frame length in bytes, header included. Layer I frames hold 384 samples in
// 4-byte slots (the padding is one slot); Layer II frames 1152 samples in
// every version; Layer III frames 1152 samples in MPEG-1 and 576 otherwise.
std::uint64_t frameLength(int version, int layer, std::uint32_t kbps, std::uint32_t rate, std::uint32_t padding) {
    if (layer == kLayer1) return (std::uint64_t(12000) * kbps / rate + padding) * 4;
    const std::uint64_t coefficient = (layer == kLayer3 && version != 3) ? 72000 : 144000;
    return coefficient * kbps / rate + padding;
}

// One MPEG audio frame header, decoded.
struct FrameHeader {
    int version = 0;
    int layer = 0;
    std::uint32_t rateHz = 0;
    std::uint64_t length = 0;  // bytes, header included
    bool mono = false;
};

// The header at `p` (4 bytes), or nothing when it is not a valid one.
std::optional<FrameHeader> frameHeaderAt(const std::uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
    const std::uint32_t h = std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    FrameHeader f;
    f.version = int((h >> 19) & 3);
    f.layer = int((h >> 17) & 3);
    if (f.version == 1 || f.layer == 0) return std::nullopt;
    const std::uint32_t kbps = bitrateKbps(f.version, f.layer, int((h >> 12) & 15));
    f.rateHz = kSampleRates[std::size_t(f.version)][std::size_t((h >> 10) & 3)];
    if (kbps == 0 || f.rateHz == 0) return std::nullopt;
    f.length = frameLength(f.version, f.layer, kbps, f.rateHz, (h >> 9) & 1);
    if (f.length < 4) return std::nullopt;
    f.mono = ((h >> 6) & 3) == 3;
    return f;
}

std::uint32_t samplesPerFrame(const FrameHeader& f) {
    if (f.layer == kLayer1) return 384;
    return f.layer == kLayer3 && f.version != 3 ? 576 : 1152;
}

// Reads the blocks of a sound as one byte stream without joining them.
class BlockStream {
public:
    explicit BlockStream(const std::vector<OFSoundBlock>& blocks) : blocks_(blocks) {}

    bool next(std::uint8_t& byte) {
        for (; block_ < blocks_.size(); ++block_, offset_ = 0) {
            const auto& data = blocks_[block_].data;
            if (offset_ < data.size()) {
                byte = data[offset_++];
                return true;
            }
        }
        return false;
    }

    // Moves just past the next 0xFF byte; adds the bytes passed to consumed.
    bool skipToSync(std::uint64_t& consumed) {
        for (; block_ < blocks_.size(); ++block_, offset_ = 0) {
            const auto& data = blocks_[block_].data;
            if (offset_ >= data.size()) continue;
            const std::uint8_t* start = data.data() + offset_;
            const std::size_t left = data.size() - offset_;
            const void* hit = std::memchr(start, 0xFF, left);
            if (hit) {
                const std::size_t passed = std::size_t(static_cast<const std::uint8_t*>(hit) - start) + 1;
                consumed += passed;
                offset_ += passed;
                return true;
            }
            consumed += left;
        }
        return false;
    }

    void skip(std::uint64_t n) {
        while (n > 0 && block_ < blocks_.size()) {
            const std::uint64_t left = blocks_[block_].data.size() - offset_;
            if (n < left) {
                offset_ += std::size_t(n);
                return;
            }
            n -= left;
            ++block_;
            offset_ = 0;
        }
    }

private:
    const std::vector<OFSoundBlock>& blocks_;
    std::size_t block_ = 0;
    std::size_t offset_ = 0;
};

// ---- WAV writing -----------------------------------------------------------

std::array<std::uint8_t, 18> wavFormat(const OFSound& sound) {
    const PcmLayout layout = sound.pcmLayout();
    return WaveFormat::pcm(layout.channels, layout.rateHz, layout.bits, 18).bytes();
}

// Collects 16-bit little-endian samples and hands them to the writer in
// large pieces.
class SampleBuffer {
public:
    explicit SampleBuffer(RiffWriter& writer) : writer_(writer), bytes_(kSize) {}

    void put(std::int16_t sample) {
        const auto value = std::uint16_t(sample);
        bytes_[used_] = std::uint8_t(value);
        bytes_[used_ + 1] = std::uint8_t(value >> 8);
        used_ += 2;
        if (used_ == kSize) flush();
    }

    bool flush() {
        const bool good = writer_.write({bytes_.data(), used_});
        used_ = 0;
        return good;
    }

private:
    static constexpr std::size_t kSize = 64 * 1024;  // even: whole samples only
    RiffWriter& writer_;
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
};

bool writeBlocks(const OFSound& sound, RiffWriter& writer) {
    for (const auto& block : sound.blocks) {
        if (!writer.write(bytesOf(block))) return false;
    }
    return true;
}

bool writeDecodedBlocks(const OFSound& sound, RiffWriter& writer) {
    if (!sound.is16Bit) return true;
    SampleBuffer buffer(writer);
    for (const auto& block : sound.blocks) {
        adpcm::decodeBlock(bytesOf(block), sound.stereo, [&buffer](std::int16_t sample) { buffer.put(sample); });
        if (!writer.ok()) return false;
    }
    return buffer.flush();
}

bool writeCodecBlocks(const OFSound& sound, RiffWriter& writer) {
    SampleBuffer buffer(writer);
    const std::string failure = sound.decodeCodec([&buffer, &writer](std::span<const std::int16_t> samples) {
        for (const std::int16_t sample : samples) buffer.put(sample);
        return writer.ok();
    });
    return failure.empty() && buffer.flush();
}

bool writeData(const OFSound& sound, RiffWriter& writer) {
    switch (sound.format) {
        case SoundFormat::Uncompressed:
        case SoundFormat::UncompressedLE: return writeBlocks(sound, writer);
        case SoundFormat::Adpcm: return writeDecodedBlocks(sound, writer);
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser:
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw:
        case SoundFormat::Speex: return writeCodecBlocks(sound, writer);
        case SoundFormat::Mp3: break;
    }
    return false;
}

bool writeWavFile(const OFSound& sound, const std::string& path) {
    RiffWriter writer;
    if (!writer.open(path)) return false;
    const auto header = wavFormat(sound);
    bool good = writer.beginRiff("WAVE") && writer.beginChunk("fmt ") && writer.write(header) && writer.endChunk() &&
                writer.beginChunk("data");
    good = good && writeData(sound, writer);
    good = good && writer.endChunk() && writer.endChunk();
    const bool closed = writer.close();
    return good && closed;
}

}  // namespace

std::int32_t pcmDurationMs(std::int64_t bytes, bool stereo, bool is16Bit, std::uint8_t rate) {
    static constexpr std::array<double, 4> kKilohertz = {5.5125, 11.025, 22.05, 44.1};
    if (bytes <= 0) return 0;
    if (stereo) bytes /= 2;
    if (is16Bit) bytes /= 2;
    return truncateMs(double(bytes) / kKilohertz[rate & 3]);
}

bool OFSound::addBlock(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0) return true;
    if (!bytes || n > std::numeric_limits<std::uint32_t>::max()) return false;
    try {
        OFSoundBlock block;
        block.data.assign(bytes, bytes + n);
        blocks.push_back(std::move(block));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

std::int64_t OFSound::totalBytes() const {
    std::int64_t total = 0;
    for (const auto& block : blocks) total += std::int64_t(block.data.size());
    return total;
}

std::int32_t OFSound::computeDuration() {
    std::int32_t ms = 0;
    switch (format) {
        case SoundFormat::Uncompressed:
        case SoundFormat::UncompressedLE: ms = pcmDurationMs(totalBytes(), stereo, is16Bit, rate); break;
        case SoundFormat::Adpcm: {
            std::int64_t bytes = 0;
            if (is16Bit) {
                for (const auto& block : blocks) bytes += std::int64_t(adpcm::sampleCount(bytesOf(block), stereo)) * 2;
            }
            decodedBytes = bytes;
            ms = pcmDurationMs(bytes, stereo, is16Bit, rate);
            break;
        }
        case SoundFormat::Mp3: ms = mp3Duration(); break;
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser:
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw:
        case SoundFormat::Speex: {
            std::int64_t samples = 0;
            problem = decodeCodec([&samples](std::span<const std::int16_t> decoded) {
                samples += std::int64_t(decoded.size());
                return true;
            });
            // The decoder takes one Speex frame per packet: an event sound
            // whose frames could not be told apart would come out cut short.
            const std::int64_t frameSamples = 320;
            if (problem.empty() && format == SoundFormat::Speex && samples + frameSamples < sampleCount) {
                problem =
                    "Speex: " + std::to_string(samples) + " of " + std::to_string(sampleCount) + " samples decoded";
            }
            if (!problem.empty()) samples = 0;
            decodedBytes = samples * 2;
            const PcmLayout layout = pcmLayout();
            ms = truncateMs(double(samples / layout.channels) * 1000.0 / double(layout.rateHz));
            break;
        }
    }
    durationMs = ms;
    return ms;
}

std::int32_t OFSound::mp3Duration() const {
    const std::uint64_t total = std::uint64_t(totalBytes());
    BlockStream stream(blocks);
    std::uint64_t consumed = 0;
    double sum = 0.0;
    // An MP3 file taken whole may start with an ID3v2 tag, whose bytes
    // could pass for frames.
    if (!blocks.empty()) {
        consumed = std::min<std::uint64_t>(id3v2Length(bytesOf(blocks.front())), total);
        stream.skip(consumed);
    }

    while (stream.skipToSync(consumed)) {
        std::uint8_t b1 = 0;
        if (!stream.next(b1)) break;
        ++consumed;
        if ((b1 & 0xE0) != 0xE0) continue;
        std::uint8_t b2 = 0;
        std::uint8_t b3 = 0;
        if (!stream.next(b2) || !stream.next(b3)) break;
        consumed += 2;

        const std::uint32_t h = 0xFF000000u | std::uint32_t(b1) << 16 | std::uint32_t(b2) << 8 | b3;
        const int version = int((h >> 19) & 3);
        const int layer = int((h >> 17) & 3);
        const int bitrateIndex = int((h >> 12) & 15);
        const int rateIndex = int((h >> 10) & 3);
        const std::uint32_t padding = (h >> 9) & 1;
        if (version == 1 || layer == 0) continue;
        const std::uint32_t kbps = bitrateKbps(version, layer, bitrateIndex);
        const std::uint32_t sampleRate = kSampleRates[std::size_t(version)][std::size_t(rateIndex)];
        if (kbps == 0 || sampleRate == 0) continue;

        const std::uint64_t length = frameLength(version, layer, kbps, sampleRate, padding);
        if (length < 4) continue;
        if (consumed + length - 4 > total) break;
        sum += double(length) * 8.0 / double(kbps);
        stream.skip(length - 4);
        consumed += length - 4;
    }
    return truncateMs(sum);
}

std::size_t id3v2Length(std::span<const std::uint8_t> data) {
    if (data.size() < 10 || data[0] != 'I' || data[1] != 'D' || data[2] != '3') return 0;
    std::size_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (data[std::size_t(i)] & 0x80) return 0;  // sizes are 7 bits a byte
        size = size << 7 | data[std::size_t(i)];
    }
    const bool footer = (data[5] & 0x10) != 0;
    return std::min(data.size(), 10 + size + (footer ? 10 : 0));
}

std::optional<Mp3Stream> scanMp3(std::span<const std::uint8_t> data) {
    std::size_t at = id3v2Length(data);
    const bool tagged = at > 0;
    if (tagged) {
        // Some writers pad behind the tag's declared size.
        while (at < data.size() && data[at] == 0) ++at;
    }
    Mp3Stream stream;
    while (at + 4 <= data.size()) {
        const std::optional<FrameHeader> frame = frameHeaderAt(data.data() + at);
        if (!frame || frame->length > data.size() - at) break;
        if (stream.frames == 0) {
            stream.rateHz = frame->rateHz;
            stream.stereo = !frame->mono;
            stream.version = frame->version;
        }
        ++stream.frames;
        stream.samples += samplesPerFrame(*frame);
        at += std::size_t(frame->length);
    }
    // Without a tag, one frame alone must fill the data: a valid-looking
    // header at the start of anything else makes no MP3 file.
    if (stream.frames == 0 || (!tagged && stream.frames == 1 && at != data.size())) return std::nullopt;
    return stream;
}

void OFSound::decodeAdpcm(const OFSoundBlock& block, SampleSink sink, void* context) const {
    if (!is16Bit || !sink) return;
    adpcm::decodeBlock(bytesOf(block), stereo, [sink, context](std::int16_t sample) { sink(context, sample); });
}

PcmLayout OFSound::pcmLayout() const {
    if (avsound::handles(format)) return {avsound::rateHz(format, rate), avsound::channels(format, stereo), 16};
    return {soundRateHz(rate), std::uint16_t(stereo ? 2 : 1), std::uint16_t(is16Bit ? 16 : 8)};
}

std::string OFSound::decodeCodec(const std::function<bool(std::span<const std::int16_t>)>& sink) const {
    return avsound::decode(format, rate, stereo, sampleCount, blocks, sink);
}

bool OFSound::writeWav(const std::string& path) const {
    if (format == SoundFormat::Mp3) return false;
    return writeWavFile(*this, path);
}

}  // namespace kestrel
