// What the image data of a JPEG tag is (JPEG, or a PNG or GIF file), and
// the rebuilding of the JPEG bytes a tag holds into one clean file.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace kestrel {

enum class EmbeddedKind {
    Jpeg,
    Png,
    Gif
};

// What the data starts with (JPEG when it is neither PNG nor GIF).
EmbeddedKind embeddedKind(std::span<const std::uint8_t> data);

// One JPEG file from the pieces a tag holds (JPEGTables then DefineBits
// data, or several SOI...EOI streams in one tag): a single SOI, every
// segment and scan in order, every inner SOI/EOI dropped, one EOI at the end.
std::vector<std::uint8_t> mergeJpegStreams(std::initializer_list<std::span<const std::uint8_t>> parts);

}  // namespace kestrel
