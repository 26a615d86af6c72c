// Poke+request pairs per second of the VISSIM coupling over the local socket, with the
// crossing example: the controller (ruvalda-cli vissim, a child process) serves, this process
// plays VISSIM. Each pair is one "Rechnen" of 0.2 s with the rush-hour detectors and its
// "Wunschbild".
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "vissim/lsa_puff.h"
#include "vissim/lsa_socket.h"

namespace ruvalda::bench {
namespace {

const std::string SOURCE = RUVALDA_SOURCE_DIR;
const std::string CROSSING = SOURCE + "/examples/crossing/crossing.rvc";

// One "Rechnen" buffer per step: the crossing's 16 signal groups, its 18 detectors alternating
// between busy and free every few seconds, the time.
std::vector<std::uint8_t> rechnen(std::int64_t step) {
    static const int groups[] = {1, 2, 4, 5, 7, 8, 10, 11, 31, 32, 33, 34, 35, 36, 37, 38};
    static const int detectors[] = {1011, 1012, 1021, 1041, 1051, 1071, 1072, 1081, 1101,
                                    1111, 1311, 1321, 1331, 1341, 1351, 1361, 1371, 1381};
    std::vector<std::uint8_t> b;
    for (int g : groups) {
        lsa_append_value(b, 2001);
        lsa_append_value(b, g);
        lsa_append_value(b, 2);
    }
    for (int d : detectors) {
        const int on = ((step / 15 + d) % 3) == 0 ? 1 : 0;
        for (int c : {3001, 3011, 3031}) {
            lsa_append_value(b, c);
            lsa_append_value(b, d);
            lsa_append_value(b, c == 3031 ? on * 100 : on);
        }
    }
    lsa_append_value(b, 9101);
    lsa_append_value(b, 0);
    lsa_append_value(b, static_cast<std::int32_t>(step));
    lsa_append_value(b, 999);
    return b;
}

void BM_VissimPairsOverLocalSocket(benchmark::State& state) {
    char pattern[] = "/tmp/rv-bench-XXXXXX";
    const std::string runtime = ::mkdtemp(pattern);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        ::execl(RUVALDA_CLI, RUVALDA_CLI, "vissim", "7", "1", CROSSING.c_str(), nullptr);
        ::_exit(127);
    }
    LsaSocketClient vissim;
    if (!vissim.connect("vavozi07", "VISSIM", 10000)) {
        state.SkipWithError(vissim.last_error().c_str());
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        return;
    }
    std::vector<std::uint8_t> init;
    lsa_append_value(init, 999);
    vissim.poke("Init", init);
    std::int64_t step = 0;
    std::vector<std::uint8_t> reply;
    for (auto _ : state) {
        const bool ok = vissim.poke("Rechnen", rechnen(++step)) == LsaPokeResult::Acknowledged &&
                        vissim.request("Wunschbild", &reply);
        if (!ok) {
            state.SkipWithError(vissim.last_error().c_str());
            break;
        }
    }
    vissim.disconnect();
    ::waitpid(child, nullptr, 0);
    ::rmdir(runtime.c_str());
    state.SetItemsProcessed(state.iterations());
    state.counters["simulated_s"] = static_cast<double>(step) / 5.0;
}
BENCHMARK(BM_VissimPairsOverLocalSocket)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20000)
    ->UseRealTime();

}  // namespace
}  // namespace ruvalda::bench

BENCHMARK_MAIN();
