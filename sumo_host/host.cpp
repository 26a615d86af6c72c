#include "sumo_host/host.h"

#include <libsumo/InductionLoop.h>
#include <libsumo/Simulation.h>
#include <libsumo/TrafficLight.h>
#include <libsumo/Vehicle.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "sumo_files/config.h"
#include "sumo_files/network.h"
#include "sumo_files/summary.h"
#include "sumo_host/junction.h"

namespace ruvalda::sumo_host {

namespace {

namespace fs = std::filesystem;

// Where Debian's packages put SUMO; SUMO looks for its XML schemas below SUMO_HOME, and the
// bridge sets it to this when it is not set.
constexpr const char* DEFAULT_SUMO_HOME = "/usr/share/sumo";
constexpr const char* SUMO_LOG = "sumo.log";

void log(const std::string& text) {
    std::fprintf(stderr, "ruvalda-sumo: %s\n", text.c_str());
    std::fflush(stderr);
}

class Host {
  public:
    explicit Host(const HostOptions& options) : options_(options) {}

    int run() {
        try {
            prepare();
        } catch (const ConfigError& e) {
            log(e.message);
            return EXIT_CONFIGURATION;
        }
        try {
            start_sumo();
            attach_traffic_lights();
            simulate();
        } catch (const ControllerFailure& e) {
            stopped(e.message);
        } catch (const ConfigError& e) {
            log(e.message);
            close_sumo();
            return EXIT_CONFIGURATION;
        } catch (const std::exception& e) {  // libsumo's errors
            stopped(std::string("TraCI: ") + e.what());
        }
        close_sumo();
        return finish();
    }

  private:
    // Everything that can be refused before SUMO starts: the configuration, its mappings against
    // the network and the loops, the programs against their mappings.
    void prepare() {
        config_ = load_config(options_.config_file);
        check_junctions_named(options_.trace_files, "--trace");
        check_junctions_named(options_.timeline_files, "--timeline");
        std::set<std::string> tls_ids;
        for (const JunctionConfig& j : config_.junctions) tls_ids.insert(j.tls);
        net_ = read_traffic_lights(net_file_of(config_.sumocfg), tls_ids);
        check_mappings(config_, net_, loops_of(config_.sumocfg));
        for (const JunctionConfig& j : config_.junctions) {
            junctions_.push_back(std::make_unique<Junction>(j, junction_options(j.tls)));
            junctions_.back()->start();
            const auto& places = net_.at(j.tls).junctions;
            tally_.controlled_junctions.insert(places.begin(), places.end());
        }
        std::error_code error;
        fs::create_directories(config_.outputs, error);
        if (error)
            throw ConfigError{"cannot make the outputs folder " + config_.outputs + ": " +
                              error.message()};
    }

    void check_junctions_named(const std::map<std::string, std::string>& files,
                               const char* option) const {
        for (const auto& [tls, file] : files) {
            bool known = false;
            for (const JunctionConfig& j : config_.junctions) known = known || j.tls == tls;
            if (!known)
                throw ConfigError{std::string(option) + " " + tls + "=" + file + ": " +
                                  config_.file + " has no junction " + tls};
        }
    }

    JunctionOptions junction_options(const std::string& tls) const {
        JunctionOptions o;
        o.macro_dir = options_.macro_dir;
        o.monitor = options_.monitor;
        if (options_.trace_files.count(tls)) o.trace_file = options_.trace_files.at(tls);
        if (options_.timeline_files.count(tls)) o.timeline_file = options_.timeline_files.at(tls);
        o.timeline_from = options_.timeline_from;
        o.timeline_to = options_.timeline_to;
        return o;
    }

    void start_sumo() {
        setenv("SUMO_HOME", DEFAULT_SUMO_HOME, 0);
        libsumo::Simulation::start(sumo_command(config_));
        sumo_running_ = true;
    }

    void attach_traffic_lights() {
        for (const auto& j : junctions_)
            j->attach(static_cast<int>(libsumo::TrafficLight::getControlledLinks(j->tls()).size()),
                      net_.at(j->tls()).foes);
    }

    // The bridge's loop: the first lights lines are in force for the first step; then SUMO
    // steps, the step's events are counted, every controller hears its loops and steps, and
    // the lights it answers with are in force for the next step.
    void simulate() {
        apply_lights(libsumo::Simulation::getTime());
        // Rounded half to even, as Python's round() in the bridge.
        const std::optional<double> max_steps =
            options_.end_seconds
                ? std::optional<double>(std::nearbyint(*options_.end_seconds / config_.step_length))
                : std::nullopt;
        int expected = libsumo::Simulation::getMinExpectedNumber();
        while ((!max_steps || tally_.steps < *max_steps) && expected > 0) {
            libsumo::Simulation::step();
            ++tally_.steps;
            const double time = libsumo::Simulation::getTime();
            expected = libsumo::Simulation::getMinExpectedNumber();
            count_events();
            step_controllers();
            apply_lights(time);
        }
    }

    void count_events() {
        using libsumo::Simulation;
        using libsumo::Vehicle;
        for (const std::string& v : Simulation::getDepartedIDList())
            tally_.departed(v, Vehicle::getRoute(v).at(0));
        for (const std::string& v : Simulation::getArrivedIDList()) tally_.arrived(v);
        for (const std::string& v : Simulation::getStartingTeleportIDList())
            tally_.teleport(Vehicle::getLaneID(v));
        for (const std::string& v : Simulation::getEmergencyStoppingVehiclesIDList())
            tally_.emergency_stop(Vehicle::getLaneID(v));
        if (Simulation::getCollidingVehiclesNumber() > 0)
            for (const libsumo::TraCICollision& c : Simulation::getCollisions())
                tally_.collision(c.collider, c.victim, c.lane);
    }

    void step_controllers() {
        for (const auto& j : junctions_) {
            const std::vector<std::string>& loops = j->loops();
            for (std::size_t i = 0; i < loops.size(); ++i)
                j->hear_loop(i, libsumo::InductionLoop::getLastStepOccupancy(loops[i]) > 0);
            j->step();
        }
    }

    void apply_lights(double sim_time) {
        for (const auto& j : junctions_)
            j->apply_lights(sim_time, [](const std::string& tls, const std::string& state) {
                libsumo::TrafficLight::setRedYellowGreenState(tls, state);
            });
    }

    void stopped(const std::string& error) {
        tally_.error = error;
        log("stopped: " + error);
    }

    void close_sumo() {
        if (!sumo_running_) return;
        sumo_running_ = false;
        try {
            tally_.simulated_seconds = libsumo::Simulation::getTime();
            libsumo::Simulation::close();
        } catch (const std::exception& e) {
            log(std::string("closing SUMO: ") + e.what());
        }
    }

    int finish() {
        bool outputs_written = true;
        long violations = 0;
        for (const auto& j : junctions_) {
            long seen = 0;
            outputs_written = j->finish(&seen) && outputs_written;
            violations += seen;
            tally_.conflicting_green_pairs += j->conflicts();
            if (!j->first_conflict().empty())
                tally_.first_conflicting_green.emplace_back(j->tls(), j->first_conflict());
        }
        tally_.emergency_braking_warnings =
            count_emergency_braking((fs::path(config_.outputs) / SUMO_LOG).string());
        std::fputs(tally_.text().c_str(), stdout);
        std::fflush(stdout);
        if (!options_.summary_file.empty()) outputs_written = write_summary() && outputs_written;
        if (tally_.error) return EXIT_STOPPED;
        if (tally_.conflicting_green_pairs > 0 || violations > 0) return EXIT_UNSAFE_GREENS;
        return outputs_written ? EXIT_COMPLETE : EXIT_CONFIGURATION;
    }

    bool write_summary() const {
        std::ofstream out(options_.summary_file, std::ios::binary);
        out << dump_json(tally_.json()) << "\n";
        out.close();
        if (out) return true;
        log("cannot write the summary " + options_.summary_file);
        return false;
    }

    const HostOptions& options_;
    HostConfig config_;
    std::map<std::string, TrafficLightNet> net_;
    std::vector<std::unique_ptr<Junction>> junctions_;
    RunTally tally_;
    bool sumo_running_ = false;
};

}  // namespace

int run_host(const HostOptions& options) {
    return Host(options).run();
}

}  // namespace ruvalda::sumo_host
