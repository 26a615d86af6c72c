// VISSIM coupling on Linux: the DDE conversation carried over a local (Unix-domain) stream
// socket named after the service, e.g. $XDG_RUNTIME_DIR/vavozi07. The framing is described in
// docs/vissim.md. One conversation at a time, as VISSIM is the controller's only client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vissim/lsa_transport.h"

namespace ruvalda {

// Frame kinds, the same numbers in both directions.
enum : std::uint8_t {
    LSA_FRAME_CONNECT = 1,
    LSA_FRAME_POKE = 2,
    LSA_FRAME_REQUEST = 3,
    LSA_FRAME_DISCONNECT = 4,
};
constexpr std::uint32_t LSA_FRAME_MAX = 16u << 20;  // larger frames end the conversation
constexpr std::size_t LSA_NAME_MAX = 255;           // longest service, topic or item name
constexpr int LSA_FRAME_TIMEOUT_MS = 5000;          // a frame's rest must follow within this

// The socket's path for a service: $XDG_RUNTIME_DIR/<service>, or /tmp/ruvalda-<uid>/<service>
// when that is not set.
std::string lsa_socket_path(const std::string& service);

// A frame from VISSIM's side, as the server reads it.
struct LsaFrame {
    std::uint8_t kind = 0;
    std::uint32_t format = 0;
    std::string topic;
    std::string item;  // the service for a connect
    std::vector<std::uint8_t> data;
};

// The transaction a frame kind asks for (Other for unknown kinds).
LsaXtyp lsa_frame_type(std::uint8_t kind);

// Encodes a client frame; false when a name is too long.
bool lsa_encode_frame(const LsaFrame& frame, std::vector<std::uint8_t>* out);
// Decodes the body of a client frame (after its length word); false when it is malformed.
bool lsa_decode_frame(const std::uint8_t* body, std::size_t size, LsaFrame* frame);

struct LsaSocketServerState {
    LsaCallback callback = nullptr;
    std::vector<std::string> names;  // string handle k is names[k - 1]
    std::string path;                // bound socket, removed again on destruction
    int listen_fd = -1;
    int conv_fd = -1;
    bool connected = false;  // the connect was accepted
    LsaConv conv = 0;
    bool held = false;  // callbacks of the conversation disabled
    bool serving = false;
    std::uint64_t transactions = 0;
};

class LsaSocketServer : public LsaServerTransport {
  public:
    ~LsaSocketServer() override;

    bool initialize(LsaCallback callback) override;
    LsaHsz create_string_handle(const char* text) override;
    bool same_string(LsaHsz a, LsaHsz b) const override;
    bool register_service(LsaHsz service) override;
    void enable_callbacks(LsaConv conv, bool enable) override;

    // Descriptors to watch for reading: the listening socket and, while there is one, the
    // conversation's (not while it is held).
    std::vector<int> watched_fds() const;
    // Serves what waits on fd: a new connection, or one frame of the conversation. Returns at
    // once when called again from inside a transaction.
    void serve(int fd);
    // Waits up to timeout_ms for work and serves it; for hosts without a toolkit loop.
    void poll_once(int timeout_ms);

    // Told when watched_fds changes (a toolkit re-arms its notifiers).
    std::function<void()> on_fds_changed;
    const LsaSocketServerState& state() const { return s_; }

  private:
    void accept_connection();
    void read_frame();
    void end_conversation(bool tell);
    LsaHsz find_name(const std::string& name) const;
    LsaSocketServerState s_;
};

struct LsaSocketClientState {
    int fd = -1;
    std::string topic;
    std::string error;
    int answer_timeout_ms = 60000;  // a control step with every trace on can take a while
};

class LsaSocketClient : public LsaClientTransport {
  public:
    ~LsaSocketClient() override;
    bool connect(const std::string& service, const std::string& topic, int timeout_ms) override;
    LsaPokeResult poke(const std::string& item, const std::vector<std::uint8_t>& data) override;
    bool request(const std::string& item, std::vector<std::uint8_t>* reply) override;
    void disconnect() override;
    std::string last_error() const override { return s_.error; }

  private:
    // Sends a frame and reads the answer's result word and data; false on a broken conversation.
    bool transact(const LsaFrame& frame, std::uint32_t* result, std::vector<std::uint8_t>* data);
    LsaSocketClientState s_;
};

}  // namespace ruvalda
