// Arbitrary control files with a macro file and the .DTL, .STL and .adj side files: the input
// is split at lines "@@" into the control file, m.mac, the .DTL, the .STL and the .adj file;
// the program is loaded, its warnings are made, and it is reset and stepped.
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
#include "loader/warnings.h"
#include "output/output.h"
#include "sequence/sequence_model.h"

using namespace ruvalda;

namespace {

std::vector<std::string> split_parts(const std::uint8_t* data, std::size_t size) {
    std::string all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() < 4) {
        std::size_t mark = all.find("\n@@\n", start);
        if (mark == std::string::npos) break;
        parts.push_back(all.substr(start, mark - start + 1));
        start = mark + 4;
    }
    parts.push_back(all.substr(start));
    parts.resize(5);
    return parts;
}

void write_or_remove(const std::string& path, const std::string& text, bool present) {
    if (!present) {
        std::remove(path.c_str());
        return;
    }
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReportRecorder recorder;
    Controller controller;
    EngineState& engine = controller.engine;
    ReaderState& reader_state = controller.reader;
    engine.output.front_end = &recorder;

    std::vector<std::string> parts = split_parts(data, size);
    const std::string base = ruvalda::fuzz::work_dir() + "/x";
    write_or_remove(base + ".rvc", parts[0], true);
    write_or_remove(ruvalda::fuzz::work_dir() + "/m.mac", parts[1], !parts[1].empty());
    write_or_remove(base + ".DTL", parts[2], !parts[2].empty());
    write_or_remove(base + ".STL", parts[3], !parts[3].empty());

    reader_state.macro.macro_path = ruvalda::fuzz::work_dir() + "/";
    reader_state.sequence_handler = sequence_reader(controller.sequence_model);
    if (RVLoadFile(reader_state, engine, (base + ".rvc").c_str())) {
        for (const Warning& w : program_warnings(reader_state, engine, base + ".rvc"))
            if (warning_line(w).find('\n') != std::string::npos) std::abort();  // one line each
        write_or_remove(base + ".adj", parts[4], !parts[4].empty());
        RVInitialize(engine);
        RVRunUntil(engine, 5);
        SetDetectorState(engine, RVTranslateDetector(engine, static_cast<int>(size % 200)), 1);
        RVRunUntil(engine, 30);
        RVDumpVars(
            engine, [](const char*) { return true; }, true);
    }
    return 0;
}
