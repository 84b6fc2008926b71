// The SWF format's vocabulary, defined once: tag codes, sound formats,
// lossless bitmap formats, body compression and the sound rate table.
//
// Values read from a file are stored in these enums as they come, so a
// value may lie outside the named ones; switches over them name every
// enumerator and no `default:`, so that the compiler points at each place a
// new value has to reach, and handle unnamed values after the switch.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kestrel {

enum class TagCode : std::uint16_t {
    End = 0,
    ShowFrame = 1,
    DefineBits = 6,
    JpegTables = 8,
    DefineSound = 14,
    SoundStreamHead = 18,
    SoundStreamBlock = 19,
    DefineBitsLossless = 20,
    DefineBitsJpeg2 = 21,
    DefineBitsJpeg3 = 35,
    DefineBitsLossless2 = 36,
    DefineSprite = 39,
    SoundStreamHead2 = 45,
    ExportAssets = 56,
    DefineVideoStream = 60,
    VideoFrame = 61,
    SymbolClass = 76,
    DefineBinaryData = 87,
    DefineBitsJpeg4 = 90,
};

// The tag's name as the format documents it ("DefineBitsJPEG2"), or null
// for a code Kestrel does not name.
constexpr const char* tagName(TagCode code) {
    switch (code) {
        case TagCode::End: return "End";
        case TagCode::ShowFrame: return "ShowFrame";
        case TagCode::DefineBits: return "DefineBits";
        case TagCode::JpegTables: return "JPEGTables";
        case TagCode::DefineSound: return "DefineSound";
        case TagCode::SoundStreamHead: return "SoundStreamHead";
        case TagCode::SoundStreamBlock: return "SoundStreamBlock";
        case TagCode::DefineBitsLossless: return "DefineBitsLossless";
        case TagCode::DefineBitsJpeg2: return "DefineBitsJPEG2";
        case TagCode::DefineBitsJpeg3: return "DefineBitsJPEG3";
        case TagCode::DefineBitsLossless2: return "DefineBitsLossless2";
        case TagCode::DefineSprite: return "DefineSprite";
        case TagCode::SoundStreamHead2: return "SoundStreamHead2";
        case TagCode::ExportAssets: return "ExportAssets";
        case TagCode::DefineVideoStream: return "DefineVideoStream";
        case TagCode::VideoFrame: return "VideoFrame";
        case TagCode::SymbolClass: return "SymbolClass";
        case TagCode::DefineBinaryData: return "DefineBinaryData";
        case TagCode::DefineBitsJpeg4: return "DefineBitsJPEG4";
    }
    return nullptr;
}

// The 4-bit sound format of DefineSound and SoundStreamHead(2).
enum class SoundFormat : std::uint8_t {
    Uncompressed = 0,  // native byte order: little-endian in every real file
    Adpcm = 1,
    Mp3 = 2,
    UncompressedLE = 3,  // explicitly little-endian
    Nellymoser16k = 4,   // Nellymoser at 16 kHz mono, whatever the rate bits say
    Nellymoser8k = 5,    // Nellymoser at 8 kHz mono
    Nellymoser = 6,      // Nellymoser at the rate of the rate bits
    G711ALaw = 7,
    G711MuLaw = 8,
    Speex = 11,  // 16 kHz mono
};

// The pixel format byte of DefineBitsLossless(2).
enum class LosslessFormat : std::uint8_t {
    Palette8 = 3,  // 8-bit indices into a palette
    Rgb15 = 4,     // 15-bit RGB (DefineBitsLossless only)
    Rgb32 = 5,     // 32-bit xRGB or ARGB
};

// The codec byte of DefineVideoStream; FLV video tags use the same ids.
enum class VideoCodec : std::uint8_t {
    SorensonH263 = 2,
    ScreenVideo = 3,
    Vp6 = 4,
    Vp6Alpha = 5,
    ScreenVideo2 = 6,
};

// The codec's name for texts ("Sorenson H.263", "VP6 with alpha"), or null
// for an id outside the named ones.
constexpr const char* videoCodecName(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::SorensonH263: return "Sorenson H.263";
        case VideoCodec::ScreenVideo: return "Screen Video";
        case VideoCodec::Vp6: return "VP6";
        case VideoCodec::Vp6Alpha: return "VP6 with alpha";
        case VideoCodec::ScreenVideo2: return "Screen Video 2";
    }
    return nullptr;
}

// How the body after the 8-byte header is stored, by signature.
enum class Compression : std::uint8_t {
    None,  // "FWS"
    Zlib,  // "CWS"
    Lzma,  // "ZWS"
};

// The compression a 3-byte signature stands for, or nothing for a file that
// is not an SWF movie.
constexpr std::optional<Compression> compressionOf(const std::uint8_t* signature) {
    if (signature[1] != 'W' || signature[2] != 'S') return std::nullopt;
    switch (signature[0]) {
        case 'F': return Compression::None;
        case 'C': return Compression::Zlib;
        case 'Z': return Compression::Lzma;
        default: return std::nullopt;
    }
}

// Sample rates of the 2-bit rate code. The lowest is written as 5500 Hz, not
// 5512.5: that is the rate players use, and WAV headers need an integer.
inline constexpr std::array<std::uint32_t, 4> kSoundRates = {5500, 11025, 22050, 44100};

inline std::uint32_t soundRateHz(std::uint8_t rateCode) { return kSoundRates[rateCode & 3]; }

}  // namespace kestrel
