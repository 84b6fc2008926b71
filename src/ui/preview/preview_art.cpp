#include "ui/preview/preview_art.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QPolygon>
#include <qdrawutil.h>

namespace kestrel::preview_art {

namespace {

const QColor kTeal(31, 111, 139);
const QColor kTealDark(18, 72, 92);
const QColor kAmber(242, 165, 65);
const QColor kOutline(40, 40, 40);

// A loudspeaker with three sound arcs in a 40 x 40 cell at (x, y), facing
// right, or left when mirrored.
void drawSpeaker(QPainter& g, qreal x, qreal y, qreal scale, bool mirrored) {
    g.save();
    g.translate(x, y);
    if (mirrored) {
        g.translate(40 * scale, 0);
        g.scale(-1, 1);
    }
    g.scale(scale, scale);
    g.setPen(QPen(kOutline, 1.2));
    g.setBrush(kAmber);
    QPainterPath body;
    body.moveTo(2, 14);
    body.lineTo(10, 14);
    body.lineTo(20, 4);
    body.lineTo(20, 36);
    body.lineTo(10, 26);
    body.lineTo(2, 26);
    body.closeSubpath();
    g.drawPath(body);
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(kTeal, 2.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal r = 6 + 5 * i;
        g.drawArc(QRectF(20 - r, 20 - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    }
    g.restore();
}

}  // namespace

QImage soundPicture(bool stereo) {
    QImage img(kSoundPictureSize, kSoundPictureSize, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    // A rounded plate with the speakers, and a label strip at the bottom.
    QLinearGradient plate(0, 0, 0, 100);
    plate.setColorAt(0, QColor(236, 244, 247));
    plate.setColorAt(1, QColor(205, 225, 232));
    g.setPen(QPen(QColor(170, 190, 198), 1));
    g.setBrush(plate);
    g.drawRoundedRect(QRectF(4.5, 4.5, 91, 91), 10, 10);
    if (stereo) {
        drawSpeaker(g, 6, 22, 1.0, true);
        drawSpeaker(g, 54, 22, 1.0, false);
    } else {
        drawSpeaker(g, 25, 17, 1.25, false);
    }
    g.setPen(kTealDark);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    g.setFont(font);
    g.drawText(QRect(4, 74, 92, 18), Qt::AlignCenter, stereo ? QStringLiteral("STEREO") : QStringLiteral("MONO"));
    return img;
}

QImage playSymbol() {
    QImage img(kPlaySymbolSize, kPlaySymbolSize, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(20, 80, 30), 1));
    g.setBrush(QColor(50, 160, 70));
    g.drawPolygon(QPolygonF({QPointF(4.5, 2.5), QPointF(13.5, 8), QPointF(4.5, 13.5)}));
    return img;
}

QCursor previewCursor() {
    // A magnifying glass; the hot spot is the middle of the lens.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter g(&pixmap);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(17, 17), QPointF(27, 27));
    g.drawEllipse(QPointF(11, 11), 8, 8);
    g.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(17, 17), QPointF(27, 27));
    g.setPen(QPen(Qt::black, 2));
    g.setBrush(QColor(255, 255, 255, 90));
    g.drawEllipse(QPointF(11, 11), 8, 8);
    g.end();
    return QCursor(pixmap, 11, 11);
}

void drawDialogFrame(QPainter& painter, const QRect& rect, const QPalette& palette) {
    qDrawWinPanel(&painter, rect, palette, false);
    painter.save();
    painter.setPen(palette.color(QPalette::Button));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(2, 2, -3, -3));
    painter.restore();
}

}  // namespace kestrel::preview_art
