// ruvalda-cli as VISSIM's controller, driven by vissim-standin over the local socket, as a user
// without VISSIM tests a program: the crossing example for ten minutes, and the failures both
// tools report.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/cli_runner.h"

namespace ruvalda::test {
namespace {

const std::string SOURCE = RUVALDA_SOURCE_DIR;
const std::string CROSSING = SOURCE + "/examples/crossing/crossing.rvc";
const std::string SCENARIO = SOURCE + "/examples/crossing/vissim/rush-hour.scn";

Result run_standin(const std::vector<std::string>& args, const std::string& dir) {
    std::string command = "cd ";
    command.append(quoted(dir)).append(" && ").append(quoted(RUVALDA_STANDIN));
    for (const std::string& a : args) command.append(" ").append(quoted(a));
    command.append(" >").append(quoted(dir + "/standin-out.txt"));
    command.append(" 2>").append(quoted(dir + "/standin-err.txt")).append(" </dev/null");
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(dir + "/standin-out.txt"),
            read_file(dir + "/standin-err.txt")};
}

// Pairs of streams that must never be green together: those with a clearance time in the
// control file's matrix.
std::set<std::pair<int, int>> conflicts(const std::string& control_file) {
    std::ifstream in(control_file);
    std::string line;
    std::vector<int> columns;
    std::set<std::pair<int, int>> pairs;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "%mat") {
            for (int s; words >> s;) columns.push_back(s);
        } else if (!columns.empty() && !first.empty() && first[0] != '#') {
            if (first.find_first_not_of("0123456789") != std::string::npos) break;
            const int row = std::stoi(first);
            for (std::size_t c = 0; c < columns.size(); ++c) {
                int t = -1;
                words >> t;
                if (t >= 0) pairs.insert({row, columns[c]});
            }
        }
    }
    return pairs;
}

class VissimCliTest : public ::testing::Test {
  protected:
    RuntimeDir runtime;  // where the controller's socket goes
    std::string dir;
    std::string controller_dir;

    void SetUp() override {
        dir = temp_dir();
        controller_dir = dir + "/controller";
        std::filesystem::create_directory(controller_dir);
    }
};

TEST_F(VissimCliTest, crossingForTenMinutes_wishesSafePicturesAndEndsWithTheDisconnect) {
    Result controller;
    std::thread serving([&] {
        controller =
            run_cli({"vissim", "7", "3", CROSSING, "--vissim-trace", "comm.txt"}, controller_dir);
    });
    const Result standin = run_standin({SCENARIO}, dir);
    serving.join();
    ASSERT_EQ(0, standin.exit_code) << standin.err;
    ASSERT_EQ(0, controller.exit_code) << controller.err;
    EXPECT_NE(std::string::npos,
              controller.err.find("VISSIM disconnected after 3000 control steps, engine time "
                                  "600.0 s"))
        << controller.err;
    EXPECT_NE(std::string::npos, standin.err.find("3000 steps (600.0 s simulated)"));

    // The same pictures as the recorded run (the Wine test compares DDEML with it too).
    EXPECT_EQ(read_file(SOURCE + "/examples/crossing/vissim/rush-hour.wishes"), standin.out);

    // Replayed: every stream gets green, and never one in conflict with another green.
    const auto conflicting = conflicts(CROSSING);
    ASSERT_FALSE(conflicting.empty());
    std::map<int, std::string> shown;
    std::set<int> served;
    std::istringstream wishes(standin.out);
    std::string line;
    while (std::getline(wishes, line)) {
        std::istringstream words(line);
        double time = 0;
        int group = 0;
        int code = 0;
        std::string name;
        ASSERT_TRUE(words >> time >> group >> code >> name) << line;
        shown[group] = name;
        if (name != "green") continue;
        served.insert(group);
        for (const auto& [other, picture] : shown)
            EXPECT_FALSE(picture == "green" && other != group && conflicting.count({group, other}))
                << "streams " << group << " and " << other << " green together at " << time;
    }
    EXPECT_EQ(16u, served.size());

    // The communication trace has one record per control step.
    const std::vector<std::string> records = lines_of(read_file(controller_dir + "/comm.txt"));
    ASSERT_EQ(3000u, records.size());
    EXPECT_EQ(0u, records.back().find("SteuerungBerechnung called, time=600.0: 1011="));
    EXPECT_FALSE(std::filesystem::exists(controller_dir + "/lsa7.err"));
}

TEST_F(VissimCliTest, standinWithoutController_orWithABadScenario_failsWithAReason) {
    Result r = run_standin({"--connect-timeout", "0", SCENARIO}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("no controller serves vavozi07")) << r.err;

    write_file(dir + "/bad.scn", "signalgroups 1 2\n12.5 2001 1\n");
    r = run_standin({"bad.scn"}, dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(0u, r.err.find("vissim-standin: bad.scn:2: expected TIME DETECTOR STATE")) << r.err;

    write_file(dir + "/empty.scn", "# nothing\n");
    r = run_standin({"empty.scn"}, dir);
    EXPECT_NE(std::string::npos, r.err.find("empty.scn:1: no signalgroups line")) << r.err;
    EXPECT_EQ(2, run_standin({}, dir).exit_code);
}

TEST_F(VissimCliTest, controllerNumberOutOfRange_showsTheCouplingsReportAndFails) {
    const Result r = run_cli({"vissim", "10000", "3", CROSSING}, controller_dir);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos,
              r.err.find("Ruvalda/SIM: Interner Fehler!\nFunktion: PROZKOMM.VAVOZI_String\n"
                         "Grund:    Unzulässiger Parameter <nr>\n"))
        << r.err;
    EXPECT_EQ(2, run_cli({"vissim", "7", CROSSING}, controller_dir).exit_code);
    const Result unwritable =
        run_cli({"vissim", "7", "3", CROSSING, "--vissim-trace", "no/such/folder/comm.txt"},
                controller_dir);
    EXPECT_EQ(2, unwritable.exit_code);
    EXPECT_NE(
        std::string::npos,
        unwritable.err.find("cannot write the --vissim-trace file \"no/such/folder/comm.txt\": "))
        << unwritable.err;
}

TEST_F(VissimCliTest, secondControllerOnTheSameNumber_isRefused) {
    Result first;
    // The first is started as VISSIM starts its controller program: NR NR2 X FILE.rvc Y.
    std::thread serving([&] { first = run_cli({"9", "1", "x", CROSSING, "y"}, controller_dir); });
    // The first is serving once its socket exists.
    for (int i = 0; i < 500 && !std::filesystem::exists(runtime.path() + "/vavozi09"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string second_dir = dir + "/second";
    std::filesystem::create_directory(second_dir);
    const Result second = run_cli({"vissim", "9", "1", CROSSING}, second_dir);
    EXPECT_EQ(1, second.exit_code);
    EXPECT_NE(std::string::npos, second.err.find("Die DDE-Schnittstelle ließ sich nicht "
                                                 "initialisieren."))
        << second.err;
    // VISSIM comes and goes at once.
    write_file(dir + "/short.scn", "controller 9\nduration 1\nsignalgroups 1\n");
    EXPECT_EQ(0, run_standin({"short.scn"}, dir).exit_code);
    serving.join();
    EXPECT_EQ(0, first.exit_code) << first.err;
    EXPECT_NE(std::string::npos, first.err.find("VISSIM disconnected")) << first.err;
}

}  // namespace
}  // namespace ruvalda::test
