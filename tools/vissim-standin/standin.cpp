#include "tools/vissim-standin/standin.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

#include "vissim/lsa.h"
#include "vissim/lsa_puff.h"

namespace ruvalda::standin {

namespace {

constexpr std::int32_t RED = 2;

struct Detector {
    bool occupied = false;
    std::int64_t since_millis = 0;
    bool impulse = false;  // a vehicle arrived; kept until the controller clears it
};

struct Vissim {
    const Scenario& scenario;
    std::map<int, std::int32_t> pictures;  // signal group -> picture now shown
    std::map<int, Detector> detectors;
    std::int32_t divisor = 5;  // time unit on the wire is 1/divisor s; the controller says which
    std::vector<std::uint8_t> buffer;
};

void triple(std::vector<std::uint8_t>& out, std::int32_t c, std::int32_t n, std::int32_t v) {
    lsa_append_value(out, c);
    lsa_append_value(out, n);
    lsa_append_value(out, v);
}

const char* poke_failure(LsaPokeResult r) {
    switch (r) {
        case LsaPokeResult::Busy:
            return "busy";
        case LsaPokeResult::NotProcessed:
            return "not processed";
        default:
            return "failed";
    }
}

std::string step_error(std::int64_t step, const std::string& what) {
    return "step " + std::to_string(step) + ": " + what;
}

void build_step(Vissim& v, std::int64_t millis, std::int32_t time_value) {
    std::vector<std::uint8_t>& b = v.buffer;
    b.clear();
    triple(b, 9101, 0, time_value);
    triple(b, 1002, 0, time_value);
    triple(b, 1011, 0, 1);
    for (const int sg : v.scenario.signal_groups) triple(b, 2001, sg, v.pictures[sg]);
    for (const int d : v.scenario.detectors) {
        const Detector& det = v.detectors[d];
        const std::int64_t hundredths = det.occupied ? (millis - det.since_millis) / 10 : 0;
        triple(b, 3001, d, det.occupied ? 1 : 0);
        triple(b, 3011, d, det.impulse ? 1 : 0);
        triple(b, 3031, d, static_cast<std::int32_t>(std::min<std::int64_t>(hundredths, 1 << 30)));
    }
    lsa_append_value(b, 999);
}

// Checks the reply and applies it: wished pictures shown, impulses cleared. Empty when fine.
std::string take_reply(Vissim& v, const std::vector<std::uint8_t>& data, std::int32_t sent,
                       double seconds, const StandinOptions& o, std::int64_t* wishes) {
    if (data.size() % 4 != 0) return "reply of " + std::to_string(data.size()) + " bytes";
    const std::vector<std::int32_t> r = lsa_values(data);
    if (r.empty() || r.back() != 999 || (r.size() - 1) % 3 != 0)
        return "reply does not end with 999 after whole triples";
    if (r.size() < 10 || r[0] != 1000 || r[3] != 1002 || r[6] != 1011)
        return "reply does not start with the triples 1000, 1002 and 1011";
    if (r[2] < 1 || r[2] > 10) return "step divisor " + std::to_string(r[2]) + " out of 1..10";
    if (r[5] != sent)
        return "1002 came back as " + std::to_string(r[5]) + ", not " + std::to_string(sent);
    if (r[8] != 1) return "1011 came back as " + std::to_string(r[8]);
    v.divisor = r[2];
    for (std::size_t i = 9; i + 1 < r.size(); i += 3) {
        const std::int32_t c = r[i], n = r[i + 1], value = r[i + 2];
        if (c == 2002 || c == 2003) {
            const auto& groups = v.scenario.signal_groups;
            if (std::find(groups.begin(), groups.end(), n) == groups.end())
                return "wish for signal group " + std::to_string(n) +
                       ", which VISSIM does not have";
            if (value < 0 || value > 10 || value == 1)
                return "wished picture " + std::to_string(value) + " for signal group " +
                       std::to_string(n);
            v.pictures[n] = value;
            ++*wishes;
            if (o.wishes)
                std::fprintf(o.wishes, "%.1f\t%02d\t%d %s\n", seconds, n, value,
                             picture_name(value));
        } else if (c == 3011) {
            auto found = v.detectors.find(n);
            if (found == v.detectors.end() || value != 0)
                return "impulse clear for detector " + std::to_string(n) +
                       " which VISSIM does not report";
            found->second.impulse = false;
        } else {
            return "unexpected triple " + std::to_string(c) + " in the reply";
        }
    }
    return "";
}

}  // namespace

const char* picture_name(std::int32_t code) {
    switch (code) {
        case 0:
            return "off";
        case 2:
            return "red";
        case 3:
            return "red-amber";
        case 4:
            return "green";
        case 5:
            return "amber";
        default:
            return "special";
    }
}

StandinResult run_standin(LsaClientTransport& t, const Scenario& scenario,
                          const StandinOptions& o) {
    StandinResult result;
    Vissim v{scenario, {}, {}, 5, {}};
    for (const int sg : scenario.signal_groups) v.pictures[sg] = RED;
    for (const int d : scenario.detectors) v.detectors[d] = Detector{};
    LsaState names;  // the controller's naming rule; reports an out-of-range number
    const std::optional<std::string> service = VAVOZI_String(names, scenario.controller);
    if (!service || !t.connect(*service, "VISSIM", o.connect_timeout_ms)) {
        result.error = service ? t.last_error() : "no service name for this controller number";
        return result;
    }
    // "Init" carries the state at time 0, as each step does.
    build_step(v, 0, 0);
    if (const LsaPokeResult r = t.poke("Init", v.buffer); r != LsaPokeResult::Acknowledged) {
        result.error = std::string("Init answered ") + poke_failure(r) + " " + t.last_error();
        return result;
    }
    const std::int64_t steps = scenario.duration_millis * scenario.resolution / 1000;
    std::size_t next = 0;
    std::vector<std::uint8_t> reply;
    const auto started = std::chrono::steady_clock::now();
    for (std::int64_t k = 1; k <= steps; ++k) {
        const std::int64_t millis = k * 1000 / scenario.resolution;
        for (; next < scenario.events.size() && scenario.events[next].millis <= millis; ++next) {
            const ScenarioEvent& e = scenario.events[next];
            Detector& d = v.detectors[e.detector];
            if (e.state == 1 && !d.occupied) {
                d.occupied = true;
                d.since_millis = e.millis;
                d.impulse = true;
            } else if (e.state == 0) {
                d.occupied = false;
            }
        }
        const auto time_value = static_cast<std::int32_t>(
            std::llround(static_cast<double>(millis) * v.divisor / 1000.0));
        build_step(v, millis, time_value);
        if (const LsaPokeResult r = t.poke("Rechnen", v.buffer); r != LsaPokeResult::Acknowledged) {
            result.error = step_error(
                k, std::string("Rechnen answered ") + poke_failure(r) + " " + t.last_error());
            return result;
        }
        if (!t.request("Wunschbild", &reply)) {
            result.error = step_error(k, "Wunschbild: " + t.last_error());
            return result;
        }
        const std::string wrong = take_reply(
            v, reply, time_value, static_cast<double>(millis) / 1000.0, o, &result.wishes);
        if (!wrong.empty()) {
            result.error = step_error(k, wrong);
            return result;
        }
        result.steps = k;
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    t.disconnect();
    result.ok = true;
    return result;
}

}  // namespace ruvalda::standin
