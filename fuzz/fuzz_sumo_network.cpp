// Arbitrary bytes as the SUMO files ruvalda-sumo reads before SUMO runs: one file that is the
// SUMO configuration, its network and its additional file at once.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/work_dir.h"
#include "sumo_files/network.h"
#include "sumo_files/xml_tags.h"

using namespace ruvalda::sumo_host;

namespace {

template <typename Read>
void refused_or_read(Read read) {
    try {
        read();
    } catch (const ConfigError& e) {
        if (e.message.empty()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        int depth = 0;
        scan_xml_tags(text, [&depth](const XmlTag& tag) {
            if (tag.line < 1) std::abort();
            if (!tag.empty) depth += tag.closing ? -1 : 1;
            if (depth < 0) std::abort();  // a closing tag without its opening one
        });
    } catch (const XmlError& e) {
        if (e.what.empty()) std::abort();
    }

    const std::string path = ruvalda::fuzz::work_dir() + "/s.sumocfg";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    refused_or_read([&] { net_file_of(path); });
    refused_or_read([&] { loops_of(path); });
    refused_or_read([&] {
        for (const auto& [id, light] : read_traffic_lights(path, {"A", "B", "J1"})) {
            for (const auto& [a, b] : light.foes)
                if (a >= b || a < 0 || b >= light.links) std::abort();
        }
    });
    return 0;
}
