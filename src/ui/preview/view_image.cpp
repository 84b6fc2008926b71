#include "ui/preview/view_image.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "document/swf_res.h"
#include "ui/controls/control_library.h"
#include "ui/preview/picture_static.h"
#include "ui/preview/preview_art.h"

namespace kestrel {

QRect workAreaAt(const QPoint& point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
}

ImagePreviewLayout KSViewImage::layoutFor(const QSize& imageSize, const QRect& workArea, const QPoint& cursor,
                                          int frame) {
    const std::int64_t w0 = std::max(imageSize.width(), 1);
    const std::int64_t h0 = std::max(imageSize.height(), 1);
    const std::int64_t sw = workArea.width();
    const std::int64_t sh = workArea.height();
    std::int64_t w = w0;
    std::int64_t h = h0;
    if (w + 8 > sw) {
        w = std::max<std::int64_t>(sw - 8, 1);
        h = std::max<std::int64_t>(h0 * (sw - 8) / w0, 1);
    }
    if (h + 8 > sh) {
        h = std::max<std::int64_t>(sh - 8, 1);
        w = std::max<std::int64_t>((sh - 8) * w0 / h0, 1);
    }

    ImagePreviewLayout layout;
    layout.picture = QSize(int(w), int(h));
    const int cw = std::max(int(w), kMinClient);
    const int ch = std::max(int(h), kMinClient);
    layout.client = QSize(cw, ch);

    // Centred on the pointer, its bottom just below it, kept on the screen
    // with its frame.
    const int ww = cw + 2 * frame;
    const int wh = ch + 2 * frame;
    int x = cursor.x() - cw / 2;
    x = std::min(std::max(x, workArea.left()), workArea.left() + workArea.width() - ww);
    x = std::max(x, workArea.left());
    int y = cursor.y() - ch + 2;
    y = std::min(std::max(y, workArea.top()), workArea.top() + workArea.height() - wh);
    y = std::max(y, workArea.top());
    layout.window = QRect(x, y, ww, wh);

    // The control is the picture with its 1-pixel edge, centred; a picture
    // as large as the client leaves its edge outside.
    const int controlW = int(w) + 2;
    const int controlH = int(h) + 2;
    layout.control = QRect((cw - controlW) / 2, (ch - controlH) / 2, controlW, controlH);
    return layout;
}

KSViewImage::KSViewImage(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    setModal(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The click that closes the preview goes no further.
    setAttribute(Qt::WA_NoMouseReplay);
}

KSViewImage::KSViewImage(const SWFImage& image, QWidget* parent, std::optional<QPoint> anchor) : KSViewImage(parent) {
    setUp(image.payload.get(), image.premultiplied, QString(), anchor);
}

KSViewImage::KSViewImage(const SWFVideo& video, QWidget* parent, std::optional<QPoint> anchor) : KSViewImage(parent) {
    const QString caption = QString::fromStdString(video.codecText() + " - " + video.sizeText);
    setUp(video.firstFrame.get(), false, caption, anchor);
}

void KSViewImage::setUp(const OBPicture* picture, bool premultiplied, const QString& caption,
                        std::optional<QPoint> anchor) {
    const QPoint cursor = anchor.value_or(QCursor::pos());
    const QSize imageSize = picture ? QSize(picture->width(), picture->height()) : QSize(1, 1);
    // A caption takes a line below the picture, and at least its own width.
    QSize captionSize;
    if (!caption.isEmpty()) {
        caption_ = new QLabel(caption, this);
        caption_->setObjectName(QStringLiteral("caption"));
        caption_->setAlignment(Qt::AlignCenter);
        captionSize = caption_->sizeHint() + QSize(8, 4);
    }
    QRect workArea = workAreaAt(cursor);
    workArea.setHeight(std::max(workArea.height() - captionSize.height(), kMinClient));
    layout_ = layoutFor(imageSize, workArea, cursor, preview_art::kDialogFrame);
    if (caption_) {
        const int grow = std::max(captionSize.width() - layout_.client.width(), 0);
        layout_.client += QSize(grow, captionSize.height());
        layout_.window.setSize(layout_.window.size() + QSize(grow, captionSize.height()));
        layout_.control.translate(grow / 2, 0);
    }
    setGeometry(layout_.window);
    setFixedSize(layout_.window.size());

    // Children are clipped to the client area, as a control partly outside
    // it must be.
    client_ = new QWidget(this);
    client_->setGeometry(preview_art::kDialogFrame, preview_art::kDialogFrame, layout_.client.width(),
                         layout_.client.height());
    client_->setAutoFillBackground(true);
    picture_ = new OBCPictureStatic(client_);
    picture_->setObjectName(QStringLiteral("picture"));
    {
        const WaitCursor wait;
        picture_->setGeometry(layout_.control);
        picture_->setPicture(picture, premultiplied);
    }
    if (caption_) {
        caption_->setParent(client_);
        caption_->setGeometry(0, layout_.client.height() - captionSize.height(), layout_.client.width(),
                              captionSize.height());
        caption_->show();
    }
    setCursor(preview_art::previewCursor());
}

void KSViewImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    preview_art::drawDialogFrame(painter, rect(), palette());
}

void KSViewImage::mousePressEvent(QMouseEvent* event) {
    // The popup sees every press, also those outside it.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        accept();
        return;
    }
    event->accept();
}

void KSViewImage::keyPressEvent(QKeyEvent* event) {
    event->accept();
    releaseMouse();
    accept();
}

}  // namespace kestrel
