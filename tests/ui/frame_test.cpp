// The program as a whole: start-up with and without a file, drops, the
// enabling of every command, status texts, title, the recent-file list and
// what survives a restart.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QSettings>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "document/swf_document.h"
#include "list_helpers.h"
#include "modal_script.h"
#include "swfbuilder/swf_builder.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/controls/status_bar.h"
#include "ui/dialogs/properties_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui/list/main_view.h"
#include "ui/preview/pict_view.h"
#include "ui_test_support.h"

#include <QApplication>
#include <QProgressBar>
#include <climits>

namespace kestrel {
namespace {

using test::demoFile;

class Frame : public test::UiTest {
protected:
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSChildView& pane() { return *frame().childView(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    QString pane0() { return frame().statusBarPanes()->paneText(0); }
    QString pane1() { return frame().statusBarPanes()->paneText(1); }
    bool enabled(int id) {
        frame().updateCommandUI();
        return frame().action(id)->isEnabled();
    }
    bool checked(int id) {
        frame().updateCommandUI();
        return frame().action(id)->isChecked();
    }
    void select(std::initializer_list<int> rows) { test::selectRows(list(), rows, true); }
    void drop(const QStringList& paths) {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& p : paths) urls.append(QUrl::fromLocalFile(p));
        mime->setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&frame(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(100, 100), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&frame(), &event);
        delete mime;
    }
    static std::string write(test::TempDir& dir, const char* name, const swfbuilder::Bytes& bytes) {
        return dir.write(name, bytes);
    }
};

TEST_F(Frame, StartsEmptyWithEveryFileCommandOff) {
    start();
    EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel"));
    EXPECT_EQ(pane0(), QStringLiteral("None"));
    EXPECT_TRUE(frame().isVisible());
    for (int id : {kCmdOpen, kCmdOpenInternetCache, kCmdHelpContents, kCmdAbout, kCmdExit, kCmdToggleToolbar,
                   kCmdToggleStatusBar})
        EXPECT_TRUE(enabled(id)) << id;
    for (int id :
         {kCmdCloseSwf, kCmdLaunchSwf, kCmdExtract, kCmdView, kCmdSelectAll, kCmdInvertSelection, kCmdProperties,
          kCmdLargeIcons, kCmdDetails, kCmdSortType, kCmdSortFrame, kCmdSortMemory, kCmdSortDimension})
        EXPECT_FALSE(enabled(id)) << id;
    EXPECT_FALSE(checked(kCmdLargeIcons));
    EXPECT_FALSE(checked(kCmdDetails));
    EXPECT_TRUE(checked(kCmdToggleToolbar));
    EXPECT_TRUE(checked(kCmdToggleStatusBar));
    // The toolbar's Details and Icons buttons follow the same actions.
    for (int id : {kCmdDetails, kCmdLargeIcons}) {
        auto* button = qobject_cast<QToolButton*>(frame().toolBar()->widgetForAction(frame().action(id)));
        ASSERT_TRUE(button);
        EXPECT_FALSE(button->isEnabled());
        EXPECT_FALSE(button->isChecked());
    }
}

TEST_F(Frame, ToolbarIconsHaveADrawingForScreensScaledByTwo) {
    start();
    for (int id : {kCmdOpen, kCmdView, kCmdLargeIcons}) {
        const QIcon icon = frame().action(id)->icon();
        EXPECT_EQ(icon.pixmap(QSize(23, 20), 1.0).size(), QSize(23, 20)) << id;
        // Not the small drawing enlarged.
        EXPECT_EQ(icon.pixmap(QSize(23, 20), 2.0).size(), QSize(46, 40)) << id;
    }
}

TEST_F(Frame, CommandLineFileIsOpenedAbsolute) {
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QFileInfo(demoFile()).absolutePath());
    start({QStringLiteral("demo.swf")});
    QDir::setCurrent(previous);
    const QString absolute = QFileInfo(demoFile()).absoluteFilePath();
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(pane().path(), absolute);
    EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel - ") + absolute);
    EXPECT_EQ(list().itemCount(), test::demoResourceCount());
    EXPECT_EQ(pane0(), QString::number(test::demoResourceCount()) + QStringLiteral(" resources"));
    EXPECT_EQ(pane1(), absolute);
    EXPECT_TRUE(test::messages().shown.empty());
    for (int id : {kCmdCloseSwf, kCmdLaunchSwf, kCmdExtract, kCmdSelectAll, kCmdInvertSelection, kCmdLargeIcons,
                   kCmdDetails, kCmdSortType, kCmdSortDimension})
        EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(checked(kCmdLargeIcons));
    EXPECT_FALSE(checked(kCmdDetails));
    // The sort order is a checked radio item: by type, the default.
    EXPECT_TRUE(checked(kCmdSortType));
    EXPECT_FALSE(checked(kCmdSortDimension));
    // No progress bar is left in the status bar.
    EXPECT_FALSE(frame().statusBarPanes()->findChild<QProgressBar*>());
}

TEST_F(Frame, UnreadableCommandLineFileLeavesAnEmptyWindow) {
    start({QStringLiteral("/nonexistent/folder/clip.swf")});
    EXPECT_FALSE(frame().document());
    EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel"));
    ASSERT_EQ(test::messages().shown.size(), 1u);
    EXPECT_EQ(test::messages().shown[0].text, QStringLiteral("Unable to open file /nonexistent/folder/clip.swf"));
    EXPECT_EQ(test::messages().shown[0].icon, 1);
    EXPECT_TRUE(test::messages().cursorWasLifted);
    EXPECT_FALSE(QApplication::overrideCursor());
    EXPECT_FALSE(enabled(kCmdCloseSwf));
    // The failed file does not enter the recent-file list.
    EXPECT_TRUE(app_->recentFiles().entries().isEmpty());
}

TEST_F(Frame, DropOpensTheFirstSwfAfterTheDropReturns) {
    test::TempDir dir;
    const auto demoBytes = test::readAll(demoFile().toStdString());
    const QString a = QString::fromStdString(dir.write("a.txt", {'x'}));
    const QString b = QString::fromStdString(dir.write("b.SWF", demoBytes));
    const QString c = QString::fromStdString(dir.write("c.swf", demoBytes));
    start();
    drop({a, b, c});
    EXPECT_FALSE(frame().document());  // queued, not yet opened
    test::pump();
    for (const auto& m : test::messages().shown) ADD_FAILURE() << m.text.toStdString();
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(pane().path(), b);

    // No ".swf" among the names: the last one is opened and reported.
    const QString t = QString::fromStdString(dir.write("b.txt", {'n', 'o', 't', ' ', 's', 'w', 'f', '!', '!'}));
    drop({a, t});
    test::pump();
    EXPECT_FALSE(frame().document());
    ASSERT_EQ(test::messages().shown.size(), 1u);
    EXPECT_EQ(test::messages().shown[0].text, QStringLiteral("The file %1 is not a SWF file").arg(t));
    // The file open before the drop went to the recent-file list.
    EXPECT_EQ(app_->recentFiles().entries().value(0), b);
}

TEST_F(Frame, DroppedFileChoice) {
    EXPECT_EQ(KSMainFrame::chooseDroppedFile({"/a.txt", "/b.SWF", "/c.swf"}), QStringLiteral("/b.SWF"));
    EXPECT_EQ(KSMainFrame::chooseDroppedFile({"/a.txt", "/b.txt"}), QStringLiteral("/b.txt"));
    EXPECT_EQ(KSMainFrame::chooseDroppedFile({"/dir.swf/a", "/x.swfx"}), QStringLiteral("/x.swfx"));
    EXPECT_EQ(KSMainFrame::chooseDroppedFile({}), QString());
}

TEST_F(Frame, SelectionDrivesEnablingAndStatusTexts) {
    start({demoFile()});
    const SWFDocument& doc = *frame().document();

    select({});
    EXPECT_FALSE(enabled(kCmdView));
    EXPECT_FALSE(enabled(kCmdProperties));
    EXPECT_TRUE(enabled(kCmdExtract));

    select({3});
    EXPECT_TRUE(enabled(kCmdView));
    EXPECT_TRUE(enabled(kCmdProperties));
    EXPECT_EQ(pane0(), QStringLiteral("1 resource selected"));
    EXPECT_EQ(pane1(), QString::fromStdString(doc.resource(3).description));

    select({3, 5});
    EXPECT_FALSE(enabled(kCmdView));
    EXPECT_FALSE(enabled(kCmdProperties));
    EXPECT_EQ(pane0(), QStringLiteral("2 resources selected"));
    EXPECT_EQ(pane1(), pane().path());

    frame().action(kCmdSelectAll)->trigger();
    EXPECT_EQ(list().selectedCount(), test::demoResourceCount());
    EXPECT_EQ(pane0(), QString::number(test::demoResourceCount()) + QStringLiteral(" resources selected"));

    select({0, 1});
    frame().action(kCmdInvertSelection)->trigger();
    const std::vector<int> inverted = list().selectedIndices();
    ASSERT_EQ(int(inverted.size()), test::demoResourceCount() - 2);
    EXPECT_EQ(inverted.front(), 2);
    EXPECT_EQ(pane0(), QString::number(test::demoResourceCount() - 2) + QStringLiteral(" resources selected"));
}

TEST_F(Frame, FileWithoutResourcesSaysNoResource) {
    const QString path = test::fixtureFile("no-resources.swf");
    start({path});
    for (const auto& m : test::messages().shown) ADD_FAILURE() << m.text.toStdString();
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(pane0(), QStringLiteral("No resource"));
    EXPECT_EQ(list().itemCount(), 0);
}

TEST_F(Frame, EnterRunsViewOnceAndOnlyForOneSelectedItem) {
    start({demoFile()});
    int views = 0;
    QObject::connect(frame().action(kCmdView), &QAction::triggered, [&views] { ++views; });
    QAbstractItemView* view = list().currentView();
    view->setFocus();
    frame().activateWindow();
    QApplication::setActiveWindow(&frame());
    // The two previews that View opens are closed as soon as they are up.
    test::ModalScript script;
    script.on<QDialog>("first preview", [](QDialog* preview) { preview->close(); });
    script.on<QDialog>("second preview", [](QDialog* preview) { preview->close(); });
    // Without a window manager nothing hands the activation back to the
    // window once a preview has gone (after some previews no window at all
    // is active, and shortcuts find no window): each key is pressed with
    // the window made active again, as the start of the test does.
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        ASSERT_EQ(QApplication::activeModalWidget(), nullptr);
        QApplication::setActiveWindow(&frame());
        ASSERT_EQ(QApplication::activeWindow(), &frame());
        QTest::keyClick(view, key, modifiers);
    };

    select({2});
    press(Qt::Key_Return);
    EXPECT_EQ(views, 1);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(views, 2);

    select({2, 4});
    press(Qt::Key_Return);
    EXPECT_EQ(views, 2);
    select({});
    press(Qt::Key_Return);
    EXPECT_EQ(views, 2);
    EXPECT_EQ(script.done(), 2);
}

TEST_F(Frame, AltEnterShowsThePropertiesOfTheSelectedResource) {
    start({demoFile()});
    QApplication::setActiveWindow(&frame());
    list().currentView()->setFocus();
    select({0});
    QString shownTitle;
    test::ModalScript script;
    script.on<KSPropertiesDlg>("properties", [&shownTitle](KSPropertiesDlg* dialog) {
        shownTitle = dialog->fieldText(KSPropertiesDlg::kTitle);
        dialog->accept();
    });
    QTest::keyClick(list().currentView(), Qt::Key_Return, Qt::AltModifier);
    const SWFRes& record = frame().document()->resource(0);
    EXPECT_EQ(shownTitle, QStringLiteral("%1 #%2")
                              .arg(record.kind == kKindImage ? QStringLiteral("Image") : QStringLiteral("Sound"))
                              .arg(record.number));
}

TEST_F(Frame, StatusPromptsShowInPaneZeroAndGiveItBack) {
    start({demoFile()});
    QStatusTipEvent tip(commandStatusText(kCmdOpen));
    QCoreApplication::sendEvent(&frame(), &tip);
    EXPECT_EQ(frame().statusBarPanes()->pane(0)->text(), QStringLiteral("Open an existing SWF document"));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(&frame(), &none);
    EXPECT_EQ(frame().statusBarPanes()->pane(0)->text(),
              QString::number(test::demoResourceCount()) + QStringLiteral(" resources"));
}

TEST_F(Frame, MenusToolbarAndPrompts) {
    start();
    EXPECT_EQ(frame().action(kCmdOpen)->text(), QStringLiteral("&Open SWF...\tCtrl+O"));
    EXPECT_EQ(frame().action(kCmdOpen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(frame().action(kCmdCloseSwf)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F4));
    EXPECT_EQ(frame().action(kCmdView)->shortcuts(),
              (QList<QKeySequence>{QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}));
    EXPECT_EQ(frame().action(kCmdProperties)->statusTip(),
              QStringLiteral("Display details about the selected resource"));
    EXPECT_EQ(frame().action(kCmdProperties)->toolTip(), QStringLiteral("Properties"));
    EXPECT_EQ(frame().action(kCmdInvertSelection)->statusTip(),
              QStringLiteral("Reverse which resources are selected and which are not"));

    QToolBar* bar = frame().toolBar();
    EXPECT_EQ(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QStringList texts;
    int width = -1;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            texts << QStringLiteral("|");
            continue;
        }
        texts << a->iconText();
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
        ASSERT_TRUE(button);
        if (width < 0) width = button->width();
        EXPECT_EQ(button->width(), width);
    }
    EXPECT_EQ(texts, (QStringList{"Open", "Extract", "View", "Properties", "Play SWF", "|", "Details", "Icons"}));
    EXPECT_GE(width, 50);
    EXPECT_LE(width, 150);
}

TEST_F(Frame, StatusBarHasAStretchingPaneAndADescriptionPane) {
    start();
    OBCStatusBar* bar = frame().statusBarPanes();
    ASSERT_EQ(bar->paneCount(), 2);
    const QRect first = bar->paneRect(0);
    const QRect second = bar->paneRect(1);
    EXPECT_GE(second.width(), QFontMetrics(frame().font()).horizontalAdvance(QString(93, QLatin1Char(' '))));
    EXPECT_LE(second.right(), bar->width());
    EXPECT_LT(first.right(), second.left());
    EXPECT_GE(bar->height(), 20);
    frame().resize(frame().width() + 200, frame().height());
    test::pump();
    EXPECT_EQ(bar->paneRect(0).width(), first.width() + 200);
    EXPECT_EQ(bar->paneRect(1).width(), second.width());
}

TEST_F(Frame, ClosingPutsTheFileOnTopOfTheRecentList) {
    test::TempDir dir;
    const auto bytes = test::readAll(demoFile().toStdString());
    const QString first = QString::fromStdString(dir.write("first.swf", bytes));
    const QString second = QString::fromStdString(dir.write("second.swf", bytes));
    start({first});
    frame().openFile(second);
    EXPECT_EQ(app_->recentFiles().entries(), QStringList{first});
    frame().action(kCmdCloseSwf)->trigger();
    EXPECT_EQ(app_->recentFiles().entries(), (QStringList{second, first}));
    EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel"));
    EXPECT_EQ(pane0(), QStringLiteral("None"));
    EXPECT_EQ(list().itemCount(), 0);
    EXPECT_FALSE(enabled(kCmdCloseSwf));
    // The recent entries are in the File menu, numbered.
    frame().updateRecentMenu();
    EXPECT_EQ(frame().action(kCmdRecentFirst)->text(), QStringLiteral("&1 ") + second);
    EXPECT_TRUE(frame().action(kCmdRecentFirst + 1)->isVisible());
    EXPECT_FALSE(frame().action(kCmdRecentFirst + 2)->isVisible());
}

TEST_F(Frame, ARecentEntryThatFailsIsRemovedByPath) {
    {
        RecentFileList stored;
        stored.add(demoFile());
        stored.add(QStringLiteral("/gone/missing.swf"));
        stored.save();
    }
    start();
    ASSERT_EQ(app_->recentFiles().entries().size(), 2);
    frame().action(kCmdRecentFirst)->trigger();
    EXPECT_FALSE(frame().document());
    EXPECT_EQ(app_->recentFiles().entries(), QStringList{QFileInfo(demoFile()).absoluteFilePath()});
    frame().action(kCmdRecentFirst)->trigger();
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(pane().path(), QFileInfo(demoFile()).absoluteFilePath());
}

TEST_F(Frame, CloseSequenceSurvivesARestart) {
    start({demoFile()});
    frame().action(kCmdDetails)->trigger();
    frame().action(kCmdSortMemory)->trigger();
    frame().action(kCmdSortMemory)->trigger();
    frame().action(kCmdToggleStatusBar)->trigger();
    frame().setGeometry(40, 50, 640, 480);
    EXPECT_TRUE(frame().close());
    finish();

    const QSettings store;
    EXPECT_EQ(store.value(QStringLiteral("Settings/WindowPlacement")).toString(),
              QStringLiteral("0,0,1,-1,-1,-1,-1,40,50,680,530"));
    const auto prefs = decodePrefs(store.value(QStringLiteral("Settings/Prefs")).toString());
    ASSERT_TRUE(prefs);
    EXPECT_EQ(*prefs, (SettingsRecord{1, 1, -3, 0, 1}));

    start();
    EXPECT_EQ(app_->recentFiles().entries().value(0), QFileInfo(demoFile()).absoluteFilePath());
    EXPECT_EQ(frame().action(kCmdRecentFirst)->text(),
              QStringLiteral("&1 ") + QFileInfo(demoFile()).absoluteFilePath());
    EXPECT_EQ(pane().viewMode(), 1);
    EXPECT_EQ(pane().sortKey(), -3);
    EXPECT_TRUE(frame().statusBarPanes()->isHidden());
    EXPECT_EQ(frame().geometry(), QRect(40, 50, 640, 480));
    // The stored descending key sorts the next file descending.
    frame().openFile(demoFile());
    const SWFDocument& doc = *frame().document();
    for (int i = 1; i < doc.count(); ++i) EXPECT_GE(doc.resource(i - 1).memorySize, doc.resource(i).memorySize);
}

TEST_F(Frame, StoredPrefsOutOfRangeStartWithDefaults) {
    QSettings store;
    store.setValue(QStringLiteral("Settings/Prefs"), encodePrefs(SettingsRecord{1, 3, INT_MIN, 1, 1}));
    store.sync();
    start({demoFile()});
    EXPECT_EQ(pane().viewMode(), 0);
    EXPECT_EQ(pane().sortKey(), 1);
    frame().action(kCmdSortType)->trigger();
    EXPECT_EQ(pane().sortKey(), -1);
}

TEST_F(Frame, HelpOpensTheManualBesideTheProgram) {
    start();
    frame().action(kCmdHelpContents)->trigger();
    ASSERT_EQ(test::openedUrls().urls.size(), 1u);
    const QString path = test::openedUrls().urls[0].toLocalFile();
    EXPECT_TRUE(path.endsWith(QStringLiteral("kestrel-manual.html")));
    EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_EQ(path, KestrelApp::manualPath());
}

TEST_F(Frame, LaunchHandsTheOpenFileToTheDesktop) {
    start({demoFile()});
    frame().action(kCmdLaunchSwf)->trigger();
    ASSERT_EQ(test::openedUrls().urls.size(), 1u);
    EXPECT_EQ(test::openedUrls().urls[0], QUrl::fromLocalFile(QFileInfo(demoFile()).absoluteFilePath()));
}

TEST_F(Frame, PictureShowsOnlyWhenAThirdOfTheWidthReaches150) {
    start();
    KSMainView* view = frame().mainView();
    frame().resize(420, 400);
    test::pump();
    EXPECT_LT(view->contentsRect().width() / 3, 150);
    EXPECT_TRUE(frame().pictView()->isHidden());
    EXPECT_EQ(pane().width(), view->contentsRect().width());
    frame().resize(900, 400);
    test::pump();
    const int third = view->contentsRect().width() / 3;
    ASSERT_GE(third, 150);
    EXPECT_FALSE(frame().pictView()->isHidden());
    EXPECT_EQ(frame().pictView()->width(), third);
    EXPECT_EQ(pane().x() - view->contentsRect().x(), third);
}

TEST_F(Frame, TheWindowDoesNotCloseWhileAFileIsRead) {
    // One good image and one whose pixel data does not inflate: the reader
    // warns while the file is still being read.
    swfbuilder::Tags tags;
    tags.tag(swfbuilder::kTagDefineBitsLossless,
             swfbuilder::losslessBody(1, 5, 1, 1, swfbuilder::deflate(swfbuilder::argbRows({0x102030FF}))));
    tags.tag(swfbuilder::kTagDefineBitsLossless, swfbuilder::losslessBody(2, 5, 4, 4, {1, 2, 3, 4, 5, 6}));
    tags.showFrame().end();
    test::TempDir dir;
    const QString path = QString::fromStdString(dir.write("partly.swf", swfbuilder::SwfFile().tags(tags).bytes()));
    start();
    bool closed = true;
    bool busyWhileShown = false;
    test::messages().onShow = [&] {
        busyWhileShown = pane().busy();
        closed = frame().close();
    };
    ASSERT_TRUE(frame().openFile(path));
    test::messages().onShow = nullptr;
    ASSERT_EQ(test::messages().shown.size(), 1u);
    // The message names the failed tag under its text.
    EXPECT_TRUE(test::messages().shown[0].text.startsWith(
        QStringLiteral("Errors occurred while reading some resources.\n  DefineBitsLossless (tag 20) at offset ")))
        << test::messages().shown[0].text.toStdString();
    EXPECT_EQ(test::messages().shown[0].icon, 3);
    EXPECT_TRUE(busyWhileShown);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(frame().isVisible());
    EXPECT_EQ(list().itemCount(), 1);
    EXPECT_FALSE(pane().busy());
    EXPECT_TRUE(frame().close());
}

TEST_F(Frame, ADamagedCompressedMovieShowsWhatPrecedesTheDamage) {
    swfbuilder::Tags tags;
    for (std::uint32_t c = 0; c < 3; ++c) {
        tags.tag(swfbuilder::kTagDefineBitsLossless,
                 swfbuilder::losslessBody(std::uint16_t(c + 1), 5, 1, 1,
                                          swfbuilder::deflate(swfbuilder::argbRows({0x102030FF + (c << 8)}))));
    }
    // Filler that does not compress, so that the cut falls after the images.
    std::uint32_t seed = 7;
    for (int i = 0; i < 30; ++i) {
        swfbuilder::Bytes noise(400);
        for (auto& b : noise) b = std::uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
        tags.tag(777, noise);
    }
    tags.showFrame().end();
    swfbuilder::Bytes file = swfbuilder::SwfFile().compressed().tags(tags).bytes();
    file.resize(file.size() * 2 / 3);
    test::TempDir dir;
    start();
    SWFDocument* doc = frame().openFile(QString::fromStdString(dir.write("cut.swf", file)));
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->readResult(), kReadDamaged);
    EXPECT_EQ(list().itemCount(), 3);
    ASSERT_EQ(test::messages().shown.size(), 1u);
    EXPECT_TRUE(test::messages().shown[0].text.startsWith(
        QStringLiteral("Unable to read the SWF file. It may be truncated or damaged.\n  Body at offset ")));
    EXPECT_TRUE(test::messages().shown[0].text.endsWith(QStringLiteral(": zlib stream cut short")));
    EXPECT_EQ(test::messages().shown[0].icon, 1);
    frame().action(kCmdCloseSwf)->trigger();
}

TEST_F(Frame, EveryRealFileOpensSortsAndCloses) {
    // Each real file either opens with as many items as the document holds
    // or is reported; the window survives all of them in both modes.
    start();
    const QStringList files = test::realMovies();
    ASSERT_GE(files.size(), 10);
    int opened = 0;
    for (const QString& path : files) {
        const QString name = QFileInfo(path).fileName();
        test::messages().clear();
        SWFDocument reference;
        const bool usable = reference.readFile(QFile::encodeName(path).toStdString(), nullptr, nullptr);
        SWFDocument* doc = frame().openFile(path);
        ASSERT_EQ(doc != nullptr, usable) << name.toStdString();
        if (!doc) {
            EXPECT_EQ(test::messages().shown.size(), 1u) << name.toStdString();
            EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel"));
            continue;
        }
        ++opened;
        EXPECT_EQ(list().itemCount(), reference.count()) << name.toStdString();
        EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel - ") + path);
        frame().action(opened % 2 ? kCmdDetails : kCmdLargeIcons)->trigger();
        frame().action(kCmdSortDimension)->trigger();
        frame().action(kCmdSelectAll)->trigger();
        EXPECT_EQ(list().selectedCount(), reference.count());
        frame().mainView()->grab();  // draws every visible item
    }
    EXPECT_GT(opened, files.size() / 2);
    frame().action(kCmdCloseSwf)->trigger();
    EXPECT_EQ(app_->recentFiles().entries().size(), 8);
}

}  // namespace
}  // namespace kestrel
