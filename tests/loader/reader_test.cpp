// The control-file reader: physical lines, comments and their markers, and the directives.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/loader/loader_file_fixture.h"

namespace ruvalda::test {
namespace {

using Line = std::pair<std::string, int>;  // text handed on, line number when handed on

class ReaderTest : public LoaderFileTest {
  protected:
    std::vector<Line> raw_lines(const std::string& text) {
        std::vector<Line> lines;
        put("x.rvc", text);
        if (!openin(reader_state, engine, (dir + "/x.rvc").c_str())) return lines;
        while (const char* line = read_raw(reader_state, engine))
            lines.emplace_back(line, engine.source.line);
        closein(reader_state, engine);
        return lines;
    }
};

TEST_F(ReaderTest, physicalLines_areFreedOfCommentsAndBlankLines_tooLongOnesSkippedWhole) {
    const std::string a(2500, 'a');
    const std::string padded = "X = 1" + std::string(994, ' ');  // just fills a piece
    const std::string bom = "\xEF\xBB\xBF";                      // as Windows Notepad saves
    const struct {
        std::string file;
        std::vector<Line> expected;
        std::vector<int> too_long;  // lines reported and skipped
    } cases[] = {
        {"x = a # comment # more\n", {{"x = a ", 1}}, {}},
        {"# only\n\n   \n\t\t\n \t \nX = 1\n", {{"X = 1", 6}}, {}},
        {"X = 1\r\n\r\n\t\r\nY = 2\r\n", {{"X = 1", 1}, {"Y = 2", 4}}, {}},
        {"   Z = 3", {{"   Z = 3", 1}}, {}},
        {"Y = 1\n" + a, {{"Y = 1", 1}}, {2}},
        {padded + "\r\nY = 2 # c\n", {{padded, 1}, {"Y = 2 ", 2}}, {}},
        {padded + "Y = 2\nW = 3\n", {{"W = 3", 2}}, {1}},
        {"#" + a + "\nW = 4\n", {{"W = 4", 2}}, {1}},
        {bom + "V = 5\n" + bom + "U = 6\n", {{"V = 5", 1}, {bom + "U = 6", 2}}, {}},
    };
    for (const auto& c : cases) {
        recorder.reports.clear();
        EXPECT_EQ(c.expected, raw_lines(c.file)) << c.file.substr(0, 40);
        std::vector<std::string> expected_reports;
        for (int line : c.too_long)
            expected_reports.push_back("Configuration Error in readin: " + dir + "/x.rvc(" +
                                       std::to_string(line) +
                                       "): line too long (more than 999 characters), skipped.");
        std::vector<std::string> got;
        for (const Report& r : recorder.reports) got.push_back(r.text);
        EXPECT_EQ(expected_reports, got) << c.file.substr(0, 40);
    }
    // A load reads the file twice and tells once.
    recorder.reports.clear();
    EXPECT_EQ(1, load_text("X = 1\n#" + a + "\nY = X\n"));
    EXPECT_EQ(1u, recorder.reports.size()) << reports();
    EXPECT_TRUE(has_var("Y"));
}

TEST_F(ReaderTest, versionMismatch_isReportedOncePerRunOfTheProgram) {
    recorder.answers.push_back(false);  // No: the program is to end, but the load goes on
    ASSERT_EQ(1, load_text("# plan\n# ruvalda-version=101\nX = 1\n")) << reports();
    ASSERT_EQ(1, load_text("# ruvalda-version=102\nX = 1\n")) << reports();
    EXPECT_TRUE(engine.output.end_requested);
    const std::string name = dir + "/x.rvc";
    EXPECT_EQ(std::vector<std::string>{"Error in read_raw: " + name +
                                       "(2):\n Error: this program supports only RUVALDA files "
                                       "of version 100.\n File " +
                                       name + " is of version 101."},
              report_texts());
}

TEST_F(ReaderTest, versionHeader_isComparedOnSixteenCharactersOfTheComment) {
    const std::pair<const char*, bool> cases[] = {{"# ruvalda-version=100", false},
                                                  {"#ruvalda-version=101", false},
                                                  {"X = 1 # ruvalda-version=103", true},
                                                  {"# ruvalda-versioXY104", true}};
    for (const auto& [line, warned] : cases) {
        reader_state.version_warned = false;
        recorder.reports.clear();
        raw_lines(std::string(line) + "\n");
        EXPECT_EQ(warned ? 1u : 0u, recorder.reports.size()) << line << reports();
    }
    recorder.reports.clear();
    raw_lines("# ruvalda-version=abc\n");
    EXPECT_EQ("Error in read_raw: Error parsing Version information \"# ruvalda-version=abc\".",
              report_texts().at(0));
}

TEST_F(ReaderTest, sequenceMarker_callsTheHandlerWhichReadsItsOwnLines) {
    const struct {
        const char* marker;
        bool is_marker;
    } cases[] = {{"# Sequence", true}, {"# sequence", true},  {"# Sequences", true},
                 {"#Sequence", false}, {"# SEQUENCE", false}, {"X = 1 # Sequence", true}};
    for (const auto& c : cases) {
        int calls = 0;
        reader_state.sequence_handler = [&](EngineState&, std::FILE* file, int* line) {
            ++calls;
            char buffer[100];
            if (std::fgets(buffer, sizeof buffer, file)) ++*line;  // takes the next line
        };
        const std::vector<Line> lines = raw_lines(std::string(c.marker) + "\nQ = 1\nW = 2\n");
        EXPECT_EQ(c.is_marker ? 1 : 0, calls) << c.marker;
        EXPECT_EQ(Line("W = 2", 3), lines.back()) << c.marker;
    }
    // A handler that ends the reading leaves the rest of the file unread.
    reader_state.sequence_handler = [](EngineState&, std::FILE*, int* line) { *line = -1; };
    EXPECT_EQ((std::vector<Line>{{"X = 1", 1}}), raw_lines("X = 1\n# Sequence\nY = 2\n"));
    EXPECT_TRUE(recorder.reports.empty()) << reports();
}

TEST_F(ReaderTest, sequenceMarkerWithoutHandler_isReportedAndItsWholeLineDropped) {
    EXPECT_EQ((std::vector<Line>{{"Y = 2", 3}}), raw_lines("\nX = 1 # Sequence\nY = 2\n"));
    EXPECT_EQ(std::vector<std::string>{"Error in read_raw: " + dir +
                                       "/x.rvc(2): No handler for \"Sequence\" active."},
              report_texts());
}

TEST_F(ReaderTest, phaseTimerHeader_countsTheColumnsOfTheNextCommentLines) {
    const std::string header = "# PHASE TIMERS IN TENTH OF SECONDS\n";
    const struct {
        std::string after_header;
        int expected;
    } cases[] = {
        {"#\tTGG\tTGL\tTVG\t\nX = 1\n", 3},
        {"#\tTGG\tTGL\tTVG\nX = 1\n", 2},
        {"#\tA\tBC\t\nX = 1\n", 1},
        {"#\tMINGREEN\tMAXGREEN\tAMBER\t\n%mat 1\n", 3},
        {"#\tA1\tB1\t\n# a later comment\nX = 1\n", 0},  // the last comment line counts
        {"X = 1\n#\tA1\tB1\t\n", 7},                     // a rule line ends the counting
    };
    for (const auto& c : cases) {
        reader_state.phase_timer_count = 7;
        raw_lines(header + c.after_header);
        EXPECT_EQ(c.expected, reader_state.phase_timer_count) << c.after_header;
    }
    // Neither openin nor a file without the header resets the count.
    raw_lines("X = 1\n");
    EXPECT_EQ(7, reader_state.phase_timer_count);
}

TEST_F(ReaderTest, conditions_seeTheFlagsOfTheRulesAbove) {
    const struct {
        const char* above;
        const char* condition;
        bool kept;
    } cases[] = {
        {"", "%if 0 K = 1", false},
        {"", "%if 0 0 K = 1", false},
        {"", "%if N0 K = 1", true},
        {"", "%if 7 K = 1", true},
        {"", "%if 0 1 K = 1", true},
        {"", "%if S A K = 1", false},  // no such variable
        {"", "%if NS A K = 1", true},
        {"A .= B", "%if S A K = 1", true},
        {"A .= B", "%IF s a k = 1", true},
        {"A .= B", "%if E A K = 1", false},
        {"AN .= B", "%if E A K = 1", true},
        {"A .= B", "%if A K = 1", false},  // neither S nor E: both
        {"A .= B\nAN .= C", "%if A K = 1", true},
        {"A .= B\nAN .= C", "%if SEA K = 1", true},  // S and E are flags, the name is A
        {"A .= B", "%if NA K = 1", true},            // N is a flag, the name is A
        {"B = A", "%if = A K = 1", true},
        {"A .= B", "%if = A K = 1", false},
        {"A .= B\nAN .= C", "%if = A K = 1", true},
        {"%time TA 50", "%if E TA K = 1", true},
        {"B = TA", "%if E TA K = 1", false},  // no limit given
        {"%time TA 50", "%if TA K = 1", false},
        {"%time TA 50\nSTA .= B", "%if TA K = 1", true},
        {"A .= C\nBN .= C", "%if S A %if E B K = 1", true},
        {"A .= C", "%if S A %if E B K = 1", false},
        {"", "%if S A K = 1\nA .= B", false},  // a rule further down is not seen
    };
    for (const auto& c : cases) {
        recorder.reports.clear();
        ASSERT_EQ(1, load_text(std::string(c.above) + "\n" + c.condition + "\n")) << reports();
        const std::vector<std::string> r = rules();
        EXPECT_EQ(c.kept, std::find(r.begin(), r.end(), "K=1") != r.end())
            << c.above << " / " << c.condition;
        EXPECT_TRUE(recorder.reports.empty()) << reports();
    }
}

TEST_F(ReaderTest, directives_initTimeShowAndExportTheirVariables) {
    ASSERT_EQ(1, load_text("%INIT r05 and the rest\n%time T1 50 60\n%TIMET2 30\n%time T3\n"
                           "%show G05 300\n%export G05 200\n%Export Y05 71\n%init A %init B\n"
                           "G05 = T1 + T2 + T3 + A\n"))
        << reports();
    EXPECT_EQ(std::vector<std::string>{"G05=T1+T2+T3+A"}, rules());
    EXPECT_TRUE(var("R05").flags & V_INIT);
    EXPECT_EQ(50, var("T1").limit);
    EXPECT_EQ(30, var("T2").limit);
    EXPECT_EQ(0, var("T3").limit);
    EXPECT_EQ(44, var("G05").show_code);
    EXPECT_EQ(-56, var("G05").export_code);
    EXPECT_TRUE(var("G05").flags & V_EXPORTED);
    EXPECT_EQ('G', var("Y05").export_code);
    EXPECT_TRUE(var("A").flags & V_INIT);
    EXPECT_FALSE(has_var("B"));  // one directive per line
}

TEST_F(ReaderTest, timeDirective_readsOnlyDigitsAsTheLimit) {
    ASSERT_EQ(1, load_text("%time T1 -5\nX = T1\n")) << reports();
    EXPECT_EQ(0, var("T1").limit);
}

TEST_F(ReaderTest, timeOnANonTimer_isReportedOnceWithItsLineAndChangesNothing) {
    ASSERT_EQ(1, load_text("X = 1\n%time X 50\n")) << reports();
    EXPECT_EQ(0, var("X").limit);
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in readin: Error: cannot initialize a "
                                       "non-timer: X 50. [" +
                                       dir + "/x.rvc(2)]"},
              report_texts());
}

}  // namespace
}  // namespace ruvalda::test
