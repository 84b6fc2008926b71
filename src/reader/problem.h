// Where and why part of a movie could not be read.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

struct Problem {
    std::uint16_t tag = 0;     // code of the tag at fault (a TagCode value), 0 for the header or body
    std::uint64_t offset = 0;  // of the tag header in the uncompressed file image
    std::string reason;        // short and specific: "zlib stream cut short", "JPEG: bogus Huffman table"
};

}  // namespace kestrel
