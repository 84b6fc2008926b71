// The sound preview: a small borderless modal popup that plays one sound
// and shows the time played against its duration. It closes shortly after
// the duration has passed, or at once on any click or key.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QTimer>
#include <memory>
#include <optional>

#include "audio/sound_player.h"

namespace kestrel {

class SWFSound;

class KSViewSound : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 100;

    // Placed at `anchor` (global), by default the pointer.
    KSViewSound(const SWFSound& sound, QWidget* parent, std::optional<QPoint> anchor = std::nullopt);
    ~KSViewSound() override;

    // Where the window goes: its size from the measured text, centred on
    // the pointer with its bottom edge 2 pixels below it, kept inside
    // `screen`.
    static QRect placeWindow(const QSize& textSize, int iconWidth, const QPoint& cursor, const QRect& screen,
                             int frame);

    // The time display for the current clock.
    QString timeText() const;
    // Milliseconds since playing began (the duration before that).
    std::uint32_t elapsedMs() const;
    const KSSoundPlayer* player() const { return player_.get(); }
    bool playing() const { return started_; }
    // Where the text is drawn, in window coordinates.
    QRect textRect() const;

    // Every way of closing stops the sound first.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void start();
    void tick();
    // Stops the sound and closes the window.
    void cancel();
    void stop();

    const SWFSound& resource_;
    QImage icon_;
    std::unique_ptr<KSSoundPlayer> player_;
    AudioNotifierPtr notifier_;
    QElapsedTimer clock_;
    bool started_ = false;
    QFont font_;
    QTimer timer_;
};

}  // namespace kestrel
