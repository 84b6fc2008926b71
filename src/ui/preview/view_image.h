// The image preview: a borderless modal popup showing one image as large
// as the screen allows, centred on the pointer. Any click or key closes it.
// A video shows its first frame with a line of codec, frames and duration.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace kestrel {

class OBCPictureStatic;
class OBPicture;
class SWFImage;
class SWFVideo;

struct ImagePreviewLayout {
    QSize picture;  // the size the image is shown at
    QSize client;   // the client area, at least 32 x 32
    QRect window;   // on the screen, frame included
    QRect control;  // the picture control, in client coordinates
};

class KSViewImage : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMinClient = 32;

    // Placed at `anchor` (global), by default the pointer.
    KSViewImage(const SWFImage& image, QWidget* parent, std::optional<QPoint> anchor = std::nullopt);
    KSViewImage(const SWFVideo& video, QWidget* parent, std::optional<QPoint> anchor = std::nullopt);

    // Layout of an image of `imageSize` for a pointer at `cursor` on a
    // screen whose usable area is `workArea`; `frame` is the width of the
    // window's frame on each side.
    static ImagePreviewLayout layoutFor(const QSize& imageSize, const QRect& workArea, const QPoint& cursor, int frame);

    const ImagePreviewLayout& previewLayout() const { return layout_; }
    OBCPictureStatic* pictureControl() const { return picture_; }
    // The client area inside the frame.
    QWidget* clientArea() const { return client_; }
    // The line under a video's frame; null for an image.
    QLabel* captionLabel() const { return caption_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    KSViewImage(QWidget* parent);
    void setUp(const OBPicture* picture, bool premultiplied, const QString& caption, std::optional<QPoint> anchor);

    ImagePreviewLayout layout_;
    QWidget* client_ = nullptr;
    OBCPictureStatic* picture_ = nullptr;
    QLabel* caption_ = nullptr;
};

// The usable area of the screen under `point` (the primary screen when no
// screen holds it).
QRect workAreaAt(const QPoint& point);

}  // namespace kestrel
