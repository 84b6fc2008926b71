// Memory for pixels. Blocks of a few megabytes and more are mapped on
// their own, on a 2 MiB boundary, and marked for transparent huge pages
// where the kernel offers them: their first touch then costs one page fault
// per 2 MiB instead of one per 4 KiB. On a virtual machine those faults can
// take longer than decoding the picture into the memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrel {

// A block of `bytes` bytes, uninitialised; null when there is no memory.
std::shared_ptr<std::uint8_t[]> allocatePixelBlock(std::size_t bytes);

}  // namespace kestrel
