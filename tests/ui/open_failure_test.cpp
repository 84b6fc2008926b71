// A failed open: by the time its message is shown the old movie is gone
// from every part of the window (commands, list, panel, status bar, title),
// and a dropped folder is refused without closing the open movie.
#include <gtest/gtest.h>

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>

#include "document/swf_document.h"
#include "swfbuilder/swf_builder.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/controls/status_bar.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

// Every command that acts on an open movie.
constexpr int kMovieCommands[] = {kCmdCloseSwf,        kCmdLaunchSwf,  kCmdExtract,      kCmdView,    kCmdSelectAll,
                                  kCmdInvertSelection, kCmdProperties, kCmdLargeIcons,   kCmdDetails, kCmdSortType,
                                  kCmdSortFrame,       kCmdSortMemory, kCmdSortDimension};

class OpenFailure : public test::UiTest {
protected:
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSChildView& pane() { return *frame().childView(); }
    QString paneText(int i) { return frame().statusBarPanes()->paneText(i); }

    // Opens the demo with one resource selected, so that every command is on.
    void openDemo() {
        start({test::demoFile()});
        ASSERT_TRUE(frame().document());
        frame().show();
        pane().listCtrl()->setItemSelected(0, true);
        pane().listCtrl()->setFocusedItem(0);
        for (int id : kMovieCommands) ASSERT_TRUE(frame().action(id)->isEnabled()) << id;
        ASSERT_NE(paneText(0), QStringLiteral("None"));
    }

    // Checks the window while the failure's message box is up; true once it ran.
    void expectEmptyWindowWhileTheMessageIsUp(bool& ran) {
        test::messages().onShow = [this, &ran] {
            ran = true;
            // No update may be pending: what the actions say now is what the
            // user sees.
            for (int id : kMovieCommands) EXPECT_FALSE(frame().action(id)->isEnabled()) << "command " << id;
            EXPECT_TRUE(frame().action(kCmdOpen)->isEnabled());
            EXPECT_EQ(paneText(0), QStringLiteral("None"));
            EXPECT_EQ(paneText(1), QString());
            EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel"));
            EXPECT_EQ(pane().listCtrl()->itemCount(), 0);
            for (QProgressBar* bar : frame().findChildren<QProgressBar*>()) EXPECT_FALSE(bar->isVisible());
        };
    }

    void drop(const QString& path) {
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&frame(), &enter);
        QDropEvent event(QPointF(100, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&frame(), &event);
        delete mime;
    }
};

TEST_F(OpenFailure, NonMovieAndDamagedFileLeaveTheEmptyWindow) {
    test::TempDir dir;
    const QString text = QString::fromStdString(dir.write("notes.swf", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r'}));
    swfbuilder::Tags tags;
    tags.showFrame().end();
    const QString damaged = QString::fromStdString(
        dir.write("cut.swf", swfbuilder::SwfFile().compressed().tags(tags).truncate(14).bytes()));

    openDemo();
    for (const QString& path : {text, damaged}) {
        SCOPED_TRACE(path.toStdString());
        if (!frame().document()) {
            frame().openFile(test::demoFile());
            pane().listCtrl()->setItemSelected(0, true);
        }
        test::messages().clear();
        bool ran = false;
        expectEmptyWindowWhileTheMessageIsUp(ran);
        EXPECT_FALSE(frame().openFile(path));
        EXPECT_TRUE(ran);
        ASSERT_EQ(test::messages().shown.size(), 1u);
        test::messages().clear();
        // And so it stays.
        EXPECT_FALSE(frame().action(kCmdExtract)->isEnabled());
        EXPECT_EQ(paneText(0), QStringLiteral("None"));
    }
}

TEST_F(OpenFailure, VanishedRecentEntryLeavesTheEmptyWindow) {
    test::TempDir dir;
    const QString copy = QString::fromStdString(dir.file("gone.swf"));
    ASSERT_TRUE(QFile::copy(test::demoFile(), copy));
    start({copy});
    ASSERT_TRUE(frame().document());
    frame().openFile(test::demoFile());  // gone.swf goes to the recent list
    ASSERT_EQ(app_->recentFiles().entries().value(0), copy);
    pane().listCtrl()->setItemSelected(0, true);
    ASSERT_TRUE(QFile::remove(copy));

    bool ran = false;
    expectEmptyWindowWhileTheMessageIsUp(ran);
    frame().action(kCmdRecentFirst)->trigger();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(frame().document());
}

TEST_F(OpenFailure, DroppedFolderIsRefusedAndTheMovieStaysOpen) {
    test::TempDir dir;
    openDemo();
    const int count = frame().document()->count();
    drop(QString::fromStdString(dir.path()));
    QTRY_COMPARE(int(test::messages().shown.size()), 1);
    EXPECT_EQ(test::messages().shown[0].text,
              QString::fromStdString(dir.path()) + QStringLiteral(" is a folder, not an SWF movie."));
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(frame().document()->count(), count);
    EXPECT_EQ(pane().path(), test::demoFile());
    EXPECT_TRUE(frame().action(kCmdExtract)->isEnabled());
}

}  // namespace
}  // namespace kestrel
