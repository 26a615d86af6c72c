// The Windows build of ruvalda-cli serves VISSIM; SUMO and its bridge run on Linux.
#include "cli/sumo_client.h"
#include "engine/eval.h"
#include "output/output.h"

namespace ruvalda::cli {

int run_sumo_client(SumoLink&, EngineState& engine, const std::string& address_argument,
                    const SumoClientObserver&) {
    report_error(engine.output, ERROR, "ruvalda-cli sumo",
                 "The SUMO coupling is not in the Windows build of ruvalda-cli (asked for %s); "
                 "use the Linux build.",
                 address_argument.c_str());
    return 1;
}

}  // namespace ruvalda::cli
