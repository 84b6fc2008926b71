// The 18-byte PCM format header shared by WAV files and the audio device.
#pragma once

#include <array>
#include <cstdint>

#include "base/byte_order.h"

namespace kestrel {

inline constexpr std::uint16_t kWaveFormatPcm = 1;

// PCM format description, the 18 bytes of a classic wave format header.
struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t cbSize = 0;

    // Little-endian image of the 18 bytes, in field order.
    std::array<std::uint8_t, 18> bytes() const {
        std::array<std::uint8_t, 18> out{};
        putLe16(&out[0], formatTag);
        putLe16(&out[2], channels);
        putLe32(&out[4], samplesPerSec);
        putLe32(&out[8], avgBytesPerSec);
        putLe16(&out[12], blockAlign);
        putLe16(&out[14], bitsPerSample);
        putLe16(&out[16], cbSize);
        return out;
    }

    // Tag 1 with block alignment and byte rate derived from the arguments.
    static WaveFormat pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint16_t cbSize = 0) {
        WaveFormat format;
        format.formatTag = kWaveFormatPcm;
        format.channels = channels;
        format.samplesPerSec = rate;
        format.bitsPerSample = bits;
        format.blockAlign = std::uint16_t(bits * channels / 8);
        format.avgBytesPerSec = std::uint32_t(format.blockAlign) * rate;
        format.cbSize = cbSize;
        return format;
    }

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

}  // namespace kestrel
