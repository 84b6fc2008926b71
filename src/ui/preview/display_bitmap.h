// Pictures made ready for the screen: 24-bit colour, with alpha shown over
// a grey checkerboard.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>

#include "reader/picture/ob_picture.h"

namespace kestrel {

class OBCBitmap {
public:
    // Size of the checkerboard squares and their two greys.
    static constexpr int kCheckerSize = 5;
    static constexpr int kCheckerEven = 122;
    static constexpr int kCheckerOdd = 165;

    OBCBitmap() = default;

    // Expands the picture to RGB or RGBA and composes it: RGB pixels are
    // copied, RGBA pixels are laid over the checkerboard. `premultiplied`
    // says the colours are stored multiplied by alpha (they are divided
    // again first). A null bitmap when the picture cannot be expanded.
    static OBCBitmap fromPicture(const OBPicture& picture, bool premultiplied = false);

    // The checkerboard grey under pixel (x, y), counted from the top-left.
    static int checkerGrey(int x, int y);
    // One colour channel with alpha `a` over grey `g`, rounded to nearest.
    static std::uint8_t blend(std::uint8_t colour, std::uint8_t alpha, int grey);

    bool isNull() const { return image_.isNull(); }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    // RGB888, top row first.
    const QImage& image() const { return image_; }

private:
    QImage image_;
};

// A picture of the program's artwork (or any image) as an RGB picture
// buffer; alpha is dropped. Null for a null image.
std::unique_ptr<OBPicture> pictureFromImage(const QImage& image);

}  // namespace kestrel
