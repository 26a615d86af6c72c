// Engine speed: rule evaluation and one quiet step of a generated program of 2,000+ rules.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <sstream>

#include "bench/program_generator.h"
#include "controller/controller.h"
#include "engine/eval.h"
#include "output/output.h"

namespace ruvalda::bench {
namespace {

ReportRecorder recorder;
// One controller for the whole run; each benchmark starts from a fresh one.
std::unique_ptr<Controller> controller;

Variable* named(EngineState& engine, const std::string& printed) {
    std::string text = printed;
    char name[NAME_LENGTH + 2];
    int number = 0;
    if (getname(engine, text.data(), name, &number) == 0) return nullptr;
    return install_variable(engine, name, number, 0);
}

// Compiles the program into the rule table as the loader does in its filling pass.
EngineState& load_generated(int streams, int rules_per_stream) {
    controller = std::make_unique<Controller>();
    EngineState& engine = controller->engine;
    engine.output.front_end = &recorder;
    engine.rule_table_exists = true;
    for (const std::string& line : generate_program(streams, rules_per_stream)) {
        if (line.rfind("%time ", 0) == 0) {
            std::istringstream in(line.substr(6));
            std::string name;
            int limit = 0;
            in >> name >> limit;
            if (Variable* v = named(engine, name)) v->limit = limit;
            continue;
        }
        std::string text = line;
        RuleRecord record{};
        tokenize(engine, text.data(), record.code, RULE_CODE_SIZE);
        if (evalrule(engine, record.code) == 0) engine.rule_table.push_back(record);
    }
    for (const Variable& v : engine.variables) engine.stream_flags[v.number] |= SF_EXISTS;
    RVInitialize(engine);
    RVRunUntil(engine, 10);  // settle into the quiet state
    recorder.reports.clear();
    return engine;
}

void BM_EvaluateRule(benchmark::State& state) {
    EngineState& engine = load_generated(static_cast<int>(state.range(0)), 52);
    const std::size_t rules = engine.rule_table.size();
    for (auto _ : state) {
        for (RuleRecord& rule : engine.rule_table) benchmark::DoNotOptimize(evalrule(engine, rule));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * rules));
    state.counters["rules"] = static_cast<double>(rules);
    state.counters["ns_per_rule"] =
        benchmark::Counter(static_cast<double>(state.iterations() * rules),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EvaluateRule)->Arg(40)->Arg(4)->Unit(benchmark::kMicrosecond);

// The same rules walked through their code every time, as when their inputs keep changing.
void BM_EvaluateRuleCode(benchmark::State& state) {
    EngineState& engine = load_generated(static_cast<int>(state.range(0)), 52);
    const std::size_t rules = engine.rule_table.size();
    for (auto _ : state) {
        for (const RuleRecord& rule : engine.rule_table)
            benchmark::DoNotOptimize(evalrule(engine, rule.code));
    }
    state.counters["ns_per_rule"] =
        benchmark::Counter(static_cast<double>(state.iterations() * rules),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EvaluateRuleCode)->Arg(40)->Arg(4)->Unit(benchmark::kMicrosecond);

// A quiet step: arg 1 lets the engine skip the settle at its fixed point, arg 0 makes it run
// the one pass that finds nothing changed.
void BM_QuietStep(benchmark::State& state) {
    EngineState& engine = load_generated(40, 52);
    engine.skip_fixed_points = state.range(0) != 0;
    const std::size_t rules = engine.rule_table.size();
    std::int64_t passes_extra = 0;
    for (auto _ : state) {
        engine.change_count = 0;
        RVRunUntil(engine, engine.current_time + 1);
        passes_extra += engine.change_count;
    }
    state.counters["rules"] = static_cast<double>(rules);
    state.counters["variables"] = static_cast<double>(engine.variables.size());
    state.counters["changes"] = static_cast<double>(passes_extra);
}
BENCHMARK(BM_QuietStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A step in which a detector of every stream changes: timers start and many rules change.
void BM_BusyStep(benchmark::State& state) {
    EngineState& engine = load_generated(40, 52);
    int detector_state = 0;
    for (auto _ : state) {
        detector_state ^= 1;
        for (int s = 1; s <= 40; ++s) SetDetectorState(engine, s * 10 + 1, detector_state);
        RVRunUntil(engine, engine.current_time + 1);
    }
}
BENCHMARK(BM_BusyStep)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ruvalda::bench

BENCHMARK_MAIN();
