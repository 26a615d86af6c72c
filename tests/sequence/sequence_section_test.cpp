// The sequence section of a control file, read by the loader's sequence handler into the model
// of conflict groups.
#include <string>
#include <vector>

#include "tests/loader/loader_file_fixture.h"

namespace ruvalda::test {
namespace {

using Groups = std::vector<std::vector<int>>;

const std::string HEADER = "# Sequence\n# Conflictgroups Conflictgroupsize\n";

class SequenceSectionTest : public LoaderFileTest {
  protected:
    Groups groups() {
        Groups rows;
        for (int i = 0; i < sequence_model.MaxCFCount; ++i)
            rows.emplace_back(sequence_model.ConflictGroups[i],
                              sequence_model.ConflictGroups[i] + sequence_model.ConflictGroupSize);
        return rows;
    }
};

TEST_F(SequenceSectionTest, exampleSection_fillsTheModelAndTheFileReadsOn) {
    ASSERT_EQ(1, load_text("A = 1\n" + HEADER +
                           "# 2 3\n# Selected sequence\n# Structure: 1\n# 02 05 08\n# 11 11 09\n"
                           "X = 1\n"))
        << reports();
    EXPECT_EQ((Groups{{2, 5, 8}, {11, 11, 9}}), groups());
    EXPECT_EQ((std::vector<std::string>{"A=1", "X=1"}), rules());
    // The handler counts the lines it reads.
    EXPECT_EQ(dir + "/x.rvc (9) ", var("X").set_location);
}

TEST_F(SequenceSectionTest, groupLines_readEachEntryTwoCharactersAfterThePrevious) {
    const struct {
        const char* line;
        std::vector<int> entries;
    } cases[] = {
        {"# 2 5 8", {2, 5, 8}},
        {"# 02 -10 05", {2, -10, 0}},  // the "0" of "-10" is the third entry
        {"02 05 08", {2, 5, 8}},       // without "#" the first entry starts the line
        {"#02 05 08", {2, 5, 8}},
    };
    for (const auto& c : cases) {
        // No structure line: the first group line follows "# Selected sequence".
        ASSERT_EQ(1, load_text(HEADER + "# 1 3\n# Selected sequence\n" + c.line + "\nX = 1\n"))
            << reports();
        EXPECT_EQ(Groups{c.entries}, groups()) << c.line;
        EXPECT_EQ(std::vector<std::string>{"X=1"}, rules()) << c.line;
    }
}

TEST_F(SequenceSectionTest, headerOrSelectionLineMissing_endsTheReadingSilently) {
    const std::string section =
        "# Conflictgroups Conflictgroupsize\n# 1 2\n# Selected sequence\n"
        "# 03 04\nX = 1\n";
    std::string free_lines;
    for (int i = 0; i < 5; ++i) free_lines += "# free\n";
    ASSERT_EQ(1, load_text("A = 1\n# Sequence\n" + free_lines + section)) << reports();
    EXPECT_EQ((Groups{{3, 4}}), groups());
    EXPECT_EQ((std::vector<std::string>{"A=1", "X=1"}), rules());

    sequence_model = SequenceModel{};
    ASSERT_EQ(1, load_text("A = 1\n# Sequence\n" + free_lines + "# free\n" + section)) << reports();
    EXPECT_EQ(std::vector<std::string>{"A=1"}, rules());
    EXPECT_TRUE(groups().empty());

    ASSERT_EQ(1, load_text("A = 1\n" + HEADER + "# 1 2\n# Chosen sequence\n# 03 04\nX = 1\n"))
        << reports();
    EXPECT_EQ(std::vector<std::string>{"A=1"}, rules());
    EXPECT_TRUE(recorder.reports.empty()) << reports();
}

TEST_F(SequenceSectionTest, unreadableSection_isReportedInBothPassesAndEndsTheReading) {
    const struct {
        const char* body;
        std::string message;
    } cases[] = {
        {"# 2\n", "cannot find ConflictGroupSize"},
        {"# 1 2\n# Selected sequence\n# Structure: x\n# 01 02\n", "cannot find structurenumber"},
        {"# 1 3\n# Selected sequence\n# 01 02\n", "cannot find conflict"},
        {"# 2 2\n# Selected sequence\n# Structure: 4\n# 01 02\n# 03\n", "cannot find conflict"},
    };
    for (const auto& c : cases) {
        recorder.reports.clear();
        ASSERT_EQ(1, load_text("A = 1\n" + HEADER + c.body + "X = 1\n")) << reports();
        // Made in both passes, shown once, with the line it was made at.
        ASSERT_EQ(1u, report_texts().size()) << reports();
        EXPECT_EQ(0u, report_texts()[0].find("Error in Reading RVC File: " + c.message + " [" +
                                             dir + "/x.rvc("))
            << report_texts()[0];
        EXPECT_EQ(std::vector<std::string>{"A=1"}, rules()) << c.body;
    }
}

TEST_F(SequenceSectionTest, oversizeModel_isRefusedAndThePreviousModelKept) {
    ASSERT_EQ(1, load_text(HEADER + "# 1 2\n# Selected sequence\n# 02 05\n")) << reports();
    ASSERT_EQ((Groups{{2, 5}}), groups());

    std::string many_groups = "# 200 1\n# Selected sequence\n";
    for (int i = 0; i < 200; ++i) many_groups += "# 01\n";
    const std::string oversize[] = {
        many_groups,
        "# 1 11\n# Selected sequence\n# 01 02 03 04 05 06 07 08 09 10 11\n",
        "# 1 2\n# Selected sequence\n# 02 100\n",
    };
    for (const std::string& body : oversize) {
        recorder.reports.clear();
        load_text(HEADER + body);
        EXPECT_FALSE(recorder.reports.empty()) << body.substr(0, 40);
        EXPECT_EQ((Groups{{2, 5}}), groups()) << body.substr(0, 40);
    }
    // A file without a section leaves the model alone as well.
    recorder.reports.clear();
    ASSERT_EQ(1, load_text("X = 1\n")) << reports();
    EXPECT_EQ((Groups{{2, 5}}), groups());

    // The largest model that fits is taken.
    std::string largest = "# 199 1\n# Selected sequence\n";
    for (int i = 0; i < 199; ++i) largest += "# 99\n";
    ASSERT_EQ(1, load_text(HEADER + largest)) << reports();
    EXPECT_EQ(199, sequence_model.MaxCFCount);
    ASSERT_EQ(1,
              load_text(HEADER + "# 1 10\n# Selected sequence\n# 99 01 02 03 04 05 06 07 08 09\n"))
        << reports();
    EXPECT_EQ((Groups{{99, 1, 2, 3, 4, 5, 6, 7, 8, 9}}), groups());
}

}  // namespace
}  // namespace ruvalda::test
