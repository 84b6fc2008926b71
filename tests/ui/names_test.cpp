// The names a movie gives its resources in the window: the Name column and
// its tooltip, the icon label, Properties, and the Extract dialog's choice
// to name files after them, which the File column follows.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "document/swf_document.h"
#include "modal_script.h"
#include "test_support.h"
#include "ui/app/settings.h"
#include "ui/dialogs/properties_dlg.h"
#include "ui/dialogs/select_folder_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;

Bytes namedMovie() {
    Tags t;
    t.tag(kTagDefineBitsLossless, losslessBody(1, 5, 2, 1, deflate(argbRows({0xFF0000FF, 0x00FF00FF}))))
        .tag(kTagDefineSound, defineSoundBody(2, 3, 1, true, false, 100, Bytes(200, 3)))
        .tag(kTagDefineSound, defineSoundBody(3, 3, 1, true, false, 100, Bytes(200, 4)))
        .tag(kTagSymbolClass, namesBody({{1, "hero"}, {2, "sfx_jump"}, {1, "game.gfx.Hero"}}))
        .showFrame()
        .end();
    return SwfFile().tags(t).bytes();
}

class Names : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        movie_ = QString::fromStdString(scratch_.write("names.swf", namedMovie()));
        start({movie_});
        ASSERT_TRUE(frame().document());
        ASSERT_EQ(doc().count(), 3);
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    const SWFDocument& doc() { return *frame().document(); }
    int rowOfId(int id) {
        for (int i = 0; i < doc().count(); ++i) {
            if (doc().resource(i).characterId == id) return i;
        }
        return -1;
    }
    QVariant data(int row, int column, int role = Qt::DisplayRole) {
        return list().model()->data(list().model()->index(row, column), role);
    }
    test::TempDir scratch_;
    QString movie_;
};

TEST_F(Names, ColumnTooltipLabelAndProperties) {
    frame().childView()->setViewMode(1);
    const int hero = rowOfId(1), jump = rowOfId(2), plain = rowOfId(3);
    const int name = ResourceModel::kNameColumn;
    EXPECT_EQ(list().model()->headerData(name, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Name"));
    EXPECT_EQ(data(hero, name).toString(), QStringLiteral("hero"));
    EXPECT_EQ(data(hero, name, Qt::ToolTipRole).toString(), QStringLiteral("hero\ngame.gfx.Hero"));
    EXPECT_EQ(data(jump, name).toString(), QStringLiteral("sfx_jump"));
    EXPECT_EQ(data(plain, name).toString(), QString());
    EXPECT_FALSE(data(plain, name, Qt::ToolTipRole).isValid());

    // Under the thumbnail: the name, then number and type.
    const QFontMetrics metrics(list().iconView()->font());
    const QStringList lines = IconDelegate::labelLines(metrics, list().model()->index(hero, 0), 120);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.front(), QStringLiteral("hero"));
    EXPECT_TRUE(IconDelegate::labelLines(metrics, list().model()->index(plain, 0), 120).front().startsWith(u"#2 WAV"));

    const KSPropertiesDlg named(doc().resource(hero), nullptr);
    EXPECT_EQ(named.fieldText(KSPropertiesDlg::kNames), QStringLiteral("hero; game.gfx.Hero"));
    EXPECT_EQ(named.field(KSPropertiesDlg::kNames)->toolTip(), QStringLiteral("hero\ngame.gfx.Hero"));
    const KSPropertiesDlg unnamed(doc().resource(plain), nullptr);
    EXPECT_EQ(unnamed.field(KSPropertiesDlg::kNames), nullptr);
    EXPECT_GT(named.height(), unnamed.height());
}

TEST_F(Names, ExtractDialogNamesFilesAfterSymbolsAndRemembersIt) {
    const QString out = QString::fromStdString(scratch_.file("out"));
    const int hero = rowOfId(1);
    EXPECT_EQ(data(hero, ResourceModel::kFileColumn).toString(), QStringLiteral("names-1.png"));
    {
        test::ModalScript script;
        script.on<KSelectFolderDlg>("symbols", [&out](KSelectFolderDlg* d) {
            EXPECT_FALSE(d->symbolNamesBox()->isChecked());
            d->symbolNamesBox()->setChecked(true);
            d->folderEdit()->setText(out);
            d->allButton()->setChecked(true);
            d->extractButton()->click();
        });
        frame().action(kCmdExtract)->trigger();
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files, QDir::Name),
              (QStringList{QStringLiteral("hero.png"), QStringLiteral("names-2.wav"), QStringLiteral("sfx_jump.wav")}));
    EXPECT_EQ(data(hero, ResourceModel::kFileColumn).toString(), QStringLiteral("hero.png"));

    finish();
    start({movie_});
    EXPECT_EQ(readExtractOptions().naming, FileNaming::Symbol);
    EXPECT_EQ(data(rowOfId(1), ResourceModel::kFileColumn).toString(), QStringLiteral("hero.png"));
    {
        test::ModalScript script;
        script.on<KSelectFolderDlg>("remembered", [](KSelectFolderDlg* d) {
            EXPECT_TRUE(d->symbolNamesBox()->isChecked());
            d->reject();
        });
        frame().action(kCmdExtract)->trigger();
    }
}

}  // namespace
}  // namespace kestrel
