#include "ui/preview/picture_static.h"

#include <QPainter>
#include <algorithm>

#include "ui/preview/display_bitmap.h"

namespace kestrel {

OBCPictureStatic::OBCPictureStatic(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

QSize OBCPictureStatic::shrinkToFit(int w, int h, const QSize& area) {
    const std::int64_t aw = std::max(area.width(), 1);
    const std::int64_t ah = std::max(area.height(), 1);
    std::int64_t fw = w;
    std::int64_t fh = h;
    if (fw > aw) {
        fh = std::max<std::int64_t>(1, fh * aw / fw);
        fw = aw;
    }
    if (fh > ah) {
        fw = std::max<std::int64_t>(1, fw * ah / fh);
        fh = ah;
    }
    return {int(fw), int(fh)};
}

bool OBCPictureStatic::setPicture(const OBPicture* picture, bool premultiplied) {
    image_ = QImage();
    update();
    if (!picture || !picture->isValid()) return false;
    std::unique_ptr<OBPicture> display = picture->toDisplay();
    if (!display) return false;
    const QSize size = shrinkToFit(display->width(), display->height(), QSize(width() - 2, height() - 2));
    if (size != QSize(display->width(), display->height())) {
        display = display->scaledCopy(size.width(), size.height());
        if (!display) return false;
    }
    const OBCBitmap bitmap = OBCBitmap::fromPicture(*display, premultiplied);
    if (bitmap.isNull()) return false;
    image_ = bitmap.image();
    return true;
}

QRect OBCPictureStatic::pictureRect() const {
    if (image_.isNull()) return {};
    return {(width() - image_.width()) / 2, (height() - image_.height()) / 2, image_.width(), image_.height()};
}

void OBCPictureStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Button));
    if (image_.isNull()) return;
    const QRect picture = pictureRect();
    painter.drawImage(picture.topLeft(), image_);
    // The raised edge sits just outside the picture.
    const QRect edge = picture.adjusted(-1, -1, 1, 1);
    painter.fillRect(QRect(edge.left(), edge.top(), edge.width(), 1), pal.color(QPalette::Light));
    painter.fillRect(QRect(edge.left(), edge.top(), 1, edge.height()), pal.color(QPalette::Light));
    painter.fillRect(QRect(edge.left(), edge.bottom(), edge.width(), 1), pal.color(QPalette::Dark));
    painter.fillRect(QRect(edge.right(), edge.top(), 1, edge.height()), pal.color(QPalette::Dark));
}

}  // namespace kestrel
