// The Extract command: the folder dialog and its proposal, New Folder and
// Browse, folder creation and its failures, the overwrite question, the
// per-file reports and the write options, all through real dialogs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "document/extract.h"
#include "document/swf_document.h"
#include "list_helpers.h"
#include "modal_script.h"
#include "test_support.h"
#include "ui/app/settings.h"
#include "ui/controls/status_bar.h"
#include "ui/dialogs/file_exists_dlg.h"
#include "ui/dialogs/new_folder_dlg.h"
#include "ui/dialogs/select_folder_dlg.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

using test::ModalScript;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeText(const QString& path, const char* text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// A folder that refuses new subfolders, with the text the refusal gives.
struct LockedFolder {
    QString parent;
    QString refused;  // the folder that cannot be made
};
LockedFolder lockedFolder(const QString& scratch) {
    // Root may write anywhere except where the kernel itself refuses.
    if (::geteuid() == 0) return {QStringLiteral("/sys"), QStringLiteral("/sys/kestrel-never")};
    const QString locked = scratch + QStringLiteral("/locked");
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    return {locked, locked + QStringLiteral("/sub")};
}

class Extract : public test::UiTest {
protected:
    void SetUp() override {
        test::UiTest::SetUp();
        lastExtractFolder().clear();
        previousFolder_ = currentFolder();
        dir_ = qs(scratch_.path());
        movie_ = qs(scratch_.write("movie.swf", test::readAll(test::demoFile().toStdString())));
        start({movie_});
        ASSERT_TRUE(frame().document());
    }
    void TearDown() override {
        test::UiTest::TearDown();
        lastExtractFolder().clear();
        setCurrentFolder(previousFolder_);
    }

    KSMainFrame& frame() { return *app_->mainFrame(); }
    KSListCtrl& list() { return *frame().listCtrl(); }
    SWFDocument& doc() { return *frame().document(); }
    QString in(const QString& name) const { return dir_ + QLatin1Char('/') + name; }

    int rowOf(int kind, int number) { return test::rowOf(doc(), kind, number); }
    void select(std::initializer_list<int> rows) { test::selectRows(list(), rows); }
    QString fileName(int row) { return qs(doc().resourceFileName(row, doc().resource(row).number)); }
    // What the record gives when written straight to a file.
    QByteArray reference(int row, const WriteOptions& options = {}) {
        const QString path = QString::fromStdString(reference_.file("ref-" + std::to_string(refCount_++)));
        EXPECT_EQ(writeResourceFile(doc().resource(row), path.toStdString(), options), WriteOk);
        return bytesOf(path);
    }
    // The Extract command, through its menu action.
    void extract() { frame().action(kCmdExtract)->trigger(); }

    // Dialog steps: type a folder text and press Extract.
    static std::function<void(KSelectFolderDlg*)> extractTo(const QString& text, bool all = false) {
        return [text, all](KSelectFolderDlg* dialog) {
            dialog->folderEdit()->setText(text);
            (all ? dialog->allButton() : dialog->selectedButton())->setChecked(true);
            dialog->extractButton()->click();
        };
    }
    static std::function<void(KSFileAlreadyExistsDlg*)> answer(KSFileAlreadyExistsDlg::Result result) {
        return [result](KSFileAlreadyExistsDlg* dialog) { dialog->button(result)->click(); };
    }

    test::TempDir scratch_;
    test::TempDir reference_;
    int refCount_ = 0;
    QString dir_;
    QString movie_;
    std::string previousFolder_;
};

// ---- the folder dialog ----

TEST_F(Extract, DialogProposesTheMovieFolderAndOffersTheSelection) {
    EXPECT_EQ(KSelectFolderDlg::folderOf(QStringLiteral("/media/clip.swf")), QStringLiteral("/media"));
    EXPECT_EQ(KSelectFolderDlg::folderOf(QStringLiteral("/clip.swf")), QStringLiteral("/"));
    // A name opened relative to the working folder proposes that folder.
    EXPECT_EQ(KSelectFolderDlg::folderOf(QStringLiteral("clip.swf")), QDir::currentPath());

    KSelectFolderDlg dialog(&frame(), movie_, true, {});
    EXPECT_EQ(dialog.folderEdit()->text(), dir_);
    EXPECT_EQ(dialog.folderEdit()->selectedText(), dir_);
    EXPECT_TRUE(dialog.selectedButton()->isEnabled());
    EXPECT_TRUE(dialog.selectedButton()->isChecked());
    EXPECT_FALSE(dialog.originalJpegBox()->isChecked());
    EXPECT_FALSE(dialog.premultipliedAlphaBox()->isChecked());
    // The check boxes lie below the resource choice, clear of every button.
    const QRect group = dialog.allButton()->parentWidget()->geometry();
    for (QWidget* box :
         {static_cast<QWidget*>(dialog.originalJpegBox()), static_cast<QWidget*>(dialog.premultipliedAlphaBox())}) {
        EXPECT_GE(box->geometry().top(), group.bottom());
        EXPECT_TRUE(dialog.rect().contains(box->geometry()));
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            EXPECT_FALSE(box->geometry().intersects(button->geometry())) << button->text().toStdString();
    }

    KSelectFolderDlg none(&frame(), movie_, false, {});
    EXPECT_FALSE(none.selectedButton()->isEnabled());
    EXPECT_TRUE(none.allButton()->isChecked());
}

TEST_F(Extract, TypedFolderBecomesTheDefaultButTheProposalDoesNot) {
    {
        KSelectFolderDlg dialog(&frame(), movie_, true, {});
        dialog.accept();
        EXPECT_EQ(dialog.folder(), dir_);
        EXPECT_TRUE(dialog.selectedOnly());
    }
    EXPECT_TRUE(lastExtractFolder().isEmpty());

    const QString typed = in(QStringLiteral("elsewhere"));
    {
        KSelectFolderDlg dialog(&frame(), movie_, true, {});
        dialog.folderEdit()->setText(typed);
        dialog.allButton()->setChecked(true);
        dialog.accept();
        EXPECT_FALSE(dialog.selectedOnly());
    }
    EXPECT_EQ(lastExtractFolder(), typed);

    // Another movie elsewhere: the typed folder stays the default.
    KSelectFolderDlg next(&frame(), QStringLiteral("/other/place/clip.swf"), true, {});
    EXPECT_EQ(next.folderEdit()->text(), typed);
    next.accept();
    EXPECT_EQ(lastExtractFolder(), typed);
}

TEST_F(Extract, MenuToolbarContextMenuAndCtrlEOpenTheDialog) {
    select({rowOf(kKindImage, 1)});
    int opened = 0;
    auto cancel = [&opened](KSelectFolderDlg* dialog) {
        ++opened;
        dialog->reject();
    };
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("menu", cancel)
            .on<KSelectFolderDlg>("toolbar", cancel)
            .on<KSelectFolderDlg>("context menu", cancel)
            .on<KSelectFolderDlg>("Ctrl+E", cancel);
        extract();
        qobject_cast<QToolButton*>(frame().toolBar()->widgetForAction(frame().action(kCmdExtract)))->click();
        const std::unique_ptr<QMenu> menu = frame().childView()->buildContextMenu(0);
        for (QAction* a : menu->actions())
            if (a->data().toInt() == kCmdExtract) a->trigger();
        QApplication::setActiveWindow(&frame());
        list().currentView()->setFocus();
        QTest::keyClick(list().currentView(), Qt::Key_E, Qt::ControlModifier);
    }
    EXPECT_EQ(opened, 4);
    EXPECT_EQ(entries(dir_), QStringList{QStringLiteral("movie.swf")});
}

TEST_F(Extract, BrowseMakesTheChosenFolderCurrent) {
    const QString chosen = in(QStringLiteral("picked"));
    QDir().mkpath(chosen);
    QString shown;
    {
        ModalScript script;
        script
            .on<KSelectFolderDlg>("browse",
                                  [](KSelectFolderDlg* d) {
                                      QMetaObject::invokeMethod(d->browseButton(), "click", Qt::QueuedConnection);
                                  })
            .on<QFileDialog>("choose",
                             [chosen](QFileDialog* d) {
                                 EXPECT_EQ(d->windowTitle(), QStringLiteral("Please select folder for extraction"));
                                 d->setDirectory(chosen);
                                 QMetaObject::invokeMethod(d, "accept");
                             })
            .on<KSelectFolderDlg>("check", [&shown](KSelectFolderDlg* d) {
                shown = d->folderEdit()->text();
                d->reject();
            });
        extract();
    }
    EXPECT_EQ(shown, chosen);
    EXPECT_EQ(qs(currentFolder()), chosen);
}

// ---- writing ----

TEST_F(Extract, WritesTheSelectionIntoANewCleanedFolder) {
    const int image = rowOf(kKindImage, 1);
    const int sound = rowOf(kKindSound, 1);
    select({image, sound});
    const QString typed = in(QStringLiteral("out/new?dir"));
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("folder", extractTo(typed));
        extract();
    }
    const QString folder = in(QStringLiteral("out/new_dir"));
    EXPECT_EQ(entries(folder), (QStringList{QStringLiteral("movie-1.jpg"), QStringLiteral("movie-1.wav")}));
    EXPECT_EQ(bytesOf(folder + QStringLiteral("/movie-1.jpg")), reference(image));
    EXPECT_EQ(bytesOf(folder + QStringLiteral("/movie-1.wav")), reference(sound));
    EXPECT_EQ(qs(currentFolder()), folder);
    EXPECT_EQ(lastExtractFolder(), typed);
    EXPECT_TRUE(test::messages().shown.empty());
    // No wait cursor and no progress bar are left behind.
    EXPECT_FALSE(QApplication::overrideCursor());
    EXPECT_FALSE(frame().statusBarPanes()->findChild<QProgressBar*>());
}

TEST_F(Extract, AllResourcesOrTheProposalUnchanged) {
    select({rowOf(kKindImage, 2)});
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("all", extractTo(in(QStringLiteral("all")), true));
        extract();
    }
    lastExtractFolder().clear();
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("proposal", [](KSelectFolderDlg* d) { d->extractButton()->click(); });
        extract();
    }
    QStringList expected;
    for (int i = 0; i < doc().count(); ++i) expected << fileName(i);
    expected.sort();
    EXPECT_EQ(expected.size(), test::demoResourceCount());
    EXPECT_EQ(entries(in(QStringLiteral("all"))), expected);
    // The proposal, confirmed as it was, writes beside the movie and is not
    // remembered.
    EXPECT_EQ(entries(dir_),
              (QStringList{QStringLiteral("all"), QStringLiteral("movie-2.jpg"), QStringLiteral("movie.swf")}));
    EXPECT_TRUE(lastExtractFolder().isEmpty());
}

TEST_F(Extract, FolderProblemsStopBeforeAnythingIsWritten) {
    select({rowOf(kKindImage, 1)});
    const LockedFolder locked = lockedFolder(dir_);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir_);
    const QString typed = locked.refused + QStringLiteral("/deeper");
    {
        // The dialog stays open with the text, for a correction.
        ModalScript script;
        script.on<KSelectFolderDlg>("refused", [&](KSelectFolderDlg* dialog) {
            extractTo(typed)(dialog);
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_EQ(dialog->folderEdit()->text(), typed);
            dialog->reject();
        });
        extract();
    }
    QDir::setCurrent(previous);
    const auto& shown = test::messages().shown;
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("Could not extract the resources.\n") + locked.refused +
                                 QStringLiteral(" : Access denied"));
    EXPECT_EQ(shown[0].icon, 1);
    EXPECT_FALSE(QFileInfo::exists(locked.refused));
    EXPECT_FALSE(QApplication::overrideCursor());
}

// ---- the overwrite question ----

class Overwrite : public Extract {
protected:
    void SetUp() override {
        Extract::SetUp();
        rows_ = {rowOf(kKindImage, 1), rowOf(kKindImage, 2), rowOf(kKindSound, 1)};
        std::sort(rows_.begin(), rows_.end());  // the order of the questions
        select({rows_[0], rows_[1], rows_[2]});
        folder_ = in(QStringLiteral("out"));
        QDir().mkpath(folder_);
        resetFiles();
    }
    void resetFiles() {
        for (int row : rows_) {
            QDir(path(row)).removeRecursively();
            writeText(path(row), "old");
        }
    }
    QString path(int row) { return folder_ + QLatin1Char('/') + fileName(row); }
    // 'o' old, 'w' written, per row.
    std::string states() {
        std::string out;
        for (int row : rows_)
            out += bytesOf(path(row)) == QByteArray("old") ? 'o' : bytesOf(path(row)) == reference(row) ? 'w' : '?';
        return out;
    }

    std::vector<int> rows_;
    QString folder_;
};

TEST_F(Overwrite, AsksWithThePathWhileTheProgressGoesOn) {
    QString text;
    bool cursorShown = true;
    bool yesIsDefault = false;
    std::vector<int> progress;
    auto yes = [&](KSFileAlreadyExistsDlg* d) {
        const auto* bar = frame().statusBarPanes()->findChild<QProgressBar*>();
        progress.push_back(bar ? bar->value() : -1);
        if (text.isEmpty()) text = d->text();
        cursorShown = cursorShown && QApplication::overrideCursor();
        yesIsDefault = d->button(KSFileAlreadyExistsDlg::Yes)->isDefault();
        d->button(KSFileAlreadyExistsDlg::Yes)->click();
    };
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("folder", extractTo(folder_))
            .on<KSFileAlreadyExistsDlg>("first", yes)
            .on<KSFileAlreadyExistsDlg>("second", yes)
            .on<KSFileAlreadyExistsDlg>("third", yes);
        extract();
    }
    EXPECT_EQ(text, QStringLiteral("The file '") + path(rows_[0]) +
                        QStringLiteral("' already exists.\n\nDo you want to overwrite it?"));
    EXPECT_FALSE(cursorShown);
    EXPECT_TRUE(yesIsDefault);
    // One step per file in the status bar: 0, 1 and 2 of 3.
    EXPECT_EQ(progress, (std::vector<int>{0, 33, 67}));
    EXPECT_EQ(states(), "www");
    EXPECT_FALSE(QApplication::overrideCursor());
}

TEST_F(Overwrite, AnswersDecideFileByFile) {
    using R = KSFileAlreadyExistsDlg;
    auto escape = [](R* d) { QTest::keyClick(d, Qt::Key_Escape); };
    auto closeBox = [](R* d) { d->close(); };
    const struct {
        const char* name;
        std::vector<std::function<void(R*)>> answers;
        std::string expected;
    } cases[] = {
        {"All asks no more", {answer(R::All)}, "www"},
        {"No skips one file", {answer(R::No), answer(R::Yes), answer(R::No)}, "owo"},
        {"Cancel ends it", {answer(R::Yes), answer(R::Cancel)}, "woo"},
        {"No to All skips the rest unasked", {answer(R::Yes), answer(R::NoToAll)}, "woo"},
        // Closing the question without a button is safer as Cancel.
        {"Escape cancels", {escape}, "ooo"},
        {"the close box cancels", {closeBox}, "ooo"},
    };
    for (const auto& c : cases) {
        resetFiles();
        {
            ModalScript script;
            script.on<KSelectFolderDlg>("folder", extractTo(folder_));
            for (const auto& a : c.answers) script.on<R>(c.name, a);
            extract();
        }
        EXPECT_EQ(states(), c.expected) << c.name;
    }
    EXPECT_TRUE(test::messages().shown.empty());
}

TEST_F(Overwrite, NothingCanOpenOrCloseAFileWhileExtracting) {
    const QString other = qs(scratch_.write("other.swf", test::readAll(test::demoFile().toStdString())));
    bool dropAccepted = true;
    bool closeAccepted = true;
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("folder", extractTo(folder_))
            .on<KSFileAlreadyExistsDlg>("first", [&](KSFileAlreadyExistsDlg* d) {
                // A file dropped on the window, a request to close it and an open.
                QMimeData mime;
                mime.setUrls({QUrl::fromLocalFile(other)});
                QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
                QCoreApplication::sendEvent(&frame(), &drop);
                dropAccepted = drop.isAccepted();
                QCloseEvent close;
                QCoreApplication::sendEvent(&frame(), &close);
                closeAccepted = close.isAccepted();
                frame().openFile(other);
                d->button(KSFileAlreadyExistsDlg::All)->click();
            });
        extract();
    }
    EXPECT_FALSE(dropAccepted);
    EXPECT_FALSE(closeAccepted);
    ASSERT_TRUE(frame().document());
    EXPECT_EQ(frame().childView()->path(), movie_);
    EXPECT_EQ(states(), "www");
    EXPECT_TRUE(frame().openFile(other));  // afterwards files open again
}

// ---- per-file failures ----

TEST_F(Overwrite, FailedFilesAreReportedAndOnlyTheLastWithoutTheQuestion) {
    // Folders in the way of two of the files: they exist (so the question
    // comes first) and cannot be written.
    for (int row : {rows_[1], rows_[2]}) {
        QFile::remove(path(row));
        QDir().mkpath(path(row));
    }
    auto run = [this](int continueAnswer) {
        test::messages().clear();
        test::messages().answers = {continueAnswer};
        ModalScript script;
        script.on<KSelectFolderDlg>("folder", extractTo(folder_))
            .on<KSFileAlreadyExistsDlg>("first", answer(KSFileAlreadyExistsDlg::All));
        extract();
    };
    run(kIdYes);
    EXPECT_EQ(states().front(), 'w');
    const auto& shown = test::messages().shown;
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, QStringLiteral("Unable to create the following file:\t \n") + path(rows_[1]) +
                                 QStringLiteral("\n\nDo you want to continue ?"));
    EXPECT_EQ(shown[0].type & 0xF, kMbYesNo);
    EXPECT_EQ(shown[1].text,
              QStringLiteral("Unable to create the following file:\t \n") + path(rows_[2]) + QStringLiteral("\n"));
    EXPECT_EQ(shown[1].type & 0xF, kMbOk);
    for (const auto& m : shown) EXPECT_EQ(m.icon, 3);
    EXPECT_TRUE(test::messages().cursorWasLifted);
    EXPECT_FALSE(QApplication::overrideCursor());

    // No ends the extraction: the last file is not tried.
    run(kIdNo);
    EXPECT_EQ(test::messages().shown.size(), 1u);
}

// ---- New Folder ----

class NewFolder : public Extract {};

TEST_F(NewFolder, RefusesOnlyWhatTheFileSystemRefuses) {
    setCurrentFolder(dir_.toStdString());
    const std::pair<QString, QString> refused[] = {
        {QStringLiteral("a/b"), QStringLiteral("A folder name can not contain \"/\".")},
        {QStringLiteral("."), QStringLiteral("Invalid folder name or path")},
        {QStringLiteral(".."), QStringLiteral("Invalid folder name or path")},
        {QStringLiteral("a") + QChar(0) + QStringLiteral("b"), QStringLiteral("Invalid folder name or path")},
    };
    for (const auto& [name, message] : refused) {
        KNewFolderDlg dialog(&frame());
        EXPECT_EQ(dialog.folderText(), dir_);
        test::messages().clear();
        dialog.nameEdit()->setText(name);
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted) << name.toStdString();
        ASSERT_EQ(test::messages().shown.size(), 1u) << name.toStdString();
        EXPECT_EQ(test::messages().shown[0].text, message) << name.toStdString();
        EXPECT_EQ(test::messages().shown[0].icon, 1) << name.toStdString();
    }
    EXPECT_EQ(entries(dir_), QStringList{QStringLiteral("movie.swf")});

    // Names other systems refuse are fine here.
    QStringList made{QStringLiteral("movie.swf")};
    for (const char* name : {"a*b", "a?b", "a:b", "a\"b", "a>b", "a<b", "a|b", "\\a"}) {
        setCurrentFolder(dir_.toStdString());
        KNewFolderDlg dialog(&frame());
        test::messages().clear();
        dialog.nameEdit()->setText(QString::fromLatin1(name));
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << name;
        EXPECT_TRUE(test::messages().shown.empty()) << name;
        EXPECT_TRUE(QFileInfo(dir_ + QLatin1Char('/') + QString::fromLatin1(name)).isDir()) << name;
    }
}

TEST_F(NewFolder, CreatesTheTrimmedNameOrKeepsTheFolderForAnEmptyOne) {
    setCurrentFolder(dir_.toStdString());
    KNewFolderDlg empty(&frame());
    empty.accept();
    EXPECT_EQ(empty.result(), QDialog::Accepted);
    EXPECT_EQ(qs(currentFolder()), dir_);

    KNewFolderDlg named(&frame());
    named.nameEdit()->setText(QStringLiteral("  pictures  "));
    named.accept();
    EXPECT_EQ(named.result(), QDialog::Accepted);
    EXPECT_TRUE(QFileInfo(in(QStringLiteral("pictures"))).isDir());
    EXPECT_EQ(qs(currentFolder()), in(QStringLiteral("pictures")));
    EXPECT_TRUE(test::messages().shown.empty());
}

TEST_F(NewFolder, FailuresClaimACreationOnlyWhenThereWasOne) {
    const LockedFolder locked = lockedFolder(dir_);
    setCurrentFolder(locked.parent.toStdString());
    KNewFolderDlg refused(&frame());
    refused.nameEdit()->setText(QFileInfo(locked.refused).fileName());
    refused.accept();
    EXPECT_NE(refused.result(), QDialog::Accepted);
    EXPECT_TRUE(refused.nameEdit()->text().isEmpty());
    EXPECT_EQ(refused.folderText(), locked.parent);

    // The folder shown has gone meanwhile: it is made again before the
    // name, too long for the file system, fails.
    const QString gone = in(QStringLiteral("gone"));
    setCurrentFolder(gone.toStdString());
    KNewFolderDlg remade(&frame());
    const QString name(300, QLatin1Char('n'));
    remade.nameEdit()->setText(name);
    remade.accept();
    EXPECT_NE(remade.result(), QDialog::Accepted);
    EXPECT_EQ(remade.folderText(), gone);

    const auto& shown = test::messages().shown;
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, locked.refused + QStringLiteral(" : Access denied"));
    EXPECT_EQ(shown[1].text, gone + QStringLiteral(" has been successfully created.\n") + gone + QLatin1Char('/') +
                                 name + QStringLiteral(" : Invalid Path"));
    EXPECT_EQ(shown[0].icon, 1);
}

TEST_F(NewFolder, OkPutsTheNewFolderIntoTheExtractDialog) {
    setCurrentFolder(dir_.toStdString());
    select({rowOf(kKindImage, 1)});
    {
        ModalScript script;
        script
            .on<KSelectFolderDlg>("new folder",
                                  [](KSelectFolderDlg* d) {
                                      QMetaObject::invokeMethod(d->newFolderButton(), "click", Qt::QueuedConnection);
                                  })
            .on<KNewFolderDlg>("name",
                               [](KNewFolderDlg* d) {
                                   d->nameEdit()->setText(QStringLiteral("fresh"));
                                   d->accept();
                               })
            .on<KSelectFolderDlg>("extract", [this](KSelectFolderDlg* d) {
                EXPECT_EQ(d->folderEdit()->text(), in(QStringLiteral("fresh")));
                d->extractButton()->click();
            });
        extract();
    }
    EXPECT_EQ(entries(in(QStringLiteral("fresh"))), QStringList{QStringLiteral("movie-1.jpg")});
}

// ---- write options ----

TEST_F(Extract, WriteOptionsStartOffAndAreRemembered) {
    select({rowOf(kKindImage, 1)});
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("turn on", [this](KSelectFolderDlg* d) {
            EXPECT_FALSE(d->originalJpegBox()->isChecked());
            EXPECT_FALSE(d->premultipliedAlphaBox()->isChecked());
            d->originalJpegBox()->setChecked(true);
            d->premultipliedAlphaBox()->setChecked(true);
            extractTo(in(QStringLiteral("out")))(d);
        });
        extract();
    }
    // Kept over a restart of the program; Cancel keeps what was stored.
    finish();
    start({movie_});
    select({rowOf(kKindImage, 1)});
    {
        ModalScript script;
        script.on<KSelectFolderDlg>("shown on", [](KSelectFolderDlg* d) {
            EXPECT_TRUE(d->originalJpegBox()->isChecked());
            EXPECT_TRUE(d->premultipliedAlphaBox()->isChecked());
            d->premultipliedAlphaBox()->setChecked(false);
            d->reject();
        });
        extract();
    }
    EXPECT_TRUE(readExtractOptions().originalJpeg);
    EXPECT_TRUE(readExtractOptions().premultipliedAlpha);
}

TEST_F(Extract, WriteOptionsReachTheWriter) {
    const int jpeg = rowOf(kKindImage, 1);
    const auto& image = static_cast<const SWFImage&>(doc().resource(jpeg));
    ASSERT_FALSE(image.originalJpeg.empty());
    const QByteArray original(reinterpret_cast<const char*>(image.originalJpeg.data()),
                              qsizetype(image.originalJpeg.size()));
    int premultiplied = -1;
    for (int i = 0; i < doc().count(); ++i) {
        const auto* candidate = dynamic_cast<const SWFImage*>(&doc().resource(i));
        if (candidate && candidate->premultiplied && candidate->payload && candidate->payload->hasAlpha())
            premultiplied = i;
    }
    ASSERT_GE(premultiplied, 0);
    select({jpeg, premultiplied});
    auto run = [this](const QString& folder, bool on) {
        ModalScript script;
        script.on<KSelectFolderDlg>("folder", [folder, on](KSelectFolderDlg* d) {
            d->originalJpegBox()->setChecked(on);
            d->premultipliedAlphaBox()->setChecked(on);
            extractTo(folder)(d);
        });
        extract();
    };
    run(in(QStringLiteral("plain")), false);
    run(in(QStringLiteral("options")), true);

    EXPECT_EQ(bytesOf(in(QStringLiteral("options/movie-1.jpg"))), original);
    EXPECT_NE(bytesOf(in(QStringLiteral("plain/movie-1.jpg"))), original);
    const QString png = QLatin1Char('/') + fileName(premultiplied);
    EXPECT_EQ(bytesOf(in(QStringLiteral("options")) + png), reference(premultiplied, WriteOptions{false, true}));
    EXPECT_EQ(bytesOf(in(QStringLiteral("plain")) + png), reference(premultiplied));
    EXPECT_NE(bytesOf(in(QStringLiteral("options")) + png), bytesOf(in(QStringLiteral("plain")) + png));
}

}  // namespace
}  // namespace kestrel
