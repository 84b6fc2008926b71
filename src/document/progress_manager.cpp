#include "document/progress_manager.h"

#include <algorithm>

namespace kestrel {

OBProgressManager::OBProgressManager() { reset(100); }

int OBProgressManager::clampPhase(int phase) const { return std::clamp(phase, 0, phaseCount_ - 1); }

void OBProgressManager::recomputeWeight() {
    totalWeight_ = 0;
    for (int i = 0; i < phaseCount_; ++i) totalWeight_ += slots_[i].weight;
}

void OBProgressManager::reset(int steps) {
    for (int i = 0; i < phaseCount_; ++i) slots_[i] = Phase{steps, 0, 1, 0};
    current_ = 0;
    lastPercentage_ = -1;
    recomputeWeight();
}

void OBProgressManager::setPhases(int count, int steps) {
    phaseCount_ = std::clamp(count, 1, kMaxPhases);
    reset(steps <= 0 ? 1 : steps);
}

void OBProgressManager::setWeight(int phase, int weight) {
    slots_[clampPhase(phase)].weight = weight <= 0 ? 1 : weight;
    recomputeWeight();
}

void OBProgressManager::setTag(int phase, int tag) { slots_[clampPhase(phase)].tag = tag; }

void OBProgressManager::setStepCount(int steps) {
    Phase& p = slots_[current_];
    p.steps = steps <= 0 ? 1 : steps;
    p.position = std::min(p.position, p.steps);
}

void OBProgressManager::setPosition(int position) {
    Phase& p = slots_[current_];
    position = std::clamp(position, 0, p.steps);
    if (position == p.position) return;
    p.position = position;
    report();
}

void OBProgressManager::nextPhase() {
    slots_[current_].position = slots_[current_].steps;
    current_ = std::min(current_ + 1, phaseCount_ - 1);
    report();
    phaseStarted(slots_[current_].tag);
}

int OBProgressManager::percentage() const {
    double sum = 0.0;
    for (int i = 0; i <= current_; ++i) {
        const Phase& p = slots_[i];
        sum += double(p.position) * p.weight / p.steps;
    }
    return int(sum * 100.0 / totalWeight_ + 0.5);
}

void OBProgressManager::report() {
    const int percent = percentage();
    if (percent == lastPercentage_) return;
    lastPercentage_ = percent;
    reportPercentage(percent);
}

}  // namespace kestrel
