// Reading a large movie: the bar and the new file's name show at once, the
// window keeps painting while the body is read, and Escape or the Cancel
// button stop the read, leaving the empty window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

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

using namespace swfbuilder;

// A compressed movie of about 100 MB once inflated: 100 frames, each with a
// 1 MB data tag (read past) and a small picture.
const std::string& largeMovie() {
    static test::TempDir dir;
    static const std::string path = [] {
        Tags tags;
        Bytes block(std::size_t(1) << 20);
        std::uint32_t seed = 12345;
        for (int frame = 0; frame < 100; ++frame) {
            for (std::size_t i = 0; i < block.size(); ++i) {
                // Text-like: compresses, but not to nothing.
                seed = seed * 1103515245u + 12345u;
                block[i] = std::uint8_t('a' + (seed >> 24) % 8);
            }
            Writer data;
            data.u16(std::uint16_t(1000 + frame)).u32(0).bytes(block);
            tags.tag(87, data.take());  // DefineBinaryData
            const std::vector<std::uint32_t> pixels(16 * 16, 0xFF000000u | std::uint32_t(frame * 0x010203));
            tags.tag(kTagDefineBitsLossless2,
                     losslessBody(std::uint16_t(frame + 1), 5, 16, 16, deflate(argbRows(pixels))));
            tags.showFrame();
        }
        tags.end();
        return dir.write("large.swf", compressedFile(SwfFile().frames(100).tags(tags).uncompressedBody()));
    }();
    return path;
}

// Watches the progress bars of the status bar while a file is read.
class BarWatch : public QObject {
public:
    explicit BarWatch(std::function<void(QProgressBar*)> onPaint = {}) : onPaint_(std::move(onPaint)) {
        clock.start();
        qApp->installEventFilter(this);
    }
    ~BarWatch() override { qApp->removeEventFilter(this); }

    QElapsedTimer clock;
    std::vector<qint64> paints;  // milliseconds since the watch began
    std::vector<int> values;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            if (auto* bar = qobject_cast<QProgressBar*>(watched)) {
                paints.push_back(clock.elapsed());
                values.push_back(bar->value());
                if (onPaint_) onPaint_(bar);
            }
        }
        return false;
    }

private:
    std::function<void(QProgressBar*)> onPaint_;
};

class LargeRead : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        start({test::demoFile()});
        ASSERT_TRUE(frame().document());
        frame().resize(700, 500);
        frame().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame()));
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    QString paneText(int i) { return frame().statusBarPanes()->paneText(i); }
    void expectEmptyWindow() {
        EXPECT_FALSE(frame().document());
        EXPECT_EQ(frame().listCtrl()->itemCount(), 0);
        EXPECT_EQ(paneText(0), QStringLiteral("None"));
        EXPECT_EQ(frame().windowTitle(), QStringLiteral("Kestrel"));
        for (int id : {kCmdExtract, kCmdCloseSwf, kCmdLaunchSwf, kCmdSelectAll, kCmdSortType})
            EXPECT_FALSE(frame().action(id)->isEnabled()) << id;
        for (QProgressBar* bar : frame().findChildren<QProgressBar*>()) EXPECT_FALSE(bar->isVisible());
        EXPECT_TRUE(test::messages().shown.empty());
    }
};

TEST_F(LargeRead, ShowsAtOnceAndKeepsPaintingThroughTheRead) {
    const QString path = QString::fromStdString(largeMovie());
    QString nameShown;
    BarWatch watch([&](QProgressBar*) {
        if (nameShown.isEmpty()) nameShown = paneText(1);
    });
    ASSERT_TRUE(frame().openFile(path));
    const qint64 total = watch.clock.elapsed();
    EXPECT_EQ(frame().document()->count(), 100);
    EXPECT_TRUE(test::messages().shown.empty());

    ASSERT_FALSE(watch.paints.empty());
    EXPECT_LT(watch.paints.front(), 500) << "first paint of the bar";
    EXPECT_EQ(nameShown, QStringLiteral("Reading large.swf"));
    // The bar moved through the read, not only at its end.
    int distinct = 0;
    for (std::size_t i = 1; i < watch.values.size(); ++i) {
        EXPECT_GE(watch.values[i], watch.values[i - 1]);
        if (watch.values[i] != watch.values[i - 1] && watch.values[i] < 65) ++distinct;
    }
    EXPECT_GE(distinct, 10);
    // Painted often from start to end. The bound leaves room for a busy
    // machine; the window pumps every 40 ms.
    qint64 gap = watch.paints.front();
    for (std::size_t i = 1; i < watch.paints.size(); ++i) gap = std::max(gap, watch.paints[i] - watch.paints[i - 1]);
    EXPECT_LT(gap, 300) << "longest time without painting, of " << total << " ms";
}

TEST_F(LargeRead, EscapeStopsTheReadAndDiscardsTheMovie) {
    const QString path = QString::fromStdString(largeMovie());
    bool sent = false;
    int valueAtEscape = -1;
    BarWatch watch([&](QProgressBar* bar) {
        if (sent || bar->value() < 10) return;
        sent = true;
        valueAtEscape = bar->value();
        QTimer::singleShot(0, [this] { QTest::keyClick(&frame(), Qt::Key_Escape); });
    });
    EXPECT_FALSE(frame().openFile(path));
    ASSERT_TRUE(sent);
    EXPECT_LT(valueAtEscape, 65);  // still reading the body
    // Stopped soon after: not run on to the thumbnails.
    EXPECT_LT(watch.values.back(), 65);
    expectEmptyWindow();
    // The window works as before.
    ASSERT_TRUE(frame().openFile(test::demoFile()));
    EXPECT_TRUE(frame().action(kCmdExtract)->isEnabled());
}

TEST_F(LargeRead, CancelButtonStopsTheRead) {
    const QString path = QString::fromStdString(largeMovie());
    bool clicked = false;
    BarWatch watch([&](QProgressBar* bar) {
        if (clicked || bar->value() < 5) return;
        clicked = true;
        QTimer::singleShot(0, [this] {
            auto* cancel = frame().findChild<QPushButton*>(QStringLiteral("cancelButton"));
            ASSERT_TRUE(cancel);
            EXPECT_TRUE(cancel->isVisible());
            QTest::mouseClick(cancel, Qt::LeftButton);
        });
    });
    EXPECT_FALSE(frame().openFile(path));
    ASSERT_TRUE(clicked);
    EXPECT_LT(watch.values.back(), 65);
    expectEmptyWindow();
    EXPECT_FALSE(frame().findChild<QPushButton*>(QStringLiteral("cancelButton")));
}

}  // namespace
}  // namespace kestrel
