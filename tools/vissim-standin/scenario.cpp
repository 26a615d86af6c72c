#include "tools/vissim-standin/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace ruvalda::standin {

namespace {

bool whole(const std::string& word, long low, long high, long* value) {
    if (word.empty() || word.size() > 12) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

// Seconds with at most three decimals, as milliseconds.
bool seconds(const std::string& word, std::int64_t* millis) {
    const std::size_t dot = word.find('.');
    const std::string head = word.substr(0, dot);
    const std::string tail = dot == std::string::npos ? "" : word.substr(dot + 1);
    if (head.empty() || head.size() > 7 || tail.size() > 3 ||
        (dot != std::string::npos && tail.empty()) ||
        head.find_first_not_of("0123456789") != std::string::npos ||
        tail.find_first_not_of("0123456789") != std::string::npos)
        return false;
    std::int64_t value = std::atoll(head.c_str()) * 1000;
    std::int64_t scale = 100;
    for (const char c : tail) {
        value += (c - '0') * scale;
        scale /= 10;
    }
    if (value > std::int64_t{SCENARIO_MAX_SECONDS} * 1000) return false;
    *millis = value;
    return true;
}

std::string at(std::size_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

}  // namespace

bool read_scenario(std::istream& in, Scenario* s, std::string* error) {
    *s = Scenario{};
    std::string text;
    std::size_t line = 0;
    std::int64_t last = 0;
    while (std::getline(in, text)) {
        ++line;
        if (text.size() > SCENARIO_MAX_LINE) {
            *error = at(line, "longer than " + std::to_string(SCENARIO_MAX_LINE) + " characters");
            return false;
        }
        if (!text.empty() && text.back() == '\r') text.pop_back();
        std::istringstream words(text);
        std::string word;
        if (!(words >> word) || word[0] == '#') continue;
        std::vector<std::string> rest;
        for (std::string w; words >> w;) rest.push_back(w);
        long value = 0;
        if (word == "controller") {
            if (rest.size() != 1 || !whole(rest[0], 0, 9999, &value)) {
                *error = at(line, "controller takes one number from 0 to 9999");
                return false;
            }
            s->controller = value;
        } else if (word == "resolution") {
            if (rest.size() != 1 || !whole(rest[0], 1, 10, &value)) {
                *error = at(line, "resolution takes one number of steps per second, 1 to 10");
                return false;
            }
            s->resolution = static_cast<int>(value);
        } else if (word == "duration") {
            if (rest.size() != 1 || !seconds(rest[0], &s->duration_millis)) {
                *error = at(line, "duration takes seconds, at most " +
                                      std::to_string(SCENARIO_MAX_SECONDS));
                return false;
            }
        } else if (word == "signalgroups") {
            for (const std::string& w : rest) {
                if (!whole(w, 1, 999, &value)) {
                    *error = at(line, "signal groups are numbers from 1 to 999, not \"" + w + "\"");
                    return false;
                }
                if (std::find(s->signal_groups.begin(), s->signal_groups.end(), value) ==
                    s->signal_groups.end())
                    s->signal_groups.push_back(static_cast<int>(value));
            }
        } else {
            ScenarioEvent e{};
            long detector = 0;
            long state = 0;
            if (rest.size() != 2 || !seconds(word, &e.millis) ||
                !whole(rest[0], 1, 2000, &detector) || !whole(rest[1], 0, 1, &state)) {
                *error = at(line,
                            "expected TIME DETECTOR STATE (seconds, 1..2000, 0 or 1) or a "
                            "setting, not \"" +
                                text.substr(0, 60) + "\"");
                return false;
            }
            if (s->events.size() >= SCENARIO_MAX_EVENTS) {
                *error = at(line, "more than " + std::to_string(SCENARIO_MAX_EVENTS) + " events");
                return false;
            }
            e.detector = static_cast<int>(detector);
            e.state = static_cast<int>(state);
            s->events.push_back(e);
            last = std::max(last, e.millis);
        }
    }
    if (s->signal_groups.empty()) {
        *error = at(line, "no signalgroups line: VISSIM reports at least one signal group");
        return false;
    }
    std::stable_sort(
        s->events.begin(), s->events.end(),
        [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.millis < b.millis; });
    for (const ScenarioEvent& e : s->events) s->detectors.push_back(e.detector);
    std::sort(s->detectors.begin(), s->detectors.end());
    s->detectors.erase(std::unique(s->detectors.begin(), s->detectors.end()), s->detectors.end());
    if (s->duration_millis < 0) s->duration_millis = last + 10000;
    return true;
}

}  // namespace ruvalda::standin
