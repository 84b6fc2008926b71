// The picture panel on the left of the main window: it describes the open
// file and the focused resource, and offers to play a focused sound.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace kestrel {

class KSPlayButton;
class SWFDocument;
class SWFRes;

// What the panel shows, as the window hands it over.
class PictViewSource {
public:
    virtual ~PictViewSource() = default;
    // The open document, or null.
    virtual const SWFDocument* panelDocument() const = 0;
    virtual QString panelPath() const = 0;
    virtual int panelItemCount() const = 0;
    // The list's focused item, -1 for none.
    virtual int panelFocusedItem() const = 0;
    virtual const QPixmap* panelSmallIcon(int index) const = 0;
    virtual const QPixmap* panelLargeIcon(int index) const = 0;
    // The Play button was pressed.
    virtual void panelPlay() = 0;
};

class KSPictView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLeft = 15;
    static constexpr int kTextTop = 111;
    static constexpr int kBannerLine = 82;
    static constexpr int kHeadingBottom = 77;
    static constexpr int kLabelBottom = 126;
    static constexpr int kSmallIconWidth = 22;

    KSPictView(PictViewSource* source, QWidget* parent);

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

    PictViewSource* source_;
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
