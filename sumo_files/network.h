// What ruvalda-sumo reads of SUMO's own files before SUMO runs, as the bridge reads it: the
// network's traffic lights (their links, the junctions they switch, which of their links are
// foes) and the induction loops of the configuration's additional files.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sumo_files/config.h"

namespace ruvalda::sumo_host {

struct TrafficLightNet {
    int links = 0;                          // link indices 0 .. links - 1
    std::set<std::string> junctions;        // the network's junctions whose links it switches
    std::vector<std::pair<int, int>> foes;  // link pairs (a < b) that cross or merge, sorted
};

// The net file the SUMO configuration names. Throws ConfigError.
std::string net_file_of(const std::string& sumocfg);

// The induction loop ids of the SUMO configuration's additional files. Throws ConfigError.
std::set<std::string> loops_of(const std::string& sumocfg);

// The given traffic lights as the network has them; one it lacks is absent. Throws ConfigError.
std::map<std::string, TrafficLightNet> read_traffic_lights(const std::string& net_file,
                                                           const std::set<std::string>& tls_ids);

// Refuses a mapping that switches a link its traffic light does not have or reads a loop no
// additional file defines. Throws ConfigError naming the mapping file.
void check_mappings(const HostConfig& config, const std::map<std::string, TrafficLightNet>& net,
                    const std::set<std::string>& loops);

// Where an event happened: the junction for a lane inside a junction, else the edge.
std::string place_of(const std::string& lane);

}  // namespace ruvalda::sumo_host
