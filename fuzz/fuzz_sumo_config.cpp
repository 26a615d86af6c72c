// Arbitrary bytes as ruvalda-sumo's configuration, which is also its own junctions' mapping
// file (a JSON object may hold both), and as JSON that is printed and read back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sumo_host/config.h"
#include "sumo_host/json.h"

using namespace ruvalda::sumo_host;

namespace {

const std::string& work_dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/ruvalda-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

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

    const std::string path = work_dir() + "/c.json";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    try {
        const HostConfig config = load_config(path);
        if (config.junctions.empty() || sumo_command(config).empty()) std::abort();
    } catch (const ConfigError& e) {
        // Names the file it refuses: the configuration or a mapping beside it.
        if (e.message.find(work_dir()) == std::string::npos) std::abort();
    }
    return 0;
}
