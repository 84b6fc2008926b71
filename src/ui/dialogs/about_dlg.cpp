#include "ui/dialogs/about_dlg.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/controls/control_library.h"
#include "ui/controls/texts.h"

namespace kestrel {

KSAboutDlg::KSAboutDlg(QWidget* parent) : OBCDialog(parent) {
    setWindowTitle(QStringLiteral("About Kestrel"));
    picture_ = artwork::load(QString::fromLatin1(artwork::kAbout));
    setFixedSize(picture_.isNull() ? QSize(452, 239) : picture_.size());
}

QString KSAboutDlg::versionText() { return QString::fromLatin1(text::kVersionFormat).arg(2).arg(4); }

void KSAboutDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (picture_.isNull())
        painter.fillRect(rect(), Qt::white);
    else
        painter.drawImage(0, 0, picture_);
    QFont font(QStringLiteral("Tahoma"), 8);
    font.setStyleHint(QFont::SansSerif);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(20, 94), QPoint(419, 493)), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     versionText());
}

void KSAboutDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) accept();
}

}  // namespace kestrel
