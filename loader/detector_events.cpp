#include "loader/detector_events.h"

#include <algorithm>
#include <cstdio>

namespace ruvalda {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// D051 (detector 1 of stream 05) or D1 (detector 1 without a stream), in any case.
bool parse_detector(const std::string& name, int* detector) {
    if (name.empty() || (name[0] != 'D' && name[0] != 'd')) return false;
    if (name.size() == 2 && is_digit(name[1])) {
        *detector = name[1] - '0';
        return true;
    }
    if (name.size() == 4 && is_digit(name[1]) && is_digit(name[2]) && is_digit(name[3])) {
        *detector = (name[1] - '0') * 100 + (name[2] - '0') * 10 + (name[3] - '0');
        return true;
    }
    return false;
}

void strip_cr(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace

bool read_detector_events(std::istream& in, std::vector<DetectorEvent>* events,
                          std::int32_t* last_time, std::string* error) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        strip_cr(line);
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        long time = 0, state = -1;
        char name[32] = {};
        int used = 0, state_end = 0;
        bool ok = std::sscanf(line.c_str(), " %ld\t%31[^\t\n]%n", &time, name, &used) == 2 &&
                  time >= 0 && time <= INT32_MAX;
        if (ok) *last_time = std::max(*last_time, static_cast<std::int32_t>(time));
        if (ok && is_digit(name[0])) continue;  // a colour line
        int detector = 0;
        ok = ok && std::sscanf(line.c_str() + used, "\t%ld%n", &state, &state_end) == 1 &&
             line.find_first_not_of(" \t", static_cast<std::size_t>(used + state_end)) ==
                 std::string::npos &&
             parse_detector(name, &detector) && (state == 0 || state == 1);
        if (!ok) {
            *error = "line " + std::to_string(number) +
                     ": not a detector line (time, tab, detector, tab, 0 or 1): \"" + line + "\"";
            return false;
        }
        // A line before an earlier time would be applied late, at the time of the line above.
        if (!events->empty() && time < events->back().time) {
            *error = "line " + std::to_string(number) + ": time " + std::to_string(time) +
                     " is earlier than the detector line before it (" +
                     std::to_string(events->back().time) + "); the lines go in time order";
            return false;
        }
        events->push_back(
            {static_cast<std::int32_t>(time), detector, static_cast<int>(state), number});
    }
    return true;
}

std::vector<std::string> colour_lines(std::istream& in) {
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        strip_cr(line);
        long time = 0;
        int stream = 0;
        char colour = 0;
        if (std::sscanf(line.c_str(), " %ld\t%2d\t%c", &time, &stream, &colour) == 3)
            lines.push_back(line);
    }
    return lines;
}

}  // namespace ruvalda
