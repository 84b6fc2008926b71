#include "ui/dialogs/new_folder_dlg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "document/extract.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"

namespace kestrel {

namespace {

const char* const kBadCharacters = "A folder name can not contain \"/\".";
const char* const kBadName = "Invalid folder name or path";
const char* const kCreated = "%1 has been successfully created.\n";
const char* const kNote =
    "Note: You can create a folder automatically by\ntyping the name in the \"Extract To\" field of the\n"
    "Extract dialog box";

QString currentFolderText() { return QFile::decodeName(QByteArray::fromStdString(currentFolder())); }

// The deepest folder of `path` that exists.
QString deepestExisting(QString path) {
    path = QDir::cleanPath(path);
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        path = slash > 0 ? path.left(slash) : slash == 0 ? QStringLiteral("/") : QString();
    }
    return path;
}

}  // namespace

KNewFolderDlg::KNewFolderDlg(QWidget* parent) : OBCDialog(parent) {
    setWindowTitle(QStringLiteral("New Folder"));
    const DialogUnits du(font());
    auto place = [&du](QWidget* w, double x, double y, double width, double height) {
        w->setGeometry(du.x(x), du.y(y), du.x(width), du.y(height));
    };

    place(new QLabel(QStringLiteral("Current folder:"), this), 7, 7, 150, 9);
    folder_ = new QLabel(QStringLiteral("/"), this);
    folder_->setObjectName(QStringLiteral("currentFolder"));
    place(folder_, 7, 18, 150, 9);
    auto* label = new QLabel(QStringLiteral("&Name"), this);
    place(label, 7, 33, 150, 9);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("nameEdit"));
    label->setBuddy(name_);
    place(name_, 7, 44, 150, 12);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    place(ok, 165, 7, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    place(cancel, 165, 24, 50, 14);
    auto* note = new QLabel(QString::fromLatin1(kNote), this);
    note->setObjectName(QStringLiteral("note"));
    place(note, 7, 64, 208, 28);

    connect(ok, &QPushButton::clicked, this, &KNewFolderDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    applyLibraryFont();
    setFixedSize(du.x(222), du.y(98));
    showCurrentFolder();
    name_->setFocus();
}

QString KNewFolderDlg::folderText() const { return folder_->text(); }

void KNewFolderDlg::showCurrentFolder() {
    const QString folder = currentFolderText();
    folder_->setText(folder.isEmpty() ? QStringLiteral("/") : folder);
    folder_->setToolTip(folder_->text());
}

QString KNewFolderDlg::nameProblem(const QString& name) {
    // Only what the file system refuses: a separator, NUL, "." and "..".
    if (name.contains(QLatin1Char('/'))) return QString::fromLatin1(kBadCharacters);
    if (name.contains(QChar(0)) || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QString::fromLatin1(kBadName);
    return {};
}

void KNewFolderDlg::accept() {
    const QString name = name_->text().trimmed();
    const QString problem = nameProblem(name);
    if (!problem.isEmpty()) {
        showMessage(this, problem, kMbOk | kMbIconStop);
        name_->setFocus();
        return;
    }
    QString path = folderText();
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    path += name;

    const QString existing = deepestExisting(path);
    std::string error;
    if (createPath(QFile::encodeName(path).toStdString(), error)) {
        OBCDialog::accept();
        return;
    }
    // The folder shown becomes the deepest one reached. It is reported as
    // created only when it did not exist before.
    showCurrentFolder();
    QString message;
    if (QDir::cleanPath(folderText()) != existing) message = QString::fromLatin1(kCreated).arg(folderText());
    message += QFile::decodeName(QByteArray::fromStdString(error));
    showMessage(this, message, kMbOk | kMbIconStop);
    name_->clear();
    name_->setFocus();
}

}  // namespace kestrel
