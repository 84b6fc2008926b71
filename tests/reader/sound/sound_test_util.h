// Helpers shared by the sound tests: a bit packer for hand-built ADPCM
// blocks and a sound factory.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/sound/of_sound.h"

namespace kestrel::test {

// Packs values most significant bit first; the last byte is zero-padded.
class BitPacker {
public:
    BitPacker& put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= std::uint8_t(0x80 >> (used_ % 8));
            ++used_;
        }
        return *this;
    }
    std::vector<std::uint8_t> bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    int used_ = 0;
};

inline OFSound makeSound(SoundFormat format, std::uint8_t rate, bool is16Bit, bool stereo) {
    OFSound sound;
    sound.format = format;
    sound.rate = rate;
    sound.is16Bit = is16Bit;
    sound.stereo = stereo;
    return sound;
}

inline void addBlock(OFSound& sound, const std::vector<std::uint8_t>& bytes) {
    sound.addBlock(bytes.data(), bytes.size());
}

}  // namespace kestrel::test
