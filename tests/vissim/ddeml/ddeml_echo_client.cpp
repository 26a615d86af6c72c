// VISSIM's side of the DDEML transport test, against ddeml_echo_server: connects, runs poke and
// request pairs checking every answer, checks the busy, not-processed and no-data answers and the
// refused connections, and disconnects. Prints the pairs per second; exit code 0 only when every
// check passed.
//   ddeml_echo_client [PAIRS]     (default 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vissim/lsa_ddeml.h"

using namespace ruvalda;

namespace {

int failures = 0;

void check(bool ok, const std::string& what, const LsaClientTransport& client) {
    if (ok) return;
    ++failures;
    const std::string why = client.last_error();
    std::fprintf(stderr, "FAIL: %s%s%s\n", what.c_str(), why.empty() ? "" : ": ", why.c_str());
}

const char* name(LsaPokeResult r) {
    switch (r) {
        case LsaPokeResult::Acknowledged:
            return "acknowledged";
        case LsaPokeResult::Busy:
            return "busy";
        case LsaPokeResult::NotProcessed:
            return "not processed";
        case LsaPokeResult::Failed:
            return "failed";
    }
    return "?";
}

// Odd lengths too: the transport must deliver exactly the bytes poked.
std::vector<std::uint8_t> buffer_for(unsigned pair, std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t k = 0; k < size; ++k)
        data[k] = static_cast<std::uint8_t>(pair * 31u + k * 7u + (k >> 8));
    return data;
}

// One "Rechnen" poke and its "Wunschbild" request; the echo answers the bytes reversed.
bool pair(LsaDdemlClient& client, unsigned number, std::size_t size) {
    const std::vector<std::uint8_t> data = buffer_for(number, size);
    const LsaPokeResult poked = client.poke("Rechnen", data);
    if (poked != LsaPokeResult::Acknowledged) {
        check(false, "pair " + std::to_string(number) + ": poke was " + name(poked), client);
        return false;
    }
    std::vector<std::uint8_t> reply;
    if (!client.request("Wunschbild", &reply)) {
        check(false, "pair " + std::to_string(number) + ": request failed", client);
        return false;
    }
    const std::vector<std::uint8_t> expected(data.rbegin(), data.rend());
    if (reply != expected) {
        check(false,
              "pair " + std::to_string(number) + ": reply of " + std::to_string(reply.size()) +
                  " bytes is not the " + std::to_string(size) + " poked bytes reversed",
              client);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long pairs = 1000;
    if (argc > 2) {
        std::fprintf(stderr, "usage: ddeml_echo_client [PAIRS]\n");
        return 2;
    }
    if (argc == 2) {
        char* end = nullptr;
        pairs = std::strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || pairs < 1 || pairs > 10000000) {
            std::fprintf(stderr, "ddeml_echo_client: PAIRS must be a number from 1 to 10000000\n");
            return 2;
        }
    }

    // A transport that loses an answer shows as a timeout; 5 s keeps a failing run short.
    LsaDdemlClient client(5000);
    // The server is started beside us and may take a while to register.
    if (!client.connect("vavozi07", "VISSIM", 30000)) {
        std::fprintf(stderr, "FAIL: connect: %s\n", client.last_error().c_str());
        return 1;
    }
    std::printf("connected to vavozi07, topic VISSIM\n");

    {
        // The server refuses other topics, and nobody serves other services.
        LsaDdemlClient other;
        check(!other.connect("vavozi07", "Wunschbild", 200), "connect to topic Wunschbild accepted",
              other);
        check(!other.last_error().empty(), "a refused connect gives no reason", other);
        check(!other.connect("vavozi08", "VISSIM", 200), "connect to service vavozi08 accepted",
              other);
    }

    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    for (long i = 0; i < pairs; ++i) {
        const std::size_t size = 1 + static_cast<std::size_t>(i * 37 % 400);
        if (!pair(client, static_cast<unsigned>(i), size)) break;
        ++done;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    check(done == pairs, std::to_string(done) + " of " + std::to_string(pairs) + " pairs passed",
          client);
    if (seconds > 0)
        std::printf("%ld poke+request pairs in %.2f s: %.0f pairs per second\n", done, seconds,
                    static_cast<double>(done) / seconds);
    // Once the pairs go wrong, every further transaction would only wait for its timeout.
    if (failures) {
        std::fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }

    // Larger than one page of global memory, and not a multiple of four.
    check(pair(client, 7, 65537), "a 65537-byte pair", client);

    // A second "Rechnen" before its "Wunschbild" is busy; the request clears it again.
    const std::vector<std::uint8_t> triple = buffer_for(1, 12);
    const LsaPokeResult first = client.poke("Rechnen", triple);
    check(first == LsaPokeResult::Acknowledged,
          std::string("first Rechnen of the busy check was ") + name(first), client);
    const LsaPokeResult second = client.poke("Rechnen", triple);
    check(second == LsaPokeResult::Busy,
          std::string("second Rechnen in a row was ") + name(second) + ", not busy", client);
    std::vector<std::uint8_t> reply;
    check(client.request("Wunschbild", &reply) &&
              reply == std::vector<std::uint8_t>(triple.rbegin(), triple.rend()),
          "Wunschbild after the busy poke", client);
    check(pair(client, 8, 12), "a pair after the busy check", client);

    // Items the server does not know.
    const LsaPokeResult unknown = client.poke("Parameter", triple);
    check(unknown == LsaPokeResult::NotProcessed,
          std::string("poke of an unknown item was ") + name(unknown), client);
    check(!client.request("Parameter", &reply), "request of an unknown item gave data", client);
    check(reply.empty(), "a request without data left bytes in the reply", client);
    check(pair(client, 9, 100), "a pair after the unknown items", client);

    client.disconnect();
    check(client.poke("Rechnen", triple) == LsaPokeResult::Failed,
          "poke after the disconnect did not fail", client);

    if (failures) {
        std::fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("all checks passed\n");
    return 0;
}
