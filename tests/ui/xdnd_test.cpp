// Dragging resources out on a real X11 display (run under Xvfb): the mouse
// is driven through the XTEST extension, so the drag goes through the same
// XDND exchange as one made by hand. The target is another process,
// ui_drop_target, which copies what it receives.
//
// Also here: the drag-out folder is gone once the program has ended; a
// child run of this executable drags resources and exits.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "document/swf_document.h"
#include "fake_input.h"
#include "list_helpers.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/drag_out.h"
#include "ui/list/list_ctrl.h"

namespace kestrel {
namespace {

bool onDisplay = false;
int messagesShown = 0;

QString demoFile() { return QStringLiteral(KESTREL_SOURCE_DIR "/samples/demo.swf"); }

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

using test::FakeInput;

// Moves in small steps, as a hand does.
void glide(FakeInput& input, QPoint from, QPoint to, int steps = 30) {
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        input.moveTo(p.x(), p.y());
    }
}

// Runs the input script in a thread and keeps the event loop going until
// it and `until` are done.
bool play(const std::function<void(FakeInput&)>& script, const std::function<bool()>& until, int timeoutMs = 30000) {
    FakeInput input;
    if (!input.ready()) return false;
    std::atomic<bool> finished{false};
    std::thread player([&] {
        script(input);
        finished = true;
    });
    const bool ok = QTest::qWaitFor([&] { return finished.load() && until(); }, timeoutMs);
    // Whatever happened, the thread must end before `input` goes.
    while (!finished) QTest::qWait(50);
    player.join();
    return ok;
}

class RealDrag : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onDisplay) GTEST_SKIP() << "no X11 display";
        if (!FakeInput().ready()) GTEST_SKIP() << "no XTEST on this display";
        QSettings().clear();
        app_ = std::make_unique<KestrelApp>();
        ASSERT_TRUE(app_->initInstance({QStringLiteral("kestrel"), movie_}));
        frame().setGeometry(0, 0, 700, 560);
        frame().action(kCmdDetails)->trigger();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame()));
        ASSERT_TRUE(frame().document());
        QTest::qWait(200);
        QObject::connect(&list(), &KSListCtrl::dragRequested, [this] { ++drags_; });
    }
    void TearDown() override {
        if (target_.state() != QProcess::NotRunning) {
            target_.kill();
            target_.waitForFinished();
        }
        if (app_) app_->exitInstance();
        app_.reset();
    }

    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    SWFDocument& doc() { return *frame().document(); }
    int rowOf(int kind, int number) { return test::rowOf(doc(), kind, number); }
    void select(std::initializer_list<int> rows) { test::selectRows(list(), rows); }
    // The centre of a row on the screen.
    QPoint rowOnScreen(int row) {
        QAbstractItemView* view = list().currentView();
        view->scrollTo(list().model()->index(row, 0));
        return view->viewport()->mapToGlobal(list().itemRect(row).center());
    }
    // Starts the other program and waits until its window is on screen.
    QRect startTarget(const QString& folder) {
        return startOther({folder, QStringLiteral("760"), QStringLiteral("80")});
    }
    QRect startOther(const QStringList& arguments) {
        target_.start(QStringLiteral(KESTREL_DROP_TARGET), arguments);
        QRect where;
        const bool answered = QTest::qWaitFor(
            [&] {
                if (!target_.canReadLine()) return target_.state() == QProcess::NotRunning;
                const QStringList words = QString::fromLocal8Bit(target_.readLine()).trimmed().split(QLatin1Char(' '));
                if (words.size() == 5 && words[0] == QLatin1String("ready"))
                    where = QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
                return true;
            },
            10000);
        return answered ? where : QRect();
    }

    QString movie_ = demoFile();
    std::unique_ptr<KestrelApp> app_;
    QProcess target_;
    int drags_ = 0;
};

TEST_F(RealDrag, TwoResourcesReachAnotherProgramAsFiles) {
    const int image = rowOf(kKindImage, 1);
    const int sound = rowOf(kKindSound, 1);
    select({image, sound});
    QTemporaryDir received;
    const QRect target = startTarget(received.path());
    ASSERT_TRUE(target.isValid()) << "the drop target did not start";
    const QPoint from = rowOnScreen(image);
    const QPoint to = target.center();

    const bool ok = play(
        [&](FakeInput& input) {
            input.moveTo(from.x(), from.y());
            input.press();
            glide(input, from, to);
            input.release();
        },
        [&] { return target_.state() == QProcess::NotRunning; });
    ASSERT_EQ(drags_, 1);
    ASSERT_TRUE(ok) << "the drop never ended";
    const QString report = QString::fromLocal8Bit(target_.readAllStandardOutput());
    EXPECT_EQ(report, QStringLiteral("file demo-1.jpg\nfile demo-1.wav\ndone\n"));

    EXPECT_EQ(entries(received.path()), (QStringList{QStringLiteral("demo-1.jpg"), QStringLiteral("demo-1.wav")}));
    test::TempDir reference;
    for (const auto& [row, name] : {std::pair{image, "demo-1.jpg"}, std::pair{sound, "demo-1.wav"}}) {
        const std::string path = reference.file(name);
        ASSERT_EQ(writeResourceFile(doc().resource(row), path), WriteOk);
        EXPECT_EQ(bytesOf(received.filePath(QString::fromLatin1(name))), bytesOf(QString::fromStdString(path))) << name;
    }
    // The target copied them out of the program's own temporary folder.
    EXPECT_EQ(entries(DragOutFolder::path()),
              (QStringList{QStringLiteral("demo-1.jpg"), QStringLiteral("demo-1.wav")}));
    EXPECT_TRUE(frame().document());
    EXPECT_EQ(messagesShown, 0);
}

TEST_F(RealDrag, DroppingOnTheProgramItselfWritesNothing) {
    const int image = rowOf(kKindImage, 1);
    const int sound = rowOf(kKindSound, 1);
    select({image, sound});
    const QPoint from = rowOnScreen(image);
    const QPoint onList = rowOnScreen(rowOf(kKindImage, 4));
    const QPoint onTitle = frame().mapToGlobal(QPoint(300, 5));  // the menu bar: still the window
    const QString path = frame().childView()->path();

    ASSERT_TRUE(play(
        [&](FakeInput& input) {
            input.moveTo(from.x(), from.y());
            input.press();
            glide(input, from, onTitle);
            glide(input, onTitle, onList);
            input.release();
        },
        [] { return true; }));
    QTest::qWait(300);
    ASSERT_EQ(drags_, 1);
    EXPECT_TRUE(entries(DragOutFolder::path()).isEmpty());
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(frame().childView()->path(), path);
    EXPECT_EQ(messagesShown, 0);
}

TEST_F(RealDrag, EscapeCancelsTheDrag) {
    const int image = rowOf(kKindImage, 1);
    select({image});
    QTemporaryDir received;
    const QRect target = startTarget(received.path());
    ASSERT_TRUE(target.isValid());
    const QPoint from = rowOnScreen(image);

    ASSERT_TRUE(play(
        [&](FakeInput& input) {
            input.moveTo(from.x(), from.y());
            input.press();
            glide(input, from, from + QPoint(60, 40));
            input.escape();
            glide(input, from + QPoint(60, 40), target.center());
            input.release();
        },
        [] { return true; }));
    QTest::qWait(500);
    ASSERT_EQ(drags_, 1);
    EXPECT_EQ(target_.state(), QProcess::Running);  // nothing was dropped on it
    EXPECT_TRUE(entries(received.path()).isEmpty());
    EXPECT_TRUE(entries(DragOutFolder::path()).isEmpty());
}

TEST_F(RealDrag, AMovieDroppedOnTheListFromAnotherProgramOpens) {
    QTemporaryDir folder;
    const QString other = folder.filePath(QStringLiteral("other.swf"));
    ASSERT_TRUE(QFile::copy(demoFile(), other));
    const QRect source = startOther({QStringLiteral("--source"), other, QStringLiteral("760"), QStringLiteral("80")});
    ASSERT_TRUE(source.isValid());
    const QPoint onList = rowOnScreen(rowOf(kKindImage, 3));

    const bool ok = play(
        [&](FakeInput& input) {
            input.moveTo(source.center().x(), source.center().y());
            input.press();
            glide(input, source.center(), onList);
            input.release();
        },
        [&] { return target_.state() == QProcess::NotRunning && frame().childView()->path() == other; });
    EXPECT_TRUE(ok);
    EXPECT_EQ(QString::fromLocal8Bit(target_.readAllStandardOutput()), QStringLiteral("copied\n"));
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(frame().childView()->path(), other);
    EXPECT_EQ(drags_, 0);
    EXPECT_EQ(messagesShown, 0);
}

// ---- the folder after the program ends ----

// The child: opens the movie, writes every resource as a drop would, tells
// where, and ends the way the program does.
int runChild(const QString& report) {
    KestrelApp app;
    if (!app.initInstance({QStringLiteral("kestrel"), demoFile()}) || !app.mainFrame()->document()) return 4;
    KSChildView* pane = app.mainFrame()->childView();
    pane->listCtrl()->selectAll();
    std::unique_ptr<SWFDragData> data(SWFDropSource::makeData(*pane));
    if (!data) return 5;
    const int delivered = int(data->urls().size());
    QFile out(report);
    if (!out.open(QIODevice::WriteOnly)) return 6;
    out.write(QStringLiteral("%1\n%2\n%3\n")
                  .arg(DragOutFolder::path())
                  .arg(delivered)
                  .arg(entries(DragOutFolder::path()).size())
                  .toLocal8Bit());
    out.close();
    app.exitInstance();
    return 0;
}

TEST(DragOutFolderAtExit, IsRemovedWhenTheProgramEnds) {
    QTemporaryDir scratch;
    const QString report = scratch.filePath(QStringLiteral("report"));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--drag-child"), report});
    ASSERT_TRUE(child.waitForFinished(60000));
    ASSERT_EQ(child.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();

    const QStringList lines = QString::fromLocal8Bit(bytesOf(report)).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    const QString folder = lines[0];
    EXPECT_TRUE(folder.startsWith(QDir::tempPath() + QStringLiteral("/kestrel-drag-"))) << folder.toStdString();
    EXPECT_EQ(lines[1].toInt(), 15);  // every resource delivered
    EXPECT_EQ(lines[2].toInt(), 15);  // and present while the program ran
    EXPECT_FALSE(QFileInfo::exists(folder));
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    // Settings of these runs stay in a folder of their own.
    QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.filePath(QStringLiteral("user")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       settingsHome.filePath(QStringLiteral("system")));

    const bool child = argc == 3 && std::string(argv[1]) == "--drag-child";
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    kestrel::onDisplay = !child && std::getenv("DISPLAY") && (!platform || std::string(platform) == "xcb");
    if (!kestrel::onDisplay) qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Technologies"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrel"));
    kestrel::OBCMessageBox::setHook([](const kestrel::MessageBoxRequest& request) {
        ++kestrel::messagesShown;
        return request.defaultId;
    });
    if (child) return kestrel::runChild(QString::fromLocal8Bit(argv[2]));

    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
