#include "sumo_files/config.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "sumo_files/json.h"

namespace ruvalda::sumo_host {

namespace {

namespace fs = std::filesystem;

constexpr const char* DEFAULT_OUTPUTS = "out";

// Stream numbers, link indices and seeds are ints to SUMO and the engine.
bool fits_int(const Json& value, double lowest) {
    return value.is_integer() && value.number >= lowest && value.number <= INT32_MAX;
}

[[noreturn]] void fail_at(const std::string& file, int line, const std::string& what) {
    throw ConfigError{file + ":" + std::to_string(line) + ": " + what};
}

Json read_json_file(const std::string& path, const char* what) {
    const std::string text = read_text_file(path, what);
    try {
        return parse_json(text);
    } catch (const JsonError& e) {
        throw ConfigError{path + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) +
                          ": not valid JSON: " + e.what};
    }
}

// A path of the configuration: relative ones are relative to its folder.
std::string beside(const fs::path& base, const std::string& path) {
    return (base / path).string();
}

const std::string& string_member(const Json& object, const char* key, const std::string& file) {
    const Json* value = object.find(key);
    if (!value->is(Json::Kind::String))
        fail_at(file, value->line, std::string("\"") + key + "\" must be a string");
    return value->text;
}

StreamLinks read_stream(const Json& entry, const std::string& file) {
    const Json* number = entry.is(Json::Kind::Object) ? entry.find("stream") : nullptr;
    const Json* links = entry.is(Json::Kind::Object) ? entry.find("links") : nullptr;
    if (!number || !fits_int(*number, 0) || !links || !links->is(Json::Kind::Array))
        fail_at(file, entry.line,
                "a stream needs \"stream\" (its number) and \"links\" (a list of [LINK, "
                "\"G\" or \"g\"])");
    StreamLinks stream;
    stream.stream = static_cast<int>(number->number);
    for (const Json& link : links->items) {
        const bool pair = link.is(Json::Kind::Array) && link.items.size() == 2;
        const bool good = pair && fits_int(link.items[0], 0) &&
                          link.items[1].is(Json::Kind::String) &&
                          (link.items[1].text == "G" || link.items[1].text == "g");
        if (!good)
            fail_at(file, link.line,
                    "stream " + std::to_string(stream.stream) +
                        ": bad link entry (expected [LINK, \"G\" or \"g\"], LINK a link index "
                        "from 0)");
        stream.links.emplace_back(static_cast<int>(link.items[0].number), link.items[1].text[0]);
    }
    return stream;
}

void read_detectors(const Json& detectors, const std::string& file, Mapping& mapping) {
    if (!detectors.is(Json::Kind::Object))
        fail_at(file, detectors.line, "\"detectors\" must map detector numbers to loop ids");
    for (const auto& [key, loop] : detectors.members) {
        char* end = nullptr;
        errno = 0;
        const long number = std::strtol(key.c_str(), &end, 10);
        if (key.empty() || *end != '\0' || errno == ERANGE || number < 0 || number > INT32_MAX)
            fail_at(file, loop.line, "detector \"" + key + "\" is not a detector number");
        if (!loop.is(Json::Kind::String))
            fail_at(file, loop.line, "detector " + key + ": the loop id must be a string");
        mapping.detectors[static_cast<int>(number)] = loop.text;
    }
}

Mapping load_mapping(const std::string& path) {
    const Json root = read_json_file(path, "mapping");
    if (!root.is(Json::Kind::Object)) fail_at(path, root.line, "a mapping is a JSON object");
    Mapping mapping;
    const Json* streams = root.find("streams");
    if (streams && !streams->is(Json::Kind::Array))
        fail_at(path, streams->line, "\"streams\" must be a list");
    if (streams)
        for (const Json& entry : streams->items)
            mapping.streams.push_back(read_stream(entry, path));
    const bool ascending = std::adjacent_find(mapping.streams.begin(), mapping.streams.end(),
                                              [](const StreamLinks& a, const StreamLinks& b) {
                                                  return a.stream >= b.stream;
                                              }) == mapping.streams.end();
    if (mapping.streams.empty() || !ascending)
        fail_at(path, streams ? streams->line : root.line,
                "streams must be given once each, in ascending number");
    if (const Json* detectors = root.find("detectors")) read_detectors(*detectors, path, mapping);
    return mapping;
}

JunctionConfig read_junction(const Json& entry, const fs::path& base, const std::string& file) {
    const bool complete = entry.is(Json::Kind::Object) && entry.find("tls") &&
                          entry.find("mapping") && entry.find("program");
    if (!complete)
        fail_at(file, entry.line,
                "every junction needs \"tls\", \"mapping\" and \"program\" (the control program "
                "ruvalda-sumo runs for it)");
    JunctionConfig junction;
    junction.tls = string_member(entry, "tls", file);
    junction.mapping_file = beside(base, string_member(entry, "mapping", file));
    junction.program_file = beside(base, string_member(entry, "program", file));
    return junction;
}

void read_run_settings(const Json& root, HostConfig& config) {
    if (const Json* step = root.find("step_length")) {
        if (!step->is(Json::Kind::Number) || !(step->number > 0))
            fail_at(config.file, step->line, "\"step_length\" must be a number of seconds above 0");
        config.step_length = step->number;
        config.step_length_text = step->integral ? std::to_string(std::llround(step->number))
                                                 : python_float(step->number);
    }
    if (const Json* seed = root.find("seed")) {
        if (!fits_int(*seed, INT32_MIN))
            fail_at(config.file, seed->line, "\"seed\" must be a whole number");
        config.seed = std::llround(seed->number);
    }
}

}  // namespace

std::string read_text_file(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ConfigError{std::string("cannot read ") + what + " " + path + ": " +
                          std::strerror(errno)};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

HostConfig load_config(const std::string& path) {
    HostConfig config;
    config.file = path;
    const Json root = read_json_file(path, "configuration");
    const fs::path base = fs::absolute(path).lexically_normal().parent_path();
    const Json* sumocfg = root.is(Json::Kind::Object) ? root.find("sumocfg") : nullptr;
    const Json* junctions = root.is(Json::Kind::Object) ? root.find("junctions") : nullptr;
    if (!sumocfg || !junctions || !junctions->is(Json::Kind::Array) || junctions->items.empty())
        throw ConfigError{path + ": needs \"sumocfg\" and at least one entry in \"junctions\""};
    config.sumocfg = beside(base, string_member(root, "sumocfg", path));
    read_run_settings(root, config);
    config.outputs =
        beside(base, root.find("outputs") ? string_member(root, "outputs", path) : DEFAULT_OUTPUTS);
    std::set<std::string> seen;
    for (const Json& entry : junctions->items) {
        config.junctions.push_back(read_junction(entry, base, path));
        if (!seen.insert(config.junctions.back().tls).second)
            fail_at(path, entry.line, "traffic light " + config.junctions.back().tls + " twice");
    }
    // After the whole configuration, as the bridge reads them.
    for (JunctionConfig& junction : config.junctions)
        junction.mapping = load_mapping(junction.mapping_file);
    return config;
}

std::vector<std::string> sumo_command(const HostConfig& config) {
    const fs::path out(config.outputs);
    return {"sumo",
            "-c",
            config.sumocfg,
            "--step-length",
            config.step_length_text,
            "--seed",
            std::to_string(config.seed),
            "--collision.check-junctions",
            "true",
            "--collision.action",
            "warn",
            "--collision-output",
            (out / "collisions.xml").string(),
            "--time-to-teleport",
            "-1",
            "--statistic-output",
            (out / "statistics.xml").string(),
            "--tripinfo-output",
            (out / "tripinfo.xml").string(),
            "--log",
            (out / "sumo.log").string(),
            "--no-step-log",
            "true"};
}

}  // namespace ruvalda::sumo_host
