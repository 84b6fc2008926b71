// Pictures on the screen: the checkerboard conversion, thumbnails in the
// list, the picture panel and the image preview.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QTest>
#include <QWindow>
#include <cmath>

#include "document/swf_document.h"
#include "preview_test_support.h"
#include "test_support.h"
#include "ui/controls/control_library.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui/preview/display_bitmap.h"
#include "ui/preview/pict_view.h"
#include "ui/preview/picture_list.h"
#include "ui/preview/picture_static.h"
#include "ui/preview/play_button.h"
#include "ui/preview/preview_art.h"
#include "ui/preview/view_image.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

// A picture from screen rows of RGBA values (top row first).
std::unique_ptr<OBPicture> rgbaPicture(int w, int h, const std::function<std::uint32_t(int, int)>& pixel) {
    auto picture = OBPicture::create(kFormatRGBA, w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = picture->row(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = pixel(x, y);
            row[x * 4 + 0] = std::uint8_t(p >> 24);
            row[x * 4 + 1] = std::uint8_t(p >> 16);
            row[x * 4 + 2] = std::uint8_t(p >> 8);
            row[x * 4 + 3] = std::uint8_t(p);
        }
    }
    return picture;
}

std::unique_ptr<OBPicture> rgbPicture(int w, int h, QRgb colour) {
    auto picture = OBPicture::create(kFormatRGB, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            picture->row(y)[x * 3 + 0] = std::uint8_t(qRed(colour));
            picture->row(y)[x * 3 + 1] = std::uint8_t(qGreen(colour));
            picture->row(y)[x * 3 + 2] = std::uint8_t(qBlue(colour));
        }
    return picture;
}

// The colour of a pixel, its alpha ignored.
QRgb rgbAt(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }

// The smallest rectangle holding every pixel of `colour`.
QRect boundsOf(const QImage& image, QRgb colour) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0 && rgbAt(image, x, y) == (colour | 0xFF000000u))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// ---- conversion to a displayable bitmap ----

TEST(DisplayBitmap, FullyTransparentPixelsShowTheCheckerboard) {
    const auto picture = rgbaPicture(12, 11, [](int, int) { return 0x33669900u; });
    const OBCBitmap bitmap = OBCBitmap::fromPicture(*picture);
    ASSERT_FALSE(bitmap.isNull());
    ASSERT_EQ(bitmap.image().size(), QSize(12, 11));
    // 5-pixel squares from the top-left corner, starting with 122.
    const QImage& image = bitmap.image();
    for (auto [x, y, grey] : std::vector<std::tuple<int, int, int>>{{0, 0, 122},
                                                                    {4, 4, 122},
                                                                    {5, 0, 165},
                                                                    {9, 4, 165},
                                                                    {0, 5, 165},
                                                                    {5, 5, 122},
                                                                    {10, 0, 122},
                                                                    {10, 10, 122},
                                                                    {11, 5, 165},
                                                                    {4, 10, 122},
                                                                    {5, 10, 165}}) {
        EXPECT_EQ(rgbAt(image, x, y), qRgb(grey, grey, grey)) << x << "," << y;
    }
}

TEST(DisplayBitmap, PartialAlphaIsBlendedOverTheSquareAndRounded) {
    // Half-transparent red: over 122 in the first square, over 165 in the
    // next one.
    const auto picture = rgbaPicture(10, 1, [](int, int) { return 0xFF000080u; });
    const QImage image = OBCBitmap::fromPicture(*picture).image();
    EXPECT_EQ(rgbAt(image, 0, 0), qRgb(189, 61, 61));
    EXPECT_EQ(rgbAt(image, 5, 0), qRgb(210, 82, 82));
    // Just visible and nearly opaque.
    EXPECT_EQ(OBCBitmap::blend(255, 1, 122), 123);
    EXPECT_EQ(OBCBitmap::blend(0, 254, 165), 1);
    EXPECT_EQ(OBCBitmap::blend(200, 0, 165), 165);
    EXPECT_EQ(OBCBitmap::blend(200, 255, 165), 200);
}

TEST(DisplayBitmap, ColoursAreCopiedWithTheTopRowFirst) {
    auto rgb = rgbPicture(5, 2, qRgb(1, 2, 3));
    rgb->row(1)[0] = 200;  // stored row 1 is the top row on screen
    const QImage image = OBCBitmap::fromPicture(*rgb).image();
    EXPECT_EQ(rgbAt(image, 0, 0), qRgb(200, 2, 3));
    EXPECT_EQ(rgbAt(image, 0, 1), qRgb(1, 2, 3));
    EXPECT_EQ(rgbAt(image, 4, 0), qRgb(1, 2, 3));
    const auto opaque = rgbaPicture(3, 2, [](int x, int y) { return y == 1 && x == 2 ? 0x102030FFu : 0xFFu; });
    EXPECT_EQ(rgbAt(OBCBitmap::fromPicture(*opaque).image(), 2, 1), qRgb(0x10, 0x20, 0x30));
}

TEST(DisplayBitmap, PremultipliedColoursAreDividedBeforeBlending) {
    // Red at alpha 128 as files with premultiplied colours store it.
    const auto picture = rgbaPicture(1, 1, [](int, int) { return 0x80000080u; });
    EXPECT_EQ(rgbAt(OBCBitmap::fromPicture(*picture, true).image(), 0, 0), qRgb(189, 61, 61));
    EXPECT_EQ(rgbAt(OBCBitmap::fromPicture(*picture, false).image(), 0, 0), qRgb(125, 61, 61));
}

// ---- thumbnails ----

TEST(ThumbnailFit, TheBoxRules) {
    auto fit = [](int w, int h) { return OBCPictureList::fitPicture(w, h, float(w) / float(h), 94, 94); };
    EXPECT_EQ(fit(90, 30), QSize(94, 31));  // 90 is not below 94 - 4
    EXPECT_EQ(fit(89, 30), QSize(89, 30));
    EXPECT_EQ(fit(50, 20), QSize(50, 20));  // never enlarged
    EXPECT_EQ(fit(300, 200), QSize(94, 63));
    EXPECT_EQ(fit(200, 300), QSize(63, 94));
    EXPECT_EQ(fit(10, 500), QSize(2, 94));
    EXPECT_EQ(fit(5000, 1), QSize(94, 1));  // at least one pixel high
}

class Thumbnails : public ::testing::Test {
protected:
    void SetUp() override {
        frame_ = artwork::load(QString::fromLatin1(artwork::kThumbnailFrame));
        ASSERT_EQ(frame_.size(), QSize(100, 100));
        ASSERT_TRUE(list_.create(94, 94, frame_, Qt::white, 3, 3));
    }
    QImage frame_;
    OBCPictureList list_;
};

TEST_F(Thumbnails, ScaledPictureIsCentredOnTheFrame) {
    EXPECT_EQ(list_.cellSize(), QSize(100, 100));
    const auto wide = rgbPicture(90, 30, qRgb(0, 200, 0));
    ASSERT_TRUE(list_.add(wide.get(), 3.0f));
    const auto tall = rgbPicture(23, 22, qRgb(0, 0, 200));
    ASSERT_TRUE(list_.add(tall.get(), 23.0f / 22.0f));
    ASSERT_EQ(list_.count(), 2);

    const QImage first = list_.image(0).toImage();
    ASSERT_EQ(first.size(), QSize(100, 100));
    // 94 x 31 at ((94 - 94) / 2 + 3, (94 - 31) / 2 + 3).
    EXPECT_EQ(boundsOf(first, qRgb(0, 200, 0)), QRect(3, 34, 94, 31));
    const QImage second = list_.image(1).toImage();
    EXPECT_EQ(boundsOf(second, qRgb(0, 0, 200)), QRect(38, 39, 23, 22));
    // Outside the picture the frame shows; its white is transparent.
    for (const QPoint p : {QPoint(97, 50), QPoint(50, 98), QPoint(0, 0), QPoint(99, 99)})
        EXPECT_EQ(second.pixel(p), frame_.pixel(p) == qRgb(255, 255, 255) ? 0u : frame_.pixel(p))
            << p.x() << "," << p.y();
}

TEST_F(Thumbnails, TheCacheSlotIsFilledOnceAndThenUsedAsItIs) {
    const auto big = rgbPicture(400, 200, qRgb(200, 0, 0));
    std::unique_ptr<OBPicture> cache;
    ASSERT_TRUE(list_.add(big.get(), 2.0f, &cache));
    ASSERT_TRUE(cache);
    EXPECT_EQ(QSize(cache->width(), cache->height()), QSize(94, 47));

    // A slot that already holds a picture is not scaled again: whatever it
    // holds is what shows.
    cache = rgbPicture(10, 10, qRgb(0, 0, 210));
    const OBPicture* kept = cache.get();
    ASSERT_TRUE(list_.add(big.get(), 2.0f, &cache));
    EXPECT_EQ(cache.get(), kept);
    const QImage cell = list_.image(1).toImage();
    EXPECT_EQ(boundsOf(cell, qRgb(0, 0, 210)), QRect(45, 45, 10, 10));
    EXPECT_FALSE(boundsOf(cell, qRgb(200, 0, 0)).isValid());
}

TEST_F(Thumbnails, APictureThatCannotBeShownKeepsItsIndex) {
    const auto red = rgbPicture(10, 10, qRgb(200, 0, 0));
    EXPECT_FALSE(list_.add(nullptr, 1.0f));
    EXPECT_TRUE(list_.add(red.get(), 1.0f));
    ASSERT_EQ(list_.count(), 2);
    EXPECT_FALSE(boundsOf(list_.image(0).toImage(), qRgb(200, 0, 0)).isValid());
    EXPECT_TRUE(boundsOf(list_.image(1).toImage(), qRgb(200, 0, 0)).isValid());
}

// ---- image preview geometry ----

TEST(ImagePreviewLayout, SmallImageGetsTheMinimumClientWithThePictureCentred) {
    const QRect screen(0, 0, 1280, 900);
    const ImagePreviewLayout l = KSViewImage::layoutFor(QSize(20, 10), screen, QPoint(600, 400), 3);
    EXPECT_EQ(l.picture, QSize(20, 10));
    EXPECT_EQ(l.client, QSize(32, 32));
    EXPECT_EQ(l.control, QRect(5, 10, 22, 12));
    // Centred on the pointer, its bottom just below it.
    EXPECT_EQ(l.window, QRect(600 - 16, 400 - 32 + 2, 38, 38));
}

TEST(ImagePreviewLayout, TooWideIsFittedToTheScreenWidth) {
    const QRect screen(0, 0, 1280, 900);
    const ImagePreviewLayout l = KSViewImage::layoutFor(QSize(2000, 500), screen, QPoint(100, 100), 3);
    EXPECT_EQ(l.picture, QSize(1272, 318));  // 500 * 1272 / 2000
    EXPECT_EQ(l.client, QSize(1272, 318));
    EXPECT_EQ(l.control, QRect(-1, -1, 1274, 320));
    EXPECT_EQ(l.window.topLeft(), QPoint(0, 0));
    EXPECT_EQ(l.window.size(), QSize(1278, 324));
    // Pushed back from the right edge, frame included, on the screen under
    // the pointer (here a second one).
    const QRect second(1280, 30, 1280, 900);
    const ImagePreviewLayout right = KSViewImage::layoutFor(QSize(2000, 500), second, QPoint(2550, 880), 3);
    EXPECT_EQ(right.window.right(), second.right());
    EXPECT_EQ(right.window.y(), 880 - 318 + 2);
}

TEST(ImagePreviewLayout, TooWideAndTooTallIsFittedByWidthThenHeight) {
    const QRect screen(0, 0, 1280, 900);
    const ImagePreviewLayout l = KSViewImage::layoutFor(QSize(4000, 3000), screen, QPoint(640, 450), 3);
    // By width: 1272 x 954; still too tall: 892 high, 892 * 4000 / 3000 wide.
    EXPECT_EQ(l.picture, QSize(1189, 892));
    EXPECT_NEAR(double(l.picture.width()) / l.picture.height(), 4.0 / 3.0, 0.002);
    EXPECT_TRUE(screen.contains(l.window));
    // Taller than wide: the height decides alone.
    const ImagePreviewLayout tall = KSViewImage::layoutFor(QSize(100, 5000), screen, QPoint(0, 0), 3);
    EXPECT_EQ(tall.picture, QSize(892 * 100 / 5000, 892));
    EXPECT_EQ(tall.client, QSize(32, 892));
}

// ---- in the window ----

// A movie with pictures chosen for the previews and two sounds.
class Pictures : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        test::useSilentAudio();
        screen_ = workAreaAt(QPoint(0, 0));
        swfbuilder::Tags tags;
        // 20 x 10: red left half, blue right half.
        std::vector<std::uint32_t> small;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) small.push_back(x < 10 ? 0xC80000FFu : 0x0000C8FFu);
        test::addLossless(tags, 1, 20, 10, small, false);
        test::addLossless(tags, 2, 40, 30, test::solid(40, 30, 0), true);             // fully transparent
        test::addLossless(tags, 3, 90, 30, test::solid(90, 30, 0x00C800FFu), false);  // green
        test::addLossless(tags, 4, screen_.width() + 100, 50, test::solid(screen_.width() + 100, 50, 0x804020FFu),
                          false);
        // Half-transparent red, premultiplied as the tag stores it.
        test::addLossless(tags, 5, 12, 12, test::solid(12, 12, 0x80000080u), true);
        test::addPcmSound(tags, 6, 300, true);
        test::addPcmSound(tags, 7, 300, false);
        tags.showFrame().end();
        path_ = QString::fromStdString(dir_.write("pictures.swf", swfbuilder::SwfFile().tags(tags).bytes()));
        start({path_});
        ASSERT_TRUE(frame().document());
        ASSERT_EQ(doc().count(), 7);
        frame().resize(900, 640);
        test::pump();
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    KSPictView& panel() { return *frame().pictView(); }
    const SWFDocument& doc() { return *frame().document(); }
    int imageRow(int w, int h) {
        return test::findRow(doc(), [w, h](const SWFRes& r) {
            const auto* image = dynamic_cast<const SWFImage*>(&r);
            return image && image->payload->width() == w && image->payload->height() == h;
        });
    }
    int soundRow(bool stereo) {
        return test::findRow(doc(), [stereo](const SWFRes& r) {
            const auto* sound = dynamic_cast<const SWFSound*>(&r);
            return sound && sound->payload->stereo == stereo;
        });
    }
    test::ModalRun view(int row, const std::function<void(KSViewImage&)>& inside) {
        test::selectOnly(list(), row);
        return test::runPreview<KSViewImage>([this] { frame().onCommand(kCmdView); }, inside);
    }

    test::TempDir dir_;
    QString path_;
    QRect screen_;
};

TEST_F(Pictures, EveryThumbnailStandsAtItsReadingPosition) {
    // The list is sorted, but each record keeps the thumbnail built from
    // its own picture when the file was read.
    const int order[] = {imageRow(20, 10), imageRow(40, 30), imageRow(90, 30), imageRow(screen_.width() + 100, 50),
                         imageRow(12, 12), soundRow(true),   soundRow(false)};
    for (int reading = 0; reading < 7; ++reading) {
        ASSERT_GE(order[reading], 0);
        EXPECT_EQ(doc().resource(order[reading]).largeIconIndex, reading);
    }
    const QImage green = list().largeIcon(doc().resource(imageRow(90, 30)).largeIconIndex)->toImage();
    EXPECT_EQ(boundsOf(green, qRgb(0, 200, 0)), QRect(3, 34, 94, 31));
    const QImage small = list().largeIcon(doc().resource(imageRow(20, 10)).largeIconIndex)->toImage();
    EXPECT_EQ(boundsOf(small, qRgb(200, 0, 0)), QRect(40, 45, 10, 10));
    EXPECT_EQ(boundsOf(small, qRgb(0, 0, 200)), QRect(50, 45, 10, 10));
    // The transparent picture is a checkerboard, premultiplied red is red.
    const QImage clear = list().largeIcon(doc().resource(imageRow(40, 30)).largeIconIndex)->toImage();
    EXPECT_EQ(rgbAt(clear, 30, 35), qRgb(122, 122, 122));
    EXPECT_EQ(rgbAt(clear, 35, 35), qRgb(165, 165, 165));
    const QImage half = list().largeIcon(doc().resource(imageRow(12, 12)).largeIconIndex)->toImage();
    EXPECT_EQ(rgbAt(half, 44, 44), qRgb(189, 61, 61));
    // Every record keeps its scaled picture; sounds hold the sound picture.
    for (int i = 0; i < doc().count(); ++i) ASSERT_TRUE(doc().resource(i).thumbnail) << i;
    const OBPicture& wide = *doc().resource(imageRow(screen_.width() + 100, 50)).thumbnail;
    EXPECT_EQ(wide.width(), 94);
    const OBPicture& sound = *doc().resource(soundRow(false)).thumbnail;
    EXPECT_EQ(QSize(sound.width(), sound.height()), QSize(23, 22));
}

TEST_F(Pictures, ThePanelFollowsTheFocusedItem) {
    const int green = imageRow(90, 30);
    test::selectOnly(list(), green);
    EXPECT_EQ(panel().shownResource(), &doc().resource(green));
    EXPECT_TRUE(panel().playButton()->isHidden());
    // The thumbnail of the list below the details.
    const QImage shot = panel().grab().toImage();
    const QRect picture = panel().pictureRect();
    ASSERT_EQ(picture.size(), QSize(100, 100));
    EXPECT_EQ(picture.x(), KSPictView::kLeft);
    EXPECT_GT(picture.y(), KSPictView::kLabelBottom);
    EXPECT_EQ(boundsOf(shot, qRgb(0, 200, 0)), QRect(picture.x() + 3, picture.y() + 34, 94, 31));
    test::saveScreenShot("panel-image");

    EXPECT_EQ(KSPictView::typeName(doc().resource(green)), QStringLiteral("PNG Image"));
    EXPECT_EQ(KSPictView::detailLines(doc().resource(green))[3], QStringLiteral("Dimension:"));

    // Focus alone moves the panel; a sound shows its picture and the play
    // button below it.
    const int stereo = soundRow(true);
    list().setFocusedItem(stereo);
    EXPECT_EQ(panel().shownResource(), &doc().resource(stereo));
    EXPECT_EQ(KSPictView::typeName(doc().resource(stereo)), QStringLiteral("WAV Sound"));
    const QStringList lines = KSPictView::detailLines(doc().resource(stereo));
    EXPECT_EQ(lines[3], QStringLiteral("Duration:"));
    EXPECT_EQ(lines[4], QString::fromStdString(doc().resource(stereo).sizeText));
    test::pump();
    EXPECT_TRUE(panel().playButton()->isVisible());
    const QRect soundPicture = panel().pictureRect();
    EXPECT_EQ(panel().playButton()->geometry(), QRect(17, soundPicture.bottom() + 1 + 5, 32, 20));
    const QImage stereoShot = panel().grab().toImage();
    const QImage stereoArt = preview_art::soundPicture(true);
    EXPECT_EQ(stereoShot.copy(soundPicture).convertToFormat(QImage::Format_RGB32),
              stereoArt.convertToFormat(QImage::Format_RGB32));
    const int mono = soundRow(false);
    list().setFocusedItem(mono);
    const QImage monoShot = panel().grab().toImage();
    EXPECT_EQ(monoShot.copy(panel().pictureRect()).convertToFormat(QImage::Format_RGB32),
              preview_art::soundPicture(false).convertToFormat(QImage::Format_RGB32));
    EXPECT_NE(stereoArt, preview_art::soundPicture(false));

    // Back on an image the button goes; closing the file clears the panel.
    list().setFocusedItem(green);
    EXPECT_TRUE(panel().playButton()->isHidden());
    list().setFocusedItem(mono);
    EXPECT_FALSE(panel().playButton()->isHidden());
    frame().onCommand(kCmdCloseSwf);
    EXPECT_EQ(panel().shownResource(), nullptr);
    panel().grab();
    EXPECT_TRUE(panel().playButton()->isHidden());
}

TEST_F(Pictures, SmallImagePreviewsAtItsOwnSizeIn32By32) {
    const test::ModalRun run = view(imageRow(20, 10), [](KSViewImage& preview) {
        EXPECT_EQ(preview.clientArea()->size(), QSize(32, 32));
        EXPECT_EQ(preview.size(), QSize(38, 38));
        OBCPictureStatic* picture = preview.pictureControl();
        EXPECT_EQ(picture->shownImage().size(), QSize(20, 10));
        const QImage shot = preview.clientArea()->grab().toImage();
        const QRect at = picture->pictureRect().translated(picture->pos());
        EXPECT_EQ(boundsOf(shot, qRgb(200, 0, 0)), QRect(at.x(), at.y(), 10, 10));
        EXPECT_EQ(boundsOf(shot, qRgb(0, 0, 200)), QRect(at.x() + 10, at.y(), 10, 10));
        EXPECT_EQ(at, QRect(6, 11, 20, 10));  // centred
        EXPECT_EQ(preview.cursor().shape(), Qt::BitmapCursor);
        // The preview holds the keyboard: any key goes to its window.
        QTest::keyClick(preview.windowHandle(), Qt::Key_A);
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(Pictures, TransparentImagePreviewsAsACheckerboard) {
    const test::ModalRun run = view(imageRow(40, 30), [](KSViewImage& preview) {
        const QImage& shown = preview.pictureControl()->shownImage();
        ASSERT_EQ(shown.size(), QSize(40, 30));
        EXPECT_EQ(rgbAt(shown, 0, 0), qRgb(122, 122, 122));
        EXPECT_EQ(rgbAt(shown, 5, 0), qRgb(165, 165, 165));
        EXPECT_EQ(rgbAt(shown, 5, 5), qRgb(122, 122, 122));
        EXPECT_EQ(rgbAt(shown, 34, 29), qRgb(165, 165, 165));
        EXPECT_EQ(rgbAt(shown, 39, 29), qRgb(122, 122, 122));
        test::saveScreenShot("preview-transparent");
        preview.close();
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
}

TEST_F(Pictures, ImageWiderThanTheScreenIsShownEightPixelsNarrower) {
    const int w0 = screen_.width() + 100;
    const test::ModalRun run = view(imageRow(w0, 50), [this, w0](KSViewImage& preview) {
        const int w = screen_.width() - 8;
        EXPECT_EQ(preview.previewLayout().picture, QSize(w, int(50LL * w / w0)));
        EXPECT_EQ(preview.pictureControl()->shownImage().size(), preview.previewLayout().picture);
        EXPECT_TRUE(screen_.contains(preview.geometry()));
        preview.close();
    });
    EXPECT_TRUE(run.opened);
}

TEST_F(Pictures, ClickingOutsideClosesThePreviewAndGoesNoFurther) {
    const int row = imageRow(20, 10);
    const int other = imageRow(90, 30);
    QAbstractItemView* view = list().currentView();
    QWindow* window = frame().windowHandle();
    const QPoint elsewhere = window->mapFromGlobal(view->viewport()->mapToGlobal(list().itemRect(other).center()));
    const test::ModalRun run = this->view(row, [&](KSViewImage&) {
        // Right clicks do nothing; a left click anywhere closes.
        QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, elsewhere);
        EXPECT_NE(QApplication::activePopupWidget(), nullptr);
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, elsewhere);
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(list().selectedIndices(), std::vector<int>{row});
}

TEST_F(Pictures, ARealImageWithAlphaShowsOverTheCheckerboard) {
    // The demo's cut-out: premultiplied colours, transparent corners.
    ASSERT_TRUE(frame().openFile(test::demoFile()));
    const int row = test::findRow(doc(), [](const SWFRes& r) {
        const auto* image = dynamic_cast<const SWFImage*>(&r);
        return image && image->premultiplied && image->payload->width() == 96 && image->payload->hasAlpha();
    });
    ASSERT_GE(row, 0);
    const test::ModalRun run = view(row, [](KSViewImage& preview) {
        const QImage& shown = preview.pictureControl()->shownImage();
        ASSERT_EQ(shown.size(), QSize(96, 64));
        EXPECT_EQ(rgbAt(shown, 0, 0), qRgb(122, 122, 122));
        EXPECT_EQ(rgbAt(shown, 95, 0), qRgb(165, 165, 165));  // square 19 + 0
        const QRgb middle = rgbAt(shown, 48, 32);
        EXPECT_FALSE(qRed(middle) == qGreen(middle) && qGreen(middle) == qBlue(middle));
        test::saveScreenShot("preview-alpha");
        preview.close();
    });
    EXPECT_TRUE(run.opened);
}

class LargeFile : public test::UiTest {
protected:
    // A movie of 320 bitmaps of many sizes, smaller and larger than a
    // thumbnail, opaque and with alpha, with some white pixels.
    static std::string manyImages(const test::TempDir& dir) {
        using namespace swfbuilder;
        Tags tags;
        for (int i = 0; i < 320; ++i) {
            const int w = 4 + (i * 37) % 220;
            const int h = 4 + (i * 61) % 170;
            const bool alpha = i % 3 == 2;
            std::vector<std::uint32_t> rgba(std::size_t(w) * std::size_t(h));
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t a = alpha ? 64 + 191 * std::uint32_t(x) / std::uint32_t(w) : 255;
                    std::uint32_t r = 255 * std::uint32_t(x) / std::uint32_t(w),
                                  g = 255 * std::uint32_t(y) / std::uint32_t(h), b = std::uint32_t(i * 41) & 0xFF;
                    if ((x + y + i) % 13 == 0) r = g = b = 255;
                    // Stored premultiplied, as the player expects.
                    rgba[std::size_t(y) * std::size_t(w) + std::size_t(x)] = (r * a / 255) << 24 | (g * a / 255) << 16 |
                                                                             (b * a / 255) << 8 | a;
                }
            }
            tags.tag(
                alpha ? kTagDefineBitsLossless2 : kTagDefineBitsLossless,
                losslessBody(std::uint16_t(i + 1), 5, std::uint16_t(w), std::uint16_t(h), deflate(argbRows(rgba), 1)));
            if (i % 40 == 39) tags.showFrame();
        }
        tags.showFrame().end();
        return dir.write("many-images.swf", SwfFile().frames(9).tags(tags).bytes());
    }
};

TEST_F(LargeFile, ThumbnailsFollowTheReadingProgress) {
    // A movie with a few hundred images: every thumbnail framed and
    // centred, the progress bar moving through the thumbnail phase.
    test::useSilentAudio();
    test::TempDir dir;
    const QString path = QString::fromStdString(manyImages(dir));
    KSMainFrame& frame = *start().mainFrame();
    std::vector<int> seen;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QProgressBar* bar : frame.findChildren<QProgressBar*>())
            if (bar->isVisible() && (seen.empty() || seen.back() != bar->value())) seen.push_back(bar->value());
    });
    watcher.start(0);
    SWFDocument* doc = frame.openFile(path);
    watcher.stop();
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->count(), 320);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    const int inThumbnailPhase = int(std::count_if(seen.begin(), seen.end(), [](int v) { return v > 65; }));
    EXPECT_GE(inThumbnailPhase, 10) << "values seen: " << seen.size();

    KSListCtrl& list = *frame.listCtrl();
    const QImage frameArt = artwork::load(QString::fromLatin1(artwork::kThumbnailFrame));
    for (int i = 0; i < doc->count(); ++i) {
        const SWFRes& record = doc->resource(i);
        ASSERT_TRUE(record.thumbnail) << i;
        const QPixmap* icon = list.largeIcon(record.largeIconIndex);
        ASSERT_TRUE(icon) << i;
        const QImage cell = icon->toImage();
        ASSERT_EQ(cell.size(), QSize(100, 100));
        const OBCBitmap expected = OBCBitmap::fromPicture(
            *record.thumbnail, record.kind == kKindImage && static_cast<const SWFImage&>(record).premultiplied);
        const int w = expected.width();
        const int h = expected.height();
        ASSERT_LE(w, 94);
        ASSERT_LE(h, 94);
        const QPoint at((94 - w) / 2 + 3, (94 - h) / 2 + 3);
        // The picture where it belongs (white pixels are see-through) ...
        for (const QPoint p : {QPoint(0, 0), QPoint(w - 1, h - 1), QPoint(w / 2, h / 2), QPoint(w - 1, 0)}) {
            const QRgb want = expected.image().pixel(p) | 0xFF000000u;
            const QRgb got = cell.pixel(at + p);
            if (want == 0xFFFFFFFFu)
                EXPECT_EQ(qAlpha(got), 0) << i;
            else
                EXPECT_EQ(got, want) << i << " at " << p.x() << "," << p.y();
        }
        // ... and the frame untouched around it.
        EXPECT_EQ(cell.pixel(99, 99), frameArt.pixel(99, 99)) << i;
        EXPECT_EQ(cell.pixel(98, 50), frameArt.pixel(98, 50)) << i;
    }
    frame.resize(1000, 700);
    test::pump();
    test::saveScreenShot("large-icons");
}

}  // namespace
}  // namespace kestrel
