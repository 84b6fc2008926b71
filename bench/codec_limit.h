// What decoding a file's images costs with the codecs alone: libjpeg
// (integer slow DCT) into a buffer of its own per image and zlib inflating
// of the lossless bitmaps and alpha planes into buffers of their full
// size. The buffers are kept in `Decoded` until the caller drops them, as
// a document keeps every picture it has read. No Kestrel code is involved
// but the allocation: the buffers come from allocatePixelBlock, as the
// pixels of Kestrel's pictures do, so that both pay the same for new memory.
//
// With `reuse`, the buffers a previous run of the same payloads left in
// `keep` are written again instead of new ones: the codecs' own work,
// without the first touch of new memory, which on some virtual machines
// costs more than the decoding.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "swf_payloads.h"

namespace bench {

struct CodecTotals {
    int jpegImages = 0;
    int zlibStreams = 0;  // lossless bitmaps and alpha planes
    int failures = 0;     // streams the codecs refused (should stay 0)
    std::int64_t pixels = 0;
    std::int64_t outputBytes = 0;
};

using Decoded = std::vector<std::shared_ptr<std::uint8_t[]>>;

CodecTotals decodeWithCodecsOnly(const SwfPayloads& payloads, Decoded& keep, bool reuse = false);

}  // namespace bench
