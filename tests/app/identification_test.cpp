// The build identification: the About listing and build date made from identification lines,
// and the lines this build was given.
#include "gui/identification.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

namespace ruvalda::test {
namespace {

// The dates are read as local time; in UTC the two-hour shift is all that moves them.
class IdentificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_tz_ = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void TearDown() override {
        if (saved_tz_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved_tz_.c_str(), 1);
        tzset();
    }

  private:
    std::string saved_tz_;
};

Identification listing_of(std::string entry, std::vector<UnitLines> units = {},
                          std::vector<std::string> hints = {}) {
    return BuildIdentification({std::move(entry), std::move(hints), std::move(units)});
}

TEST_F(IdentificationTest, listing_keepsFileRevisionDateAndTime_oneLfAfterEveryOtherPiece) {
    const Identification id =
        listing_of("$Id: main.cpp 3 2024-05-01 10:00:00Z Ann $",
                   {{"", ""},
                    {"$Id: output.cpp 4 2024-05-02 11:00:00Z Cy $",
                     "$Id: output.h 1 2024-03-01 12:00:00Z Cy $"}},
                   {"$Id: form_main.cpp 7 2024-05-02 09:15:00Z Bob \"B\" $\r\n\t"
                    "$Id: form_main.h 2 2024-04-30 08:00:00Z Ann $",
                    ""});
    EXPECT_EQ(
        "main.cpp 3 2024-05-01 10:00:00\n"
        "\r\nform_main.cpp 7 2024-05-02 09:15:00"
        "\r\n\tform_main.h 2 2024-04-30 08:00:00\n"
        "\r\noutput.cpp 4 2024-05-02 11:00:00"
        "\r\n\toutput.h 1 2024-03-01 12:00:00\n",
        id.listing);
    EXPECT_EQ("2024-05-02", format_build_date(id.date));
    EXPECT_EQ("13:00:00", id.time);
}

TEST_F(IdentificationTest, buildDate_isTheNewestShiftedDate_withItsLatestTime) {
    // 23:30 moves into the next year; 21:00 is later in the day but on the older date.
    const Identification id = listing_of(
        "$Id: main.cpp 1 2024-12-31 23:30:00Z a $",
        {{"$Id: b.cpp 1 2024-12-31 21:00:00Z a $", "$Id: b.h 1 2024-12-31 22:10:00Z a $"}});
    EXPECT_EQ("2025-01-01", format_build_date(id.date));
    EXPECT_EQ("01:30:00", id.time);

    // The piece after the last LF does not count, however new.
    const Identification last = listing_of("$Id: main.cpp 1 2024-01-01 10:00:00Z a $",
                                           {{"$Id: x.cpp 1 2030-06-01 10:00:00Z a $", ""}});
    EXPECT_EQ("main.cpp 1 2024-01-01 10:00:00\n\r\nx.cpp 1 2030-06-01 10:00:00", last.listing);
    EXPECT_EQ("2024-01-01", format_build_date(last.date));
    EXPECT_EQ("12:00:00", last.time);

    const Identification none = listing_of("");
    EXPECT_EQ("", none.listing);
    EXPECT_EQ(0, none.date.year);
    EXPECT_EQ("00:00:00", none.time);
    EXPECT_EQ("0000-00-00", format_build_date(none.date));
}

TEST_F(IdentificationTest, malformedLines_endTheListingOrLoseTheirDate_neverReadOutside) {
    struct Case {
        const char* entry;
        const char* listing;
        int year;
    };
    const Case cases[] = {
        {"$Id: no colon at all $", "", 0},
        {"$Id: a.cpp 1 2024-01-01 12:3", "a.cpp 1 2024-01-01 12:3\n", 0},
        {"$Id: a.cpp 1 2024-01-01 12:00:00Z no dollar", "a.cpp 1 2024-01-01 12:00:00\n", 2024},
        {"$Id: 1-2 12:00:00Z a $", "1-2 12:00:00\n", 0},
        {"$Id: a.cpp 1 2024-01-01 1:0:00Z a $", "a.cpp 1 2024-01-01 1:0:00Z\n", 0},
        {"$Id: a.cpp 1 2024-13-01 12:00:00Z a $", "a.cpp 1 2024-13-01 12:00:00\n", 0},
        {"$Id: a.cpp 1 2024-01-01 12:00:00Z a $ab:", "a.cpp 1 2024-01-01 12:00:00\n", 2024},
        {":", "", 0},
        {"$$$$$$$$", "", 0},
    };
    for (const Case& c : cases) {
        const Identification id = listing_of(c.entry);
        EXPECT_EQ(c.listing, id.listing) << c.entry;
        EXPECT_EQ(c.year, id.date.year) << c.entry;
    }
}

TEST_F(IdentificationTest, thisBuildsLines_haveTheIdForm_andGiveABuildDate) {
    const std::regex id_line(R"(\$Id: (\S+) \d+ \d{4}-\d\d-\d\d \d\d:\d\d:\d\dZ .+ \$)");
    const struct {
        Unit unit;
        const char* body;
        const char* header;
    } units[] = {
        {Unit::MainWindow, "form_main.cpp", "form_main.h"},
        {Unit::MapWindow, "form_map.cpp", "form_map.h"},
        {Unit::TraceDialog, "select_formula.cpp", "select_formula.h"},
        {Unit::MessageOutput, "output.cpp", "output.h"},
        {Unit::Engine, "", "eval.h"},
    };
    std::smatch match;
    const std::string entry = unit_lines(Unit::Entry).body;
    ASSERT_TRUE(std::regex_match(entry, match, id_line)) << entry;
    EXPECT_EQ("main.cpp", match[1]);
    for (const auto& u : units) {
        const UnitLines lines = unit_lines(u.unit);
        ASSERT_TRUE(std::regex_match(lines.body, match, id_line)) << lines.body;
        if (*u.body)
            EXPECT_EQ(u.body, match[1]);
        else
            EXPECT_TRUE(match[1].str().ends_with(".cpp")) << lines.body;
        ASSERT_TRUE(std::regex_match(lines.header, match, id_line)) << lines.header;
        EXPECT_EQ(u.header, match[1]);
        EXPECT_EQ(lines.body + "\r\n\t" + lines.header, window_hint(u.unit));
    }

    const Identification id = listing_of(entry, {unit_lines(Unit::MessageOutput)});
    EXPECT_NE(0, id.date.year);
    EXPECT_EQ(std::string::npos, id.listing.find('$')) << id.listing;
}

}  // namespace
}  // namespace ruvalda::test
