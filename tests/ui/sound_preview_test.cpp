// The sound preview: what it plays, its time display and placement, how it
// closes, the play button that opens it, and that nothing of it outlives
// the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWindow>
#include <thread>

#include "audio/audio_manager.h"
#include "audio/wave_out.h"
#include "document/swf_document.h"
#include "preview_test_support.h"
#include "test_support.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/list_ctrl.h"
#include "ui/preview/pict_view.h"
#include "ui/preview/play_button.h"
#include "ui/preview/preview_art.h"
#include "ui/preview/view_sound.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

int threadCount() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

class SoundPreview : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        test::useSilentAudio();
        swfbuilder::Tags tags;
        test::addPcmSound(tags, 1, 400, false);
        // PCM bytes as Speex (format 11): the codec rejects them, so the
        // sound cannot be played or timed.
        test::addPcmSound(tags, 2, 100, false, 11);
        tags.showFrame().end();
        extra_ = QString::fromStdString(dir_.write("sounds.swf", swfbuilder::SwfFile().tags(tags).bytes()));
        start({test::demoFile()});
        ASSERT_TRUE(frame().document());
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    const SWFDocument& doc() { return *frame().document(); }
    // A sound of the given format code (the n-th one of it).
    int soundRow(SoundFormat format, int nth = 0) {
        for (int i = 0; i < doc().count(); ++i) {
            const auto* sound = dynamic_cast<const SWFSound*>(&doc().resource(i));
            if (sound && sound->payload->format == format && nth-- == 0) return i;
        }
        return -1;
    }
    const SWFSound& sound(int row) { return static_cast<const SWFSound&>(doc().resource(row)); }
    test::ModalRun play(int row, const std::function<void(KSViewSound&)>& inside, int watchdogMs = 30000) {
        test::selectOnly(list(), row);
        return test::runPreview<KSViewSound>([this] { frame().onCommand(kCmdView); }, inside, watchdogMs);
    }
    // Lets the event loop run until `done` holds; false after ten seconds.
    static bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }

    test::TempDir dir_;
    QString extra_;
};

TEST_F(SoundPreview, PlacementIsCentredOnThePointerAndKeptOnTheScreen) {
    const QRect screen(0, 0, 1280, 900);
    // Text 180 x 30, icon 23 wide, frame 3: 180 + 10 + 43 + 6 by 30 + 12 + 6,
    // its bottom edge 2 below the pointer.
    EXPECT_EQ(KSViewSound::placeWindow(QSize(180, 30), 23, QPoint(600, 400), screen, 3), QRect(481, 354, 239, 48));
    EXPECT_EQ(KSViewSound::placeWindow(QSize(180, 30), 23, QPoint(5, 5), screen, 3).topLeft(), QPoint(0, 0));
    EXPECT_EQ(KSViewSound::placeWindow(QSize(180, 30), 23, QPoint(1279, 1200), screen, 3).bottomRight(),
              QPoint(1279, 899));
}

TEST_F(SoundPreview, UncompressedSoundPlaysOnADeviceUntilAKeyCloses) {
    const int row = soundRow(SoundFormat::Uncompressed);
    ASSERT_GE(row, 0);
    const std::int32_t duration = sound(row).durationMs;
    ASSERT_EQ(duration, 600);
    const test::ModalRun run = play(row, [&](KSViewSound& preview) {
        ASSERT_TRUE(preview.playing());
        ASSERT_TRUE(preview.player()->waveOut());
        EXPECT_TRUE(preview.player()->waveOut()->isOpen());
        EXPECT_EQ(preview.player()->manager(), nullptr);
        EXPECT_EQ(OBAudioWaveOut::openDevices(), 1);
        // Sized for the widest text: the duration against itself.
        const QFontMetrics metrics(QFont(QStringLiteral("Verdana"), 18, QFont::Bold));
        EXPECT_EQ(preview.width(), metrics.horizontalAdvance(QStringLiteral("00:00.6 - 00:00.6")) + 10 + 43 +
                                       2 * preview_art::kDialogFrame);
        // The display moves on by itself.
        EXPECT_TRUE(waitFor([&] { return preview.timeText() != QStringLiteral("00:00.0 - 00:00.6"); }));
        const QString text = preview.timeText();
        EXPECT_TRUE(text.startsWith(QStringLiteral("00:00."))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QStringLiteral(" - 00:00.6"))) << text.toStdString();
        EXPECT_NE(text, QStringLiteral("00:00.0 - 00:00.6"));
        test::saveScreenShot("sound-preview");
        // Closed by the key, not by the clock: still open before it, gone
        // right after.
        EXPECT_TRUE(preview.isVisible());
        QTest::keyClick(preview.windowHandle(), Qt::Key_Space);
        EXPECT_FALSE(preview.isVisible());
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(OBAudioWaveOut::openDevices(), 0);
    EXPECT_EQ(PendingBufferCount(), 0u);
}

TEST_F(SoundPreview, ClosesByItselfOnceTheDurationHasPassed) {
    const int row = soundRow(SoundFormat::Adpcm);
    ASSERT_GE(row, 0);
    const std::int32_t duration = sound(row).durationMs;
    QString lastText;
    const test::ModalRun run = play(row, [&](KSViewSound& preview) {
        ASSERT_TRUE(preview.player()->waveOut());
        // Reads the display as the window goes.
        QObject::connect(&preview, &QDialog::finished, [&lastText, &preview] { lastText = preview.timeText(); });
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
    EXPECT_GT(run.elapsedMs, duration + 100);
    // Past the end the display stays on the duration.
    EXPECT_EQ(lastText, QStringLiteral("00:00.5 - 00:00.5"));
    EXPECT_EQ(PendingBufferCount(), 0u);
}

TEST_F(SoundPreview, FinishedBuffersAreReleasedWhileTheWindowIsOpen) {
    ASSERT_TRUE(frame().openFile(extra_));
    const int row = soundRow(SoundFormat::Uncompressed);
    ASSERT_GE(row, 0);
    ASSERT_GE(sound(row).durationMs, 390);
    bool released = false;
    const test::ModalRun run = play(row, [&](KSViewSound& preview) {
        ASSERT_TRUE(preview.player()->waveOut());
        EXPECT_EQ(PendingBufferCount(), 1u);
        // The one whole-sound buffer comes back through the window's event
        // loop once the device has played it.
        auto* poll = new QTimer(&preview);
        QObject::connect(poll, &QTimer::timeout, [&] {
            if (preview.isVisible() && PendingBufferCount() == 0 && preview.player()->waveOut()->isOpen()) {
                released = true;
                preview.close();
            }
        });
        poll->start(5);
    });
    EXPECT_TRUE(run.opened);
    EXPECT_TRUE(released);
}

TEST_F(SoundPreview, Mp3PlaysThroughTheManager) {
    const int row = soundRow(SoundFormat::Mp3);
    ASSERT_GE(row, 0);
    const int before = threadCount();
    const test::ModalRun run = play(row, [&](KSViewSound& preview) {
        ASSERT_TRUE(preview.player()->manager());
        EXPECT_EQ(preview.player()->waveOut(), nullptr);
        EXPECT_GT(threadCount(), before);  // the worker
        // Plays for a moment: the worker has taken the play command.
        const OBAudioManager& manager = *preview.player()->manager();
        EXPECT_TRUE(waitFor([&] { return manager.handledCommands() >= 1; }));
        // Left click anywhere closes.
        QWindow* window = preview.parentWidget()->windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(OBAudioWaveOut::openDevices(), 0);
}

TEST_F(SoundPreview, UnplayableSoundShowsAndClosesAfterItsZeroDuration) {
    ASSERT_TRUE(frame().openFile(extra_));
    const int row = soundRow(SoundFormat::Speex);
    ASSERT_GE(row, 0);
    ASSERT_EQ(sound(row).durationMs, 0);
    ASSERT_FALSE(sound(row).problems.empty());
    const test::ModalRun run = play(row, [&](KSViewSound& preview) {
        EXPECT_TRUE(preview.playing());
        EXPECT_EQ(preview.player()->waveOut(), nullptr);
        EXPECT_EQ(preview.player()->manager(), nullptr);
        EXPECT_EQ(preview.timeText(), QStringLiteral("00:00.0 - 00:00.0"));
    });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
    EXPECT_GT(run.elapsedMs, 100);
}

TEST_F(SoundPreview, ThePlayButtonOfThePanelOpensIt) {
    frame().resize(900, 640);
    test::pump();
    const int row = soundRow(SoundFormat::Adpcm);
    test::selectOnly(list(), row);
    KSPictView& panel = *frame().pictView();
    test::pump();
    KSPlayButton* button = panel.playButton();
    ASSERT_TRUE(button->isVisible());
    test::saveScreenShot("panel-sound");
    const test::ModalRun run = test::runPreview<KSViewSound>([button] { QTest::mouseClick(button, Qt::LeftButton); },
                                                             [](KSViewSound& preview) { preview.close(); });
    EXPECT_TRUE(run.opened);
    EXPECT_FALSE(run.timedOut);
}

TEST_F(SoundPreview, AHundredPreviewsLeaveNothingBehind) {
    const std::vector<int> rows = {soundRow(SoundFormat::Uncompressed, 0), soundRow(SoundFormat::Uncompressed, 1),
                                   soundRow(SoundFormat::Adpcm), soundRow(SoundFormat::Mp3, 0),
                                   soundRow(SoundFormat::Mp3, 1)};
    for (int row : rows) ASSERT_GE(row, 0);
    // Closed by a key at once, or once the sound has reached the device
    // (an MP3 worker has taken its play command).
    auto once = [this](int row, bool played) {
        return play(row, [played](KSViewSound& preview) {
            if (played) {
                const KSSoundPlayer& player = *preview.player();
                EXPECT_TRUE(waitFor([&] {
                    return (player.waveOut() && player.waveOut()->isOpen()) ||
                           (player.manager() && player.manager()->handledCommands() >= 1);
                }));
            }
            QTest::keyClick(&preview, Qt::Key_Escape);
        });
    };
    // The threads that outlive a preview: none but what the libraries set
    // up once for good in a first round.
    for (int row : rows) once(row, true);
    EXPECT_TRUE(waitFor([] { return OBAudioManager::liveWorkers() == 0; }));
    const int threads = threadCount();
    for (int i = 0; i < 100; ++i) {
        const test::ModalRun run = once(rows[std::size_t(i) % rows.size()], i % 3 == 0);
        ASSERT_TRUE(run.opened) << i;
        ASSERT_FALSE(run.timedOut) << i;
        ASSERT_EQ(OBAudioWaveOut::openDevices(), 0) << i;
        ASSERT_EQ(PendingBufferCount(), 0u) << i;
    }
    EXPECT_TRUE(waitFor([&] { return OBAudioManager::liveWorkers() == 0 && threadCount() == threads; }))
        << threadCount() << " threads, " << threads << " before";
}

}  // namespace
}  // namespace kestrel
