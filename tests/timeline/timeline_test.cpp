// The signal timeline as drawn into an SVG file: rows, colour bars, detector marks, violations,
// the time axis and the title, read back from the file.
#include "timeline/timeline.h"

#include <regex>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

struct Box {
    double x, y, w, h;
};

// The rectangles of the path with this id ("M x y h w v h h -w z" each); none when it is absent.
std::vector<Box> boxes(const std::string& svg, const std::string& id) {
    std::vector<Box> out;
    std::size_t at = svg.find("id=\"" + id + "\"");
    if (at == std::string::npos) return out;
    at = svg.find(" d=\"", at) + 4;
    const std::string d = svg.substr(at, svg.find('"', at) - at);
    static const std::regex rect(R"re(M([-\d.]+) ([-\d.]+)h([\d.]+)v([\d.]+)h-([\d.]+)z)re");
    for (std::sregex_iterator m(d.begin(), d.end(), rect), end; m != end; ++m)
        out.push_back(
            {std::stod((*m)[1]), std::stod((*m)[2]), std::stod((*m)[3]), std::stod((*m)[4])});
    return out;
}

std::vector<std::smatch> all(const std::string& svg, const std::string& pattern) {
    std::regex re(pattern);
    std::vector<std::smatch> out;
    for (std::sregex_iterator m(svg.begin(), svg.end(), re), end; m != end; ++m) out.push_back(*m);
    return out;
}

class Timeline : public ::testing::Test {
  protected:
    std::string dir = temp_dir();
    TimelineRecorder rec;
    std::int32_t from = 0, to = 1;
    double left = 0, width = 0;  // the plot area, from the axis line

    std::string draw(std::int32_t from_time, std::int32_t to_time) {
        from = from_time, to = to_time;
        std::string error;
        EXPECT_TRUE(rec.write_svg(dir + "/out.svg", from, to, &error)) << error;
        std::string svg = read_file(dir + "/out.svg");
        std::smatch axis;
        EXPECT_TRUE(
            std::regex_search(svg, axis, std::regex(R"re(id="axis" d="M(\d+) \d+h(\d+)")re")));
        if (!axis.empty()) left = std::stod(axis[1]), width = std::stod(axis[2]);
        return svg;
    }
    double x(std::int32_t t) const { return left + (t - from) * width / (to - from); }
    // One bar or mark from time a to time b, to the file's precision of a tenth of a pixel.
    void expect_box(const Box& box, std::int32_t a, std::int32_t b) const {
        EXPECT_NEAR(x(a), box.x, 0.051) << "starts at " << a;
        EXPECT_NEAR(x(b) - x(a), box.w, 0.11) << "from " << a << " to " << b;
    }
    std::vector<std::string> tick_labels(const std::string& svg) const {
        std::vector<std::string> out;
        for (const std::smatch& m :
             all(svg, R"re(<text class="tick" x="[\d.]+" y="\d+">([^<]*)<)re"))
            out.push_back(m[1]);
        return out;
    }
};

TEST_F(Timeline, rows_followStreamNumberWithTwoDigitLabels) {
    rec.colour(0, 12, 'R');
    rec.colour(5, 3, 'G');
    rec.detector(7, 71, 1);  // stream 07 shows only through its detector
    rec.detector(8, 4, 1);   // a detector without a stream makes no row
    const std::string svg = draw(0, 100);
    std::vector<std::string> labels;
    double last_y = -1;
    for (const std::smatch& m : all(svg, R"re(<text class="row" x="\d+" y="(\d+)">(\d+)<)re")) {
        labels.push_back(m[2]);
        EXPECT_GT(std::stod(m[1]), last_y + 14) << "rows overlap at " << m[2];
        last_y = std::stod(m[1]);
    }
    EXPECT_EQ((std::vector<std::string>{"03", "07", "12"}), labels);
}

TEST_F(Timeline, colourBars_lastUntilTheNextChangeAndTheLastUntilTheWindowEnd) {
    rec.colour(0, 2, 'R');
    rec.colour(300, 2, 'G');
    rec.colour(900, 2, 'Y');
    rec.colour(930, 2, 'R');
    const std::string svg = draw(0, 1200);
    const std::vector<Box> red = boxes(svg, "s02-R"), green = boxes(svg, "s02-G"),
                           amber = boxes(svg, "s02-Y");
    ASSERT_EQ(2u, red.size());
    expect_box(red[0], 0, 300);
    expect_box(red[1], 930, 1200);
    ASSERT_EQ(1u, green.size());
    expect_box(green[0], 300, 900);
    ASSERT_EQ(1u, amber.size());
    expect_box(amber[0], 900, 930);
    EXPECT_EQ(red[0].y, green[0].y);
    EXPECT_GT(red[0].h, 5);
}

TEST_F(Timeline, window_clipsBarsAndKeepsColoursThatStartedBeforeIt) {
    rec.colour(0, 1, 'G');  // green since before the window
    rec.colour(1000, 1, 'R');
    rec.colour(2000, 1, 'G');  // after the window
    rec.colour(0, 4, 'R');
    rec.colour(900, 4, 'G');  // nothing known before 900
    rec.colour(0, 5, 'G');
    rec.colour(100, 5, 'R');  // both changes before the window
    const std::string svg = draw(600, 1800);
    ASSERT_EQ(1u, boxes(svg, "s01-G").size());
    expect_box(boxes(svg, "s01-G")[0], 600, 1000);
    ASSERT_EQ(1u, boxes(svg, "s01-R").size());
    expect_box(boxes(svg, "s01-R")[0], 1000, 1800);
    ASSERT_EQ(1u, boxes(svg, "s04-R").size());
    expect_box(boxes(svg, "s04-R")[0], 600, 900);
    expect_box(boxes(svg, "s04-G")[0], 900, 1800);
    EXPECT_TRUE(boxes(svg, "s05-G").empty());
    expect_box(boxes(svg, "s05-R")[0], 600, 1800);
}

TEST_F(Timeline, firstChangeInsideTheWindow_leavesTheTimeBeforeItUncoloured) {
    rec.colour(400, 6, 'G');
    rec.colour(800, 6, 'R');
    const std::string svg = draw(0, 1200);
    expect_box(boxes(svg, "s06-G").at(0), 400, 800);
    expect_box(boxes(svg, "s06-R").at(0), 800, 1200);
}

TEST_F(Timeline, equalNeighboursMerge_andInvisibleFlickerLeavesNoGap) {
    rec.colour(0, 1, 'R');
    rec.colour(100, 1, 'R');
    rec.colour(200, 1, 'R');
    rec.colour(300, 1, 'G');
    rec.colour(30000, 1, 'Y');  // a tenth of amber: far below a pixel in an hour
    rec.colour(30001, 1, 'R');
    const std::string svg = draw(0, 36000);
    const std::vector<Box> red = boxes(svg, "s01-R"), green = boxes(svg, "s01-G");
    ASSERT_EQ(2u, red.size());
    expect_box(red[0], 0, 300);
    ASSERT_EQ(1u, green.size());
    EXPECT_NEAR(green[0].x + green[0].w, red[1].x, 0.01);
    EXPECT_NEAR(x(36000), red[1].x + red[1].w, 0.01);
}

TEST_F(Timeline, detectorMarks_showWhenAnyDetectorOfTheStreamIsOccupied) {
    rec.colour(0, 5, 'R');
    rec.detector(100, 51, 1);
    rec.detector(150, 52, 1);
    rec.detector(160, 51, 1);  // repeated: still occupied
    rec.detector(200, 51, 0);
    rec.detector(300, 52, 0);
    rec.detector(500, 51, 1);
    rec.detector(600, 51, 0);
    rec.detector(700, 61, 1);  // stream 06, never released
    const std::string svg = draw(0, 1200);
    const std::vector<Box> marks = boxes(svg, "s05-det");
    ASSERT_EQ(2u, marks.size());
    expect_box(marks[0], 100, 300);
    expect_box(marks[1], 500, 600);
    EXPECT_GT(marks[0].y, boxes(svg, "s05-R").at(0).y) << "the lane lies under the bar";
    ASSERT_EQ(1u, boxes(svg, "s06-det").size());
    expect_box(boxes(svg, "s06-det")[0], 700, 1200);
}

TEST_F(Timeline, detectorMarks_areClippedAndAShortOccupancyStaysVisible) {
    rec.detector(100, 11, 1);
    rec.detector(250, 11, 0);  // ends before the window: nothing
    rec.detector(400, 11, 1);
    rec.detector(700, 11, 0);  // from before into the window
    rec.detector(900, 11, 1);
    rec.detector(901, 11, 0);  // a tenth: 0.04 px in an hour
    rec.detector(20000, 21, 1);
    rec.detector(20001, 21, 0);
    const std::string svg = draw(600, 36600);
    const std::vector<Box> marks = boxes(svg, "s01-det");
    ASSERT_EQ(2u, marks.size());
    EXPECT_NEAR(x(600), marks[0].x, 0.01);
    EXPECT_GE(marks[0].w, 1.0);
    EXPECT_NEAR(x(900), marks[1].x, 0.051);
    EXPECT_GE(marks[1].w, 1.0);
    EXPECT_GE(boxes(svg, "s02-det").at(0).w, 1.0);
}

TEST_F(Timeline, violations_spanBothRowsWithATooltipAndOnlyInsideTheWindow) {
    for (int s : {2, 5, 8}) rec.colour(0, s, 'R');
    rec.violation(450, 8, 2, 15);
    rec.violation(5000, 2, 5, 3);  // after the window
    const std::string svg = draw(0, 1200);
    const auto found =
        all(svg, R"re(class="violation"><title>([^<]*)</title><path d="M([\d.]+) (\d+)V(\d+)")re");
    ASSERT_EQ(1u, found.size());
    const std::string tip = found[0][1];
    EXPECT_NE(std::string::npos, tip.find("02")) << tip;
    EXPECT_NE(std::string::npos, tip.find("08")) << tip;
    EXPECT_NE(std::string::npos, tip.find("45.0 s")) << tip;
    EXPECT_NE(std::string::npos, tip.find("1.5 s")) << tip;
    EXPECT_NEAR(x(450), std::stod(found[0][2]), 0.051);
    EXPECT_LE(std::stod(found[0][3]), boxes(svg, "s02-R").at(0).y);
    EXPECT_GE(std::stod(found[0][4]), boxes(svg, "s08-R").at(0).y + boxes(svg, "s08-R")[0].h);
}

TEST_F(Timeline, twoMinutes_areLabelledInSeconds) {
    EXPECT_EQ((std::vector<std::string>{"0", "10", "20", "30", "40", "50", "60", "70", "80", "90",
                                        "100", "110", "120"}),
              tick_labels(draw(0, 1200)));
}

TEST_F(Timeline, tenMinutesLater_areLabelledInMinutesFromTheWindowStart) {
    EXPECT_EQ((std::vector<std::string>{"10:00", "11:00", "12:00", "13:00", "14:00", "15:00",
                                        "16:00", "17:00", "18:00", "19:00", "20:00"}),
              tick_labels(draw(6000, 12000)));
}

TEST_F(Timeline, oneHour_isLabelledInHoursMinutesSecondsEveryFiveMinutes) {
    const std::vector<std::string> labels = tick_labels(draw(0, 36000));
    ASSERT_EQ(13u, labels.size());
    EXPECT_EQ("0:00:00", labels[0]);
    EXPECT_EQ("0:05:00", labels[1]);
    EXPECT_EQ("1:00:00", labels[12]);
}

TEST_F(Timeline, anyWindowLength_getsBetweenSixAndSixteenDistinctWellSpacedTicks) {
    for (std::int32_t span : {10, 37, 123, 1200, 2999, 3001, 7777, 36000, 100000, 2000000}) {
        const std::string svg = draw(35, 35 + span);
        const auto ticks = all(svg, R"re(<text class="tick" x="([\d.]+)" y="\d+">([^<]*)<)re");
        EXPECT_GE(ticks.size(), 6u) << span;
        EXPECT_LE(ticks.size(), 16u) << span;
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            EXPECT_NE(ticks[i - 1][2], ticks[i][2]) << span;
            EXPECT_GE(std::stod(ticks[i][1]) - std::stod(ticks[i - 1][1]), 70.0) << span;
        }
    }
}

TEST_F(Timeline, title_isEscapedForXml) {
    rec.title = "crossing <rush> & \"night\"";
    const std::string svg = draw(0, 100);
    EXPECT_NE(std::string::npos, svg.find("crossing &lt;rush&gt; &amp; &quot;night&quot;"));
    EXPECT_EQ(std::string::npos, svg.find("<rush>"));
}

TEST_F(Timeline, busyHour_staysSmallWithOneDecimalNumbers) {
    for (int s = 1; s <= 12; ++s) {
        for (std::int32_t t = s; t < 36000; t += 600) {
            rec.colour(t, s, 'G');
            rec.colour(t + 200, s, 'Y');
            rec.colour(t + 230, s, 'R');
        }
        for (std::int32_t t = s; t < 36000; t += 17) {
            rec.detector(t, s * 10 + 1, 1);
            rec.detector(t + 4, s * 10 + 1, 0);
        }
    }
    const std::string svg = draw(0, 36000);
    EXPECT_LT(svg.size(), 300000u);
    EXPECT_FALSE(std::regex_search(svg, std::regex(R"re(\d\.\d\d)re")));
}

TEST_F(Timeline, unwritablePathOrEmptyWindow_failsWithAReason) {
    std::string error;
    const std::string path = dir + "/missing/out.svg";
    EXPECT_FALSE(rec.write_svg(path, 0, 100, &error));
    EXPECT_NE(std::string::npos, error.find(path)) << error;
    error.clear();
    EXPECT_FALSE(rec.write_svg(dir + "/out.svg", 100, 100, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace ruvalda::test
