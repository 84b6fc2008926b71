// Little-endian stores for file headers.
#pragma once

#include <cstdint>

namespace kestrel {

inline void putLe16(std::uint8_t* out, std::uint32_t value) {
    out[0] = std::uint8_t(value);
    out[1] = std::uint8_t(value >> 8);
}

inline void putLe32(std::uint8_t* out, std::uint32_t value) {
    putLe16(out, value);
    putLe16(out + 2, value >> 16);
}

}  // namespace kestrel
