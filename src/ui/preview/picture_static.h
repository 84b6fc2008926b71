// A picture control: one picture shrunk to fit inside a 1-pixel margin,
// centred on the button-face colour with a raised edge around it.
#pragma once

#include <QImage>
#include <QWidget>

#include "reader/picture/ob_picture.h"

namespace kestrel {

class OBCPictureStatic : public QWidget {
    Q_OBJECT
public:
    explicit OBCPictureStatic(QWidget* parent);

    // The size a w x h picture is shown at inside `area`: shrunk to the
    // width, then to the height, keeping its proportions; never enlarged.
    static QSize shrinkToFit(int w, int h, const QSize& area);

    // Shows `picture` (null shows none), fitted to the control's current
    // size less the 1-pixel edge. False when it cannot be shown.
    bool setPicture(const OBPicture* picture, bool premultiplied = false);
    // The picture as shown (RGB888), null when none.
    const QImage& shownImage() const { return image_; }
    // Where the picture is drawn inside the control.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace kestrel
