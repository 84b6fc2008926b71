// Progress of a long operation shown as a bar in the description pane of
// the status bar. Opening a file uses two phases: reading (65) and
// thumbnails (35).
#pragma once

#include <QElapsedTimer>
#include <QString>

#include "document/progress_manager.h"
#include "ui/controls/status_bar_progress.h"

class QMainWindow;

namespace kestrel {

class KSReadProgress : public OBProgressManager {
public:
    explicit KSReadProgress(QMainWindow* window);
    ~KSReadProgress() override;

    // Creates the bar after `text`, with a Cancel button when `cancellable`,
    // and paints it at once; false when there is none to draw on (the
    // operation then runs without progress).
    bool create(const QString& text = QString(), bool cancellable = false);
    // Removes the bar and gives the pane its text back.
    void remove();
    OBCStatusBarProgress& bar() { return bar_; }

    // Lets the window repaint when it has not for a while.
    void keepAlive();
    bool cancelRequested() const { return bar_.cancelRequested(); }

    // ReaderProgress: while a file is read, its body bytes measure the first
    // phase rather than its frames.
    void setStepCount(int steps) override;
    void setPosition(int position) override;
    void setBodyPosition(std::uint64_t done, std::uint64_t total) override;
    bool cancelled() override;

protected:
    void reportPercentage(int percent) override;

private:
    void pump();

    OBCStatusBarProgress bar_;
    QElapsedTimer sincePump_;
    bool byBytes_ = false;
};

}  // namespace kestrel
