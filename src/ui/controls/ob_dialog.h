// Base of the library's dialogs: gives the UI font to every child when the
// library's dialog-font option is on, and lifts the wait cursor while the
// dialog runs.
#pragma once

#include <QDialog>

namespace kestrel {

class OBCDialog : public QDialog {
    Q_OBJECT
public:
    explicit OBCDialog(QWidget* parent);
    int exec() override;

protected:
    // Call once the children exist.
    void applyLibraryFont();
};

}  // namespace kestrel
