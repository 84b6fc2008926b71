#include <gtest/gtest.h>

#include <vector>

#include "document/progress_manager.h"

namespace kestrel {
namespace {

class Recorder final : public OBProgressManager {
public:
    std::vector<int> reports;
    std::vector<int> phaseTags;

protected:
    void reportPercentage(int percent) override { reports.push_back(percent); }
    void phaseStarted(int tag) override { phaseTags.push_back(tag); }
};

TEST(ProgressManager, WeightedPhasesFoldIntoOnePercentage) {
    Recorder p;
    p.setPhases(2, 100);
    p.setWeight(0, 65);
    p.setWeight(1, 35);
    p.setPosition(50);
    EXPECT_EQ(p.reports.back(), 33);  // 0.5 * 65 = 32.5 rounds up
    p.nextPhase();
    EXPECT_EQ(p.reports.back(), 65);
    p.setStepCount(40);
    p.setPosition(10);
    EXPECT_EQ(p.reports.back(), 74);  // (65 + 0.25 * 35) = 73.75
    EXPECT_EQ(p.phaseTags, std::vector<int>{0});
}

TEST(ProgressManager, ClampsEverything) {
    Recorder p;
    p.setPhases(50, 0);
    EXPECT_EQ(p.phases(), 30);
    EXPECT_EQ(p.stepCount(29), 1);
    EXPECT_EQ(p.totalWeight(), 30);
    p.setWeight(99, -4);  // last phase, weight 1
    EXPECT_EQ(p.weight(29), 1);

    Recorder q;
    q.setPhases(0, 10);
    EXPECT_EQ(q.phases(), 1);
    q.setStepCount(-3);
    EXPECT_EQ(q.stepCount(0), 1);
    q.setStepCount(10);
    q.setPosition(25);
    EXPECT_EQ(q.position(0), 10);
    q.setPosition(-5);
    EXPECT_EQ(q.position(0), 0);
    q.setPosition(8);
    q.setStepCount(4);  // position cut to the new count
    EXPECT_EQ(q.position(0), 4);
    q.nextPhase();  // the last phase stays current
    EXPECT_EQ(q.currentPhase(), 0);
}

TEST(ProgressManager, ReportsOnlyChanges) {
    Recorder p;
    p.setPhases(1, 1000);
    p.setPosition(3);
    p.setPosition(3);  // same position: nothing
    p.setPosition(4);  // 0.4% rounds to 0 again: not reported twice
    p.setPosition(6);  // 0.6% -> 1
    EXPECT_EQ(p.reports, (std::vector<int>{0, 1}));
    p.reset(10);
    p.setPosition(1);
    EXPECT_EQ(p.reports.back(), 10);  // reset forgets the last report
}

}  // namespace
}  // namespace kestrel
