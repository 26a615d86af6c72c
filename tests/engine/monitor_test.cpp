// The conflict monitor against the colours a program exports.
#include "engine/monitor.h"

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class MonitorTest : public EngineTest {
  protected:
    void TearDown() override {
        monitor_stop(conflict_monitor);
        EngineTest::TearDown();
    }
    // Streams 1 and 2 conflict: 30 tenths from 1 to 2, 20 from 2 to 1.
    void watch() {
        static std::int32_t clearance[STREAM_COUNT][STREAM_COUNT];
        for (auto& row : clearance)
            for (auto& c : row) c = NO_CONFLICT;
        clearance[1][2] = 30;
        clearance[2][1] = 20;
        monitor_start(conflict_monitor, clearance);
    }
};

// Greens follow the detectors directly: G01 while D011 is occupied, G02 while D021 is.
const std::vector<std::string> PROGRAM = {
    "%init R01",     "%init R02",  "%export G01 G", "%export G02 G", "%export R01 R",
    "%export R02 R", "G01 = D011", "G02 = D021",    "R01 = G01N",    "R02 = G02N"};

TEST_F(MonitorTest, greenTooSoonAfterConflictingGreen_isReportedWithShortfall) {
    ASSERT_EQ(0, load(PROGRAM));
    watch();
    RVInitialize(engine);
    SetDetectorState(engine, 11, 1);
    RVRunUntil(engine, 10);
    SetDetectorState(engine, 11, 0);  // 01 out of green at 1.0
    RVRunUntil(engine, 35);
    SetDetectorState(engine, 21, 1);  // 02 green at 3.5: 25 tenths after, 5 short
    RVRunUntil(engine, 40);
    SetDetectorState(engine, 21, 0);
    RVRunUntil(engine, 60);
    SetDetectorState(engine, 11, 1);  // 01 green at 6.0: 20 tenths after 02, in time
    EXPECT_EQ(1, conflict_monitor.violations);
    bool found = false;
    for (const std::string& line : pane())
        found |= line ==
                 "Time:   3.5 Conflict monitor: 3.5 s: streams 01 and 02 green too soon "
                 "after each other, short by 5 tenths.";
    EXPECT_TRUE(found);
}

TEST_F(MonitorTest, conflictingGreensTogether_areReportedAndWaitsMeasured) {
    ASSERT_EQ(0, load(PROGRAM));
    watch();
    std::vector<std::tuple<int, int, int>> seen;
    conflict_monitor.on_violation = [&](std::int32_t time, int a, int b, std::int32_t s) {
        seen.emplace_back(time, a * 100 + b, s);
    };
    RVInitialize(engine);
    RVRunUntil(engine, 5);
    SetDetectorState(engine, 11, 1);
    RVRunUntil(engine, 12);
    SetDetectorState(engine, 21, 1);
    EXPECT_EQ((std::vector<std::tuple<int, int, int>>{{12, 102, 30}}), seen);
    EXPECT_EQ(0, conflict_monitor.longest_wait[1]);  // green at once
    conflict_monitor.on_violation = nullptr;
}

}  // namespace
}  // namespace ruvalda::test
