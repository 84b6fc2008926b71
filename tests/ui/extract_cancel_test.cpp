// Stopping an extraction and what the window says afterwards: Escape stops
// after the file being written, every written file is whole, and the
// message pane reports the outcome until the next prompt.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>

#include "document/extract.h"
#include "document/swf_document.h"
#include "modal_script.h"
#include "swfbuilder/swf_builder.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/app/settings.h"
#include "ui/controls/status_bar.h"
#include "ui/dialogs/extraction.h"
#include "ui/dialogs/select_folder_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// 40 noisy 192 x 192 pictures: each takes a moment to write.
std::string noisyMovie(test::TempDir& dir) {
    Tags tags;
    std::uint32_t seed = 7;
    for (int i = 0; i < 40; ++i) {
        std::vector<std::uint32_t> pixels(192 * 192);
        for (std::uint32_t& p : pixels) {
            seed = seed * 1664525u + 1013904223u;
            p = seed | 0xFFu;
        }
        tags.tag(kTagDefineBitsLossless2, losslessBody(std::uint16_t(i + 1), 5, 192, 192, deflate(argbRows(pixels))));
        tags.showFrame();
    }
    tags.end();
    return dir.write("noisy.swf", SwfFile().frames(40).tags(tags).bytes());
}

class ExtractCancel : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        lastExtractFolder().clear();
        previousFolder_ = currentFolder();
    }
    void TearDown() override {
        test::UiTest::TearDown();
        lastExtractFolder().clear();
        setCurrentFolder(previousFolder_);
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }
    QString paneText(int i) { return frame().statusBarPanes()->paneText(i); }
    static std::function<void(KSelectFolderDlg*)> extractAllTo(const QString& folder) {
        return [folder](KSelectFolderDlg* dialog) {
            dialog->folderEdit()->setText(folder);
            dialog->allButton()->setChecked(true);
            dialog->extractButton()->click();
        };
    }
    std::string previousFolder_;
};

TEST_F(ExtractCancel, EscapeStopsAfterTheCurrentFileAndLeavesOnlyWholeFiles) {
    test::TempDir movieDir;
    test::TempDir outDir;
    test::TempDir refDir;
    start({QString::fromStdString(noisyMovie(movieDir))});
    ASSERT_TRUE(frame().document());
    frame().show();
    const SWFDocument& doc = *frame().document();
    ASSERT_EQ(doc.count(), 40);
    const QString out = QString::fromStdString(outDir.path()) + QStringLiteral("/out");

    bool sent = false;
    auto* watcher = new QTimer(&frame());
    QObject::connect(watcher, &QTimer::timeout, [&] {
        // Once a few files are out, Escape.
        if (sent || QDir(out).entryList(QDir::Files).size() < 3) return;
        sent = true;
        QTest::keyClick(&frame(), Qt::Key_Escape);
    });
    watcher->start(1);
    {
        test::ModalScript script;
        script.on<KSelectFolderDlg>("extract all", extractAllTo(out));
        frame().action(kCmdExtract)->trigger();
    }
    watcher->stop();
    ASSERT_TRUE(sent);
    EXPECT_TRUE(test::messages().shown.empty());

    // The files written are the first ones, each the same as a direct write;
    // nothing else is in the folder.
    const QStringList written = QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    ASSERT_GE(written.size(), 3);
    EXPECT_LT(written.size(), 40);
    for (int i = 0; i < written.size(); ++i) {
        const QString name = QString::fromStdString(doc.resourceFileName(i, doc.resource(i).number));
        ASSERT_TRUE(written.contains(name)) << name.toStdString();
        const std::string ref = refDir.file("ref-" + std::to_string(i));
        ASSERT_EQ(writeResourceFile(doc.resource(i), ref, {}), WriteOk);
        EXPECT_EQ(bytesOf(out + QLatin1Char('/') + name), bytesOf(QString::fromStdString(ref))) << name.toStdString();
    }

    EXPECT_EQ(paneText(0), QStringLiteral("%1 files written to %2 (cancelled)").arg(written.size()).arg(out));
    for (QProgressBar* bar : frame().findChildren<QProgressBar*>()) EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(frame().findChild<QPushButton*>(QStringLiteral("cancelButton")));
}

TEST_F(ExtractCancel, ResultStaysUntilTheNextPrompt) {
    test::TempDir outDir;
    start({test::demoFile()});
    ASSERT_TRUE(frame().document());
    const int count = frame().document()->count();
    const QString out = QString::fromStdString(outDir.path());
    {
        test::ModalScript script;
        script.on<KSelectFolderDlg>("extract all", extractAllTo(out));
        frame().action(kCmdExtract)->trigger();
    }
    EXPECT_TRUE(test::messages().shown.empty());
    const QString result = QStringLiteral("%1 files written to %2").arg(count).arg(out);
    EXPECT_EQ(paneText(0), result);
    test::pump();
    EXPECT_EQ(paneText(0), result);

    // The next extraction starts without the old news.
    bool sawOldResult = true;
    {
        test::ModalScript script;
        script.on<KSelectFolderDlg>("again", [&](KSelectFolderDlg* dialog) {
            sawOldResult = paneText(0) == result;
            dialog->reject();
        });
        frame().action(kCmdExtract)->trigger();
    }
    EXPECT_FALSE(sawOldResult);
    frame().showResult(result);

    QStatusTipEvent tip(QStringLiteral("Opens a movie"));
    QCoreApplication::sendEvent(&frame(), &tip);
    EXPECT_EQ(frame().statusBarPanes()->pane(0)->text(), QStringLiteral("Opens a movie"));
    // Behind the prompt the counts are back already.
    EXPECT_EQ(paneText(0), QStringLiteral("%1 resources").arg(count));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(&frame(), &none);
    EXPECT_EQ(paneText(0), QStringLiteral("%1 resources").arg(count));
}

TEST(ExtractionResultText, NamesSkippedAndFailedOnlyWhenThereAreAny) {
    ExtractSummary summary;
    summary.written = 1;
    EXPECT_EQ(extractionResultText(summary, QStringLiteral("/tmp/x")), QStringLiteral("1 file written to /tmp/x"));
    summary.written = 12;
    summary.skipped = 2;
    EXPECT_EQ(extractionResultText(summary, QStringLiteral("/tmp/x")),
              QStringLiteral("12 files written to /tmp/x, 2 skipped, 0 failed"));
    summary.skipped = 0;
    summary.failed = 3;
    EXPECT_EQ(extractionResultText(summary, QStringLiteral("/tmp/x")),
              QStringLiteral("12 files written to /tmp/x, 0 skipped, 3 failed"));
}

}  // namespace
}  // namespace kestrel
