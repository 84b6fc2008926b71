#include "ui/controls/status_bar_progress.h"

#include <QEvent>
#include <QMainWindow>
#include <QProgressBar>

#include "ui/controls/status_bar.h"
#include "ui/frame/texts.h"

namespace kestrel {

OBCStatusBarProgress::OBCStatusBarProgress(QMainWindow* window) : window_(window) {}

OBCStatusBarProgress::~OBCStatusBarProgress() {
    if (statusBar_) statusBar_->removeEventFilter(this);
    delete bar_;
}

bool OBCStatusBarProgress::create(const QString& text, int width, int range, bool smooth, int pane) {
    if (!window_) return false;
    statusBar_ = window_->findChild<OBCStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (!statusBar_ || !statusBar_->pane(pane)) return false;
    text_ = text;
    pane_ = pane;
    savedText_ = statusBar_->paneText(pane);
    width_ = width;
    bar_ = new QProgressBar(statusBar_);
    bar_->setRange(0, range);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    if (!smooth) bar_->setProperty("blocks", true);
    statusBar_->installEventFilter(this);
    layout();
    bar_->show();
    return true;
}

void OBCStatusBarProgress::layout() {
    if (!bar_ || !statusBar_) return;
    statusBar_->setPaneText(pane_, text_);
    const QRect rect = statusBar_->paneRect(pane_);
    int left = rect.left() + 2;
    if (!text_.isEmpty()) {
        const QFontMetrics metrics(statusBar_->font());
        left += metrics.horizontalAdvance(text_) + 4 * metrics.horizontalAdvance(QLatin1Char(' '));
    }
    // A negative width follows the pane: its width less 3.
    const int width = width_ < 0 ? rect.width() - 3 : width_;
    const int inset = (rect.height() - 1) / 10;
    bar_->setGeometry(left, rect.top() + inset, std::max(width, 0), std::max(rect.height() - 2 * inset - 1, 1));
}

void OBCStatusBarProgress::setPosition(int position) {
    if (!bar_) return;
    if (bar_->isHidden()) bar_->show();
    bar_->setValue(position);
}

void OBCStatusBarProgress::remove() {
    if (!bar_) return;
    bar_->hide();
    if (statusBar_) {
        statusBar_->removeEventFilter(this);
        statusBar_->setPaneText(pane_, pane_ == 0 ? QString::fromLatin1(text::kReady) : savedText_);
        statusBar_->update();
    }
    delete bar_;
}

bool OBCStatusBarProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusBar_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) layout();
    return QObject::eventFilter(watched, event);
}

}  // namespace kestrel
