// The VISSIM coupling without a window: the controller serves VISSIM's conversation (a local
// socket on Linux, DDEML on Windows) until VISSIM disconnects.
#pragma once

#include <functional>
#include <string>

#include "engine/eval.h"
#include "vissim/lsa.h"

namespace ruvalda::cli {

struct VissimHostOptions {
    long controller = 0;          // first VISSIM argument: names the service and the error file
    long second = 0;              // second VISSIM argument: first line of the error file
    std::string comm_trace;       // the VISSIM communication trace, when given
    std::function<bool()> ended;  // a fatal report asked the program to end
};

// Registers the service and serves until the disconnect (0) or until a report of the coupling
// or a fatal one ended it (1). The program is loaded.
int run_vissim_host(LsaState& lsa_state, EngineState& engine, const VissimHostOptions& options);

}  // namespace ruvalda::cli
