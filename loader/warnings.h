// Warnings after a load: what the load accepts but an engineer most likely did not mean. Each
// names its place as a compiler would, "FILE(LINE): warning: TEXT".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/eval.h"
#include "loader/reader.h"

namespace ruvalda {

struct Warning {
    std::string file;
    int line = 0;
    std::string text;
};

// The warnings about the program the last RVLoadFile of `path` loaded, in the order of the
// checks: names, the declaration block, the detector translation file.
std::vector<Warning> program_warnings(ReaderState& reader_state, EngineState& engine,
                                      const std::string& path);

std::string warning_line(const Warning& warning);

// The detectors the program's rules read that its detector translation file maps to a
// simulator detector, and those it does not; for the warnings of a simulator coupling.
struct DetectorMapping {
    int read = 0;
    int mapped = 0;
};
DetectorMapping detector_mapping(EngineState& engine);
// At the start of a simulator coupling: a warning when rules read detectors but the program's
// detector translation file (missing or mapping none of them) lets no simulator detector reach
// them; none otherwise.
std::vector<Warning> coupling_warnings(EngineState& engine, const std::string& path);
// At its end: how many detector lines the simulator sent for numbers the file does not map.
std::string untranslated_lines_note(std::uint64_t lines, const std::string& path);

}  // namespace ruvalda
