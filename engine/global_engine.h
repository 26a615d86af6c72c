// The one engine of the process, for the code that does not yet pass its controller's engine.
#pragma once

#include "app/sumo_protocol.h"
#include "engine/eval.h"
#include "engine/monitor.h"
#include "loader/reader.h"
#include "sequence/sequence_display.h"
#include "sequence/sequence_glyphs.h"
#include "sequence/sequence_model.h"
#include "vissim/lsa.h"

namespace ruvalda {

extern EngineState engine;
extern LsaState lsa_state;
extern SumoLink sumo_link;
extern StreamGlyphs stream_glyphs;
extern SequenceDisplay sequence_display;
extern SequenceModel sequence_model;
extern ReaderState reader_state;
extern ConflictMonitor conflict_monitor;

}  // namespace ruvalda
