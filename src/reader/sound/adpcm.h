// SWF ADPCM decoding. The decoder is a template over the sample sink so that
// the callers inside the sound code (counting, WAV writing) get an inlined
// loop; the function-pointer entry point of OFSound wraps it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel::adpcm {

inline constexpr std::array<std::int32_t, 89> kStepTable = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};

// Index adjustments by code size, indexed by the code's magnitude bits.
inline constexpr std::array<std::int8_t, 2> kIndex2 = {-1, 2};
inline constexpr std::array<std::int8_t, 4> kIndex3 = {-1, -1, 2, 4};
inline constexpr std::array<std::int8_t, 8> kIndex4 = {-1, -1, -1, -1, 2, 4, 6, 8};
inline constexpr std::array<std::int8_t, 16> kIndex5 = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};

inline constexpr int kPacketSteps = 4096;         // header step plus 4095 coded steps
inline constexpr int kHeaderBitsPerChannel = 22;  // 16-bit predictor, 6-bit index

inline const std::int8_t* indexTable(int codeBits) {
    switch (codeBits) {
        case 2: return kIndex2.data();
        case 3: return kIndex3.data();
        case 4: return kIndex4.data();
        default: return kIndex5.data();
    }
}

// Most-significant-first bit reader; supplies zero bits past the end.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}

    // n in 1..16.
    std::uint32_t read(int n) {
        if (count_ < n) refill();
        const std::uint32_t value = std::uint32_t(acc_ >> (64 - n));
        acc_ <<= n;
        count_ -= n;
        return value;
    }

private:
    void refill() {
        while (count_ <= 56) {
            const std::uint64_t byte = pos_ < data_.size() ? data_[pos_] : 0;
            ++pos_;
            acc_ |= byte << (56 - count_);
            count_ += 8;
        }
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    std::uint64_t acc_ = 0;  // pending bits, left-aligned
    int count_ = 0;
};

struct Channel {
    std::int32_t predictor = 0;
    std::int32_t index = 0;
};

inline void readHeader(BitReader& bits, Channel& ch) {
    ch.predictor = std::int16_t(std::uint16_t(bits.read(16)));
    ch.index = std::int32_t(bits.read(6));
}

inline void decodeCode(Channel& ch, std::uint32_t code, int codeBits, const std::int8_t* table) {
    const std::uint32_t signBit = 1u << (codeBits - 1);
    const std::uint32_t magnitude = code & (signBit - 1);
    std::int32_t step = kStepTable[std::size_t(ch.index)];
    std::int32_t diff = 0;
    for (std::uint32_t bit = signBit >> 1; bit != 0; bit >>= 1) {
        if (magnitude & bit) diff += step;
        step >>= 1;
    }
    diff += step;

    std::int32_t predictor = (code & signBit) ? ch.predictor - diff : ch.predictor + diff;
    if (predictor > 32767)
        predictor = 32767;
    else if (predictor < -32768)
        predictor = -32768;
    ch.predictor = predictor;

    std::int32_t index = ch.index + table[magnitude];
    if (index < 0)
        index = 0;
    else if (index > 88)
        index = 88;
    ch.index = index;
}

// Decodes one block, calling sink(int16_t) per sample (stereo: left, right).
// Every read is guarded by the bit budget of the block.
template <class Sink>
void decodeBlock(std::span<const std::uint8_t> block, bool stereo, Sink&& sink) {
    const std::uint64_t totalBits = std::uint64_t(block.size()) * 8;
    BitReader bits(block);
    const int codeBits = int(bits.read(2)) + 2;
    const std::int8_t* table = indexTable(codeBits);
    const int channels = stereo ? 2 : 1;
    const std::uint64_t headerBits = std::uint64_t(kHeaderBitsPerChannel) * channels;
    const std::uint64_t stepBits = std::uint64_t(codeBits) * channels;
    std::uint64_t consumed = 2;
    Channel left;
    Channel right;

    for (;;) {
        if (consumed + headerBits > totalBits) return;
        readHeader(bits, left);
        if (stereo) readHeader(bits, right);
        consumed += headerBits;
        sink(std::int16_t(left.predictor));
        if (stereo) sink(std::int16_t(right.predictor));

        for (int k = 1; k < kPacketSteps; ++k) {
            if (consumed + stepBits > totalBits) return;
            decodeCode(left, bits.read(codeBits), codeBits, table);
            if (stereo) decodeCode(right, bits.read(codeBits), codeBits, table);
            consumed += stepBits;
            sink(std::int16_t(left.predictor));
            if (stereo) sink(std::int16_t(right.predictor));
        }
    }
}

// Number of samples decodeBlock delivers for this block, from its length
// and code size alone.
inline std::uint64_t sampleCount(std::span<const std::uint8_t> block, bool stereo) {
    const std::uint64_t totalBits = std::uint64_t(block.size()) * 8;
    if (totalBits < 2) return 0;
    const int codeBits = (block[0] >> 6) + 2;
    const std::uint64_t channels = stereo ? 2 : 1;
    const std::uint64_t headerBits = kHeaderBitsPerChannel * channels;
    const std::uint64_t stepBits = std::uint64_t(codeBits) * channels;
    const std::uint64_t packetBits = headerBits + (kPacketSteps - 1) * stepBits;

    const std::uint64_t available = totalBits - 2;
    std::uint64_t steps = available / packetBits * kPacketSteps;
    const std::uint64_t rest = available % packetBits;
    if (rest >= headerBits) steps += 1 + (rest - headerBits) / stepBits;
    return steps * channels;
}

}  // namespace kestrel::adpcm
