// The variable table: scanning names, the kinds a name implies, printed and dump forms, and the
// locations recorded for the rules that set and clear a variable.
#include <string>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class Variables : public EngineTest {};

struct ScanCase {
    const char* text;
    int consumed;
    const char* name;
    int number;
    const char* after;  // the text after scanning: an "N" before the number moves behind it
};

TEST_F(Variables, getname_scansNamesNumbersAndDetectors) {
    const ScanCase cases[] = {
        {"XN05", 3, "X", 5, "X05N"},
        {"X05N", 3, "X", 5, "X05N"},
        {"AN05B", 5, "ANB", 5, "A05NB"},
        {"ABCDN05", 6, "ABCD", 5, "ABCD05N"},
        {"D051 ", 4, "D1", 5, "D051 "},
        {"D051N", 4, "D1", 5, "D051N"},
        {"DN051+", 4, "D1", 5, "D051N+"},
        {"D0512", 5, "D12", 5, "D0512"},
        {"D05", 3, "D", 5, "D05"},
        {"D1", 2, "D1", 0, "D1"},
        {"X0512", 5, "X12", 5, "X0512"},
        {"X00", 3, "X", 0, "X00"},
        {"ABCDEN", 5, "ABCDE", 0, "ABCDEN"},   // a final N is the caller's negation
        {"AB05CDE", 6, "ABCD", 5, "AB05CDE"},  // six characters at most, number included
        {"TOFF=1", 4, "TOFF", 0, "TOFF=1"},
    };
    for (const ScanCase& c : cases) {
        std::string text = c.text;
        char name[NAME_LENGTH + 2] = "?";
        int number = -1;
        EXPECT_EQ(c.consumed, getname(engine, text.data(), name, &number)) << c.text;
        EXPECT_STREQ(c.name, name) << c.text;
        EXPECT_EQ(c.number, number) << c.text;
        EXPECT_EQ(c.after, text) << c.text;
    }
    for (const char* none : {"5X", "+A", "", "N", " A"}) {
        std::string text = none;
        char name[NAME_LENGTH + 2];
        int number = 0;
        EXPECT_EQ(0, getname(engine, text.data(), name, &number)) << '"' << none << '"';
    }
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(Variables, getname_refusesBadNamesWithAReport) {
    const std::pair<const char*, const char*> cases[] = {
        {"N05 + 1", "N05 + 1"},  // the text from the N on
        {"ABCDEF = 1", "ABCDEF"}, {"ABCDEFN", "ABCDEF"},
        {"XYZAB1", "XYZAB1"},     {"ABCDEF05", "ABCDEF"},
    };
    for (const auto& [text, shown] : cases) {
        recorder.reports.clear();
        std::string scanned = text;
        char name[NAME_LENGTH + 2];
        int number = 0;
        EXPECT_EQ(0, getname(engine, scanned.data(), name, &number)) << text;
        ASSERT_EQ(1u, recorder.reports.size()) << text;
        EXPECT_EQ(CONFIGURATION_ERROR, recorder.reports[0].kind);
        EXPECT_EQ(
            "Configuration Error in getname: Bad variable name: " + std::string(shown) + ".\n",
            recorder.reports[0].text);
    }
}

TEST_F(Variables, install_derivesTheKindFromTheNameAndAppends) {
    struct {
        const char* name;
        int number;
        std::uint32_t flags;
        int limit;
    } const cases[] = {
        {"T", 0, V_TIMER, -1},    {"TOFF", 0, V_TIMER, -1}, {"TG", 5, V_TIMER, -1},
        {"D1", 5, V_DETECTOR, 0}, {"D1", 0, V_DETECTOR, 0}, {"D", 5, 0, 0},
        {"D12", 5, 0, 0},         {"DT", 7, 0, 0},          {"X", 0, 0, 0},
    };
    for (const auto& c : cases) {
        Variable* v = install_variable(engine, c.name, c.number, 0);
        ASSERT_NE(nullptr, v) << c.name;
        EXPECT_EQ(c.flags, v->flags) << c.name;
        EXPECT_EQ(c.limit, v->limit) << c.name;
        EXPECT_EQ(&engine.variables.back(), v) << c.name;
    }
    EXPECT_NE(install_variable(engine, "X", 5, 0), install_variable(engine, "X", 0, 0));
    EXPECT_STREQ("ABCDE", install_variable(engine, "ABCDEFG", 1, 0)->name);
}

TEST_F(Variables, printedForms_putTheNumberBeforeTheFirstDigit) {
    struct {
        const char* name;
        int number;
        FormatMode mode;
        const char* printed;
    } const cases[] = {
        {"RW1", 5, FormatMode::PLAIN, "RW051"},       {"A1B", 5, FormatMode::PLAIN, "A051B"},
        {"D1", 5, FormatMode::PLAIN, "D051"},         {"D1", 0, FormatMode::PLAIN, "D1"},
        {"D", 5, FormatMode::PLAIN, "D05"},           {"X", 0, FormatMode::PLAIN, "X"},
        {"X", 99, FormatMode::PLAIN, "X99"},          {"D1", 5, FormatMode::NEGATED, "D051N"},
        {"TG1", 5, FormatMode::PREFIX_RI, "RITG051"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.printed,
                     format_variable(engine, install_variable(engine, c.name, c.number, 0), c.mode))
            << c.name << c.number;
    Variable* k = install_variable(engine, "K", 5, 0);
    k->value = -3;
    k->flags |= V_START | V_END | V_CHANGED | V_EXPORTED;
    k->modify_time = 1005;
    EXPECT_STREQ("K05<-3SE> (100.5)", format_variable(engine, k, FormatMode::DUMP));
    k->value = 0;
    k->flags = V_TRACE;
    k->modify_time = 7;
    EXPECT_STREQ("K05<0> (0.7)", format_variable(engine, k, FormatMode::DUMP));
}

TEST_F(Variables, location_dropsTheFilePartOnceTheFileIsReadToItsEnd) {
    engine.source = {true, "x.rvc", 7, true, "SIG.MAC", 12};
    EXPECT_STREQ("x.rvc (7) SIG.MAC (12) ", current_location(engine));
    engine.source.file_open = false;
    EXPECT_STREQ("SIG.MAC (12) ", current_location(engine));
    EXPECT_EQ("SIG.MAC (12) ", install_variable(engine, "A", 1, LOC_CLEAR)->clear_location);
    engine.source.macro_open = false;
    EXPECT_STREQ("", current_location(engine));
}

}  // namespace
}  // namespace ruvalda::test
