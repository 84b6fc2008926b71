// Thumbnails for the resource list: every picture fitted into a box,
// centred on a frame picture, one cell per picture.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <memory>
#include <vector>

#include "reader/picture/ob_picture.h"

namespace kestrel {

class OBCPictureList {
public:
    // The size a w x h picture (aspect = w / h) is scaled to inside an
    // area of areaW x areaH. Pictures well inside the area keep their size.
    static QSize fitPicture(int w, int h, float aspect, int areaW, int areaH);

    // Pictures are fitted into pictureW x pictureH and placed at
    // (marginX, marginY) plus centring inside a cell over `frame`. The
    // cell is the larger of the frame and picture area + margin on each
    // axis. Pixels of the background colour become transparent.
    bool create(int pictureW, int pictureH, const QImage& frame, QColor background, int marginX, int marginY);

    // Appends the thumbnail of `picture` at the next index. `cache`, when
    // given, holds the scaled picture: one already there is used as it is,
    // otherwise the newly scaled one is stored in it. A picture that
    // cannot be shown (null, invalid, out of memory) gets the bare frame,
    // so that index i always stands for the i-th picture added; false
    // then. `cancel` is asked between rows while scaling.
    bool add(const OBPicture* picture, float aspect, std::unique_ptr<OBPicture>* cache = nullptr,
             bool premultiplied = false, CancelFn cancel = nullptr, void* context = nullptr);

    QSize cellSize() const { return cell_; }
    int count() const { return int(images_.size()); }
    const QPixmap& image(int index) const { return images_.at(std::size_t(index)); }
    // Hands the thumbnails over (the list is empty afterwards).
    std::vector<QPixmap> takeImages() { return std::move(images_); }

private:
    QPixmap finish(QImage cell) const;

    QSize area_;
    QSize cell_;
    QPoint margin_;
    QColor background_ = Qt::white;
    QImage frame_;
    std::vector<QPixmap> images_;
};

}  // namespace kestrel
