#include "ui/controls/control_library.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QIcon>
#include <cmath>
#include <optional>

#include "reader/picture/png_codec.h"

// The artwork is compiled into this static library; its registration has
// to be pulled in explicitly.
static void initArtworkResources() { Q_INIT_RESOURCE(kestrel); }

namespace kestrel {

namespace {

struct LibraryState {
    ControlLibraryOptions options;
    std::optional<QFont> font1;
    std::optional<QFont> font2;
    bool initialised = false;
};

LibraryState& state() {
    static LibraryState s;
    return s;
}

QFont makeUiFont(bool second) {
    QFont font = QApplication::font();
    if (state().options.preferTahoma && QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
        font.setFamily(QStringLiteral("Tahoma"));
        return font;
    }
    if (font.family() == QLatin1String("MS Shell Dlg")) font.setFamily(QStringLiteral("MS Shell Dlg 2"));
    if (second && font.family() == QLatin1String("MS Sans Serif")) font.setFamily(QStringLiteral("Arial"));
    return font;
}

void createFonts() {
    if (!state().font1) state().font1 = makeUiFont(false);
    if (!state().font2) state().font2 = makeUiFont(true);
}

}  // namespace

bool ControlLibrary::initialise() {
    initArtworkResources();
    createFonts();
    // The shared artwork must be present: every window of the program
    // draws with it.
    for (const char* name : {artwork::kToolbar, artwork::kSmallIcons, artwork::kThumbnailFrame, artwork::kBanner}) {
        if (artwork::load(QString::fromLatin1(name)).isNull()) return false;
    }
    state().initialised = true;
    return true;
}

void ControlLibrary::release() {
    state().font1.reset();
    state().font2.reset();
    state().initialised = false;
}

bool ControlLibrary::initialised() { return state().initialised; }

ControlLibraryOptions& ControlLibrary::options() { return state().options; }

QFont ControlLibrary::uiFont() {
    createFonts();
    return *state().font1;
}

QFont ControlLibrary::uiFont2() {
    createFonts();
    return *state().font2;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    baseX_ = metrics.averageCharWidth() / 4.0;
    baseY_ = metrics.height() / 8.0;
}

int DialogUnits::x(double u) const { return int(std::lround(u * baseX_)); }
int DialogUnits::y(double v) const { return int(std::lround(v * baseY_)); }

void processPendingMessages() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

CursorLift::CursorLift() {
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
        ++lifted_;
    }
}

CursorLift::~CursorLift() {
    for (int i = 0; i < lifted_; ++i) QApplication::setOverrideCursor(Qt::WaitCursor);
}

namespace artwork {

QImage load(const QString& resource) {
    initArtworkResources();
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    auto picture =
        readPng(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()), nullptr, nullptr);
    if (!picture) return {};
    auto display = picture->toDisplay();
    if (!display) return {};
    const bool alpha = display->format() == kFormatRGBA;
    const int w = display->width();
    const int h = display->height();
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        // Picture rows are stored bottom-up.
        const std::uint8_t* src = display->row(h - 1 - y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            dst[x] = alpha ? qRgba(src[0], src[1], src[2], src[3]) : qRgb(src[0], src[1], src[2]);
            src += alpha ? 4 : 3;
        }
    }
    return image;
}

QImage loadKeyed(const QString& resource) {
    QImage image = load(resource);
    if (image.isNull()) return image;
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = qRgb(255, 0, 255);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] | 0xFF000000u) == key) line[x] = qRgba(0, 0, 0, 0);
    }
    return image;
}

QPixmap cell(const QImage& strip, int index, int cellWidth) {
    if (strip.isNull() || index < 0 || (index + 1) * cellWidth > strip.width()) return {};
    return QPixmap::fromImage(strip.copy(index * cellWidth, 0, cellWidth, strip.height()));
}

QIcon cellIcon(const QImage& strip, const QImage& strip2x, int index, int cellWidth) {
    QIcon icon;
    const QPixmap normal = cell(strip, index, cellWidth);
    if (!normal.isNull()) icon.addPixmap(normal);
    QPixmap large = cell(strip2x, index, 2 * cellWidth);
    if (!large.isNull()) {
        large.setDevicePixelRatio(2);
        icon.addPixmap(large);
    }
    return icon;
}

QIcon programIcon() {
    QIcon icon;
    for (const char* name : {kIcon16, kIcon32, kIcon48, kIcon64}) {
        const QImage image = load(QString::fromLatin1(name));
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace artwork

}  // namespace kestrel
