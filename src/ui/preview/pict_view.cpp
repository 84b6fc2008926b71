#include "ui/preview/pict_view.h"

#include <QFileInfo>
#include <QPainter>

#include "document/swf_document.h"
#include "ui/controls/control_library.h"
#include "ui/controls/text_fit.h"
#include "ui/controls/texts.h"
#include "ui/preview/play_button.h"
#include "ui/preview/preview_art.h"

namespace kestrel {

namespace {

QFont panelFont(int points, bool bold) {
    QFont font(QStringLiteral("Verdana"), points, bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

bool isStereoSound(const SWFRes& record) {
    const auto* sound = dynamic_cast<const SWFSound*>(&record);
    return sound && sound->payload && sound->payload->stereo;
}

}  // namespace

KSPictView::KSPictView(PictViewSource* source, QWidget* parent)
    : QWidget(parent), source_(source), headingFont_(panelFont(16, true)), textFont_(panelFont(8, false)),
      labelFont_(panelFont(8, true)) {
    const QImage banner = artwork::load(QString::fromLatin1(artwork::kBanner));
    banner_ = artwork::cellIcon(banner, artwork::load(QString::fromLatin1(artwork::kBanner2x)), 0, banner.width())
                  .pixmap(banner.size(), devicePixelRatioF());
    monoPicture_ = QPixmap::fromImage(preview_art::soundPicture(false));
    stereoPicture_ = QPixmap::fromImage(preview_art::soundPicture(true));
    setAttribute(Qt::WA_OpaquePaintEvent);

    play_ = new KSPlayButton(this);
    play_->setObjectName(QStringLiteral("playButton"));
    play_->hide();
    connect(play_, &QPushButton::clicked, this, [this] { source_->panelPlay(); });
}

QString KSPictView::typeName(const SWFRes& record) {
    const std::string extension = record.extension();
    if (extension == ".jpg") return QStringLiteral("JPEG Image");
    if (extension == ".png") return QStringLiteral("PNG Image");
    if (extension == ".mp3") return QStringLiteral("MP3 Sound");
    if (extension == ".wav") return QStringLiteral("WAV Sound");
    if (extension == ".flv") return QStringLiteral("FLV Video");
    return QStringLiteral("Unknown Resource");
}

QStringList KSPictView::detailLines(const SWFRes& record) {
    const bool sound = record.kind == kKindSound;
    return {QStringLiteral("Format:"),
            QString::fromStdString(record.detailText),
            QString(),
            sound                       ? QStringLiteral("Duration:")
            : record.kind == kKindVideo ? QStringLiteral("Frames:")
                                        : QStringLiteral("Dimension:"),
            QString::fromStdString(record.sizeText),
            QString(),
            QStringLiteral("Size:"),
            QString::fromStdString(record.memoryText),
            QString()};
}

bool KSPictView::showFocusedItem() {
    const SWFDocument* document = source_->panelDocument();
    if (!document) {
        shown_ = nullptr;
        return false;
    }
    if (source_->panelItemCount() == 0) return false;
    const int focused = source_->panelFocusedItem();
    if (focused < 0 || focused >= document->count()) return false;
    const SWFRes* record = &document->resource(focused);
    if (record == shown_) return true;
    shown_ = record;
    // The button keeps the place it was first given.
    play_->setVisible(record->kind == kKindSound && playPlaced_);
    repaint();
    return true;
}

void KSPictView::clear() { shown_ = nullptr; }

void KSPictView::paintEvent(QPaintEvent*) {
    // Drawn off-screen first, then copied in one piece.
    QPixmap buffer(size() * devicePixelRatioF());
    buffer.setDevicePixelRatio(devicePixelRatioF());
    {
        QPainter painter(&buffer);
        paintPanel(painter);
    }
    QPainter(this).drawPixmap(0, 0, buffer);
}

void KSPictView::paintPanel(QPainter& painter) {
    pictureRect_ = QRect();
    painter.fillRect(rect(), Qt::white);
    painter.drawPixmap(0, 0, banner_);
    painter.fillRect(QRect(0, kBannerLine, width(), 1), QColor(206, 206, 206));
    painter.setPen(Qt::black);

    const QRect textArea(kLeft, kTextTop, std::max(width() - kLeft, 0), std::max(height() - kTextTop, 0));
    const SWFDocument* document = source_->panelDocument();
    if (!document) {
        painter.setFont(textFont_);
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop, QString::fromLatin1(text::kNoFileOpen));
        play_->hide();
        return;
    }

    painter.setFont(headingFont_);
    const QFontMetrics headingMetrics(headingFont_);
    // A long name keeps its start and its end.
    const QString name =
        headingMetrics.elidedText(QFileInfo(source_->panelPath()).fileName(), Qt::ElideMiddle, width() - 34);
    painter.drawText(
        QRect(kLeft, kHeadingBottom - headingMetrics.height(), std::max(width() - kLeft, 0), headingMetrics.height()),
        Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, name);

    if (!shown_) {
        painter.setFont(textFont_);
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop,
                         QString::fromLatin1(document->count() > 0 ? text::kSelectAnItem : text::kNoResourceInFile));
        return;
    }
    paintResource(painter);
}

void KSPictView::paintResource(QPainter& painter) {
    const SWFRes& record = *shown_;

    // Type name in the label font beside the small icon.
    const QFontMetrics labelMetrics(labelFont_);
    const int labelHeight = labelMetrics.height();
    painter.setFont(labelFont_);
    const int nameLeft = kLeft + kSmallIconWidth;
    painter.drawText(QRect(nameLeft, kLabelBottom - labelHeight, std::max(width() - nameLeft, 0), labelHeight),
                     Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, typeName(record));
    if (const QPixmap* icon = source_->panelSmallIcon(record.smallIconIndex))
        painter.drawPixmap(kLeft, 123 - labelHeight, *icon);

    // The details, one line below the other.
    painter.setFont(textFont_);
    const QFontMetrics metrics(textFont_);
    const int lineWidth = std::max(width() - kLeft, 0);
    int y = kLabelBottom + labelHeight;
    auto line = [&](const QString& text) {
        const int h = metrics.height();
        if (!text.isEmpty())
            painter.drawText(QRect(kLeft, y, lineWidth, h), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                             shortenText(metrics, text, lineWidth));
        y += h;
    };
    for (const QString& text : detailLines(record)) line(text);
    const bool sound = record.kind == kKindSound;

    // The thumbnail of an image, the sound picture of a sound.
    if (!sound) {
        if (const QPixmap* thumbnail = source_->panelLargeIcon(record.largeIconIndex)) {
            painter.drawPixmap(kLeft, y, *thumbnail);
            pictureRect_ = QRect(QPoint(kLeft, y), thumbnail->size());
        }
        return;
    }
    const QPixmap& picture = isStereoSound(record) ? stereoPicture_ : monoPicture_;
    painter.drawPixmap(kLeft, y, picture);
    pictureRect_ = QRect(QPoint(kLeft, y), picture.size());
    if (!playPlaced_) {
        play_->setGeometry(17, y + preview_art::kSoundPictureSize + 5, 32, 20);
        play_->show();
        playPlaced_ = true;
    }
}

}  // namespace kestrel
