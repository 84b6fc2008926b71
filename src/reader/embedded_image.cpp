#include "reader/embedded_image.h"

#include <cstring>

namespace kestrel {

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

EmbeddedKind embeddedKind(std::span<const std::uint8_t> data) {
    if (data.size() >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0) return EmbeddedKind::Png;
    if (data.size() >= 6 && std::memcmp(data.data(), "GIF8", 4) == 0) return EmbeddedKind::Gif;
    return EmbeddedKind::Jpeg;
}

namespace {

// Start of the next marker in entropy-coded data from `from`: an 0xFF that
// is followed by neither a stuffed zero nor a restart marker; `n` when the
// data ends first.
std::size_t nextMarker(std::span<const std::uint8_t> in, std::size_t from) {
    const std::size_t n = in.size();
    std::size_t j = from;
    while (j + 1 < n) {
        const void* hit = std::memchr(in.data() + j, 0xFF, n - 1 - j);
        if (!hit) break;
        j = std::size_t(static_cast<const std::uint8_t*>(hit) - in.data());
        const std::uint8_t next = in[j + 1];
        if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) return j;
        ++j;
    }
    return n;
}

}  // namespace

std::vector<std::uint8_t> mergeJpegStreams(std::initializer_list<std::span<const std::uint8_t>> parts) {
    // A single part is read where it is; several are joined first.
    std::vector<std::uint8_t> joined;
    std::span<const std::uint8_t> in;
    if (parts.size() == 1) {
        in = *parts.begin();
    } else {
        for (auto part : parts) joined.insert(joined.end(), part.begin(), part.end());
        in = joined;
    }
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    out.reserve(in.size() + 4);
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i + 1 < n) {
        if (in[i] != 0xFF) {  // stray byte between segments
            ++i;
            continue;
        }
        const std::uint8_t marker = in[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0x00) {  // inner SOI/EOI
            i += 2;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(i + 2));
            i += 2;
            continue;
        }
        if (i + 4 > n) break;
        const std::size_t length = std::size_t(in[i + 2]) << 8 | in[i + 3];
        if (length < 2 || i + 2 + length > n) break;
        out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(i + 2 + length));
        i += 2 + length;
        if (marker != 0xDA) continue;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart marker.
        const std::size_t j = nextMarker(in, i);
        out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(j));
        i = j;
    }
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

}  // namespace kestrel
