// A status bar of fixed panes: pane 0 stretches and may carry an icon in
// front of its text, the others have fixed widths. Texts are clipped to
// their pane and never widen the window.
#pragma once

#include <QFrame>
#include <QIcon>
#include <QStatusBar>
#include <vector>

namespace kestrel {

// Pane 0's text when nothing else is shown.
inline constexpr const char* kReadyText = "Ready";

class StatusPane : public QFrame {
    Q_OBJECT
public:
    explicit StatusPane(QWidget* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setIcon(const QPixmap& icon);
    // A text too long for the pane loses its end (or its middle, for paths)
    // to "…", never half a letter.
    void setElideMode(Qt::TextElideMode mode);
    // The text as the pane draws it at its present width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textArea() const;

    QString text_;
    // The icon's size in the pane, whatever its pixel ratio.
    QSize iconSize() const { return icon_.deviceIndependentSize().toSize(); }
    QPixmap icon_;
    Qt::TextElideMode elide_ = Qt::ElideRight;
};

class OBCStatusBar : public QStatusBar {
    Q_OBJECT
public:
    // `widths`: one entry per pane after pane 0, in pixels of text.
    OBCStatusBar(QWidget* parent, const std::vector<int>& widths);

    int paneCount() const { return int(panes_.size()); }
    StatusPane* pane(int index) const;
    QString paneText(int index) const;
    void setPaneText(int index, const QString& text);
    // The pane's rectangle in the status bar's coordinates.
    QRect paneRect(int index) const;
    // Status-line prompts are drawn in pane 0 in place of its text while
    // they last.
    void showPrompt(const QString& prompt);
    void clearPrompt();
    bool showingPrompt() const { return prompting_; }

private:
    std::vector<StatusPane*> panes_;
    QString savedPane0_;
    bool prompting_ = false;
};

}  // namespace kestrel
