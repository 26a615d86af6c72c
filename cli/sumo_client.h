// The SUMO coupling without a window: the controller as a TCP client of SUMO or its bridge,
// over a plain socket, until the connection ends.
#pragma once

#include <string>

namespace ruvalda::cli {

// Connects to the "sumo://HOST[:PORT]" address, resets the program and answers the server
// until it closes the connection (0) or the coupling fails (1). The program is loaded.
int run_sumo_client(const std::string& address_argument);

}  // namespace ruvalda::cli
