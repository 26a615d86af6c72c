// vissim-standin: plays VISSIM's part of the coupling from a scenario file, for users without
// VISSIM and for the tests. Prints each wished picture as "TIME<tab>GROUP<tab>CODE NAME".
//
//   vissim-standin [--controller N] [--duration S] [--quiet] [--connect-timeout S] SCENARIO
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/vissim-standin/scenario.h"
#include "tools/vissim-standin/standin.h"
#ifdef _WIN32
#include "vissim/lsa_ddeml.h"
#else
#include "vissim/lsa_socket.h"
#endif

namespace {

constexpr const char* USAGE =
    "usage: vissim-standin [--controller N] [--duration S] [--quiet] [--connect-timeout S] "
    "SCENARIO\n";

int usage(const std::string& why) {
    std::fprintf(stderr, "vissim-standin: %s\n%s", why.c_str(), USAGE);
    return 2;
}

bool number(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ruvalda;
    using namespace ruvalda::standin;
    std::string file;
    long controller = -1;
    long duration = -1;
    long timeout = 10;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--controller" && has_value) {
            if (!number(argv[++i], 0, 9999, &controller))
                return usage("--controller takes 0..9999");
        } else if (a == "--duration" && has_value) {
            if (!number(argv[++i], 0, SCENARIO_MAX_SECONDS, &duration))
                return usage("--duration takes whole seconds");
        } else if (a == "--connect-timeout" && has_value) {
            if (!number(argv[++i], 0, 3600, &timeout))
                return usage("--connect-timeout takes seconds");
        } else if (!a.empty() && a[0] == '-') {
            return usage("unknown option " + a);
        } else if (file.empty()) {
            file = a;
        } else {
            return usage("one scenario file only");
        }
    }
    if (file.empty()) return usage("no scenario file");
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "vissim-standin: cannot open %s: %s\n", file.c_str(),
                     std::strerror(errno));
        return 1;
    }
    Scenario scenario;
    std::string error;
    if (!read_scenario(in, &scenario, &error)) {
        std::fprintf(stderr, "vissim-standin: %s:%s\n", file.c_str(), error.substr(5).c_str());
        return 1;
    }
    if (controller >= 0) scenario.controller = controller;
    if (duration >= 0) scenario.duration_millis = duration * 1000LL;
    StandinOptions options;
    options.connect_timeout_ms = static_cast<int>(timeout * 1000);
    options.wishes = quiet ? nullptr : stdout;
#ifdef _WIN32
    LsaDdemlClient transport;
#else
    LsaSocketClient transport;
#endif
    const StandinResult r = run_standin(transport, scenario, options);
    std::fflush(stdout);
    if (!r.ok) {
        std::fprintf(stderr, "vissim-standin: %s\n", r.error.c_str());
        return 1;
    }
    std::fprintf(
        stderr,
        "vissim-standin: %lld steps (%.1f s simulated) in %.2f s, %.0f poke+request pairs/s, "
        "%lld wished pictures\n",
        static_cast<long long>(r.steps), static_cast<double>(r.steps) / scenario.resolution,
        r.seconds, r.seconds > 0 ? static_cast<double>(r.steps) / r.seconds : 0.0,
        static_cast<long long>(r.wishes));
    return 0;
}
