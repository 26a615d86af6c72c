// Arbitrary bytes as a detector-event file and as a trace file to replay.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "loader/detector_events.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream events_in(text), colours_in(text);
    std::vector<ruvalda::DetectorEvent> events;
    std::int32_t last = 0;
    std::string error;
    bool ok = ruvalda::read_detector_events(events_in, &events, &last, &error);
    if (!ok && error.empty()) __builtin_trap();  // a refusal always says why
    for (const auto& e : events)
        if (e.detector < 0 || e.detector > 999 || (e.state != 0 && e.state != 1) || e.time > last)
            __builtin_trap();
    ruvalda::colour_lines(colours_in);
    return 0;
}
