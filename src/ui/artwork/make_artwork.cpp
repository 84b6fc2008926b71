// Draws the program's artwork into PNG files: the program icon at the
// desktop sizes, the toolbar strips, the small icons, the sound and film
// pictures, the thumbnail frame, the panel banner and the about picture.
//
//   kestrel-artwork OUTPUT_FOLDER
//
// The PNG files are kept in the source tree (src/ui/resources/art and
// data/icons); run this again after changing a drawing.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kMagenta(255, 0, 255);
const QColor kTeal(31, 111, 139);
const QColor kTealDark(18, 72, 92);
const QColor kAmber(242, 165, 65);

// The bird of the program icon in a 100 x 100 box: two swept wings, a
// body and a fanned tail, seen from below in flight.
QPainterPath birdPath() {
    QPainterPath p;
    p.moveTo(50, 38);
    p.cubicTo(40, 26, 22, 22, 4, 30);   // left wing leading edge
    p.cubicTo(20, 36, 30, 44, 40, 52);  // left wing trailing edge
    p.lineTo(42, 70);
    p.lineTo(36, 86);  // tail left
    p.lineTo(50, 80);
    p.lineTo(64, 86);  // tail right
    p.lineTo(58, 70);
    p.lineTo(60, 52);
    p.cubicTo(70, 44, 80, 36, 96, 30);  // right wing trailing edge
    p.cubicTo(78, 22, 60, 26, 50, 38);  // right wing leading edge
    p.closeSubpath();
    return p;
}

void drawAppIcon(QPainter& g, int size) {
    g.save();
    g.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 100.0;
    g.scale(s, s);
    QLinearGradient bg(0, 0, 0, 100);
    bg.setColorAt(0, kTeal.lighter(125));
    bg.setColorAt(1, kTealDark);
    g.setPen(Qt::NoPen);
    g.setBrush(bg);
    g.drawRoundedRect(QRectF(2, 2, 96, 96), 18, 18);
    g.setBrush(kAmber);
    g.drawEllipse(QRectF(62, 10, 26, 26));
    g.setBrush(Qt::white);
    g.drawPath(birdPath());
    g.restore();
}

QImage appIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter g(&img);
    drawAppIcon(g, size);
    return img;
}

QImage keyed(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kMagenta);
    return img;
}

// Small pictures are drawn without antialiasing at their own size, so that
// no pixel mixes with the magenta key, and antialiased at twice the size,
// where they are drawn on transparency.
void setSmoothness(QPainter& g) { g.setRenderHint(QPainter::Antialiasing, g.worldTransform().m11() > 1); }

// A transparent picture for drawing at twice the size of w x h.
QImage doubled(int w, int h) {
    QImage img(2 * w, 2 * h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

// Toolbar cells are 23 x 20.
void drawToolbarCell(QPainter& g, int index) {
    g.save();
    g.translate(index * 23, 0);
    setSmoothness(g);
    const QPen outline(QColor(40, 40, 40));
    switch (index) {
        case 0: {  // Open: a folder
            g.setPen(outline);
            g.setBrush(QColor(246, 200, 80));
            g.drawPolygon(QPolygon({{2, 5}, {8, 5}, {10, 7}, {19, 7}, {19, 17}, {2, 17}}));
            g.setBrush(QColor(252, 224, 128));
            g.drawPolygon(QPolygon({{2, 17}, {5, 10}, {21, 10}, {19, 17}}));
            break;
        }
        case 1: {  // Extract: a box with an arrow leaving it
            g.setPen(outline);
            g.setBrush(QColor(196, 150, 100));
            g.drawRect(2, 10, 12, 8);
            g.drawLine(2, 13, 14, 13);
            g.setPen(Qt::NoPen);
            g.setBrush(QColor(40, 150, 60));
            g.drawPolygon(QPolygon({{9, 10}, {15, 4}, {13, 2}, {20, 2}, {20, 9}, {18, 7}, {12, 13}}));
            break;
        }
        case 2: {  // View: a magnifying glass
            g.setPen(QPen(QColor(40, 40, 40), 2));
            g.setBrush(QColor(200, 230, 250));
            g.drawEllipse(3, 2, 11, 11);
            g.setPen(QPen(QColor(120, 70, 30), 3));
            g.drawLine(14, 13, 19, 18);
            break;
        }
        case 3: {  // Properties: a sheet with lines
            g.setPen(outline);
            g.setBrush(Qt::white);
            g.drawRect(5, 1, 13, 17);
            g.setPen(QColor(31, 111, 139));
            for (int y = 5; y <= 14; y += 3) g.drawLine(8, y, 15, y);
            break;
        }
        case 4: {  // Play SWF: a film frame with a play triangle
            g.setPen(outline);
            g.setBrush(QColor(60, 60, 60));
            g.drawRect(2, 3, 18, 14);
            g.setPen(Qt::NoPen);
            g.setBrush(Qt::white);
            for (int x = 4; x <= 17; x += 4) {
                g.drawRect(x, 4, 2, 1);
                g.drawRect(x, 15, 2, 1);
            }
            g.setBrush(kAmber);
            g.drawPolygon(QPolygon({{8, 6}, {15, 10}, {8, 14}}));
            break;
        }
        case 5: {  // Details: rows of small icons and lines
            for (int row = 0; row < 4; ++row) {
                const int y = 3 + row * 4;
                g.fillRect(3, y, 3, 3, kTeal);
                g.fillRect(8, y + 1, 12, 1, QColor(40, 40, 40));
            }
            break;
        }
        case 6: {  // Icons: four large squares
            g.setPen(outline);
            g.setBrush(kTeal.lighter(130));
            g.drawRect(3, 2, 7, 7);
            g.drawRect(13, 2, 7, 7);
            g.drawRect(3, 11, 7, 7);
            g.drawRect(13, 11, 7, 7);
            break;
        }
        default: break;
    }
    g.restore();
}

void drawSmallImageIcon(QPainter& g) {
    setSmoothness(g);
    g.setPen(QColor(40, 40, 40));
    g.setBrush(QColor(170, 215, 245));
    g.drawRect(2, 4, 17, 14);
    g.setPen(Qt::NoPen);
    g.setBrush(kAmber);
    g.drawRect(13, 6, 4, 4);
    g.setBrush(QColor(60, 150, 70));
    g.drawPolygon(QPolygon({{3, 18}, {9, 9}, {13, 14}, {15, 12}, {19, 18}}));
}

void drawSpeaker(QPainter& g, QColor body) {
    setSmoothness(g);
    g.setPen(QColor(40, 40, 40));
    g.setBrush(body);
    g.drawPolygon(QPolygon({{2, 8}, {6, 8}, {11, 3}, {11, 18}, {6, 13}, {2, 13}}));
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(kTeal, 1));
    g.drawArc(9, 6, 6, 9, -60 * 16, 120 * 16);
    g.drawArc(9, 3, 10, 15, -60 * 16, 120 * 16);
    g.drawArc(9, 0, 14, 21, -60 * 16, 120 * 16);
}

// A strip of film: a dark band with sprocket holes along both edges and
// two light frames between them.
void drawFilm(QPainter& g) {
    g.setRenderHint(QPainter::Antialiasing, false);
    g.setPen(QColor(40, 40, 40));
    g.setBrush(QColor(70, 70, 70));
    g.drawRect(2, 3, 18, 16);
    g.setPen(Qt::NoPen);
    g.setBrush(Qt::white);
    for (int x = 4; x < 20; x += 4) {
        g.drawRect(x, 4, 2, 2);
        g.drawRect(x, 16, 2, 2);
    }
    g.setBrush(QColor(170, 215, 245));
    g.drawRect(4, 8, 6, 6);
    g.setBrush(kAmber);
    g.drawRect(12, 8, 6, 6);
}

QImage filmPicture() {
    QImage img(23, 22, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter g(&img);
    drawFilm(g);
    return img;
}

QImage soundPicture() {
    QImage img(23, 22, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter g(&img);
    drawSpeaker(g, kAmber);
    return img;
}

QImage thumbnailFrame() {
    QImage img(100, 100, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter g(&img);
    g.setPen(QColor(208, 208, 208));
    g.drawRect(0, 0, 97, 97);
    g.setPen(QColor(170, 170, 170));
    g.drawLine(1, 98, 98, 98);
    g.drawLine(98, 1, 98, 98);
    g.setPen(QColor(225, 225, 225));
    g.drawLine(2, 99, 99, 99);
    g.drawLine(99, 2, 99, 99);
    return img;
}

// The panel's banner, 150 x 120, drawn `scale` times larger.
QImage banner(int scale) {
    QImage img(150 * scale, 120 * scale, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.scale(scale, scale);
    QLinearGradient bg(0, 0, 150, 0);
    bg.setColorAt(0, kTealDark);
    bg.setColorAt(1, kTeal.lighter(140));
    g.fillRect(0, 0, 150, 40, bg);
    g.translate(6, 4);
    drawAppIcon(g, 32);
    g.translate(-6, -4);
    QFont f("DejaVu Sans", 13, QFont::Bold);
    f.setPixelSize(17);
    g.setFont(f);
    g.setPen(Qt::white);
    g.drawText(QRect(44, 0, 104, 40), Qt::AlignVCenter | Qt::AlignLeft, "Kestrel");
    return img;
}

QImage aboutPicture() {
    QImage img(452, 239, QImage::Format_RGB32);
    img.fill(QColor(250, 250, 248));
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 452, 0);
    bg.setColorAt(0, kTealDark);
    bg.setColorAt(1, kTeal.lighter(140));
    g.fillRect(0, 0, 452, 84, bg);
    g.translate(16, 10);
    drawAppIcon(g, 64);
    g.resetTransform();
    QFont title("DejaVu Sans", 26, QFont::Bold);
    title.setPixelSize(34);
    g.setFont(title);
    g.setPen(Qt::white);
    g.drawText(QRect(96, 8, 340, 46), Qt::AlignVCenter | Qt::AlignLeft, "Kestrel");
    QFont sub("DejaVu Sans", 10);
    sub.setPixelSize(13);
    g.setFont(sub);
    g.drawText(QRect(98, 52, 340, 24), Qt::AlignVCenter | Qt::AlignLeft, "Pictures and sounds out of SWF movies");
    // A strip of frames along the bottom edge.
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(60, 60, 60));
    g.drawRect(0, 205, 452, 34);
    g.setBrush(QColor(250, 250, 248));
    for (int x = 6; x < 452; x += 18) {
        g.drawRect(x, 208, 8, 5);
        g.drawRect(x, 231, 8, 5);
    }
    for (int i = 0; i < 8; ++i) {
        g.setBrush(i % 2 ? kTeal.lighter(150) : kAmber.lighter(120));
        g.drawRect(8 + i * 56, 215, 48, 14);
    }
    return img;
}

bool save(const QImage& img, const QString& path) {
    if (img.save(path, "PNG")) return true;
    std::fprintf(stderr, "kestrel-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrel-artwork OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    QDir().mkpath(out.filePath("icons"));
    bool ok = true;

    for (int size : {16, 22, 32, 48, 64, 128, 256})
        ok &= save(appIcon(size), out.filePath(QString("icons/kestrel-%1.png").arg(size)));

    // The toolbar strip and the small icons at their own size and at twice
    // it, for screens scaled by 2. Disabled buttons are drawn by the
    // toolkit from the same pictures.
    for (int scale : {1, 2}) {
        const QString suffix = scale == 1 ? QString() : QStringLiteral("@2x");
        QImage strip = scale == 1 ? keyed(7 * 23, 20) : doubled(7 * 23, 20);
        {
            QPainter g(&strip);
            g.scale(scale, scale);
            for (int i = 0; i < 7; ++i) drawToolbarCell(g, i);
        }
        ok &= save(strip, out.filePath(QStringLiteral("toolbar%1.png").arg(suffix)));

        QImage small = scale == 1 ? keyed(66, 22) : doubled(66, 22);
        {
            QPainter g(&small);
            g.scale(scale, scale);
            drawSmallImageIcon(g);
            g.translate(22, 0);
            drawSpeaker(g, kAmber);
            g.translate(22, 0);
            drawFilm(g);
        }
        ok &= save(small, out.filePath(QStringLiteral("small-icons%1.png").arg(suffix)));
    }
    ok &= save(soundPicture(), out.filePath("sound.png"));
    ok &= save(filmPicture(), out.filePath("film.png"));
    ok &= save(thumbnailFrame(), out.filePath("frame.png"));
    ok &= save(banner(1), out.filePath("banner.png"));
    ok &= save(banner(2), out.filePath("banner@2x.png"));
    ok &= save(aboutPicture(), out.filePath("about.png"));
    return ok ? 0 : 1;
}
