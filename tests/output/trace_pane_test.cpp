// The message pane as traceprintf fills it: joined and overwritten lines, time text, inner line
// breaks, the status bar, the recursion guard, the length limit, trimming and erasing.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class TracePane : public EngineTest {
  protected:
    void at(int tenths) {
        engine.current_time = tenths;
        std::snprintf(engine.output.time_text, sizeof engine.output.time_text, "Time:%4d.%1d ",
                      tenths / 10, tenths % 10);
    }
};

struct Print {
    int tenths;
    const char* text;
    int returns;  // the length written: the text without its final line end
};

TEST_F(TracePane, lineRules_joinOverwriteAndBreakLines) {
    const struct {
        const char* what;
        std::vector<Print> prints;
        std::vector<std::string> lines;
    } cases[] = {
        {"carriageReturnTwice_leavesOneTimeLine", {{3, "\r", 0}, {4, "\r", 0}}, {"Time:   0.4 "}},
        {"openTexts_joinOnOneLine",
         {{0, "A", 1}, {0, "B\n", 1}, {0, "C\n", 1}},
         {"Time:   0.0 AB", "Time:   0.0 C"}},
        {"firstMessageOfAStep_joinsTheTimeLine",
         {{12, "\r", 0}, {12, "X\n", 1}, {12, "Y\n", 1}, {13, "\r", 0}},
         {"Time:   1.2 X", "Time:   1.2 Y", "Time:   1.3 "}},
        {"emptyTextAfterOpenLine_onlyEndsIt",
         {{0, "open", 4}, {0, "", 0}, {0, "next\n", 4}},
         {"Time:   0.0 open", "Time:   0.0 next"}},
        {"emptyTextOnAClosedLine_addsATimeLine", {{5, "", 0}}, {"Time:   0.5 "}},
        {"carriageReturn_replacesAnOpenLine",
         {{1, "\r", 0}, {1, "Rate:     2. ", 13}, {3, "\r", 0}},
         {"Time:   0.3 "}},
        {"carriageReturnAfterALineEnd_addsALine",
         {{0, "X\n", 1}, {2, "\r", 0}},
         {"Time:   0.0 X", "Time:   0.2 "}},
        {"textEndingInCarriageReturn_overwritesAndIsContinued",
         {{1, "\r", 0}, {2, "abc\r", 3}, {2, "def\n", 3}},
         {"Time:   0.2 abcdef"}},
        {"innerLineBreaks_startLinesWithoutTimeText",
         {{0, "one\ntwo\r\nthree\n", 14}},
         {"Time:   0.0 one", "two", "three"}},
        {"innerLineBreakAfterTimeLine_nextLineHasTimeAgain",
         {{5, "\r", 0}, {5, "a\nb\n", 3}, {5, "c\n", 1}},
         {"Time:   0.5 a", "b", "Time:   0.5 c"}},
        {"leadingLineBreak_closesTheOpenLine",
         {{0, "x", 1}, {0, "\ny\n", 2}},
         {"Time:   0.0 x", "y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset_output_state(engine.output);
        for (const Print& p : c.prints) {
            at(p.tenths);
            EXPECT_EQ(p.returns, traceprintf(engine.output, "%s", p.text)) << p.text;
        }
        EXPECT_EQ(c.lines, pane());
    }
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(TracePane, linesAfterARun_carryTheEnginesTimeText) {
    RVInitialize(engine);
    RVRunUntil(engine, 12);
    ASSERT_EQ(1u, pane().size());  // every step rewrote the one time line
    traceprintf(engine.output, "A\n");
    traceprintf(engine.output, "B\n");
    EXPECT_EQ("Time:   1.2 B", pane().back());
}

TEST_F(TracePane, statusBar_takesTextsThatStartWithoutALineEnd) {
    const std::pair<const char*, const char*> steps[] = {
        {"Rate:%6d. ", "Rate:     3. "}, {"\r", "Rate:     3. "}, {"\nskipped\n", "Rate:     3. "},
        {"", "Rate:     3. "},           {"line\n", "line"},      {"abc\r", "abc"},
    };
    for (const auto& [format, status] : steps) {
        traceprintf(engine.output, format, 3);
        EXPECT_EQ(status, engine.output.pane.status_text) << format;
    }
}

class Reentrant : public QuietListener {
  public:
    explicit Reentrant(OutputState& output) : output(output) {}
    OutputState& output;
    std::vector<int> inner_results;
    void line_added(const std::string&) override {
        inner_results.push_back(traceprintf(output, "inner %d\n", 1));
    }
};

TEST_F(TracePane, recursiveCall_isRefusedReportedOnce_andReleasesTheGuard) {
    Reentrant listener(engine.output);
    engine.output.listener = &listener;
    EXPECT_EQ(5, traceprintf(engine.output, "outer\n"));
    EXPECT_EQ(5, traceprintf(engine.output, "again\n"));
    engine.output.listener = nullptr;
    EXPECT_EQ((std::vector<int>{0, 0}), listener.inner_results);
    EXPECT_EQ(std::vector<std::string>{"Program Error in traceprintf: Recursive call not permitted "
                                       "(previous Fmt is \"outer\n\", current Fmt is \"inner "
                                       "%d\n\")"},
              report_texts());
    EXPECT_TRUE(engine.output.end_requested);
    EXPECT_EQ(4, traceprintf(engine.output, "last\n"));
    EXPECT_EQ(3u, pane().size());
}

TEST_F(TracePane, longTexts_areCutAtTheLimitWithoutOverrun) {
    const std::string big(3 * MESSAGE_LIMIT, 'x');
    EXPECT_EQ(static_cast<int>(MESSAGE_LIMIT),
              traceprintf(engine.output, "%s%s", big.c_str(), "tail\n"));
    EXPECT_EQ("Time:   0.0 " + std::string(MESSAGE_LIMIT, 'x'), pane().back());
    erase_messages(engine.output);
    const std::string fits(MESSAGE_LIMIT - 1, 'y');
    EXPECT_EQ(static_cast<int>(MESSAGE_LIMIT - 1),
              traceprintf(engine.output, "%s\n", fits.c_str()));
    traceprintf(engine.output, "z\n");  // the text above kept its line end, so this line is new
    EXPECT_EQ("Time:   0.0 z", pane().back());
}

TEST_F(TracePane, trimKeepsTheNewest500_andEraseLeavesNothingToContinue) {
    for (int i = 0; i < 600; ++i) traceprintf(engine.output, "line %d\n", i);
    trim_messages(engine.output);
    ASSERT_EQ(500u, pane().size());
    EXPECT_EQ("Time:   0.0 line 100", pane().front());
    EXPECT_EQ("Time:   0.0 line 599", pane().back());
    traceprintf(engine.output, "open");
    erase_messages(engine.output);
    EXPECT_TRUE(pane().empty());
    traceprintf(engine.output, "a");  // would continue the open line, but the pane is empty
    traceprintf(engine.output, "b\n");
    EXPECT_EQ(std::vector<std::string>{"Time:   0.0 ab"}, pane());
}

}  // namespace
}  // namespace ruvalda::test
