// Desktop manners of the window: texts that do not fit are elided, never
// cut mid-letter; access keys are unique within each menu; Tab reaches the
// panel's Play button; the first start is placed in the middle of the screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <set>

#include "document/swf_document.h"
#include "preview_test_support.h"
#include "swfbuilder/swf_builder.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/controls/status_bar.h"
#include "ui/dialogs/file_exists_dlg.h"
#include "ui/dialogs/properties_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui/preview/pict_view.h"
#include "ui/preview/play_button.h"
#include "ui/preview/view_image.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

class Manners : public test::UiTest {
protected:
    KSMainFrame& frame() { return *app_->mainFrame(); }
};

TEST_F(Manners, NarrowWindowElidesThePathInTheMiddleAndTheCountAtTheEnd) {
    test::TempDir dir;
    const std::string deep = dir.path() + "/a-rather-long-folder-name/another-long-folder-name";
    ASSERT_TRUE(std::filesystem::create_directories(deep));
    const QString movie = QString::fromStdString(deep + "/a-movie-with-a-long-name.swf");
    ASSERT_TRUE(QFile::copy(test::demoFile(), movie));
    start({movie});
    ASSERT_TRUE(frame().document());
    frame().resize(520, 520);
    QTRY_COMPARE(frame().width(), 520);
    frame().listCtrl()->selectAll();
    frame().updateStatusTexts();
    test::pump();

    OBCStatusBar& bar = *frame().statusBarPanes();
    const QString path = bar.paneText(1);
    ASSERT_EQ(path, movie);
    const QString shownPath = bar.pane(1)->shownText();
    ASSERT_NE(shownPath, path);
    const int dots = int(shownPath.indexOf(QChar(0x2026)));
    ASSERT_GT(dots, 0) << shownPath.toStdString();
    EXPECT_TRUE(path.startsWith(shownPath.left(dots)));
    EXPECT_TRUE(path.endsWith(shownPath.mid(dots + 1)));
    EXPECT_TRUE(shownPath.endsWith(QStringLiteral(".swf")));

    const QString count = bar.paneText(0);
    const QString shownCount = bar.pane(0)->shownText();
    EXPECT_TRUE(shownCount == count || (shownCount.endsWith(QChar(0x2026)) && count.startsWith(shownCount.chopped(1))))
        << shownCount.toStdString();
    for (int i = 0; i < 2; ++i) {
        const StatusPane* pane = bar.pane(i);
        EXPECT_LE(pane->fontMetrics().horizontalAdvance(pane->shownText()), pane->contentsRect().width()) << i;
    }
}

TEST_F(Manners, PropertiesFieldsShowTheirWholeTexts) {
    // A large noisy picture: "NNNNNNN bytes (NNNN KB uncompressed)".
    test::TempDir dir;
    std::vector<std::uint32_t> pixels(1000 * 1000);
    std::uint32_t seed = 3;
    for (std::uint32_t& p : pixels) {
        seed = seed * 1664525u + 1013904223u;
        p = seed | 0xFFu;
    }
    swfbuilder::Tags tags;
    test::addLossless(tags, 1, 1000, 1000, pixels, true);
    tags.showFrame().end();
    start({QString::fromStdString(dir.write("big.swf", swfbuilder::SwfFile().tags(tags).bytes()))});
    ASSERT_TRUE(frame().document());
    KSPropertiesDlg dialog(frame().document()->resource(0), &frame());
    const QString size = dialog.fieldText(KSPropertiesDlg::kSize);
    ASSERT_TRUE(size.contains(QStringLiteral("KB uncompressed"))) << size.toStdString();
    for (int id : {KSPropertiesDlg::kTitle, KSPropertiesDlg::kEncoding, KSPropertiesDlg::kType, KSPropertiesDlg::kFrame,
                   KSPropertiesDlg::kSize, KSPropertiesDlg::kDimension}) {
        const QLineEdit* edit = dialog.field(id);
        ASSERT_TRUE(edit);
        EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(edit->text()) + 8) << edit->text().toStdString();
        EXPECT_TRUE(dialog.rect().contains(edit->geometry()));
    }
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        EXPECT_TRUE(dialog.rect().contains(button->geometry()));
}

TEST_F(Manners, AccessKeysAreUniqueWithinEachMenu) {
    start({test::demoFile()});
    std::vector<QMenu*> menus;
    for (QAction* top : frame().menuBar()->actions())
        if (top->menu()) menus.push_back(top->menu());
    for (std::size_t m = 0; m < menus.size(); ++m) {
        std::set<QChar> keys;
        for (QAction* a : menus[m]->actions()) {
            if (a->menu()) menus.push_back(a->menu());
            const QString text = a->text();
            const int amp = int(text.indexOf(QLatin1Char('&')));
            if (a->isSeparator() || !a->isVisible() || amp < 0 || amp + 1 >= text.size()) continue;
            const QChar key = text.at(amp + 1).toLower();
            EXPECT_TRUE(keys.insert(key).second)
                << "menu " << menus[m]->title().toStdString() << ": " << text.toStdString();
        }
    }
    EXPECT_GE(menus.size(), 5u);
}

TEST_F(Manners, TabReachesThePlayButton) {
    start({test::demoFile()});
    const SWFDocument& doc = *frame().document();
    int sound = -1;
    for (int i = 0; i < doc.count() && sound < 0; ++i)
        if (doc.resource(i).kind == kKindSound) sound = i;
    ASSERT_GE(sound, 0);
    frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame()));
    KSListCtrl& list = *frame().listCtrl();
    list.clearSelection();
    list.setItemSelected(sound, true);
    list.setFocusedItem(sound);
    list.currentView()->setFocus();
    KSPlayButton* play = frame().pictView()->playButton();
    QTRY_VERIFY(play->isVisible());
    bool reached = false;
    for (int i = 0; i < 8 && !reached; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached = play->hasFocus();
    }
    EXPECT_TRUE(reached);
}

TEST_F(Manners, FirstStartIsCentredOnTheScreen) {
    start();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect window = frame().geometry();
    EXPECT_GE(window.width(), std::min(710, area.width()));
    EXPECT_LE(std::abs(window.center().x() - area.center().x()), 2);
    EXPECT_LE(std::abs(window.center().y() - area.center().y()), 2);
}

TEST_F(Manners, OverwriteQuestionOffersNoToAllAndShowsAQuestionIcon) {
    KSFileAlreadyExistsDlg dialog(QStringLiteral("/tmp/x.png"), nullptr);
    ASSERT_TRUE(dialog.button(KSFileAlreadyExistsDlg::NoToAll));
    EXPECT_EQ(dialog.button(KSFileAlreadyExistsDlg::NoToAll)->text(), QStringLiteral("N&o to All"));
    const auto* icon = dialog.findChild<QLabel*>(QStringLiteral("icon"));
    ASSERT_TRUE(icon);
    EXPECT_FALSE(icon->pixmap().isNull());
    // Every button keeps its own access key.
    std::set<QChar> keys;
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        const int amp = int(button->text().indexOf(QLatin1Char('&')));
        if (amp >= 0) {
            EXPECT_TRUE(keys.insert(button->text().at(amp + 1).toLower()).second);
        }
    }
}

TEST_F(Manners, PreviewOpenedFromTheKeyboardComesUpOverTheWindow) {
    start({test::demoFile()});
    frame().setGeometry(QRect(20, 20, 420, 360));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint far(screen.right() - 5, screen.bottom() - 5);
    QCursor::setPos(far);
    if (QCursor::pos() != far) GTEST_SKIP() << "the platform cannot move the pointer";
    ASSERT_FALSE(frame().frameGeometry().contains(far));
    test::selectOnly(*frame().listCtrl(), 0);
    QRect placed;
    const test::ModalRun run = test::runPreview<KSViewImage>([this] { frame().onCommand(kCmdView); },
                                                             [&placed](KSViewImage& preview) {
                                                                 placed = preview.geometry();
                                                                 preview.close();
                                                             });
    ASSERT_TRUE(run.opened);
    EXPECT_TRUE(placed.intersects(frame().frameGeometry())) << placed.x() << "," << placed.y();
}

}  // namespace
}  // namespace kestrel
