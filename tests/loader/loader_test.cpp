// Loading control files from disk: the reader's lines and markers, directives, macros, the
// declaration block, the two passes and the side files.
#include <cstdio>
#include <filesystem>
#include <functional>

#include "loader/reader.h"
#include "sequence/sequence_model.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

// The reader keeps 100 characters of a control file's name for its messages, so the files of
// these tests stand in a short folder of their own wherever the build is.
std::string short_dir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/rvl-%zx",
                  std::hash<std::string>{}(std::string(RUVALDA_SOURCE_DIR) + info->name()));
    std::filesystem::remove_all(name);
    std::filesystem::create_directories(name);
    return name;
}

class LoaderTest : public EngineTest {
  protected:
    std::string dir = short_dir();

    void SetUp() override {
        EngineTest::SetUp();
        reader_state.sequence_handler = sequence_reader(sequence_model);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        EngineTest::TearDown();
    }
    // Writes the control file and loads it with the macro path of a front end.
    int load_file(const std::string& text, const std::string& name = "x.rvc") {
        write_file(dir + "/" + name, text);
        reader_state.macro.macro_path = macro_path_for(dir + "/" + name, dir + "/program");
        return RVLoadFile(reader_state, engine, (dir + "/" + name).c_str());
    }
    std::vector<std::string> rules() {
        std::vector<std::string> printed;
        for (const RuleRecord& r : engine.rule_table)
            printed.push_back(printrule(engine, r.code, false));
        return printed;
    }
    std::string dump() { return read_file(dir + "/x.rvc_dumpexpr.txt"); }
};

TEST_F(LoaderTest, linesCommentsAndBlankLines_giveOneRuleEach) {
    std::string long_line(2500, ' ');
    long_line[0] = '#';
    ASSERT_EQ(1, load_file("x = a # comment # more\r\n\t \n" + long_line + "\n  y = b\n"))
        << testing::PrintToString(report_texts());
    EXPECT_EQ((std::vector<std::string>{"X=A", "Y=B"}), rules());
    // The long comment line counts as three lines: y = b stands on line 6.
    EXPECT_NE(std::string::npos, dump().find("x = a \n"));
}

TEST_F(LoaderTest, versionMismatch_isReportedOncePerRun) {
    ASSERT_EQ(1, load_file("# ruvalda-version=101\nX = 1\n"))
        << testing::PrintToString(report_texts());
    ASSERT_EQ(1, load_file("# ruvalda-version=101\nX = 1\n"))
        << testing::PrintToString(report_texts());
    EXPECT_EQ(std::vector<std::string>{std::string("Error in read_raw: ") + dir +
                                       "/x.rvc(1):\n Error: this program supports only RUVALDA "
                                       "files of version 100.\n File " +
                                       dir + "/x.rvc is of version 101."},
              report_texts());
}

TEST_F(LoaderTest, directives_setInitLimitsShowAndExport) {
    ASSERT_EQ(1, load_file("%INIT r05\n%time T1 50\n%time X 50\n%show G05 300\n%export G05 200\n"
                           "G05 = T1\nSTT1 .= D051\nX = 1\nR05 = G05N\n"))
        << testing::PrintToString(report_texts());
    EXPECT_TRUE(var("R05").flags & V_INIT);
    EXPECT_EQ(50, var("T1").limit);
    EXPECT_EQ(0, var("X").limit);
    EXPECT_EQ(44, var("G05").show_code);
    EXPECT_EQ(-56, var("G05").export_code);
    EXPECT_TRUE(var("G05").flags & V_EXPORTED);
    // Made in both passes of the load, shown once, with its place.
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in readin: Error: cannot initialize a "
                                       "non-timer: X 50. [" +
                                       dir + "/x.rvc(3)]"},
              report_texts());
}

TEST_F(LoaderTest, conditions_seeOnlyTheRulesAbove) {
    ASSERT_EQ(1, load_file("%if S A B = 1\nA = C\n%if S A %if E A D = 1\n%if 0 X = 1\n%if 1\n"
                           "%if N0 F = 1\n%if 7 G = 1\n%if =C H = 1\n%if N= C J = 1\n"))
        << testing::PrintToString(report_texts());
    EXPECT_EQ((std::vector<std::string>{"A=C", "D=1", "F=1", "G=1", "H=1"}), rules());
    EXPECT_NE(std::string::npos, dump().find("# Preceding rule not taken\n"));
    EXPECT_NE(std::string::npos, dump().find("# preceding rule taken, resulting code \"D = 1\"\n"));
}

TEST_F(LoaderTest, macros_expandArgumentsAndFollowTheMacroPath) {
    std::filesystem::create_directories(dir + "/program");
    write_file(dir + "/program/pair.mac", "# pair of $1\nX$1 = $2 + $3\nY$1 = 1$4\n");
    write_file(dir + "/program/own.mac", "Z = 2\n");
    write_file(dir + "/own.mac", "Z = 1\n");
    // Arguments keep their inner and trailing blanks; names are looked up in lower case; the
    // folder of the control file comes before the program's.
    ASSERT_EQ(1, load_file("&Pair (02, a ,  b, 2)\n&OWN()\n&pair(03, c, d)\n"))
        << testing::PrintToString(report_texts());
    EXPECT_EQ((std::vector<std::string>{"X02=A+B", "Y02=12", "Z=1", "X03=C+D", "Y03=1"}), rules());
    EXPECT_NE(std::string::npos, dump().find("X02 = a  + b\n"));
}

TEST_F(LoaderTest, macroErrors_areReportedWithTheirFileAndLine) {
    write_file(dir + "/bad.mac", "A$0 = $1$\nB = C\n");
    load_file("&bad(1)\n&nope(1)\n&noparen\n");
    const std::vector<std::string> reports = report_texts();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(
        (std::vector<std::string>{
            "Configuration Error in domacro: " + dir +
                "/bad.mac(1) bad $-parameter \"0 = "
                "$1$\", ignored.\n",
            "Configuration Error in domacro: " + dir +
                "/bad.mac(1) bad $-parameter \"\", "
                "ignored.\n",
            "Error in domacro: Cannot open macrofile \"nope\". [" + dir + "/x.rvc(2)]",
            "Configuration Error in domacro: Cannot find '(' in &noparen. [" + dir + "/x.rvc(3)]",
        }),
        std::vector<std::string>(reports.begin(), reports.begin() + 4));
}

TEST_F(LoaderTest, declarationBlock_generatesCallsInOrder) {
    write_file(dir + "/stream.mac", "Q$1 = $2\n");
    write_file(dir + "/conflict.mac", "C$1$2 = $4 + $3\n");
    write_file(dir + "/detector.mac", "D$1$2X = $3\n");
    write_file(dir + "/timer.mac", "W$1$2 = $3\n");
    ASSERT_EQ(1, load_file("# PHASE TIMERS IN TENTH OF SECONDS\n#\tAA\tBB\t\n%mat 2 5 8\n"
                           "02 -1 -1 20\n05 -1 -1 30\n08 -1 -1 -1\nIG 1 2 3\nD1 4 -1 5\n"
                           "T2 -1 6 -1\n%tt 2 10 11\n%tt 5 12 13\n%tt 8 14 15\n%rules\n"))
        << testing::PrintToString(report_texts());
    EXPECT_EQ((std::vector<std::string>{"Q02=1", "Q05=2", "C0208=20+5", "C0508=30+0", "Q08=3",
                                        "D021X=4", "D081X=5", "W052=6"}),
              rules());
}

TEST_F(LoaderTest, declarationMistakes_areReported) {
    EXPECT_EQ(0, load_file("%mat 2 5 x\n02 -1 3 9\n02 -1 3\n07 1 2\nIG 1\nIG 1 2\n%rules\n"));
    // Each with the line it was made at, once: the filling pass makes the same again.
    const std::vector<std::string> reports = report_texts();
    ASSERT_GE(reports.size(), 7u);
    const auto at = [&](int line) { return " [" + dir + "/x.rvc(" + std::to_string(line) + ")]"; };
    EXPECT_EQ((std::vector<std::string>{
                  "Configuration Error in dosupermacro: Bad rule: %mat 2 5 x: illegal character "
                  "at position 9." +
                      at(1),
                  "Configuration Error in dosupermacro: Junk in rule 02 -1 3 9." + at(2),
                  "Configuration Error in dosupermacro: Re-definition of conflicts from stream 2 "
                  "ignored." +
                      at(3),
                  "Configuration Error in dosupermacro: Bad conflict: 07 1 2 (ignored)." + at(4),
                  "Configuration Error in dosupermacro: Too few values in rule IG 1." + at(5),
                  "Configuration Error in dosupermacro: Re-definition of IG ignored." + at(6),
                  "Configuration Error in dosupermacro: Clearance times from 05 not specified.",
              }),
              std::vector<std::string>(reports.begin(), reports.begin() + 7));
}

TEST_F(LoaderTest, overlongStreamList_isRefused) {
    std::string list = "%mat";
    for (int i = 0; i < 120; ++i) list += " 1";
    load_file(list + "\n");
    ASSERT_FALSE(report_texts().empty());
    EXPECT_EQ(0u, report_texts()[0].find("Configuration Error in dosupermacro: Too many streams"));
    EXPECT_EQ(100, reader_state.declarations.n);
}

TEST_F(LoaderTest, conflictsAreReportedInTheCountingPassOnly) {
    ASSERT_EQ(1, load_file("X = A\nX = B\n")) << testing::PrintToString(report_texts());
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in tokenize: file " + dir +
                                       "/x.rvc (2) : X = B\r\nconflicts with file " + dir +
                                       "/x.rvc (1) "},
              report_texts());
}

TEST_F(LoaderTest, tooLargeRule_isRefusedAlsoWhenItsLastBytesAreZero) {
    std::string rule = "X = 0";
    for (int i = 0; i < 150; ++i) rule += "+0";
    EXPECT_EQ(0, load_file(rule + "\n"));
    // 5 bytes of header, 151 constants of 6 bytes and 150 "+": the last code byte stands at 1060.
    ASSERT_EQ(1u, recorder.reports.size()) << testing::PrintToString(report_texts());
    EXPECT_EQ(0u, report_texts()[0].find(
                      "Configuration Error in RVLoadFile: Rule too large (by about 61 characters)"))
        << report_texts()[0];
}

TEST_F(LoaderTest, brokenRule_isDroppedAndTheLoadFails) {
    EXPECT_EQ(0, load_file("A = 1\nB = C . . D\n"));
    EXPECT_EQ((std::vector<std::string>{"Configuration Error in evalrule: Error: " + dir +
                                            "/x.rvc (2) B=C. [missing operand] .D.",
                                        "Configuration Error in RVLoadFile: Errors detected."}),
              report_texts());
}

TEST_F(LoaderTest, noRules_loadsAnEmptyTable) {
    ASSERT_EQ(1, load_file("# nothing\n")) << testing::PrintToString(report_texts());
    EXPECT_TRUE(engine.rule_table.empty());
    EXPECT_EQ((std::vector<std::string>{"Time:   0.0 Ruvalda initializing...",
                                        "Time:   0.0 Ruvalda file loaded."}),
              pane());
}

TEST_F(LoaderTest, longControlFileName_isCutInMessagesButStillRead) {
    std::string deep = dir + "/" + std::string(120, 'd');
    std::filesystem::create_directories(deep);
    write_file(deep + "/x.rvc", "# Sequence\nX = 1\n");
    reader_state.sequence_handler = nullptr;
    ASSERT_EQ(1, RVLoadFile(reader_state, engine, (deep + "/x.rvc").c_str()));
    EXPECT_EQ("Error in read_raw: " + (deep + "/x.rvc").substr(0, 100) +
                  "(1): No handler for \"Sequence\" active. [" + deep + "/x.rvc(1)]",
              report_texts().front())
        << "the place names the whole path";
}

TEST_F(LoaderTest, sideFileNames_replaceOnlyTheFilesExtension) {
    EXPECT_EQ("/a/x.DTL", side_file_name("/a/x.rvc", ".DTL"));
    EXPECT_EQ("/a/my.dir/prog.DTL", side_file_name("/a/my.dir/prog", ".DTL"));
    EXPECT_EQ("C:\\plans\\x.adj", side_file_name("C:\\plans\\x.rvc", ".adj"));
    EXPECT_EQ("/a/x.rvc_dumpexpr.txt", dump_file_name("/a/x.rvc"));
}

TEST_F(LoaderTest, detectorTranslation_readsPairsAndStopsAtErrors) {
    write_file(dir + "/x.DTL", "117 21 anything\n118 51\n119 11\n");
    ASSERT_EQ(1, load_file("A = D021 + D051\n")) << testing::PrintToString(report_texts());
    EXPECT_EQ(21, RVTranslateDetector(engine, 117));
    EXPECT_EQ(51, RVTranslateDetector(engine, 118));
    EXPECT_EQ(0, RVTranslateDetector(engine, 119));
    EXPECT_EQ("Time:   0.0 " + dir + "/x.DTL(3): no detector D011 (\"119 11\").", pane()[1]);

    write_file(dir + "/x.DTL", "117 21\n\n");
    EXPECT_EQ(0, load_file("A = D021\n"));
    EXPECT_EQ("Configuration Error in RVLoadFile: " + dir + "/x.DTL(2): bad format (\"\n\").",
              report_texts().back());
    write_file(dir + "/x.DTL", "117 21\n118 21\n");
    EXPECT_EQ(0, load_file("A = D021\n"));
    EXPECT_EQ(0u, report_texts().back().find("Configuration Error in RVLoadFile: " + dir +
                                             "/x.DTL(2): duplicate detector translation"));
}

TEST_F(LoaderTest, streamTranslation_checksEveryLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"7 99\n", "stream number out of range"},
        {"0 3\n", "bad format"},
        {"7 4\n", "nonexistent traffic stream"},
        {"7 3\n8 3\n", "duplicate stream translation"},
    };
    for (const auto& [text, message] : cases) {
        write_file(dir + "/x.STL", text);
        recorder.reports.clear();
        EXPECT_EQ(0, load_file("A03 = 1\n")) << text;
        ASSERT_FALSE(recorder.reports.empty()) << text;
        EXPECT_NE(std::string::npos, report_texts().back().find(message)) << text;
    }
    write_file(dir + "/x.STL", "7 3\n");
    EXPECT_EQ(1, load_file("A03 = 1\n"));
    EXPECT_EQ(7, reader_state.stream_translation[3]);
}

TEST_F(LoaderTest, sequenceSection_fillsTheModelAndTheRestStillLoads) {
    ASSERT_EQ(1, load_file("# Sequence\n# Conflictgroups Conflictgroupsize\n# 2 3\n"
                           "# Selected sequence\n# 02 -10 05\n11 11 09\nX = 1\n"))
        << testing::PrintToString(report_texts());
    EXPECT_EQ(2, sequence_model.MaxCFCount);
    EXPECT_EQ(3, sequence_model.ConflictGroupSize);
    EXPECT_EQ((std::vector<int>{2, -10, 0, 11, 11, 9}),
              (std::vector<int>{
                  sequence_model.ConflictGroups[0][0], sequence_model.ConflictGroups[0][1],
                  sequence_model.ConflictGroups[0][2], sequence_model.ConflictGroups[1][0],
                  sequence_model.ConflictGroups[1][1], sequence_model.ConflictGroups[1][2]}));
    EXPECT_EQ(std::vector<std::string>{"X=1"}, rules());

    reader_state.sequence_handler = nullptr;
    ASSERT_EQ(1, load_file("# Sequence\nX = 1\n")) << testing::PrintToString(report_texts());
    EXPECT_EQ("Error in read_raw: " + dir + "/x.rvc(1): No handler for \"Sequence\" active.",
              report_texts().back());
}

TEST_F(LoaderTest, oversizeSequence_isRefusedAndThePreviousModelKept) {
    ASSERT_EQ(1, load_file("# Sequence\n# Conflictgroups Conflictgroupsize\n# 1 2\n"
                           "# Selected sequence\n# 02 05\n"))
        << testing::PrintToString(report_texts());
    load_file("# Sequence\n# Conflictgroups Conflictgroupsize\n# 1 11\n# Selected sequence\n");
    EXPECT_EQ(2, sequence_model.ConflictGroupSize);
    EXPECT_EQ(0u, report_texts().back().find("Error in Reading RVC File: conflict groups"));
}

}  // namespace
}  // namespace ruvalda::test
