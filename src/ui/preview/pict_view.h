// The picture panel on the left of the main window: it describes the open
// file and the focused resource, and offers to play a focused sound.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace kestrel {

class KSMainFrame;
class KSPlayButton;
class SWFRes;

class KSPictView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLeft = 15;
    static constexpr int kTextTop = 111;
    static constexpr int kBannerLine = 82;
    static constexpr int kHeadingBottom = 77;
    static constexpr int kLabelBottom = 126;
    static constexpr int kSmallIconWidth = 22;

    KSPictView(KSMainFrame* frame, QWidget* parent);

    // Follows the list's focused item; true when a resource is shown
    // afterwards.
    bool showFocusedItem();
    // Shows no resource (the file was closed).
    void clear();
    const SWFRes* shownResource() const { return shown_; }
    KSPlayButton* playButton() const { return play_; }
    // Where the picture of the shown resource was last drawn (empty when
    // none was).
    QRect pictureRect() const { return pictureRect_; }

    // "JPEG Image", "PNG Image", "MP3 Sound", "WAV Sound" by the record's
    // file extension, else "Unknown Resource".
    static QString typeName(const SWFRes& record);
    // The detail lines under the type name: "Format:", the format, a gap,
    // "Dimension:" (for a sound "Duration:"), the size or duration, a gap,
    // "Size:", the memory size, a gap.
    static QStringList detailLines(const SWFRes& record);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintPanel(QPainter& painter);
    // The description of the shown resource below the heading.
    void paintResource(QPainter& painter);

    KSMainFrame* frame_;
    const SWFRes* shown_ = nullptr;
    QPixmap banner_;
    QPixmap monoPicture_;
    QPixmap stereoPicture_;
    QFont headingFont_;
    QFont textFont_;
    QFont labelFont_;
    KSPlayButton* play_;
    bool playPlaced_ = false;
    QRect pictureRect_;
};

}  // namespace kestrel
