// Variable names and rule code: how rule texts compile, print back, and fail.
#include <cstring>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class NamesAndCode : public EngineTest {
  protected:
    // Compiles as in the filling pass and prints the whole rule back.
    std::string round_trip(const std::string& text, int* result = nullptr) {
        engine.rule_table_exists = true;
        auto code = compile(text, result);
        return printrule(engine, code.data(), false);
    }
};

struct NameCase {
    const char* text;
    int consumed;
    const char* name;
    int number;
    const char* after;  // the text after scanning (N moves)
};

TEST_F(NamesAndCode, getname_readsNumbersDetectorsAndMovesNegation) {
    const NameCase cases[] = {
        {"TG05", 4, "TG", 5, "TG05"},
        {"K05N", 3, "K", 5, "K05N"},
        {"KN05", 3, "K", 5, "K05N"},
        {"RW051", 5, "RW1", 5, "RW051"},
        {"X00", 3, "X", 0, "X00"},
        {"D051", 4, "D1", 5, "D051"},
        {"DN051", 4, "D1", 5, "D051N"},
        {"D05", 3, "D", 5, "D05"},
        {"D1", 2, "D1", 0, "D1"},
        {"AN05B", 5, "ANB", 5, "A05NB"},
        {"ABCDE05", 7, "ABCDE", 5, "ABCDE05"},
        {"CL0205", 6, "CL05", 2, "CL0205"},
        {"5X", 0, "", 0, "5X"},
    };
    for (const NameCase& c : cases) {
        std::string text = c.text;
        char name[NAME_LENGTH + 2];
        int number = -1;
        EXPECT_EQ(c.consumed, getname(engine, text.data(), name, &number)) << c.text;
        EXPECT_STREQ(c.name, name) << c.text;
        EXPECT_EQ(c.number, number) << c.text;
        EXPECT_EQ(c.after, text) << c.text;
    }
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(NamesAndCode, badNames_areReportedAndRefused) {
    std::string n05 = "N05 + 1", six = "ABCDEF = 1";
    char name[NAME_LENGTH + 2];
    int number = 0;
    EXPECT_EQ(0, getname(engine, n05.data(), name, &number));
    EXPECT_EQ(0, getname(engine, six.data(), name, &number));
    EXPECT_EQ(
        (std::vector<std::string>{"Configuration Error in getname: Bad variable name: N05 + 1.\n",
                                  "Configuration Error in getname: Bad variable name: ABCDEF.\n"}),
        report_texts());
}

TEST_F(NamesAndCode, variables_getKindsFlagsAndPrintedForms) {
    Variable* timer = install_variable(engine, "TOFF", 0, 0);
    Variable* detector = install_variable(engine, "D1", 5, 0);
    Variable* plain = install_variable(engine, "D", 5, 0);
    EXPECT_EQ(V_TIMER, timer->flags);
    EXPECT_EQ(-1, timer->limit);
    EXPECT_EQ(V_DETECTOR, detector->flags);
    EXPECT_EQ(0u, plain->flags);
    EXPECT_STREQ("D051", format_variable(engine, detector, FormatMode::PLAIN));
    EXPECT_STREQ("D05", format_variable(engine, plain, FormatMode::PLAIN));
    Variable* k = install_variable(engine, "K", 5, 0);
    k->value = 1;
    k->flags |= V_START;
    k->modify_time = 123;
    EXPECT_STREQ("K05<1S> (12.3)", format_variable(engine, k, FormatMode::DUMP));
    EXPECT_STREQ("K05N", format_variable(engine, k, FormatMode::NEGATED));
    EXPECT_STREQ("ITG05", format_variable(engine, install_variable(engine, "TG", 5, 0),
                                          FormatMode::PREFIX_I));
    EXPECT_STREQ("<null>", format_variable(engine, nullptr, FormatMode::PLAIN));
    EXPECT_EQ(k, install_variable(engine, "K", 5, 0));  // found, not made again
    EXPECT_EQ(nullptr, find_variable(engine, "K", 6));
}

TEST_F(NamesAndCode, locations_areRecordedOnceAndPrinted) {
    engine.source.file_open = true;
    engine.source.file_name = "x.rvc";
    engine.source.line = 7;
    EXPECT_STREQ("x.rvc (7) ", current_location(engine));
    engine.source.macro_open = true;
    engine.source.macro_path = "m.mac";
    engine.source.macro_line = 2;
    Variable* v = install_variable(engine, "X", 0, LOC_SET);
    EXPECT_EQ("x.rvc (7) m.mac (2) ", v->set_location);
    engine.source.line = 9;
    install_variable(engine, "X", 0, LOC_SET | LOC_CLEAR);
    EXPECT_EQ("x.rvc (7) m.mac (2) ", v->set_location);
    EXPECT_EQ("x.rvc (9) m.mac (2) ", v->clear_location);
}

TEST_F(NamesAndCode, rules_printBackInTheirCanonicalForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"k05 = a05 . b05n + (c05 <> 3)", "K05=A05.B05N+(C05<>3)"},
        {"X D051", "X=D051"},
        {"STG05 .= D051", "TG05.=D051"},
        {"TG05N = D051", "TG05N=D051"},
        {"TG05N .= D051", "TG05N.=D051"},
        {"ITG05 .= SD051 . EK05", "ITG05.=SD051.EK05"},
        {"RITG05 .= -A + B", "RITG05.=-A+B"},
        {"XN05 = 1", "X05N=1"},
        {"A = B =< C => D >< E", "A=B<=C>=D<>E"},
        {"Y = 2147483647", "Y=2147483647"},
    };
    for (const auto& [text, printed] : cases) EXPECT_EQ(printed, round_trip(text)) << text;
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(NamesAndCode, errorRecords_carryTheirTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"TG05 = D051", " [incorrect use of timer variable] TG05 = D051"},
        {"TG05 .= D051", " [incorrect use of timer variable] TG05 .= D051"},
        {"STG05 = D051", "STG05 [assignment operator \".=\" required] = D051"},
        {"ITG05 = 1", "ETG05 [assignment operator \".=\" required] = 1"},
        {"X = A + ?", "X=A+ [syntax error] ?"},
        {"= 1", " [syntax error] = 1"},
        {"\x99Required times for stream 05 not specified.",
         " [incomplete] REQUIRED TIMES FOR STREAM 05 NOT SPECIFIED."},
    };
    for (const auto& [text, printed] : cases) EXPECT_EQ(printed, round_trip(text)) << text;
}

TEST_F(NamesAndCode, results_tellCompiledErrorAndOperator) {
    int result = -1;
    round_trip("X = 1", &result);
    EXPECT_EQ(TOKENIZE_OK, result);
    round_trip("TG05 = 1", &result);
    EXPECT_EQ(TOKENIZE_ERROR, result);
    round_trip("STG05 = 1", &result);
    EXPECT_EQ(TOKENIZE_ASSIGNMENT, result);
    round_trip("Z = 2147483648", &result);
    EXPECT_EQ(TOKENIZE_ERROR, result);
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in tokenize: Constant too large."},
              report_texts());
}

TEST_F(NamesAndCode, secondRuleOnOneSide_isReportedInTheCountingPassOnly) {
    engine.source.file_open = true;
    engine.source.file_name = "c.rvc";
    engine.source.line = 1;
    std::string a = "X = A", b = "x = b";
    std::uint8_t code[RULE_CODE_SIZE];
    tokenize(engine, a.data(), code, sizeof code);
    engine.source.line = 2;
    tokenize(engine, b.data(), code, sizeof code);
    ASSERT_EQ(1u, recorder.reports.size());
    EXPECT_EQ(
        "Configuration Error in tokenize: file c.rvc (2) : X = B\r\nconflicts with file c.rvc (1) ",
        recorder.reports[0].text);
    engine.rule_table_exists = true;
    std::string c = "X .= C";
    tokenize(engine, c.data(), code, sizeof code);
    EXPECT_EQ(1u, recorder.reports.size());
}

TEST_F(NamesAndCode, tokenize_neverWritesPastItsBufferAndTellsTheSize) {
    std::string rule = "X = 0";
    for (int i = 0; i < 200; ++i) rule += " + 0";  // 6 bytes per constant, 1 per "+"
    std::vector<std::uint8_t> buffer(RULE_CODE_SIZE + 16, 0xEE);
    std::size_t needed = 0;
    std::string text = rule;
    EXPECT_EQ(TOKENIZE_ERROR,
              tokenize(engine, text.data(), buffer.data(), RULE_CODE_SIZE, &needed));
    EXPECT_EQ(5u + 6u + 200u * 7u + 1u, needed);
    EXPECT_EQ(0, buffer[0]);  // an empty error record, not a code without its end
    for (std::size_t i = RULE_CODE_SIZE; i < buffer.size(); ++i) EXPECT_EQ(0xEE, buffer[i]);
    EXPECT_EQ(E_ASSIGNMENT, evalrule(engine, buffer.data()));
}

TEST_F(NamesAndCode, printrule_cutsAtTheLimitAndReportsOnce) {
    std::string rule = "X = A";
    for (int i = 0; i < 140; ++i) rule += " + LONGA" + std::to_string(10 + i % 80);
    std::vector<std::uint8_t> code(1541, 0);
    tokenize(engine, rule.data(), code.data(), code.size());
    const char* text = printrule(engine, code.data(), true);
    EXPECT_EQ(PRINT_LIMIT, std::strlen(text));
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in printrule: Rule too complex."},
              report_texts());
    const std::uint8_t odd[] = {T_VALUE, 99, T_END};
    EXPECT_STREQ("<unknown token: 0b><unknown token: 63>", printrule(engine, odd, false));
}

}  // namespace
}  // namespace ruvalda::test
