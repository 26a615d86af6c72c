// The VISSIM coupling's transport on Windows: the DDE Management Library (user32).
//
// LsaDdemlServer is the controller's side, LsaDdemlClient the part VISSIM plays (tests and the
// stand-in). DDEML delivers every transaction from the message loop of the thread that called
// DdeInitialize, so that thread must run lsa_ddeml_message_loop (or pump messages otherwise).
//
// Wine's DDEML differs from Windows in ways both sides tolerate: the server's callback also gets
// connect confirmations, which are dropped here; enabling callbacks for the whole instance does
// not release a server conversation, so each held conversation is enabled by its own handle; the
// client gets a poke's answer in the result word while the call itself succeeds; and after an
// answered request the server sends one more acknowledgement, which the client takes out of its
// queue before it would be read as the answer to the next transaction.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "vissim/lsa_transport.h"

namespace ruvalda {

// DDEML hands its callback no context of ours, so the server side keeps what the callback needs
// here. One server per process.
struct LsaDdemlState {
    std::uint32_t instance = 0;  // DDEML instance id; 0 before initialize()
    LsaCallback callback = nullptr;
    std::vector<LsaConv> held;  // conversations whose callbacks are disabled
};
extern LsaDdemlState lsa_ddeml_state;

class LsaDdemlServer final : public LsaServerTransport {
  public:
    LsaDdemlServer() = default;
    LsaDdemlServer(const LsaDdemlServer&) = delete;
    LsaDdemlServer& operator=(const LsaDdemlServer&) = delete;
    // Ends the DDEML instance (its service and string handles go with it).
    ~LsaDdemlServer() override;

    // False when DdeInitializeA fails or a server already runs in this process.
    bool initialize(LsaCallback callback) override;
    LsaHsz create_string_handle(const char* text) override;
    bool same_string(LsaHsz a, LsaHsz b) const override;
    bool register_service(LsaHsz service) override;
    void enable_callbacks(LsaConv conv, bool enable) override;

  private:
    bool owner_ = false;  // this object initialised lsa_ddeml_state
};

class LsaDdemlClient final : public LsaClientTransport {
  public:
    // timeout_ms bounds each poke and request.
    explicit LsaDdemlClient(int timeout_ms = 10000) : timeout_ms_(timeout_ms) {}
    LsaDdemlClient(const LsaDdemlClient&) = delete;
    LsaDdemlClient& operator=(const LsaDdemlClient&) = delete;
    ~LsaDdemlClient() override;

    bool connect(const std::string& service, const std::string& topic, int timeout_ms) override;
    LsaPokeResult poke(const std::string& item, const std::vector<std::uint8_t>& data) override;
    bool request(const std::string& item, std::vector<std::uint8_t>* reply) override;
    void disconnect() override;
    std::string last_error() const override { return error_; }

  private:
    enum class ExtraAck { Unknown, Expected, None };

    std::uintptr_t item_handle(const std::string& item);
    void fail(const char* call);
    void take_extra_ack();

    int timeout_ms_;
    std::uint32_t instance_ = 0;
    std::uintptr_t conv_ = 0;
    std::uintptr_t window_ = 0;  // the conversation's window on our side
    ExtraAck extra_ack_ = ExtraAck::Unknown;
    std::map<std::string, std::uintptr_t> items_;  // string handles, made once per item
    std::string error_;
};

// Runs the thread's message loop until `stop` answers true, asked before each message (so it
// sees what the message before changed, the disconnect say), or WM_QUIT arrives. Answers 0 when
// stopped, WM_QUIT's code otherwise, -1 when the loop itself fails.
int lsa_ddeml_message_loop(const std::function<bool()>& stop);

// Dispatches the messages waiting for this thread and returns, for work that runs inside a
// transaction and must keep the windows alive.
void lsa_ddeml_process_messages();

// DdeGetLastError's code in words, for the user.
std::string lsa_ddeml_error_text(unsigned code);

}  // namespace ruvalda
