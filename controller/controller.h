// One junction's controller: everything the engine, the loader, the conflict monitor, the
// sequence display and the couplings keep of it. The operations of each part take that part
// (and the engine, when they need it); a front end or a test holds as many controllers as it
// runs junctions.
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

struct Controller {
    EngineState engine;  // variables, rules, time, trace file; the pane and its front end
    ReaderState reader;  // the control file being read
    ConflictMonitor monitor;
    SequenceModel sequence_model;
    SequenceDisplay sequence_display;
    StreamGlyphs stream_glyphs;
    SumoLink sumo_link;  // the line protocol to a SUMO bridge
    LsaState lsa;        // the conversation with VISSIM
};

}  // namespace ruvalda
