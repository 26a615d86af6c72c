#include "sumo/sumo_protocol.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "engine/eval.h"
#include "output/output.h"

namespace ruvalda {

void reset_sumo_link(SumoLink& sumo_link) {
    sumo_link = SumoLink{};
}

bool parse_sumo_address(const std::string& argument, SumoAddress* address) {
    const std::string text = argument.substr(argument.compare(0, 7, "sumo://") == 0 ? 7 : 0);
    const std::size_t colon = text.find(':');
    address->host = text.substr(0, colon);
    address->port = SUMO_DEFAULT_PORT;
    if (colon == std::string::npos) return true;
    // A decimal number must follow the ":" (what comes after its digits does not count).
    const char* digits = text.c_str() + colon + 1;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
    char* end = nullptr;
    const long port = std::strtol(digits, &end, 10);
    if (port > 65535) return false;
    address->port = static_cast<int>(port);
    return true;
}

void record_sumo_colour(SumoLink& sumo_link, int stream, char letter) {
    if (!is_stream(stream)) return;
    sumo_link.colour[static_cast<std::size_t>(stream)] = letter;
}

std::string lights_message(SumoLink& sumo_link, EngineState& engine) {
    std::string message = "lights ";
    for (int stream = FIRST_STREAM; stream <= LAST_STREAM; ++stream) {
        if (!(engine.stream_flags[stream] & SF_EXISTS)) continue;
        const char letter = sumo_link.colour[static_cast<std::size_t>(stream)];
        // Red until the program says otherwise: the safe state of a signal.
        message.push_back(letter == 'G' ? 'g' : letter == 'Y' ? 'y' : 'r');
    }
    message.append("\r\n");
    return message;
}

void sumo_receive(SumoLink& sumo_link, const char* data, std::size_t size) {
    sumo_link.received.append(data, size);
}

namespace {

// The next whole line, without its end; false when none is complete.
bool take_line(SumoLink& sumo_link, std::string* line) {
    const std::size_t end = sumo_link.received.find('\n');
    if (end == std::string::npos) return false;
    line->assign(sumo_link.received, 0, end);
    sumo_link.received.erase(0, end + 1);
    // Trailing blanks and control characters (the CR of CR LF among them) do not count.
    while (!line->empty() && static_cast<unsigned char>(line->back()) <= ' ') line->pop_back();
    return true;
}

SumoPass disconnect(EngineState& engine, const char* format, const std::string& line) {
    traceprintf(engine.output, format, line.c_str());
    return SumoPass::Disconnect;
}

}  // namespace

bool WriteToSumo(EngineState& engine, const SumoPort& port, const std::string& message) {
    std::string error;
    if (port.write && port.write(message, &error)) return true;
    report_error(engine.output, ERROR, "WriteToSumo", "Could not write message \"%s\"to server: %s",
                 message.c_str(), error.c_str());
    engine.output.end_requested = true;
    return false;
}

bool SendLightsToSumo(SumoLink& sumo_link, EngineState& engine, const SumoPort& port) {
    const bool written = WriteToSumo(engine, port, lights_message(sumo_link, engine));
    trim_messages(engine.output);
    return written;
}

void sumo_detector_change(SumoLink& sumo_link, EngineState& engine, const SumoPort& port,
                          int number, int state) {
    const int detector = RVTranslateDetector(engine, number);
    if (detector == 0) {  // not one of this junction's detectors
        ++sumo_link.untranslated_detector_lines;
        return;
    }
    SetDetectorState(engine, detector, state);
    if (port.show_detector) port.show_detector(detector, state);
    traceprintf(engine.output, "Made detector %d -> %d %s.\n", number, detector,
                state ? "active" : "inactive");
}

bool sumo_step(SumoLink& sumo_link, EngineState& engine, const SumoPort& port) {
    RVRunUntil(engine, RVGetTime(engine) + 1);
    return SendLightsToSumo(sumo_link, engine, port);
}

SumoPass sumo_polling_pass(SumoLink& sumo_link, EngineState& engine, const SumoPort& port) {
    std::string line;
    for (;;) {
        if (!take_line(sumo_link, &line)) {
            // A "line" that never ends is not the protocol.
            if (sumo_link.received.size() > SUMO_LINE_LIMIT)
                return disconnect(engine,
                                  "Sumo sent a line of more than %s characters; disconnecting\n",
                                  std::to_string(SUMO_LINE_LIMIT));
            return SumoPass::Waiting;
        }
        if (line.empty()) return SumoPass::Waiting;
        if (line == "step")
            return sumo_step(sumo_link, engine, port) ? SumoPass::Stepped : SumoPass::Disconnect;
        if (line.compare(0, 9, "detector ") != 0)
            return disconnect(engine, "Sumo sent unknown command (\"%s\"); disconnecting\n", line);

        char* end = nullptr;
        const char* digits = line.c_str() + 9;
        long number = std::strtol(digits, &end, 10);
        if (end == digits || number < -1000000000 || number > 1000000000) number = -1;
        int state = 0;
        if (line.find("occupied") != std::string::npos)
            state = 1;
        else if (line.find("free") == std::string::npos)
            return disconnect(engine, "%sSumo sent unknown ocuupancy state; disconnecting\n", "");
        sumo_detector_change(sumo_link, engine, port, static_cast<int>(number), state);
    }
}

}  // namespace ruvalda
