// Arbitrary bytes as rule texts: every line is compiled (counting pass, then filling pass),
// printed back, evaluated, and the program stepped, with and without passing over evaluations
// that would change nothing (the two must show the same); printed-name lookups get the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "controller/controller.h"
#include "engine/eval.h"
#include "output/output.h"

using namespace ruvalda;

namespace {

constexpr std::size_t WORK_RECORD = 1541;

std::vector<std::string> split_lines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else if (data[i] != '\0')
            lines.back() += static_cast<char>(data[i]);
    }
    return lines;
}

void compile_pass(EngineState& engine, const std::vector<std::string>& lines, bool fill) {
    for (const std::string& line : lines) {
        std::string text = line;
        std::uint8_t work[WORK_RECORD];
        std::memset(work, 0, sizeof work);
        std::size_t needed = 0;
        if (text.empty()) continue;
        tokenize(engine, text.data(), work, sizeof work, &needed);
        printrule(engine, work, false);
        printrule(engine, work, true);
        if (!fill || needed > RULE_CODE_SIZE) continue;
        RuleRecord record{};
        std::memcpy(record.code, work, RULE_CODE_SIZE);
        if (evalrule(engine, record.code) == 0) engine.rule_table.push_back(record);
    }
}

// The program stepped through the input's detector changes; what the pane and a dump show of
// it afterwards.
std::vector<std::string> run(const std::vector<std::string>& lines, const std::uint8_t* data,
                             std::size_t size, bool skip_evaluations) {
    ReportRecorder recorder;
    Controller controller;
    EngineState& engine = controller.engine;
    engine.output.front_end = &recorder;
    engine.skip_fixed_points = skip_evaluations;

    compile_pass(engine, lines, false);
    free_variables(engine);
    engine.rule_table_exists = true;
    compile_pass(engine, lines, true);
    for (const Variable& v : engine.variables) engine.stream_flags[v.number] |= SF_EXISTS;

    RVSetStreamFlags(engine, size % 100, static_cast<int>(size % 3) * 2);
    RVInitialize(engine);
    for (std::size_t i = 0; i < size && i < 16; ++i) {
        SetDetectorState(engine, data[i] * 4 % 1000, data[i] & 1);
        RVRunUntil(engine, engine.current_time + 1 + data[i] % 3);
    }
    std::vector<std::string> seen(engine.output.pane.lines.begin(), engine.output.pane.lines.end());
    RVDumpVars(
        engine,
        [&seen](const char* text) {
            seen.emplace_back(text);
            return true;
        },
        true);
    for (const std::string& line : lines) {
        RVGetVariableTrace(engine, line.c_str());
        RVSetVariableTrace(engine, line.c_str(), 6);
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = split_lines(data, size);
    // Passing over settles and rules that would change nothing must change nothing.
    if (run(lines, data, size, true) != run(lines, data, size, false)) std::abort();
    return 0;
}
