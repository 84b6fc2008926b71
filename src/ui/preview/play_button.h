// The play button of the picture panel: a flat button with a 1-pixel
// raised (or, while pressed, sunken) edge and a play symbol.
#pragma once

#include <QImage>
#include <QPushButton>

namespace kestrel {

class KSPlayButton : public QPushButton {
    Q_OBJECT
public:
    explicit KSPlayButton(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage symbol_;
};

}  // namespace kestrel
