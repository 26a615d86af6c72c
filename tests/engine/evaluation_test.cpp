// Rule evaluation: operand values, operator precedence, the six kinds on plain and timer
// targets, edges, error reports, trace lines and the evaluation hook.
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

using Values = std::vector<std::pair<std::string, int>>;
using Lines = std::vector<std::string>;

class EvaluationTest : public EngineTest {
  protected:
    // Loads the program on an empty pane and gives the named variables their values.
    void prepare(const Lines& program, const Values& values) {
        ASSERT_EQ(load(program), 0);
        engine.output.pane.lines.clear();
        for (const auto& [name, value] : values)
            if (has_var(name)) var(name).value = value;
    }
    int eval_first() { return evalrule(engine, engine.rule_table.at(0).code); }
    // Pane lines without the time text in front.
    Lines traced() const {
        Lines lines;
        for (const std::string& line : pane()) lines.push_back(line.substr(12));
        return lines;
    }
};

TEST_F(EvaluationTest, expressions_followOperandValuesPrecedenceAndLeftAssociativity) {
    // clang-format off
    const std::pair<const char*, int> cases[] = {
        {"A01", 2}, {"TA01", 1}, {"TB01", 0}, {"A01N", 0}, {"Z01N", 1}, {"TA01N", 0},
        {"TB01N", 1}, {"SA01", 1}, {"EA01", 0}, {"M01 < 0", 1}, {"A01 <> 2", 0},
        {"A01 <= 2", 1}, {"B01 > A01", 1}, {"A01 >= B01", 0}, {"A01 = 2", 1}, {"3 + (-3)", 0},
        {"M01 + 3", 0}, {"3 - 5", -2}, {"2 . 7", 1}, {"A01 . Z01", 0},
        {"5 = 5 = 1", 1},   // (5 = 5) = 1
        {"0 = 1 + 1", 1},   // (0 = 1) + 1
        {"2 + 0 = 2", 0},   // (2 + 0) = 2
        {"10 - 3 - 2", 5}, {"2 - 3 . 0", 2}, {"0 . 1 + 1", 1},
        {"-A01 . B01", 1},  // (-2) . 7
        {"-(2 - 5)", 3},
        // Sums and products are exact; "-" and unary minus wrap in 32 bits.
        {"2147483647 + 1", 1}, {"(-2147483647 - 1) + (-2147483647 - 1)", 1},
        {"65536 . 65536", 1}, {"-2147483647 - 1 - 1", INT_MAX}, {"-(-2147483647 - 1)", INT_MIN},
    };
    // clang-format on
    for (const auto& [expression, expected] : cases) {
        SCOPED_TRACE(expression);
        prepare({std::string("X01 = ") + expression},
                {{"A01", 2}, {"B01", 7}, {"Z01", 0}, {"M01", -3}, {"TA01", 15}});
        if (has_var("A01")) var("A01").flags |= V_START;
        ASSERT_EQ(eval_first(), 0);
        EXPECT_EQ(var("X01").value, expected);
    }
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(EvaluationTest, allKinds_onPlainAndTimerTargets) {
    const struct {
        const char* rule;
        int before, condition, after;
        std::uint32_t edges;
    } cases[] = {
        {"X01 = C01", 3, 0, 0, V_END},       {"X01N = C01", 0, 4, 4, V_START},
        {"X01 .= C01", 0, 5, 5, V_START},    {"X01 .= C01", 3, 5, 3, 0},
        {"X01N .= C01", 4, 1, 0, V_END},     {"X01N .= C01", 4, 0, 4, 0},
        {"STA01 .= C01", 0, 1, 50, V_START}, {"STA01 .= C01", 20, 1, 20, 0},
        {"ITA01 .= C01", 0, 1, 50, V_START}, {"ITA01 .= C01", 20, 1, 20, 0},
        {"RITA01 .= C01", 20, 1, 50, 0},     {"RITA01 .= C01", 20, 0, 20, 0},
        {"TA01N = C01", 20, 1, 50, 0},       {"TA01N = C01", 20, 0, 20, 0},
        {"TA01N .= C01", 20, 1, 0, V_END},   {"TA01N .= C01", 20, 0, 20, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + " from " + std::to_string(c.before));
        const char* target = c.rule[0] == 'X' ? "X01" : "TA01";
        prepare({"%time TA01 50", c.rule}, {{target, c.before}, {"C01", c.condition}});
        var(target).flags &= ~(V_START | V_END);
        ASSERT_EQ(eval_first(), 0);
        EXPECT_EQ(var(target).value, c.after);
        EXPECT_EQ(var(target).flags & (V_START | V_END), c.edges);
    }
}

TEST_F(EvaluationTest, edgeHousekeeping_dependsOnKind_andTimerExpiryBecomesEndEdge) {
    const struct {
        const char* rule;
        int condition;
        std::uint32_t kept;
    } cases[] = {{"X01 = C01", 1, 0}, {"X01 .= C01", 1, V_END}, {"X01N .= C01", 0, V_START}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        prepare({c.rule}, {{"X01", 1}, {"C01", c.condition}});
        var("X01").flags |= V_START | V_END;
        eval_first();
        EXPECT_EQ(var("X01").flags & (V_START | V_END), c.kept);
    }

    prepare({"%time TA01 50", "ITA01 .= C01"}, {});
    var("TA01").flags |= V_EXPIRED;
    engine.change_count = 0;
    eval_first();
    EXPECT_EQ(var("TA01").flags & (V_EXPIRED | V_END | V_CHANGED), V_END);
    EXPECT_EQ(engine.change_count, 0);
    eval_first();  // the edge goes away, and that is a change
    EXPECT_EQ(var("TA01").flags & (V_END | V_CHANGED), V_CHANGED);
    EXPECT_EQ(engine.change_count, 1);
}

TEST_F(EvaluationTest, evaluationHook_getsNameAndResult_butNotForSkippedRules) {
    const struct {
        const char* rule;
        int target;
        bool evaluated;
    } cases[] = {{"X01 = C01 + 1", 0, true}, {"X01 .= C01", 3, false}, {"X01N .= C01", 0, false}};
    Values calls;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        engine.evaluation_hook = nullptr;
        prepare({c.rule}, {{"X01", c.target}, {"C01", 1}});
        RVSetStreamFlags(engine, 1, SF_TRACE | SF_TRACE_ALL);
        calls.clear();
        engine.evaluation_hook = [&](const char* name, int value) {
            calls.emplace_back(name, value);
        };
        EXPECT_EQ(eval_first(), 0);
        EXPECT_EQ(calls, c.evaluated ? Values({{"X01", 1}}) : Values());
        if (!c.evaluated) {
            EXPECT_EQ(var("X01").value, c.target);
            EXPECT_TRUE(pane().empty());
        }
    }
}

TEST_F(EvaluationTest, errors_reportRuleWithErrorName_andAssignNothing) {
    const struct {
        const char* rule;
        int error;
        const char* report;
    } cases[] = {
        {"X01 = A01 . -B01", 1, "Error: X01=A01. [missing operand] -B01."},
        {"X01 = A01 +", 1, "Error: X01=A01+ [missing operand] ."},
        {"X01 = (A01", 2, "Error: X01=(A01 [missing closing parenthesis] ."},
        {"X01 = A01 B01", 3, "Error: X01=A01 [missing binary operator] B01."},
        {"X01 = A01)", 5, "Error: X01=A01 [too many closing parentheses] )."},
        {"X01 = A01 #", 9, "Error: X01=A01 [syntax error] #."},
        {"TA01 = A01", 7, "Error:  [incorrect use of timer variable] TA01 = A01."},
        {"STA01 = A01", 7, "Error: STA01 [assignment operator \".=\" required] = A01."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        free_variables(engine);
        recorder.reports.clear();
        std::vector<std::uint8_t> code = compile(c.rule);
        EXPECT_EQ(evalrule(engine, code.data()), c.error);
        EXPECT_EQ(report_texts(),
                  Lines{std::string("Configuration Error in evalrule: ") + c.report});
        if (has_var("X01")) {
            EXPECT_EQ(var("X01").value, 0);
        }
        EXPECT_EQ(load({c.rule}), 1);  // the loader drops it
    }

    // An operand marker without a variable or constant behind it.
    recorder.reports.clear();
    std::vector<std::uint8_t> code = compile("X01 = SA01");
    code[6] = T_CONSTANT;
    EXPECT_EQ(evalrule(engine, code.data()), 4);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(
        recorder.reports[0].text.rfind(
            "Configuration Error in evalrule: Error: X01= [missing variable or constant] ", 0),
        0u);
}

TEST_F(EvaluationTest, nestingNeedingTwentiethStackEntry_isStackOverflow) {
    auto nested = [](int depth) {
        std::string text = "1";
        for (int i = 1; i < depth; ++i) text = "1=(" + text + ")";
        return text;
    };
    EXPECT_EQ(load({"X01=" + nested(19)}), 0);
    EXPECT_TRUE(recorder.reports.empty());
    EXPECT_EQ(load({"X01=" + nested(20)}), 1);
    ASSERT_EQ(recorder.reports.size(), 1u);
    // Where in the rule the marker stands is not pinned; the rest of the text is.
    std::string text = recorder.reports[0].text;
    const std::string marker = " [stack overflow] ";
    std::size_t at = text.find(marker);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.erase(at, marker.size()),
              "Configuration Error in evalrule: Error: X01=" + nested(20) + ".");
}

TEST_F(EvaluationTest, traceLines_followStreamAndVariableFlags) {
    const std::string change = "X01     <-   5  A01[5].", all = "X01     unchanged   5  A01[5].";
    const std::string start = "TA01    <- 5.0  C01.";
    // clang-format off
    const struct {
        const char* rule;
        std::uint32_t stream_flags;
        int variable_flags, before, condition;
        Lines lines;
    } cases[] = {
        {"X01 = A01", SF_TRACE, 0, 0, 0, {change}},
        {"X01 = A01", 0, V_TRACE, 0, 0, {change}},
        {"X01 = A01", SF_TRACE | SF_TRACE_ALL, 0, 0, 0, {change, all}},
        {"X01 = A01", SF_TRACE_ALL, 0, 0, 0, {all}},
        {"X01 = A01", 0, V_TRACE_ALL, 0, 0, {all}},
        {"X01 = A01", SF_TRACE, 0, 5, 0, {}},
        {"ITA01 .= C01", SF_TRACE, 0, 0, 1, {start}},
        {"RITA01 .= C01", SF_TRACE, 0, 23, 1, {start}},
        {"RITA01 .= C01", SF_TRACE, 0, 50, 1, {}},  // already at its limit
        {"ITA01 .= C01", 0, V_TRACE, 0, 1, {}},     // V_TRACE does not reach timers
        {"TA01N .= C01", SF_TRACE, 0, 23, 1, {"TA01 aborted (remainder was 2.3) C01[1]."}},
        {"TA01N .= C01", SF_TRACE, 0, 23, 0, {}},
        {"TA01N .= C01", SF_TRACE_ALL, 0, 23, 0,
         {"TA01 not aborted (remainder is 2.3) C01[0].", "TA01    unchanged  23  C01[0]."}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const char* target = c.rule[0] == 'X' ? "X01" : "TA01";
        SCOPED_TRACE(std::string(c.rule) + " flags " + std::to_string(c.stream_flags) + "/" +
                     std::to_string(c.variable_flags) + " from " + std::to_string(c.before));
        prepare({"%time TA01 50", c.rule}, {{target, c.before}, {"A01", 5}, {"C01", c.condition}});
        RVSetStreamFlags(engine, 1, static_cast<int>(c.stream_flags));
        RVSetVariableTrace(engine, target, c.variable_flags);
        eval_first();
        EXPECT_EQ(traced(), c.lines);
    }

    // With limit 0 a start is traced even though the value was already equal to the limit.
    prepare({"%time TA01 0", "ITA01 .= C01"}, {{"C01", 1}});
    RVSetStreamFlags(engine, 1, SF_TRACE);
    eval_first();
    EXPECT_EQ(traced(), Lines{"TA01    <- 0.0  C01."});
}

}  // namespace
}  // namespace ruvalda::test
