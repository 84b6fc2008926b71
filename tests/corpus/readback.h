// Independent readers for what the extraction writes (PNG through libpng,
// JPEG through libjpeg, RIFF WAVE by walking its chunks, MP3 through
// libmpg123) and for the bytes of an SWF file itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::corpus {

using ByteVector = std::vector<std::uint8_t>;

ByteVector readFileBytes(const std::string& path);

struct PngFile {
    std::string error;  // empty when the file decoded
    int width = 0;
    int height = 0;
    int colourType = -1;  // PNG_COLOR_TYPE_*
    int bitDepth = 0;
    int channels = 0;
    ByteVector pixels;  // rows top-down, width * channels bytes each
};
PngFile readPngFile(const std::string& path);

struct JpegFile {
    std::string error;
    int width = 0;
    int height = 0;
    int components = 0;  // as stored in the frame header
    ByteVector pixels;   // rows top-down, width * components bytes each
};
JpegFile readJpegFile(const std::string& path);

struct WavFile {
    std::string error;
    std::uint32_t riffSize = 0;
    std::uint64_t fileSize = 0;
    std::uint32_t fmtSize = 0;
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    bool hasData = false;
    ByteVector data;
};
WavFile readWavFile(const std::string& path);

struct Mp3Decode {
    std::string error;
    std::int64_t samples = 0;  // per channel, over all formats seen
    double durationMs = 0;     // samples / rate summed over format changes
    long firstRate = 0;
    int firstChannels = 0;
    int frames = 0;
    // One byte of each decoded frame in milliseconds at that frame's
    // bitrate, summed: how much timing frames by their whole byte length
    // may differ from their sample count.
    double byteSlackMs = 0;
};
Mp3Decode decodeMp3(const ByteVector& bytes);

// The uncompressed file image (8 header bytes, then the body, inflated for
// a zlib-compressed file, LZMA-decoded for a ZWS file), as far as it could
// be obtained.
ByteVector uncompressedSwf(const std::string& path);

// An FLV file as libavformat demuxes it and libavcodec decodes it.
struct FlvFile {
    std::string error;
    std::string codec;  // libavcodec's name: "flv1", "vp6f", ...
    int packets = 0;
    int decoded = 0;  // frames the decoder produced
};
FlvFile readFlvFile(const std::string& path);

// Inflates a zlib stream into at most `limit` bytes; `complete` tells
// whether the stream reached its end.
ByteVector inflateUpTo(const std::uint8_t* data, std::size_t size, std::size_t limit, bool* complete);

}  // namespace kestrel::corpus
