// The list pane: owns the open document and the resource list, and
// carries out nearly every command of the main window.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ui/frame/commands.h"

class QMenu;

namespace kestrel {

class ListHost;
class KSListCtrl;
class OBCPictureList;
class OBPicture;
class SWFDocument;
class SWFRes;

class KSChildView : public QWidget {
    Q_OBJECT
public:
    KSChildView(ListHost* frame, QWidget* parent);
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
    ListHost* host() const { return frame_; }
    KSListCtrl* listCtrl() const { return list_; }
    const QString& path() const { return path_; }
    int viewMode() const { return viewMode_; }
    int sortKey() const { return sortKey_; }
    // True while a file is being read or resources are being extracted.
    bool busy() const { return busy_; }
    // Changes whenever another document opens or closes or the records
    // change places: positions taken before are then no longer valid.
    std::uint64_t generation() const { return generation_; }

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
    void showSortIndicator();
    void onItemActivated(int row);
    // Where a preview of `row` opens; null for the pointer.
    std::optional<QPoint> previewAnchor(int row) const;
    void showContextMenu(const QPoint& globalPos, int row);
    // Appends the record's thumbnail to `thumbnails`: its picture scaled
    // (cached in the record) for an image, `soundPicture` for a sound, the
    // first frame (or `filmPicture` when it did not decode) for a video.
    static void buildThumbnail(OBCPictureList& thumbnails, SWFRes& record, const OBPicture* soundPicture,
                               const OBPicture* filmPicture);

    ListHost* frame_;
    KSListCtrl* list_;
    QString path_;
    std::unique_ptr<SWFDocument> document_;
    int viewMode_ = 0;
    int sortKey_ = 1;
    bool busy_ = false;
    bool activatedByMouse_ = false;
    std::uint64_t generation_ = 0;
};

}  // namespace kestrel
