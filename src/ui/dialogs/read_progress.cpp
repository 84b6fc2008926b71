#include "ui/dialogs/read_progress.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace kestrel {

namespace {
constexpr int kDescriptionPane = 1;
}

KSReadProgress::KSReadProgress(QMainWindow* window) : bar_(window) {}

KSReadProgress::~KSReadProgress() { remove(); }

bool KSReadProgress::create() {
    if (!bar_.create(QString(), -1, 100, true, kDescriptionPane)) return false;
    setPhases(2, 100);
    setWeight(0, 65);
    setWeight(1, 35);
    return true;
}

void KSReadProgress::remove() { bar_.remove(); }

void KSReadProgress::reportPercentage(int percent) {
    bar_.setPosition(percent);
    if (QProgressBar* bar = bar_.bar()) bar->repaint();
    // Painting and other queued events go on; user input waits.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace kestrel
