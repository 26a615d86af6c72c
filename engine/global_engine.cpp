#include "engine/global_engine.h"

namespace ruvalda {

EngineState engine;
LsaState lsa_state;
SumoLink sumo_link;
StreamGlyphs stream_glyphs;
SequenceDisplay sequence_display;
SequenceModel sequence_model;
ReaderState reader_state;
ConflictMonitor conflict_monitor;

}  // namespace ruvalda
