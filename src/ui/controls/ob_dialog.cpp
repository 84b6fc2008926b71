#include "ui/controls/ob_dialog.h"

#include "ui/controls/control_library.h"

namespace kestrel {

OBCDialog::OBCDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
}

void OBCDialog::applyLibraryFont() {
    if (!ControlLibrary::options().dialogFont) return;
    const QFont font = ControlLibrary::uiFont();
    setFont(font);
    for (QWidget* child : findChildren<QWidget*>()) child->setFont(font);
}

int OBCDialog::exec() {
    const CursorLift lift;
    return QDialog::exec();
}

}  // namespace kestrel
