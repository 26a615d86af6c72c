// The SUMO coupling without a window: the controller as a TCP client of SUMO or its bridge,
// over a plain socket, until the connection ends.
#pragma once

#include <functional>
#include <string>

#include "engine/eval.h"
#include "sumo/sumo_protocol.h"

namespace ruvalda::cli {

// Who else wants to hear of the run (the timeline): colours after the coupling took them,
// detectors after the engine did.
struct SumoClientObserver {
    std::function<void(int stream, char colour)> colour;
    std::function<void(int detector, int state)> detector;
};

// Connects to the "sumo://HOST[:PORT]" address, resets the program and answers the server
// until it closes the connection (0) or the coupling fails (1). The program is loaded.
int run_sumo_client(SumoLink& sumo_link, EngineState& engine, const std::string& address_argument,
                    const SumoClientObserver& observer = {});

}  // namespace ruvalda::cli
