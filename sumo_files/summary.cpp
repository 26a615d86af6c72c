#include "sumo_files/summary.h"

#include <fstream>

#include "sumo_files/network.h"

namespace ruvalda::sumo_host {

namespace {

constexpr std::size_t COLLISIONS = 0;
constexpr std::size_t EMERGENCY_STOPS = 1;
constexpr std::size_t TELEPORTS = 2;
constexpr const char* UNKNOWN_APPROACH = "?";  // a vehicle seen arriving but not departing

Json counts_json(const std::map<std::string, long>& counts) {
    Json object = Json::object();
    for (const auto& [key, n] : counts) object.add(key, Json::integer(n));
    return object;
}

std::string counts_text(const std::map<std::string, long>& counts) {
    std::string text;
    for (const auto& [key, n] : counts)
        text += (text.empty() ? "" : ", ") + key + " " + std::to_string(n);
    return text;
}

std::string joined(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

void RunTally::departed(const std::string& vehicle, const std::string& first_edge) {
    departed_from_[vehicle] = first_edge;
}

void RunTally::arrived(const std::string& vehicle) {
    const auto found = departed_from_.find(vehicle);
    const std::string edge = found == departed_from_.end() ? UNKNOWN_APPROACH : found->second;
    if (found != departed_from_.end()) departed_from_.erase(found);
    ++arrivals_[edge];
    ++arrived_;
}

void RunTally::teleport(const std::string& lane) {
    ++teleports_;
    ++places_[TELEPORTS].second[place_of(lane)];
}

void RunTally::emergency_stop(const std::string& lane) {
    ++emergency_stops_;
    ++places_[EMERGENCY_STOPS].second[place_of(lane)];
}

void RunTally::collision(const std::string& collider, const std::string& victim,
                         const std::string& lane) {
    if (!collided_.insert({collider, victim}).second) return;
    ++places_[COLLISIONS].second[place_of(lane)];
}

long RunTally::count_at_controlled(const std::map<std::string, long>& places) const {
    long n = 0;
    for (const auto& [where, count] : places)
        if (controlled_junctions.count(where)) n += count;
    return n;
}

std::string RunTally::text() const {
    const std::string seconds = simulated_seconds ? python_float(*simulated_seconds) : "None";
    std::string text = "steps " + std::to_string(steps) + ", simulated " + seconds +
                       " s, vehicles arrived " + std::to_string(arrived_) + ", collisions " +
                       std::to_string(collided_.size()) + ", teleports " +
                       std::to_string(teleports_) + ", emergency stops " +
                       std::to_string(emergency_stops_) + ", emergency braking warnings " +
                       std::to_string(emergency_braking_warnings) + ", conflicting G pairs " +
                       std::to_string(conflicting_green_pairs) + "\n";
    text += "arrivals per approach: " + counts_text(arrivals_) + "\n";
    for (const auto& [kind, where] : places_) {
        if (where.empty()) continue;
        std::string name = kind;
        for (char& c : name)
            if (c == '_') c = ' ';
        text += name + " by place (controlled junctions: " + joined(controlled_junctions) +
                "): " + counts_text(where) + "\n";
    }
    return text;
}

Json RunTally::json() const {
    Json places = Json::object();
    for (const auto& [kind, where] : places_) places.add(kind, counts_json(where));
    Json first = Json::object();
    for (const auto& [tls, text] : first_conflicting_green) first.add(tls, Json::string(text));
    Json summary = Json::object();
    summary.add("steps", Json::integer(steps))
        .add("simulated_seconds",
             simulated_seconds ? Json::real(*simulated_seconds) : Json::null_value())
        .add("vehicles_arrived", Json::integer(arrived_))
        .add("collisions", Json::integer(static_cast<long long>(collided_.size())))
        .add("teleports", Json::integer(teleports_))
        .add("emergency_stops", Json::integer(emergency_stops_))
        .add("emergency_braking_warnings", Json::integer(emergency_braking_warnings))
        .add("collisions_at_controlled_junctions",
             Json::integer(count_at_controlled(places_[COLLISIONS].second)))
        .add("emergency_stops_at_controlled_junctions",
             Json::integer(count_at_controlled(places_[EMERGENCY_STOPS].second)))
        .add("teleports_at_controlled_junctions",
             Json::integer(count_at_controlled(places_[TELEPORTS].second)))
        .add("places", places)
        .add("conflicting_green_pairs", Json::integer(conflicting_green_pairs))
        .add("first_conflicting_green", first)
        .add("arrivals_per_approach", counts_json(arrivals_))
        .add("error", error ? Json::string(*error) : Json::null_value());
    return summary;
}

long count_emergency_braking(const std::string& sumo_log) {
    std::ifstream in(sumo_log, std::ios::binary);
    long n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find("emergency braking") != std::string::npos) ++n;
    return n;
}

}  // namespace ruvalda::sumo_host
