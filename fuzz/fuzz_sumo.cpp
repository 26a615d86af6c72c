// Arbitrary bytes from a SUMO server, in arbitrary pieces, through the controller's polling
// passes on a small loaded program with a detector translation.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controller/controller.h"
#include "engine/eval.h"
#include "loader/reader.h"
#include "output/output.h"
#include "sumo/sumo_protocol.h"

using namespace ruvalda;

namespace {

// Loaded once: every input is a new line conversation with the same program.
void load_program(Controller& controller) {
    static ReportRecorder recorder;
    EngineState& engine = controller.engine;
    engine.output.front_end = &recorder;
    char pattern[] = "/tmp/ruvalda-fuzz-sumo-XXXXXX";
    const std::string dir = ::mkdtemp(pattern) ? pattern : "/tmp";
    auto put = [&](const char* name, const char* text) {
        if (std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb")) {
            std::fputs(text, f);
            std::fclose(f);
        }
    };
    put("x.rvc", "G01 = D011\nG02 = D021 + G01\nY05 = G02\n");
    put("x.DTL", "7 11\n12 21\n");
    controller.reader.macro.macro_path = dir + "/";
    if (!RVLoadFile(controller.reader, engine, (dir + "/x.rvc").c_str())) std::abort();
    engine.colour_callback = [&controller](int stream, char letter) {
        record_sumo_colour(controller.sumo_link, stream, letter);
    };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Controller controller;
    static const bool loaded = (load_program(controller), true);
    (void)loaded;
    EngineState& engine = controller.engine;
    SumoLink& sumo_link = controller.sumo_link;
    reset_sumo_link(sumo_link);
    reset_output_state(engine.output);
    RVInitialize(engine);
    SumoPort port;
    std::size_t written = 0;
    port.write = [&written](const std::string& text, std::string*) {
        if (text.compare(0, 7, "lights ") != 0 || text.size() != 7 + 3 + 2) std::abort();
        ++written;
        return true;
    };
    // The first byte chooses the size of the pieces the bytes arrive in.
    const std::size_t piece = size ? 1 + data[0] % 64 : 1;
    for (std::size_t at = size ? 1 : 0; at < size; at += piece) {
        sumo_receive(sumo_link, reinterpret_cast<const char*>(data) + at,
                     std::min(piece, size - at));
        SumoPass pass;
        while ((pass = sumo_polling_pass(sumo_link, engine, port)) == SumoPass::Stepped) {
        }
        if (pass == SumoPass::Disconnect) break;
    }
    reset_output_state(engine.output);
    return 0;
}
