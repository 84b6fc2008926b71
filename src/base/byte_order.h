// Little-endian loads and stores for file headers.
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

inline std::uint16_t getLe16(const std::uint8_t* in) { return std::uint16_t(in[0] | in[1] << 8); }

inline std::uint32_t getLe32(const std::uint8_t* in) { return getLe16(in) | std::uint32_t(getLe16(in + 2)) << 16; }

}  // namespace kestrel
