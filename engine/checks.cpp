// Checks run at every reset: red states, companion streams, and the sanity of every variable.
#include <cstring>
#include <string>

#include "engine/eval.h"
#include "engine/internal.h"
#include "output/output.h"

namespace ruvalda {

namespace {

// A stream that exists demands one of its companions.
constexpr Companion COMPANIONS[] = {
    {21, 22, 0}, {23, 24, 0}, {25, 26, 0}, {27, 28, 0},  {31, 32, 0}, {33, 34, 0},
    {35, 36, 0}, {37, 38, 0}, {62, 2, 0},  {63, 2, 3},   {65, 5, 0},  {66, 5, 6},
    {68, 8, 0},  {69, 8, 9},  {71, 11, 0}, {72, 11, 12},
};

bool exists(const EngineState& engine, int stream) {
    return (engine.stream_flags[stream] & SF_EXISTS) != 0;
}

bool red_states_defined(EngineState& engine) {
    for (const Variable& v : engine.variables) {
        std::uint32_t& word = engine.stream_flags[v.number];
        if (word == 0) word = SF_EXISTS;
        if (std::strcmp(v.name, "R") == 0 && v.value != 1) {
            engine.output.hint =
                "Hint: a stream starts red: give its red state a start value "
                "with \"%init " +
                std::string(v.printed) + "\".";
            report_error(engine.output, CONFIGURATION_ERROR, "RVCheckConsistency",
                         "Ill-defined stream: %02d.", v.number);
            return false;
        }
    }
    return true;
}

bool companions_present(EngineState& engine) {
    for (const Companion& c : missing_companions(engine)) {
        if (c.alternative)
            report_error(engine.output, CONFIGURATION_ERROR, "RVCheckConsistency",
                         "Illegal combination: %02d and not %02d or %02d.", c.stream, c.required,
                         c.alternative);
        else
            report_error(engine.output, CONFIGURATION_ERROR, "RVCheckConsistency",
                         "Illegal combination: %02d and not %02d.", c.stream, c.required);
        return false;
    }
    return true;
}

}  // namespace

std::vector<Companion> missing_companions(const EngineState& engine) {
    std::vector<Companion> missing;
    for (const Companion& c : COMPANIONS)
        if (exists(engine, c.stream) && !exists(engine, c.required) &&
            !(c.alternative && exists(engine, c.alternative)))
            missing.push_back(c);
    return missing;
}

int check_sanity(EngineState& engine, int asked) {
    int found = 0;
    for (const Variable& v : engine.variables) {
        const bool set = v.flags & V_HAS_SET_RULE;
        const bool clear = v.flags & V_HAS_CLEAR_RULE;
        const bool timer = v.flags & V_TIMER;
        int finding = 0;
        const char* message = nullptr;
        if (!set && !clear) {
            if (v.ref_count == 0) {
                finding = SANITY_NEVER_USED;
                if (std::strcmp(v.name, "TOFF") != 0) message = "%s never used.";
            }
        } else if (!set) {
            finding = SANITY_NEVER_STARTS;
            message = "%s never starts.";
        } else if (!clear && !timer) {
            finding = SANITY_NEVER_ENDS;
            message = "%s never ends.\n";
        } else if (timer && v.limit < 0) {
            finding = SANITY_NO_LIMIT;
            message = "%s: has no time limit.";
        }
        if (!(finding & asked)) continue;
        found |= finding;
        if (message)
            report_error(engine.output, CONFIGURATION_ERROR, "check_sanity", message, v.printed);
    }
    return found;
}

int RVCheckConsistency(EngineState& engine) {
    if (!red_states_defined(engine) || !companions_present(engine)) return 0;
    return check_sanity(engine, SANITY_ALL) == 0 ? 1 : 0;
}

}  // namespace ruvalda
