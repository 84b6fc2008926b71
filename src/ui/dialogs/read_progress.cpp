#include "ui/dialogs/read_progress.h"

#include <QProgressBar>
#include <QStatusBar>
#include <algorithm>

namespace kestrel {

namespace {
constexpr int kDescriptionPane = 1;
// Painting runs at least this often, in milliseconds, while the bar shows.
constexpr int kPumpInterval = 40;
constexpr int kByteSteps = 1000;
}  // namespace

KSReadProgress::KSReadProgress(QMainWindow* window) : bar_(window) {}

KSReadProgress::~KSReadProgress() { remove(); }

bool KSReadProgress::create(const QString& text, bool cancellable) {
    if (!bar_.create(text, -1, 100, true, kDescriptionPane, cancellable)) return false;
    setPhases(2, 100);
    setWeight(0, 65);
    setWeight(1, 35);
    byBytes_ = false;
    // Shown before the work starts, not at its first step.
    if (QProgressBar* bar = bar_.bar()) {
        if (QWidget* status = bar->parentWidget()) status->repaint();
    }
    pump();
    return true;
}

void KSReadProgress::remove() { bar_.remove(); }

void KSReadProgress::pump() {
    sincePump_.start();
    bar_.processEvents();
}

void KSReadProgress::keepAlive() {
    if (!bar_.created()) return;
    if (!sincePump_.isValid() || sincePump_.elapsed() >= kPumpInterval) pump();
}

void KSReadProgress::setStepCount(int steps) {
    if (byBytes_ && currentPhase() == 0) return;
    OBProgressManager::setStepCount(steps);
}

void KSReadProgress::setPosition(int position) {
    if (byBytes_ && currentPhase() == 0) return;
    OBProgressManager::setPosition(position);
}

void KSReadProgress::setBodyPosition(std::uint64_t done, std::uint64_t total) {
    if (currentPhase() == 0 && total > 0) {
        if (!byBytes_) {
            OBProgressManager::setStepCount(kByteSteps);
            byBytes_ = true;
        }
        OBProgressManager::setPosition(int(std::min<std::uint64_t>(done, total) * kByteSteps / total));
    }
    keepAlive();
}

bool KSReadProgress::cancelled() { return bar_.cancelRequested(); }

void KSReadProgress::reportPercentage(int percent) {
    bar_.setPosition(percent);
    if (QProgressBar* bar = bar_.bar()) bar->repaint();
    // Painting and other queued events go on; user input waits.
    pump();
}

}  // namespace kestrel
