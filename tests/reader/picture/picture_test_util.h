// Small builders shared by the picture tests.
#pragma once

#include <memory>

#include "reader/picture/ob_picture.h"

namespace kestrel::picture_test {

// Pixel at column x of screen row y (0 = top).
inline std::uint8_t* at(OBPicture& p, int x, int y) {
    return p.row(p.height() - 1 - y) + std::size_t(x) * OBPicture::bytesPerPixel(p.format());
}
inline const std::uint8_t* at(const OBPicture& p, int x, int y) { return at(const_cast<OBPicture&>(p), x, y); }

// A picture whose channel c of pixel (x, y) holds value(x, y, c).
template <class F>
std::unique_ptr<OBPicture> filled(int format, int w, int h, F value) {
    auto p = OBPicture::create(format, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < OBPicture::bytesPerPixel(format); ++c) at(*p, x, y)[c] = std::uint8_t(value(x, y, c));
    return p;
}

}  // namespace kestrel::picture_test
