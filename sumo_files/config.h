// The bridge configuration of tools/sumo-bridge and its mapping files, read as the bridge reads
// them, and the command line SUMO runs with under the bridge.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ruvalda::sumo_host {

// A configuration that cannot run; the message names the file (and the line, where known).
struct ConfigError {
    std::string message;
};

// One stream of a mapping: the traffic light's links it switches, each with its green letter
// (G protected, g giving way).
struct StreamLinks {
    int stream = 0;
    std::vector<std::pair<int, char>> links;
};

struct Mapping {
    std::vector<StreamLinks> streams;      // ascending: the order of a lights line's letters
    std::map<int, std::string> detectors;  // SUMO detector number (.DTL) -> induction loop id
};

struct JunctionConfig {
    std::string tls;
    std::string mapping_file;
    std::string program_file;
    Mapping mapping;
};

struct HostConfig {
    std::string file;
    std::string sumocfg;
    double step_length = 0.1;
    std::string step_length_text = "0.1";  // as the bridge hands it to SUMO
    long long seed = 42;
    std::string outputs;  // folder of SUMO's outputs
    std::vector<JunctionConfig> junctions;
};

// The configuration with every junction's mapping; relative paths are made relative to the
// configuration's folder. Throws ConfigError.
HostConfig load_config(const std::string& path);

// SUMO's command line under the bridge (sumo_options in sumo_bridge.py): collisions checked at
// junctions and only warned about, no teleports, statistics, trip information and the log in
// the outputs folder.
std::vector<std::string> sumo_command(const HostConfig& config);

// The whole file; throws ConfigError "cannot read WHAT PATH: REASON".
std::string read_text_file(const std::string& path, const char* what);

}  // namespace ruvalda::sumo_host
