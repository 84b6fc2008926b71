// How many bytes of decoded pictures open documents may hold together.
// Hostile files can declare huge bitmaps in a few bytes each; once the
// budget is spent, further pictures are refused (the read then reports
// that some resources failed) instead of the kernel ending the process.
#pragma once

#include <cstdint>

namespace kestrel {

class MemoryBudget {
public:
    // Default: half of the machine's physical memory.
    static std::int64_t limit();
    static void setLimit(std::int64_t bytes);
    static std::int64_t inUse();
    // Reserves `bytes`; false (nothing reserved) when that would pass the limit.
    static bool charge(std::int64_t bytes);
    static void release(std::int64_t bytes);
};

}  // namespace kestrel
