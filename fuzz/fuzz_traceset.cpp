// Arbitrary bytes as a trace-set file: read from disk, parsed, and applied line by line to a
// small loaded program, then written back as the dialog saves it and read again.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "controller/controller.h"
#include "engine/eval.h"
#include "fuzz/work_dir.h"
#include "loader/reader.h"
#include "output/output.h"
#include "traceset/trace_set.h"

using namespace ruvalda;

namespace {

// Loaded once: the set is applied to the same program every time, its bits reset per input.
void load_program(Controller& controller) {
    static ReportRecorder recorder;
    EngineState& engine = controller.engine;
    engine.output.front_end = &recorder;
    const std::string path = ruvalda::fuzz::work_dir() + "/x.rvc";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fputs("ZED = 1\nA1 = ZED\nA = A1\nK05 = A\nX = D011 + K05\n", f);
        std::fclose(f);
    }
    controller.reader.macro.macro_path = ruvalda::fuzz::work_dir() + "/";
    if (!RVLoadFile(controller.reader, engine, path.c_str())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Controller controller;
    static const bool loaded = (load_program(controller), true);
    (void)loaded;
    EngineState& engine = controller.engine;
    for (const Variable& v : engine.variables) RVSetVariableTrace(engine, v.printed, 0);
    reset_output_state(engine.output);

    const std::string path = ruvalda::fuzz::work_dir() + "/x.rts";
    if (!write_trace_set_file(path, std::string(reinterpret_cast<const char*>(data), size)))
        std::abort();
    std::string text;
    if (!read_trace_set_file(path, &text) || text.size() != size) std::abort();

    int line_number = 0;
    for (const TraceSetLine& line : parse_trace_set(text)) {
        if (line.number != ++line_number || apply_trace_setting(engine, line) != line.ok)
            std::abort();
    }

    std::vector<TraceSetting> settings;
    for (const std::string& item : trace_items(engine))
        settings.push_back(
            {trace_item_name(item), RVGetVariableTrace(engine, trace_item_name(item).c_str())});
    const std::string saved = build_trace_set(settings);
    // What was saved loads back to the same bits, with every line well formed.
    for (const TraceSetLine& line : parse_trace_set(saved)) {
        if (!line.ok ||
            line.value != (RVGetVariableTrace(engine, line.name.c_str()) & TRACE_VALUE_BITS))
            std::abort();
    }
    reset_output_state(engine.output);
    return 0;
}
