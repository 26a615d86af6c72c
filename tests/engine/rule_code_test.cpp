// Rule code: the kinds of rule, error records, conflicting rules, constants and operators as
// compiled, rules printed back, and the limits of the code and print buffers.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

// The kind byte and the target's 4-byte reference come first; an operand takes 6 bytes.
constexpr std::size_t FIRST_TOKEN = 5;
constexpr std::size_t AFTER_FIRST_OPERAND = FIRST_TOKEN + 6;

class RuleCode : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        engine.source = {true, "c.rvc", 1, false, "", 0};
        engine.rule_table_exists = true;  // rules may share targets without conflict reports
    }
};

TEST_F(RuleCode, assignmentForms_giveTheirKindSidesAndHeader) {
    struct {
        const char* text;
        int kind;
        const char* printed;
        const char* target;
        bool sets, clears;
    } const cases[] = {
        {"x = a", K_ASSIGN, "X=A", "X", true, true},
        {"X A", K_ASSIGN, "X=A", "X", true, true},
        {"XN = A", K_ASSIGN_NEGATED, "XN=A", "X", true, true},
        {"TG05N = 1", K_ASSIGN_NEGATED, "TG05N=1", "TG05", true, true},
        {"X .= A", K_SET, "X.=A", "X", true, false},
        {"SX .= A", K_SET, "X.=A", "X", true, false},
        {"STG05 .= D051", K_SET, "TG05.=D051", "TG05", true, false},
        {"XN .= A", K_CLEAR, "XN.=A", "X", false, true},
        {"EX .= A", K_CLEAR, "XN.=A", "X", false, true},
        {"TG05N .= 1", K_CLEAR, "TG05N.=1", "TG05", false, true},
        {"ITG05 .= A", K_START, "ITG05.=A", "TG05", true, false},
        {"RITG05 .= A", K_RESTART, "RITG05.=A", "TG05", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        free_variables(engine);
        int result = -1;
        auto code = compile(c.text, &result);
        EXPECT_EQ(TOKENIZE_OK, result);
        EXPECT_EQ(c.kind, code[0]);
        EXPECT_STREQ(c.printed, printrule(engine, code.data(), false));
        const Variable& t = var(c.target);
        EXPECT_EQ(c.sets, (t.flags & V_HAS_SET_RULE) != 0);
        EXPECT_EQ(c.clears, (t.flags & V_HAS_CLEAR_RULE) != 0);
        EXPECT_EQ(c.sets ? "c.rvc (1) " : "", t.set_location);
        EXPECT_EQ(c.clears ? "c.rvc (1) " : "", t.clear_location);
    }
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(RuleCode, ruleText_isRewrittenInPlace_andEveryOperandMentionCounts) {
    std::string text = "xn05 = a + a . sa . ea . an";
    std::uint8_t code[RULE_CODE_SIZE];
    EXPECT_EQ(TOKENIZE_OK, tokenize(engine, text.data(), code, sizeof code));
    EXPECT_EQ("X05N = A + A . SA . EA . AN", text);
    EXPECT_EQ(5, var("A").ref_count);
    EXPECT_EQ(0, var("X05").ref_count);
    EXPECT_TRUE(var("A").set_location.empty());
}

TEST_F(RuleCode, brokenRules_becomeErrorRecordsWithTheirTexts) {
    struct {
        const char* text;
        int result;
        std::uint8_t first;
        const char* printed;
        std::size_t reports;
    } const cases[] = {
        {"tg05 .= d051", 1, M_TIMER_USE, " [incorrect use of timer variable] TG05 .= D051", 0},
        {"EX = 1", 7, M_OPERATOR, "EX [assignment operator \".=\" required] = 1", 0},
        {"RITG05 =1", 7, M_OPERATOR, "ETG05 [assignment operator \".=\" required] =1", 0},
        {"5 = 1", 1, M_SYNTAX, " [syntax error] 5 = 1", 0},
        {"N05 = 1", 1, M_SYNTAX, " [syntax error] N05 = 1", 1},
        {"X = ABCDEF", 1, K_ASSIGN, "X= [syntax error] ABCDEF", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        recorder.reports.clear();
        int result = -1;
        auto code = compile(c.text, &result);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.first, code[0]);
        EXPECT_STREQ(c.printed, printrule(engine, code.data(), false));
        EXPECT_EQ(c.reports, recorder.reports.size());
    }
}

TEST_F(RuleCode, edgeOfABadName_isASyntaxErrorWithOneReport) {
    const std::pair<const char*, const char*> cases[] = {{"X = SN05", "N05"},
                                                         {"X = SABCDEF", "ABCDEF"}};
    for (const auto& [text, shown] : cases) {
        recorder.reports.clear();
        int result = -1;
        auto code = compile(text, &result);
        EXPECT_EQ(TOKENIZE_ERROR, result) << text;
        EXPECT_EQ(M_SYNTAX, code[FIRST_TOKEN]) << text;
        EXPECT_EQ(std::vector<std::string>{"Configuration Error in getname: Bad variable name: " +
                                           std::string(shown) + ".\n"},
                  report_texts());
    }
}

TEST_F(RuleCode, secondRuleOnASide_isReportedInTheCountingPassOnly) {
    const auto conflict = [](int line, const char* rule, int first) {
        return "Configuration Error in tokenize: file c.rvc (" + std::to_string(line) +
               ") : " + rule + "\r\nconflicts with file c.rvc (" + std::to_string(first) + ") ";
    };
    struct {
        std::vector<const char*> rules;  // on lines 1, 2, ...
        std::vector<std::string> reports;
    } const cases[] = {
        {{"X = A", "x = b"}, {conflict(2, "X = B", 1)}},
        {{"X .= A", "XN .= B"}, {}},
        {{"XN .= A", "X = B"}, {conflict(2, "X = B", 1)}},
        {{"X .= A", "XN .= B", "X = C"}, {conflict(3, "X = C", 1)}},
        {{"ITG05 .= A", "RITG05 .= B"}, {conflict(2, "RITG05 .= B", 1)}},
        {{"Y = X", "X = A", "X = B"}, {conflict(3, "X = B", 2)}},
        {{"STG05 = 1", "STG05 .= A"}, {}},
    };
    for (const auto& c : cases) {
        for (bool filling : {false, true}) {
            free_variables(engine);
            recorder.reports.clear();
            engine.rule_table_exists = filling;
            for (std::size_t i = 0; i < c.rules.size(); ++i) {
                engine.source.line = static_cast<int>(i + 1);
                compile(c.rules[i]);
            }
            EXPECT_EQ(filling ? std::vector<std::string>{} : c.reports, report_texts())
                << c.rules.back() << (filling ? " (filling pass)" : "");
        }
    }
}

TEST_F(RuleCode, constants_upTo2147483647_areLittleEndian) {
    auto code = compile("Y = 2147483647 + 007");
    const std::uint8_t largest[] = {T_VALUE, T_CONSTANT, 0xFF, 0xFF, 0xFF, 0x7F, T_PLUS};
    EXPECT_EQ(0, std::memcmp(largest, &code[FIRST_TOKEN], sizeof largest));
    EXPECT_STREQ("Y=2147483647+7", printrule(engine, code.data(), false));
    for (const char* text : {"Y = 99999999999999999999999", "Y = A + 4294967296"}) {
        recorder.reports.clear();
        int result = -1;
        code = compile(text, &result);
        EXPECT_EQ(TOKENIZE_ERROR, result) << text;
        EXPECT_EQ(std::vector<std::string>{"Configuration Error in tokenize: Constant too large."},
                  report_texts());
    }
    EXPECT_STREQ("Y=A+", printrule(engine, code.data(), false));  // ended where it stood
}

TEST_F(RuleCode, operatorSpellings_giveTheirTokens) {
    const std::pair<const char*, std::uint8_t> cases[] = {
        {"=", T_EQ}, {"<>", T_NE}, {"><", T_NE}, {"<", T_LT},   {"<=", T_LE},   {"=<", T_LE},
        {">", T_GT}, {">=", T_GE}, {"=>", T_GE}, {"+", T_PLUS}, {"-", T_MINUS}, {".", T_AND},
    };
    for (const auto& [op, token] : cases) {
        auto code = compile(std::string("X = A") + op + "B");
        EXPECT_EQ(token, code[AFTER_FIRST_OPERAND]) << op;
        EXPECT_EQ(T_VALUE, code[AFTER_FIRST_OPERAND + 1]) << op << " took too much";
    }
    EXPECT_EQ(T_UNARY_MINUS, compile("X = -A + B")[FIRST_TOKEN]);
    EXPECT_EQ(T_UNARY_MINUS, compile("X = (-A)")[FIRST_TOKEN + 1]);
    EXPECT_EQ(T_MINUS, compile("X = A . -B")[AFTER_FIRST_OPERAND + 1]);
}

TEST_F(RuleCode, printrule_verboseShowsOperandValuesAndEdges_andUnknownBytes) {
    auto code = compile("X = A . SB + EC + KN");
    var("A").value = 3;
    var("A").flags |= V_START | V_END;
    var("B").flags |= V_START;
    var("C").value = -2;
    var("K").value = 1;
    var("K").flags |= V_END;
    var("X").value = 9;
    EXPECT_STREQ("X=A[3SE].SB[0S]+EC[-2]+KN[1E]", printrule(engine, code.data(), true));
    EXPECT_STREQ("A.SB+EC+KN", printrule(engine, &code[FIRST_TOKEN], false));
    const std::uint8_t odd[] = {T_PLUS, 0xFF, T_CLOSE, 0x07, T_END};
    EXPECT_STREQ("+<unknown token: ff>)<unknown token: 07>", printrule(engine, odd, false));
}

TEST_F(RuleCode, printrule_cutsAt1000CharactersWithOneReportPerCall) {
    std::string exact = "X=1";
    while (exact.size() + 11 <= PRINT_LIMIT) exact += "+1000000000";
    exact += "+" + std::string(PRINT_LIMIT - exact.size() - 1, '9');
    ASSERT_EQ(PRINT_LIMIT, exact.size());
    EXPECT_EQ(exact, printrule(engine, compile(exact).data(), false));
    EXPECT_TRUE(recorder.reports.empty());
    auto longer = compile(exact + "9");
    for (std::size_t call = 1; call <= 2; ++call) {
        EXPECT_EQ(exact, printrule(engine, longer.data(), false));
        EXPECT_EQ(call, recorder.reports.size());
    }
    EXPECT_EQ("Configuration Error in printrule: Rule too complex.", recorder.reports[0].text);
}

TEST_F(RuleCode, tokenize_keepsToItsCapacity_andACodeThatDoesNotFitIsAnEmptyRecord) {
    for (const char* rule : {"X = A + 12345 . (B <> 3)", "TG05 = 1", "X = A + ? and so on"}) {
        SCOPED_TRACE(rule);
        std::vector<std::uint8_t> buffer(RULE_CODE_SIZE, 0xEE);
        std::string text = rule;
        std::size_t needed = 0;
        const int full = tokenize(engine, text.data(), buffer.data(), buffer.size(), &needed);
        ASSERT_GT(needed, 1u);
        EXPECT_EQ(0, buffer[needed - 1]);
        for (std::size_t capacity : {needed, needed - 1}) {
            std::fill(buffer.begin(), buffer.end(), 0xEE);
            std::size_t again = 0;
            text = rule;
            const int result = tokenize(engine, text.data(), buffer.data(), capacity, &again);
            EXPECT_EQ(needed, again);
            EXPECT_EQ(buffer.end(), std::find_if(buffer.begin() + capacity, buffer.end(),
                                                 [](std::uint8_t b) { return b != 0xEE; }));
            EXPECT_EQ(capacity == needed ? full : TOKENIZE_ERROR, result);
            if (capacity < needed) {
                EXPECT_EQ(0, buffer[0]);
                EXPECT_EQ(E_ASSIGNMENT, evalrule(engine, buffer.data()));
            }
        }
    }
}

TEST_F(RuleCode, emptyText_isAProgramError) {
    std::string text;
    std::uint8_t code[RULE_CODE_SIZE];
    tokenize(engine, text.data(), code, sizeof code);
    EXPECT_EQ(std::vector<std::string>{"Program Error in tokenize: Internal error, null argument."},
              report_texts());
    EXPECT_TRUE(engine.output.end_requested);
}

}  // namespace
}  // namespace ruvalda::test
