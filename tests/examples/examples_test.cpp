// The example junctions with the standard macro library, driven through ruvalda-cli: safe under
// the conflict monitor, every wait within the library's bound; an unsafe variant is caught.
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "loader/reader.h"
#include "tests/support/cli_runner.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {
namespace {

namespace fs = std::filesystem;
const std::string SOURCE = RUVALDA_SOURCE_DIR;

// Longest waits in tenths, from the monitor's summary line.
std::map<int, int> longest_waits(const std::string& out) {
    std::map<int, int> waits;
    std::size_t line = out.find("Longest wait for green: ");
    if (line == std::string::npos) return waits;
    std::string text = out.substr(line, out.find('\n', line) - line);
    std::regex entry("(\\d\\d) (\\d+)\\.(\\d) s");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry);
         it != std::sregex_iterator(); ++it)
        waits[std::stoi((*it)[1])] = std::stoi((*it)[2]) * 10 + std::stoi((*it)[3]);
    return waits;
}

class ExampleTest : public EngineTest {
  protected:
    // The library's bound on the wait of each stream, from the file's declarations:
    // own amber and minimum red plus, for every other stream, twice its maximum green, largest
    // clearance time, minimum red and two tenths (a stream may start twice while another waits:
    // once before it in the order of demand, once passing it).
    std::map<int, int> wait_bounds(const std::string& control_file) {
        reader_state.macro.macro_path = macro_path_for(control_file, SOURCE + "/macros");
        EXPECT_EQ(1, RVLoadFile(reader_state, engine, control_file.c_str()));
        const DeclarationTables& d = reader_state.declarations;
        std::map<int, int> cost, bound;
        int total = 0;
        for (int s = 0; s < d.n; ++s) {
            int clearance = 0;
            for (int u = 0; u < d.n; ++u) clearance = std::max(clearance, d.conflict[s][u]);
            cost[s] = d.required[s][1] + clearance + d.ig[s] + 2;
            total += cost[s];
        }
        for (int s = 0; s < d.n; ++s)
            bound[d.streams[s]] = d.required[s][2] + d.ig[s] + 2 * (total - cost[s]);
        return bound;
    }

    // Runs an hour of the scenario under the monitor; returns the engine trace file.
    std::string expect_safe_and_served(const std::string& junction, const std::string& scenario,
                                       const std::string& program = "") {
        const std::string control = SOURCE + "/examples/" + junction + "/" +
                                    (program.empty() ? junction : program) + ".rvc";
        std::string dir = temp_dir();
        Result r = run_cli({"run", control, "--seconds", "3600", "--detectors",
                            SOURCE + "/examples/" + junction + "/" + scenario, "--monitor",
                            "--trace", dir + "/run.trc"},
                           dir);
        EXPECT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ("", r.err);
        EXPECT_NE(std::string::npos, r.out.find("Conflict monitor: 0 violations.\n")) << r.out;
        std::map<int, int> waits = longest_waits(r.out), bounds = wait_bounds(control);
        EXPECT_GE(waits.size(), 5u) << r.out;
        for (const auto& [stream, wait] : waits) {
            EXPECT_TRUE(bounds.count(stream)) << stream;
            EXPECT_LE(wait, bounds[stream]) << junction << " " << scenario << " stream " << stream;
        }
        return read_file(dir + "/run.trc");
    }
};

TEST_F(ExampleTest, crossingRushHour_safeAndEveryWaitWithinBound) {
    expect_safe_and_served("crossing", "rush-hour.txt");
}
TEST_F(ExampleTest, crossingLightTraffic_safeAndEveryWaitWithinBound) {
    expect_safe_and_served("crossing", "light-traffic.txt");
}
TEST_F(ExampleTest, tjunctionRushHour_safeAndEveryWaitWithinBound) {
    expect_safe_and_served("tjunction", "rush-hour.txt");
}
TEST_F(ExampleTest, tjunctionLightTraffic_safeAndEveryWaitWithinBound) {
    expect_safe_and_served("tjunction", "light-traffic.txt");
}

TEST_F(ExampleTest, avenueRushHour_safeAndEveryWaitWithinBound) {
    expect_safe_and_served("avenue", "rush-hour.txt");
}

// With a stage column the stages keep their order: while a stream waits, no conflicting
// stream starts green twice (without stages one may, once in the order of demand and once
// passing it).
TEST_F(ExampleTest, crossingWithStages_noConflictingStreamStartsTwiceWhileAStreamWaits) {
    std::istringstream trace(
        expect_safe_and_served("crossing", "rush-hour.txt", "crossing-stages"));
    const DeclarationTables& d = reader_state.declarations;  // loaded for the bound
    std::map<int, int> position;
    for (int s = 0; s < d.n; ++s) position[d.streams[s]] = s;
    ASSERT_EQ(4, d.required[position[11]][3]);  // the stage column was read
    auto conflicting = [&](int s, int t) { return d.conflict[position[s]][position[t]] >= 0; };
    std::map<int, int> waiting_since;          // stream -> tenth its detector 1 saw demand
    std::map<int, std::map<int, int>> starts;  // waiting stream -> conflicting stream -> starts
    std::set<int> green;
    int time = 0, stream = 0, value = 0, greens = 0;
    char colour = 0;
    for (std::string line; std::getline(trace, line);) {
        if (std::sscanf(line.c_str(), "%d D%2d1 %d", &time, &stream, &value) == 3) {
            if (value == 1 && !green.count(stream) && !waiting_since.count(stream))
                waiting_since[stream] = time;
        } else if (std::sscanf(line.c_str(), "%d %d %c", &time, &stream, &colour) == 3) {
            if (colour != 'G') {
                green.erase(stream);
                continue;
            }
            green.insert(stream);
            ++greens;
            waiting_since.erase(stream);
            starts.erase(stream);
            for (const auto& [waiting, since] : waiting_since) {
                if (since < time && conflicting(stream, waiting)) {
                    EXPECT_LE(++starts[waiting][stream], 1)
                        << stream << " twice while " << waiting << " waited, at " << time;
                }
            }
        }
    }
    EXPECT_GT(greens, 500);
}

TEST_F(ExampleTest, examplesPassTheConsistencyCheckWithoutReport) {
    for (const char* junction : {"crossing", "tjunction", "avenue"}) {
        Result r = run_cli({"check", SOURCE + "/examples/" + junction + "/" + junction + ".rvc"},
                           temp_dir());
        EXPECT_EQ(0, r.exit_code) << junction << r.err;
        EXPECT_EQ("", r.err);
    }
}

// The crossing with a conflict macro that ignores every conflict: the monitor must see greens
// of conflicting streams together.
TEST_F(ExampleTest, programIgnoringConflicts_isCaughtByTheMonitor) {
    std::string dir = temp_dir();
    fs::copy_file(SOURCE + "/examples/crossing/crossing.rvc", dir + "/unsafe.rvc");
    write_file(dir + "/conflict.mac", "# ignores the conflict of $1 with $2\n");
    Result r = run_cli({"run", "unsafe.rvc", "--seconds", "600", "--detectors",
                        SOURCE + "/examples/crossing/rush-hour.txt", "--monitor"},
                       dir);
    EXPECT_EQ(1, r.exit_code);
    std::regex violation(
        "Time: *[0-9.]+ Conflict monitor: [0-9.]+ s: streams \\d\\d and \\d\\d green "
        "together, short by \\d+ tenths\\.");
    EXPECT_TRUE(std::regex_search(r.out, violation)) << r.out.substr(0, 2000);
    EXPECT_EQ(std::string::npos, r.out.find("Conflict monitor: 0 violations."));
}

TEST_F(ExampleTest, monitorWithoutDeclarationBlock_saysSoAndFails) {
    std::string dir = temp_dir();
    write_file(dir + "/plain.rvc", "%init R01\n%export G01 71\nG01 = D011\nR01 = G01N\n");
    Result r = run_cli({"run", "plain.rvc", "--seconds", "1", "--monitor"}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos,
              r.out.find("Conflict monitor: no clearance matrix (the program has no declaration "
                         "block).\n"))
        << r.out;
}

}  // namespace
}  // namespace ruvalda::test
