#include "ui/list/drag_out.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QMainWindow>
#include <QPainter>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QUrl>
#include <cstring>
#include <memory>
#include <new>

#include "document/swf_document.h"
#include "ui/controls/control_library.h"
#include "ui/controls/status_bar_progress.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui/list/list_host.h"

namespace kestrel {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
constexpr int kCursorOffset = 8;
constexpr int kDescriptionPane = 1;

std::unique_ptr<QTemporaryDir>& folderHolder() {
    // Destroyed, and the folder with it, when the process ends normally.
    static std::unique_ptr<QTemporaryDir> holder;
    return holder;
}

}  // namespace

// ---- DragOutFolder ----

QString DragOutFolder::path() {
    std::unique_ptr<QTemporaryDir>& holder = folderHolder();
    if (!holder) {
        auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kestrel-drag-XXXXXX"));
        if (!folder->isValid()) return {};
        holder = std::move(folder);
        // The application object goes before the static objects do.
        if (QCoreApplication::instance()) qAddPostRoutine(&DragOutFolder::remove);
    }
    return holder->path();
}

void DragOutFolder::clear() {
    const std::unique_ptr<QTemporaryDir>& holder = folderHolder();
    if (!holder) return;
    QDir folder(holder->path());
    for (const QFileInfo& entry :
         folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            folder.remove(entry.fileName());
    }
}

void DragOutFolder::remove() { folderHolder().reset(); }

// ---- SWFDragData ----

SWFDragData::SWFDragData(KSChildView* pane, std::vector<int> indices, const QString& folder,
                         const WriteOptions& options)
    : pane_(pane), generation_(pane->generation()), indices_(std::move(indices)), options_(options) {
    const SWFDocument* document = pane->document();
    for (int index : indices_) {
        QString name;
        if (document && index >= 0 && index < document->count())
            name = QFile::decodeName(QByteArray::fromStdString(
                document->resourceFileName(index, document->resource(index).number, options_.naming)));
        paths_.push_back(QDir(folder).filePath(name));
    }
}

QStringList SWFDragData::formats() const { return {kUriList}; }

bool SWFDragData::hasFormat(const QString& mimeType) const { return mimeType == kUriList; }

QVariant SWFDragData::retrieveData(const QString& mimeType, QMetaType) const {
    if (mimeType != kUriList) return {};
    if (!requested_) {
        requested_ = true;
        try {
            writeFiles();
        } catch (const std::bad_alloc&) {
            uriList_.clear();
        }
    }
    return uriList_;
}

void SWFDragData::writeFiles() const {
    KSChildView* pane = pane_.data();
    const SWFDocument* document = pane ? pane->document() : nullptr;
    // The records may have moved or gone since the drag began.
    if (!document || pane->generation() != generation_) return;

    const WaitCursor wait;
    // No event processing here: a target may be asking from inside the
    // drag loop or from a selection request.
    OBCStatusBarProgress progress(qobject_cast<QMainWindow*>(pane->window()));
    const bool withProgress = !pane->busy() &&
                              progress.create(QString(), -1, int(indices_.size()), true, kDescriptionPane);
    for (std::size_t i = 0; i < indices_.size(); ++i) {
        if (withProgress) {
            progress.setPosition(int(i));
            if (QProgressBar* bar = progress.bar()) bar->repaint();
        }
        const int index = indices_[i];
        if (index < 0 || index >= document->count()) continue;
        const QByteArray path = QFile::encodeName(paths_[i]);
        if (writeResourceFile(document->resource(index), path.toStdString(), options_) != WriteOk) continue;
        uriList_ += QUrl::fromLocalFile(paths_[i]).toEncoded();
        uriList_ += "\r\n";
    }
    if (withProgress) progress.remove();
}

// ---- SWFDropSource ----

SWFDragData* SWFDropSource::makeData(KSChildView& pane) {
    if (!pane.document()) return nullptr;
    std::vector<int> indices = pane.selectedIndices();
    if (indices.empty()) return nullptr;
    DragOutFolder::clear();
    const QString folder = DragOutFolder::path();
    if (folder.isEmpty()) return nullptr;
    return new SWFDragData(&pane, std::move(indices), folder, pane.host()->extractOptions());
}

Qt::DropAction SWFDropSource::run(KSChildView& pane) {
    try {
        SWFDragData* data = makeData(pane);
        if (!data) return Qt::IgnoreAction;
        QAbstractItemView* view = pane.listCtrl()->currentView();
        auto* drag = new QDrag(view);  // the drag machinery deletes it
        drag->setMimeData(data);
        QPoint hotSpot;
        const QPoint cursor = view->viewport()->mapFromGlobal(QCursor::pos());
        drag->setPixmap(dragPixmap(pane, pane.selectedIndices(), cursor, hotSpot));
        drag->setHotSpot(hotSpot);
        return drag->exec(Qt::CopyAction, Qt::CopyAction);
    } catch (const std::bad_alloc&) {
        return Qt::IgnoreAction;
    }
}

QPixmap SWFDropSource::dragPixmap(KSChildView& pane, const std::vector<int>& indices, const QPoint& cursor,
                                  QPoint& hotSpot) {
    KSListCtrl* list = pane.listCtrl();
    const SWFDocument* document = pane.document();
    if (!document || indices.empty()) return {};

    if (indices.size() == 1) {
        hotSpot = QPoint(-kCursorOffset, -kCursorOffset);
        const int index = indices.front();
        if (index < 0 || index >= document->count()) return {};
        const SWFRes& record = document->resource(index);
        if (record.thumbnail) {
            const QImage image = pictureImage(*record.thumbnail);
            if (!image.isNull()) return QPixmap::fromImage(image);
        }
        const QPixmap* icon = list->viewMode() == 0 ? list->largeIcon(record.largeIconIndex)
                                                    : list->smallIcon(record.smallIconIndex);
        return icon ? *icon : QPixmap();
    }

    // The outlines of the visible selected items: icon and label in large
    // icons, the row in details.
    QAbstractItemView* view = list->currentView();
    const QRect visible = view->viewport()->rect();
    const auto* delegate = qobject_cast<const IconDelegate*>(list->iconView()->itemDelegate());
    std::vector<QRect> outlines;
    for (int row : indices) {
        const QRect item = list->itemRect(row);
        if (!item.intersects(visible)) continue;
        if (list->viewMode() == 0 && delegate) {
            outlines.push_back(IconDelegate::iconRect(item));
            outlines.push_back(delegate->labelRect(item, view->fontMetrics(), list->model()->index(row, 0)));
        } else {
            outlines.emplace_back(0, item.top(), visible.width(), item.height());
        }
    }
    QRect bounds;
    for (const QRect& r : outlines) bounds |= r;
    if (bounds.isEmpty()) {
        hotSpot = QPoint(-kCursorOffset, -kCursorOffset);
        QPixmap none(1, 1);
        none.fill(Qt::transparent);
        return none;
    }
    QPixmap pixmap(bounds.size());
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.translate(-bounds.topLeft());
    for (const QRect& r : outlines) {
        const QRect edge = r.adjusted(0, 0, -1, -1);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(edge);
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(edge);
    }
    painter.end();
    hotSpot = cursor - bounds.topLeft() - QPoint(kCursorOffset, kCursorOffset);
    return pixmap;
}

QImage pictureImage(const OBPicture& picture) {
    const std::unique_ptr<OBPicture> display = picture.toDisplay();
    if (!display || !display->isValid()) return {};
    const bool alpha = display->format() == kFormatRGBA;
    QImage image(display->width(), display->height(), alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull()) return {};
    const std::size_t rowBytes = std::size_t(display->width()) * (alpha ? 4 : 3);
    for (int y = 0; y < display->height(); ++y)
        std::memcpy(image.scanLine(y), display->row(display->height() - 1 - y), rowBytes);
    return image;
}

}  // namespace kestrel
