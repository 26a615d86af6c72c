// Controllers share nothing: two junctions run side by side in one process, step by step, give
// exactly what each gives alone.
#include <memory>
#include <string>
#include <vector>

#include "controller/controller.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

constexpr int SECONDS = 900;

struct Junction {
    Controller c;
    ReportRecorder recorder;
    std::vector<Event> events;
    std::size_t next = 0;
    std::vector<std::string> colours;  // "time stream colour" of every change, in order

    explicit Junction(const std::string& example) {
        const std::string dir = std::string(RUVALDA_SOURCE_DIR) + "/examples/" + example + "/";
        const std::string path = dir + example + ".rvc";
        c.engine.output.front_end = &recorder;
        c.reader.macro.macro_path =
            macro_path_for(path, std::string(RUVALDA_SOURCE_DIR) + "/macros");
        c.reader.sequence_handler = sequence_reader(c.sequence_model);
        EXPECT_EQ(1, RVLoadFile(c.reader, c.engine, path.c_str())) << example;
        c.engine.colour_callback = [this](int stream, char colour) {
            colours.push_back(std::to_string(c.engine.current_time) + " " + std::to_string(stream) +
                              colour);
        };
        EXPECT_EQ(1, RVInitialize(c.engine)) << example;
        events = read_events(dir + "rush-hour.txt", SECONDS * 10);
    }

    void step(int t) {
        RVRunUntil(c.engine, t);
        for (; next < events.size() && events[next].time <= t; ++next)
            SetDetectorState(c.engine, events[next].detector, events[next].state);
    }
};

std::vector<std::string> alone(const std::string& example) {
    auto j = std::make_unique<Junction>(example);
    for (int t = 1; t <= SECONDS * 10; ++t) j->step(t);
    return j->colours;
}

TEST(TwoJunctionsTest, sideBySideInOneProcess_runAsEachRunsAlone) {
    const std::vector<std::string> crossing = alone("crossing");
    const std::vector<std::string> avenue = alone("avenue");
    ASSERT_GT(crossing.size(), 100u);
    ASSERT_GT(avenue.size(), 100u);

    auto a = std::make_unique<Junction>("crossing");
    auto b = std::make_unique<Junction>("avenue");
    for (int t = 1; t <= SECONDS * 10; ++t) {
        a->step(t);
        b->step(t);
    }
    EXPECT_EQ(crossing, a->colours);
    EXPECT_EQ(avenue, b->colours);
    EXPECT_TRUE(a->recorder.reports.empty());
    EXPECT_TRUE(b->recorder.reports.empty());
}

}  // namespace
}  // namespace ruvalda::test
