#include "ui/list/main_view.h"

#include <QResizeEvent>

#include "ui/list/child_view.h"
#include "ui/preview/pict_view.h"

namespace kestrel {

KSMainView::KSMainView(QWidget* parent, ListHost* host, PictViewSource* source) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // The picture panel is made first: the list pane asks it to follow the
    // focused item from its first notification on.
    pictView_ = new KSPictView(source, this);
    pictView_->setObjectName(QStringLiteral("pictView"));
    childView_ = new KSChildView(host, this);
    childView_->setObjectName(QStringLiteral("childView"));
    setFocusProxy(childView_);
}

void KSMainView::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layoutPanes();
}

void KSMainView::layoutPanes() {
    const QRect area = contentsRect();
    const int w = area.width();
    const int h = area.height();
    if (w <= 0 || h <= 0) return;
    const int c = w / 3;
    if (c < kSplitThreshold) {
        pictView_->hide();
        pictureVisible_ = false;
        childView_->setGeometry(area);
        return;
    }
    if (!pictureVisible_ || pictView_->isHidden()) {
        pictView_->show();
        pictureVisible_ = true;
    }
    childView_->setGeometry(area.x() + c, area.y(), w - c, h);
    pictView_->setGeometry(area.x(), area.y(), c, h);
}

}  // namespace kestrel
