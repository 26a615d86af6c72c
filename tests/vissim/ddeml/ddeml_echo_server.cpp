// The controller's side of the DDEML transport test: service "vavozi07", topic "VISSIM".
// A poke of "Rechnen" is kept and acknowledged; a second one before a "Wunschbild" request is
// answered busy; the request returns the kept bytes reversed. Any other item is not processed.
// The conversation is held while a poke is worked on, as the control step holds it. The
// disconnect ends the program; exit code 0 only when every transaction came as expected.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "vissim/lsa_ddeml.h"

using namespace ruvalda;

namespace {

struct Echo {
    LsaDdemlServer server;
    LsaHsz service = 0, topic = 0, rechnen = 0, wunschbild = 0;
    std::vector<std::uint8_t> kept, reply;
    bool computed = false;  // a "Rechnen" is waiting for its "Wunschbild"
    bool held = false;      // the conversation's callbacks are disabled
    bool disconnected = false;
    int connects = 0, refused = 0, pokes = 0, busy = 0, requests = 0, unknown = 0, errors = 0;
};

Echo* echo = nullptr;

void error(const char* what) {
    ++echo->errors;
    std::fprintf(stderr, "echo server: %s\n", what);
}

LsaAnswer on_poke(const LsaTransaction& t) {
    LsaAnswer answer;
    if (!echo->server.same_string(t.hsz2, echo->rechnen)) {
        ++echo->unknown;
        answer.result = LSA_FNOTPROCESSED;
        return answer;
    }
    if (echo->computed) {
        ++echo->busy;
        answer.result = LSA_FBUSY;
        return answer;
    }
    ++echo->pokes;
    if (t.format != LSA_FORMAT) error("poke in another clipboard format");
    echo->kept.assign(t.data, t.data + t.size);
    // The work runs with this conversation held and other messages still dispatched; nothing of
    // the conversation may come in before it is enabled again.
    echo->server.enable_callbacks(t.conv, false);
    echo->held = true;
    lsa_ddeml_process_messages();
    echo->held = false;
    echo->server.enable_callbacks(0, true);
    echo->computed = true;
    answer.result = LSA_FACK;
    return answer;
}

LsaAnswer on_request(const LsaTransaction& t) {
    LsaAnswer answer;
    if (!echo->server.same_string(t.hsz2, echo->wunschbild)) {
        ++echo->unknown;
        return answer;
    }
    ++echo->requests;
    echo->computed = false;
    echo->reply.assign(echo->kept.rbegin(), echo->kept.rend());
    answer.has_reply = true;
    answer.reply = &echo->reply;
    return answer;
}

LsaAnswer callback(const LsaTransaction& t) {
    LsaAnswer answer;
    if (echo->held) {
        error("a transaction came in while its conversation was held");
        return answer;
    }
    switch (t.type) {
        case LsaXtyp::Connect:
            if (echo->server.same_string(t.hsz2, echo->service) &&
                echo->server.same_string(t.hsz1, echo->topic)) {
                ++echo->connects;
                answer.result = 1;
            } else {
                ++echo->refused;
            }
            return answer;
        case LsaXtyp::Poke:
            if (!echo->server.same_string(t.hsz1, echo->topic)) error("poke on another topic");
            return on_poke(t);
        case LsaXtyp::Request:
            if (!echo->server.same_string(t.hsz1, echo->topic)) error("request on another topic");
            return on_request(t);
        case LsaXtyp::Disconnect:
            echo->disconnected = true;
            return answer;
        case LsaXtyp::Other:
            error("unexpected transaction type");
            return answer;
    }
    return answer;
}

}  // namespace

int main() {
    Echo state;
    echo = &state;
    if (!state.server.initialize(callback)) {
        std::fprintf(stderr, "echo server: DdeInitializeA failed\n");
        return 1;
    }
    // Handles of equal names compare equal whatever their case.
    state.service = state.server.create_string_handle("vavozi07");
    state.topic = state.server.create_string_handle("VISSIM");
    state.rechnen = state.server.create_string_handle("Rechnen");
    state.wunschbild = state.server.create_string_handle("Wunschbild");
    const LsaHsz lower = state.server.create_string_handle("vissim");
    if (!state.service || !state.topic || !state.rechnen || !state.wunschbild || !lower) {
        std::fprintf(stderr, "echo server: DdeCreateStringHandleA failed\n");
        return 1;
    }
    if (!state.server.same_string(state.topic, lower) ||
        state.server.same_string(state.topic, state.rechnen))
        error("string handles compare wrongly");
    if (!state.server.register_service(state.service)) {
        std::fprintf(stderr, "echo server: DdeNameService failed\n");
        return 1;
    }
    std::printf("echo server: registered vavozi07\n");
    std::fflush(stdout);

    const int loop = lsa_ddeml_message_loop([&state] { return state.disconnected; });
    std::printf(
        "echo server: %d connects, %d refused, %d pokes, %d busy, %d requests, %d unknown items, "
        "%d errors\n",
        state.connects, state.refused, state.pokes, state.busy, state.requests, state.unknown,
        state.errors);
    if (loop != 0) std::fprintf(stderr, "echo server: message loop ended with %d\n", loop);
    return state.disconnected && loop == 0 && state.errors == 0 ? 0 : 1;
}
