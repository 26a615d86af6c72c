// The declaration block: its lines taken out of the rules, its messages, and the macro calls
// generated for it at the end of the file.
#include <string>
#include <vector>

#include "tests/loader/loader_file_fixture.h"

namespace ruvalda::test {
namespace {

using DeclarationTest = LoaderFileTest;

const std::string TWO_COLUMNS = "# PHASE TIMERS IN TENTH OF SECONDS\n#\tAA\tBB\t\n";

TEST_F(DeclarationTest, block_generatesStreamConflictDetectorAndTimerCallsInOrder) {
    const std::vector<std::string> texts =
        pull(TWO_COLUMNS +
                 "X = 1\n%mat 2 5 8\n02 -1 -1 20\n05 -1 -1 30\n08 -1 -1 -1\nIG 1 2 3\n"
                 "D3 7 8 9\nD1 4 -1 5\nT2 -1 6 -1\n%tt 2 10 11\n%tt 5 12 13\n%tt 8 14 15\n"
                 "%Rules\nY = 2\n",
             dosupermacro);
    EXPECT_EQ((std::vector<std::string>{"X = 1", "Y = 2", "&Stream (02, 1 ,  10,  11)",
                                        "&Stream (05, 2 ,  12,  13)", "&Conflict (02, 08, 05, 20)",
                                        "&Conflict (05, 08, 00, 30)", "&Stream (08, 3 ,  14,  15)",
                                        "&Detector (02, 1, 4)", "&Detector (02, 3, 7)",
                                        "&Detector (05, 3, 8)", "&Detector (08, 1, 5)",
                                        "&Detector (08, 3, 9)", "&Timer (05, 2, 6)"}),
              texts);
    EXPECT_TRUE(recorder.reports.empty()) << reports();
}

TEST_F(DeclarationTest, linesThatAreNoDeclarations_passOn) {
    // Without "%mat" nothing is a declaration; inside the block "T1" needs a blank after it,
    // and "T0"/"D0" are rules.
    EXPECT_EQ((std::vector<std::string>{"IG 1 2", "02 1 2", "%rules", "%tt 1 2", "T1 5"}),
              pull("IG 1 2\n02 1 2\n%rules\n%tt 1 2\nT1 5\n", dosupermacro));
    EXPECT_EQ(
        (std::vector<std::string>{"T1", "T0 5", "D0 5", "%tt x", "%MAT 3", "&Stream (04, 9 )"}),
        pull("%MAT 4\n04 -1\nIG 9\n%tt 4\nT1\nT0 5\nD0 5\n%tt x\n%RULES\n%MAT 3\n", dosupermacro));
    // An empty stream list with an IG line generates nothing.
    EXPECT_EQ(std::vector<std::string>{"X = 1"}, pull("%mat\nIG\n%rules\nX = 1\n", dosupermacro));
    EXPECT_TRUE(recorder.reports.empty()) << reports();
}

TEST_F(DeclarationTest, mistakesInTheBlock_areReportedAsConfigurationErrors) {
    const struct {
        const char* lines;
        std::string message;
    } cases[] = {
        {"%mat 2 5 x", "Bad rule: %mat 2 5 x: illegal character at position 9."},
        {"02 -1 3 9", "Junk in rule 02 -1 3 9."},
        {"02 -1 x", "Junk in rule 02 -1 x."},
        {"02 -1", "Too few values in rule 02 -1."},
        {"02 -1 3\n02 1 1", "Re-definition of conflicts from stream 2 ignored."},
        {"07 1 2", "Bad conflict: 07 1 2 (ignored)."},
        {"00 1 2", "Bad stream number 0."},
        {"100 1 2", "Bad stream number 100."},
        {"IG 1 2\nIG 3 4", "Re-definition of IG ignored."},
        {"IGNITION = X", "Junk in rule IGNITION = X."},
        {"T1 1 2\nT1 3 4", "Re-definition of T1 ignored."},
        {"D9 1 2\nD9 1 2", "Re-definition of D9 ignored."},
        {"%tt 7", "Bad stream number: %tt 7 (ignored)."},
        {"%tt 2\n%tt 2", "Re-definition of required timers for stream 2 ignored."},
    };
    for (const auto& c : cases) {
        recorder.reports.clear();
        reader_state.phase_timer_count = 0;
        const std::string text = std::string(c.lines).starts_with("%mat")
                                     ? std::string(c.lines) + "\n"
                                     : "%mat 2 5\n" + std::string(c.lines) + "\n";
        pull(text, dosupermacro);
        ASSERT_FALSE(recorder.reports.empty()) << c.lines;
        EXPECT_EQ(CONFIGURATION_ERROR, recorder.reports[0].kind) << c.lines;
        EXPECT_EQ("Configuration Error in dosupermacro: " + c.message, report_texts()[0]);
    }
}

TEST_F(DeclarationTest, missingDeclarationsAtTheEnd_stopTheGeneration) {
    EXPECT_TRUE(pull("%mat 2 5\n02 -1 -1\nIG 1 1\n%tt 2\n%tt 5\n", dosupermacro).empty());
    EXPECT_TRUE(pull("%mat 2\n02 -1\n%tt 2\n", dosupermacro).empty());
    EXPECT_EQ((std::vector<std::string>{
                  "Configuration Error in dosupermacro: Clearance times from 05 not specified.",
                  "Configuration Error in dosupermacro: IG not specified."}),
              report_texts());
}

TEST_F(DeclarationTest, requiredTimes_needExactlyOneValuePerColumn) {
    reader_state.phase_timer_count = 3;
    const std::string head = "%mat 5\n05 -1\nIG 1\n";
    const std::string marker = "\x99Required times for stream 05 not specified.\n";
    EXPECT_EQ((std::vector<std::string>{"&Stream (05, 1 ,  10,  20,  30)"}),
              pull(head + "%tt 5 10 20 30\n", dosupermacro));
    for (const char* line : {"%tt 5 10 20", "%tt 5 10 20 30 40", "%tt 5 10 -20 30"})
        EXPECT_EQ((std::vector<std::string>{line, marker}), pull(head + line + "\n", dosupermacro));
    EXPECT_TRUE(recorder.reports.empty()) << reports();
}

TEST_F(DeclarationTest, streamWithoutRequiredTimes_failsTheLoadWithTheIncompleteMarker) {
    put("stream.mac", "G$1 = 1\n");
    EXPECT_EQ(0, load_text("%mat 2 5\n02 -1 -1\n05 -1 -1\nIG 1 1\n%tt 2\nIG 2 2\n"));
    // Every declaration message comes in both passes and is shown once; the marker fails its
    // first evaluation (the compiler upper-cases its text with the rest of the rule), and as
    // the file has no column line, the likely cause follows.
    const std::vector<std::string> texts = report_texts();
    ASSERT_EQ(3u, texts.size()) << reports();
    EXPECT_EQ(
        "Configuration Error in dosupermacro: Re-definition of IG ignored. [" + dir + "/x.rvc(6)]",
        texts[0]);
    EXPECT_NE(std::string::npos,
              texts[1].find(" [incomplete] REQUIRED TIMES FOR STREAM 05 NOT SPECIFIED.\n.\nHint: "
                            "a %tt line takes one time per column"))
        << texts[1];
    EXPECT_EQ("Configuration Error in RVLoadFile: Errors detected.", texts[2]);
    EXPECT_TRUE(rules().empty());  // no stream call after the marker
}

TEST_F(DeclarationTest, rulesOfGeneratedCalls_standAfterTheFileAndNameOnlyTheMacroFile) {
    put("stream.mac", "# stream $1\nG$1 = $2\n");
    ASSERT_EQ(1, load_text("%mat 3\n03 -1\nIG 7\n%tt 3\n%rules\nX = 1\n")) << reports();
    EXPECT_EQ((std::vector<std::string>{"X=1", "G03=7"}), rules());
    // The control file has been read to its end when the generated calls expand.
    EXPECT_EQ(dir + "/stream.mac (2) ", var("G03").set_location);
}

TEST_F(DeclarationTest, streamListOfMoreThan100_isRefused) {
    std::string list = "%mat";
    for (int i = 0; i < 100; ++i) list.append(" ").append(std::to_string(i));
    const std::string no_clearances =
        "Configuration Error in dosupermacro: Clearance times from 00 not specified.";
    pull(list + "\n", dosupermacro);
    EXPECT_EQ(std::vector<std::string>{no_clearances}, report_texts());
    recorder.reports.clear();
    pull(list + " 42\n", dosupermacro);
    ASSERT_FALSE(recorder.reports.empty());
    EXPECT_EQ(CONFIGURATION_ERROR, recorder.reports[0].kind);
    EXPECT_EQ(0u, report_texts()[0].find("Configuration Error in dosupermacro: ")) << reports();
    EXPECT_NE(no_clearances, report_texts()[0]);
}

}  // namespace
}  // namespace ruvalda::test
