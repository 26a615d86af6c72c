// The checks at every reset: red states, companion streams and the sanity of every variable.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class ChecksTest : public EngineTest {};
using Lines = std::vector<std::string>;

const std::string CONSISTENCY = "Configuration Error in RVCheckConsistency: ";
std::string hint(const std::string& red) {
    return "\nHint: a stream starts red: give its red state a start value with \"%init " + red +
           "\".";
}
const std::string SANITY = "Configuration Error in check_sanity: ";

// One plain variable per stream, set and cleared by its own rule.
std::vector<std::string> streams(const std::vector<int>& numbers) {
    std::vector<std::string> program;
    for (int n : numbers) {
        char rule[16];
        std::snprintf(rule, sizeof rule, "K%02d = K%02d", n, n);
        program.push_back(rule);
    }
    return program;
}

TEST_F(ChecksTest, redStateNotInitialised_isIllDefinedStream_firstOneOnly) {
    const struct {
        std::vector<std::string> program;
        std::vector<std::string> reports;
    } cases[] = {
        // each with the likely cause after it
        {{"R05 = D051"}, {CONSISTENCY + "Ill-defined stream: 05." + hint("R05")}},
        {{"R = D051"}, {CONSISTENCY + "Ill-defined stream: 00." + hint("R")}},
        // the first problem ends the check: no second stream, no companions, no sanity
        {{"R21 = D211", "R06 = D061", "%init Q07"},
         {CONSISTENCY + "Ill-defined stream: 21." + hint("R21")}},
        {{"%init R05", "R05 = D051"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program[0]);
        recorder.reports.clear();
        ASSERT_EQ(load(c.program), 0);
        EXPECT_EQ(RVInitialize(engine), c.reports.empty() ? 1 : 0);
        EXPECT_EQ(report_texts(), c.reports);
    }
}

TEST_F(ChecksTest, companionStreams_firstMissingRowIsReported) {
    // clang-format off
    const std::pair<std::vector<int>, const char*> cases[] = {  // report "" : the check passes
        {{21}, "21 and not 22."}, {{21, 22}, ""}, {{23}, "23 and not 24."},
        {{25}, "25 and not 26."}, {{27}, "27 and not 28."}, {{31}, "31 and not 32."},
        {{33}, "33 and not 34."}, {{35}, "35 and not 36."}, {{37}, "37 and not 38."},
        {{62}, "62 and not 02."}, {{62, 2}, ""}, {{63}, "63 and not 02 or 03."},
        {{63, 3}, ""}, {{63, 2}, ""}, {{65}, "65 and not 05."}, {{66}, "66 and not 05 or 06."},
        {{66, 6}, ""}, {{68}, "68 and not 08."}, {{69}, "69 and not 08 or 09."}, {{69, 8}, ""},
        {{71}, "71 and not 11."}, {{72}, "72 and not 11 or 12."}, {{72, 12}, ""},
        {{72, 21}, "21 and not 22."},  // rows are tried in table order
    };
    // clang-format on
    for (const auto& [numbers, report] : cases) {
        SCOPED_TRACE(testing::PrintToString(numbers));
        recorder.reports.clear();
        ASSERT_EQ(load(streams(numbers)), 0);
        const bool pass = *report == '\0';
        EXPECT_EQ(RVCheckConsistency(engine), pass ? 1 : 0);
        EXPECT_EQ(report_texts(),
                  pass ? Lines() : Lines{CONSISTENCY + "Illegal combination: " + report});
    }
}

TEST_F(ChecksTest, consistencyCheck_marksOnlyUnusedStreamWordsAsExisting) {
    ASSERT_EQ(load(streams({5, 6})), 0);
    std::memset(engine.stream_flags, 0, sizeof engine.stream_flags);
    RVSetStreamFlags(engine, 6, SF_TRACE);
    EXPECT_EQ(RVCheckConsistency(engine), 1);
    EXPECT_EQ(RVGetStreamFlags(engine, 5), SF_EXISTS);
    EXPECT_EQ(RVGetStreamFlags(engine, 6), SF_TRACE);
}

TEST_F(ChecksTest, sanityFindings_reportedAndCountedAsAsked) {
    const struct {
        std::vector<std::string> program;
        int asked, found;
        std::vector<std::string> reports;
    } cases[] = {
        {{"%init Q05", "K05 = K05"}, SANITY_ALL, 0x20, {SANITY + "Q05 never used."}},
        {{"%init TOFF", "K05 = K05"}, SANITY_ALL, 0x20, {}},
        {{"ITA05 .= D051"}, SANITY_ALL, 0x10, {SANITY + "TA05: has no time limit."}},
        {{"%time TA05 9", "ITA05 .= D051"}, SANITY_ALL, 0, {}},
        {{"%init TB05"}, SANITY_ALL, 0x20, {SANITY + "TB05 never used."}},
        {{"K05 = TB05"}, SANITY_ALL, 0, {}},
        {{"K05N .= D051"}, SANITY_ALL, 0x04, {SANITY + "K05 never starts."}},
        {{"K05 .= D051"}, SANITY_ALL, 0x02, {SANITY + "K05 never ends.\n"}},
        {{"%time TA05 5", "STA05 .= D051"}, SANITY_ALL, 0, {}},
        {{"%init Q05", "K05 .= D051"}, SANITY_NEVER_ENDS, 0x02, {SANITY + "K05 never ends.\n"}},
        {{"%init Q05", "K05 .= D051"}, SANITY_NEVER_USED, 0x20, {SANITY + "Q05 never used."}},
        {{"%init Q05", "K05N .= D051", "ITA05 .= D051"},
         SANITY_ALL,
         0x34,
         {SANITY + "Q05 never used.", SANITY + "K05 never starts.",
          SANITY + "TA05: has no time limit."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.program));
        recorder.reports.clear();
        ASSERT_EQ(load(c.program), 0);
        EXPECT_EQ(check_sanity(engine, c.asked), c.found);
        EXPECT_EQ(report_texts(), c.reports);
        if (c.asked == SANITY_ALL) {
            recorder.reports.clear();
            EXPECT_EQ(RVCheckConsistency(engine), c.found == 0 ? 1 : 0);
        }
    }
}

TEST_F(ChecksTest, tenUnusedVariables_giveTenReportsEvenAfterNo) {
    std::vector<std::string> program;
    for (char letter = 'A'; letter <= 'J'; ++letter)
        program.push_back(std::string("%init Q") + letter + "05");
    ASSERT_EQ(load(program), 0);
    recorder.answers = {false};
    EXPECT_EQ(RVInitialize(engine), 0);
    std::vector<std::string> expected;
    for (char letter = 'A'; letter <= 'J'; ++letter)
        expected.push_back(SANITY + "Q" + letter + "05 never used.");
    EXPECT_EQ(report_texts(), expected);
    EXPECT_TRUE(engine.output.end_requested);
}

}  // namespace
}  // namespace ruvalda::test
