// Reports as users see them: heading and box text per kind, what each answer does, the length
// limit, VISSIM mode, and the terminal front end.
#include <string>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

class Reports : public EngineTest {};

TEST_F(Reports, eachKind_hasItsCaption_andOnlyProgramErrorsOrNoEndTheApplication) {
    const char* const captions[] = {"Program Error", "Error", "Configuration Error",
                                    "Simulator Error"};
    for (int kind = PROGRAM_ERROR; kind <= SIMULATOR_ERROR; ++kind) {
        for (bool yes : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "kind " << kind << (yes ? " Yes" : " No"));
            recorder.reports.clear();
            recorder.answers = {yes};
            engine.output.end_requested = false;
            // The caller always gets 0 and goes on; the message loop does the ending.
            EXPECT_EQ(
                0, report_error(engine.output, kind, "getname", "Bad variable name: %s.\n", "N05"));
            ASSERT_EQ(1u, recorder.reports.size());
            const Report& r = recorder.reports[0];
            const std::string text =
                std::string(captions[kind]) + " in getname: Bad variable name: N05.\n";
            EXPECT_EQ(captions[kind], r.caption);
            EXPECT_EQ(text, r.text);
            EXPECT_EQ(kind == PROGRAM_ERROR ? text : text + "\r\n\r\nContinue ?", r.box_text);
            EXPECT_EQ(kind == PROGRAM_ERROR || !yes, engine.output.end_requested);
        }
    }
}

TEST_F(Reports, longMessage_isCutToTheLimitBeforeTheQuestionIsAdded) {
    report_error(engine.output, ERROR, "openin", "%s", std::string(2 * MESSAGE_LIMIT, 'm').c_str());
    ASSERT_EQ(1u, recorder.reports.size());
    const Report& r = recorder.reports[0];
    EXPECT_EQ("Error in openin: " + std::string(MESSAGE_LIMIT - 17, 'm'), r.text);
    EXPECT_EQ(r.text + "\r\n\r\nContinue ?", r.box_text);
}

TEST_F(Reports, vissimMode_dropsKinds1To3EvenWhenTheyWouldBeAnsweredNo) {
    engine.output.vissim_mode = true;
    recorder.answers = {false, false, false};
    for (int kind : {ERROR, CONFIGURATION_ERROR, SIMULATOR_ERROR})
        EXPECT_EQ(0, report_error(engine.output, kind, "domacro", "dropped"));
    EXPECT_TRUE(recorder.reports.empty());
    EXPECT_FALSE(engine.output.end_requested);
    report_error(engine.output, PROGRAM_ERROR, "pop", "stack empty.");
    EXPECT_EQ(std::vector<std::string>{"Program Error in pop: stack empty."}, report_texts());
    EXPECT_TRUE(engine.output.end_requested);
}

TEST_F(Reports, consoleFrontEnd_printsTheTextWithOneLineEnd_andStrictAnswersNo) {
    ConsoleFrontEnd console;
    engine.output.front_end = &console;
    testing::internal::CaptureStderr();
    report_error(engine.output, CONFIGURATION_ERROR, "check_sanity", "%s never ends.\n", "X05");
    report_error(engine.output, ERROR, "openin", "two\nlines");
    report_error(engine.output, SIMULATOR_ERROR, "domacro", "%s", "");
    engine.output.vissim_mode = true;
    report_error(engine.output, ERROR, "openin", "dropped");
    engine.output.vissim_mode = false;
    EXPECT_EQ(
        "Configuration Error in check_sanity: X05 never ends.\n"
        "Error in openin: two\nlines\n"
        "Simulator Error in domacro: \n",
        testing::internal::GetCapturedStderr());
    EXPECT_FALSE(engine.output.end_requested);  // answered Yes
    console.strict = true;
    testing::internal::CaptureStderr();
    report_error(engine.output, ERROR, "openin", "strict");
    EXPECT_EQ("Error in openin: strict\n", testing::internal::GetCapturedStderr());
    EXPECT_TRUE(engine.output.end_requested);
}

}  // namespace
}  // namespace ruvalda::test
