#include "ui/list/list_ctrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <algorithm>

#include "document/swf_document.h"
#include "document/symbol_names.h"
#include "ui/controls/text_fit.h"

namespace kestrel {

namespace {

constexpr int kIconCell = 100;
constexpr int kIconItemWidth = 124;
constexpr int kLabelLines = 3;
const QColor kSelection = QColor::fromRgb(kSelectionColour);

constexpr int kColumns = ResourceModel::kColumns;
const char* const kHeaders[kColumns] = {"Type", "Frame", "Size", "Dimension", "#", "Name", "File", "Origin"};
const Qt::Alignment kAlignments[kColumns] = {Qt::AlignLeft,  Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter,
                                             Qt::AlignRight, Qt::AlignLeft, Qt::AlignLeft,  Qt::AlignLeft};
const QString kWidthsKey = QStringLiteral("Details/ColumnWidths");

void drawFocusRect(QPainter* painter, const QRect& rect) {
    painter->save();
    QPen pen(Qt::black, 1, Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

QString nameString(const std::string& name) { return QString::fromStdString(nameText(name)); }

bool isEnter(const QKeyEvent* event) { return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter; }

}  // namespace

// ---- ResourceModel ----

void ResourceModel::fill(const SWFDocument* document) {
    beginResetModel();
    document_ = document;
    rows_ = document ? document->count() : 0;
    endResetModel();
}

void ResourceModel::clear() { fill(nullptr); }

void ResourceModel::setFileNaming(FileNaming naming) {
    if (naming_ == naming) return;
    naming_ = naming;
    if (rows_ > 0) emit dataChanged(index(0, kFileColumn), index(rows_ - 1, kFileColumn));
}

void ResourceModel::refresh() {
    if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, kColumns - 1));
}

int ResourceModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int ResourceModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant ResourceModel::data(const QModelIndex& index, int role) const {
    if (!document_ || !index.isValid() || index.row() >= rows_ || index.row() >= document_->count()) return {};
    const SWFRes& record = document_->resource(index.row());
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case 0: return QString::fromStdString(record.typeText);
                case 1: return QString::fromStdString(record.frameText);
                case 2: return QString::fromStdString(record.memoryText);
                case 3: return QString::fromStdString(record.sizeText);
                case 4: return QString::number(record.number);
                case kFileColumn:
                    return QString::fromStdString(document_->resourceFileName(index.row(), record.number, naming_));
                case kNameColumn: return record.names.empty() ? QString() : nameString(record.names.front());
                case kOriginColumn: return QString::fromStdString(record.container);
                default: return {};
            }
        case Qt::ToolTipRole: {
            // Every name, one a line, over the name cell and over the icon.
            if (record.names.empty() || (index.column() != kNameColumn && index.column() != 0)) return {};
            QStringList lines;
            for (const std::string& name : record.names) lines << nameString(name);
            return lines.join(QLatin1Char('\n'));
        }
        case IconLabelRole:
            return QStringLiteral("#%1 %2").arg(record.number).arg(QString::fromStdString(record.typeText));
        case NameRole: return record.names.empty() ? QString() : nameString(record.names.front());
        case Qt::TextAlignmentRole:
            return int(kAlignments[std::clamp(index.column(), 0, kColumns - 1)] | Qt::AlignVCenter);
        case SmallIconRole: return record.smallIconIndex;
        case LargeIconRole: return record.largeIconIndex;
        default: return {};
    }
}

Qt::ItemFlags ResourceModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.isValid() ? base | Qt::ItemIsDragEnabled : base;
}

QVariant ResourceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
    if (role == Qt::TextAlignmentRole) return int(kAlignments[section] | Qt::AlignVCenter);
    return {};
}

// ---- IconDelegate ----

IconDelegate::IconDelegate(KSListCtrl* list) : QStyledItemDelegate(list), list_(list) {}

QRect IconDelegate::iconRect(const QRect& itemRect) {
    return {itemRect.x() + (itemRect.width() - kIconCell) / 2, itemRect.y() + 2, kIconCell, kIconCell};
}

QRect IconDelegate::labelRect(const QRect& itemRect, const QFontMetrics& metrics, const QString& text) const {
    const int width = itemRect.width() - 4;
    const QStringList lines = wrapText(metrics, text, width);
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
    const int shown = std::min(int(lines.size()), kLabelLines);
    const int w = std::min(widest + 4, itemRect.width());
    const int top = iconRect(itemRect).bottom() + 3;
    return {itemRect.x() + (itemRect.width() - w) / 2, top, w, shown * metrics.lineSpacing() + 2};
}

QStringList IconDelegate::labelLines(const QFontMetrics& metrics, const QModelIndex& index, int width) {
    QStringList lines;
    const QString name = index.data(ResourceModel::NameRole).toString();
    if (!name.isEmpty()) lines << shortenText(metrics, name, width);
    lines << wrapText(metrics, index.data(ResourceModel::IconLabelRole).toString(), width);
    while (lines.size() > kLabelLines) lines.removeLast();
    return lines;
}

QRect IconDelegate::labelRect(const QRect& itemRect, const QFontMetrics& metrics, const QModelIndex& index) const {
    const QStringList lines = labelLines(metrics, index, itemRect.width() - 4);
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
    const int w = std::min(widest + 4, itemRect.width());
    const int top = iconRect(itemRect).bottom() + 3;
    return {itemRect.x() + (itemRect.width() - w) / 2, top, w, int(lines.size()) * metrics.lineSpacing() + 2};
}

QSize IconDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {kIconItemWidth, 2 + kIconCell + 3 + kLabelLines * option.fontMetrics.lineSpacing() + 6};
}

void IconDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    const QRect icon = iconRect(option.rect);

    // Thumbnail, with a 3-pixel frame in the selection colour when selected.
    if (selected) painter->fillRect(icon, Qt::white);
    if (const QPixmap* pixmap = list_->largeIcon(index.data(ResourceModel::LargeIconRole).toInt())) {
        const QRect picture(icon.x() + (icon.width() - pixmap->width()) / 2,
                            icon.y() + (icon.height() - pixmap->height()) / 2, pixmap->width(), pixmap->height());
        painter->drawPixmap(picture.topLeft(), *pixmap);
        if (selected) {
            painter->setPen(QPen(kSelection, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(picture.adjusted(1, 1, -2, -2));
        }
    }

    // Label: the name, then the number and type wrapped, centred, on the
    // selection colour when selected.
    const QFontMetrics metrics(option.font);
    const QRect label = labelRect(option.rect, metrics, index);
    painter->fillRect(label, selected ? kSelection : QColor(Qt::white));
    painter->setPen(selected ? Qt::white : Qt::black);
    painter->setFont(option.font);
    const QStringList lines = labelLines(metrics, index, option.rect.width() - 4);
    int y = label.y() + 1;
    for (int i = 0; i < int(lines.size()); ++i) {
        const QRect line(label.x() + 2, y, label.width() - 4, metrics.lineSpacing());
        painter->drawText(line, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, lines[i]);
        y += metrics.lineSpacing();
    }
    if ((option.state & QStyle::State_HasFocus) && !selected) drawFocusRect(painter, label);
    painter->restore();
}

// ---- IconView ----

IconView::IconView(QWidget* parent) : QListView(parent) {
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionRectVisible(true);
    setDragEnabled(true);
    setSpacing(4);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void IconView::startDrag(Qt::DropActions) {
    if (auto* list = qobject_cast<KSListCtrl*>(parentWidget())) emit list->dragRequested();
}

void IconView::keyPressEvent(QKeyEvent* event) {
    // Enter belongs to the View command, never to the view itself.
    if (isEnter(event)) {
        event->ignore();
        return;
    }
    QListView::keyPressEvent(event);
}

// ---- DetailsView ----

namespace {

// Rows tall enough for the 22-pixel icons.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(option.fontMetrics.height() + 4, 24));
        return size;
    }
};

}  // namespace

DetailsView::DetailsView(KSListCtrl* list, QWidget* parent) : QTreeView(parent), list_(list) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setIconSize(QSize(22, 22));
    setItemDelegate(new RowDelegate(this));
    // Pixel steps let a sort keep an item at the same height in the view.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void DetailsView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    painter->save();
    const bool selected = selectionModel() && selectionModel()->isSelected(index.siblingAtColumn(0));
    int boundsRight = 0;
    for (int c = 0; c < kColumns; ++c)
        boundsRight = std::max(boundsRight, header()->sectionViewportPosition(c) + header()->sectionSize(c));
    const int left = header()->sectionViewportPosition(0);
    const QRect bounds(left, option.rect.top(), boundsRight - left, option.rect.height());
    painter->fillRect(option.rect, Qt::white);
    painter->fillRect(bounds, selected ? kSelection : QColor(Qt::white));
    painter->setPen(selected ? Qt::white : Qt::black);
    painter->setFont(option.font);
    const QFontMetrics metrics(option.font);

    for (int c = 0; c < kColumns; ++c) {
        QRect cell(header()->sectionViewportPosition(c), option.rect.top(), header()->sectionSize(c),
                   option.rect.height());
        const QString text = model()->data(index.siblingAtColumn(c), Qt::DisplayRole).toString();
        Qt::Alignment align = kAlignments[c];
        if (c == 0) {
            // The small icon, then the label.
            if (const QPixmap* icon = list_->smallIcon(index.data(ResourceModel::SmallIconRole).toInt())) {
                const QSize size = icon->deviceIndependentSize().toSize();
                painter->drawPixmap(cell.x() + 2, cell.y() + (cell.height() - size.height()) / 2, *icon);
                cell.setLeft(cell.x() + 2 + size.width());
            }
        }
        const QRect area = cell.adjusted(2, 0, -2, 0);
        painter->drawText(area, align | Qt::AlignVCenter | Qt::TextSingleLine,
                          shortenText(metrics, text, area.width()));
    }
    if (currentIndex().row() == index.row() && hasFocus() && !selected) drawFocusRect(painter, bounds);
    painter->restore();
}

void DetailsView::startDrag(Qt::DropActions) { emit list_->dragRequested(); }

void DetailsView::keyPressEvent(QKeyEvent* event) {
    if (isEnter(event)) {
        event->ignore();
        return;
    }
    QTreeView::keyPressEvent(event);
}

// ---- KSListCtrl ----

KSListCtrl::KSListCtrl(QWidget* parent) : QStackedWidget(parent) {
    model_ = new ResourceModel(this);
    selection_ = new QItemSelectionModel(model_, this);

    iconView_ = new IconView(this);
    iconView_->setObjectName(QStringLiteral("iconView"));
    iconView_->setModel(model_);
    iconView_->setSelectionModel(selection_);
    iconView_->setItemDelegate(new IconDelegate(this));

    detailsView_ = new DetailsView(this, this);
    detailsView_->setObjectName(QStringLiteral("detailsView"));
    detailsView_->setModel(model_);
    detailsView_->setSelectionModel(selection_);
    for (int c = 0; c < kColumns; ++c) detailsView_->header()->resizeSection(c, kColumnWidths[c]);
    loadColumnWidths();
    connect(detailsView_->header(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (fitting_ || column < 0 || column >= kColumns) return;
        userWidths_[std::size_t(column)] = size;
        saveColumnWidths();
    });
    detailsView_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(iconView_), static_cast<QAbstractItemView*>(detailsView_)}) {
        QPalette palette = view->palette();
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        view->setPalette(palette);
        connectView(view);
    }
    connect(detailsView_->header(), &QHeaderView::sectionClicked, this, &KSListCtrl::columnClicked);
    connect(selection_, &QItemSelectionModel::selectionChanged, this, [this] { emit itemChanged(); });
    connect(selection_, &QItemSelectionModel::currentChanged, this, [this] { emit itemChanged(); });

    addWidget(iconView_);
    addWidget(detailsView_);
    setCurrentWidget(iconView_);
}

void KSListCtrl::connectView(QAbstractItemView* view) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
        const QModelIndex index = view->indexAt(pos);
        emit contextMenuRequested(view->viewport()->mapToGlobal(pos), index.isValid() ? index.row() : -1);
    });
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) emit itemActivated(index.row());
    });
}

KSListCtrl::~KSListCtrl() = default;

void KSListCtrl::loadColumnWidths() {
    userWidths_.assign(kColumns, 0);
    const QStringList stored = QSettings().value(kWidthsKey).toStringList();
    // Widths stored for another set of columns would land on the wrong ones.
    if (stored.size() != kColumns) return;
    for (int c = 0; c < kColumns; ++c) {
        const int width = stored[c].toInt();
        if (width >= 8 && width <= 4000) userWidths_[std::size_t(c)] = width;
    }
}

void KSListCtrl::saveColumnWidths() const {
    QStringList stored;
    for (int width : userWidths_) stored.append(QString::number(width));
    QSettings().setValue(kWidthsKey, stored);
}

void KSListCtrl::fitColumns() {
    fitting_ = true;
    QHeaderView* header = detailsView_->header();
    const QFontMetrics metrics(detailsView_->font());
    const int rows = itemCount();
    for (int c = 0; c < kColumns; ++c) {
        if (const int width = userWidths_[std::size_t(c)]; width > 0) {
            header->resizeSection(c, width);
            continue;
        }
        int widest = metrics.horizontalAdvance(QString::fromLatin1(kHeaders[c])) + 24;  // room for the arrow
        for (int row = 0; row < rows; ++row)
            widest = std::max(
                widest, metrics.horizontalAdvance(model_->data(model_->index(row, c), Qt::DisplayRole).toString()));
        // Cell margins, and the small icon before the type.
        widest += 8 + (c == 0 ? 24 : 0);
        header->resizeSection(c, rows > 0 ? widest : std::max(widest, kColumnWidths[c]));
    }
    fitting_ = false;
}

void KSListCtrl::fill(const SWFDocument* document) {
    // The header lays its sections out afresh: no width of the user's.
    fitting_ = true;
    model_->fill(document);
    fitColumns();
}

void KSListCtrl::refreshItems() {
    model_->refresh();
    currentView()->viewport()->update();
}

void KSListCtrl::reorder(const std::vector<int>& newRowOf) {
    const int n = itemCount();
    if (int(newRowOf.size()) != n || n == 0) {
        refreshItems();
        return;
    }
    QAbstractItemView* view = currentView();
    const QRect visible = view->viewport()->rect();

    // The item that holds the scroll position: the focused one when it can
    // be seen, else the first one in sight.
    const int current = focusedItem();
    int anchor = -1;
    if (current >= 0 && view->visualRect(model_->index(current, 0)).intersects(visible)) {
        anchor = current;
    } else {
        for (int row = 0; row < n; ++row) {
            if (view->visualRect(model_->index(row, 0)).intersects(visible)) {
                anchor = row;
                break;
            }
        }
    }
    const int anchorTop = anchor >= 0 ? view->visualRect(model_->index(anchor, 0)).top() : 0;
    const std::vector<int> selected = selectedIndices();

    model_->refresh();

    std::vector<int> rows;
    rows.reserve(selected.size());
    for (int row : selected) rows.push_back(newRowOf[std::size_t(row)]);
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
        selection.select(model_->index(rows[i], 0), model_->index(rows[j], model_->columnCount() - 1));
        i = j + 1;
    }
    selection_->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (current >= 0)
        selection_->setCurrentIndex(model_->index(newRowOf[std::size_t(current)], 0), QItemSelectionModel::NoUpdate);

    if (anchor >= 0) {
        const QModelIndex moved = model_->index(newRowOf[std::size_t(anchor)], 0);
        QScrollBar* bar = view->verticalScrollBar();
        bar->setValue(bar->value() + view->visualRect(moved).top() - anchorTop);
        // The focused item stays in sight even where the scroll range ends.
        if (anchor == current) view->scrollTo(moved, QAbstractItemView::EnsureVisible);
    }
    view->viewport()->update();
}

void KSListCtrl::setSortIndicator(int column, bool ascending) {
    detailsView_->header()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

bool KSListCtrl::setViewMode(int mode) {
    if (mode != 0 && mode != 1) return false;
    QAbstractItemView* next = mode == 0 ? static_cast<QAbstractItemView*>(iconView_) : detailsView_;
    const bool hadFocus = currentView()->hasFocus();
    mode_ = mode;
    setCurrentWidget(next);
    if (hadFocus) next->setFocus();
    if (selection_->currentIndex().isValid()) next->scrollTo(selection_->currentIndex());
    next->viewport()->update();
    return true;
}

QAbstractItemView* KSListCtrl::currentView() const {
    return mode_ == 0 ? static_cast<QAbstractItemView*>(iconView_) : detailsView_;
}

int KSListCtrl::itemCount() const { return model_->rowCount(); }

std::vector<int> KSListCtrl::selectedIndices() const {
    // A row is selected when its first cell is.
    std::vector<int> rows;
    for (const QModelIndex& index : selection_->selectedIndexes())
        if (index.column() == 0) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int KSListCtrl::selectedCount() const { return int(selectedIndices().size()); }

int KSListCtrl::focusedItem() const {
    const QModelIndex current = selection_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void KSListCtrl::setFocusedItem(int row) {
    if (row < 0 || row >= itemCount()) return;
    selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
}

void KSListCtrl::setItemSelected(int row, bool selected) {
    if (row < 0 || row >= itemCount()) return;
    selection_->select(model_->index(row, 0), (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                                  QItemSelectionModel::Rows);
}

void KSListCtrl::selectAll() {
    if (itemCount() == 0) return;
    const QItemSelection all(model_->index(0, 0), model_->index(itemCount() - 1, kColumns - 1));
    selection_->select(all, QItemSelectionModel::Select);
}

void KSListCtrl::invertSelection() {
    if (itemCount() == 0) return;
    const QItemSelection all(model_->index(0, 0), model_->index(itemCount() - 1, kColumns - 1));
    selection_->select(all, QItemSelectionModel::Toggle);
}

void KSListCtrl::clearSelection() { selection_->clearSelection(); }

void KSListCtrl::setSmallIcons(std::vector<QPixmap> icons) {
    smallIcons_ = std::move(icons);
    currentView()->viewport()->update();
}

void KSListCtrl::setLargeIcons(std::vector<QPixmap> icons) {
    largeIcons_ = std::move(icons);
    currentView()->viewport()->update();
}

const QPixmap* KSListCtrl::smallIcon(int index) const {
    return index >= 0 && std::size_t(index) < smallIcons_.size() ? &smallIcons_[std::size_t(index)] : nullptr;
}

const QPixmap* KSListCtrl::largeIcon(int index) const {
    return index >= 0 && std::size_t(index) < largeIcons_.size() ? &largeIcons_[std::size_t(index)] : nullptr;
}

QRect KSListCtrl::itemRect(int row) const {
    if (row < 0 || row >= itemCount()) return {};
    return currentView()->visualRect(model_->index(row, 0));
}

}  // namespace kestrel
