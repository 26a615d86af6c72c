#include "sumo_files/network.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>

#include "sumo_files/xml_tags.h"

namespace ruvalda::sumo_host {

namespace {

namespace fs = std::filesystem;

// A link index attribute a connection may lack.
constexpr int NO_LINK = -1;
// Internal lane ids are ":JUNCTION_EDGE_LANE": two parts follow the junction's id.
constexpr int INTERNAL_LANE_PARTS = 2;

void scan_file(const std::string& path, const char* what,
               const std::function<void(const XmlTag&)>& visit) {
    const std::string text = read_text_file(path, what);
    try {
        scan_xml_tags(text, visit);
    } catch (const XmlError& e) {
        throw ConfigError{path + ":" + std::to_string(e.line) + ": not valid XML: " + e.what};
    }
}

std::string relative_to_file(const std::string& file, const std::string& path) {
    return (fs::path(file).parent_path() / path).string();
}

std::string attribute_or_empty(const XmlTag& tag, const char* key) {
    const std::string* value = tag.attribute(key);
    return value ? *value : std::string();
}

int link_index(const XmlTag& tag, const char* key, const std::string& file) {
    const std::string* text = tag.attribute(key);
    if (!text) return NO_LINK;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno == ERANGE || value > INT32_MAX || value < NO_LINK)
        throw ConfigError{file + ":" + std::to_string(tag.line) + ": " + key + " \"" + *text +
                          "\" is not a link index"};
    return static_cast<int>(value);
}

// The ids after a prefix, such as the junction of an internal lane.
std::string strip_last_parts(std::string id, int parts) {
    for (int i = 0; i < parts; ++i) {
        const std::size_t underscore = id.rfind('_');
        if (underscore == std::string::npos) break;
        id.erase(underscore);
    }
    return id;
}

struct NetConnection {
    std::string from, to, tl, via;
    std::string from_lane;             // FROM_LANE, as incoming lanes are named
    int link[2] = {NO_LINK, NO_LINK};  // linkIndex and linkIndex2 (a crossing's second end)
};

struct NetJunction {
    std::string id;
    std::vector<std::string> incoming_lanes;
    std::map<int, std::string> foes;  // request index -> its foes bits, the last link first
};

struct NetTables {
    std::map<std::string, std::string> edge_function;
    std::vector<NetJunction> junctions;  // those with a right-of-way table
    std::vector<NetConnection> connections;
};

NetTables read_net(const std::string& path) {
    NetTables net;
    NetJunction current;
    bool in_junction = false;
    scan_file(path, "network", [&](const XmlTag& tag) {
        if (tag.name == "edge" && !tag.closing) {
            net.edge_function[attribute_or_empty(tag, "id")] = attribute_or_empty(tag, "function");
        } else if (tag.name == "junction") {
            if (!tag.closing) {
                current = NetJunction{attribute_or_empty(tag, "id"), {}, {}};
                std::istringstream lanes(attribute_or_empty(tag, "incLanes"));
                for (std::string lane; lanes >> lane;) current.incoming_lanes.push_back(lane);
            }
            in_junction = !tag.closing && !tag.empty;
            if ((tag.closing || tag.empty) && !current.foes.empty())
                net.junctions.push_back(current);
            if (tag.closing || tag.empty) current = NetJunction{};
        } else if (tag.name == "request" && in_junction && !tag.closing) {
            current.foes[link_index(tag, "index", path)] = attribute_or_empty(tag, "foes");
        } else if (tag.name == "connection" && !tag.closing) {
            NetConnection c;
            c.from = attribute_or_empty(tag, "from");
            c.to = attribute_or_empty(tag, "to");
            c.tl = attribute_or_empty(tag, "tl");
            c.via = attribute_or_empty(tag, "via");
            c.from_lane = c.from + "_" + attribute_or_empty(tag, "fromLane");
            c.link[0] = link_index(tag, "linkIndex", path);
            c.link[1] = link_index(tag, "linkIndex2", path);
            net.connections.push_back(std::move(c));
        }
    });
    return net;
}

// Where each link of the traffic lights sits: its junction (index into net.junctions) and its
// index in the junction's right-of-way table. The junction numbers its links by incoming lane,
// then connection in file order, leaving out walking-area connections that enter no crossing.
using LinkPlaces = std::map<std::string, std::map<int, std::pair<std::size_t, int>>>;

LinkPlaces place_links(const NetTables& net, const std::set<std::string>& tls_ids) {
    std::map<std::string, std::vector<const NetConnection*>> outgoing;
    for (const NetConnection& c : net.connections) outgoing[c.from_lane].push_back(&c);
    auto function = [&](const std::string& edge) {
        const auto found = net.edge_function.find(edge);
        return found == net.edge_function.end() ? std::string() : found->second;
    };
    LinkPlaces places;
    for (std::size_t j = 0; j < net.junctions.size(); ++j) {
        int n = 0;
        for (const std::string& lane : net.junctions[j].incoming_lanes) {
            for (const NetConnection* c : outgoing[lane]) {
                const std::string from = function(c->from), to = function(c->to);
                if (to == "walkingarea" || (from == "walkingarea" && to != "crossing")) continue;
                if (tls_ids.count(c->tl))
                    for (int link : c->link)
                        if (link >= 0) places[c->tl][link] = {j, n};
                ++n;
            }
        }
    }
    return places;
}

// Bit `index` of a foes string, whose last character is link 0.
bool foe_bit(const std::string& foes, int index) {
    const auto at = static_cast<std::size_t>(index);
    return at < foes.size() && foes[foes.size() - 1 - at] == '1';
}

std::vector<std::pair<int, int>> foe_pairs(
    const NetTables& net, const std::map<int, std::pair<std::size_t, int>>& links) {
    auto foes_of = [&](std::size_t junction, int index) {
        const auto& table = net.junctions[junction].foes;
        const auto found = table.find(index);
        return found == table.end() ? std::string() : found->second;
    };
    std::vector<std::pair<int, int>> pairs;
    for (auto a = links.begin(); a != links.end(); ++a) {
        for (auto b = std::next(a); b != links.end(); ++b) {
            const auto [ja, ia] = a->second;
            const auto [jb, ib] = b->second;
            if (ja != jb) continue;
            if (foe_bit(foes_of(ja, ia), ib) || foe_bit(foes_of(jb, ib), ia))
                pairs.emplace_back(a->first, b->first);
        }
    }
    return pairs;
}

}  // namespace

std::string net_file_of(const std::string& sumocfg) {
    std::string net;
    bool found = false;
    scan_file(sumocfg, "SUMO configuration", [&](const XmlTag& tag) {
        if (found || tag.name != "net-file" || tag.closing) return;
        const std::string* value = tag.attribute("value");
        if (!value)
            throw ConfigError{sumocfg + ":" + std::to_string(tag.line) +
                              ": net-file without a value"};
        net = relative_to_file(sumocfg, *value);
        found = true;
    });
    if (!found) throw ConfigError{sumocfg + ": no net-file"};
    return net;
}

std::set<std::string> loops_of(const std::string& sumocfg) {
    std::vector<std::string> files;
    scan_file(sumocfg, "SUMO configuration", [&](const XmlTag& tag) {
        if (tag.name != "additional-files" || tag.closing) return;
        std::istringstream names(attribute_or_empty(tag, "value"));
        for (std::string name; std::getline(names, name, ',');) {
            const std::size_t first = name.find_first_not_of(" \t\r\n");
            if (first == std::string::npos) continue;
            name = name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
            files.push_back(relative_to_file(sumocfg, name));
        }
    });
    std::set<std::string> ids;
    for (const std::string& file : files) {
        scan_file(file, "additional file", [&](const XmlTag& tag) {
            if (!tag.closing && (tag.name == "inductionLoop" || tag.name == "e1Detector"))
                ids.insert(attribute_or_empty(tag, "id"));
        });
    }
    return ids;
}

std::map<std::string, TrafficLightNet> read_traffic_lights(const std::string& net_file,
                                                           const std::set<std::string>& tls_ids) {
    const NetTables net = read_net(net_file);
    std::map<std::string, TrafficLightNet> lights;
    for (const NetConnection& c : net.connections) {
        if (!tls_ids.count(c.tl)) continue;
        TrafficLightNet& light = lights[c.tl];
        for (int link : c.link) light.links = std::max(light.links, link + 1);
        if (c.via.rfind(':', 0) == 0)
            light.junctions.insert(strip_last_parts(c.via.substr(1), INTERNAL_LANE_PARTS));
    }
    const LinkPlaces places = place_links(net, tls_ids);
    for (auto& [tls, light] : lights) {
        const auto found = places.find(tls);
        if (found != places.end()) light.foes = foe_pairs(net, found->second);
    }
    return lights;
}

void check_mappings(const HostConfig& config, const std::map<std::string, TrafficLightNet>& net,
                    const std::set<std::string>& loops) {
    for (const JunctionConfig& j : config.junctions) {
        const auto light = net.find(j.tls);
        if (light == net.end() || light->second.links == 0)
            throw ConfigError{j.mapping_file + ": traffic light " + j.tls +
                              " is not in the network"};
        const int links = light->second.links;
        for (const StreamLinks& s : j.mapping.streams)
            for (const auto& [link, green] : s.links)
                if (link >= links)
                    throw ConfigError{j.mapping_file + ": stream " + std::to_string(s.stream) +
                                      ": link " + std::to_string(link) +
                                      " out of range (traffic light " + j.tls + " has links 0.." +
                                      std::to_string(links - 1) + ")"};
        for (const auto& [number, loop] : j.mapping.detectors)
            if (!loops.count(loop))
                throw ConfigError{j.mapping_file + ": detector " + std::to_string(number) +
                                  ": no loop '" + loop +
                                  "' in the configuration's additional files"};
    }
}

std::string place_of(const std::string& lane) {
    if (lane.rfind(':', 0) == 0) return strip_last_parts(lane.substr(1), INTERNAL_LANE_PARTS);
    return strip_last_parts(lane, 1);
}

}  // namespace ruvalda::sumo_host
