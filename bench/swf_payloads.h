// The compressed image data of an SWF file, found by a small tag walker of
// its own (no Kestrel code), for measuring what the codecs alone cost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Leaves new elements uninitialised on resize, as a plain new[] does: the
// buffers are filled at once, and zeroing them first would be work that
// opening a movie does not do.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using ByteBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

struct JpegPayload {
    std::span<const std::uint8_t> tables;  // JPEGTables stream for DefineBits, else empty
    std::span<const std::uint8_t> data;    // the image's JPEG stream
    std::span<const std::uint8_t> alpha;   // DefineBitsJPEG3: zlib alpha plane, else empty
};

struct ZlibPayload {
    std::span<const std::uint8_t> data;  // zlib stream
    std::size_t outputBytes = 0;         // what it inflates to (palette + padded rows)
};

struct SwfPayloads {
    ByteBuffer file;            // the whole uncompressed file; the spans point into it
    std::size_t fileBytes = 0;  // size on disk
    std::vector<JpegPayload> jpegs;
    std::vector<ZlibPayload> lossless;
};

// Reads the file (inflating a CWS body) and walks its tags and sprites.
// False with a reason in `error`.
bool loadPayloads(const std::string& path, SwfPayloads& out, std::string& error);

// Reads a whole file.
bool readWholeFile(const std::string& path, ByteBuffer& out);

// Inflates the body of an SWF file image (the bytes after the 8-byte
// header) into `body`; for FWS files a plain copy.
bool inflateSwfBody(std::span<const std::uint8_t> file, ByteBuffer& body);

}  // namespace bench
