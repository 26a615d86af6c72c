// One junction's controller: everything the engine, the loader, the conflict monitor, the
// sequence display and the couplings keep of it. The operations of each part take that part
// (and the engine, when they need it); a front end or a test holds as many controllers as it
// runs junctions.
#pragma once

#include "engine/eval.h"
#include "engine/monitor.h"
#include "loader/reader.h"
#include "map/map_model.h"
#include "map/stream_glyphs.h"
#include "sequence/sequence_display.h"
#include "sequence/sequence_model.h"
#include "sumo/sumo_protocol.h"
#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"

namespace ruvalda {

struct Controller {
    Controller() { engine.monitor = &monitor; }
    ~Controller() {
        close_reader_files(reader, engine);
        close_engine_files(engine);
        close_error_file(lsa);
    }
    // The engine points at the monitor: a controller stays where it was made.
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    EngineState engine;  // variables, rules, time, trace file; the pane and its front end
    ReaderState reader;  // the control file being read
    ConflictMonitor monitor;
    SequenceModel sequence_model;
    SequenceDisplay sequence_display;
    StreamGlyphs stream_glyphs;  // where the map shows each stream's light and boxes
    MapModel map;                // the junction's drawing
    SumoLink sumo_link;          // the line protocol to a SUMO bridge
    LsaState lsa;                // the conversation with VISSIM
};

// A controller's parts under the names its operations give them, for code that works on one
// junction throughout (a window, a test).
struct ControllerParts {
    explicit ControllerParts(Controller& junction) : controller(junction) {}
    Controller& controller;
    EngineState& engine = controller.engine;
    ReaderState& reader_state = controller.reader;
    ConflictMonitor& conflict_monitor = controller.monitor;
    SequenceModel& sequence_model = controller.sequence_model;
    SequenceDisplay& sequence_display = controller.sequence_display;
    StreamGlyphs& stream_glyphs = controller.stream_glyphs;
    SumoLink& sumo_link = controller.sumo_link;
    LsaState& lsa_state = controller.lsa;
    MapModel& map_model = controller.map;
};

}  // namespace ruvalda
