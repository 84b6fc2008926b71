#include "ui/list/child_view.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdlib>
#include <unordered_map>

#include "document/swf_document.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"
#include "ui/controls/texts.h"
#include "ui/dialogs/extraction.h"
#include "ui/dialogs/properties_dlg.h"
#include "ui/dialogs/read_progress.h"
#include "ui/frame/commands.h"
#include "ui/list/drag_out.h"
#include "ui/list/list_ctrl.h"
#include "ui/list/list_host.h"
#include "ui/preview/display_bitmap.h"
#include "ui/preview/pict_view.h"
#include "ui/preview/picture_list.h"
#include "ui/preview/view_image.h"
#include "ui/preview/view_sound.h"

namespace kestrel {

namespace {

std::string nativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A small icon for a screen of `ratio` device pixels per pixel.
QPixmap iconCell(const QImage& strip, const QImage& strip2x, int index, qreal ratio) {
    return artwork::cellIcon(strip, strip2x, index, 22).pixmap(QSize(22, 22), ratio);
}

// The reader's messages: none for a read the user cancelled; an error is
// shown once the bar has gone, over a window that shows no file.
class ReadMessages final : public MessageSink {
public:
    ReadMessages(QWidget* owner, KSReadProgress& progress) : owner_(owner), progress_(progress) {}
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
        if (progress_.cancelRequested() || text.empty()) return MessageAnswer::Ok;
        if (icon == MessageIcon::Error) progress_.remove();
        return MessageBoxSink(owner_).show(text, icon, buttons);
    }

private:
    QWidget* owner_;
    KSReadProgress& progress_;
};

}  // namespace

KSChildView::KSChildView(ListHost* frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    list_ = new KSListCtrl(this);
    list_->setObjectName(QStringLiteral("listCtrl"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    setFocusProxy(list_);

    viewMode_ = frame_->initialViewMode() == 1 ? 1 : 0;
    sortKey_ = frame_->initialSortKey();
    list_->setViewMode(viewMode_);

    connect(list_, &KSListCtrl::itemChanged, this, &KSChildView::onItemChanged);
    connect(list_, &KSListCtrl::itemActivated, this, &KSChildView::onItemActivated);
    connect(list_, &KSListCtrl::columnClicked, this, [this](int column) {
        sort(column);
        // The header turns its arrow on any click; it shows the real order.
        showSortIndicator();
        frame_->updateCommandUI();
    });
    connect(list_, &KSListCtrl::contextMenuRequested, this, &KSChildView::showContextMenu);
    connect(list_, &KSListCtrl::dragRequested, this, [this] {
        if (!busy_) SWFDropSource::run(*this);
    });
}

KSChildView::~KSChildView() {
    // The frame and the picture panel are already going: nothing may reach
    // them from here on. (The frame keeps the view mode and sort key.)
    disconnect(list_, nullptr, this, nullptr);
    list_->fill(nullptr);
}

SWFDocument* KSChildView::open(const QString& path) {
    if (busy_) return nullptr;
    // A folder is no movie: refused before the open one is closed.
    if (QFileInfo(path).isDir()) {
        MessageBoxSink(window()).show((path + QStringLiteral(" is a folder, not an SWF movie.")).toStdString(),
                                      MessageIcon::Error, MessageButtons::Ok);
        return nullptr;
    }
    processPendingMessages();
    if (document_) onCommand(kCmdCloseSwf);
    if (document_) return nullptr;

    busy_ = true;
    const WaitCursor wait;
    // The new file's name and the bar show before the first byte is read;
    // Escape or the Cancel button stop the read.
    KSReadProgress progress(frame_->hostWindow());
    const bool withProgress = progress.create(QStringLiteral("Reading ") + QFileInfo(path).fileName(), true);

    auto document = std::make_unique<SWFDocument>();
    ReadMessages messages(window(), progress);
    if (!document->readFile(nativePath(path), withProgress ? &progress : nullptr, &messages)) {
        document.reset();
        onCommand(kCmdCloseSwf);
        progress.remove();
        busy_ = false;
        frame_->updateCommandUI();
        return nullptr;
    }

    const QImage smallStrip = artwork::loadKeyed(QString::fromLatin1(artwork::kSmallIcons));
    const QImage smallStrip2x = artwork::load(QString::fromLatin1(artwork::kSmallIcons2x));
    const qreal ratio = devicePixelRatioF();
    std::vector<QPixmap> smallIcons = {iconCell(smallStrip, smallStrip2x, 0, ratio),
                                       iconCell(smallStrip, smallStrip2x, 1, ratio),
                                       iconCell(smallStrip, smallStrip2x, 2, ratio)};

    if (withProgress) {
        progress.nextPhase();
        progress.setStepCount(document->count());
    }
    // Thumbnails in reading order: 94 x 94 pictures with 3-pixel margins
    // on the 100 x 100 frame.
    document_ = std::move(document);
    ++generation_;
    OBCPictureList thumbnails;
    thumbnails.create(94, 94, artwork::load(QString::fromLatin1(artwork::kThumbnailFrame)), Qt::white, 3, 3);
    const std::unique_ptr<OBPicture> soundPicture =
        pictureFromImage(artwork::load(QString::fromLatin1(artwork::kSoundPicture)));
    const std::unique_ptr<OBPicture> filmPicture =
        pictureFromImage(artwork::load(QString::fromLatin1(artwork::kVideoPicture)));
    for (int i = 0; i < document_->count(); ++i) {
        if (withProgress) {
            progress.setPosition(i);
            progress.keepAlive();
            if (progress.cancelRequested()) {
                // Cancelled late: the movie is dropped as if never read.
                document_.reset();
                ++generation_;
                progress.remove();
                onCommand(kCmdCloseSwf);
                busy_ = false;
                frame_->updateCommandUI();
                return nullptr;
            }
        }
        buildThumbnail(thumbnails, document_->resource(i), soundPicture.get(), filmPicture.get());
    }
    for (int i = 0; i < document_->count(); ++i) {
        SWFRes& record = document_->resource(i);
        record.largeIconIndex = i;
        record.smallIconIndex = record.kind == kKindImage ? 0 : record.kind == kKindVideo ? 2 : 1;
    }
    list_->setLargeIcons(thumbnails.takeImages());
    list_->setSmallIcons(std::move(smallIcons));

    progress.remove();
    path_ = path;
    frame_->updateTitle();
    fillList();
    setViewMode(viewMode_);
    frame_->updateStatusTexts();
    if (KSPictView* pict = frame_->pictView()) pict->update();
    busy_ = false;
    frame_->updateCommandUI();
    return document_.get();
}

namespace {

// Asked between rows while a large picture is scaled: lets the window
// repaint now and then; never cancels.
bool keepPainting(void* context) {
    auto* clock = static_cast<QElapsedTimer*>(context);
    if (clock->elapsed() >= 50) {
        processPendingMessages();
        clock->restart();
    }
    return false;
}

}  // namespace

void KSChildView::buildThumbnail(OBCPictureList& thumbnails, SWFRes& record, const OBPicture* soundPicture,
                                 const OBPicture* filmPicture) {
    const OBPicture* picture = soundPicture;
    bool premultiplied = false;
    if (record.kind == kKindImage) {
        const auto* image = dynamic_cast<const SWFImage*>(&record);
        picture = image ? image->payload.get() : nullptr;
        premultiplied = image && image->premultiplied;
    } else if (record.kind == kKindVideo) {
        // The first frame, or the film picture when it did not decode.
        const auto* video = dynamic_cast<const SWFVideo*>(&record);
        picture = video && video->firstFrame ? video->firstFrame.get() : filmPicture;
    }
    const float aspect = picture && picture->height() > 0 ? float(picture->width()) / float(picture->height()) : 1.0f;
    QElapsedTimer clock;
    clock.start();
    thumbnails.add(picture, aspect, &record.thumbnail, premultiplied, &keepPainting, &clock);
}

void KSChildView::close() {
    if (!path_.isEmpty()) {
        frame_->addRecentFile(path_);
    }
    path_.clear();
    list_->fill(nullptr);
    document_.reset();
    ++generation_;
    list_->setLargeIcons({});
    list_->setSmallIcons({});
    if (KSPictView* pict = frame_->pictView()) {
        pict->clear();
        frame_->updateTitle();
        pict->repaint();
    } else {
        frame_->updateTitle();
    }
    fillList();
    // The panes and the commands no longer describe the closed file.
    frame_->updateStatusTexts();
    frame_->setDescription(QString());
    frame_->updateCommandUI();
}

void KSChildView::fillList() {
    list_->fill(nullptr);
    if (!document_) {
        showSortIndicator();
        return;
    }
    document_->sort(sortKey_);
    ++generation_;
    setViewMode(viewMode_);
    list_->model()->setFileNaming(frame_->extractOptions().naming);
    list_->fill(document_.get());
    showSortIndicator();
}

void KSChildView::showSortIndicator() {
    const int column = int(std::abs(std::int64_t(sortKey_))) - 1;
    list_->setSortIndicator(document_ && column >= 0 && column <= 3 ? column : -1, sortKey_ > 0);
}

void KSChildView::sort(int column) {
    if (!document_ || column < 0 || column > 3) return;
    const int wanted = column + 1;
    sortKey_ = std::abs(std::int64_t(sortKey_)) == wanted ? -sortKey_ : wanted;
    // The list keeps its selection on the records, not on the rows.
    const int n = document_->count();
    std::vector<const SWFRes*> before(std::size_t(n), nullptr);
    for (int i = 0; i < n; ++i) before[std::size_t(i)] = &document_->resource(i);
    document_->sort(sortKey_);
    std::unordered_map<const SWFRes*, int> rowOf;
    rowOf.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) rowOf.emplace(&document_->resource(i), i);
    std::vector<int> newRowOf(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) newRowOf[std::size_t(i)] = rowOf.at(before[std::size_t(i)]);
    ++generation_;
    list_->reorder(newRowOf);
    showSortIndicator();
    onItemChanged();
}

bool KSChildView::setViewMode(int mode) {
    if (!list_->setViewMode(mode)) return false;
    viewMode_ = mode;
    return true;
}

std::vector<int> KSChildView::selectedIndices() const { return list_->selectedIndices(); }

bool KSChildView::onCommand(int id) {
    switch (id) {
        case kCmdOpen: openDialog(); return true;
        case kCmdOpenInternetCache: openInternetCache(); return true;
        case kCmdCloseSwf: close(); return true;
        case kCmdLaunchSwf: launch(); return true;
        case kCmdExtract: extract(); return true;
        case kCmdView: view(); return true;
        case kCmdSelectAll: selectAll(); return true;
        case kCmdInvertSelection: invertSelection(); return true;
        case kCmdProperties: properties(); return true;
        case kCmdLargeIcons: setViewMode(0); return true;
        case kCmdDetails: setViewMode(1); return true;
        case kCmdSortType: sort(0); return true;
        case kCmdSortFrame: sort(1); return true;
        case kCmdSortMemory: sort(2); return true;
        case kCmdSortDimension: sort(3); return true;
        default: return false;
    }
}

std::optional<CommandState> KSChildView::commandState(int id) const {
    const bool open = document_ != nullptr;
    switch (id) {
        case kCmdOpen:
        case kCmdOpenInternetCache: return CommandState{true, false};
        case kCmdCloseSwf:
        case kCmdLaunchSwf:
        case kCmdExtract:
        case kCmdSelectAll:
        case kCmdInvertSelection: return CommandState{open, false};
        case kCmdSortType: return CommandState{open, open && std::abs(std::int64_t(sortKey_)) == 1};
        case kCmdSortFrame: return CommandState{open, open && std::abs(std::int64_t(sortKey_)) == 2};
        case kCmdSortMemory: return CommandState{open, open && std::abs(std::int64_t(sortKey_)) == 3};
        case kCmdSortDimension: return CommandState{open, open && std::abs(std::int64_t(sortKey_)) == 4};
        case kCmdView:
        case kCmdProperties: return CommandState{open && list_->selectedCount() == 1, false};
        case kCmdLargeIcons: return CommandState{open, open && viewMode_ == 0};
        case kCmdDetails: return CommandState{open, open && viewMode_ == 1};
        default: return std::nullopt;
    }
}

void KSChildView::openDialog() {
    const QString path = QFileDialog::getOpenFileName(window(), QStringLiteral("Open"), QString(),
                                                      QString::fromLatin1(text::kOpenFilter));
    if (!path.isEmpty()) open(path);
}

void KSChildView::openInternetCache() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    // A file browser asked for a missing folder opens nothing at all.
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    openOnDesktop(window(), folder);
}

void KSChildView::launch() {
    if (!path_.isEmpty()) openOnDesktop(window(), path_);
}

void KSChildView::view() {
    if (!document_) return;
    const std::vector<int> selected = list_->selectedIndices();
    if (selected.size() != 1 || selected.front() >= document_->count()) return;
    const SWFRes& record = document_->resource(selected.front());
    const std::optional<QPoint> anchor = previewAnchor(selected.front());
    if (const auto* image = dynamic_cast<const SWFImage*>(&record)) {
        KSViewImage preview(*image, window(), anchor);
        preview.exec();
    } else if (const auto* sound = dynamic_cast<const SWFSound*>(&record)) {
        KSViewSound preview(*sound, window(), anchor);
        preview.exec();
    } else if (const auto* video = dynamic_cast<const SWFVideo*>(&record)) {
        KSViewImage preview(*video, window(), anchor);
        preview.exec();
    }
}

void KSChildView::properties() {
    if (!document_) return;
    const std::vector<int> selected = list_->selectedIndices();
    if (selected.size() != 1 || selected.front() >= document_->count()) return;
    KSPropertiesDlg dialog(document_->resource(selected.front()), window());
    dialog.exec();
}

void KSChildView::extract() {
    if (!document_ || busy_) return;
    // While the files are written nothing may open or close a document.
    busy_ = true;
    // The outcome of an earlier extraction is no longer news.
    if (frame_->showingResult()) frame_->updateStatusTexts();
    const ExtractChoices choices{frame_->extractOptions(),
                                 [this](const WriteOptions& options) { frame_->setExtractOptions(options); },
                                 [this] { frame_->onCommand(kCmdHelpContents); }};
    const std::optional<QString> result =
        extractResources(*frame_->hostWindow(), *document_, path_, list_->selectedIndices(), choices);
    busy_ = false;
    // The "File" column names the files as the dialog's choice does.
    list_->model()->setFileNaming(frame_->extractOptions().naming);
    if (result) frame_->showResult(*result);
}

void KSChildView::selectAll() {
    list_->selectAll();
    frame_->updateStatusTexts();
}

void KSChildView::invertSelection() {
    list_->invertSelection();
    frame_->updateStatusTexts();
}

void KSChildView::onItemChanged() {
    KSPictView* pict = frame_->pictView();
    if (pict && pict->showFocusedItem()) frame_->updateStatusTexts();
    frame_->updateCommandUI();
}

void KSChildView::onItemActivated(int) {
    frame_->updateStatusTexts();
    activatedByMouse_ = true;
    if (document_) frame_->onCommand(kCmdView);
    activatedByMouse_ = false;
}

std::optional<QPoint> KSChildView::previewAnchor(int row) const {
    // A double click in the window: the preview comes up under the pointer.
    if (activatedByMouse_ && window()->frameGeometry().contains(QCursor::pos())) return std::nullopt;
    // From the keyboard, a menu or the toolbar: over the item when it can be
    // seen, else over the middle of the window.
    const QAbstractItemView* view = list_->currentView();
    const QRect item = list_->itemRect(row);
    if (item.isValid() && view->viewport()->rect().contains(item.center()))
        return view->viewport()->mapToGlobal(item.center());
    return window()->mapToGlobal(window()->rect().center());
}

std::unique_ptr<QMenu> KSChildView::buildContextMenu(int row) {
    auto menu = std::make_unique<QMenu>(this);
    const bool open = document_ != nullptr;
    auto add = [this, &menu](int id, const QString& label, bool enabled) {
        QAction* a = menu->addAction(label);
        a->setData(id);
        a->setEnabled(enabled);
        a->setStatusTip(commandStatusText(id));
        connect(a, &QAction::triggered, this, [this, id] {
            onCommand(id);
            frame_->updateCommandUI();
        });
    };
    // The labels are the main menus'; the enabling rules are this menu's own.
    if (row >= 0) {
        const int selected = list_->selectedCount();
        add(kCmdExtract, commandLabel(kCmdExtract), selected >= 1);
        add(kCmdView, commandLabel(kCmdView), selected == 1);
        add(kCmdProperties, commandLabel(kCmdProperties), selected == 1);
    } else {
        add(kCmdLargeIcons, commandLabel(kCmdLargeIcons), true);
        add(kCmdDetails, commandLabel(kCmdDetails), true);
        menu->addSeparator();
        for (int id : {kCmdSortType, kCmdSortFrame, kCmdSortMemory, kCmdSortDimension}) add(id, commandLabel(id), open);
    }
    return menu;
}

void KSChildView::showContextMenu(const QPoint& globalPos, int row) {
    std::unique_ptr<QMenu> menu = buildContextMenu(row);
    menu->exec(globalPos);
}

}  // namespace kestrel
