// The graphics environment file on disk: loading every line form through a recording window,
// the format errors with their file and line, saving back, and saves that fail.
#include "map/graphics_file.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <filesystem>
#include <set>

#include "map/stream_glyphs.h"
#include "tests/support/test_support.h"

namespace ruvalda {
namespace {

using test::read_file;
using test::write_file;

std::string text_of(MapPoint p) {
    return std::to_string(p.x).append(",").append(std::to_string(p.y));
}

// The window as the loader sees it: records what it is asked to show.
struct RecordingSink : GraphicsSink {
    explicit RecordingSink(MapModel& map_model) : map_model(map_model) {}
    MapModel& map_model;
    std::vector<std::string> events;
    bool picture_loads = true;
    std::set<int> boxes;  // detectors that have a box
    std::deque<bool> answers;
    std::vector<std::string> questions;

    void clear_discs() override { events.push_back("clear discs"); }
    bool load_picture() override {
        events.push_back("picture " + map_model.picture_file);
        map_model.picture_width = 300;
        map_model.picture_height = 200;
        return picture_loads;
    }
    bool place_detector_box(int detector, MapPoint corner) override {
        if (!boxes.count(detector)) return false;
        events.push_back("box " + std::to_string(detector) + " " + text_of(corner));
        return true;
    }
    void add_light_disc(int stream, MapPoint centre) override {
        events.push_back("disc " + std::to_string(stream) + " " + text_of(centre));
    }
    bool ask_continue(const std::string& text) override {
        questions.push_back(text);
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class GraphicsFileTest : public test::ControllerTest {
  protected:
    ReportRecorder recorder;
    RecordingSink sink{map_model};
    std::string dir, control, rvg;

    void SetUp() override {
        engine.output.front_end = &recorder;
        dir = test::temp_dir();
        control = dir + "/x.rvc";
        rvg = dir + "/x.rvg";
    }
    bool load(const std::string& text) {
        write_file(rvg, text);
        return LoadGraphics(map_model, stream_glyphs, engine.output, control, sink);
    }
    std::vector<std::string> reports() const {
        std::vector<std::string> texts;
        for (const Report& r : recorder.reports) texts.push_back(r.text);
        return texts;
    }
    std::vector<MapPoint> polygon(int stream, std::size_t index = 0) {
        const auto& list = map_model.polygons[static_cast<std::size_t>(stream)];
        if (index >= list.size()) return {};
        const MapPolygon& p = *std::next(list.begin(), static_cast<long>(index));
        return {p.points.begin(), p.points.begin() + p.count};
    }
};

TEST_F(GraphicsFileTest, EveryLineFormLoadsAndSavesBack) {
    map_model.colour[4] = 'G';
    map_model.polygons[9].push_back({});
    sink.boxes = {32, 51};
    ASSERT_TRUE(
        load("mapfile=  pic.jpg\r\n"
             "; other lines are ignored\n"
             "polygon=3: 120, 45, 180, 45, 180, 90\n"
             "polygon=3:1,2 3,4 5,6   \r\n"
             "detector=03.2: 130, 60\t260, 120\n"
             "detector=05.1: 100, 50\n"
             "light=03: 150, 40\t300, 80\n"
             "light=07:20,30\n"));
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(sink.events, (std::vector<std::string>{"clear discs", "picture " + dir + "/pic.jpg",
                                                     "box 32 130,60", "box 51 100,50",
                                                     "disc 3 150,40", "disc 7 20,30"}));
    EXPECT_TRUE(map_model.jpeg);
    EXPECT_EQ(map_model.colour[4], 'R');
    EXPECT_TRUE(map_model.polygons[9].empty());
    EXPECT_EQ(map_model.graphics_file, rvg);
    EXPECT_EQ(stream_glyphs[3].box_bitmap[2], (MapPoint{260, 120}));
    EXPECT_EQ(stream_glyphs[3].light_bitmap, (MapPoint{300, 80}));

    // The window's controls in creation order: boxes first, box 32 since moved; discs 11 x 11.
    map_model.unsaved = true;
    map_model.polygons[4].push_back({2, {}});  // a line: not saved
    ASSERT_TRUE(SaveGraphics(map_model, stream_glyphs, engine.output, control,
                             {{false, 32, 10, 12, 9, 9},
                              {false, 51, 100, 50, 9, 9},
                              {true, 3, 145, 35, 11, 11},
                              {true, 7, 15, 25, 11, 11}}));
    EXPECT_FALSE(map_model.unsaved);
    EXPECT_EQ(read_file(rvg),
              "mapfile=pic.jpg\n"
              "polygon=3: 120, 45, 180, 45, 180, 90\n"
              "polygon=3: 1, 2, 3, 4, 5, 6\n"
              "light=07: 20, 30\t20, 30\n"
              "light=03: 150, 40\t300, 80\n"
              "detector=05.1: 100, 50\t100, 50\n"
              "detector=03.2: 10, 12\t260, 120\n");
    EXPECT_FALSE(std::filesystem::exists(rvg + ".tmp"));
}

TEST_F(GraphicsFileTest, SavingKeepsTheFilesLineEnds) {
    ASSERT_TRUE(load("polygon=3: 1, 2, 3, 4, 5, 6\r\nlight=07: 20, 30\t20, 30\r\n"));
    ASSERT_TRUE(SaveGraphics(map_model, stream_glyphs, engine.output, control,
                             {{true, 7, 15, 25, 11, 11}}));
    EXPECT_EQ(read_file(rvg), "polygon=3: 1, 2, 3, 4, 5, 6\r\nlight=07: 20, 30\t20, 30\r\n");
    ASSERT_TRUE(load("polygon=3: 1, 2, 3, 4, 5, 6\nlight=07: 20, 30\t20, 30\r\n"));
    ASSERT_TRUE(SaveGraphics(map_model, stream_glyphs, engine.output, control,
                             {{true, 7, 15, 25, 11, 11}}));
    EXPECT_EQ(std::string::npos, read_file(rvg).find('\r')) << "mixed line ends are saved as LF";
}

TEST_F(GraphicsFileTest, PicturesNamedAbsoluteOrBesideTheControlFile) {
    const std::pair<const char*, std::string> cases[] = {
        {"D:\\maps\\x.bmp", "D:\\maps\\x.bmp"},
        {"\\maps\\x.bmp", "\\maps\\x.bmp"},
        {"/maps/x.JPG", "/maps/x.JPG"},
        {"maps.d/x", dir + "/maps.d/x"},
    };
    for (const auto& [value, held] : cases) {
        ASSERT_TRUE(load(std::string("mapfile=") + value));
        EXPECT_EQ(map_model.picture_file, held);
        EXPECT_FALSE(map_model.jpeg) << value;
    }
    // A bitmap picture places boxes and discs on the bitmap pair.
    sink.boxes = {32};
    sink.events.clear();
    ASSERT_TRUE(load("detector=03.2: 130, 60\t260, 120\nlight=03: 1, 2\t3, 4"));
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"clear discs", "box 32 260,120", "disc 3 3,4"}));

    ASSERT_TRUE(load("mapfile=maps/x.jpg"));
    EXPECT_EQ(map_model.picture_file, dir + "/maps/x.jpg");
    EXPECT_TRUE(map_model.jpeg);
    // Saved elsewhere than beside the control file: the name as held.
    map_model.picture_file = "/elsewhere/p.jpg";
    ASSERT_TRUE(SaveGraphics(map_model, stream_glyphs, engine.output, control, {}));
    EXPECT_EQ(read_file(rvg), "mapfile=/elsewhere/p.jpg\n");
}

TEST_F(GraphicsFileTest, PolygonFormsAndClamping) {
    std::string twenty = "polygon=6:";
    for (int i = 0; i < 20; ++i)
        twenty.append(" ").append(std::to_string(i)).append(",").append(std::to_string(i));
    ASSERT_TRUE(
        load("polygon=4:10,10 20,10 20,20\n"
             "polygon=4: 10, 10, 20, 10, 20, 20\n"
             "polygon=5: -5, 10, 620, 593, 20, 20\n" +
             twenty));
    const std::vector<MapPoint> triangle = {{10, 10}, {20, 10}, {20, 20}};
    EXPECT_EQ(polygon(4, 0), triangle);
    EXPECT_EQ(polygon(4, 1), triangle);
    // Before any picture the empty image's 621 x 593 is the bound.
    EXPECT_EQ(polygon(5), (std::vector<MapPoint>{{0, 10}, {620, 592}, {20, 20}}));
    EXPECT_EQ(polygon(6).size(), 20u);
}

TEST_F(GraphicsFileTest, FormatErrorsNameFileAndLineAndStopReading) {
    std::string many = "polygon=4:";
    for (int i = 0; i < 21; ++i) many += " 1,1";
    const std::pair<std::string, std::string> cases[] = {
        {"polygon=x: 1,1 2,2 3,3", "cannot find stream id."},
        {"polygon=4 1,1 2,2 3,3", "cannot find stream id."},
        {"polygon=4: 10,10 20,10", "polygon has too few points."},
        {many, "polygon has too many points (maximum is 20)."},
        {"polygon=4: 10,10 20,x", "error parsing coordinate list near position 17."},
        {"detector=05: 1, 2", "bad format; expected stream.subnumber:x,y.\n"},
        {"detector=05.1: 1, 2\t3", "bad format; expected stream.subnumber:x,y.\n"},
        {"light=05 1, 2", "bad format; expected stream:x,y.\n"},
        {"light=05: 1, 2\t3", "bad format; expected stream:x,y.\n"},
        {"polygon=100: 1,1 2,2 3,3", "stream 100 is outside 1..99."},
        {"polygon=0: 1,1 2,2 3,3", "stream 0 is outside 1..99."},
        {"detector=100.1: 1, 1", "stream 100 is outside 1..99."},
        {"detector=05.0: 1, 1", "detector sub-number 0 is outside 1..9."},
        {"detector=05.10: 1, 1", "detector sub-number 10 is outside 1..9."},
        {"light=-1: 1, 1", "stream -1 is outside 1..99."},
    };
    for (const auto& [line, message] : cases) {
        recorder.reports.clear();
        sink.events.clear();
        EXPECT_FALSE(load("light=02: 5, 5\n" + line + "\nlight=09: 5, 5\n"));
        EXPECT_EQ(reports(),
                  std::vector<std::string>{"Error in Load graphics: " + rvg + "(2): " + message});
        EXPECT_EQ(sink.events.back(), "disc 2 5,5") << line;
    }
}

TEST_F(GraphicsFileTest, ReadingStopsAtAFailedPictureOrAMissingBox) {
    sink.picture_loads = false;
    EXPECT_FALSE(load("polygon=1: 1,1 2,2 3,3\nmapfile=p.jpg\npolygon=2: 1,1 2,2 3,3\n"));
    EXPECT_EQ(map_model.polygons[1].size(), 1u);
    EXPECT_TRUE(map_model.polygons[2].empty());

    sink.answers = {true, false};
    EXPECT_FALSE(load("detector=05.1: 1, 2\ndetector=06.3: 1, 2\nlight=05: 3, 3\n"));
    EXPECT_EQ(sink.questions,
              (std::vector<std::string>{
                  rvg + "(1): Detector 05.1 does not exist in control program.\nContinue ?",
                  rvg + "(2): Detector 06.3 does not exist in control program.\nContinue ?"}));
    EXPECT_EQ(sink.events.back(), "clear discs");
    EXPECT_TRUE(reports().empty());
}

TEST_F(GraphicsFileTest, LongLinesAreCutAndMissingFilesReported) {
    // The rest of an overlong line is not a line of its own: the next error is on line 2.
    EXPECT_FALSE(
        load("polygon=1: 1,1 2,2 3,3" + std::string(12000, ' ') + "polygon=x\n" + "polygon=x\n"));
    EXPECT_EQ(map_model.polygons[1].size(), 1u);
    EXPECT_EQ(reports().back(), "Error in Load graphics: " + rvg + "(2): cannot find stream id.");

    std::filesystem::remove(rvg);
    EXPECT_FALSE(LoadGraphics(map_model, stream_glyphs, engine.output, control, sink));
    EXPECT_FALSE(LoadGraphics(map_model, stream_glyphs, engine.output, dir + "/", sink));
    EXPECT_FALSE(SaveGraphics(map_model, stream_glyphs, engine.output, "", {}));
    std::filesystem::create_directory(rvg);
    EXPECT_FALSE(LoadGraphics(map_model, stream_glyphs, engine.output, control, sink));
    EXPECT_EQ(reports(),
              (std::vector<std::string>{
                  "Error in Load graphics: " + rvg + "(2): cannot find stream id.",
                  "Error in Load graphics: Cannot open ruvalda graphics file \"" + rvg +
                      "\" for reading: No such file or directory.",
                  "Error in Load graphics: Cannot generate filename of graphics info file.",
                  "Error in TFormMap::SaveGraphics: Cannot generate filename of graphics info "
                  "file.",
                  "Error in Load graphics: Cannot read ruvalda graphics file \"" + rvg +
                      "\": Is a directory."}));
    EXPECT_EQ(graphics_file_name("a.b/c"), "a.b/c.rvg");
}

TEST_F(GraphicsFileTest, AFailedSaveKeepsTheOldFile) {
    write_file(rvg, "light=01: 1, 1\n");
    map_model.polygons[1].push_back({3, {}});
    // The folder cannot be written (as root, only while acting as another user).
    std::filesystem::permissions(dir, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const bool as_root = ::geteuid() == 0;
    if (as_root && ::seteuid(65534) != 0) {
        GTEST_SKIP() << "cannot act as another user";
    }
    EXPECT_FALSE(SaveGraphics(map_model, stream_glyphs, engine.output, control, {}));
    if (as_root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    std::filesystem::permissions(dir, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);

    // A write that fails half way: the file size limit is below the file's size.
    for (int i = 0; i < 50; ++i) map_model.polygons[1].push_back({3, {}});
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 100;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_FALSE(SaveGraphics(map_model, stream_glyphs, engine.output, control, {}));
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(reports(),
              (std::vector<std::string>{"Error in TFormMap::SaveGraphics: Cannot open file \"" +
                                            rvg + "\" for writing: Permission denied.",
                                        "Error in TFormMap::SaveGraphics: Error closing file \"" +
                                            rvg + "\": File too large."}));
    EXPECT_EQ(read_file(rvg), "light=01: 1, 1\n");
    EXPECT_FALSE(std::filesystem::exists(rvg + ".tmp"));
}

}  // namespace
}  // namespace ruvalda
