// The details columns: "#" and "File" name each resource as it will be
// written, the icon labels carry the number, the columns fit their texts,
// and a width the user sets is kept across runs.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>

#include "document/swf_document.h"
#include "ui/app/kestrel_app.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

class Columns : public test::UiTest {
protected:
    void open() {
        start({test::demoFile()});
        ASSERT_TRUE(frame().document());
        frame().childView()->setViewMode(1);
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    const SWFDocument& doc() { return *frame().document(); }
    QString cell(int row, int column) {
        return list().model()->data(list().model()->index(row, column), Qt::DisplayRole).toString();
    }
    QHeaderView* header() { return list().detailsView()->header(); }
};

TEST_F(Columns, NumberAndFileNameNameEveryResource) {
    open();
    ASSERT_EQ(list().model()->columnCount(), 8);
    EXPECT_EQ(list().model()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("#"));
    EXPECT_EQ(list().model()->headerData(ResourceModel::kFileColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("File"));
    EXPECT_EQ(list().model()->headerData(ResourceModel::kNameColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Name"));
    EXPECT_EQ(list().model()->headerData(7, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Origin"));
    for (int i = 0; i < doc().count(); ++i) {
        const SWFRes& record = doc().resource(i);
        EXPECT_EQ(cell(i, 4), QString::number(record.number));
        EXPECT_EQ(cell(i, ResourceModel::kFileColumn),
                  QString::fromStdString(doc().resourceFileName(i, record.number)));
        EXPECT_EQ(cell(i, 7), QString());
        EXPECT_EQ(list().model()->data(list().model()->index(i, 0), ResourceModel::IconLabelRole).toString(),
                  QStringLiteral("#%1 %2").arg(record.number).arg(QString::fromStdString(record.typeText)));
    }
}

TEST_F(Columns, EveryColumnFitsItsTexts) {
    open();
    const QFontMetrics metrics(list().detailsView()->font());
    for (int c = 0; c < ResourceModel::kColumns; ++c) {
        for (int i = 0; i < doc().count(); ++i) {
            const int needed = metrics.horizontalAdvance(cell(i, c)) + 4 + (c == 0 ? 24 : 0);
            EXPECT_GE(header()->sectionSize(c), needed) << "column " << c << " row " << i;
        }
    }
}

TEST_F(Columns, AWidthTheUserSetIsKeptAcrossRuns) {
    open();
    header()->resizeSection(0, 333);
    header()->resizeSection(5, 41);
    const int fitted = header()->sectionSize(3);
    finish();

    open();
    EXPECT_EQ(header()->sectionSize(0), 333);
    EXPECT_EQ(header()->sectionSize(5), 41);
    EXPECT_EQ(header()->sectionSize(3), fitted);
}

}  // namespace
}  // namespace kestrel
