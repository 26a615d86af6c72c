// The message pane and the reports, as users see them: lines with their time text, in-place
// time lines, joined partial lines, the status bar, and report boxes with their answers.
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class Messages : public EngineTest {
  protected:
    void at(int tenths) {
        engine.current_time = tenths;
        std::snprintf(engine.output.time_text, sizeof engine.output.time_text, "Time:%4d.%1d ",
                      tenths / 10, tenths % 10);
    }
};

TEST_F(Messages, carriageReturnTwice_leavesOneTimeLineOfTheSecondCall) {
    at(3);
    traceprintf(engine.output, "\r");
    at(4);
    EXPECT_EQ(0, traceprintf(engine.output, "\r"));
    EXPECT_EQ(std::vector<std::string>{"Time:   0.4 "}, pane());
}

TEST_F(Messages, openTexts_joinOnOneLine) {
    traceprintf(engine.output, "A");
    traceprintf(engine.output, "B\n");
    traceprintf(engine.output, "C\n");
    EXPECT_EQ((std::vector<std::string>{"Time:   0.0 AB", "Time:   0.0 C"}), pane());
}

TEST_F(Messages, firstMessageOfAStep_isAppendedToTheTimeLine) {
    at(12);
    traceprintf(engine.output, "\r");
    traceprintf(engine.output, "X\n");
    traceprintf(engine.output, "Y\n");
    at(13);
    traceprintf(engine.output, "\r");
    EXPECT_EQ((std::vector<std::string>{"Time:   1.2 X", "Time:   1.2 Y", "Time:   1.3 "}), pane());
}

TEST_F(Messages, emptyTextAfterOpenLine_changesNothingButEndsTheOpenLine) {
    traceprintf(engine.output, "open");
    EXPECT_EQ(0, traceprintf(engine.output, "%s", ""));
    traceprintf(engine.output, "next\n");
    EXPECT_EQ((std::vector<std::string>{"Time:   0.0 open", "Time:   0.0 next"}), pane());
}

TEST_F(Messages, innerLineBreaks_breakTheLineWithoutTimeText) {
    traceprintf(engine.output, "one\ntwo\r\nthree\n");
    EXPECT_EQ((std::vector<std::string>{"Time:   0.0 one", "two", "three"}), pane());
    traceprintf(engine.output, "\nafter");  // a leading break closes the current line
    EXPECT_EQ("after", pane().back());
}

TEST_F(Messages, statusBar_takesTextsThatDoNotStartWithALineEnd) {
    traceprintf(engine.output, "Rate:%6d. ", 3);
    EXPECT_EQ("Rate:     3. ", engine.output.pane.status_text);
    traceprintf(engine.output, "\nskipped\n");
    EXPECT_EQ("Rate:     3. ", engine.output.pane.status_text);
    traceprintf(engine.output, "line\n");
    EXPECT_EQ("line", engine.output.pane.status_text);
}

TEST_F(Messages, longText_isCutAtTheLimitWithoutOverrun) {
    std::string big(25000, 'x');
    EXPECT_EQ(static_cast<int>(MESSAGE_LIMIT), traceprintf(engine.output, "%s", big.c_str()));
    EXPECT_EQ(std::string("Time:   0.0 ") + std::string(MESSAGE_LIMIT, 'x'), pane().back());
    report_error(engine.output, ERROR, "here", "%s", big.c_str());
    ASSERT_EQ(1u, recorder.reports.size());
    EXPECT_EQ(MESSAGE_LIMIT, recorder.reports[0].text.size());
}

class Reentrant : public QuietListener {
  public:
    explicit Reentrant(OutputState& output) : output(output) {}
    OutputState& output;
    void line_added(const std::string&) override { traceprintf(output, "inner %d\n", 1); }
};

TEST_F(Messages, recursiveTrace_isRefusedAndReportedOnceAsProgramError) {
    Reentrant listener(engine.output);
    engine.output.listener = &listener;
    traceprintf(engine.output, "outer\n");
    traceprintf(engine.output, "again\n");
    engine.output.listener = nullptr;
    ASSERT_EQ(1u, recorder.reports.size());
    EXPECT_EQ(
        "Program Error in traceprintf: Recursive call not permitted (previous Fmt is "
        "\"outer\n\", current Fmt is \"inner %d\n\")",
        recorder.reports[0].text);
    EXPECT_TRUE(engine.output.end_requested);
    EXPECT_EQ((std::vector<std::string>{"Time:   0.0 outer", "Time:   0.0 again"}), pane());
}

TEST_F(Messages, trim_keepsTheNewest500Lines) {
    for (int i = 0; i < 600; ++i) traceprintf(engine.output, "line %d\n", i);
    trim_messages(engine.output);
    ASSERT_EQ(500u, pane().size());
    EXPECT_EQ("Time:   0.0 line 100", pane().front());
    EXPECT_EQ("Time:   0.0 line 599", pane().back());
}

TEST_F(Messages, erase_keepsTheLineState) {
    traceprintf(engine.output, "open");
    erase_messages(engine.output);
    traceprintf(engine.output, "more\n");  // an empty pane: the text starts a line of its own
    EXPECT_EQ(std::vector<std::string>{"Time:   0.0 more"}, pane());
}

TEST_F(Messages, reportKinds_haveTheirCaptionsAndQuestions) {
    report_error(engine.output, PROGRAM_ERROR, "pop", "stack empty.");
    report_error(engine.output, CONFIGURATION_ERROR, "getname", "Bad variable name: %s.\n", "N05");
    ASSERT_EQ(2u, recorder.reports.size());
    EXPECT_EQ("Program Error in pop: stack empty.", recorder.reports[0].box_text);
    EXPECT_EQ("Configuration Error in getname: Bad variable name: N05.\n\r\n\r\nContinue ?",
              recorder.reports[1].box_text);
    EXPECT_EQ("Configuration Error", recorder.reports[1].caption);
}

TEST_F(Messages, answers_decideWhetherTheApplicationEnds) {
    recorder.answers = {true};
    EXPECT_EQ(0, report_error(engine.output, ERROR, "openin", "x"));
    EXPECT_FALSE(engine.output.end_requested);
    recorder.answers = {false};
    EXPECT_EQ(0, report_error(engine.output, SIMULATOR_ERROR, "domacro", "y"));
    EXPECT_TRUE(engine.output.end_requested);  // the caller still returns normally
}

TEST_F(Messages, vissimMode_dropsAllButProgramErrors) {
    engine.output.vissim_mode = true;
    report_error(engine.output, ERROR, "a", "dropped");
    report_error(engine.output, CONFIGURATION_ERROR, "b", "dropped");
    report_error(engine.output, SIMULATOR_ERROR, "c", "dropped");
    EXPECT_TRUE(recorder.reports.empty());
    EXPECT_FALSE(engine.output.end_requested);
    report_error(engine.output, PROGRAM_ERROR, "d", "shown");
    ASSERT_EQ(1u, recorder.reports.size());
    EXPECT_TRUE(engine.output.end_requested);
}

TEST_F(Messages, consoleFrontEnd_printsOneLineEndUnlessTheTextHasOne) {
    ConsoleFrontEnd console;
    engine.output.front_end = &console;
    testing::internal::CaptureStderr();
    report_error(engine.output, CONFIGURATION_ERROR, "check_sanity", "%s never ends.\n", "X");
    report_error(engine.output, ERROR, "openin", "two\nlines");
    EXPECT_EQ("Configuration Error in check_sanity: X never ends.\nError in openin: two\nlines\n",
              testing::internal::GetCapturedStderr());
    EXPECT_FALSE(engine.output.end_requested);
    console.strict = true;
    testing::internal::CaptureStderr();
    report_error(engine.output, ERROR, "openin", "strict");
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(engine.output.end_requested);
}

}  // namespace
}  // namespace ruvalda::test
