// The control library: message box, window placement, text fitting,
// status-bar progress, artwork; and the properties dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTextEdit>

#include "document/swf_document.h"
#include "swfbuilder/swf_builder.h"
#include "test_support.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"
#include "ui/controls/status_bar.h"
#include "ui/controls/status_bar_progress.h"
#include "ui/controls/text_fit.h"
#include "ui/controls/wnd_placement.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/properties_dlg.h"
#include "ui/dialogs/read_progress.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;

// ---- message box ----

std::vector<int> buttonIds(const MessageBoxRequest& r) {
    std::vector<int> ids;
    for (const auto& b : r.buttons) ids.push_back(b.id);
    return ids;
}

TEST(MessageBoxType, ButtonSetsAndTheirEscapeButton) {
    struct Case {
        unsigned type;
        std::vector<int> ids;
        int escape;
    };
    const Case cases[] = {
        {kMbOk, {kIdOk}, kIdOk},
        {kMbOkCancel, {kIdOk, kIdCancel}, kIdCancel},
        {kMbAbortRetryIgnore, {kIdAbort, kIdRetry, kIdIgnore}, 0},
        {kMbYesNoCancel, {kIdYes, kIdNo, kIdCancel}, kIdCancel},
        {kMbYesNo, {kIdYes, kIdNo}, 0},
        {kMbRetryCancel, {kIdRetry, kIdCancel}, kIdCancel},
    };
    for (const Case& c : cases) {
        const MessageBoxRequest r = describeMessageBox(QStringLiteral("t"), QStringLiteral("c"), c.type);
        EXPECT_EQ(buttonIds(r), c.ids) << c.type;
        EXPECT_EQ(r.escapeId, c.escape) << c.type;
    }
    const MessageBoxRequest yesNo = describeMessageBox(QString(), QString(), kMbYesNo);
    EXPECT_EQ(yesNo.buttons[0].text, QStringLiteral("&Yes"));
    EXPECT_EQ(yesNo.buttons[1].text, QStringLiteral("&No"));
}

TEST(MessageBoxType, IconDefaultButtonAndTopmost) {
    EXPECT_EQ(describeMessageBox({}, {}, kMbIconStop).icon, 1);
    EXPECT_EQ(describeMessageBox({}, {}, kMbIconQuestion).icon, 2);
    EXPECT_EQ(describeMessageBox({}, {}, kMbIconExclamation).icon, 3);
    EXPECT_EQ(describeMessageBox({}, {}, kMbIconInformation).icon, 4);
    EXPECT_EQ(describeMessageBox({}, {}, 0x50).icon, 0);
    EXPECT_EQ(describeMessageBox({}, {}, kMbYesNoCancel | kMbDefButton2).defaultId, kIdNo);
    EXPECT_EQ(describeMessageBox({}, {}, kMbYesNoCancel | kMbDefButton3).defaultId, kIdCancel);
    // Beyond the buttons shown: the first.
    EXPECT_EQ(describeMessageBox({}, {}, kMbYesNo | kMbDefButton4).defaultId, kIdYes);
    EXPECT_TRUE(describeMessageBox({}, {}, kMbOk | kMbTopmost).topmost);
    EXPECT_FALSE(describeMessageBox({}, {}, kMbOk).topmost);
}

TEST(MessageBoxWindow, YesNoIgnoresEscapeAndHasNoCloseBox) {
    OBCMessageBox box(nullptr, QStringLiteral("Do you want to continue ?"), QStringLiteral("Kestrel"), kMbYesNo);
    EXPECT_FALSE(box.windowFlags() & Qt::WindowCloseButtonHint);
    box.open();
    ASSERT_TRUE(box.isVisible());
    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_TRUE(box.isVisible());
    box.close();
    EXPECT_TRUE(box.isVisible());
    QTest::mouseClick(box.button(kIdNo), Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), kIdNo);
}

TEST(MessageBoxWindow, EscapeAndCloseGiveTheCancellingButton) {
    OBCMessageBox box(nullptr, QStringLiteral("Go?"), QStringLiteral("Kestrel"), kMbOkCancel);
    EXPECT_TRUE(box.windowFlags() & Qt::WindowCloseButtonHint);
    box.open();
    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), kIdCancel);

    OBCMessageBox ok(nullptr, QStringLiteral("Done"), QStringLiteral("Kestrel"), kMbOk);
    ok.open();
    ok.close();
    EXPECT_FALSE(ok.isVisible());
    EXPECT_EQ(ok.result(), kIdOk);
}

TEST(MessageBoxWindow, DefaultButtonHasFocusAndAnswersEnter) {
    OBCMessageBox box(nullptr, QStringLiteral("Overwrite?"), QStringLiteral("Kestrel"), kMbYesNoCancel | kMbDefButton2);
    box.open();
    QApplication::setActiveWindow(&box);
    EXPECT_TRUE(box.button(kIdNo)->isDefault());
    EXPECT_EQ(QApplication::focusWidget(), box.button(kIdNo));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(box.result(), kIdNo);

    OBCMessageBox beyond(nullptr, QStringLiteral("?"), QStringLiteral("Kestrel"), kMbYesNo | kMbDefButton4);
    beyond.open();
    QApplication::setActiveWindow(&beyond);
    EXPECT_TRUE(beyond.button(kIdYes)->isDefault());
    EXPECT_EQ(QApplication::focusWidget(), beyond.button(kIdYes));
    beyond.done(kIdYes);
}

TEST(MessageBoxWindow, LayoutKeepsTextButtonsAndIconApart) {
    OBCMessageBox box(nullptr, QStringLiteral("Unable to read the SWF file. It may be truncated or damaged."),
                      QStringLiteral("Kestrel"), kMbOk | kMbIconStop);
    const DialogUnits du(ControlLibrary::uiFont());
    QPushButton* ok = box.button(kIdOk);
    ASSERT_TRUE(ok);
    EXPECT_GE(ok->width(), du.x(40) + 2 * du.x(5) - 1);
    EXPECT_GE(ok->y(), box.textArea()->geometry().bottom());
    EXPECT_GE(box.textArea()->x(), du.x(7) + du.x(10));  // right of the icon
    EXPECT_LE(box.textArea()->geometry().right(), box.width() - du.x(7) + 1);
    // Centred button row.
    EXPECT_NEAR(ok->geometry().center().x(), box.width() / 2, 2);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Kestrel"));
}

TEST(MessageBoxWidth, NarrowestWidthAddsNoLines) {
    const QFont font = ControlLibrary::uiFont();
    const int full = 1200;
    const QString oneLine = QStringLiteral("The file /media/clips/movie.swf is not a SWF file");
    const int w = OBCMessageBox::narrowestWidth(oneLine, font, full);
    EXPECT_EQ(OBCMessageBox::lineCount(oneLine, font, w), 1);
    EXPECT_GT(OBCMessageBox::lineCount(oneLine, font, w - 1), 1);
    EXPECT_LT(w, full);

    QString longText;
    for (int i = 0; i < 60; ++i) longText += QStringLiteral("word%1 ").arg(i);
    const int lines = OBCMessageBox::lineCount(longText, font, full);
    ASSERT_GT(lines, 1);
    const int narrow = OBCMessageBox::narrowestWidth(longText, font, full);
    EXPECT_EQ(OBCMessageBox::lineCount(longText, font, narrow), lines);
    EXPECT_GT(OBCMessageBox::lineCount(longText, font, narrow - 1), lines);
}

TEST(ShowMessage, AddsTheExclamationIconOnlyToTheStatedSets) {
    test::messages().clear();
    showMessage(nullptr, QStringLiteral("a"), kMbOk);
    showMessage(nullptr, QStringLiteral("b"), kMbYesNo);
    showMessage(nullptr, QStringLiteral("c"), kMbRetryCancel);
    showMessage(nullptr, QStringLiteral("d"), kMbOk | kMbIconStop);
    ASSERT_EQ(test::messages().shown.size(), 4u);
    EXPECT_EQ(test::messages().shown[0].icon, 3);
    EXPECT_EQ(test::messages().shown[1].icon, 3);
    EXPECT_EQ(test::messages().shown[2].icon, 0);
    EXPECT_EQ(test::messages().shown[3].icon, 1);
    for (const auto& r : test::messages().shown) EXPECT_EQ(r.caption, QStringLiteral("Kestrel"));
}

TEST(ShowMessage, CoreMessagesMapToIconsAndAnswers) {
    test::messages().clear();
    MessageBoxSink sink(nullptr);
    EXPECT_EQ(sink.show("Unable to open file /x.swf", MessageIcon::Error, MessageButtons::Ok), MessageAnswer::Ok);
    test::messages().answers = {kIdNo, kIdYes};
    EXPECT_EQ(sink.show("continue?", MessageIcon::Warning, MessageButtons::YesNo), MessageAnswer::No);
    EXPECT_EQ(sink.show("continue?", MessageIcon::Warning, MessageButtons::YesNo), MessageAnswer::Yes);
    ASSERT_EQ(test::messages().shown.size(), 3u);
    EXPECT_EQ(test::messages().shown[0].icon, 1);
    EXPECT_EQ(test::messages().shown[0].text, QStringLiteral("Unable to open file /x.swf"));
    EXPECT_EQ(test::messages().shown[1].icon, 3);
    EXPECT_EQ(test::messages().shown[1].escapeId, 0);
}

TEST(ShowMessage, WaitCursorIsLiftedWhileShownAndRestoredAfter) {
    test::messages().clear();
    {
        const WaitCursor wait;
        showMessage(nullptr, QStringLiteral("x"), kMbOk);
        ASSERT_TRUE(QApplication::overrideCursor());
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_FALSE(QApplication::overrideCursor());
    EXPECT_TRUE(test::messages().cursorWasLifted);
}

// ---- window placement ----

TEST(Placement, ElevenNumbersOnly) {
    PlacementRecord r;
    EXPECT_TRUE(OBWndPlacement::parse(QStringLiteral("0,0,1,-1,-1,-1,-1,10,20,510,420"), r));
    EXPECT_EQ(r.showCommand, 1);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.bottom, 420);
    // The first number is ignored.
    EXPECT_TRUE(OBWndPlacement::parse(QStringLiteral("7,2,3,0,0,400,400,1,2,3,4"), r));
    EXPECT_EQ(r.flags, 2);
    EXPECT_EQ(r.showCommand, 3);
    EXPECT_EQ(r.maxPosition, QPoint(400, 400));
    PlacementRecord untouched;
    EXPECT_FALSE(OBWndPlacement::parse(QStringLiteral("0,0,1,-1,-1,-1,-1,10,20,510"), untouched));
    EXPECT_FALSE(OBWndPlacement::parse(QStringLiteral("0,0,1,-1,-1,-1,-1,10,20,510,420,9"), untouched));
    EXPECT_FALSE(OBWndPlacement::parse(QStringLiteral("0,0,1,-1,-1,-1,-1,10,20,510,x"), untouched));
    EXPECT_FALSE(OBWndPlacement::parse(QString(), untouched));
    EXPECT_EQ(untouched.right, 400);  // defaults stay
}

TEST(Placement, FormatParsesBack) {
    PlacementRecord r;
    r.flags = 0;
    r.showCommand = 1;
    r.minPosition = {-1, -1};
    r.maxPosition = {-1, -1};
    r.left = 30;
    r.top = 40;
    r.right = 740;
    r.bottom = 560;
    const QString text = OBWndPlacement::format(r);
    EXPECT_EQ(text, QStringLiteral("0,0,1,-1,-1,-1,-1,30,40,740,560"));
    PlacementRecord back;
    ASSERT_TRUE(OBWndPlacement::parse(text, back));
    EXPECT_EQ(back.right, 740);
    EXPECT_EQ(back.minPosition, QPoint(-1, -1));
}

class PlacementStore : public test::UiTest {};

TEST_F(PlacementStore, SaveAndRestoreAWindow) {
    QWidget window;
    window.setGeometry(60, 70, 500, 300);
    window.show();
    ASSERT_TRUE(OBWndPlacement().save(QStringLiteral("Settings"), &window));
    const QSettings store;
    EXPECT_EQ(store.value(QStringLiteral("Settings/WindowPlacement")).toString(),
              QStringLiteral("0,0,1,-1,-1,-1,-1,60,70,560,370"));

    QWidget other;
    OBWndPlacement placement;
    ASSERT_TRUE(placement.restore(QStringLiteral("Settings"), &other, true));
    EXPECT_EQ(other.geometry(), QRect(60, 70, 500, 300));
    EXPECT_EQ(placement.record().showCommand, 1);

    // Not resizable: only the position is taken.
    QWidget fixed;
    fixed.resize(200, 100);
    ASSERT_TRUE(OBWndPlacement().restore(QStringLiteral("Settings"), &fixed, false));
    EXPECT_EQ(fixed.geometry(), QRect(60, 70, 200, 100));
}

TEST_F(PlacementStore, MaximisedWindowKeepsItsNormalRectangle) {
    QWidget window;
    window.setGeometry(50, 60, 400, 300);
    window.show();
    window.showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(OBWndPlacement().save(QStringLiteral("Settings"), &window));
    OBWndPlacement placement;
    ASSERT_TRUE(placement.load(QStringLiteral("Settings")));
    EXPECT_EQ(placement.record().showCommand, 3);
    EXPECT_EQ(placement.record().left, 50);
    EXPECT_EQ(placement.record().right, 450);
}

TEST_F(PlacementStore, OffScreenPlacementIsBroughtOntoTheScreen) {
    QSettings store;
    store.setValue(QStringLiteral("Settings/WindowPlacement"), QStringLiteral("0,0,1,-1,-1,-1,-1,9000,8000,9700,8500"));
    store.sync();
    QWidget window;
    ASSERT_TRUE(OBWndPlacement().restore(QStringLiteral("Settings"), &window, true));
    const QRect screen = QApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window.geometry())) << window.geometry().x() << "," << window.geometry().y();
    EXPECT_EQ(window.width(), std::min(700, screen.width()));

    store.setValue(QStringLiteral("Settings/WindowPlacement"), QStringLiteral("0,0,1,-1,-1,-1,-1,9000,8000,9700"));
    store.sync();
    EXPECT_FALSE(OBWndPlacement().restore(QStringLiteral("Settings"), &window, true));
}

// ---- text fitting ----

TEST(TextFit, ShortenKeepsAtLeastOneCharacter) {
    const QFontMetrics m(ControlLibrary::uiFont());
    const QString text = QStringLiteral("WAV ADPCM 22 kHz Mono 16 bits");
    EXPECT_EQ(shortenText(m, text, m.horizontalAdvance(text)), text);
    const int width = m.horizontalAdvance(text) / 2;
    const QString shortened = shortenText(m, text, width);
    EXPECT_TRUE(shortened.endsWith(QStringLiteral("...")));
    EXPECT_LE(m.horizontalAdvance(shortened), width);
    EXPECT_TRUE(text.startsWith(shortened.chopped(3)));
    // One more character would not have fitted.
    const QString prefix = shortened.chopped(3);
    EXPECT_GT(m.horizontalAdvance(text.left(prefix.size() + 1) + QStringLiteral("...")), width);
    EXPECT_EQ(shortenText(m, text, 1), QStringLiteral("W..."));
}

TEST(TextFit, WrapBreaksAtBlanksAndInsideLongWords) {
    const QFontMetrics m(ControlLibrary::uiFont());
    const QString text = QStringLiteral("JPEG RGB 256 colors");
    EXPECT_EQ(wrapText(m, text, 1000), QStringList{text});
    const int narrow = m.horizontalAdvance(QStringLiteral("JPEG RGB"));
    const QStringList lines = wrapText(m, text, narrow);
    EXPECT_EQ(lines.first(), QStringLiteral("JPEG RGB"));
    EXPECT_EQ(lines.join(QLatin1Char(' ')), text);

    const QString word = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const int width = m.horizontalAdvance(QStringLiteral("ABCDEFG"));
    const QStringList pieces = wrapText(m, word, width);
    ASSERT_GT(pieces.size(), 2);
    EXPECT_EQ(pieces.join(QString()), word);
    for (const QString& piece : pieces) EXPECT_LE(m.horizontalAdvance(piece), width) << piece.toStdString();
    // Each piece but the last is the longest that fits.
    EXPECT_GT(m.horizontalAdvance(pieces[0] + pieces[1].left(1)), width);
}

// ---- status-bar progress ----

struct ProgressWindow {
    QMainWindow window;
    OBCStatusBar* bar;
    ProgressWindow() {
        bar = new OBCStatusBar(&window, {300});
        window.setStatusBar(bar);
        window.resize(700, 300);
        window.show();
        QCoreApplication::processEvents();
    }
};

TEST(StatusBarProgress, SitsInItsPaneAndGivesTheTextBack) {
    ProgressWindow w;
    w.bar->setPaneText(1, QStringLiteral("/media/movie.swf"));
    OBCStatusBarProgress progress(&w.window);
    ASSERT_TRUE(progress.create(QString(), -1, 100, true, 1));
    QProgressBar* bar = progress.bar();
    ASSERT_TRUE(bar);
    const QRect pane = w.bar->paneRect(1);
    EXPECT_EQ(bar->x(), pane.left() + 2);
    EXPECT_EQ(bar->width(), pane.width() - 3);
    const int inset = (pane.height() - 1) / 10;
    EXPECT_EQ(bar->y(), pane.top() + inset);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(w.bar->paneText(1), QString());  // the bar's own (empty) text
    progress.setPosition(40);
    EXPECT_EQ(bar->value(), 40);
    progress.remove();
    EXPECT_FALSE(progress.created());
    EXPECT_EQ(w.bar->paneText(1), QStringLiteral("/media/movie.swf"));
}

TEST(StatusBarProgress, TextMovesTheBarAndPaneZeroFallsBackToReady) {
    ProgressWindow w;
    w.bar->setPaneText(0, QStringLiteral("3 resources"));
    OBCStatusBarProgress progress(&w.window);
    ASSERT_TRUE(progress.create(QStringLiteral("Writing"), 120, 10, false, 0));
    const QFontMetrics m(w.bar->font());
    EXPECT_EQ(progress.bar()->x(), w.bar->paneRect(0).left() + 2 + m.horizontalAdvance(QStringLiteral("Writing")) +
                                       4 * m.horizontalAdvance(QLatin1Char(' ')));
    EXPECT_EQ(progress.bar()->width(), 120);
    EXPECT_EQ(w.bar->paneText(0), QStringLiteral("Writing"));
    progress.remove();
    EXPECT_EQ(w.bar->paneText(0), QStringLiteral("Ready"));
}

TEST(StatusBarProgress, NoStatusBarNoProgress) {
    QMainWindow bare;
    OBCStatusBarProgress progress(&bare);
    EXPECT_FALSE(progress.create(QString(), -1, 100, true, 1));
    progress.setPosition(5);  // harmless
    progress.remove();
    ProgressWindow w;
    OBCStatusBarProgress missingPane(&w.window);
    EXPECT_FALSE(missingPane.create(QString(), -1, 100, true, 5));
}

TEST(ReadProgress, WeightsReadingAndThumbnails) {
    ProgressWindow w;
    KSReadProgress progress(&w.window);
    ASSERT_TRUE(progress.create());
    EXPECT_EQ(progress.phases(), 2);
    progress.setStepCount(10);
    progress.setPosition(5);  // half of the reading phase
    EXPECT_EQ(progress.bar().bar()->value(), 33);
    progress.nextPhase();
    EXPECT_EQ(progress.bar().bar()->value(), 65);
    progress.setStepCount(40);
    progress.setPosition(10);
    EXPECT_EQ(progress.bar().bar()->value(), 74);
    progress.remove();
    EXPECT_FALSE(progress.bar().created());
}

// ---- artwork ----

TEST(Artwork, EveryPictureHasItsSize) {
    const struct {
        const char* name;
        QSize size;
    } pictures[] = {
        {artwork::kToolbar, {161, 20}},         {artwork::kToolbar2x, {322, 40}},   {artwork::kSmallIcons, {66, 22}},
        {artwork::kSmallIcons2x, {132, 44}},    {artwork::kSoundPicture, {23, 22}}, {artwork::kVideoPicture, {23, 22}},
        {artwork::kThumbnailFrame, {100, 100}}, {artwork::kBanner, {150, 120}},     {artwork::kAbout, {452, 239}},
        {artwork::kIcon16, {16, 16}},           {artwork::kIcon32, {32, 32}},
    };
    for (const auto& p : pictures) {
        const QImage image = artwork::load(QString::fromLatin1(p.name));
        ASSERT_FALSE(image.isNull()) << p.name;
        EXPECT_EQ(image.size(), p.size) << p.name;
    }
    EXPECT_TRUE(artwork::load(QStringLiteral(":/art/missing.png")).isNull());
}

TEST(Artwork, MagentaIsTransparentInKeyedArtwork) {
    const QImage raw = artwork::load(QString::fromLatin1(artwork::kToolbar));
    const QImage keyed = artwork::loadKeyed(QString::fromLatin1(artwork::kToolbar));
    ASSERT_EQ(raw.pixel(0, 0), qRgb(255, 0, 255));
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    int opaque = 0;
    for (int y = 0; y < keyed.height(); ++y)
        for (int x = 0; x < 23; ++x) opaque += qAlpha(keyed.pixel(x, y)) == 255;
    EXPECT_GT(opaque, 30);  // the first cell draws something
    EXPECT_EQ(artwork::cell(keyed, 6, 23).size(), QSize(23, 20));
    EXPECT_TRUE(artwork::cell(keyed, 7, 23).isNull());
}

// ---- properties dialog ----

class Properties : public test::UiTest {
protected:
    std::unique_ptr<SWFDocument> read(const std::string& path) {
        auto doc = std::make_unique<SWFDocument>();
        EXPECT_TRUE(doc->readFile(path, nullptr, nullptr));
        return doc;
    }
    static int find(const SWFDocument& doc, const std::string& typeText) {
        for (int i = 0; i < doc.count(); ++i)
            if (doc.resource(i).typeText == typeText) return i;
        return -1;
    }
};

TEST_F(Properties, ImageFields) {
    auto doc = read(test::demoFile().toStdString());
    const int jpegAlpha = find(*doc, "JPEG RGBA");
    ASSERT_GE(jpegAlpha, 0);
    KSPropertiesDlg dialog(doc->resource(jpegAlpha), nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Resource Properties"));
    const SWFRes& r = doc->resource(jpegAlpha);
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kTitle), QStringLiteral("Image #%1").arg(r.number));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kEncoding), QStringLiteral("JPEG + Alpha"));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kType), QStringLiteral("RGBA"));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kFrame), QStringLiteral("1"));
    // 96 x 64 RGBA: 24576 bytes, 24 KB.
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kSize),
              QStringLiteral("%1 bytes (24 KB uncompressed)").arg(r.memorySize));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kDimension), QStringLiteral("96 \u00D7 64"));
    EXPECT_TRUE(dialog.field(KSPropertiesDlg::kTitle)->isReadOnly());

    const int pngAlpha = find(*doc, "PNG RGBA");
    ASSERT_GE(pngAlpha, 0);
    EXPECT_EQ(KSPropertiesDlg::texts(doc->resource(pngAlpha))[KSPropertiesDlg::kEncoding], QStringLiteral("PNG"));
}

TEST_F(Properties, TinyImageShowsAtLeastOneKilobyte) {
    Tags tags;
    tags.tag(kTagDefineBitsLossless, losslessBody(1, 5, 1, 1, deflate(argbRows({0x102030FF}))));
    tags.showFrame().end();
    test::TempDir dir;
    const std::string path = dir.write("tiny.swf", SwfFile().tags(tags).bytes());
    auto doc = read(path);
    ASSERT_EQ(doc->count(), 1);
    EXPECT_TRUE(KSPropertiesDlg::texts(doc->resource(0))[KSPropertiesDlg::kSize].endsWith(
        QStringLiteral("(1 KB uncompressed)")));
}

TEST_F(Properties, SoundFieldsWithExactMilliseconds) {
    // 11 kHz, 8-bit mono: 11025 samples last 1000 ms, 11014 last 999.
    Tags tags;
    tags.tag(kTagDefineSound, defineSoundBody(1, 0, 1, false, false, 11025, Bytes(11025, 0x80)));
    tags.tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 11014, Bytes(11014, 0x80)));
    tags.showFrame().end();
    test::TempDir dir;
    auto doc = read(dir.write("sounds.swf", SwfFile().tags(tags).bytes()));
    ASSERT_EQ(doc->count(), 2);
    const auto& first = static_cast<const SWFSound&>(doc->resource(0));
    const auto& second = static_cast<const SWFSound&>(doc->resource(1));
    ASSERT_EQ(first.durationMs, 1000);
    ASSERT_EQ(second.durationMs, 999);
    KSPropertiesDlg dialog(first, nullptr);
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kTitle), QStringLiteral("Sound #1"));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kEncoding), QStringLiteral("WAV"));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kType), QStringLiteral("11 kHz - Mono - 8 bits"));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kSize), QStringLiteral("11025 bytes"));
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kDimension), QStringLiteral("1 s (1000 ms exactly)"));
    EXPECT_EQ(KSPropertiesDlg::texts(second)[KSPropertiesDlg::kDimension], QStringLiteral("999 ms"));
    EXPECT_EQ(KSPropertiesDlg::texts(second)[KSPropertiesDlg::kTitle], QStringLiteral("Sound #2"));
}

TEST_F(Properties, ProblemsRowOnlyForAResourceWithProblems) {
    auto doc = read(test::demoFile().toStdString());
    SWFRes& r = doc->resource(0);
    {
        KSPropertiesDlg plain(r, nullptr);
        EXPECT_EQ(plain.field(KSPropertiesDlg::kProblems), nullptr);
    }
    r.problems.push_back({19, 1234, "out of memory for a stream block"});
    r.problems.push_back({19, 1300, "out of memory for a stream block"});
    KSPropertiesDlg dialog(r, nullptr);
    ASSERT_NE(dialog.field(KSPropertiesDlg::kProblems), nullptr);
    EXPECT_EQ(dialog.fieldText(KSPropertiesDlg::kProblems),
              QStringLiteral("SoundStreamBlock (tag 19) at offset 1234: out of memory for a stream block; "
                             "SoundStreamBlock (tag 19) at offset 1300: out of memory for a stream block"));
    EXPECT_GT(dialog.height(), KSPropertiesDlg(doc->resource(1), nullptr).height());
}

TEST_F(Properties, OriginRowOnlyForAResourceFromBinaryData) {
    Tags inner;
    inner.tag(kTagDefineBitsLossless, losslessBody(1, 5, 2, 1, deflate(argbRows({0x102030FF, 0x405060FF}))));
    inner.showFrame().end();
    Tags tags;
    tags.tag(kTagDefineBitsLossless, losslessBody(1, 5, 1, 1, deflate(argbRows({0x102030FF}))))
        .tag(kTagDefineBinaryData, defineBinaryDataBody(3, SwfFile().compressed().tags(inner).bytes()))
        .showFrame()
        .end();
    test::TempDir dir;
    auto doc = read(dir.write("nested.swf", SwfFile().tags(tags).bytes()));
    ASSERT_EQ(doc->count(), 2);
    KSPropertiesDlg own(doc->resource(0), nullptr);
    EXPECT_EQ(own.field(KSPropertiesDlg::kOrigin), nullptr);
    KSPropertiesDlg nested(doc->resource(1), nullptr);
    EXPECT_EQ(nested.fieldText(KSPropertiesDlg::kTitle), QStringLiteral("Image #2"));
    EXPECT_EQ(nested.fieldText(KSPropertiesDlg::kOrigin), QStringLiteral("binary 3"));
    EXPECT_GT(nested.height(), own.height());
    // The Origin row lies between Dimension and the separator above the button.
    EXPECT_GT(nested.field(KSPropertiesDlg::kOrigin)->y(), nested.field(KSPropertiesDlg::kDimension)->y());
    doc->resource(1).problems.push_back({21, 99, "JPEG: bogus"});
    KSPropertiesDlg both(doc->resource(1), nullptr);
    EXPECT_GT(both.field(KSPropertiesDlg::kProblems)->y(), both.field(KSPropertiesDlg::kOrigin)->y());
    EXPECT_GT(both.height(), nested.height());
}

TEST_F(Properties, CloseButtonAndEscapeClose) {
    auto doc = read(test::demoFile().toStdString());
    KSPropertiesDlg dialog(doc->resource(0), nullptr);
    dialog.open();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    dialog.open();
    auto* close = dialog.findChild<QPushButton*>();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->text(), QStringLiteral("&Close"));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

// ---- about box ----

TEST(About, PictureSizedWithTheVersionOverIt) {
    KSAboutDlg dialog(nullptr);
    EXPECT_EQ(dialog.size(), QSize(452, 239));
    EXPECT_EQ(KSAboutDlg::versionText(), QStringLiteral("Version 2.4"));
    dialog.open();
    const QImage shown = dialog.grab().toImage();
    const QImage art = artwork::load(QString::fromLatin1(artwork::kAbout));
    // The version text darkens pixels of the artwork inside its rectangle,
    // and only there.
    int changedInside = 0;
    int changedOutside = 0;
    for (int y = 0; y < art.height(); ++y)
        for (int x = 0; x < art.width(); ++x) {
            if ((shown.pixel(x, y) & 0xFFFFFF) == (art.pixel(x, y) & 0xFFFFFF)) continue;
            if (QRect(20, 94, 400, 400).contains(x, y))
                ++changedInside;
            else
                ++changedOutside;
        }
    EXPECT_GT(changedInside, 20);
    EXPECT_EQ(changedOutside, 0);
    QTest::mouseClick(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace kestrel
