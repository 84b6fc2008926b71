// Dragging resources out of the list: another program receives ordinary
// files, named as the Extract command names them. The files are written
// into this process's own temporary folder when the drop target first asks
// for them, so a cancelled drag or a drop refused by the target writes
// nothing. They stay until the next drag starts or the program ends, as
// file managers copy them after the drop has returned.
#pragma once

#include <QMimeData>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <vector>

#include "document/swf_res.h"

namespace kestrel {

class KSChildView;
class KSListCtrl;

// The folder of this process's drag-out files.
class DragOutFolder {
public:
    // Created on first use; empty when it cannot be created.
    static QString path();
    // Removes everything in it (a new drag starts).
    static void clear();
    // Removes the folder itself (the program ends).
    static void remove();
};

// The data of one drag: a text/uri-list of the files, written on the first
// request. Nothing is delivered when the document changed since the drag
// began (another file, or the records moved), and a resource that cannot
// be written is left out.
class SWFDragData final : public QMimeData {
    Q_OBJECT
public:
    SWFDragData(KSChildView* pane, std::vector<int> indices, const QString& folder, const WriteOptions& options);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

    // The full path of each index, in the order of the indices.
    const std::vector<QString>& paths() const { return paths_; }
    // Whether a target has asked for the files.
    bool requested() const { return requested_; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    void writeFiles() const;

    QPointer<KSChildView> pane_;
    std::uint64_t generation_ = 0;
    std::vector<int> indices_;
    std::vector<QString> paths_;
    WriteOptions options_;
    mutable bool requested_ = false;
    mutable QByteArray uriList_;
};

class SWFDropSource {
public:
    // Runs a copy drag of the pane's selected resources; returns once the
    // drag is over. IgnoreAction when it did not start or was refused.
    static Qt::DropAction run(KSChildView& pane);

    // The data a drag of the selected resources offers (null without a
    // document, a selection or a temporary folder). Empties the temporary
    // folder.
    static SWFDragData* makeData(KSChildView& pane);

    // What follows the cursor: the thumbnail of a single resource (its list
    // icon while it has none) at (8, 8) from the cursor; for several, the
    // outlines of the selected items as they lie in the list, moved by
    // (8, 8). `cursor` is in the list view's viewport.
    static QPixmap dragPixmap(KSChildView& pane, const std::vector<int>& indices, const QPoint& cursor,
                              QPoint& hotSpot);
};

// The picture as a QImage (null when it cannot be shown).
QImage pictureImage(const OBPicture& picture);

}  // namespace kestrel
