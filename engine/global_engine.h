// The process's one controller and its parts under their old names, for the front ends that
// do not yet hold controllers of their own.
#pragma once

#include "controller/controller.h"

namespace ruvalda {

extern Controller process_controller;
extern EngineState& engine;
extern LsaState& lsa_state;
extern SumoLink& sumo_link;
extern StreamGlyphs& stream_glyphs;
extern SequenceDisplay& sequence_display;
extern SequenceModel& sequence_model;
extern ReaderState& reader_state;
extern ConflictMonitor& conflict_monitor;

}  // namespace ruvalda
