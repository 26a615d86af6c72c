// Loading speed: a generated control file of about 10,000 rules with a declaration block of 40
// streams expanded through the example's macro files.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bench/program_generator.h"
#include "controller/controller.h"
#include "engine/eval.h"
#include "loader/reader.h"
#include "output/output.h"
#include "sequence/sequence_model.h"

namespace ruvalda::bench {
namespace {

namespace fs = std::filesystem;

// The declaration block: stream s conflicts with the streams s+1..s+5 (cyclically) and back.
std::string declaration_block(int streams) {
    std::string text = "# PHASE TIMERS IN TENTH OF SECONDS\n#\tTGMIN\tTGMAX\tTAMB\t\n%mat";
    for (int s = 1; s <= streams; ++s) text.append(" ").append(std::to_string(s));
    text += "\n";
    for (int s = 0; s < streams; ++s) {
        text += std::to_string(s + 1);
        for (int t = 0; t < streams; ++t) {
            int distance = (t - s + streams) % streams;
            bool conflict = distance != 0 && (distance <= 5 || distance >= streams - 5);
            text += conflict ? " 30" : " -1";
        }
        text += "\n";
    }
    auto row = [&](const char* head, const char* value) {
        text += head;
        for (int s = 0; s < streams; ++s) text.append(" ").append(value);
        text += "\n";
    };
    row("IG", "40");
    row("D1", "1");
    row("T1", "30");
    for (int s = 1; s <= streams; ++s)
        text.append("%tt ").append(std::to_string(s)).append(" 60 300 30\n");
    return text + "%rules\n";
}

std::string write_program(int streams, int rules_per_stream) {
    fs::path dir = fs::temp_directory_path() / "ruvalda-bench-load";
    fs::create_directories(dir);
    for (const char* mac : {"stream.mac", "conflict.mac", "detector.mac", "timer.mac"})
        fs::copy_file(fs::path(RUVALDA_SOURCE_DIR) / "macros" / mac, dir / mac,
                      fs::copy_options::overwrite_existing);
    std::ofstream out(dir / "big.rvc");
    out << "# ruvalda-version=100\n" << declaration_block(streams);
    for (const std::string& line : generate_program(streams, rules_per_stream)) out << line << "\n";
    return (dir / "big.rvc").string();
}

void BM_LoadControlFile(benchmark::State& state) {
    ReportRecorder recorder;
    Controller controller;
    EngineState& engine = controller.engine;
    ReaderState& reader_state = controller.reader;
    engine.output.front_end = &recorder;
    const std::string path = write_program(40, 215);
    reader_state.macro.macro_path = fs::path(path).parent_path().string() + "/";
    reader_state.sequence_handler = sequence_reader(controller.sequence_model);
    for (auto _ : state) {
        if (!RVLoadFile(reader_state, engine, path.c_str())) state.SkipWithError("load failed");
    }
    state.counters["rules"] = static_cast<double>(engine.rule_table.size());
    state.counters["variables"] = static_cast<double>(engine.variables.size());
    state.counters["reports"] = static_cast<double>(recorder.reports.size()) / state.iterations();
}
BENCHMARK(BM_LoadControlFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ruvalda::bench
