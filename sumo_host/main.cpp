// ruvalda-sumo: SUMO and the control programs of many junctions in one process.
//
//   ruvalda-sumo CONFIG.json [--end S] [--summary FILE] [--monitor] [--trace TLS=FILE]...
//                [--timeline TLS=FILE]... [--from S] [--to S]
//
// CONFIG.json is a configuration of tools/sumo-bridge whose junctions name their programs.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sumo_host/host.h"

namespace ruvalda::sumo_host {
namespace {

constexpr const char* USAGE =
    "usage: ruvalda-sumo CONFIG.json [--end S] [--summary FILE] [--monitor]\n"
    "                    [--trace TLS=FILE]... [--timeline TLS=FILE]... [--from S] [--to S]\n"
    "\n"
    "Runs SUMO (libsumo) and one controller per junction of a sumo-bridge configuration whose\n"
    "junctions name their \"program\", step by step as the bridge and ruvalda-cli sumo do.\n"
    "  --end S             stop after S simulated seconds (else when no vehicle is left to come)\n"
    "  --summary FILE      write the bridge's JSON summary to FILE\n"
    "  --monitor           watch every program's greens against its clearance matrix\n"
    "  --trace TLS=FILE    the engine trace file of junction TLS, as ruvalda-cli --trace\n"
    "  --timeline TLS=FILE the signal timeline (SVG) of junction TLS; --from S and --to S\n"
    "                      give its window\n"
    "Exit status: 0 complete run, 1 configuration or option errors, 2 a controller or SUMO\n"
    "stopped the run, 3 complete but foe links were both G (or --monitor saw a violation).\n";

struct UsageError {
    std::string message;
};

double parse_end(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(seconds) || seconds < 0)
        throw UsageError{"--end takes a number of simulated seconds, not \"" + text + "\""};
    return seconds;
}

// Seconds with at most one decimal, as ruvalda-cli takes --from and --to; tenths.
std::int32_t parse_tenths(const std::string& text, const std::string& option) {
    constexpr std::size_t MOST_DIGITS = 8;
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string tenth = dot == std::string::npos ? "" : text.substr(dot + 1);
    const bool good = !whole.empty() && whole.size() <= MOST_DIGITS && tenth.size() <= 1 &&
                      whole.find_first_not_of("0123456789") == std::string::npos &&
                      tenth.find_first_not_of("0123456789") == std::string::npos &&
                      (dot == std::string::npos || !tenth.empty());
    if (!good) throw UsageError{option + " takes a number of seconds with at most one decimal"};
    return std::stoi(whole) * 10 + (tenth.empty() ? 0 : tenth[0] - '0');
}

void add_per_junction(std::map<std::string, std::string>& files, const std::string& option,
                      const std::string& setting) {
    const std::size_t eq = setting.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == setting.size())
        throw UsageError{option + " takes TLS=FILE, as in C=c.trace"};
    if (!files.emplace(setting.substr(0, eq), setting.substr(eq + 1)).second)
        throw UsageError{option + " given twice for junction " + setting.substr(0, eq)};
}

std::string program_dir() {
    std::error_code error;
    const auto exe = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::string(".") : exe.parent_path().string();
}

HostOptions parse_options(int argc, char** argv) {
    HostOptions o;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> positional;
    bool window = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
            return args[++i];
        };
        if (a == "--end") {
            o.end_seconds = parse_end(value());
        } else if (a == "--summary") {
            o.summary_file = value();
        } else if (a == "--monitor") {
            o.monitor = true;
        } else if (a == "--trace") {
            add_per_junction(o.trace_files, a, value());
        } else if (a == "--timeline") {
            add_per_junction(o.timeline_files, a, value());
        } else if (a == "--from") {
            o.timeline_from = parse_tenths(value(), a);
            window = true;
        } else if (a == "--to") {
            o.timeline_to = parse_tenths(value(), a);
            window = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError{"unknown option \"" + a + "\""};
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 1) throw UsageError{"needs one CONFIG.json"};
    if (window && o.timeline_files.empty()) throw UsageError{"--from and --to go with --timeline"};
    o.config_file = positional[0];
    o.macro_dir = program_dir();
    return o;
}

}  // namespace
}  // namespace ruvalda::sumo_host

int main(int argc, char** argv) {
    using namespace ruvalda::sumo_host;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return EXIT_COMPLETE;
    }
    try {
        return run_host(parse_options(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ruvalda-sumo: %s (see ruvalda-sumo --help)\n", e.message.c_str());
        return EXIT_CONFIGURATION;
    }
}
