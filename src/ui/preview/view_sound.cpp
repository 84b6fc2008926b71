#include "ui/preview/view_sound.h"

#include <QCoreApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <limits>

#include "document/swf_res.h"
#include "ui/controls/control_library.h"
#include "ui/preview/preview_art.h"
#include "ui/preview/view_image.h"

namespace kestrel {

namespace {

constexpr int kTextTop = 6;
constexpr int kTextLimit = 1000;
const QColor kTextColour(156, 156, 255);

// The icon's width plus the space on either side of it.
int textLeft(int iconWidth) { return iconWidth + 20; }

}  // namespace

KSViewSound::KSViewSound(const SWFSound& sound, QWidget* parent, std::optional<QPoint> anchor)
    : QDialog(parent), resource_(sound) {
    setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    setModal(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoMouseReplay);

    font_ = QFont(QStringLiteral("Verdana"), 18, QFont::Bold);
    font_.setStyleHint(QFont::SansSerif, QFont::PreferQuality);
    icon_ = artwork::load(QString::fromLatin1(artwork::kSoundPicture));

    // Sized for the duration shown against itself, the widest text there is.
    const WaitCursor wait;
    const QFontMetrics metrics(font_);
    const int left = textLeft(icon_.width());
    const QSize text = metrics
                           .boundingRect(QRect(left, kTextTop, kTextLimit - left, kTextLimit - kTextTop),
                                         Qt::AlignLeft | Qt::AlignTop, timeText())
                           .size();
    const QPoint cursor = anchor.value_or(QCursor::pos());
    const QRect window = placeWindow(text, icon_.width(), cursor, workAreaAt(cursor), preview_art::kDialogFrame);
    setGeometry(window);
    setFixedSize(window.size());

    notifier_ = std::make_shared<OBAudioNotifier>();
    // Runs on the audio thread: hand the finished buffers to this thread.
    // The application object outlives every preview, and the notifier is
    // only reached while someone still holds it.
    notifier_->SetHook([weak = std::weak_ptr<OBAudioNotifier>(notifier_)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak] {
                if (const AudioNotifierPtr notifier = weak.lock()) notifier->ReleaseDoneBuffers();
            },
            Qt::QueuedConnection);
    });

    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &KSViewSound::tick);
    setCursor(preview_art::previewCursor());
}

KSViewSound::~KSViewSound() { stop(); }

QRect KSViewSound::placeWindow(const QSize& textSize, int iconWidth, const QPoint& cursor, const QRect& screen,
                               int frame) {
    const int w = textSize.width() + 10 + textLeft(iconWidth) + 2 * frame;
    const int h = textSize.height() + 12 + 2 * frame;
    int x = cursor.x() - w / 2;
    int y = cursor.y() - h + 2;
    x = std::max(std::min(std::max(x, screen.left()), screen.left() + screen.width() - w), screen.left());
    y = std::max(std::min(std::max(y, screen.top()), screen.top() + screen.height() - h), screen.top());
    return {x, y, w, h};
}

std::uint32_t KSViewSound::elapsedMs() const {
    // Before playing, the clock reads far past the end: the duration shows.
    if (!started_) return std::numeric_limits<std::uint32_t>::max();
    return std::uint32_t(clock_.elapsed());
}

QString KSViewSound::timeText() const {
    return QString::fromStdString(
        PreviewTimeText(PreviewShownTime(elapsedMs(), resource_.durationMs), resource_.durationMs));
}

QRect KSViewSound::textRect() const {
    const int f = preview_art::kDialogFrame;
    const int left = textLeft(icon_.width());
    return {f + left, f + kTextTop, kTextLimit - left, kTextLimit - kTextTop};
}

void KSViewSound::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!started_) start();
}

void KSViewSound::start() {
    {
        const WaitCursor wait;
        player_ = std::make_unique<KSSoundPlayer>();
        // A sound that cannot be played stays silent; the time still runs.
        player_->Play(resource_.payload.get(), notifier_);
        clock_.start();
        started_ = true;
    }
    timer_.start();
}

void KSViewSound::tick() {
    if (PreviewFinished(elapsedMs(), resource_.durationMs)) {
        cancel();
        return;
    }
    update();
}

void KSViewSound::stop() {
    timer_.stop();
    if (player_) player_->Stop();
    if (notifier_) notifier_->SetHook({});
}

void KSViewSound::cancel() { done(QDialog::Accepted); }

void KSViewSound::done(int result) {
    stop();
    QDialog::done(result);
}

void KSViewSound::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int f = preview_art::kDialogFrame;
    const QRect client = rect().adjusted(f, f, -f, -f);
    painter.fillRect(client, Qt::white);
    preview_art::drawDialogFrame(painter, rect(), palette());
    painter.setClipRect(client);
    painter.setFont(font_);
    painter.setPen(kTextColour);
    painter.drawText(textRect(), Qt::AlignLeft | Qt::AlignTop, timeText());
    painter.drawImage(f + 10, f + std::max(0, (client.height() - icon_.height()) / 2), icon_);
}

void KSViewSound::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) cancel();
}

void KSViewSound::keyPressEvent(QKeyEvent* event) {
    event->accept();
    releaseMouse();
    cancel();
}

}  // namespace kestrel
