#include "cli/vissim_host.h"

#include <cstdio>
#include <memory>

#include "engine/eval.h"
#include "output/output.h"
#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"
#ifdef _WIN32
#include "vissim/lsa_ddeml.h"
#else
#include "vissim/lsa_socket.h"
#endif

namespace ruvalda::cli {

namespace {

bool stop_serving(LsaState& lsa_state, const VissimHostOptions& o) {
    return lsa_state.main_window_destroyed || (o.ended && o.ended());
}

}  // namespace

int run_vissim_host(LsaState& lsa_state, EngineState& engine, const VissimHostOptions& o) {
    if (!o.comm_trace.empty()) {
        lsa_state.vissimTraceFile = std::fopen(o.comm_trace.c_str(), "w");
        if (!lsa_state.vissimTraceFile) {
            std::fprintf(stderr, "ruvalda-cli: cannot write %s\n", o.comm_trace.c_str());
            return 1;
        }
    }
    // From here on only the coupling's own reports and fatal errors are shown.
    engine.output.vissim_mode = true;
    lsa_state.fehl.lsa_nr2 = static_cast<unsigned long>(o.second);
    engine.colour_callback = [&lsa_state](int stream, char letter) {
        lsa_wish_colour(lsa_state, stream, letter);
    };
#ifdef _WIN32
    auto transport = std::make_unique<LsaDdemlServer>();
#else
    auto transport = std::make_unique<LsaSocketServer>();
#endif
    lsa_state.transport = transport.get();
    const bool registered = Init_LSAtoSIM(lsa_state, engine, o.controller);
    if (registered) {
        const std::string& service = lsa_state.service_name;
#ifdef _WIN32
        std::fprintf(stderr, "ruvalda-cli: serving DDE service %s\n", service.c_str());
        std::fflush(stderr);
        lsa_ddeml_message_loop([&lsa_state, &o] { return stop_serving(lsa_state, o); });
#else
        std::fprintf(stderr, "ruvalda-cli: serving %s at %s\n", service.c_str(),
                     transport->state().path.c_str());
        std::fflush(stderr);
        while (!stop_serving(lsa_state, o)) transport->poll_once(100);
#endif
        std::fprintf(stderr, "ruvalda-cli: %s after %llu control steps, engine time %d.%d s\n",
                     lsa_state.fehl.abort_flag ? "stopped" : "VISSIM disconnected",
                     static_cast<unsigned long long>(lsa_state.steps), RVGetTime(engine) / 10,
                     RVGetTime(engine) % 10);
    }
    lsa_state.transport = nullptr;
    if (lsa_state.vissimTraceFile) std::fclose(lsa_state.vissimTraceFile);
    lsa_state.vissimTraceFile = nullptr;
    const bool failed = !registered || lsa_state.fehl.abort_flag || (o.ended && o.ended());
    return failed ? 1 : 0;
}

}  // namespace ruvalda::cli
