// Arbitrary text as a scenario file of vissim-standin.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "tools/vissim-standin/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    ruvalda::standin::Scenario scenario;
    std::string error;
    if (ruvalda::standin::read_scenario(in, &scenario, &error)) {
        // What the stand-in relies on.
        if (scenario.signal_groups.empty() || scenario.duration_millis < 0) __builtin_trap();
        for (std::size_t i = 1; i < scenario.events.size(); ++i)
            if (scenario.events[i - 1].millis > scenario.events[i].millis) __builtin_trap();
    } else if (error.rfind("line ", 0) != 0) {
        __builtin_trap();
    }
    return 0;
}
