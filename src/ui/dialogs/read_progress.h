// Progress of a long operation shown as a bar in the description pane of
// the status bar. Opening a file uses two phases: reading (65) and
// thumbnails (35).
#pragma once

#include "document/progress_manager.h"
#include "ui/controls/status_bar_progress.h"

class QMainWindow;

namespace kestrel {

class KSReadProgress : public OBProgressManager {
public:
    explicit KSReadProgress(QMainWindow* window);
    ~KSReadProgress() override;

    // Creates the bar; false when there is none to draw on (the operation
    // then runs without progress).
    bool create();
    // Removes the bar and gives the pane its text back.
    void remove();
    OBCStatusBarProgress& bar() { return bar_; }

protected:
    void reportPercentage(int percent) override;

private:
    OBCStatusBarProgress bar_;
};

}  // namespace kestrel
