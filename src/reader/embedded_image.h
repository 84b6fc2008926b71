// Image data that JPEG tags may carry besides JPEG: PNG and GIF files,
// and the rebuilding of the JPEG bytes a tag holds into one clean file.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

#include "reader/picture/ob_picture.h"

namespace kestrel {

enum class EmbeddedKind {
    Jpeg,
    Png,
    Gif
};

// What the data starts with (JPEG when it is neither PNG nor GIF).
EmbeddedKind embeddedKind(std::span<const std::uint8_t> data);

// Decodes a PNG file (via libpng) or the first image of a GIF file (via
// giflib) into a picture; null when the data is damaged or too large.
std::unique_ptr<OBPicture> decodePng(std::span<const std::uint8_t> data);
std::unique_ptr<OBPicture> decodeGif(std::span<const std::uint8_t> data);

// One JPEG file from the pieces a tag holds (JPEGTables then DefineBits
// data, or several SOI...EOI streams in one tag): a single SOI, every
// segment and scan in order, every inner SOI/EOI dropped, one EOI at the end.
std::vector<std::uint8_t> mergeJpegStreams(std::initializer_list<std::span<const std::uint8_t>> parts);

}  // namespace kestrel
