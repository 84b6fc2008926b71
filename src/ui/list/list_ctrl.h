// The resource list: one item per record of the open document, shown as
// large icons or as a details table. Both views share one model and one
// selection, so switching keeps the selection and the focused item.
#pragma once

#include <QAbstractTableModel>
#include <QListView>
#include <QPixmap>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <vector>

#include "document/swf_res.h"

namespace kestrel {

class SWFDocument;

inline constexpr QRgb kSelectionColour = 0xFF0A246A;  // RGB(10, 36, 106)

// Item i stands for the document's record i; the texts are read from the
// records whenever they are drawn.
class ResourceModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        SmallIconRole = Qt::UserRole + 1,
        LargeIconRole,
        IconLabelRole,  // "#4 JPEG RGB": the number within its kind, then the type
        NameRole        // the first name the movie gives the resource, or empty
    };
    // Type, frame, memory, dimension, number within its kind, the
    // resource's (first) name, file name, the DefineBinaryData it comes from.
    static constexpr int kColumns = 8;
    static constexpr int kNameColumn = 5;
    static constexpr int kFileColumn = 6;
    static constexpr int kOriginColumn = 7;

    using QAbstractTableModel::QAbstractTableModel;
    void fill(const SWFDocument* document);
    void clear();
    void refresh();
    // How the "File" column names the files (as the Extract command will).
    void setFileNaming(FileNaming naming);
    FileNaming fileNaming() const { return naming_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Items can be dragged out of the list.
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const SWFDocument* document_ = nullptr;
    int rows_ = 0;
    FileNaming naming_ = FileNaming::TitleNumber;
};

class KSListCtrl;

// Large-icon mode: the thumbnail over a wrapped label.
class IconDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit IconDelegate(KSListCtrl* list);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Rectangles of an item laid out in `itemRect`.
    static QRect iconRect(const QRect& itemRect);
    QRect labelRect(const QRect& itemRect, const QFontMetrics& metrics, const QString& text) const;
    // The label of the item at `index` laid out in `itemRect`: its name on
    // one line when it has one, then its IconLabelRole text wrapped.
    QRect labelRect(const QRect& itemRect, const QFontMetrics& metrics, const QModelIndex& index) const;
    static QStringList labelLines(const QFontMetrics& metrics, const QModelIndex& index, int width);

private:
    KSListCtrl* list_;
};

class IconView : public QListView {
    Q_OBJECT
public:
    explicit IconView(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
};

// Details mode: every row drawn in one piece.
class DetailsView : public QTreeView {
    Q_OBJECT
public:
    DetailsView(KSListCtrl* list, QWidget* parent);

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    KSListCtrl* list_;
};

class KSListCtrl : public QStackedWidget {
    Q_OBJECT
public:
    static constexpr int kColumnWidths[ResourceModel::kColumns] = {200, 50, 50, 100, 40, 120, 160, 80};

    explicit KSListCtrl(QWidget* parent);
    ~KSListCtrl() override;

    // Deletes all items, then inserts one per record of `document` (none
    // for null).
    void fill(const SWFDocument* document);
    // The records changed places: every item rereads its record.
    void refreshItems();
    // The records changed places, record `r` now standing at row
    // `newRowOf[r]`: the items reread their records, and the selection, the
    // focused item and the scroll position follow the records.
    void reorder(const std::vector<int>& newRowOf);

    // The arrow on the details header: `column` 0..3, or -1 for none.
    void setSortIndicator(int column, bool ascending);

    // 0 large icons, 1 details; false for any other mode.
    bool setViewMode(int mode);
    int viewMode() const { return mode_; }

    int itemCount() const;
    std::vector<int> selectedIndices() const;
    int selectedCount() const;
    int focusedItem() const;
    void setFocusedItem(int row);
    void setItemSelected(int row, bool selected);
    void selectAll();
    void invertSelection();
    void clearSelection();

    void setSmallIcons(std::vector<QPixmap> icons);
    void setLargeIcons(std::vector<QPixmap> icons);
    const QPixmap* smallIcon(int index) const;
    const QPixmap* largeIcon(int index) const;

    QAbstractItemView* currentView() const;
    IconView* iconView() const { return iconView_; }
    DetailsView* detailsView() const { return detailsView_; }
    ResourceModel* model() const { return model_; }
    // The item's rectangle in the current view's viewport.
    QRect itemRect(int row) const;
    // Details columns: a width the user set is kept (and remembered across
    // runs); the others fit their texts whenever the list is filled.
    void fitColumns();

signals:
    void itemChanged();
    void itemActivated(int row);
    void columnClicked(int column);
    void contextMenuRequested(const QPoint& globalPos, int row);
    // The user began to drag selected items.
    void dragRequested();

private:
    void connectView(QAbstractItemView* view);
    void loadColumnWidths();
    void saveColumnWidths() const;

    ResourceModel* model_;
    QItemSelectionModel* selection_;
    IconView* iconView_;
    DetailsView* detailsView_;
    int mode_ = 0;
    std::vector<int> userWidths_;  // 0: fits its texts
    bool fitting_ = false;
    std::vector<QPixmap> smallIcons_;
    std::vector<QPixmap> largeIcons_;
};

}  // namespace kestrel
