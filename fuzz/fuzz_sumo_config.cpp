// Arbitrary bytes as ruvalda-sumo's configuration, which is also its own junctions' mapping
// file (a JSON object may hold both), and as JSON that is printed and read back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/work_dir.h"
#include "sumo_files/config.h"
#include "sumo_files/json.h"

using namespace ruvalda::sumo_host;

namespace {

// What the summary writer prints reads back as the same value and prints the same again.
void check_round_trip(std::string_view text) {
    Json value;
    try {
        value = parse_json(text);
    } catch (const JsonError&) {
        return;
    }
    const std::string printed = dump_json(value);
    try {
        if (dump_json(parse_json(printed)) != printed) std::abort();
    } catch (const JsonError&) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_round_trip(text);

    const std::string path = ruvalda::fuzz::work_dir() + "/c.json";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    try {
        const HostConfig config = load_config(path);
        if (config.junctions.empty() || sumo_command(config).empty()) std::abort();
    } catch (const ConfigError& e) {
        // Names the file it refuses: the configuration or a mapping beside it.
        if (e.message.find(ruvalda::fuzz::work_dir()) == std::string::npos) std::abort();
    }
    return 0;
}
