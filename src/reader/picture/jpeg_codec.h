// JPEG through libjpeg: decoding from memory into pictures (grey, colour,
// CMYK/YCCK turned into RGB) and progressive encoding to a stream. Both
// directions report library errors through one error trap, which keeps the
// library's own message as the reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "reader/picture/ob_picture.h"

namespace kestrel {

// A libjpeg decompressor over data in memory. It keeps the quantisation and
// Huffman tables it has read between images, so one object can first read
// a tables-only datastream and then decode images that rely on it.
class JpegReader {
public:
    enum class Header {
        Failed,      // a library error: error() says which
        Image,       // an image header was read; decode() may follow
        TablesOnly,  // a datastream with tables and no image ended
    };

    JpegReader();
    ~JpegReader();
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    // False when the library could not set up the decompressor.
    bool ok() const;

    // Makes `data` the input; it must stay alive while it is read.
    void attach(std::span<const std::uint8_t> data);
    bool remainingStartsWithSoi() const;
    // Back to the idle state, keeping the tables.
    void reset();

    // Reads the next header without requiring an image.
    Header readHeader();
    // Decodes the attached image (reading its header first when that has
    // not happened yet) into RGB or Grayscale, or RGBA / Gray+Alpha with
    // every alpha byte 255 when `withAlpha` is set. Null on failure, with
    // error() saying why; the reader is idle again either way.
    std::unique_ptr<OBPicture> decode(bool withAlpha);

    // Why the last call failed: "JPEG: " and the library's message, or a
    // limit of this decoder.
    const std::string& error() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// One complete JPEG datastream in memory; `reason` (may be null) says why
// it failed.
std::unique_ptr<OBPicture> decodeJpeg(std::span<const std::uint8_t> data, bool withAlpha, std::string* reason);

// Writes a progressive JPEG of an RGB (3 components, each sampled at full
// resolution) or Grayscale (1 component) picture. Any other format, or an
// invalid picture, returns false before a byte is written.
bool writeJpeg(const OBPicture& picture, std::FILE* file, int quality);

}  // namespace kestrel
