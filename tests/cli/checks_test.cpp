// The mistakes engineers make, as ruvalda-cli meets them: warnings with their file and line,
// and exit codes that never call a failed run a success.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

const std::string EXAMPLES = std::string(RUVALDA_SOURCE_DIR) + "/examples";
const std::string CROSSING = EXAMPLES + "/crossing/crossing.rvc";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

int line_of(const std::string& text, const std::string& start) {
    const std::vector<std::string> lines = lines_of(text);
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].compare(0, start.size(), start) == 0) return static_cast<int>(i) + 1;
    ADD_FAILURE() << "no line starting " << start;
    return 0;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::string at(const std::string& file, int line) {
    return file + "(" + std::to_string(line) + "): warning: ";
}

class MistakesTest : public ::testing::Test {
  protected:
    std::string dir = temp_dir();
    std::string crossing = read_file(CROSSING);
    std::string detectors = read_file(EXAMPLES + "/crossing/crossing.DTL");

    void write_program(const std::string& text, const std::string& dtl) {
        write_file(dir + "/x.rvc", text);
        if (!dtl.empty()) write_file(dir + "/x.DTL", dtl);
    }
};

TEST_F(MistakesTest, mistakesInRulesAndDeclarations_warnWithFileAndLine_andFailCheck) {
    std::string text = replaced(crossing, "MRA = G01 + G07", "MRA = G01 + GO7");  // letter O
    text = replaced(text, "04   40  40", "04   -1  40");  // 01 conflicts with 04, not back
    text = replaced(text, "D2    1  -1", "D2    2  -1");
    text = replaced(text, "MRD = G05 + G11\n",
                    "MRD = G05 + G11\nD011 = G01\n%time TQQ01 30\nMRQ = TQQ01\n");
    write_program(text, detectors);

    Result r = run_cli({"check", "x.rvc"}, dir);
    EXPECT_EQ(1, r.exit_code);
    const std::vector<std::string> expected = {
        at("x.rvc", line_of(text, "MRA =")) +
            "GO7 is read but nothing gives it a value: no rule assigns it, no %init names it, "
            "and it is no detector or timer",
        at("x.rvc", line_of(text, "D011 =")) +
            "a rule assigns detector D011; a detector takes its value from the detector input "
            "only",
        at("x.rvc", line_of(text, "%time TQQ01")) +
            "timer TQQ01 has a time limit but no rule starts it",
        at("x.rvc", line_of(text, "04 ")) +
            "stream 01 conflicts with 04 (clearance 40) but the line of 04 gives -1 for 01: give "
            "the conflict in both directions",
        at("x.rvc", line_of(text, "D2 ")) +
            "row D2 gives 2 for stream 01: a detector row takes 1 (demand and extension), 0 "
            "(demand only) or -1 (no detector)",
    };
    EXPECT_EQ(expected, lines_of(r.err));
    EXPECT_EQ("x.rvc: 0 reports, 5 warnings", lines_of(r.out).back());

    Result allowed = run_cli({"check", "x.rvc", "--allow-warnings"}, dir);
    EXPECT_EQ(0, allowed.exit_code) << allowed.err;
    EXPECT_EQ(r.err, allowed.err);
    // run warns the same at its start; with --strict it stops there.
    Result strict = run_cli({"run", "x.rvc", "--strict"}, dir);
    EXPECT_EQ(1, strict.exit_code);
    EXPECT_EQ(r.err, strict.err);
    EXPECT_EQ(2u, lines_of(strict.out).size()) << strict.out;
}

TEST_F(MistakesTest, streamWithoutItsCompanion_isPlacedWhereItIsFirstMet) {
    const std::string text = replaced(read_file(EXAMPLES + "/tjunction/tjunction.rvc"), "%rules\n",
                                      "%rules\nMRX = G31\n");
    write_program(text, read_file(EXAMPLES + "/tjunction/tjunction.DTL"));
    Result r = run_cli({"check", "x.rvc"}, dir);
    EXPECT_EQ(1, r.exit_code);
    const std::vector<std::string> err = lines_of(r.err);
    ASSERT_EQ(3u, err.size()) << r.err;
    EXPECT_EQ("Configuration Error in RVCheckConsistency: Illegal combination: 31 and not 32.",
              err[0]);
    EXPECT_EQ(at("x.rvc", line_of(text, "MRX")) +
                  "G31 puts stream 31 in the program but 32 is not: stream 31 goes only with 32",
              err[2]);
}

TEST_F(MistakesTest, detectorFileMistakes_warnWithFileAndLine) {
    write_program(crossing, "");
    Result missing = run_cli({"check", "x.rvc"}, dir);
    EXPECT_EQ(1, missing.exit_code);
    EXPECT_EQ(std::vector<std::string>{at("x.rvc", line_of(crossing, "D1 ")) +
                                       "rules read detectors (D011 first) but there is no x.DTL: "
                                       "no simulator detector reaches them"},
              lines_of(missing.err));

    // Text after the numbers, a simulator number twice, a detector the program lacks (the
    // pane names it as the dump does), and detector 72 left out.
    std::string dtl = replaced(detectors, "1012 12\n", "1011 12 # 12\n1999 991\r\n");
    dtl = replaced(dtl, "1072 72\n", "");
    dtl = replaced(dtl, "1021 21", "1021 21 x");
    write_program(crossing, dtl);
    Result r = run_cli({"check", "x.rvc"}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.out.find("x.DTL(3): no detector D991 (\"1999 991\").\n"))
        << r.out;
    const std::vector<std::string> expected = {
        at("x.DTL", 2) + "text after the two numbers (\"1011 12 # 12\")",
        at("x.DTL", 2) + "simulator detector 1011 is given twice (first on line 1)",
        at("x.DTL", 3) + "no rule reads detector D991 (\"1999 991\")",
        at("x.DTL", 4) + "text after the two numbers (\"1021 21 x\")",
        at("x.rvc", line_of(crossing, "D2 ")) +
            "detector D072 is read by rules but x.DTL maps no simulator detector to it",
    };
    EXPECT_EQ(expected, lines_of(r.err));
}

TEST_F(MistakesTest, shippedPrograms_checkWithoutReportOrWarning) {
    int checked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(EXAMPLES)) {
        if (entry.path().extension() != ".rvc") continue;
        const std::string name = entry.path().string();
        Result r = run_cli({"check", name}, dir);
        EXPECT_EQ(0, r.exit_code) << name << "\n" << r.err;
        EXPECT_EQ("", r.err) << name;
        EXPECT_EQ(name + ": 0 reports, 0 warnings", lines_of(r.out).back());
        ++checked;
    }
    EXPECT_GE(checked, 6);
}

// A small program: D011 starts the green timer.
const char* SMALL =
    "%init R01\n%export G01 71\n%export R01 82\n%time TG01 20\nSTG01 .= SD011\nG01 = TG01\n"
    "R01 = G01N\n";

TEST_F(MistakesTest, runAfterReportsOrOscillation_goesToTheEndAndFails) {
    write_program("%init R01\nR01 = X01\nX01 = Y01N\nY01 = X01\n", "");
    Result r = run_cli({"run", "x.rvc", "--seconds", "1", "--trace", "x.trace"}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ("Time:   1.0 R01 X01 Y01 oscillating ", lines_of(r.out).back());
    EXPECT_EQ("ruvalda-cli: x.rvc: 0 reports, oscillating in 10 steps", lines_of(r.err).back());
}

TEST_F(MistakesTest, unwritableOutputsAndNamesThatAreNotThere_areUsageErrors) {
    write_program(SMALL, "");
    write_file(dir + "/events.txt",
               "5\tD011\t1\n# D099 is no detector of the program\n8\tD099\t1\n");
    write_file(dir + "/backwards.txt", "5\tD011\t1\n3\tD011\t0\n");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"run", "x.rvc", "--trace", "no/such/t.trc"},
         "ruvalda-cli: cannot write the --trace file \"no/such/t.trc\": No such file or "
         "directory"},
        {{"sumo", "x.rvc", "sumo://localhost:1", "--timeline", "no/such/t.svg"},
         "ruvalda-cli: cannot write the --timeline file \"no/such/t.svg\": No such file or "
         "directory"},
        {{"run", "x.rvc", "--detectors", "events.txt"},
         "ruvalda-cli: events.txt:3: no detector D099 in x.rvc"},
        {{"run", "x.rvc", "--detectors", "backwards.txt"},
         "ruvalda-cli: backwards.txt:2: time 3 is earlier than the detector line before it (5); "
         "the lines go in time order (see ruvalda-cli --help)"},
        {{"run", "x.rvc", "--trace-var", "NOSUCH=2"},
         "ruvalda-cli: --trace-var NOSUCH: no rule of x.rvc assigns a variable of that name (see "
         "ruvalda-cli --help)"},
        {{"run", "x.rvc", "--trace-var", "G01=7"},
         "ruvalda-cli: --trace-var takes the value 2 (changes), 4 (every evaluation) or 6 "
         "(both), not 7 (see ruvalda-cli --help)"},
    };
    for (const auto& c : cases) {
        Result r = run_cli(c.args, dir);
        EXPECT_EQ(2, r.exit_code) << c.message;
        EXPECT_EQ(c.message, lines_of(r.err).back());
    }
}

TEST_F(MistakesTest, fullDisk_isReportedOnceWithTheReasonAndFails) {
    write_program(SMALL, "");
    const std::string full = "No space left on device";
    Result trace = run_cli({"run", "x.rvc", "--trace", "/dev/full", "--seconds", "2"}, dir);
    EXPECT_EQ(1, trace.exit_code);
    EXPECT_EQ(1u, count_of(trace.err, "Error writing trace file")) << trace.err;
    EXPECT_NE(std::string::npos,
              trace.err.find("Error in RVRunUntil: Error writing trace file /dev/full: " + full))
        << trace.err;
    Result timeline = run_cli({"run", "x.rvc", "--timeline", "/dev/full"}, dir);
    EXPECT_EQ(1, timeline.exit_code);
    EXPECT_NE(std::string::npos, timeline.err.find("ruvalda-cli: --timeline: cannot write "
                                                   "/dev/full: " +
                                                   full))
        << timeline.err;
    // Standard output: the pane and the dump.
    const std::string command = "cd " + test::quoted(dir) + " && " + test::quoted(RUVALDA_CLI) +
                                " run x.rvc --dump >/dev/full 2>err.txt";
    const int status = std::system(command.c_str());
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_EQ("ruvalda-cli: cannot write to standard output: " + full,
              lines_of(read_file(dir + "/err.txt")).back());
}

TEST_F(MistakesTest, adjustFileThatCannotBeRemoved_isReportedOnceAndNotTakenAgain) {
    write_program(SMALL, "");
    // A folder in its place opens, reads as nothing and cannot be removed while it holds a file.
    std::filesystem::create_directories(dir + "/x.adj/kept");
    Result r = run_cli({"run", "x.rvc", "--seconds", "2"}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(1u, count_of(r.err, "Cannot remove adjust file")) << r.err;
    EXPECT_NE(std::string::npos,
              r.err.find("Error in settle: Cannot remove adjust file x.adj: Directory not empty. "
                         "It is not applied again."))
        << r.err;
}

TEST_F(MistakesTest, byteOrderMarkAndOverlongComment_loadTheSameProgram) {
    write_program(crossing, detectors);
    Result plain = run_cli({"run", "x.rvc", "--seconds", "2", "--dump"}, dir);
    ASSERT_EQ(0, plain.exit_code) << plain.err;

    const std::string comment = "# " + std::string(1500, 'X') + "\n";
    write_program("\xEF\xBB\xBF" + replaced(crossing, "%rules\n", "%rules\n" + comment), detectors);
    Result marked = run_cli({"run", "x.rvc", "--seconds", "2", "--dump"}, dir);
    EXPECT_EQ(1, marked.exit_code);  // the long line is reported
    EXPECT_EQ(plain.out, marked.out);
    EXPECT_EQ(std::vector<std::string>({"Configuration Error in readin: x.rvc(" +
                                            std::to_string(line_of(crossing, "%rules") + 1) +
                                            "): line too long (more than 999 characters), skipped.",
                                        "ruvalda-cli: x.rvc: 1 report"}),
              lines_of(marked.err));
}

}  // namespace
}  // namespace ruvalda::test

namespace ruvalda::test {
namespace {

class ReportPlaceTest : public MistakesTest {
  protected:
    std::vector<std::string> check_errors(const std::string& text) {
        write_program(text, detectors);
        Result r = run_cli({"check", "x.rvc"}, dir);
        EXPECT_EQ(1, r.exit_code);
        return lines_of(r.err);
    }
    static std::size_t count_starting(const std::vector<std::string>& lines,
                                      const std::string& start) {
        std::size_t n = 0;
        for (const std::string& line : lines) n += line.compare(0, start.size(), start) == 0;
        return n;
    }
};

TEST_F(ReportPlaceTest, loadReports_nameFileAndLine_onceForBothPasses) {
    const std::string text =
        replaced(crossing, "IG   20  20  20  20  20  20  20  20  20  20  20  20  20  20  20  20",
                 "IG   20  20  20");
    const std::vector<std::string> err = check_errors(text);
    EXPECT_EQ(1u, count_starting(err,
                                 "Configuration Error in dosupermacro: Too few values in rule "
                                 "IG   20  20  20. [x.rvc(" +
                                     std::to_string(line_of(text, "IG ")) + ")]"))
        << ::testing::PrintToString(err);
}

TEST_F(ReportPlaceTest, likelyCauses_followTheirFirstReportAsOneHint) {
    const std::string columns = "#\tMINGREEN\tMAXGREEN\tAMBER\t\n";
    const struct {
        std::string text, hint;
    } cases[] = {
        {replaced(crossing, columns, ""), "Hint: a %tt line takes one time per column"},
        {replaced(crossing, columns, "#  MINGREEN  MAXGREEN  AMBER\n"),
         "Hint: the columns are counted from x.rvc(" +
             std::to_string(line_of(crossing, "#\tMINGREEN")) +
             "), which has no tab: only tabs make columns, and the column line must come right "
             "before the declaration block."},
        {replaced(crossing, columns, "#\tMINGREEN\tMAXGREEN\tAMBER\n"),
         "Hint: this %tt line gives 3 times, but the column line at x.rvc(" +
             std::to_string(line_of(crossing, "#\tMINGREEN")) +
             ") names 2 columns (a name is a column when a tab ends it)."},
        {replaced(crossing, "# 6 4\n", "# 4 6\n"),
         "Hint: the line after \"# Conflictgroups Conflictgroupsize\" gives the number of "
         "groups, then their size; this group line holds 4 entries, so 4 and 6 look swapped."},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> err = check_errors(c.text);
        EXPECT_EQ(1u, count_starting(err, c.hint)) << ::testing::PrintToString(err);
        std::size_t at = 0;
        while (at < err.size() && err[at].compare(0, c.hint.size(), c.hint) != 0) ++at;
        ASSERT_GT(at, 0u);
        ASSERT_LT(at, err.size());
        EXPECT_NE(std::string::npos, err[at - 1].find("Error in ")) << "the hint follows a report";
    }
}

}  // namespace
}  // namespace ruvalda::test
