// Detectors in and out, detector translation, stream and variable trace flags, dumps.
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class InterfaceTest : public EngineTest {};

TEST_F(InterfaceTest, setDetectorState_settlesAtOnce_edgeLastsOneSettle) {
    ASSERT_EQ(load({"K05 = D051", "P05 = P05 + SD051"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    SetDetectorState(engine, 51, 1);
    EXPECT_EQ(var("D051").value, 1);
    EXPECT_EQ(var("K05").value, 1);
    EXPECT_EQ(var("P05").value, 1);  // the S edge was seen during that settle
    EXPECT_EQ(var("D051").flags & (V_START | V_END), 0u);
    EXPECT_EQ(RVExportDetector(engine, 51), 1);

    int evaluations = 0;
    engine.evaluation_hook = [&](const char*, int) { ++evaluations; };
    SetDetectorState(engine, 51, 1);  // nothing changes, but the program settles again
    EXPECT_EQ(evaluations, 2);
    SetDetectorState(engine, 51, 2);
    EXPECT_EQ(var("D051").value, 1);
    SetDetectorState(engine, 51, 0);
    EXPECT_EQ(var("K05").value, 0);
    EXPECT_EQ(RVExportDetector(engine, 51), 0);
    EXPECT_EQ(RVExportDetector(engine, 73), -1);
    SetDetectorState(engine, 51, 2);
    EXPECT_EQ(var("D051").value, 0);
}

TEST_F(InterfaceTest, missingDetector73_tracesD307AndLeavesTheLineOpen) {
    ASSERT_EQ(load({"K05 = D051"}), 0);
    SetDetectorState(engine, 73, 1);
    SetDetectorState(engine, 73, 0);
    EXPECT_EQ(pane(), std::vector<std::string>{"Time:   0.0 SetDetectorState: cannot find detector "
                                               "D307SetDetectorState: cannot find detector D307"});
}

TEST_F(InterfaceTest, detectorChanges_areWrittenToTheTraceFile) {
    const std::string path = temp_dir() + "/detectors.trace";
    ASSERT_EQ(load({"K05 = D051"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    engine.trace_file_name = path;
    RVRunUntil(engine, 2);
    SetDetectorState(engine, 51, 1);
    SetDetectorState(engine, 51, 1);
    SetDetectorState(engine, 73, 1);
    SetDetectorState(engine, 51, 0);
    EXPECT_EQ(read_file(path), "     2\tD051\t1\n     2\tD051\t0\n");
}

TEST_F(InterfaceTest, translateDetector_givesFirstEntryWithThatSimulatorNumber) {
    const std::int32_t entries[3][2] = {{51, 1051}, {52, 1052}, {61, 1051}};
    std::memcpy(engine.detector_translation, entries, sizeof entries);
    EXPECT_EQ(RVTranslateDetector(engine, 1051), 51);
    EXPECT_EQ(RVTranslateDetector(engine, 1052), 52);
    EXPECT_EQ(RVTranslateDetector(engine, 999), 0);
}

TEST_F(InterfaceTest, streamFlags_changeOnlyTraceBits_andBadArgumentsAreProgramErrors) {
    ASSERT_EQ(load({"K05 = D051", "K = D1"}), 0);
    RVSetStreamFlags(engine, 5, 6);
    EXPECT_EQ(RVGetStreamFlags(engine, 5), SF_EXISTS | SF_TRACE | SF_TRACE_ALL);
    RVSetStreamFlags(engine, 5, 2);
    EXPECT_EQ(RVGetStreamFlags(engine, 5), SF_EXISTS | SF_TRACE);
    EXPECT_TRUE(recorder.reports.empty());

    // Misuse is a program error and changes nothing.
    RVSetStreamFlags(engine, 5, 1);
    RVSetStreamFlags(engine, 5, 0x12);
    RVSetStreamFlags(engine, 100, 2);
    EXPECT_EQ(RVGetStreamFlags(engine, 0), 0u);
    EXPECT_EQ(RVGetStreamFlags(engine, 5), SF_EXISTS | SF_TRACE);
    EXPECT_EQ(report_texts(),
              (std::vector<std::string>{"Program Error in RVSetStreamFlags: Bad Flags value: 1.",
                                        "Program Error in RVSetStreamFlags: Bad Flags value: 12.",
                                        "Program Error in RVSetStreamFlags: Bad Stream: 100.",
                                        "Program Error in RVGetStreamFlags: Bad Stream: 0."}));

    // Stream 0 can be set, and then traces the variables without a number.
    recorder.reports.clear();
    RVSetStreamFlags(engine, 0, SF_TRACE);
    EXPECT_TRUE(recorder.reports.empty());
    SetDetectorState(engine, 1, 1);
    EXPECT_EQ(pane(), std::vector<std::string>{"Time:   0.0 K       <-   1  D1[1S]."});
}

TEST_F(InterfaceTest, variableTrace_onlyForTargetsOfRules) {
    ASSERT_EQ(load({"K05 = D051"}), 0);
    EXPECT_EQ(RVGetVariableTrace(engine, "K05"), 1);
    const std::uint32_t before = var("K05").flags;
    RVSetVariableTrace(engine, "K05", 0xff);  // bits other than 0x2 and 0x4 are ignored
    EXPECT_EQ(RVGetVariableTrace(engine, "K05"), 7);
    EXPECT_EQ(var("K05").flags, before | V_TRACE | V_TRACE_ALL);
    RVSetVariableTrace(engine, "K05", 2);
    EXPECT_EQ(RVGetVariableTrace(engine, "K05"), 3);

    EXPECT_EQ(RVGetVariableTrace(engine, "D051"), 0);
    EXPECT_EQ(RVGetVariableTrace(engine, "X99"), 0);
    RVSetVariableTrace(engine, "D051", 2);
    EXPECT_EQ(var("D051").flags & V_TRACE, 0u);
    EXPECT_EQ(pane(), std::vector<std::string>{"Time:   0.0 Cannot change flags of variable D051 "
                                               "because there is no formula that might change it"});
}

TEST_F(InterfaceTest, dumpVars_inCreationOrModifyTimeOrder_andStopsAtFalse) {
    std::vector<std::string> texts;
    auto collect = [&](const char* text) {
        texts.push_back(text);
        return true;
    };
    EXPECT_TRUE(RVDumpVars(engine, collect, false));  // no variables at all
    EXPECT_TRUE(texts.empty());

    ASSERT_EQ(load({"K05 = D051", "B05 = Z05 . A05", "%init Z05", "%init A05"}), 0);
    ASSERT_EQ(RVInitialize(engine), 1);
    RVRunUntil(engine, 2);
    SetDetectorState(engine, 51, 1);
    EXPECT_TRUE(RVDumpVars(engine, collect, false));
    EXPECT_EQ(texts, (std::vector<std::string>{"K05<1> (0.2)", "D051<1> (0.2)", "B05<1> (0.1)",
                                               "Z05<1S> (0.0)", "A05<1S> (0.0)"}));
    texts.clear();
    EXPECT_TRUE(RVDumpVars(engine, collect, true));
    EXPECT_EQ(texts, (std::vector<std::string>{"A05<1S> (0.0)", "Z05<1S> (0.0)", "B05<1> (0.1)",
                                               "D051<1> (0.2)", "K05<1> (0.2)"}));

    int handed = 0;
    EXPECT_FALSE(RVDumpVars(
        engine, [&](const char*) { return ++handed < 2; }, true));
    EXPECT_EQ(handed, 2);
}

}  // namespace
}  // namespace ruvalda::test
