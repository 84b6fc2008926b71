#include "ui/preview/display_bitmap.h"

#include <cstring>

#include "document/swf_res.h"

namespace kestrel {

int OBCBitmap::checkerGrey(int x, int y) {
    return ((y / kCheckerSize + x / kCheckerSize) % 2) == 0 ? kCheckerEven : kCheckerOdd;
}

std::uint8_t OBCBitmap::blend(std::uint8_t colour, std::uint8_t alpha, int grey) {
    // c * a/255 + (1 - a/255) * g, plus one half, truncated; done in
    // integers as (2 * (c*a + (255-a)*g) + 255) / 510.
    const int sum = int(colour) * alpha + (255 - int(alpha)) * grey;
    return std::uint8_t((2 * sum + 255) / 510);
}

OBCBitmap OBCBitmap::fromPicture(const OBPicture& picture, bool premultiplied) {
    OBCBitmap bitmap;
    if (!picture.isValid()) return bitmap;

    // Only RGB and RGBA are composed; the rest is expanded first.
    std::unique_ptr<OBPicture> expanded;
    const OBPicture* source = &picture;
    if (picture.format() != kFormatRGB && picture.format() != kFormatRGBA) {
        expanded = picture.toDisplay();
        if (!expanded) return bitmap;
        source = expanded.get();
    }
    if (source->format() != kFormatRGB && source->format() != kFormatRGBA) return bitmap;
    if (premultiplied && source->format() == kFormatRGBA) {
        expanded = unpremultiplied(*source);
        if (!expanded) return bitmap;
        source = expanded.get();
    }

    const int w = source->width();
    const int h = source->height();
    QImage image(w, h, QImage::Format_RGB888);
    if (image.isNull()) return bitmap;
    for (int y = 0; y < h; ++y) {
        // Picture rows are stored bottom-up.
        const std::uint8_t* in = source->row(h - 1 - y);
        std::uint8_t* out = image.scanLine(y);
        if (source->format() == kFormatRGB) {
            std::memcpy(out, in, std::size_t(w) * 3);
            continue;
        }
        for (int x = 0; x < w; ++x, in += 4, out += 3) {
            const std::uint8_t a = in[3];
            if (a == 255) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            } else {
                const int grey = checkerGrey(x, y);
                if (a == 0) {
                    out[0] = out[1] = out[2] = std::uint8_t(grey);
                } else {
                    out[0] = blend(in[0], a, grey);
                    out[1] = blend(in[1], a, grey);
                    out[2] = blend(in[2], a, grey);
                }
            }
        }
    }
    bitmap.image_ = std::move(image);
    return bitmap;
}

std::unique_ptr<OBPicture> pictureFromImage(const QImage& image) {
    if (image.isNull()) return nullptr;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    auto picture = OBPicture::create(kFormatRGB, rgb.width(), rgb.height());
    if (!picture) return nullptr;
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(picture->row(rgb.height() - 1 - y), rgb.constScanLine(y), std::size_t(rgb.width()) * 3);
    return picture;
}

}  // namespace kestrel
