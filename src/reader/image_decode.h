// Decoders for the bitmap tags of an SWF file. Each works on one tag body
// (the bytes after the tag header, cut at the end of the file data), reads
// the tag's own header fields and hands the pixel data to the codec in
// picture/; it returns a decoded picture or a failure with its reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "reader/picture/ob_picture.h"

namespace kestrel {

struct DecodedImage {
    std::unique_ptr<OBPicture> picture;       // set when code == 0
    int code = 0;                             // 0 decoded, 2 stop the whole read, 3 this image failed
    bool isJpeg = false;                      // decoded from JPEG data (not PNG/GIF/lossless)
    bool premultiplied = false;               // colours are stored multiplied by alpha
    std::vector<std::uint8_t> jpegData;       // the tag's JPEG as one clean file (JPEG only)
    std::optional<std::uint16_t> deblocking;  // DefineBitsJPEG4: the stored 8.8 deblocking strength
    std::string reason;                       // why it failed, when code != 0
};

class JpegReader;

// The persistent decompressor that holds the tables of the last JPEGTables
// tag and decodes every DefineBits with them.
class JpegTablesDecoder {
public:
    JpegTablesDecoder();
    ~JpegTablesDecoder();
    JpegTablesDecoder(const JpegTablesDecoder&) = delete;
    JpegTablesDecoder& operator=(const JpegTablesDecoder&) = delete;

    // False when the decompressor could not be created.
    bool ok() const;
    // Loads the tables of a JPEGTables body (marker fix applied in place).
    // False on a library error (error() says which): the caller then
    // destroys this decoder.
    bool loadTables(std::span<std::uint8_t> body);
    // DefineBits body (character id first).
    DecodedImage decodeDefineBits(std::span<const std::uint8_t> body);
    // The same decode as a task for another thread: it replays the tables
    // loaded so far on a decoder of its own, so this object may go on. The
    // tables' bytes and the body must outlive the task. Empty when the
    // result could differ from decodeDefineBits: the body brings tables of
    // its own (they stay for the images after it), or an earlier one did;
    // the caller then decodes here, in order.
    std::function<DecodedImage()> detachedDefineBits(std::span<const std::uint8_t> body) const;
    // Why the last loadTables failed.
    std::string error() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// DefineBitsJPEG2 (withAlpha false) and DefineBitsJPEG3 (withAlpha true).
// The marker fix is applied to the body in place.
DecodedImage decodeDefineBitsJpeg(std::span<std::uint8_t> body, bool withAlpha);

// DefineBitsJPEG4: DefineBitsJPEG3 with a deblocking value after the alpha
// offset. The value is kept in the result; the filter it asks players for
// is not applied.
DecodedImage decodeDefineBitsJpeg4(std::span<std::uint8_t> body);

// DefineBitsLossless (withAlpha false) and DefineBitsLossless2 (true).
DecodedImage decodeDefineBitsLossless(std::span<const std::uint8_t> body, bool withAlpha);

// One zlib stream into a fixed buffer; true only when the stream ends and
// fits into the buffer.
bool inflateExactly(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                    std::size_t destinationLength);

}  // namespace kestrel
