// The SUMO line protocol, without a socket: the colour table fed by the engine, the lights
// line, splitting the received bytes into lines, and the polling pass that turns "detector"
// and "step" lines into engine operations. The desktop and ruvalda-cli drive it over their own
// sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/eval.h"
#include "engine/streams.h"

namespace ruvalda {

constexpr int SUMO_DEFAULT_PORT = 12345;
// A line longer than this is not a line of the protocol; the connection ends.
constexpr std::size_t SUMO_LINE_LIMIT = 65536;

struct SumoLink {
    std::array<char, STREAM_COUNT> colour{};  // last colour letter per stream; 0: none yet
    std::string received;                     // bytes not yet making a whole line
    std::string connect_phase;                // "(connecting to HOST:PORT)" while connecting
    // Detector lines for numbers the .DTL does not translate: an empty or missing .DTL leaves
    // the program blind, which the end of the run tells.
    std::uint64_t untranslated_detector_lines = 0;
};

void reset_sumo_link(SumoLink& sumo_link);

// A SUMO address "sumo://HOST[:PORT]". False when the text after ":" is not a port number.
struct SumoAddress {
    std::string host;
    int port = SUMO_DEFAULT_PORT;
};
bool parse_sumo_address(const std::string& argument, SumoAddress* address);

// The engine's colour callback in SUMO mode: remembers the stream's letter.
void record_sumo_colour(SumoLink& sumo_link, int stream, char letter);

// "lights " and a lower-case letter per existing stream, then CR LF. A stream without a colour
// yet is sent as red.
std::string lights_message(SumoLink& sumo_link, EngineState& engine);

// Bytes from the server.
void sumo_receive(SumoLink& sumo_link, const char* data, std::size_t size);

// What a polling pass ended with.
enum class SumoPass {
    Waiting,     // no whole line left: wait for more
    Stepped,     // one step taken and answered; lines behind it wait for the next pass
    Disconnect,  // the server sent nonsense (told in the pane), or writing failed
};

// What the pass needs of its front end.
struct SumoPort {
    // Writes the text at once; false when writing failed (the pass reports it).
    std::function<bool(const std::string& text, std::string* error)> write;
    // Shows a detector's new state on the map (the desktop); may be empty.
    std::function<void(int detector, int state)> show_detector;
};

// Writes a message; a failure is reported ("WriteToSumo") and asks the application to end.
bool WriteToSumo(EngineState& engine, const SumoPort& port, const std::string& message);
// The lights line, then the pane is trimmed.
bool SendLightsToSumo(SumoLink& sumo_link, EngineState& engine, const SumoPort& port);

// The steps of the protocol without its text, for a host that runs SUMO in its own process.
// A simulator detector (the left column of the .DTL) turned occupied (1) or free (0); a number
// the program does not translate is passed over, and counted.
void sumo_detector_change(SumoLink& sumo_link, EngineState& engine, const SumoPort& port,
                          int number, int state);
// One step of a tenth of a second, answered with the lights line; false when writing failed.
bool sumo_step(SumoLink& sumo_link, EngineState& engine, const SumoPort& port);

// One polling pass over the received lines: detector lines until a step (taken and answered),
// an empty line, no whole line, or a line that ends the connection.
SumoPass sumo_polling_pass(SumoLink& sumo_link, EngineState& engine, const SumoPort& port);

}  // namespace ruvalda
