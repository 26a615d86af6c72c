// Settles skipped at fixed points and rules passed over in a pass must leave no trace: the
// example junction run through its rush-hour traffic gives the same colours, pane and dump with
// and without the skipping.
#include <fstream>
#include <sstream>

#include "loader/reader.h"
#include "sequence/sequence_model.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

struct Outcome {
    std::vector<std::string> colours;
    std::vector<std::string> pane;
    std::vector<std::string> dump;
};

class FixedPointTest : public EngineTest {
  protected:
    Outcome run(bool skip, int seconds) {
        // Each run is a junction of its own.
        Controller fresh;
        EngineState& engine = fresh.engine;
        ReaderState& reader_state = fresh.reader;
        SequenceModel& sequence_model = fresh.sequence_model;
        engine.output.front_end = &recorder;
        const std::string dir = std::string(RUVALDA_SOURCE_DIR) + "/examples/crossing/";
        reader_state.macro.macro_path =
            macro_path_for(dir + "crossing.rvc", std::string(RUVALDA_SOURCE_DIR) + "/macros");
        reader_state.sequence_handler = sequence_reader(sequence_model);
        EXPECT_EQ(1, RVLoadFile(reader_state, engine, (dir + "crossing.rvc").c_str()));
        engine.skip_fixed_points = skip;
        Outcome out;
        engine.colour_callback = [&](int stream, char colour) {
            out.colours.push_back(std::to_string(engine.current_time) + " " +
                                  std::to_string(stream) + colour);
        };
        RVSetStreamFlags(engine, 1, SF_TRACE);
        RVSetStreamFlags(engine, 31, SF_TRACE);
        RVInitialize(engine);
        std::vector<Event> events = read_events(dir + "rush-hour.txt", seconds * 10);
        std::size_t next = 0;
        for (int t = 1; t <= seconds * 10; ++t) {
            RVRunUntil(engine, t);
            while (next < events.size() && events[next].time <= t) {
                SetDetectorState(engine, events[next].detector, events[next].state);
                ++next;
            }
            if (t % 900 == 0) RVRunUntil(engine, t + 40);  // a catch-up with a growing rate
        }
        out.pane = {engine.output.pane.lines.begin(), engine.output.pane.lines.end()};
        RVDumpVars(
            engine,
            [&](const char* text) {
                out.dump.push_back(text);
                return true;
            },
            false);
        return out;
    }
};

TEST_F(FixedPointTest, skippingSettles_changesNothingThatCanBeSeen) {
    Outcome full = run(false, 600);
    Outcome skipping = run(true, 600);
    EXPECT_GT(full.colours.size(), 100u);
    EXPECT_EQ(full.colours, skipping.colours);
    EXPECT_EQ(full.pane, skipping.pane);
    EXPECT_EQ(full.dump, skipping.dump);
    EXPECT_TRUE(recorder.reports.empty());
}

}  // namespace
}  // namespace ruvalda::test
