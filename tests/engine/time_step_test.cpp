// Reset, stepping with the adaptive rate, settling, timers, colours, trace and adjust files.
#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class TimeStepTest : public EngineTest {
  protected:
    std::vector<std::pair<int, char>> colours;
    void record_colours() {
        engine.colour_callback = [this](int stream, char colour) {
            colours.emplace_back(stream, colour);
        };
    }
};

TEST_F(TimeStepTest, initTimerLimitTwenty_holdsNineteenAfterReset_andTracesInitializers) {
    ASSERT_EQ(load({"%time TA05 20", "%init TA05", "%init G05", "ITA05 .= D051 . G05"}), 0);
    RVSetStreamFlags(engine, 5, SF_TRACE);
    ASSERT_EQ(RVInitialize(engine), 1);
    EXPECT_EQ(var("TA05").value, 19);
    EXPECT_EQ(pane(), (std::vector<std::string>{"Time:   0.0 TA05 <- 19  (initializer)",
                                                "Time:   0.0 G05 <- 1  (initializer)"}));
}

TEST_F(TimeStepTest, failedConsistencyCheck_stopsBeforeTickAndInitializerLines) {
    ASSERT_EQ(load({"%time TA05 20", "%init TA05", "R05 = D051 . TA05"}), 0);
    RVSetStreamFlags(engine, 5, SF_TRACE);
    EXPECT_EQ(RVInitialize(engine), 0);
    EXPECT_EQ(report_texts(),
              std::vector<std::string>{
                  "Configuration Error in RVCheckConsistency: Ill-defined stream: 05.\nHint: a "
                  "stream starts red: give its red state a start value with \"%init R05\"."});
    EXPECT_EQ(var("TA05").value, 20);
    EXPECT_TRUE(pane().empty());
}

TEST_F(TimeStepTest, reset_exportsColoursOfInitialisedExportedVariablesOnly) {
    const std::string path = temp_dir() + "/reset.trace";
    ASSERT_EQ(load({"%init G05", "%export G05 G", "%export Y05 Y", "Y05 = G05N"}), 0);
    record_colours();
    engine.trace_file_name = path;
    RVRunUntil(engine, 0);  // opens the trace file, runs no step
    ASSERT_EQ(RVInitialize(engine), 1);
    EXPECT_EQ(colours, (std::vector<std::pair<int, char>>{{5, 'G'}}));
    EXPECT_EQ(read_file(path), "     0\t05\tG\n");
}

TEST_F(TimeStepTest, reset_dropsExpiryPendingFromBeforeIt) {
    ASSERT_EQ(load({"%time TA05 2", "ITA05 .= D051"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    SetDetectorState(engine, 51, 1);
    RVRunUntil(engine, 2);
    ASSERT_TRUE(var("TA05").flags & V_EXPIRED);
    ASSERT_EQ(RVInitialize(engine), 1);
    RVRunUntil(engine, 1);
    EXPECT_EQ(var("TA05").flags & (V_EXPIRED | V_END), 0u);
}

TEST_F(TimeStepTest, rate_staysOneWhileLagAtMostEleven_climbsWhenFarBehind_landsOnTarget) {
    ASSERT_EQ(load({"K01 = D011"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    std::vector<int> steps;
    engine.evaluation_hook = [&](const char*, int) { steps.push_back(RVGetTime(engine)); };
    RVRunUntil(engine, 12);
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(RVGetRate(engine), 1);
    EXPECT_EQ(pane(), std::vector<std::string>{"Time:   1.2 "});  // one line, rewritten

    ASSERT_EQ(RVInitialize(engine), 1);
    steps.clear();
    RVRunUntil(engine, 100);  // the last step is shortened to land on the target
    EXPECT_EQ(steps, (std::vector<int>{1, 3, 6, 10, 15, 21, 28, 36, 45, 55, 66, 78, 90, 100}));
    EXPECT_EQ(RVGetTime(engine), 100);
    EXPECT_EQ(RVGetRate(engine), 10);  // kept for the next call
}

TEST_F(TimeStepTest, oscillation_stopsAfter35Passes_andNextStepClosesTheLine) {
    ASSERT_EQ(load({"X = XN"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    int evaluations = 0;
    engine.evaluation_hook = [&](const char*, int) { ++evaluations; };
    RVRunUntil(engine, 1);
    EXPECT_EQ(evaluations, 35);
    EXPECT_EQ(pane(), std::vector<std::string>{"Time:   0.1 X oscillating "});
    RVRunUntil(engine, 2);
    RVRunUntil(engine, 20);
    std::vector<std::string> lines = pane();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Time:   0.2 X oscillating ");
    EXPECT_EQ(lines[2], "Time:   0.3 X oscillating Rate:     2. ");
}

TEST_F(TimeStepTest, oscillationList_leavesOffNamesBeyondAbout2000Characters) {
    std::vector<std::string> program;
    for (const char* name : {"QAA", "QAB", "QAC", "QAD"})
        for (int n = 1; n <= 99; ++n) {
            char rule[32];
            std::snprintf(rule, sizeof rule, "%s%02d = %s%02dN", name, n, name, n);
            program.push_back(rule);
        }
    ASSERT_EQ(load(program), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    RVRunUntil(engine, 1);
    ASSERT_EQ(pane().size(), 1u);
    const std::string line = pane()[0], head = "Time:   0.1 ", tail = "oscillating ";
    ASSERT_EQ(line.rfind(head + "QAA01 QAA02 ", 0), 0u);
    ASSERT_EQ(line.substr(line.size() - tail.size()), tail);
    const std::string list = line.substr(head.size(), line.size() - head.size() - tail.size());
    EXPECT_LE(list.size(), 2000u);
    EXPECT_GT(list.size(), 1900u);
    EXPECT_EQ(list.size() % 6, 0u);  // whole names only
    EXPECT_EQ(list.find("QAD99"), std::string::npos);
}

TEST_F(TimeStepTest, timerLimitFive_expiresInTickOfFourthStep_endEdgeInFifth) {
    ASSERT_EQ(load({"%init G01", "%time TA01 5", "ITA01 .= G01", "K01 = K01 + ETA01"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    RVSetStreamFlags(engine, 1, SF_TRACE);
    RVRunUntil(engine, 1);  // started in the step at 0.1 and counted down in its tick
    EXPECT_EQ(var("TA01").value, 4);
    RVRunUntil(engine, 4);
    EXPECT_EQ(var("TA01").value, 1);
    RVRunUntil(engine, 5);
    EXPECT_EQ(var("TA01").value, 0);
    EXPECT_EQ(pane().back(), "Time:   0.5 TA01 expires.");
    EXPECT_EQ(var("K01").value, 0);
    RVRunUntil(engine, 6);
    EXPECT_EQ(var("K01").value, 1);
    EXPECT_EQ(var("K01").modify_time, 6);
}

TEST_F(TimeStepTest, timerWithLimitZero_runsOutInTheStepThatStartedIt) {
    ASSERT_EQ(load({"%init G01", "%time TA01 0", "ITA01 .= G01"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    RVRunUntil(engine, 1);
    EXPECT_EQ(var("TA01").value, 0);
    EXPECT_TRUE(var("TA01").flags & V_EXPIRED);
}

TEST_F(TimeStepTest, traceFile_logsColourRisesUntilItsNameIsCleared) {
    const std::string path = temp_dir() + "/run.trace";
    write_file(path, "old\n");
    ASSERT_EQ(load({"%time TA05 3", "%init TA05", "%export Y05 Y", "Y05 = TA05N"}), 0);
    record_colours();
    engine.trace_file_name = path;
    ASSERT_EQ(RVInitialize(engine), 1);
    RVRunUntil(engine, 5);
    EXPECT_EQ(read_file(path), "     3\t05\tY\n");
    EXPECT_EQ(colours, (std::vector<std::pair<int, char>>{{5, 'Y'}}));

    engine.trace_file_name.clear();
    RVSyncTraceFile(engine);  // closes the file
    ASSERT_EQ(RVInitialize(engine), 1);
    RVRunUntil(engine, 5);
    EXPECT_EQ(colours.size(), 2u);
    EXPECT_EQ(read_file(path), "     3\t05\tY\n");
}

TEST_F(TimeStepTest, traceFileThatCannotBeOpened_isToldOnce) {
    const std::string path = temp_dir() + "/missing/run.trace";
    ASSERT_EQ(load({"K01 = D011"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    engine.trace_file_name = path;
    RVRunUntil(engine, 1);
    RVRunUntil(engine, 2);
    const std::string told = "Cannot open trace file \"" + path + "\": ";
    std::vector<std::string> lines = pane();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [&](const std::string& l) { return l.find(told) != std::string::npos; }),
        1);
}

TEST_F(TimeStepTest, adjustFile_changesTimerLimitsOnlyAndIsDeleted) {
    engine.adjust_file_name = temp_dir() + "/program.adj";
    ASSERT_EQ(load({"%time TG05 20", "ITG05 .= D051", "K05 = D051"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    write_file(engine.adjust_file_name, "TG05 150\nK05 7\nTG05 -4\nTG05\nnonsense\n");
    RVRunUntil(engine, 1);
    EXPECT_EQ(var("TG05").limit, 150);
    EXPECT_EQ(var("K05").limit, 0);
    EXPECT_FALSE(std::filesystem::exists(engine.adjust_file_name));
    SetDetectorState(engine, 51, 1);  // the new limit applies from the next start
    EXPECT_EQ(var("TG05").value, 150);
}

}  // namespace
}  // namespace ruvalda::test
