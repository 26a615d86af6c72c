// A scenario for the VISSIM stand-in: which controller, how long, the signal groups VISSIM
// reports and when its detectors change.
//
//   # comment
//   controller 7                  the service vavozi07
//   resolution 5                  simulation steps per second (1..10)
//   duration 600                  seconds to simulate
//   signalgroups 1 2 4 5          signal groups VISSIM reports each step
//   12.4 1011 1                   at 12.4 s VISSIM detector 1011 becomes occupied (0: free)
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace ruvalda::standin {

constexpr int SCENARIO_MAX_SECONDS = 1000000;
constexpr std::size_t SCENARIO_MAX_EVENTS = 10000000;
constexpr std::size_t SCENARIO_MAX_LINE = 4096;

struct ScenarioEvent {
    std::int64_t millis;  // time of the change
    int detector;         // VISSIM number, 1..2000
    int state;            // 1 occupied, 0 free
};

struct Scenario {
    long controller = 7;
    int resolution = 5;
    std::int64_t duration_millis = -1;  // -1: until 10 s after the last event
    std::vector<int> signal_groups;     // 1..999, in the order given
    std::vector<ScenarioEvent> events;  // sorted by time, stable
    std::vector<int> detectors;         // every detector of an event, ascending
};

// False with *error as "line N: ..." at the first line that does not fit.
bool read_scenario(std::istream& in, Scenario* scenario, std::string* error);

}  // namespace ruvalda::standin
