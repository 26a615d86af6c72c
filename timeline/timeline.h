// The signal timeline of a run: every colour change, detector change and conflict-monitor
// violation, collected while the program runs and drawn afterwards as a signal-group diagram in
// SVG (one row per stream with its colour bars and, beneath, its detector occupancy).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ruvalda {

struct TimelineRecorder {
    // The diagram's heading; a default one is used when it is empty.
    std::string title;

    void colour(std::int32_t time, int stream, char colour);    // each colour change, in time order
    void detector(std::int32_t time, int detector, int state);  // each detector change (1 occupied)
    void violation(std::int32_t time, int stream_a, int stream_b, int shortfall);  // tenths short

    // The diagram of [from, to] (tenths). A stream's colour lasts until its next change, the last
    // one until `to`. Rows are the streams 1..99 seen in any colour, detector or violation.
    std::string svg(std::int32_t from, std::int32_t to) const;
    // Writes svg(from, to) to the file; false with *error set when the window is empty or the
    // file cannot be written.
    bool write_svg(const std::string& path, std::int32_t from, std::int32_t to,
                   std::string* error) const;

    struct ColourChange {
        std::int32_t time;
        int stream;
        char colour;
    };
    struct DetectorChange {
        std::int32_t time;
        int detector;
        int state;
    };
    struct Violation {
        std::int32_t time;
        int stream_a, stream_b;
        int shortfall;
    };
    std::vector<ColourChange> colours;
    std::vector<DetectorChange> detectors;
    std::vector<Violation> violations;
};

}  // namespace ruvalda
