// A window's saved placement: the show command and the normal rectangle,
// stored as the string "0,flags,show,minx,miny,maxx,maxy,left,top,right,bottom".
#pragma once

#include <QPoint>
#include <QString>

class QWidget;

namespace kestrel {

inline constexpr int kShowNormal = 1;
inline constexpr int kShowMaximized = 3;

struct PlacementRecord {
    int flags = 0;
    int showCommand = kShowMaximized;
    QPoint minPosition{0, 0};
    QPoint maxPosition{400, 400};
    int left = 0, top = 0, right = 400, bottom = 400;
};

class OBWndPlacement {
public:
    // Exactly 11 integers, separated by commas; the first is ignored.
    static bool parse(const QString& text, PlacementRecord& record);
    static QString format(const PlacementRecord& record);

    // Reads "WindowPlacement" under `key` of the per-user settings.
    bool load(const QString& key);
    // Load, then apply the normal rectangle (clamped onto a screen that
    // exists); without `resizable` only the position is taken.
    bool restore(const QString& key, QWidget* window, bool resizable);
    // Nothing is saved while the window is minimised.
    bool save(const QString& key, const QWidget* window);
    // Shows the window with the loaded show command: maximised for 3,
    // normal otherwise.
    void show(QWidget* window) const;

    bool valid() const { return valid_; }
    const PlacementRecord& record() const { return record_; }

private:
    bool valid_ = false;
    PlacementRecord record_;
};

}  // namespace kestrel
