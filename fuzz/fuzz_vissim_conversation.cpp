// Arbitrary bytes as what VISSIM sends over the local socket: a stream of length-prefixed
// frames, decoded as the server decodes them and handed to the conversation, which runs the
// crossing example. Frames whose simulation time lies far ahead are dropped: the engine would
// honestly step its way there, which is slow, not wrong.
#include <cstddef>
#include <cstdint>
#include <string>

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
    const auto& d = frame.data;
    for (std::size_t i = 0; i + 12 <= d.size(); i += 4) {
        auto at = [&](std::size_t k) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(d[k]) |
                                             static_cast<std::uint32_t>(d[k + 1]) << 8 |
                                             static_cast<std::uint32_t>(d[k + 2]) << 16 |
                                             static_cast<std::uint32_t>(d[k + 3]) << 24);
        };
        if (at(i) == 9101 && (at(i + 8) > MAX_TIME_VALUE || at(i + 8) < 0)) return true;
    }
    return false;
}

LsaXtyp type_of(std::uint8_t kind) {
    switch (kind) {
        case LSA_FRAME_CONNECT:
            return LsaXtyp::Connect;
        case LSA_FRAME_POKE:
            return LsaXtyp::Poke;
        case LSA_FRAME_REQUEST:
            return LsaXtyp::Request;
        case LSA_FRAME_DISCONNECT:
            return LsaXtyp::Disconnect;
        default:
            return LsaXtyp::Other;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ReportRecorder recorder;
    static test::MemoryTransport transport;
    static const bool loaded = [] {
        output_state.front_end = &recorder;
        const std::string control =
            std::string(RUVALDA_SOURCE_DIR) + "/examples/crossing/crossing.rvc";
        reader_state.macro.macro_path =
            macro_path_for(control, std::string(RUVALDA_SOURCE_DIR) + "/macros");
        reader_state.sequence_handler = ReadSequenceSection;
        return RVLoadFile(control.c_str()) != 0;
    }();
    if (!loaded) return 0;
    recorder.reports.clear();
    output_state.vissim_mode = true;
    reset_lsa();
    reset_lsa_puff();
    reset_lsa_fehl();
    lsa_fehl_state.box = [](const std::string&) {};
    lsa_state.transport = &transport;
    engine.colour_callback = lsa_wish_colour;
    if (!Init_LSAtoSIM(7)) return 0;

    std::size_t pos = 0;
    for (int n = 0; n < MAX_FRAMES && size - pos >= 4; ++n) {
        const std::uint32_t length = static_cast<std::uint32_t>(data[pos]) |
                                     static_cast<std::uint32_t>(data[pos + 1]) << 8 |
                                     static_cast<std::uint32_t>(data[pos + 2]) << 16 |
                                     static_cast<std::uint32_t>(data[pos + 3]) << 24;
        pos += 4;
        if (length > size - pos) break;
        LsaFrame frame;
        const bool whole = lsa_decode_frame(data + pos, length, &frame);
        pos += length;
        if (!whole || far_ahead(frame)) continue;
        LsaTransaction t;
        t.type = type_of(frame.kind);
        t.format = frame.format;
        t.conv = 1;
        t.hsz1 = transport.create_string_handle(frame.topic.c_str());
        t.hsz2 = transport.create_string_handle(frame.item.c_str());
        t.data = frame.data.data();
        t.size = frame.data.size();
        DdeCallbackLSA(t);
        if (transport.names.size() > 64) transport.names.resize(8);  // keep the table small
    }
    return 0;
}
