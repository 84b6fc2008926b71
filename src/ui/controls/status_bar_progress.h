// A progress bar laid into one pane of the main window's status bar.
#pragma once

#include "ui/controls/status_bar.h"
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>

class QMainWindow;

namespace kestrel {

class OBCStatusBar;

class OBCStatusBarProgress : public QObject {
    Q_OBJECT
public:
    // `window`: the main window whose status bar carries the bar.
    explicit OBCStatusBarProgress(QMainWindow* window);
    ~OBCStatusBarProgress() override;

    // Width < 0 means the rest of the pane. False when the window has no
    // status bar or the pane does not exist. `cancellable` adds a Cancel
    // button beside the bar.
    bool create(const QString& text, int width, int range, bool smooth, int pane, bool cancellable = false);
    void setPosition(int position);
    // Hides the bar and gives the pane its text back ("Ready" for pane 0).
    void remove();

    // Lets painting, timers and other queued events run while the caller
    // keeps the thread. The user's input waits; with a Cancel button it is
    // dropped instead, except the button's clicks and Escape, which ask to
    // cancel.
    void processEvents();
    bool cancelRequested() const { return cancelRequested_; }
    void requestCancel() { cancelRequested_ = true; }

    QProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return cancel_; }
    bool created() const { return bar_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layout();

    QPointer<QMainWindow> window_;
    QPointer<OBCStatusBar> statusBar_;
    QPointer<QProgressBar> bar_;
    QPointer<QPushButton> cancel_;
    bool cancelRequested_ = false;
    QString text_;
    int width_ = -1;
    int pane_ = 0;
    QString savedText_;
};

}  // namespace kestrel
