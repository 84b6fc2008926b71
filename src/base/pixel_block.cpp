#include "base/pixel_block.h"

#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// Smaller blocks come from the heap: a mapping of their own would round
// them up to whole pages and cost a system call each.
constexpr std::size_t kMappedFrom = 2 * kHugePageBytes;

std::size_t pageRounded(std::size_t bytes) {
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::size_t size = page > 0 ? std::size_t(page) : 4096;
    return (bytes + size - 1) / size * size;
}

// Maps `length` bytes (whole pages) at an address on a huge page boundary:
// a little more is mapped and the ends are given back. Null on failure.
std::uint8_t* mapAligned(std::size_t length) {
    const std::size_t spare = length + kHugePageBytes;
    if (spare < length) return nullptr;
    void* mapped = ::mmap(nullptr, spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    if (aligned > start) ::munmap(mapped, aligned - start);
    const std::uintptr_t end = start + spare;
    if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<std::uint8_t*>(aligned);
}

struct Unmap {
    std::size_t length;
    void operator()(std::uint8_t* p) const { ::munmap(p, length); }
};

}  // namespace

std::shared_ptr<std::uint8_t[]> allocatePixelBlock(std::size_t bytes) {
    try {
        if (bytes >= kMappedFrom) {
            // Where the kernel maps nothing, the heap has nothing either.
            const std::size_t length = pageRounded(bytes);
            std::uint8_t* mapped = length >= bytes ? mapAligned(length) : nullptr;
            if (!mapped) return nullptr;
            // The deleter unmaps the block itself if this throws.
            return std::shared_ptr<std::uint8_t[]>(mapped, Unmap{length});
        }
        std::uint8_t* raw = new (std::nothrow) std::uint8_t[bytes];
        if (!raw) return nullptr;
        return std::shared_ptr<std::uint8_t[]>(raw);  // deletes raw itself if this throws
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace kestrel
