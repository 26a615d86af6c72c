// VISSIM coupling: what the conversation needs from a DDE-like transport, and what the VISSIM
// side (a test client, the stand-in) needs to play its part.
//
// Two transports implement it: DDEML on Windows (vissim/lsa_ddeml.cpp) and a local socket named
// after the service on Linux (vissim/lsa_socket.cpp). The conversation (vissim/lsa.cpp) never
// sees which one carries it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ruvalda {

// String handle (DDE: HSZ) and conversation handle (DDE: HCONV); 0 is none.
using LsaHsz = std::uintptr_t;
using LsaConv = std::uintptr_t;

enum class LsaXtyp { Connect, Request, Poke, Disconnect, Other };

// Answers of a poke, as DDE gives them.
constexpr std::uint32_t LSA_FACK = 0x8000;
constexpr std::uint32_t LSA_FBUSY = 0x4000;
constexpr std::uint32_t LSA_FNOTPROCESSED = 0;
// Clipboard format of the triple buffers.
constexpr unsigned LSA_FORMAT = 128;

// One transaction as the transport hands it to the conversation. Connect: hsz1 = topic,
// hsz2 = service. Request and poke: hsz1 = topic, hsz2 = item. Poke data in data/size.
struct LsaTransaction {
    LsaXtyp type = LsaXtyp::Other;
    unsigned format = 0;
    LsaConv conv = 0;
    LsaHsz hsz1 = 0;
    LsaHsz hsz2 = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// The conversation's answer. Connect: result 1 accepts, 0 refuses. Poke: LSA_FACK, LSA_FBUSY or
// LSA_FNOTPROCESSED. Request: has_reply, and the reply's bytes are in reply (no data otherwise).
struct LsaAnswer {
    std::uint32_t result = 0;
    bool has_reply = false;
    const std::vector<std::uint8_t>* reply = nullptr;
};

using LsaCallback = std::function<LsaAnswer(const LsaTransaction&)>;

// Server side, registered by the controller.
class LsaServerTransport {
  public:
    virtual ~LsaServerTransport() = default;
    // DdeInitializeA: server for connect, request, poke and disconnect only.
    virtual bool initialize(LsaCallback callback) = 0;
    // DdeCreateStringHandleA (code page 1252); 0 on failure. Handles of equal names compare
    // equal whatever their case.
    virtual LsaHsz create_string_handle(const char* text) = 0;
    virtual bool same_string(LsaHsz a, LsaHsz b) const = 0;
    // DdeNameService, DNS_REGISTER.
    virtual bool register_service(LsaHsz service) = 0;
    // DdeEnableCallback: EC_DISABLE for one conversation (its next transaction waits), or
    // EC_ENABLEALL with conv 0.
    virtual void enable_callbacks(LsaConv conv, bool enable) = 0;
};

// What a poke came back with.
enum class LsaPokeResult { Acknowledged, Busy, NotProcessed, Failed };

// Client side: the part VISSIM plays.
class LsaClientTransport {
  public:
    virtual ~LsaClientTransport() = default;
    // Connects to service and topic, retrying until timeout_ms has passed (the server may still be
    // starting). False when no server accepted.
    virtual bool connect(const std::string& service, const std::string& topic, int timeout_ms) = 0;
    virtual LsaPokeResult poke(const std::string& item, const std::vector<std::uint8_t>& data) = 0;
    // False when the server answered with no data or the conversation failed.
    virtual bool request(const std::string& item, std::vector<std::uint8_t>* reply) = 0;
    virtual void disconnect() = 0;
    // Why the last operation failed, for the user.
    virtual std::string last_error() const = 0;
};

}  // namespace ruvalda
