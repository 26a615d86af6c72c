// Detectors in and out, detector translation, stream and variable trace flags, dumps.
#include <algorithm>
#include <new>
#include <utility>

#include "engine/eval.h"
#include "engine/internal.h"
#include "engine/monitor.h"
#include "output/output.h"

namespace ruvalda {

namespace {

Variable* find_detector(EngineState& engine, int detector) {
    if (detector < 0 || detector > 999) return nullptr;
    const char name[3] = {'D', static_cast<char>('0' + detector % 10), '\0'};
    return find_variable(engine, name, detector / 10);
}

// The target of the first rule whose target prints as `printed`.
Variable* rule_target(EngineState& engine, const char* printed) {
    for (const RuleRecord& rule : engine.rule_table) {
        if (rule.code[RULE_KIND_AT] < K_ASSIGN || rule.code[RULE_KIND_AT] > K_RESTART) continue;
        std::uint32_t index = static_cast<std::uint32_t>(read_int32(rule.code + RULE_TARGET_AT));
        if (index >= engine.variables.size()) continue;
        Variable& v = engine.variables[index];
        if (std::strcmp(v.printed, printed) == 0) return &v;
    }
    return nullptr;
}

}  // namespace

void SetDetectorState(EngineState& engine, int detector, int state) {
    Variable* v = find_detector(engine, detector);
    if (!v) {
        // Name and number as looked up (D3 and 07 for detector 73), not the printed form.
        char name[16];
        std::snprintf(name, sizeof name, "D%d", detector % 10);
        traceprintf(engine.output, "%s: cannot find detector %s%02d", "SetDetectorState", name,
                    detector / 10);
        return;
    }
    ++engine.epoch;
    if (state == 1 && v->value == 0) {
        if (monitoring(engine)) monitor_detector(*engine.monitor, engine, detector, 1);
        v->value = 1;
        v->flags |= V_START;
        v->modify_time = engine.current_time;
    } else if (state == 0 && v->value != 0) {
        v->value = 0;
        v->flags |= V_END;
        v->modify_time = engine.current_time;
    }
    if (v->flags & (V_START | V_END)) {
        write_trace_line(engine, "%6d\t%s\t%d\n", engine.current_time, v->printed, v->value);
        if (engine.detector_callback) engine.detector_callback(detector, v->value != 0 ? 1 : 0);
    }
    // The program reacts at once, not at the next step.
    settle(engine);
    flush_trace_file(engine);
}

int RVExportDetector(EngineState& engine, int detector) {
    const Variable* v = find_detector(engine, detector);
    if (!v) return -1;
    return v->value != 0 ? 1 : 0;
}

int RVTranslateDetector(EngineState& engine, int simulator_detector) {
    for (const auto& entry : engine.detector_translation)
        if (entry[1] == simulator_detector) return entry[0];
    return 0;
}

std::uint32_t RVGetStreamFlags(EngineState& engine, int stream) {
    if (stream < 1 || stream >= STREAM_COUNT) {
        report_error(engine.output, PROGRAM_ERROR, "RVGetStreamFlags", "Bad Stream: %d.", stream);
        return 0;
    }
    return engine.stream_flags[stream];
}

void RVSetStreamFlags(EngineState& engine, int stream, int flags) {
    if (stream < 0 || stream >= STREAM_COUNT) {
        report_error(engine.output, PROGRAM_ERROR, "RVSetStreamFlags", "Bad Stream: %d.", stream);
        return;
    }
    const std::uint32_t trace_bits = SF_TRACE | SF_TRACE_ALL;
    if (static_cast<std::uint32_t>(flags) & ~trace_bits) {
        report_error(engine.output, PROGRAM_ERROR, "RVSetStreamFlags", "Bad Flags value: %0x.",
                     static_cast<unsigned>(flags));
        return;
    }
    engine.stream_flags[stream] =
        (engine.stream_flags[stream] & ~trace_bits) | static_cast<std::uint32_t>(flags);
    ++engine.epoch;
}

void RVSetVariableTrace(EngineState& engine, const char* printed_name, int flags) {
    Variable* v = rule_target(engine, printed_name);
    if (!v) {
        traceprintf(
            engine.output,
            "Cannot change flags of variable %s because there is no formula that might change "
            "it\n",
            printed_name);
        return;
    }
    const std::uint32_t bits = V_TRACE | V_TRACE_ALL;
    v->flags = (v->flags & ~bits) | (static_cast<std::uint32_t>(flags) & bits);
    ++engine.epoch;
    engine.any_variable_traces_all = false;
    for (const Variable& other : engine.variables)
        if (other.flags & V_TRACE_ALL) engine.any_variable_traces_all = true;
}

int RVGetVariableTrace(EngineState& engine, const char* printed_name) {
    const Variable* v = rule_target(engine, printed_name);
    if (!v) return 0;
    return static_cast<int>(v->flags & (V_TRACE | V_TRACE_ALL)) | 1;
}

bool RVDumpVars(EngineState& engine, const DumpPrinter& print, bool by_modify_time) {
    if (engine.variables.empty()) return true;
    std::vector<std::pair<std::string, std::int32_t>> list;
    try {
        list.reserve(engine.variables.size());
        for (const Variable& v : engine.variables)
            list.emplace_back(format_variable(engine, &v, FormatMode::DUMP), v.modify_time);
    } catch (const std::bad_alloc&) {
        print("RVDumpVars: out of memory");
        return false;
    }
    if (by_modify_time)
        std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
            if (a.second != b.second) return a.second < b.second;
            return a.first < b.first;  // byte-wise: std::string compares as unsigned char
        });
    for (const auto& entry : list)
        if (!print(entry.first.c_str())) return false;
    return true;
}

}  // namespace ruvalda
