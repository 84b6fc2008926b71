// The main window's client: the picture panel on the left, the list pane on
// the right. The panel is hidden while a third of the width is below 150
// pixels.
#pragma once

#include <QFrame>

namespace kestrel {

class KSChildView;
class KSPictView;
class ListHost;
class PictViewSource;

class KSMainView : public QFrame {
    Q_OBJECT
public:
    static constexpr int kSplitThreshold = 150;

    // `host` serves the list pane and `source` the picture panel; both are
    // the main window, `parent`.
    KSMainView(QWidget* parent, ListHost* host, PictViewSource* source);

    KSChildView* childView() const { return childView_; }
    KSPictView* pictView() const { return pictView_; }
    bool pictureVisible() const { return pictureVisible_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutPanes();

    KSChildView* childView_;
    KSPictView* pictView_;
    bool pictureVisible_ = true;
};

}  // namespace kestrel
