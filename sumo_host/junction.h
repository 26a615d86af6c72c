// One signalised junction under ruvalda-sumo: its own controller running the junction's program,
// fed by the junction's induction loops as the bridge feeds a ruvalda-cli controller, and its
// lights turned into the traffic light's state as the bridge turns a lights line into it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controller/controller.h"
#include "sumo_files/config.h"
#include "timeline/timeline.h"

namespace ruvalda::sumo_host {

// A controller that stopped the run: it broke off (a report ended it) or its lights line was
// not one the bridge accepts.
struct ControllerFailure {
    std::string message;
};

struct JunctionOptions {
    std::string macro_dir;      // the standard macros, looked for after the program's folder
    std::string trace_file;     // the engine's trace file, as ruvalda-cli's --trace; empty: none
    std::string timeline_file;  // as ruvalda-cli's --timeline; empty: none
    std::int32_t timeline_from = 0;
    std::int32_t timeline_to = -1;  // tenths; -1: the end of the run
    bool monitor = false;           // the conflict monitor, as ruvalda-cli's --monitor
};

class Junction {
  public:
    Junction(JunctionConfig config, JunctionOptions options);
    Junction(const Junction&) = delete;
    Junction& operator=(const Junction&) = delete;
    ~Junction();

    const std::string& tls() const { return config_.tls; }
    // "junction TLS: ", what the junction's messages start with.
    std::string who() const { return "junction " + tls() + ": "; }
    // The induction loops of the mapping, in the order of their detector numbers.
    const std::vector<std::string>& loops() const { return loops_; }

    // Loads the program and resets it, as ruvalda-cli does before its first lights line; that
    // line is in force for SUMO's first step. Throws ConfigError.
    void start();
    // The traffic light as SUMO runs it. Throws ConfigError when the mapping does not fit it.
    void attach(int links, std::vector<std::pair<int, int>> foe_pairs);

    // A loop's occupancy after SUMO's step; a change reaches the program as a detector change.
    void hear_loop(std::size_t index, bool occupied);
    // A tenth of a second of the program, answered with its lights line. Throws
    // ControllerFailure.
    void step();
    // Sets the traffic light from the last lights line when it changed (set_state) and counts
    // the foe links both G at the simulated time. Throws ControllerFailure for a line the bridge
    // would refuse.
    void apply_lights(
        double sim_time,
        const std::function<void(const std::string& tls, const std::string& state)>& set_state);

    long conflicts() const { return conflicts_; }
    const std::string& first_conflict() const { return first_conflict_; }

    // Closes the trace, draws the timeline and prints the monitor's verdict. False when the
    // timeline could not be written; *violations receives the monitor's count.
    bool finish(long* violations);

  private:
    class LoadPrinter;
    class Reports;

    void load();
    void watch();
    void check_streams() const;
    std::string signal_state(const std::string& letters) const;
    std::string lights_letters() const;
    void print_monitor_verdict() const;

    JunctionConfig config_;
    JunctionOptions options_;
    std::unique_ptr<Controller> c_;
    std::unique_ptr<Reports> reports_;
    std::unique_ptr<LoadPrinter> load_printer_;
    std::unique_ptr<TimelineRecorder> timeline_;
    SumoPort port_;
    std::string lights_;  // the controller's last lights line
    std::vector<std::string> loops_;
    std::vector<int> loop_numbers_;
    std::vector<bool> loop_occupied_;  // as last heard; all free at the start
    int links_ = 0;
    std::vector<std::pair<int, int>> foe_pairs_;
    std::string state_in_sumo_;  // empty: none set yet
    long conflicts_ = 0;
    std::string first_conflict_;
};

}  // namespace ruvalda::sumo_host
