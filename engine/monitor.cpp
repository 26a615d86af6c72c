#include "engine/monitor.h"

#include <algorithm>
#include <cstdio>

#include "output/output.h"

namespace ruvalda {

namespace {

bool conflicting(ConflictMonitor& conflict_monitor, int s, int t) {
    return conflict_monitor.clearance[s][t] != NO_CONFLICT ||
           conflict_monitor.clearance[t][s] != NO_CONFLICT;
}

void report(ConflictMonitor& conflict_monitor, EngineState& engine, const char* what, int s, int t,
            std::int32_t shortfall) {
    ++conflict_monitor.violations;
    const std::int32_t now = engine.current_time;
    traceprintf(engine.output,
                "Conflict monitor: %d.%d s: streams %02d and %02d %s, short by %d tenths.\n",
                now / 10, now % 10, s, t, what, shortfall);
    if (conflict_monitor.on_violation) conflict_monitor.on_violation(now, s, t, shortfall);
}

// Stream t turns green: every conflicting stream must be out of green, for long enough.
void check_green_start(ConflictMonitor& conflict_monitor, EngineState& engine, int t) {
    ConflictMonitor& m = conflict_monitor;
    const std::int32_t now = engine.current_time;
    for (int s = 0; s < STREAM_COUNT; ++s) {
        if (s == t || !conflicting(conflict_monitor, s, t)) continue;
        std::int32_t needed = std::max(m.clearance[s][t], 0);
        if (m.colour[s] == 'G') {
            report(conflict_monitor, engine, "green together", s, t, needed);
        } else if (m.green_end[s] >= 0 && now - m.green_end[s] < needed) {
            report(conflict_monitor, engine, "green too soon after each other", s, t,
                   needed - (now - m.green_end[s]));
        }
    }
}

}  // namespace

void monitor_start(ConflictMonitor& conflict_monitor,
                   const std::int32_t clearance[STREAM_COUNT][STREAM_COUNT]) {
    auto on_violation = std::move(conflict_monitor.on_violation);
    conflict_monitor = ConflictMonitor{};
    conflict_monitor.on_violation = std::move(on_violation);
    std::copy(&clearance[0][0], &clearance[0][0] + STREAM_COUNT * STREAM_COUNT,
              &conflict_monitor.clearance[0][0]);
    conflict_monitor.active = true;
    monitor_reset(conflict_monitor);
}

void monitor_stop(ConflictMonitor& conflict_monitor) {
    conflict_monitor.active = false;
}

void monitor_reset(ConflictMonitor& conflict_monitor) {
    ConflictMonitor& m = conflict_monitor;
    std::fill(std::begin(m.colour), std::end(m.colour), '\0');
    std::fill(std::begin(m.green_end), std::end(m.green_end), -1);
    std::fill(std::begin(m.waiting_since), std::end(m.waiting_since), -1);
    std::fill(std::begin(m.longest_wait), std::end(m.longest_wait), -1);
}

void monitor_colour(ConflictMonitor& conflict_monitor, EngineState& engine, int stream,
                    char colour) {
    ConflictMonitor& m = conflict_monitor;
    if (!m.active || stream < 0 || stream >= STREAM_COUNT || m.colour[stream] == colour) return;
    const std::int32_t now = engine.current_time;
    if (colour == 'G') {
        check_green_start(conflict_monitor, engine, stream);
        if (m.waiting_since[stream] >= 0) {
            m.longest_wait[stream] =
                std::max(m.longest_wait[stream], now - m.waiting_since[stream]);
            m.waiting_since[stream] = -1;
        }
    } else if (m.colour[stream] == 'G') {
        m.green_end[stream] = now;
    }
    m.colour[stream] = colour;
}

void monitor_detector(ConflictMonitor& conflict_monitor, EngineState& engine, int detector,
                      int state) {
    ConflictMonitor& m = conflict_monitor;
    const int stream = detector / 10;
    if (!m.active || state != 1 || stream < 0 || stream >= STREAM_COUNT) return;
    if (m.colour[stream] != 'G' && m.waiting_since[stream] < 0)
        m.waiting_since[stream] = engine.current_time;
}

std::vector<std::string> monitor_verdict(const ConflictMonitor& conflict_monitor,
                                         std::int32_t now) {
    const ConflictMonitor& m = conflict_monitor;
    std::string waits;
    for (int s = 0; s < STREAM_COUNT; ++s) {
        std::int32_t wait = m.longest_wait[s];
        const bool still = m.waiting_since[s] >= 0;
        if (still) wait = std::max(wait, now - m.waiting_since[s]);
        if (wait < 0) continue;
        char piece[64];
        std::snprintf(piece, sizeof piece, "%s%02d %d.%d s%s", waits.empty() ? "" : ", ", s,
                      wait / 10, wait % 10, still ? " (still waiting)" : "");
        waits += piece;
    }
    return {"Conflict monitor: " + std::to_string(m.violations) + " violation" +
                (m.violations == 1 ? "." : "s."),
            "Longest wait for green: " + (waits.empty() ? std::string("none") : waits) + "."};
}

}  // namespace ruvalda
