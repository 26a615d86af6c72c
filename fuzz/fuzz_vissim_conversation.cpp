// Arbitrary bytes as what VISSIM sends over the local socket: a stream of length-prefixed
// frames, decoded as the server decodes them and handed to the conversation, which runs the
// crossing example. Frames whose simulation time lies far ahead are dropped: the engine would
// honestly step its way there, which is slow, not wrong.
#include <cstddef>
#include <cstdint>
#include <string>

#include "controller/controller.h"
#include "engine/eval.h"
#include "loader/reader.h"
#include "output/output.h"
#include "sequence/sequence_model.h"
#include "tests/support/lsa_memory_transport.h"
#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"
#include "vissim/lsa_socket.h"

using namespace ruvalda;

namespace {

constexpr int MAX_FRAMES = 64;
constexpr std::int32_t MAX_TIME_VALUE = 500;  // 100 s at five steps a second

bool far_ahead(const LsaFrame& frame) {
    const std::vector<std::int32_t> v = lsa_values(frame.data);
    for (std::size_t i = 0; i + 2 < v.size(); ++i)
        if (v[i] == 9101 && (v[i + 2] > MAX_TIME_VALUE || v[i + 2] < 0)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ReportRecorder recorder;
    static test::MemoryTransport transport;
    // The program is loaded once; every input is a new conversation with it.
    static Controller controller;
    EngineState& engine = controller.engine;
    static const bool loaded = [] {
        EngineState& engine = controller.engine;
        ReaderState& reader_state = controller.reader;
        engine.output.front_end = &recorder;
        const std::string control =
            std::string(RUVALDA_SOURCE_DIR) + "/examples/crossing/crossing.rvc";
        reader_state.macro.macro_path =
            macro_path_for(control, std::string(RUVALDA_SOURCE_DIR) + "/macros");
        reader_state.sequence_handler = sequence_reader(controller.sequence_model);
        return RVLoadFile(reader_state, engine, control.c_str()) != 0;
    }();
    if (!loaded) return 0;
    recorder.reports.clear();
    engine.output.vissim_mode = true;
    LsaState lsa_state;
    lsa_state.fehl.box = [](const std::string&) {};
    lsa_state.transport = &transport;
    engine.colour_callback = [&lsa_state](int stream, char letter) {
        lsa_wish_colour(lsa_state, stream, letter);
    };
    if (!Init_LSAtoSIM(lsa_state, engine, 7)) {
        close_error_file(lsa_state);
        return 0;
    }

    std::size_t pos = 0;
    for (int n = 0; n < MAX_FRAMES && size - pos >= 4; ++n) {
        const auto length = static_cast<std::uint32_t>(lsa_load_value(data + pos));
        pos += 4;
        if (length > size - pos) break;
        LsaFrame frame;
        const bool whole = lsa_decode_frame(data + pos, length, &frame);
        pos += length;
        if (!whole || far_ahead(frame)) continue;
        LsaTransaction t;
        t.type = lsa_frame_type(frame.kind);
        t.format = frame.format;
        t.conv = 1;
        t.hsz1 = transport.create_string_handle(frame.topic.c_str());
        t.hsz2 = transport.create_string_handle(frame.item.c_str());
        t.data = frame.data.data();
        t.size = frame.data.size();
        DdeCallbackLSA(lsa_state, engine, t);
        if (transport.names.size() > 64) transport.names.resize(8);  // keep the table small
    }
    engine.colour_callback = nullptr;
    close_error_file(lsa_state);
    return 0;
}
