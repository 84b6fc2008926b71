#include "ui/controls/status_bar_progress.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QProgressBar>

#include "ui/controls/status_bar.h"

namespace kestrel {

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::InputMethod: return true;
        default: return false;
    }
}

// Installed on the application while events are let through: drops the
// user's input except what goes to the Cancel button, and takes Escape as
// a click on it.
class CancelGate : public QObject {
public:
    CancelGate(QPushButton* button, bool& cancelled) : button_(button), cancelled_(cancelled) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!isUserInput(event->type())) return false;
        // Window-level events are handed on to the widgets, and judged there.
        if (!watched->isWidgetType() && event->type() != QEvent::Shortcut) return false;
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancelled_ = true;
            return true;
        }
        // Accepted, a key is no shortcut: it comes back as a key press.
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        const bool mouse = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
                           event->type() == QEvent::MouseMove;
        if (mouse && button_ && watched == button_) return false;
        return true;
    }

private:
    QPointer<QPushButton> button_;
    bool& cancelled_;
};

}  // namespace

OBCStatusBarProgress::OBCStatusBarProgress(QMainWindow* window) : window_(window) {}

OBCStatusBarProgress::~OBCStatusBarProgress() {
    if (statusBar_) statusBar_->removeEventFilter(this);
    delete cancel_;
    delete bar_;
}

void OBCStatusBarProgress::processEvents() {
    if (!cancel_) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    CancelGate gate(cancel_, cancelRequested_);
    qApp->installEventFilter(&gate);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    qApp->removeEventFilter(&gate);
}

bool OBCStatusBarProgress::create(const QString& text, int width, int range, bool smooth, int pane, bool cancellable) {
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
    cancelRequested_ = false;
    if (cancellable) {
        cancel_ = new QPushButton(QStringLiteral("Cancel"), statusBar_);
        cancel_->setObjectName(QStringLiteral("cancelButton"));
        cancel_->setFocusPolicy(Qt::NoFocus);
        connect(cancel_, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });
        cancel_->show();
    }
    statusBar_->installEventFilter(this);
    layout();
    bar_->show();
    return true;
}

void OBCStatusBarProgress::layout() {
    if (!bar_ || !statusBar_) return;
    const QRect rect = statusBar_->paneRect(pane_);
    // A long text (a file name) gives up its middle rather than the bar.
    const QFontMetrics metrics(statusBar_->font());
    const QString shown = metrics.horizontalAdvance(text_) > rect.width() / 2
                              ? metrics.elidedText(text_, Qt::ElideMiddle, rect.width() / 2)
                              : text_;
    statusBar_->setPaneText(pane_, shown);
    int left = rect.left() + 2;
    if (!shown.isEmpty()) left += metrics.horizontalAdvance(shown) + 4 * metrics.horizontalAdvance(QLatin1Char(' '));
    int right = rect.right();
    if (cancel_) {
        const int buttonWidth = cancel_->sizeHint().width();
        cancel_->setGeometry(right - buttonWidth + 1, rect.top(), buttonWidth, rect.height());
        right -= buttonWidth + 4;
    }
    // A negative width follows the pane: the rest of it.
    const int width = width_ < 0 ? right - left : width_;
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
    delete cancel_;
    if (statusBar_) {
        statusBar_->removeEventFilter(this);
        statusBar_->setPaneText(pane_, pane_ == 0 ? QString::fromLatin1(kReadyText) : savedText_);
        statusBar_->update();
    }
    delete bar_;
}

bool OBCStatusBarProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusBar_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) layout();
    return QObject::eventFilter(watched, event);
}

}  // namespace kestrel
