// Dragging resources out, without a display server: the data a drag offers
// and when its files are written, what the drag shows, how a drag starts
// in the list, and the Internet cache command. The drag itself, between
// two programs, runs in the X11 tests.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "document/swf_document.h"
#include "list_helpers.h"
#include "test_support.h"
#include "ui/app/settings.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/drag_out.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

class DragOut : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        movie_ = qs(scratch_.write("movie.swf", test::readAll(test::demoFile().toStdString())));
        start({movie_});
        ASSERT_TRUE(frame().document());
        image_ = rowOf(kKindImage, 1);
        sound_ = rowOf(kKindSound, 1);
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSChildView& pane() { return *frame().childView(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    SWFDocument& doc() { return *frame().document(); }
    int rowOf(int kind, int number) { return test::rowOf(doc(), kind, number); }
    void select(std::initializer_list<int> rows) { test::selectRows(list(), rows, true); }
    QByteArray reference(int row, const WriteOptions& options = {}) {
        const std::string path = reference_.file("ref-" + std::to_string(refCount_++));
        EXPECT_EQ(writeResourceFile(doc().resource(row), path, options), WriteOk);
        return bytesOf(qs(path));
    }
    static QStringList names(const QList<QUrl>& urls) {
        QStringList out;
        for (const QUrl& url : urls) out << QFileInfo(url.toLocalFile()).fileName();
        return out;
    }

    test::TempDir scratch_;
    test::TempDir reference_;
    int refCount_ = 0;
    QString movie_;
    int image_ = 0;
    int sound_ = 0;
};

TEST_F(DragOut, FilesAreWrittenWhenTheTargetFirstAsks) {
    select({image_, sound_});
    std::unique_ptr<SWFDragData> data(SWFDropSource::makeData(pane()));
    ASSERT_TRUE(data);
    const QString folder = DragOutFolder::path();
    ASSERT_FALSE(folder.isEmpty());
    // A private folder, not the shared temporary folder itself.
    EXPECT_NE(QDir(folder).absolutePath(), QDir(QDir::tempPath()).absolutePath());
    EXPECT_EQ(data->formats(), QStringList{QStringLiteral("text/uri-list")});
    EXPECT_TRUE(data->hasUrls());
    EXPECT_TRUE(entries(folder).isEmpty());
    EXPECT_FALSE(data->requested());

    const QList<QUrl> urls = data->urls();
    EXPECT_TRUE(data->requested());
    EXPECT_EQ(names(urls), (QStringList{QStringLiteral("movie-1.jpg"), QStringLiteral("movie-1.wav")}));
    for (const QUrl& url : urls) EXPECT_EQ(QFileInfo(url.toLocalFile()).absolutePath(), QDir(folder).absolutePath());
    EXPECT_EQ(bytesOf(urls[0].toLocalFile()), reference(image_));
    EXPECT_EQ(bytesOf(urls[1].toLocalFile()), reference(sound_));

    // Asked again, the same list comes back and nothing is written twice.
    QFile::remove(urls[0].toLocalFile());
    EXPECT_EQ(data->urls(), urls);
    EXPECT_FALSE(QFileInfo::exists(urls[0].toLocalFile()));
    EXPECT_EQ(data->data(QStringLiteral("text/uri-list")), urls[0].toEncoded() + "\r\n" + urls[1].toEncoded() + "\r\n");
}

TEST_F(DragOut, NothingIsDeliveredOnceTheDocumentChanged) {
    select({image_, sound_});
    std::unique_ptr<SWFDragData> sorted(SWFDropSource::makeData(pane()));
    frame().action(kCmdSortFrame)->trigger();  // the records move
    EXPECT_TRUE(sorted->urls().isEmpty());
    EXPECT_TRUE(entries(DragOutFolder::path()).isEmpty());

    select({image_});
    std::unique_ptr<SWFDragData> closed(SWFDropSource::makeData(pane()));
    frame().action(kCmdCloseSwf)->trigger();
    EXPECT_TRUE(closed->urls().isEmpty());

    // Same file opened again: still another document.
    frame().openFile(movie_);
    ASSERT_TRUE(frame().document());
    EXPECT_TRUE(closed->urls().isEmpty());
    EXPECT_TRUE(entries(DragOutFolder::path()).isEmpty());
}

TEST_F(DragOut, AResourceThatCannotBeWrittenIsLeftOut) {
    select({image_, sound_});
    std::unique_ptr<SWFDragData> data(SWFDropSource::makeData(pane()));
    const QString blocked = QDir(DragOutFolder::path()).filePath(QStringLiteral("movie-1.jpg"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    EXPECT_EQ(names(data->urls()), QStringList{QStringLiteral("movie-1.wav")});
    EXPECT_TRUE(QFileInfo(blocked).isDir());  // no empty file delivered in its place
}

TEST_F(DragOut, WriteOptionsApplyToDraggedFiles) {
    WriteOptions options;
    options.originalJpeg = true;
    writeExtractOptions(options);
    select({image_});
    std::unique_ptr<SWFDragData> data(SWFDropSource::makeData(pane()));
    const QList<QUrl> urls = data->urls();
    ASSERT_EQ(urls.size(), 1);
    const auto& record = static_cast<const SWFImage&>(doc().resource(image_));
    EXPECT_EQ(bytesOf(urls[0].toLocalFile()), QByteArray(reinterpret_cast<const char*>(record.originalJpeg.data()),
                                                         qsizetype(record.originalJpeg.size())));
}

TEST_F(DragOut, ANewDragRemovesTheFilesOfTheLastOne) {
    select({image_, sound_});
    std::unique_ptr<SWFDragData> first(SWFDropSource::makeData(pane()));
    ASSERT_EQ(first->urls().size(), 2);
    const QString folder = DragOutFolder::path();
    ASSERT_EQ(entries(folder).size(), 2);

    // Without a display server the drag ends at once, refused.
    EXPECT_EQ(SWFDropSource::run(pane()), Qt::IgnoreAction);
    EXPECT_TRUE(entries(folder).isEmpty());
    EXPECT_EQ(DragOutFolder::path(), folder);

    list().clearSelection();
    EXPECT_FALSE(SWFDropSource::makeData(pane()));
}

TEST_F(DragOut, PressingASelectedItemAndMovingStartsADragAndKeepsTheSelection) {
    frame().action(kCmdDetails)->trigger();
    select({image_, sound_});
    QAbstractItemView* view = list().currentView();
    QSignalSpy spy(&list(), &KSListCtrl::dragRequested);
    const QPoint from = list().itemRect(image_).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    // Moves until the drag starts; a real drag loop takes the moves after
    // that and the release.
    QPoint at = from;
    for (int step = 1; step <= 6 && spy.isEmpty(); ++step) {
        at = from + QPoint(0, 4 * step);
        QMouseEvent move(QEvent::MouseMove, QPointF(at), view->viewport()->mapToGlobal(QPointF(at)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
    }
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(list().selectedIndices(), (std::vector<int>{std::min(image_, sound_), std::max(image_, sound_)}));
    // The drag was refused: nothing written.
    EXPECT_TRUE(entries(DragOutFolder::path()).isEmpty());
}

TEST_F(DragOut, OneItemShowsItsThumbnailBesideTheCursor) {
    SWFRes& record = doc().resource(image_);
    QPoint hotSpot;
    if (record.thumbnail) {
        const QPixmap pixmap = SWFDropSource::dragPixmap(pane(), {image_}, QPoint(5, 5), hotSpot);
        EXPECT_EQ(pixmap.size(), QSize(record.thumbnail->width(), record.thumbnail->height()));
        EXPECT_EQ(hotSpot, QPoint(-8, -8));
    }
    record.thumbnail.reset();
    const QPixmap icon = SWFDropSource::dragPixmap(pane(), {image_}, QPoint(5, 5), hotSpot);
    ASSERT_TRUE(list().largeIcon(record.largeIconIndex));
    EXPECT_EQ(icon.toImage(), list().largeIcon(record.largeIconIndex)->toImage());
    EXPECT_EQ(hotSpot, QPoint(-8, -8));
}

TEST_F(DragOut, SeveralItemsShowTheirOutlinesWhereTheyLie) {
    const int a = 0;
    const int b = 1;
    select({a, b});
    const QRect icons[] = {IconDelegate::iconRect(list().itemRect(a)), IconDelegate::iconRect(list().itemRect(b))};
    ASSERT_FALSE(icons[0].isEmpty());
    const QPoint cursor = icons[0].center();
    QPoint hotSpot;
    const QPixmap pixmap = SWFDropSource::dragPixmap(pane(), {a, b}, cursor, hotSpot);
    ASSERT_FALSE(pixmap.isNull());
    // Where the pixmap's top-left would lie without the 8-pixel shift, in
    // the list's coordinates.
    const QPoint origin = cursor - hotSpot - QPoint(8, 8);
    const QImage image = pixmap.toImage();
    for (const QRect& icon : icons) {
        const QRect inPixmap = icon.translated(-origin);
        ASSERT_TRUE(image.rect().contains(inPixmap)) << inPixmap.x() << "," << inPixmap.y();
        EXPECT_GT(qAlpha(image.pixel(inPixmap.topLeft())), 0);  // on the outline
        EXPECT_GT(qAlpha(image.pixel(inPixmap.bottomRight())), 0);
        EXPECT_EQ(qAlpha(image.pixel(inPixmap.center())), 0);  // inside it: see-through
    }
}

TEST(PictureImage, RowsComeOutTopFirst) {
    std::unique_ptr<OBPicture> picture = OBPicture::create(kFormatRGB, 2, 2);
    ASSERT_TRUE(picture);
    // Stored bottom-up: stored row 1 is the top row on screen.
    const std::uint8_t top[] = {255, 0, 0, 0, 255, 0};
    const std::uint8_t bottom[] = {0, 0, 255, 255, 255, 255};
    std::memcpy(picture->row(1), top, sizeof top);
    std::memcpy(picture->row(0), bottom, sizeof bottom);
    const QImage image = pictureImage(*picture);
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 255));

    std::unique_ptr<OBPicture> gray = OBPicture::create(kFormatGrayAlpha, 1, 1);
    gray->row(0)[0] = 40;
    gray->row(0)[1] = 128;
    EXPECT_EQ(pictureImage(*gray).pixel(0, 0), qRgba(40, 40, 40, 128));
}

// ---- Internet cache ----

class InternetCache : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        const char* previous = std::getenv("XDG_CACHE_HOME");
        saved_ = previous ? std::optional<std::string>(previous) : std::nullopt;
    }
    void TearDown() override {
        if (saved_)
            ::setenv("XDG_CACHE_HOME", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_CACHE_HOME");
        test::UiTest::TearDown();
    }
    std::optional<std::string> saved_;
};

TEST_F(InternetCache, OpensTheFileBrowserOnTheCacheFolderOrHomeWhenItIsMissing) {
    test::TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    start();
    KSMainFrame& frame = *app_->mainFrame();
    frame.updateCommandUI();
    EXPECT_TRUE(frame.action(kCmdOpenInternetCache)->isEnabled());
    frame.action(kCmdOpenInternetCache)->trigger();
    frame.openFile(test::demoFile());
    ASSERT_TRUE(frame.document());
    frame.action(kCmdOpenInternetCache)->trigger();
    EXPECT_TRUE(frame.document());  // the open file stays

    ::setenv("XDG_CACHE_HOME", (cache.path() + "/not-made-yet").c_str(), 1);
    frame.action(kCmdOpenInternetCache)->trigger();
    const QUrl folder = QUrl::fromLocalFile(qs(cache.path()));
    EXPECT_EQ(test::openedUrls().urls, (std::vector<QUrl>{folder, folder, QUrl::fromLocalFile(QDir::homePath())}));
}

}  // namespace
}  // namespace kestrel
