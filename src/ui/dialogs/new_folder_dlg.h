// "New Folder": creates a folder inside the current folder and makes it
// the current folder.
#pragma once

#include <QString>

#include "ui/controls/ob_dialog.h"

class QLabel;
class QLineEdit;

namespace kestrel {

class KNewFolderDlg : public OBCDialog {
    Q_OBJECT
public:
    explicit KNewFolderDlg(QWidget* parent);

    // The folder the new one goes into, as shown.
    QString folderText() const;
    QLabel* folderLabel() const { return folder_; }
    QLineEdit* nameEdit() const { return name_; }

    // Why a folder name is refused, or an empty text when it may be used.
    static QString nameProblem(const QString& name);

public slots:
    void accept() override;

private:
    void showCurrentFolder();

    QLabel* folder_ = nullptr;
    QLineEdit* name_ = nullptr;
};

}  // namespace kestrel
