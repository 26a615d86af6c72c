// Detector events and colour lines of the engine trace file's form, as ruvalda-cli reads them.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace ruvalda {

struct DetectorEvent {
    std::int32_t time;  // tenths
    int detector;       // stream * 10 + digit
    int state;          // 0 or 1
    int line = 0;       // in the file it was read from
};

// Reads the detector lines (time in tenths, tab, detector such as D051, tab, 0 or 1); blank
// lines, "#" lines and colour lines are passed over. *last_time receives the largest time of any
// event or colour line. False with *error naming the line ("line N: ...") at the first line of
// another form.
bool read_detector_events(std::istream& in, std::vector<DetectorEvent>* events,
                          std::int32_t* last_time, std::string* error);

// The colour lines (time, tab, two-digit stream, tab, letter), in order.
std::vector<std::string> colour_lines(std::istream& in);

}  // namespace ruvalda
