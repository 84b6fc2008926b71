// The list pane: owns the open document and the resource list, and
// carries out nearly every command of the main window.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "ui/frame/main_frame.h"

class QMenu;

namespace kestrel {

class KSListCtrl;
class SWFDocument;

class KSChildView : public QWidget {
    Q_OBJECT
public:
    KSChildView(KSMainFrame* frame, QWidget* parent);
    ~KSChildView() override;

    // Closes any open file, then reads `path`; null when it was not
    // opened (the reason has been shown).
    SWFDocument* open(const QString& path);
    void close();
    void fillList();
    // Column 0..3: type, frame, memory, dimension. Choosing the current
    // column again flips the direction.
    void sort(int column);
    bool setViewMode(int mode);
    std::vector<int> selectedIndices() const;

    bool onCommand(int id);
    std::optional<CommandState> commandState(int id) const;

    // The menu of a right click: on an item (row >= 0) or on empty space.
    std::unique_ptr<QMenu> buildContextMenu(int row);

    SWFDocument* document() const { return document_.get(); }
    KSListCtrl* listCtrl() const { return list_; }
    const QString& path() const { return path_; }
    int viewMode() const { return viewMode_; }
    int sortKey() const { return sortKey_; }
    // True while a file is being read.
    bool busy() const { return busy_; }

private:
    void openDialog();
    void openInternetCache();
    void launch();
    void view();
    void properties();
    void extract();
    void selectAll();
    void invertSelection();
    void onItemChanged();
    void onItemActivated(int row);
    void showContextMenu(const QPoint& globalPos, int row);
    struct ThumbnailArt {
        QPixmap frame;         // 100 x 100 background of every thumbnail
        QPixmap imageIcon;     // 22 x 22
        QPixmap soundPicture;  // 23 x 22
    };
    // The 100 x 100 large-icon picture of a record kind.
    static QPixmap buildThumbnail(int kind, const ThumbnailArt& art);

    KSMainFrame* frame_;
    KestrelApp* app_;
    KSListCtrl* list_;
    QString path_;
    std::unique_ptr<SWFDocument> document_;
    int viewMode_ = 0;
    int sortKey_ = 1;
    bool busy_ = false;
};

// Lets queued window events run (painting, timers) but no user input.
void processPendingMessages();

}  // namespace kestrel
