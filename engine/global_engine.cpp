#include "engine/global_engine.h"

namespace ruvalda {

Controller process_controller;
EngineState& engine = process_controller.engine;
LsaState& lsa_state = process_controller.lsa;
SumoLink& sumo_link = process_controller.sumo_link;
StreamGlyphs& stream_glyphs = process_controller.stream_glyphs;
SequenceDisplay& sequence_display = process_controller.sequence_display;
SequenceModel& sequence_model = process_controller.sequence_model;
ReaderState& reader_state = process_controller.reader;
ConflictMonitor& conflict_monitor = process_controller.monitor;

}  // namespace ruvalda
