// The about box: the program's artwork with its version over it.
#pragma once

#include <QImage>

#include "ui/controls/ob_dialog.h"

namespace kestrel {

class KSAboutDlg : public OBCDialog {
    Q_OBJECT
public:
    explicit KSAboutDlg(QWidget* parent);
    static QString versionText();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage picture_;
};

}  // namespace kestrel
