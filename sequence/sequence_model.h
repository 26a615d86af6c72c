// The sequence section of a control file: conflict groups and, per block of the sequence, the
// stream each group serves. Read while the control file loads; drawn by the map window.
#pragma once

#include <cstdio>

#include "engine/eval.h"
#include "engine/streams.h"

namespace ruvalda {

constexpr int MAXGROUP = 200;
constexpr int MAXBLOCKS = 10;
constexpr int MAXSTREAM = STREAM_COUNT;

struct SequenceModel {
    int MaxCFCount = 0;
    int ConflictGroupSize = 0;
    int ConflictGroups[MAXGROUP][MAXBLOCKS] = {};
    int current_block = -1;
};

// The loader's sequence handler: reads the section from the open control file, counting the
// lines it reads in *line_number; sets it to -1 when the rest of the file is not to be read.
void ReadSequenceSection(SequenceModel& sequence_model, EngineState& engine, std::FILE* file,
                         int* line_number);
// The loader's handler of a sequence section, reading it into `model`.
inline auto sequence_reader(SequenceModel& model) {
    return [&model](EngineState& engine, std::FILE* file, int* line_number) {
        ReadSequenceSection(model, engine, file, line_number);
    };
}

}  // namespace ruvalda
