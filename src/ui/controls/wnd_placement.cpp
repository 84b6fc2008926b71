#include "ui/controls/wnd_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QWidget>
#include <algorithm>

namespace kestrel {

namespace {

QString valueName(const QString& key) { return key + QStringLiteral("/WindowPlacement"); }

// The screen area a rectangle should be placed on: the screen holding most
// of it, else the primary screen.
QRect targetArea(const QRect& rect) {
    QRect best;
    qint64 bestArea = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect overlap = screen->availableGeometry().intersected(rect);
        const qint64 area = qint64(overlap.width()) * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen->availableGeometry();
        }
    }
    if (best.isNull() && QGuiApplication::primaryScreen()) best = QGuiApplication::primaryScreen()->availableGeometry();
    return best;
}

QRect clampOntoScreen(QRect rect) {
    const QRect area = targetArea(rect);
    if (area.isNull()) return rect;
    rect.setWidth(std::min(rect.width(), area.width()));
    rect.setHeight(std::min(rect.height(), area.height()));
    rect.moveLeft(std::clamp(rect.left(), area.left(), area.right() + 1 - rect.width()));
    rect.moveTop(std::clamp(rect.top(), area.top(), area.bottom() + 1 - rect.height()));
    return rect;
}

}  // namespace

bool OBWndPlacement::parse(const QString& text, PlacementRecord& record) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 11) return false;
    int v[11];
    for (int i = 0; i < 11; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) return false;
    }
    record.flags = v[1];
    record.showCommand = v[2];
    record.minPosition = QPoint(v[3], v[4]);
    record.maxPosition = QPoint(v[5], v[6]);
    record.left = v[7];
    record.top = v[8];
    record.right = v[9];
    record.bottom = v[10];
    return true;
}

QString OBWndPlacement::format(const PlacementRecord& r) {
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11")
        .arg(0)
        .arg(r.flags)
        .arg(r.showCommand)
        .arg(r.minPosition.x())
        .arg(r.minPosition.y())
        .arg(r.maxPosition.x())
        .arg(r.maxPosition.y())
        .arg(r.left)
        .arg(r.top)
        .arg(r.right)
        .arg(r.bottom);
}

bool OBWndPlacement::load(const QString& key) {
    const QSettings settings;
    const QVariant value = settings.value(valueName(key));
    // A hand-edited value without quotes reads back as a list.
    const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                                  : value.toString();
    PlacementRecord record;
    if (!parse(text, record)) return false;
    record_ = record;
    valid_ = true;
    return true;
}

bool OBWndPlacement::restore(const QString& key, QWidget* window, bool resizable) {
    if (!load(key) || !window) return false;
    QRect rect(QPoint(record_.left, record_.top), QPoint(record_.right - 1, record_.bottom - 1));
    if (!resizable || rect.width() <= 0 || rect.height() <= 0) rect.setSize(window->size());
    rect = clampOntoScreen(rect);
    window->setGeometry(rect);
    return true;
}

bool OBWndPlacement::save(const QString& key, const QWidget* window) {
    if (!window || window->isMinimized()) return false;
    const bool maximised = window->isMaximized() || window->isFullScreen();
    const QRect normal = maximised ? window->normalGeometry() : window->geometry();
    PlacementRecord record;
    record.flags = 0;
    record.showCommand = maximised ? kShowMaximized : kShowNormal;
    record.minPosition = QPoint(-1, -1);
    record.maxPosition = QPoint(-1, -1);
    record.left = normal.left();
    record.top = normal.top();
    record.right = normal.left() + normal.width();
    record.bottom = normal.top() + normal.height();
    QSettings settings;
    settings.setValue(valueName(key), format(record));
    record_ = record;
    valid_ = true;
    return true;
}

void OBWndPlacement::show(QWidget* window) const {
    if (record_.showCommand == kShowMaximized)
        window->showMaximized();
    else
        window->showNormal();
}

}  // namespace kestrel
