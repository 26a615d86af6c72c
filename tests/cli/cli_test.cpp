// ruvalda-cli as a user runs it: exit codes, stdout (the pane), stderr (reports), trace files.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

const std::string EXAMPLE = std::string(RUVALDA_SOURCE_DIR) + "/examples/crossing/crossing.rvc";

// A small program of its own: detector D011 starts the green timer TG01.
const char* SMALL =
    "# ruvalda-version=100\n"
    "%init R01\n"
    "%export G01 71\n"
    "%export R01 82\n"
    "%time TG01 20\n"
    "STG01 .= SD011\n"
    "G01 = TG01\n"
    "R01 = G01N\n";

class CliTest : public ::testing::Test {
  protected:
    std::string dir = temp_dir();
    std::string program(const char* text = SMALL) {
        write_file(dir + "/small.rvc", text);
        return "small.rvc";
    }
};

TEST_F(CliTest, checkExample_passesAndPrintsThePane) {
    Result r = run_cli({"check", EXAMPLE}, dir);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ("Time:   0.0 Ruvalda initializing...\nTime:   0.0 Ruvalda file loaded.\n" + EXAMPLE +
                  ": 0 reports, 0 warnings\n",
              r.out);
}

TEST_F(CliTest, checkWithSanityFindings_failsWithReportsOnStderr) {
    Result r = run_cli({"check", program("%init R01\n%init X01\nR01 = X01\nY01 .= 1\n")}, dir);
    EXPECT_EQ(1, r.exit_code);
    // The message ends in a line break of its own: no second one is added.
    EXPECT_EQ("Configuration Error in check_sanity: Y01 never ends.\n", r.err);
}

TEST_F(CliTest, missingFile_failsWithTheOpenReport) {
    Result r = run_cli({"check", "nowhere.rvc"}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("Error in openin: Cannot open file nowhere.rvc: "))
        << r.err;
}

TEST_F(CliTest, runWithDetectorsAndTrace_writesColoursAndDetectorLines) {
    write_file(dir + "/events.txt", "# a comment\n\n5\tD011\t1\n     6\t01\tG\n8\tD011\t0\n");
    Result r = run_cli(
        {"run", program(), "--seconds", "3.5", "--detectors", "events.txt", "--trace", "run.trace"},
        dir);
    EXPECT_EQ(0, r.exit_code) << r.err;
    // Colours set at the reset appear at time 0; the timer of 20 tenths, started after the
    // step at 0.5, runs out in the tick at 2.5 and shows its end at 2.6.
    EXPECT_EQ("     0\t01\tR\n     5\tD011\t1\n     5\t01\tG\n     8\tD011\t0\n    26\t01\tR\n",
              read_file(dir + "/run.trace"));
    std::vector<std::string> out = lines_of(r.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ("Time:   3.5 ", out.back());  // the time line once, at the end
    EXPECT_EQ(3u, out.size());
}

TEST_F(CliTest, replayOfARecordedTrace_matchesAndAChangedColourDoesNot) {
    write_file(dir + "/events.txt", "5\tD011\t1\n8\tD011\t0\n40\tD011\t1\n");
    ASSERT_EQ(0, run_cli({"run", program(), "--seconds", "6", "--detectors", "events.txt",
                          "--trace", "recorded.trace"},
                         dir)
                     .exit_code);
    Result same = run_cli({"replay", "small.rvc", "recorded.trace"}, dir);
    EXPECT_EQ(0, same.exit_code) << same.err;

    std::string trace = read_file(dir + "/recorded.trace");
    trace.replace(trace.rfind("\t01\tR\n"), 6, "\t01\tY\n");
    write_file(dir + "/changed.trace", trace);
    Result changed = run_cli({"replay", "small.rvc", "changed.trace"}, dir);
    EXPECT_EQ(1, changed.exit_code);
    EXPECT_NE(std::string::npos, changed.err.find("    26\t01\tY")) << changed.err;
    EXPECT_NE(std::string::npos, changed.err.find("    26\t01\tR")) << changed.err;
}

TEST_F(CliTest, dumpAndTraceOptions_printToStdout) {
    write_file(dir + "/events.txt", "3\tD011\t1\n");
    Result r = run_cli({"run", program(), "--seconds", "1", "--detectors", "events.txt",
                        "--trace-var", "G01=2", "--trace-stream", "1", "--dump-by-time"},
                       dir);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Time:   0.0 R01 <- 1  (initializer)\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Time:   0.3 G01     <-   1  TG01[20S].\n")) << r.out;
    // By modify time, equal times in name order.
    EXPECT_NE(
        std::string::npos,
        r.out.find("Time:   1.0 \nD011<1> (0.3)\nG01<1> (0.3)\nR01<0> (0.3)\nTG01<13> (0.3)\n"))
        << r.out;
}

TEST_F(CliTest, strict_stopsAtTheFirstReport) {
    // Without --strict the run goes on to its end, and fails there.
    Result lenient = run_cli(
        {"run", program("%init R01\n%init X01\nR01 = X01\nY01 .= 1\n"), "--seconds", "1"}, dir);
    EXPECT_EQ(1, lenient.exit_code);
    EXPECT_EQ("Time:   1.0 ", lines_of(lenient.out).back());
    EXPECT_EQ(
        "Configuration Error in check_sanity: Y01 never ends.\nruvalda-cli: small.rvc: 1 report\n",
        lenient.err);
    Result strict = run_cli({"run", "small.rvc", "--seconds", "1", "--strict"}, dir);
    EXPECT_EQ(1, strict.exit_code);
    EXPECT_EQ(lenient.err, strict.err);
    EXPECT_EQ(2u, lines_of(strict.out).size());  // loading, and no step
}

TEST_F(CliTest, usageErrors_oneLineAndExitTwo) {
    const std::vector<std::vector<std::string>> calls = {
        {},
        {"launch", "x.rvc"},
        {"run"},
        {"run", "a.rvc", "b.rvc"},
        {"run", "a.rvc", "--seconds", "1.25"},
        {"run", "a.rvc", "--seconds", "-3"},
        {"run", "a.rvc", "--trace-stream", "100"},
        {"run", "a.rvc", "--trace-var", "G01"},
        {"check", "a.rvc", "--dump"},
        {"replay", "a.rvc"},
        {"run", "a.rvc", "--detectors", "missing.txt"},
    };
    for (const auto& args : calls) {
        Result r = run_cli(args, dir);
        EXPECT_EQ(2, r.exit_code) << r.err;
        EXPECT_EQ(1u, lines_of(r.err).size()) << r.err;
        EXPECT_EQ("", r.out);
    }
    Result help = run_cli({"--help"}, dir);
    EXPECT_EQ(0, help.exit_code);
    EXPECT_EQ(0u, help.out.find("usage: ruvalda-cli check FILE.rvc"));
}

TEST_F(CliTest, timeline_drawsTheRunAndRefusesAnEmptyWindow) {
    write_file(dir + "/events.txt", "5\tD011\t1\n8\tD011\t0\n");
    Result r = run_cli(
        {"run", program(), "--seconds", "4", "--detectors", "events.txt", "--timeline", "run.svg"},
        dir);
    EXPECT_EQ(0, r.exit_code) << r.err;
    std::string svg = read_file(dir + "/run.svg");
    EXPECT_NE(std::string::npos, svg.find("<svg")) << svg.substr(0, 200);
    EXPECT_NE(std::string::npos, svg.find("small.rvc, events.txt"));
    EXPECT_NE(std::string::npos, svg.find(">01<"));
    Result empty = run_cli(
        {"run", "small.rvc", "--seconds", "4", "--timeline", "w.svg", "--from", "3", "--to", "2"},
        dir);
    EXPECT_EQ(1, empty.exit_code);
    EXPECT_NE(std::string::npos, empty.err.find("ruvalda-cli: --timeline: ")) << empty.err;
    EXPECT_EQ(2, run_cli({"run", "small.rvc", "--from", "3"}, dir).exit_code);
}

TEST_F(CliTest, badDetectorLine_namesFileAndLine) {
    write_file(dir + "/events.txt", "5\tD011\t1\n6\tX011\t1\n");
    Result r = run_cli({"run", program(), "--detectors", "events.txt"}, dir);
    EXPECT_EQ(2, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("events.txt:2:")) << r.err;
}

TEST_F(CliTest, macrosAreFoundBesideAControlFileNamedWithoutFolder) {
    write_file(dir + "/twice.mac", "%init R$1\nR$1 = X$1N\nX$1 = 0\n");
    write_file(dir + "/m.rvc", "&TWICE(07)\n");
    Result r = run_cli({"check", "m.rvc"}, dir);
    EXPECT_EQ(0, r.exit_code) << r.err;
}

}  // namespace
}  // namespace ruvalda::test
