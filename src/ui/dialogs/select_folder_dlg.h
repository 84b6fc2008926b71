// "Select Extract Directory": where the Extract command writes, which
// resources it writes and how. The folder last typed by the user is
// remembered in `lastExtractFolder`, across runs too.
#pragma once

#include <QString>

#include "document/swf_res.h"
#include "ui/controls/ob_dialog.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

// The "Extract to" text the user last confirmed, when it was not the
// dialog's own proposal. Empty at start; never saved.
QString& lastExtractFolder();

class KSelectFolderDlg : public OBCDialog {
    Q_OBJECT
public:
    // `swfPath`: the open file, whose folder is proposed while
    // lastExtractFolder is empty. `hasSelection`: whether any resource is
    // selected in the list.
    KSelectFolderDlg(QWidget* parent, const QString& swfPath, bool hasSelection, const WriteOptions& options);

    // The folder of an SWF file's path without its final separator ("/" for
    // a file at the root); the path is made absolute first.
    static QString folderOf(const QString& swfPath);
    // The folder a typed text names: "~" and "~/…" in the home folder, a
    // relative path in `movieFolder`; other texts as they are.
    static QString resolveFolderText(const QString& text, const QString& movieFolder);

    const QString& folder() const { return folder_; }
    const QString& proposed() const { return proposed_; }
    bool selectedOnly() const { return selectedOnly_; }
    WriteOptions options() const;

    QLineEdit* folderEdit() const { return edit_; }
    QRadioButton* selectedButton() const { return selected_; }
    QRadioButton* allButton() const { return all_; }
    QCheckBox* originalJpegBox() const { return originalJpeg_; }
    QCheckBox* premultipliedAlphaBox() const { return premultipliedAlpha_; }
    QCheckBox* symbolNamesBox() const { return symbolNames_; }
    QPushButton* extractButton() const { return extract_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* newFolderButton() const { return newFolder_; }
    QPushButton* helpButton() const { return help_; }

signals:
    void helpRequested();

public slots:
    void accept() override;

private:
    void browse();
    void newFolder();
    void showFolder();

    QString folder_;
    QString proposed_;
    QString movieFolder_;
    bool selectedOnly_ = false;
    QLineEdit* edit_ = nullptr;
    QRadioButton* selected_ = nullptr;
    QRadioButton* all_ = nullptr;
    QCheckBox* originalJpeg_ = nullptr;
    QCheckBox* premultipliedAlpha_ = nullptr;
    QCheckBox* symbolNames_ = nullptr;
    QPushButton* extract_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* newFolder_ = nullptr;
    QPushButton* help_ = nullptr;
};

}  // namespace kestrel
