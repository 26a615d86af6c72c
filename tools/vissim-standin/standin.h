// VISSIM's side of the coupling, played from a scenario: connect, "Init", then per simulation
// step a "Rechnen" buffer with the time, the signal groups' pictures and the detectors, and a
// "Wunschbild" request whose answer is checked and whose wished pictures are shown and applied.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/vissim-standin/scenario.h"
#include "vissim/lsa_transport.h"

namespace ruvalda::standin {

struct StandinOptions {
    int connect_timeout_ms = 10000;
    std::FILE* wishes = stdout;  // one line per wished picture; nullptr: none
};

struct StandinResult {
    bool ok = false;
    std::string error;  // what went wrong, naming the step
    std::int64_t steps = 0;
    std::int64_t wishes = 0;
    double seconds = 0.0;  // wall time of the steps
};

StandinResult run_standin(LsaClientTransport& transport, const Scenario& scenario,
                          const StandinOptions& options);

// The name of a VISSIM picture code as the stand-in prints it.
const char* picture_name(std::int32_t code);

}  // namespace ruvalda::standin
