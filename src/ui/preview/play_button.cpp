#include "ui/preview/play_button.h"

#include <QPainter>

#include "ui/preview/preview_art.h"

namespace kestrel {

KSPlayButton::KSPlayButton(QWidget* parent) : QPushButton(parent), symbol_(preview_art::playSymbol()) {
    // Reached with Tab (Space plays), never taken by a click.
    setFocusPolicy(Qt::TabFocus);
}

void KSPlayButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool pressed = isDown() || isChecked();
    const QPalette& pal = palette();
    const QColor light = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Dark);
    const QRect r = rect();
    const QColor topLeft = pressed ? shadow : light;
    const QColor bottomRight = pressed ? light : shadow;
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    painter.fillRect(r.adjusted(1, 1, -1, -1), pal.color(QPalette::Button));
    const int shift = pressed ? 1 : 0;
    painter.drawImage((r.width() - symbol_.width()) / 2 + shift, (r.height() - symbol_.height()) / 2 + shift, symbol_);
    if (hasFocus()) {
        painter.setPen(QPen(pal.color(QPalette::WindowText), 1, Qt::DotLine));
        painter.drawRect(r.adjusted(2, 2, -3, -3));
    }
}

}  // namespace kestrel
