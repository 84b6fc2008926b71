#include "ui/preview/pict_view.h"

#include <QFileInfo>
#include <QPainter>

#include "document/swf_document.h"
#include "ui/controls/control_library.h"
#include "ui/controls/text_fit.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/texts.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"

namespace kestrel {

namespace {

QFont panelFont(int points, bool bold) {
    QFont font(QStringLiteral("Verdana"), points, bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

KSPictView::KSPictView(KSMainFrame* frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    banner_ = QPixmap::fromImage(artwork::load(QString::fromLatin1(artwork::kBanner)));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool KSPictView::showFocusedItem() {
    const SWFDocument* document = frame_->document();
    if (!document) {
        shown_ = nullptr;
        return false;
    }
    const KSListCtrl* list = frame_->listCtrl();
    if (!list || list->itemCount() == 0) return false;
    const int focused = list->focusedItem();
    if (focused < 0 || focused >= document->count()) return false;
    const SWFRes* record = &document->resource(focused);
    if (record == shown_) return true;
    shown_ = record;
    repaint();
    return true;
}

void KSPictView::clear() { shown_ = nullptr; }

void KSPictView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.drawPixmap(0, 0, banner_);
    painter.fillRect(QRect(0, 82, width(), 1), QColor(206, 206, 206));
    painter.setPen(Qt::black);

    const QFont textFont = panelFont(8, false);
    const QRect textArea(15, 111, std::max(width() - 15, 0), std::max(height() - 111, 0));
    const SWFDocument* document = frame_->document();
    const KSChildView* child = frame_->childView();
    if (!document || !child) {
        painter.setFont(textFont);
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop, QString::fromLatin1(text::kNoFileOpen));
        return;
    }

    const QFont heading = panelFont(16, true);
    painter.setFont(heading);
    const QFontMetrics headingMetrics(heading);
    const QString name = shortenText(headingMetrics, QFileInfo(child->path()).fileName(), width() - 34);
    painter.drawText(QRect(15, 77 - headingMetrics.height(), std::max(width() - 15, 0), headingMetrics.height()),
                     Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, name);

    painter.setFont(textFont);
    if (!shown_) {
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop,
                         QString::fromLatin1(document->count() > 0 ? text::kSelectAnItem : text::kNoResourceInFile));
        return;
    }
    // The description of the shown resource (type, format, dimension,
    // size and its picture) is drawn here with the image preview work.
}

}  // namespace kestrel
