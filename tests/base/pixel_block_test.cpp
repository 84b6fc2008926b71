#include "base/pixel_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace kestrel {
namespace {

// Sizes around the point where blocks stop coming from the heap, and one of
// many huge pages with an odd tail: each must be usable to its last byte
// and keep what was written when other blocks come and go.
TEST(PixelBlock, EveryByteOfEverySizeIsUsable) {
    for (const std::size_t bytes : {std::size_t{1}, std::size_t{4} << 20, (std::size_t{4} << 20) - 1,
                                    (std::size_t{4} << 20) + 1, (std::size_t{13} << 20) + 4321}) {
        auto block = allocatePixelBlock(bytes);
        ASSERT_TRUE(block) << bytes;
        std::memset(block.get(), 0x5a, bytes);
        block[bytes - 1] = 0xa5;
        auto other = allocatePixelBlock(bytes);
        ASSERT_TRUE(other) << bytes;
        std::memset(other.get(), 0, bytes);
        other.reset();
        if (bytes > 1) {
            EXPECT_EQ(block[0], 0x5a) << bytes;
            EXPECT_EQ(block[bytes / 2], 0x5a) << bytes;
        }
        EXPECT_EQ(block[bytes - 1], 0xa5) << bytes;
    }
}

// Large blocks start on a 2 MiB boundary, so that every whole 2 MiB of them
// can be one huge page.
TEST(PixelBlock, LargeBlocksStartOnAHugePageBoundary) {
    auto block = allocatePixelBlock(std::size_t{9} << 20);
    ASSERT_TRUE(block);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.get()) % (std::uintptr_t{2} << 20), 0u);
}

// A size no machine can map fails cleanly instead of throwing.
TEST(PixelBlock, ImpossibleSizeGivesNull) { EXPECT_FALSE(allocatePixelBlock(std::size_t{1} << 62)); }

}  // namespace
}  // namespace kestrel
