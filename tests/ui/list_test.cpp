// The resource list: sorting from the menu and the column headers, the two
// view modes, context menus and what the list draws.
#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTest>

#include "document/swf_document.h"
#include "ui/app/kestrel_app.h"
#include "ui/controls/status_bar.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

class List : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        start({test::demoFile()});
        ASSERT_TRUE(frame().document());
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSChildView& pane() { return *frame().childView(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    const SWFDocument& doc() { return *frame().document(); }
    QString cell(int row, int column) {
        return list().model()->data(list().model()->index(row, column), Qt::DisplayRole).toString();
    }
    std::vector<std::int64_t> memorySizes() {
        std::vector<std::int64_t> sizes;
        for (int i = 0; i < doc().count(); ++i) sizes.push_back(doc().resource(i).memorySize);
        return sizes;
    }
    void clickHeader(int column) {
        QHeaderView* header = list().detailsView()->header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
};

TEST_F(List, OpensSortedByTypeWithImagesFirst) {
    EXPECT_EQ(pane().sortKey(), 1);
    bool seenSound = false;
    for (int i = 0; i < doc().count(); ++i) {
        if (doc().resource(i).kind == kKindSound)
            seenSound = true;
        else
            EXPECT_FALSE(seenSound) << "image after a sound at " << i;
    }
    // Item i shows record i.
    for (int i = 0; i < doc().count(); ++i) {
        EXPECT_EQ(cell(i, 0), QString::fromStdString(doc().resource(i).typeText));
        EXPECT_EQ(cell(i, 1), QString::fromStdString(doc().resource(i).frameText));
        EXPECT_EQ(cell(i, 2), QString::fromStdString(doc().resource(i).memoryText));
        EXPECT_EQ(cell(i, 3), QString::fromStdString(doc().resource(i).sizeText));
    }
    for (int i = 0; i < doc().count(); ++i) {
        EXPECT_EQ(doc().resource(i).smallIconIndex, doc().resource(i).kind == kKindImage ? 0 : 1);
        EXPECT_GE(doc().resource(i).largeIconIndex, 0);
    }
}

TEST_F(List, SortingTheSameColumnFlipsTheDirection) {
    frame().action(kCmdSortFrame)->trigger();
    EXPECT_EQ(pane().sortKey(), 2);
    for (int i = 1; i < doc().count(); ++i) EXPECT_LE(doc().resource(i - 1).frame, doc().resource(i).frame);
    frame().action(kCmdSortFrame)->trigger();
    EXPECT_EQ(pane().sortKey(), -2);
    for (int i = 1; i < doc().count(); ++i) EXPECT_GE(doc().resource(i - 1).frame, doc().resource(i).frame);
    EXPECT_EQ(cell(0, 1), QString::fromStdString(doc().resource(0).frameText));
    frame().action(kCmdSortFrame)->trigger();
    EXPECT_EQ(pane().sortKey(), 2);
    frame().action(kCmdSortType)->trigger();
    EXPECT_EQ(pane().sortKey(), 1);
    frame().action(kCmdSortDimension)->trigger();
    EXPECT_EQ(pane().sortKey(), 4);
    frame().action(kCmdSortDimension)->trigger();
    EXPECT_EQ(pane().sortKey(), -4);
    // Descending by dimension puts the sounds first.
    EXPECT_EQ(doc().resource(0).kind, kKindSound);
}

TEST_F(List, ColumnHeadersSortLikeTheMenu) {
    frame().action(kCmdDetails)->trigger();
    test::pump();
    clickHeader(2);  // "Size"
    EXPECT_EQ(pane().sortKey(), 3);
    auto sizes = memorySizes();
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    clickHeader(2);
    EXPECT_EQ(pane().sortKey(), -3);
    sizes = memorySizes();
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
    for (int i = 0; i < doc().count(); ++i) EXPECT_EQ(cell(i, 2), QString::fromStdString(doc().resource(i).memoryText));
    clickHeader(0);
    EXPECT_EQ(pane().sortKey(), 1);
    EXPECT_EQ(list().model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Size"));
    EXPECT_EQ(list().model()->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Dimension"));
    // Column widths: columns_test.cpp.
}

TEST_F(List, ViewModesKeepTheSelection) {
    list().setItemSelected(1, true);
    list().setItemSelected(4, true);
    frame().action(kCmdDetails)->trigger();
    EXPECT_EQ(list().currentView(), list().detailsView());
    EXPECT_EQ(pane().viewMode(), 1);
    frame().updateCommandUI();
    EXPECT_TRUE(frame().action(kCmdDetails)->isChecked());
    EXPECT_FALSE(frame().action(kCmdLargeIcons)->isChecked());
    EXPECT_EQ(list().selectedIndices(), (std::vector<int>{1, 4}));
    frame().action(kCmdLargeIcons)->trigger();
    EXPECT_EQ(list().currentView(), list().iconView());
    EXPECT_EQ(list().selectedIndices(), (std::vector<int>{1, 4}));
    frame().updateCommandUI();
    EXPECT_TRUE(frame().action(kCmdLargeIcons)->isChecked());
    EXPECT_FALSE(frame().action(kCmdDetails)->isChecked());
    EXPECT_FALSE(pane().setViewMode(2));
    EXPECT_EQ(pane().viewMode(), 0);
}

TEST_F(List, ClickingAnItemSelectsItAndDescribesIt) {
    frame().action(kCmdDetails)->trigger();
    test::pump();
    const QRect rect = list().itemRect(2);
    ASSERT_TRUE(rect.isValid());
    QTest::mouseClick(list().detailsView()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    EXPECT_EQ(list().selectedIndices(), std::vector<int>{2});
    EXPECT_EQ(frame().statusBarPanes()->paneText(0), QStringLiteral("1 resource selected"));
    EXPECT_EQ(frame().statusBarPanes()->paneText(1), QString::fromStdString(doc().resource(2).description));
    QTest::mouseClick(list().detailsView()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list().itemRect(5).center());
    EXPECT_EQ(list().selectedIndices(), (std::vector<int>{2, 5}));
    EXPECT_EQ(frame().statusBarPanes()->paneText(1), pane().path());
    frame().updateCommandUI();
    EXPECT_FALSE(frame().action(kCmdView)->isEnabled());
}

TEST_F(List, ContextMenusFollowTheirOwnRules) {
    auto enabledOf = [](QMenu& menu) {
        std::map<int, bool> state;
        for (QAction* a : menu.actions())
            if (!a->isSeparator()) state[a->data().toInt()] = a->isEnabled();
        return state;
    };
    auto empty = pane().buildContextMenu(-1);
    auto e = enabledOf(*empty);
    ASSERT_EQ(e.size(), 6u);
    for (int id : {kCmdLargeIcons, kCmdDetails, kCmdSortType, kCmdSortFrame, kCmdSortMemory, kCmdSortDimension})
        EXPECT_TRUE(e[id]) << id;
    for (QAction* a : empty->actions()) EXPECT_FALSE(a->isChecked());

    list().clearSelection();
    auto none = enabledOf(*pane().buildContextMenu(0));
    EXPECT_FALSE(none[kCmdExtract]);
    EXPECT_FALSE(none[kCmdView]);
    EXPECT_FALSE(none[kCmdProperties]);
    list().setItemSelected(0, true);
    auto one = enabledOf(*pane().buildContextMenu(0));
    EXPECT_TRUE(one[kCmdExtract]);
    EXPECT_TRUE(one[kCmdView]);
    EXPECT_TRUE(one[kCmdProperties]);
    list().setItemSelected(3, true);
    auto two = enabledOf(*pane().buildContextMenu(3));
    EXPECT_TRUE(two[kCmdExtract]);
    EXPECT_FALSE(two[kCmdView]);
    EXPECT_FALSE(two[kCmdProperties]);

    // A mode entry of the context menu switches the mode.
    auto menu = pane().buildContextMenu(-1);
    for (QAction* a : menu->actions())
        if (a->data().toInt() == kCmdDetails) a->trigger();
    EXPECT_EQ(pane().viewMode(), 1);

    frame().action(kCmdCloseSwf)->trigger();
    auto closed = enabledOf(*pane().buildContextMenu(-1));
    EXPECT_TRUE(closed[kCmdLargeIcons]);
    EXPECT_TRUE(closed[kCmdDetails]);
    EXPECT_FALSE(closed[kCmdSortType]);
    EXPECT_FALSE(closed[kCmdSortDimension]);
}

int countColour(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = std::max(area.top(), 0); y <= std::min(area.bottom(), image.height() - 1); ++y)
        for (int x = std::max(area.left(), 0); x <= std::min(area.right(), image.width() - 1); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

TEST_F(List, DetailsRowsAreDrawnInTheSelectionColour) {
    frame().action(kCmdDetails)->trigger();
    frame().resize(900, 500);
    test::pump();
    list().setItemSelected(1, true);
    test::pump();
    const QImage image = list().detailsView()->viewport()->grab().toImage();
    const QRect selected = list().itemRect(1);
    const QRect plain = list().itemRect(2);
    const QRect rowSelected(0, selected.top(), 400, selected.height());
    const QRect rowPlain(0, plain.top(), 400, plain.height());
    EXPECT_GT(countColour(image, rowSelected, kSelectionColour), rowSelected.width() * rowSelected.height() / 2);
    EXPECT_EQ(countColour(image, rowPlain, kSelectionColour), 0);
    // White text on the selected row, black on the others.
    EXPECT_GT(countColour(image, rowSelected, qRgb(255, 255, 255)), 0);
    EXPECT_GT(countColour(image, rowPlain, qRgb(0, 0, 0)), 0);
}

TEST_F(List, LargeIconsFrameTheSelectedThumbnail) {
    frame().resize(900, 600);
    test::pump();
    list().setItemSelected(0, true);
    test::pump();
    const QImage image = list().iconView()->viewport()->grab().toImage();
    const QRect item = list().itemRect(0);
    const QRect icon = IconDelegate::iconRect(item);
    // The frame covers the thumbnail's edges: a 3-pixel band along the top.
    EXPECT_EQ(countColour(image, QRect(icon.left() + 10, icon.top(), 80, 3), kSelectionColour), 80 * 3);
    const QRect label(item.left(), icon.bottom() + 3, item.width(), item.bottom() - icon.bottom() - 3);
    EXPECT_GT(countColour(image, label, kSelectionColour), 0);
    // An unselected neighbour has no frame and a white label.
    const QRect other = list().itemRect(1);
    EXPECT_EQ(countColour(image, other, kSelectionColour), 0);
}

}  // namespace
}  // namespace kestrel
