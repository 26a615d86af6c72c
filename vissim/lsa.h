// VISSIM coupling: the conversation with VISSIM and the control step it drives.
//
// VISSIM connects to the service vavoziNN (topic "VISSIM"), pokes "Init" once and then, per
// simulation step, pokes "Rechnen" with detector data and requests "Wunschbild" for the wished
// signal pictures; its disconnect ends the program. Everything here runs on the thread that
// serves the transport, and reports through the coupling's own boxes (vissim/lsa_fehl.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "engine/eval.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"
#include "vissim/lsa_transport.h"

namespace ruvalda {

// What the coupling asks of the program around it; unset hooks do nothing.
struct LsaHost {
    // Lets pending window messages through in the middle of a control step.
    std::function<void()> process_messages;
    // Ticks or unticks the map's box of a program detector (complaining when it has none).
    std::function<void(int detector, int state)> set_detector_check_box;
    // Places the windows for a simulator run ("Init").
    std::function<void()> arrange_windows;
    // Destroys the main window, which ends the program.
    std::function<void()> destroy_main_window;
};

struct LsaState {
    LsaServerTransport* transport = nullptr;
    bool initialised = false;  // the transport took the callback
    std::string service_name;  // as registered
    LsaHsz service = 0;
    LsaHsz hsz_vissim = 0;
    LsaHsz hsz_datei_lesen = 0;
    LsaHsz hsz_init = 0;
    LsaHsz hsz_rechnen = 0;
    LsaHsz hsz_wunschbild = 0;
    LsaHsz hsz_visvsp = 0;
    LsaHsz hsz_parameter = 0;
    bool letzter_event_rechnen = false;  // "Rechnen" computed, "Wunschbild" not yet asked
    bool engine_reset_pending = false;   // set by "Init", consumed by the next control step
    bool step_in_progress = false;
    bool main_window_destroyed = false;
    std::FILE* vissimTraceFile = nullptr;  // communication trace while open (Debug menu)
    std::uint64_t steps = 0;               // control steps run
    LsaHost host;
    LsaPuffState puff;  // the buffers of the conversation
    LsaFehlState fehl;  // its texts, boxes and error file
};

// "vavozi" and the controller number with at least two digits; none for numbers outside
// 0..9999 (internal error).
std::optional<std::string> VAVOZI_String(LsaState& lsa_state, long lsa_number);

// Registers the service of this controller on lsa_state.transport, which the host sets first.
// False after a reported failure.
bool Init_LSAtoSIM(LsaState& lsa_state, EngineState& engine, long lsa_number);

// The transport's callback: one transaction of VISSIM's.
LsaAnswer DdeCallbackLSA(LsaState& lsa_state, EngineState& engine,
                         const LsaTransaction& transaction);

// One "Rechnen": detectors into the engine, the engine to VISSIM's time.
void SteuerungBerechnung(LsaState& lsa_state, EngineState& engine);

// A number of VISSIM's command line: its leading decimal digits, 0 when there are none (held at
// 999999999).
long lsa_argument_number(const std::string& argument);

// A stream's new colour ('G', 'R' or 'Y') as the wished picture of its signal group.
void lsa_wish_colour(LsaState& lsa_state, int stream, char letter);

// The engine's target for a simulation time in seconds: whole tenths.
std::int32_t lsa_target_tenths(float seconds);

}  // namespace ruvalda
