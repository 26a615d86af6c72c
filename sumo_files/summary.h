// What a run of ruvalda-sumo counted, and its summary: the bridge's printed lines and its JSON
// file, field for field.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sumo_files/json.h"

namespace ruvalda::sumo_host {

class RunTally {
  public:
    void departed(const std::string& vehicle, const std::string& first_edge);
    void arrived(const std::string& vehicle);
    void teleport(const std::string& lane);
    void emergency_stop(const std::string& lane);
    // A pair of vehicles counts once, at the lane of its first collision.
    void collision(const std::string& collider, const std::string& victim, const std::string& lane);

    long steps = 0;
    std::optional<double> simulated_seconds;
    long emergency_braking_warnings = 0;
    std::set<std::string> controlled_junctions;
    long conflicting_green_pairs = 0;
    std::vector<std::pair<std::string, std::string>> first_conflicting_green;  // tls, first
    std::optional<std::string> error;

    std::string text() const;  // the lines the bridge prints
    Json json() const;         // the bridge's --summary file

  private:
    long count_at_controlled(const std::map<std::string, long>& places) const;

    long arrived_ = 0;
    long teleports_ = 0;
    long emergency_stops_ = 0;
    std::map<std::string, std::string> departed_from_;  // vehicle -> first edge of its route
    std::map<std::string, long> arrivals_;              // first edge -> vehicles arrived
    std::set<std::pair<std::string, std::string>> collided_;
    // By place (place_of), in the bridge's order of kinds.
    std::vector<std::pair<std::string, std::map<std::string, long>>> places_ = {
        {"collisions", {}}, {"emergency_stops", {}}, {"teleports", {}}};
};

// Lines of SUMO's log that warn of emergency braking; 0 when there is no log.
long count_emergency_braking(const std::string& sumo_log);

}  // namespace ruvalda::sumo_host
