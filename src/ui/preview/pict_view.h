// The picture panel on the left of the main window: it describes the open
// file and the focused resource.
#pragma once

#include <QWidget>

namespace kestrel {

class KSMainFrame;
class SWFRes;

class KSPictView : public QWidget {
    Q_OBJECT
public:
    KSPictView(KSMainFrame* frame, QWidget* parent);

    // Follows the list's focused item; true when a resource is shown
    // afterwards.
    bool showFocusedItem();
    // Shows no resource (the file was closed).
    void clear();
    const SWFRes* shownResource() const { return shown_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    KSMainFrame* frame_;
    const SWFRes* shown_ = nullptr;
    QPixmap banner_;
};

}  // namespace kestrel
