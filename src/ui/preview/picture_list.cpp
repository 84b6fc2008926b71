#include "ui/preview/picture_list.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/preview/display_bitmap.h"

namespace kestrel {

namespace {

int roundPositive(double value) { return std::max(1, int(value + 0.5)); }

bool scalable(int format) {
    return format == kFormatRGB || format == kFormatRGBA || format == kFormatGrayscale || format == kFormatGrayAlpha;
}

}  // namespace

QSize OBCPictureList::fitPicture(int w, int h, float aspect, int areaW, int areaH) {
    if (!(aspect > 0.0f) || !std::isfinite(aspect)) aspect = 1.0f;
    if (w >= areaW - 4) {
        w = areaW;
        h = roundPositive(double(areaW) / double(aspect));
    }
    if (h >= areaH - 4) {
        h = areaH;
        w = roundPositive(double(aspect) * double(areaH));
        if (w >= areaW - 4) w = areaW;
    }
    return {std::max(w, 1), std::max(h, 1)};
}

bool OBCPictureList::create(int pictureW, int pictureH, const QImage& frame, QColor background, int marginX,
                            int marginY) {
    if (pictureW <= 0 || pictureH <= 0) return false;
    area_ = QSize(pictureW, pictureH);
    margin_ = QPoint(marginX, marginY);
    background_ = background;
    frame_ = frame;
    cell_ = QSize(std::max(frame.width(), pictureW + marginX), std::max(frame.height(), pictureH + marginY));
    images_.clear();
    return true;
}

QPixmap OBCPictureList::finish(QImage cell) const {
    // The background colour is the transparent colour of the cells.
    cell = cell.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = background_.rgb() | 0xFF000000u;
    for (int y = 0; y < cell.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(cell.scanLine(y));
        for (int x = 0; x < cell.width(); ++x)
            if ((line[x] | 0xFF000000u) == key) line[x] = 0;
    }
    return QPixmap::fromImage(cell);
}

bool OBCPictureList::add(const OBPicture* picture, float aspect, std::unique_ptr<OBPicture>* cache, bool premultiplied,
                         CancelFn cancel, void* context) {
    if (cell_.isEmpty()) return false;
    QImage cell(cell_, QImage::Format_RGB32);
    cell.fill(background_);
    {
        QPainter painter(&cell);
        painter.drawImage(0, 0, frame_);
    }

    // The scaled picture: the cached one, or the picture fitted to the area.
    std::unique_ptr<OBPicture> scaledHere;
    const OBPicture* scaled = cache && *cache ? cache->get() : nullptr;
    if (!scaled && picture && picture->isValid()) {
        std::unique_ptr<OBPicture> expanded;
        const OBPicture* source = picture;
        if (!scalable(picture->format())) {
            expanded = picture->toDisplay();
            source = expanded.get();
        }
        if (source) {
            const QSize size = fitPicture(source->width(), source->height(), aspect, area_.width(), area_.height());
            scaledHere = source->scaledCopy(size.width(), size.height(), cancel, context);
        }
        scaled = scaledHere.get();
        if (scaledHere && cache) *cache = std::move(scaledHere);
    }

    const OBCBitmap bitmap = scaled ? OBCBitmap::fromPicture(*scaled, premultiplied) : OBCBitmap();
    if (!bitmap.isNull()) {
        QPainter painter(&cell);
        painter.drawImage((area_.width() - bitmap.width()) / 2 + margin_.x(),
                          (area_.height() - bitmap.height()) / 2 + margin_.y(), bitmap.image());
    }
    images_.push_back(finish(std::move(cell)));
    return !bitmap.isNull();
}

}  // namespace kestrel
