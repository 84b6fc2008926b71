// Lossless bitmap pixels: the zlib stream reader they share with JPEG alpha
// planes, and the conversion of the inflated rows (palette indices, 15-bit
// and 32-bit pixels, bottom row last) into pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "reader/picture/ob_picture.h"
#include "reader/swf_format.h"

struct z_stream_s;

namespace kestrel {

// Inflates one zlib stream into consecutive pieces of output. The pieces
// together behave like one destination: once the stream has ended, every
// further byte asked for is zero; finish() fails when the stream has more
// output than was asked for or did not reach its end. error() says why a
// call failed.
class Inflater {
public:
    explicit Inflater(std::span<const std::uint8_t> source);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool start();
    bool read(std::uint8_t* destination, std::size_t length);
    bool finish();
    const char* error() const { return error_; }

private:
    void feed();
    bool fail(int status);

    std::unique_ptr<z_stream_s> stream_;
    std::span<const std::uint8_t> pending_;
    bool started_ = false;
    bool ended_ = false;
    const char* error_ = nullptr;
};

// What the header of a lossless bitmap tag says about its pixels.
struct LosslessLayout {
    LosslessFormat format = LosslessFormat::Rgb32;
    int width = 0;
    int height = 0;
    int colours = 0;         // palette entries (Palette8 only)
    bool withAlpha = false;  // DefineBitsLossless2: RGBA palette entries, ARGB pixels
};

// Inflates the zlib data after the header into a picture: indexed with its
// palette, RGB, or RGBA (colours as stored). Null with `reason` set when the
// layout is not one the tag defines, the picture is too large or the
// stream is damaged, cut short or longer than the bitmap.
std::unique_ptr<OBPicture> decodeLosslessPixels(std::span<const std::uint8_t> zlibData, const LosslessLayout& layout,
                                                std::string* reason);

}  // namespace kestrel
