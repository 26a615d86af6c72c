// ruvalda-sumo's run: SUMO in this process through libsumo, one controller per signalised
// junction of a bridge configuration, stepped together as tools/sumo-bridge steps SUMO and its
// ruvalda-cli controllers, with the bridge's checks and summary.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ruvalda::sumo_host {

// Exit status, as the bridge's.
constexpr int EXIT_COMPLETE = 0;
constexpr int EXIT_CONFIGURATION = 1;  // also bad options
constexpr int EXIT_STOPPED = 2;        // a controller or SUMO stopped the run
constexpr int EXIT_UNSAFE_GREENS = 3;  // complete, but foe links were both G (or --monitor saw
                                       // a violation of a program's clearances)

struct HostOptions {
    std::string config_file;
    std::optional<double> end_seconds;                  // none: until SUMO expects no more vehicles
    std::string summary_file;                           // empty: none
    std::map<std::string, std::string> trace_files;     // traffic light -> file
    std::map<std::string, std::string> timeline_files;  // traffic light -> file
    std::int32_t timeline_from = 0;                     // tenths
    std::int32_t timeline_to = -1;                      // tenths; -1: the end of the run
    bool monitor = false;
    std::string macro_dir;  // the standard macros
};

int run_host(const HostOptions& options);

}  // namespace ruvalda::sumo_host
