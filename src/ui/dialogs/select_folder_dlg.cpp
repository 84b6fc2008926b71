#include "ui/dialogs/select_folder_dlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

#include "base/path.h"
#include "document/extract.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"
#include "ui/dialogs/new_folder_dlg.h"

namespace kestrel {

namespace {
const QString kLastFolderKey = QStringLiteral("Extract/LastFolder");
}

QString& lastExtractFolder() {
    // The last run's choice until this run makes one.
    static QString folder = QSettings().value(kLastFolderKey).toString();
    return folder;
}

QString KSelectFolderDlg::resolveFolderText(const QString& text, const QString& movieFolder) {
    if (text == QStringLiteral("~") || text.startsWith(QStringLiteral("~/"))) return QDir::homePath() + text.mid(1);
    if (!text.isEmpty() && QDir::isRelativePath(text) && !movieFolder.isEmpty())
        return QDir::cleanPath(QDir(movieFolder).filePath(text));
    return text;
}

QString KSelectFolderDlg::folderOf(const QString& swfPath) {
    if (swfPath.isEmpty()) return {};
    // A path opened relative to the working folder would give a relative
    // proposal, which extraction refuses.
    const std::string absolute = QFile::encodeName(QFileInfo(swfPath).absoluteFilePath()).toStdString();
    const PathParts parts = splitPath(absolute);
    std::string folder = parts.drive + parts.folder;
    if (parts.folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return QFile::decodeName(QByteArray::fromStdString(folder));
}

KSelectFolderDlg::KSelectFolderDlg(QWidget* parent, const QString& swfPath, bool hasSelection,
                                   const WriteOptions& options)
    : OBCDialog(parent) {
    setWindowTitle(QStringLiteral("Select Extract Directory"));
    const DialogUnits du(font());
    auto place = [&du](QWidget* w, double x, double y, double width, double height) {
        w->setGeometry(du.x(x), du.y(y), du.x(width), du.y(height));
    };

    auto* label = new QLabel(QStringLiteral("E&xtract to:"), this);
    place(label, 7, 7, 140, 9);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("folderEdit"));
    label->setBuddy(edit_);
    place(edit_, 7, 18, 140, 12);
    browse_ = new QPushButton(QStringLiteral("&Browse..."), this);
    browse_->setAutoDefault(false);
    place(browse_, 151, 17, 48, 14);

    auto* group = new QGroupBox(QStringLiteral("Resources"), this);
    place(group, 7, 36, 192, 42);
    selected_ = new QRadioButton(QStringLiteral("&Selected Resources"), group);
    all_ = new QRadioButton(QStringLiteral("&All Resources"), group);
    selected_->setGeometry(du.x(8), du.y(12), du.x(176), du.y(10));
    all_->setGeometry(du.x(8), du.y(26), du.x(176), du.y(10));

    originalJpeg_ = new QCheckBox(QStringLiteral("Keep original &JPEG data"), this);
    place(originalJpeg_, 9, 84, 190, 10);
    premultipliedAlpha_ = new QCheckBox(QStringLiteral("Write &premultiplied alpha in PNG files"), this);
    place(premultipliedAlpha_, 9, 97, 190, 10);
    symbolNames_ = new QCheckBox(QStringLiteral("Name files after their s&ymbols"), this);
    place(symbolNames_, 9, 110, 190, 10);
    originalJpeg_->setChecked(options.originalJpeg);
    premultipliedAlpha_->setChecked(options.premultipliedAlpha);
    symbolNames_->setChecked(options.naming == FileNaming::Symbol);

    extract_ = new QPushButton(QStringLiteral("Extract"), this);
    extract_->setDefault(true);
    place(extract_, 207, 7, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    place(cancel, 207, 24, 50, 14);
    newFolder_ = new QPushButton(QStringLiteral("&New Folder"), this);
    newFolder_->setAutoDefault(false);
    place(newFolder_, 207, 48, 50, 14);
    help_ = new QPushButton(QStringLiteral("&Help"), this);
    help_->setAutoDefault(false);
    place(help_, 207, 65, 50, 14);

    connect(extract_, &QPushButton::clicked, this, &KSelectFolderDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(browse_, &QPushButton::clicked, this, &KSelectFolderDlg::browse);
    connect(newFolder_, &QPushButton::clicked, this, &KSelectFolderDlg::newFolder);
    connect(help_, &QPushButton::clicked, this, &KSelectFolderDlg::helpRequested);

    selected_->setEnabled(hasSelection);
    (hasSelection ? selected_ : all_)->setChecked(true);

    movieFolder_ = folderOf(swfPath);
    if (lastExtractFolder().isEmpty()) {
        proposed_ = folderOf(swfPath);
        folder_ = proposed_;
    } else {
        folder_ = lastExtractFolder();
    }
    applyLibraryFont();
    setFixedSize(du.x(264), du.y(127));
    showFolder();
}

void KSelectFolderDlg::showFolder() {
    edit_->setText(folder_);
    edit_->selectAll();
    edit_->setFocus();
}

WriteOptions KSelectFolderDlg::options() const {
    WriteOptions options;
    options.originalJpeg = originalJpeg_->isChecked();
    options.premultipliedAlpha = premultipliedAlpha_->isChecked();
    options.naming = symbolNames_->isChecked() ? FileNaming::Symbol : FileNaming::TitleNumber;
    return options;
}

void KSelectFolderDlg::browse() {
    QString start = edit_->text();
    if (!QFileInfo(start).isDir()) start = QFile::decodeName(QByteArray::fromStdString(currentFolder()));
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Please select folder for extraction"), start, QFileDialog::Options());
    if (chosen.isEmpty()) return;
    // The choice becomes the current folder; what is not a folder leaves
    // the current folder as it was.
    if (QFileInfo(chosen).isDir()) setCurrentFolder(QFile::encodeName(chosen).toStdString());
    folder_ = QFile::decodeName(QByteArray::fromStdString(currentFolder()));
    showFolder();
}

void KSelectFolderDlg::newFolder() {
    KNewFolderDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    folder_ = QFile::decodeName(QByteArray::fromStdString(currentFolder()));
    showFolder();
}

void KSelectFolderDlg::accept() {
    const QString folder = resolveFolderText(edit_->text(), movieFolder_);
    // A file in the way is named here, and the dialog keeps the text.
    if (QFileInfo(folder).exists() && !QFileInfo(folder).isDir()) {
        showMessage(this, folder + QStringLiteral(" is a file, not a folder."), kMbOk | kMbIconStop);
        edit_->setFocus();
        return;
    }
    // The folder is made now: a refusal is explained here and the dialog
    // keeps the text for a correction.
    std::string error;
    if (!createPath(cleanFolderText(QFile::encodeName(folder).toStdString()), error)) {
        showMessage(this, QFile::decodeName(QByteArray::fromStdString(text::kCouldNotExtract + error)),
                    kMbOk | kMbIconStop);
        edit_->setFocus();
        return;
    }
    folder_ = folder;
    selectedOnly_ = selected_->isChecked();
    if (folder_ != proposed_) {
        lastExtractFolder() = folder_;
        QSettings().setValue(kLastFolderKey, folder_);
    }
    OBCDialog::accept();
}

}  // namespace kestrel
