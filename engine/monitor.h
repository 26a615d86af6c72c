// The conflict monitor: watches the colours a program exports against a clearance matrix. Two
// conflicting streams green together, or a green that starts sooner after a conflicting green
// ended than the clearance time from that stream, is a violation; each one is written to the
// message pane and counted. It also keeps, per stream, the longest wait from a detector's rise
// while the stream was not green to its next green.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/eval.h"

namespace ruvalda {

constexpr int NO_CONFLICT = -1;

struct ConflictMonitor {
    bool active = false;
    // clearance[s][t]: tenths from the end of the green of s to the start of the green of t;
    // NO_CONFLICT where s and t do not conflict. Indexed by stream number.
    std::int32_t clearance[STREAM_COUNT][STREAM_COUNT];
    char colour[STREAM_COUNT] = {};
    std::int32_t green_end[STREAM_COUNT] = {};      // -1: no green ended since the reset
    std::int32_t waiting_since[STREAM_COUNT] = {};  // -1: no demand waiting
    std::int32_t longest_wait[STREAM_COUNT] = {};   // -1: never waited
    long violations = 0;
    // Told of every violation, for a front end that draws them.
    std::function<void(std::int32_t time, int stream_a, int stream_b, std::int32_t shortfall)>
        on_violation;
};

// Starts watching with this matrix (indexed by stream number), or stops.
void monitor_start(ConflictMonitor& conflict_monitor,
                   const std::int32_t clearance[STREAM_COUNT][STREAM_COUNT]);
void monitor_stop(ConflictMonitor& conflict_monitor);
// Whether the engine has a monitor that watches.
inline bool monitoring(const EngineState& engine) {
    return engine.monitor && engine.monitor->active;
}
// Called by the engine: at every reset, for every exported colour, for every detector change.
void monitor_reset(ConflictMonitor& conflict_monitor);
void monitor_colour(ConflictMonitor& conflict_monitor, EngineState& engine, int stream,
                    char colour);
void monitor_detector(ConflictMonitor& conflict_monitor, EngineState& engine, int detector,
                      int state);
// What a run under the monitor ends with: "Conflict monitor: N violations." and "Longest wait
// for green: 01 12.3 s, 04 8.0 s (still waiting)." (or "none."), at simulated time now.
std::vector<std::string> monitor_verdict(const ConflictMonitor& conflict_monitor, std::int32_t now);

}  // namespace ruvalda
