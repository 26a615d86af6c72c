// Macro calls: arguments, parameters, the expansion limits and the search along the macro path.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/loader/loader_file_fixture.h"

namespace ruvalda::test {
namespace {

class MacroTest : public LoaderFileTest {
  protected:
    void SetUp() override {
        LoaderFileTest::SetUp();
        put("args.mac", "<$1|$2|$3|$4|$5|$6|$7|$8|$9>\n");
    }
    // What args.mac expands to for these arguments ($n beyond them empty).
    static std::string args(std::vector<std::string> given) {
        given.resize(9);
        std::string text = "<";
        for (std::size_t i = 0; i < given.size(); ++i) text += (i ? "|" : "") + given[i];
        return text + ">";
    }
};

TEST_F(MacroTest, callArguments_runToTheNextCommaOrClosingParenthesis) {
    const std::vector<std::string> texts = pull(
        "&Args (02, 30 ,  50,  60)\n&Args()\n&Args(a, f(x))\n&Args(a, b) x, c) y\n"
        "  &ARGS extra (a b ,c)\n&Args(1,2,3,4,5,6,7,8,9)\n&Args(x)\nX = 1\n",
        domacro);
    EXPECT_EQ((std::vector<std::string>{
                  args({"02", "30 ", "50", "60"}), args({}), args({"a", "f(x", ""}),
                  args({"a", "b) x", "c"}), args({"a b ", "c"}),
                  args({"1", "2", "3", "4", "5", "6", "7", "8", "9"}), args({"x"}), "X = 1"}),
              texts);
    EXPECT_TRUE(recorder.reports.empty()) << reports();
}

TEST_F(MacroTest, tenthArgument_isReportedAndTheFirstNineExpanded) {
    const std::string nine = "1,2,3,4,5,6,7,8,9";
    EXPECT_EQ((std::vector<std::string>(2, args({"1", "2", "3", "4", "5", "6", "7", "8", "9"}))),
              pull("&Args(" + nine + ",10)\n&Args(" + nine + ",10,11)\n", domacro));
    EXPECT_EQ((std::vector<std::string>{
                  "Configuration Error in domacro: Too many arguments in macro \"&Args(" + nine +
                      ",10)\".",
                  "Configuration Error in domacro: Too many arguments in macro \"&Args(" + nine +
                      ",10,11)\"."}),
              report_texts());
}

TEST_F(MacroTest, overlongArgument_isReportedAndTheOthersStillRead) {
    const std::string x99(99, 'x'), x100(100, 'x');
    const std::vector<std::string> texts =
        pull("&Args(" + x99 + ")\n&Args(" + x100 + ", b)\n", domacro);
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ(args({x99}), texts[0]);
    EXPECT_NE(std::string::npos, texts[1].find("|b|")) << texts[1];
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in domacro: Macro argument \"" + x100 +
                                       "\" too long."},
              report_texts());
}

TEST_F(MacroTest, badCallLines_areReportedAndDropped) {
    const std::string name(101, 'n');
    EXPECT_EQ(std::vector<std::string>{"X = 1"},
              pull("&noparen\n&NoSuch(1)\n&" + name + "(1)\nX = 1\n", domacro));
    EXPECT_EQ((std::vector<std::string>{
                  "Configuration Error in domacro: Cannot find '(' in &noparen.",
                  "Error in domacro: Cannot open macrofile \"NoSuch\".",
                  "Configuration Error in domacro: Macro name \"" + name + "\" too long."}),
              report_texts());
}

TEST_F(MacroTest, macroLines_putInParametersAndReportBadOnes) {
    put("bad.mac", "# parameters\n\nX$1 = $1$0\nY = $$1\nZ = $a$\n   &Other(1)\n%init R$1 # c\n");
    EXPECT_EQ((std::vector<std::string>{"X7 = 7", "Y = 1", "Z = ", "   &Other(1)", "%init R7 "}),
              pull("&bad(7)\n", domacro));
    const std::string at = "Configuration Error in domacro: " + dir + "/bad.mac(";
    EXPECT_EQ((std::vector<std::string>{at + "3) bad $-parameter \"0\", ignored.\n",
                                        at + "4) bad $-parameter \"$1\", ignored.\n",
                                        at + "5) bad $-parameter \"a$\", ignored.\n",
                                        at + "5) bad $-parameter \"\", ignored.\n"}),
              report_texts());
}

TEST_F(MacroTest, expansionBeyond1000Characters_isCutAndReported) {
    const std::string a20(20, 'A');
    put("long.mac", "$1" + std::string(990, 'L') + "\n" + std::string(995, 'L') + "$1\n" +
                        std::string(980, 'L') + "$1\n");
    EXPECT_EQ((std::vector<std::string>{a20 + std::string(980, 'L'),
                                        std::string(995, 'L') + a20.substr(0, 5),
                                        std::string(980, 'L') + a20}),
              pull("&long(" + a20 + ")\n", domacro));
    EXPECT_EQ((std::vector<std::string>{"Simulator Error in domacro: Macro expansion is too large.",
                                        "Simulator Error in domacro: Expanded macro is too long."}),
              report_texts());
}

TEST_F(MacroTest, macroFiles_areSearchedAlongTheMacroPathByLowerCaseName) {
    put("ctl/own.mac", "Z = 1\n");
    put("Prog/own.mac", "Z = 2\n");
    put("Prog/only.mac", "W = 3\n");
    put("ctl/CAP.MAC", "C = 4\n");
    reader_state.macro.macro_path = macro_path_for(dir + "/ctl/x.rvc", dir + "/Prog");
    EXPECT_EQ(dir + "/ctl/;" + dir + "/Prog/", reader_state.macro.macro_path);
    EXPECT_EQ((std::vector<std::string>{"Z = 1", "W = 3"}),
              pull("&Own()\n&ONLY()\n&Cap()\n", domacro, "ctl/x.rvc"));
    EXPECT_EQ(std::vector<std::string>{"Error in domacro: Cannot open macrofile \"Cap\"."},
              report_texts());
}

TEST_F(MacroTest, macroFileWithAByteOrderMarkAndATooLongLine_readsTheRest) {
    const std::string path = put("long.mac",
                                 "\xEF\xBB\xBF"
                                 "A = 1\n# " +
                                     std::string(1200, 'x') + "\nB = 2\n");
    EXPECT_EQ((std::vector<std::string>{"A = 1", "B = 2"}), pull("&Long()\n", domacro));
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in readin: " + path +
                                       "(2): line too long (more than 999 characters), skipped."},
              report_texts());
}

TEST_F(MacroTest, emptyMacroPathEntry_isTheCurrentFolderAndTheSearchGoesOn) {
    put("b/inb.mac", "B = 1\n");
    put("c/incwd.mac", "C = 1\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir + "/c");
    reader_state.macro.macro_path = dir + "/a/;;" + dir + "/b/";
    const std::vector<std::string> texts = pull("&inb()\n&incwd()\n", domacro);
    std::filesystem::current_path(previous);
    EXPECT_EQ((std::vector<std::string>{"B = 1", "C = 1"}), texts) << reports();
}

TEST_F(MacroTest, ruleErrorInsideAMacro_namesTheControlFileAndTheMacroFile) {
    put("m.mac", "# lines\nK = 1\nA = B . . C\n");
    EXPECT_EQ(0, load_text("\n&m()\nL = 1\n"));
    ASSERT_FALSE(recorder.reports.empty());
    EXPECT_EQ("Configuration Error in evalrule: Error: " + dir + "/x.rvc (2) " + dir +
                  "/m.mac (3) A=B. [missing operand] .C.",
              report_texts()[0]);
    EXPECT_EQ(dir + "/x.rvc (2) " + dir + "/m.mac (2) ", var("K").set_location);
    EXPECT_EQ(dir + "/x.rvc (3) ", var("L").set_location);

    // A report whose text does not name its place gets it after the text: the macro file's
    // line and the control-file line that called it, once for both passes.
    recorder.reports.clear();
    put("t.mac", "X = 1\n%time X 50\n");
    EXPECT_EQ(1, load_text("\n\n&t()\n"));
    EXPECT_EQ(std::vector<std::string>{"Configuration Error in readin: Error: cannot initialize a "
                                       "non-timer: X 50. [" +
                                       dir + "/t.mac(2) from " + dir + "/x.rvc(3)]"},
              report_texts());
}

}  // namespace
}  // namespace ruvalda::test
