#include "ui/controls/status_bar.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace kestrel {

StatusPane::StatusPane(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void StatusPane::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void StatusPane::setIcon(const QPixmap& icon) {
    icon_ = icon;
    updateGeometry();
    update();
}

QSize StatusPane::sizeHint() const {
    const int h = std::max(fontMetrics().height(), icon_.isNull() ? 0 : iconSize().height()) + 2 * frameWidth() + 4;
    return {100, h};
}

QSize StatusPane::minimumSizeHint() const { return {0, sizeHint().height()}; }

void StatusPane::setElideMode(Qt::TextElideMode mode) {
    elide_ = mode;
    update();
}

QRect StatusPane::textArea() const {
    QRect area = contentsRect().adjusted(2, 0, -2, 0);
    if (!icon_.isNull()) area.setLeft(area.left() + iconSize().width() + 4);
    return area;
}

QString StatusPane::shownText() const { return fontMetrics().elidedText(text_, elide_, textArea().width()); }

void StatusPane::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = textArea();
    painter.setClipRect(contentsRect());
    if (!icon_.isNull()) {
        const int y = area.top() + (area.height() - iconSize().height()) / 2;
        painter.drawPixmap(area.left() - iconSize().width() - 4, y, icon_);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
}

OBCStatusBar::OBCStatusBar(QWidget* parent, const std::vector<int>& widths) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    auto* first = new StatusPane(this);
    addWidget(first, 1);
    panes_.push_back(first);
    for (int width : widths) {
        auto* pane = new StatusPane(this);
        pane->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        pane->setFixedWidth(width + 2 * pane->frameWidth() + 4);
        addPermanentWidget(pane, 0);
        panes_.push_back(pane);
    }
    // At least 20 pixels, and room for the panes below the bar's own top
    // spacing.
    setMinimumHeight(std::max(20, first->sizeHint().height() + 5));
}

StatusPane* OBCStatusBar::pane(int index) const {
    return index >= 0 && index < paneCount() ? panes_[std::size_t(index)] : nullptr;
}

QString OBCStatusBar::paneText(int index) const {
    if (index == 0 && prompting_) return savedPane0_;
    const StatusPane* p = pane(index);
    return p ? p->text() : QString();
}

void OBCStatusBar::setPaneText(int index, const QString& text) {
    if (index == 0 && prompting_) {
        savedPane0_ = text;
        return;
    }
    if (StatusPane* p = pane(index)) p->setText(text);
}

QRect OBCStatusBar::paneRect(int index) const {
    const StatusPane* p = pane(index);
    return p ? p->geometry() : QRect();
}

void OBCStatusBar::showPrompt(const QString& prompt) {
    if (!prompting_) {
        savedPane0_ = panes_.front()->text();
        prompting_ = true;
    }
    panes_.front()->setText(prompt);
}

void OBCStatusBar::clearPrompt() {
    if (!prompting_) return;
    prompting_ = false;
    panes_.front()->setText(savedPane0_);
}

}  // namespace kestrel
