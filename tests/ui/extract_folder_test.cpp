// The folder text of the Extract dialog: "~" and paths relative to the
// movie's folder, a file in the way refused with the dialog kept, and the
// chosen folder kept for the next run.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

#include "document/extract.h"
#include "modal_script.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/dialogs/select_folder_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

class ExtractFolder : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        lastExtractFolder().clear();
        previousFolder_ = currentFolder();
        dir_ = QString::fromStdString(scratch_.path());
        movie_ = QString::fromStdString(scratch_.write("movie.swf", test::readAll(test::demoFile().toStdString())));
        start({movie_});
        ASSERT_TRUE(frame().document());
    }
    void TearDown() override {
        test::UiTest::TearDown();
        lastExtractFolder().clear();
        setCurrentFolder(previousFolder_);
    }
    KSMainFrame& frame() { return *app_->mainFrame(); }

    test::TempDir scratch_;
    QString dir_;
    QString movie_;
    std::string previousFolder_;
};

TEST_F(ExtractFolder, TildeAndRelativeTextsAreResolved) {
    const QString home = QDir::homePath();
    EXPECT_EQ(KSelectFolderDlg::resolveFolderText(QStringLiteral("~"), dir_), home);
    EXPECT_EQ(KSelectFolderDlg::resolveFolderText(QStringLiteral("~/pics"), dir_), home + QStringLiteral("/pics"));
    EXPECT_EQ(KSelectFolderDlg::resolveFolderText(QStringLiteral("pics/a"), QStringLiteral("/m")),
              QStringLiteral("/m/pics/a"));
    EXPECT_EQ(KSelectFolderDlg::resolveFolderText(QStringLiteral("../x"), QStringLiteral("/m/n")),
              QStringLiteral("/m/x"));
    EXPECT_EQ(KSelectFolderDlg::resolveFolderText(QStringLiteral("/abs"), QStringLiteral("/m")),
              QStringLiteral("/abs"));
    // "~user" is a name like any other.
    EXPECT_EQ(KSelectFolderDlg::resolveFolderText(QStringLiteral("~user"), QStringLiteral("/m")),
              QStringLiteral("/m/~user"));

    // Extract All into "images": beside the movie, whatever the working folder.
    {
        test::ModalScript script;
        script.on<KSelectFolderDlg>("relative", [](KSelectFolderDlg* d) {
            d->folderEdit()->setText(QStringLiteral("images"));
            d->allButton()->setChecked(true);
            d->extractButton()->click();
        });
        frame().action(kCmdExtract)->trigger();
    }
    EXPECT_TRUE(test::messages().shown.empty());
    EXPECT_EQ(QDir(dir_ + QStringLiteral("/images")).entryList(QDir::Files).size(), frame().document()->count());
}

TEST_F(ExtractFolder, AFileInTheWayIsNamedAndTheDialogStays) {
    QFile file(dir_ + QStringLiteral("/taken"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    KSelectFolderDlg dialog(&frame(), movie_, true, {});
    dialog.folderEdit()->setText(QStringLiteral("taken"));
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(test::messages().shown.size(), 1u);
    EXPECT_EQ(test::messages().shown[0].text, dir_ + QStringLiteral("/taken is a file, not a folder."));
    EXPECT_EQ(dialog.folderEdit()->text(), QStringLiteral("taken"));
    EXPECT_TRUE(lastExtractFolder().isEmpty());
}

TEST_F(ExtractFolder, TheChosenFolderIsKeptForTheNextRun) {
    const QString typed = dir_ + QStringLiteral("/kept");
    {
        KSelectFolderDlg dialog(&frame(), movie_, true, {});
        dialog.folderEdit()->setText(typed);
        dialog.accept();
    }
    EXPECT_EQ(QSettings().value(QStringLiteral("Extract/LastFolder")).toString(), typed);
    // The proposal itself is no choice.
    lastExtractFolder().clear();
    QSettings().remove(QStringLiteral("Extract/LastFolder"));
    {
        KSelectFolderDlg dialog(&frame(), movie_, true, {});
        dialog.accept();
    }
    EXPECT_FALSE(QSettings().contains(QStringLiteral("Extract/LastFolder")));
}

}  // namespace
}  // namespace kestrel
