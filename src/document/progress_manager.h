// Weighted-phase progress: the steps of up to 30 phases folded into one
// percentage, reported only when it changes.
#pragma once

#include <array>

#include "reader/swf_reader.h"

namespace kestrel {

class OBProgressManager : public ReaderProgress {
public:
    static constexpr int kMaxPhases = 30;

    OBProgressManager();
    ~OBProgressManager() override = default;

    void reset(int steps);
    void setPhases(int count, int steps);
    void setWeight(int phase, int weight);
    void setStepCount(int steps) override;
    void setPosition(int position) override;
    void nextPhase();
    void setTag(int phase, int tag);

    int phases() const { return phaseCount_; }
    int currentPhase() const { return current_; }
    int stepCount(int phase) const { return slots_[clampPhase(phase)].steps; }
    int position(int phase) const { return slots_[clampPhase(phase)].position; }
    int weight(int phase) const { return slots_[clampPhase(phase)].weight; }
    int totalWeight() const { return totalWeight_; }
    int lastPercentage() const { return lastPercentage_; }
    int percentage() const;

protected:
    virtual void phaseStarted(int /*tag*/) {}
    virtual void reportPercentage(int /*percent*/) {}

private:
    struct Phase {
        int steps = 100;
        int position = 0;
        int weight = 1;
        int tag = 0;
    };
    int clampPhase(int phase) const;
    void recomputeWeight();
    void report();

    std::array<Phase, kMaxPhases> slots_{};
    int phaseCount_ = 1;
    int current_ = 0;
    int totalWeight_ = 1;
    int lastPercentage_ = 0;
};

}  // namespace kestrel
