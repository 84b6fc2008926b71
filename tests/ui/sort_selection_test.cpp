// Sorting moves the records, not the selection: the selected resources, the
// focused one and the one held in sight stay the same through every sort,
// in both views, from the column headers and from View > Sort.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <set>

#include "document/swf_document.h"
#include "swfbuilder/swf_builder.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;

// Images whose frame, memory and dimension orders all differ: image i sits
// in frame i and is (1 + 37 i mod 80) pixels wide.
std::string manyImages(test::TempDir& dir, int count) {
    Tags tags;
    for (int i = 0; i < count; ++i) {
        const int width = 1 + (i * 37) % 80;
        std::vector<std::uint32_t> pixels(std::size_t(width) * 2);
        for (std::size_t p = 0; p < pixels.size(); ++p) pixels[p] = 0xFF000000u | std::uint32_t(p * 2654435761u);
        tags.tag(kTagDefineBitsLossless2,
                 losslessBody(std::uint16_t(i + 1), 5, std::uint16_t(width), 2, deflate(argbRows(pixels))));
        tags.showFrame();
    }
    tags.end();
    return dir.write("many.swf", SwfFile().frames(std::uint16_t(count)).tags(tags).bytes());
}

class SortSelection : public test::UiTest {
protected:
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSChildView& pane() { return *frame().childView(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    const SWFDocument& doc() { return *frame().document(); }

    void open(const QString& path) {
        start({path});
        ASSERT_TRUE(frame().document());
        frame().resize(640, 420);
        frame().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame()));
    }
    void clickHeader(int column) {
        QHeaderView* header = list().detailsView()->header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    std::set<const SWFRes*> selectedRecords() {
        std::set<const SWFRes*> records;
        for (int row : list().selectedIndices()) records.insert(&doc().resource(row));
        return records;
    }
    const SWFRes* focusedRecord() {
        const int row = list().focusedItem();
        return row >= 0 ? &doc().resource(row) : nullptr;
    }
    int rowOf(const SWFRes* record) {
        for (int i = 0; i < doc().count(); ++i)
            if (&doc().resource(i) == record) return i;
        return -1;
    }
};

TEST_F(SortSelection, TheTwoWavSoundsStaySelectedAfterATypeHeaderClick) {
    open(test::demoFile());
    pane().setViewMode(1);
    list().clearSelection();
    std::set<const SWFRes*> wavs;
    for (int i = 0; i < doc().count(); ++i) {
        if (doc().resource(i).kind == kKindSound && doc().resource(i).typeText.rfind("WAV ", 0) == 0) {
            list().setItemSelected(i, true);
            wavs.insert(&doc().resource(i));
        }
    }
    ASSERT_GE(wavs.size(), 2u);
    list().setFocusedItem(rowOf(*wavs.begin()));
    const SWFRes* focused = focusedRecord();

    clickHeader(0);
    ASSERT_EQ(pane().sortKey(), -1);
    EXPECT_EQ(selectedRecords(), wavs);
    EXPECT_EQ(focusedRecord(), focused);
    for (int row : list().selectedIndices()) EXPECT_EQ(doc().resource(row).kind, kKindSound);
}

TEST_F(SortSelection, SelectionAndFocusFollowTheRecordsInBothViewsAndEverySort) {
    test::TempDir dir;
    open(QString::fromStdString(manyImages(dir, 40)));
    ASSERT_EQ(doc().count(), 40);

    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "large icons" : "details");
        pane().setViewMode(mode);
        list().clearSelection();
        for (int row : {3, 4, 17, 31}) list().setItemSelected(row, true);
        list().setFocusedItem(17);
        const std::set<const SWFRes*> chosen = selectedRecords();
        const SWFRes* focused = focusedRecord();

        for (int command : {kCmdSortFrame, kCmdSortMemory, kCmdSortDimension, kCmdSortDimension, kCmdSortType}) {
            frame().action(command)->trigger();
            EXPECT_EQ(selectedRecords(), chosen) << "after sort command " << command;
            EXPECT_EQ(focusedRecord(), focused) << "after sort command " << command;
        }
        if (mode == 1) {
            for (int column : {1, 2, 3, 3}) {
                clickHeader(column);
                EXPECT_EQ(selectedRecords(), chosen) << "after header " << column;
                EXPECT_EQ(focusedRecord(), focused) << "after header " << column;
            }
        }
        // The rows did move: otherwise the test above proves nothing.
        frame().action(kCmdSortFrame)->trigger();
        const int frameRow = rowOf(focused);
        frame().action(kCmdSortDimension)->trigger();
        EXPECT_NE(rowOf(focused), frameRow);
    }
}

TEST_F(SortSelection, TheFocusedItemKeepsItsPlaceInTheView) {
    test::TempDir dir;
    open(QString::fromStdString(manyImages(dir, 80)));
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode == 0 ? "large icons" : "details");
        pane().setViewMode(mode);
        frame().action(kCmdSortFrame)->trigger();
        if (pane().sortKey() != 2) frame().action(kCmdSortFrame)->trigger();
        QAbstractItemView* view = list().currentView();
        QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0);

        // An item well down the list, scrolled into the middle of the view.
        list().clearSelection();
        list().setItemSelected(50, true);
        list().setFocusedItem(50);
        view->scrollTo(list().model()->index(50, 0), QAbstractItemView::PositionAtCenter);
        const SWFRes* focused = focusedRecord();
        const int top = list().itemRect(50).top();
        ASSERT_TRUE(list().itemRect(50).intersects(view->viewport()->rect()));

        frame().action(kCmdSortDimension)->trigger();
        const int row = list().focusedItem();
        ASSERT_EQ(focusedRecord(), focused);
        ASSERT_NE(row, 50);
        const QRect now = list().itemRect(row);
        EXPECT_TRUE(now.intersects(view->viewport()->rect()));
        // Where the scroll range allows it, exactly where it was.
        const QScrollBar* bar = view->verticalScrollBar();
        if (bar->value() > bar->minimum() && bar->value() < bar->maximum()) {
            EXPECT_EQ(now.top(), top);
        }
    }
}

TEST_F(SortSelection, HeaderArrowAndRadioItemsShowTheSort) {
    open(test::demoFile());
    pane().setViewMode(1);
    QHeaderView* header = list().detailsView()->header();
    const int sorts[] = {kCmdSortType, kCmdSortFrame, kCmdSortMemory, kCmdSortDimension};
    auto expectSort = [&](int column, bool ascending) {
        EXPECT_TRUE(header->isSortIndicatorShown());
        EXPECT_EQ(header->sortIndicatorSection(), column);
        EXPECT_EQ(header->sortIndicatorOrder(), ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        frame().updateCommandUI();
        for (int c = 0; c < 4; ++c) {
            QAction* a = frame().action(sorts[c]);
            EXPECT_TRUE(a->isCheckable());
            ASSERT_TRUE(a->actionGroup());
            EXPECT_TRUE(a->actionGroup()->isExclusive());
            EXPECT_EQ(a->isChecked(), c == column) << c;
        }
    };
    expectSort(0, true);
    clickHeader(2);
    expectSort(2, true);
    clickHeader(2);
    expectSort(2, false);
    frame().action(kCmdSortFrame)->trigger();
    expectSort(1, true);
    // The checked item chosen again flips the order and stays checked.
    frame().action(kCmdSortFrame)->trigger();
    expectSort(1, false);

    // The view modes: one radio group, one checked.
    QAction* icons = frame().action(kCmdLargeIcons);
    QAction* details = frame().action(kCmdDetails);
    ASSERT_TRUE(icons->actionGroup());
    EXPECT_EQ(icons->actionGroup(), details->actionGroup());
    EXPECT_TRUE(icons->actionGroup()->isExclusive());
    icons->trigger();
    frame().updateCommandUI();
    EXPECT_TRUE(icons->isChecked());
    EXPECT_FALSE(details->isChecked());
    details->trigger();
    frame().updateCommandUI();
    EXPECT_TRUE(details->isChecked());
    EXPECT_FALSE(icons->isChecked());

    // Closed: no arrow, nothing checked.
    frame().action(kCmdCloseSwf)->trigger();
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    for (int id : sorts) EXPECT_FALSE(frame().action(id)->isChecked());
    EXPECT_FALSE(details->isChecked());
}

}  // namespace
}  // namespace kestrel
