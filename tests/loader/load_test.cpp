// RVLoadFile: the two passes over the control file, the expression dump and the side files.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/loader/loader_file_fixture.h"

namespace ruvalda::test {
namespace {

using LoadTest = LoaderFileTest;

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST_F(LoadTest, conflictingRules_areReportedInTheCountingPassOnly) {
    ASSERT_EQ(1, load_text("X = A\nX = B\n")) << reports();
    EXPECT_EQ((std::vector<std::string>{"X=A", "X=B"}), rules());
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in tokenize: file " + dir +
                                       "/x.rvc (2) : X = B\r\nconflicts with file " + dir +
                                       "/x.rvc (1) "},
              report_texts());
}

TEST_F(LoadTest, ruleCodeBeyond1000Bytes_isRefusedAsTooLarge) {
    auto zeros = [](int count) {
        std::string sum = "0";
        for (int i = 1; i < count; ++i) sum += "+0";
        return sum;
    };
    // Five bytes of head, six per constant, one per "+" and per parenthesis.
    const struct {
        std::string rule;
        int too_large_by;  // 0: fits
    } cases[] = {
        {"X = (" + zeros(142) + ")", 0},  // exactly 1000 bytes
        {"X = (" + zeros(143) + ")", 7},  // ends in ")" at byte 1006
        {"X = " + zeros(143), 5},         // the bytes beyond 1000 are all zero
    };
    for (const auto& c : cases) {
        recorder.reports.clear();
        EXPECT_EQ(c.too_large_by == 0 ? 1 : 0, load_text(c.rule + "\n")) << c.rule.size();
        if (c.too_large_by == 0) {
            EXPECT_TRUE(recorder.reports.empty()) << reports();
            continue;
        }
        // The rule is cut to 200 characters, with its length.
        EXPECT_EQ(std::vector<std::string>{"Configuration Error in RVLoadFile: Rule too large (by "
                                           "about " +
                                           std::to_string(c.too_large_by) + " characters): \"" +
                                           c.rule.substr(0, 200) + "...\" (" +
                                           std::to_string(c.rule.size()) + " characters). [" + dir +
                                           "/x.rvc(1)]"},
                  report_texts());
    }
}

TEST_F(LoadTest, ruleFailingItsFirstEvaluation_isDroppedAndTheLoadFails) {
    ASSERT_EQ(1, load_text("Q = 1\n")) << reports();
    EXPECT_EQ(0, load_text("A = 1\nB = C . . D\nF = 1\n"));
    EXPECT_EQ((std::vector<std::string>{"Configuration Error in evalrule: Error: " + dir +
                                            "/x.rvc (2) B=C. [missing operand] .D.",
                                        "Configuration Error in RVLoadFile: Errors detected."}),
              report_texts());
    EXPECT_EQ((std::vector<std::string>{"A=1", "F=1"}), rules());
    EXPECT_FALSE(has_var("Q"));  // the earlier program is gone
}

TEST_F(LoadTest, programWithoutRules_loadsAnEmptyTable) {
    ASSERT_EQ(1, load_text("# nothing\n\n")) << reports();
    EXPECT_TRUE(engine.rule_table.empty());
    EXPECT_EQ((std::vector<std::string>{"Time:   0.0 Ruvalda initializing...",
                                        "Time:   0.0 Ruvalda file loaded."}),
              pane());
}

TEST_F(LoadTest, expressionDump_holdsTheFirstPassInReadingOrder) {
    put("m.mac", "%init R$1\nG$1 = 1\n");
    put("x.rvc_dumpexpr.txt", "left from before\n");
    ASSERT_EQ(1, load_text("%time T1 50\n%if 0 Y = 1\n%if N0 %if 7 Z = 1\nX = T1\n&m(05)\n"))
        << reports();
    EXPECT_EQ(joined({"# Macro \"%time T1 50\"", "# Macro \"%if 0 Y = 1\"",
                      "# Preceding rule not taken", "# Macro \"%if N0 %if 7 Z = 1\"",
                      "# preceding rule taken, resulting code \"%if 7 Z = 1\"",
                      "# Macro \"%if 7 Z = 1\"", "# preceding rule taken, resulting code \"Z = 1\"",
                      "Z = 1", "X = T1", "# Macro \"%init R05\"", "G05 = 1"}),
              dump());
}

TEST_F(LoadTest, sideFileNames_replaceTheExtensionOfTheFilesOwnName) {
    const std::pair<std::string, std::string> cases[] = {{"C:\\plans\\x.rvc", "C:\\plans\\x"},
                                                         {"/a/my.dir/prog", "/a/my.dir/prog"},
                                                         {"/a/x.y.rvc", "/a/x.y"},
                                                         {"prog", "prog"}};
    for (const auto& [path, stem] : cases) {
        for (const char* extension : {".DTL", ".STL", ".adj"})
            EXPECT_EQ(stem + extension, side_file_name(path, extension));
        EXPECT_EQ(path + "_dumpexpr.txt", dump_file_name(path));
    }
    ASSERT_EQ(1, load_text("X = 1\n")) << reports();
    EXPECT_EQ(dir + "/x.adj", engine.adjust_file_name);
}

TEST_F(LoadTest, filesThatCannotBeOpened_failTheLoad) {
    EXPECT_EQ(0, RVLoadFile(reader_state, engine, (dir + "/none/x.rvc").c_str()));
    EXPECT_EQ(0, RVLoadFile(reader_state, engine, (dir + "/missing.rvc").c_str()));
    EXPECT_EQ((std::vector<std::string>{"Error in RVLoadFile: Cannot open file " + dir +
                                            "/none/x.rvc_dumpexpr.txt: No such file or directory.",
                                        "Error in openin: Cannot open file " + dir +
                                            "/missing.rvc: No such file or directory."}),
              report_texts());
}

TEST_F(LoadTest, detectorTranslation_mapsSimulatorDetectorsToProgramDetectors) {
    put("x.dtl", "117 21 anything\n118 51\n119 11\n");  // found under the lower-case extension
    ASSERT_EQ(1, load_text("A = D021 + D051\n")) << reports();
    EXPECT_EQ(21, RVTranslateDetector(engine, 117));
    EXPECT_EQ(51, RVTranslateDetector(engine, 118));
    EXPECT_EQ(0, RVTranslateDetector(engine, 119));
    // The line is quoted without its line end; the file may be named by either extension.
    const std::string text = joined(pane());
    EXPECT_TRUE(text.find(dir + "/x.DTL(3): no detector D011 (\"119 11\").") != std::string::npos ||
                text.find(dir + "/x.dtl(3): no detector D011 (\"119 11\").") != std::string::npos)
        << text;
    std::filesystem::remove(dir + "/x.dtl");
    ASSERT_EQ(1, load_text("A = D021 + D051\n")) << reports();
    EXPECT_EQ(0, RVTranslateDetector(engine, 117));  // the table is cleared by every load
}

TEST_F(LoadTest, badDetectorTranslation_failsTheLoad) {
    const std::string at = "Configuration Error in RVLoadFile: " + dir + "/x.DTL(";
    const struct {
        std::string file, message;
    } cases[] = {
        {"117 21\n\n", at + "2): bad format (\"\n\")."},
        {"117\n", at + "1): bad format (\"117\n\")."},
        {"117 21\n118 21\n", at + "2): duplicate detector translation (\"118 21\n\")."},
    };
    for (const auto& c : cases) {
        put("x.DTL", c.file);
        recorder.reports.clear();
        EXPECT_EQ(0, load_text("A = D021\n"));
        EXPECT_EQ(std::vector<std::string>{c.message}, report_texts());
    }
}

TEST_F(LoadTest, detectorTranslation_holdsAtMost128Pairs) {
    std::string program;
    std::vector<std::string> pairs;  // 135 detectors: D011 to D159
    for (int stream = 1; stream <= 15; ++stream) {
        program += "A" + std::to_string(stream) + "X = 0";
        for (int detector = stream * 10 + 1; detector <= stream * 10 + 9; ++detector) {
            program += (detector < 100 ? " + D0" : " + D") + std::to_string(detector);
            pairs.push_back(std::to_string(1000 + detector) + " " + std::to_string(detector));
        }
        program += "\n";
    }
    put("x.DTL", joined({pairs.begin(), pairs.begin() + 128}));
    ASSERT_EQ(1, load_text(program)) << reports();
    EXPECT_EQ(152, RVTranslateDetector(engine, 1152));
    put("x.DTL", joined(pairs));
    EXPECT_EQ(0, load_text(program));
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in RVLoadFile: " + dir +
                                       "/x.DTL(129): too many detector translations (maximum is "
                                       "128)."},
              report_texts());
}

TEST_F(LoadTest, streamTranslation_acceptsOnlyExistingStreamsOnce) {
    const std::string at = "Configuration Error in RVLoadFile: " + dir + "/x.STL(";
    const struct {
        std::string file, message;
    } cases[] = {
        {"7 99\n", at + "1): stream number out of range (\"7 99\n\")."},
        {"7 0\n", at + "1): stream number out of range (\"7 0\n\")."},
        {"0 3\n", at + "1): bad format (\"0 3\n\")."},
        {"99 3\n", at + "1): bad format (\"99 3\n\")."},
        {"7\n", at + "1): bad format (\"7\n\")."},
        {"7 4\n", at + "1): nonexistent traffic stream (\"7 4\n\")."},
        {"7 3\n8 3\n", at + "2): duplicate stream translation (\"8 3\n\")."},
    };
    for (const auto& c : cases) {
        put("x.STL", c.file);
        recorder.reports.clear();
        EXPECT_EQ(0, load_text("A03 = B\n"));
        EXPECT_EQ(std::vector<std::string>{c.message}, report_texts());
    }
    put("x.STL", "7 3\n");
    engine.stream_flags[7] = SF_TRACE;
    ASSERT_EQ(1, load_text("A03 = B\n")) << reports();
    EXPECT_EQ(7, reader_state.stream_translation[3]);
    EXPECT_EQ(4, reader_state.stream_translation[4]);
    EXPECT_EQ(SF_EXISTS, engine.stream_flags[3]);
    EXPECT_EQ(SF_EXISTS, engine.stream_flags[0]);  // B has no number
    EXPECT_EQ(0u, engine.stream_flags[7]);         // cleared by the load
}

TEST_F(LoadTest, crossingExample_loadsAndResetsWithoutAnyReport) {
    const std::filesystem::path source =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    for (const char* name : {"crossing.rvc", "crossing.DTL"})
        std::filesystem::copy_file(source / "examples/crossing" / name, dir + "/" + name);
    const std::string path = dir + "/crossing.rvc";
    reader_state.macro.macro_path = macro_path_for(path, (source / "macros").string());
    reader_state.sequence_handler = sequence_reader(sequence_model);
    ASSERT_EQ(1, RVLoadFile(reader_state, engine, path.c_str())) << reports();
    EXPECT_EQ(1, RVInitialize(engine));
    EXPECT_TRUE(recorder.reports.empty()) << reports();
    EXPECT_FALSE(engine.rule_table.empty());
    EXPECT_EQ(11, RVTranslateDetector(engine, 1011));
    EXPECT_EQ(6, sequence_model.MaxCFCount);
    EXPECT_EQ(4, sequence_model.ConflictGroupSize);
}

}  // namespace
}  // namespace ruvalda::test
