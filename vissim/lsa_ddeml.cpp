#include "vissim/lsa_ddeml.h"

// clang-format off
#include <windows.h>
#include <ddeml.h>
// clang-format on

#include <algorithm>
#include <chrono>

namespace ruvalda {

LsaDdemlState lsa_ddeml_state;

namespace {

// Connect, request, poke and disconnect only; the rest DDEML answers itself.
constexpr DWORD SERVER_FLAGS = CBF_FAIL_SELFCONNECTIONS | CBF_FAIL_ADVISES | CBF_FAIL_EXECUTES |
                               CBF_SKIP_CONNECT_CONFIRMS | CBF_SKIP_REGISTRATIONS |
                               CBF_SKIP_UNREGISTRATIONS;
static_assert(SERVER_FLAGS == 0x1CD000);
static_assert(LSA_FACK == DDE_FACK && LSA_FBUSY == DDE_FBUSY);

HSZ to_hsz(LsaHsz h) {
    return reinterpret_cast<HSZ>(h);
}
LsaHsz from_hsz(HSZ h) {
    return reinterpret_cast<LsaHsz>(h);
}
HCONV to_hconv(LsaConv c) {
    return reinterpret_cast<HCONV>(c);
}

LsaXtyp transaction_type(UINT type) {
    switch (type) {
        case XTYP_CONNECT:
            return LsaXtyp::Connect;
        case XTYP_REQUEST:
            return LsaXtyp::Request;
        case XTYP_POKE:
            return LsaXtyp::Poke;
        case XTYP_DISCONNECT:
            return LsaXtyp::Disconnect;
        default:
            return LsaXtyp::Other;
    }
}

void forget_held(LsaConv conv) {
    std::vector<LsaConv>& held = lsa_ddeml_state.held;
    held.erase(std::remove(held.begin(), held.end(), conv), held.end());
}

HDDEDATA CALLBACK server_callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                  HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    // Asked to be skipped; Wine sends connect confirmations all the same.
    if (type == XTYP_CONNECT_CONFIRM || type == XTYP_REGISTER || type == XTYP_UNREGISTER)
        return nullptr;
    if (type == XTYP_DISCONNECT) forget_held(reinterpret_cast<LsaConv>(conv));
    const LsaCallback callback = lsa_ddeml_state.callback;
    if (!callback) return nullptr;

    LsaTransaction transaction;
    transaction.type = transaction_type(type);
    transaction.format = format;
    transaction.conv = reinterpret_cast<LsaConv>(conv);
    transaction.hsz1 = from_hsz(hsz1);
    transaction.hsz2 = from_hsz(hsz2);

    // A local copy: the conversation may run nested transactions (held ones are released inside
    // its own EC_ENABLEALL), and the handle stays the system's, so it is not freed here.
    std::vector<std::uint8_t> poked;
    if (transaction.type == LsaXtyp::Poke && data) {
        DWORD size = 0;
        if (const BYTE* bytes = DdeAccessData(data, &size)) {
            poked.assign(bytes, bytes + size);
            DdeUnaccessData(data);
        }
        transaction.data = poked.data();
        transaction.size = poked.size();
    }

    const LsaAnswer answer = callback(transaction);
    switch (transaction.type) {
        case LsaXtyp::Connect:
            return reinterpret_cast<HDDEDATA>(
                static_cast<std::uintptr_t>(answer.result ? TRUE : FALSE));
        case LsaXtyp::Request: {
            if (!answer.has_reply || !answer.reply) return nullptr;
            const std::vector<std::uint8_t>& reply = *answer.reply;
            // DDEML copies the bytes; the handle goes to the client with the answer.
            return DdeCreateDataHandle(lsa_ddeml_state.instance, const_cast<LPBYTE>(reply.data()),
                                       static_cast<DWORD>(reply.size()), 0, hsz2, LSA_FORMAT, 0);
        }
        case LsaXtyp::Poke:
            return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(answer.result));
        default:
            return nullptr;
    }
}

// Clients get nothing they need to answer.
HDDEDATA CALLBACK client_callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

}  // namespace

std::string lsa_ddeml_error_text(unsigned code) {
    switch (code) {
        case DMLERR_NO_ERROR:
            return "no error";
        case DMLERR_ADVACKTIMEOUT:
            return "advise transaction timed out (DMLERR_ADVACKTIMEOUT)";
        case DMLERR_BUSY:
            return "the partner is busy (DMLERR_BUSY)";
        case DMLERR_DATAACKTIMEOUT:
            return "data transaction timed out (DMLERR_DATAACKTIMEOUT)";
        case DMLERR_DLL_NOT_INITIALIZED:
            return "DDEML not initialised (DMLERR_DLL_NOT_INITIALIZED)";
        case DMLERR_DLL_USAGE:
            return "call not allowed for this kind of instance (DMLERR_DLL_USAGE)";
        case DMLERR_EXECACKTIMEOUT:
            return "execute transaction timed out (DMLERR_EXECACKTIMEOUT)";
        case DMLERR_INVALIDPARAMETER:
            return "invalid parameter (DMLERR_INVALIDPARAMETER)";
        case DMLERR_LOW_MEMORY:
            return "the server is too far behind the client (DMLERR_LOW_MEMORY)";
        case DMLERR_MEMORY_ERROR:
            return "out of memory (DMLERR_MEMORY_ERROR)";
        case DMLERR_NOTPROCESSED:
            return "the server did not process the transaction (DMLERR_NOTPROCESSED)";
        case DMLERR_NO_CONV_ESTABLISHED:
            return "no server accepted the conversation (DMLERR_NO_CONV_ESTABLISHED)";
        case DMLERR_POKEACKTIMEOUT:
            return "poke timed out (DMLERR_POKEACKTIMEOUT)";
        case DMLERR_POSTMSG_FAILED:
            return "posting a message failed (DMLERR_POSTMSG_FAILED)";
        case DMLERR_REENTRANCY:
            return "synchronous transaction already in progress (DMLERR_REENTRANCY)";
        case DMLERR_SERVER_DIED:
            return "the server ended the conversation (DMLERR_SERVER_DIED)";
        case DMLERR_SYS_ERROR:
            return "internal DDEML error (DMLERR_SYS_ERROR)";
        case DMLERR_UNADVACKTIMEOUT:
            return "unadvise transaction timed out (DMLERR_UNADVACKTIMEOUT)";
        case DMLERR_UNFOUND_QUEUE_ID:
            return "unknown transaction id (DMLERR_UNFOUND_QUEUE_ID)";
        default:
            return "DDEML error " + std::to_string(code);
    }
}

// --- server ---

LsaDdemlServer::~LsaDdemlServer() {
    if (!owner_) return;
    if (lsa_ddeml_state.instance) DdeUninitialize(lsa_ddeml_state.instance);
    lsa_ddeml_state = LsaDdemlState{};
}

bool LsaDdemlServer::initialize(LsaCallback callback) {
    if (lsa_ddeml_state.instance || !callback) return false;
    DWORD instance = 0;
    if (DdeInitializeA(&instance, server_callback, APPCLASS_STANDARD | SERVER_FLAGS, 0) !=
        DMLERR_NO_ERROR)
        return false;
    lsa_ddeml_state.instance = instance;
    lsa_ddeml_state.callback = callback;
    owner_ = true;
    return true;
}

LsaHsz LsaDdemlServer::create_string_handle(const char* text) {
    if (!lsa_ddeml_state.instance || !text) return 0;
    return from_hsz(DdeCreateStringHandleA(lsa_ddeml_state.instance, text, CP_WINANSI));
}

bool LsaDdemlServer::same_string(LsaHsz a, LsaHsz b) const {
    return DdeCmpStringHandles(to_hsz(a), to_hsz(b)) == 0;
}

bool LsaDdemlServer::register_service(LsaHsz service) {
    if (!lsa_ddeml_state.instance) return false;
    return DdeNameService(lsa_ddeml_state.instance, to_hsz(service), nullptr, DNS_REGISTER) !=
           nullptr;
}

void LsaDdemlServer::enable_callbacks(LsaConv conv, bool enable) {
    const DWORD instance = lsa_ddeml_state.instance;
    if (!instance) return;
    std::vector<LsaConv>& held = lsa_ddeml_state.held;
    if (!enable) {
        if (!conv) return;
        if (std::find(held.begin(), held.end(), conv) == held.end()) held.push_back(conv);
        DdeEnableCallback(instance, to_hconv(conv), EC_DISABLE);
        return;
    }
    if (conv) {
        forget_held(conv);
        DdeEnableCallback(instance, to_hconv(conv), EC_ENABLEALL);
        return;
    }
    // Wine releases only client conversations for the instance as a whole, so every held
    // conversation is released by its own handle too. Its waiting transactions run inside the
    // call and may hold and release conversations again, or end them, hence one at a time.
    while (!held.empty()) {
        const LsaConv next = held.back();
        held.pop_back();
        DdeEnableCallback(instance, to_hconv(next), EC_ENABLEALL);
    }
    DdeEnableCallback(instance, nullptr, EC_ENABLEALL);
}

// --- client ---

LsaDdemlClient::~LsaDdemlClient() {
    disconnect();
}

void LsaDdemlClient::fail(const char* call) {
    const UINT code = instance_ ? DdeGetLastError(instance_) : DMLERR_DLL_NOT_INITIALIZED;
    error_ = std::string(call) + ": " + lsa_ddeml_error_text(code);
}

bool LsaDdemlClient::connect(const std::string& service, const std::string& topic, int timeout_ms) {
    disconnect();
    error_.clear();
    DWORD instance = 0;
    const UINT init = DdeInitializeA(&instance, client_callback, APPCMD_CLIENTONLY, 0);
    if (init != DMLERR_NO_ERROR) {
        error_ = "DdeInitializeA: " + lsa_ddeml_error_text(init);
        return false;
    }
    instance_ = instance;
    HSZ service_hsz = DdeCreateStringHandleA(instance_, service.c_str(), CP_WINANSI);
    HSZ topic_hsz = DdeCreateStringHandleA(instance_, topic.c_str(), CP_WINANSI);
    if (!service_hsz || !topic_hsz) {
        fail("DdeCreateStringHandleA");
    } else {
        // The server may still be starting: try again until it has registered.
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            conv_ = reinterpret_cast<std::uintptr_t>(
                DdeConnect(instance_, service_hsz, topic_hsz, nullptr));
            if (conv_) break;
            if (std::chrono::steady_clock::now() >= give_up) {
                fail("DdeConnect");
                error_ += " for service \"" + service + "\", topic \"" + topic + "\"";
                break;
            }
            Sleep(20);
        }
    }
    if (service_hsz) DdeFreeStringHandle(instance_, service_hsz);
    if (topic_hsz) DdeFreeStringHandle(instance_, topic_hsz);
    if (conv_) {
        CONVINFO info{};
        info.cb = sizeof info;
        if (DdeQueryConvInfo(to_hconv(conv_), QID_SYNC, &info))
            window_ = reinterpret_cast<std::uintptr_t>(info.hwnd);
        // Only Wine has been seen to send the extra acknowledgement; whether it does is found
        // out at the first request.
        const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
        extra_ack_ = wine && window_ ? ExtraAck::Unknown : ExtraAck::None;
        return true;
    }
    const std::string why = error_;
    disconnect();
    error_ = why;
    return false;
}

std::uintptr_t LsaDdemlClient::item_handle(const std::string& item) {
    auto found = items_.find(item);
    if (found != items_.end()) return found->second;
    HSZ hsz = DdeCreateStringHandleA(instance_, item.c_str(), CP_WINANSI);
    if (!hsz) return 0;
    return items_[item] = from_hsz(hsz);
}

LsaPokeResult LsaDdemlClient::poke(const std::string& item, const std::vector<std::uint8_t>& data) {
    error_.clear();
    if (!conv_) {
        error_ = "poke \"" + item + "\": not connected";
        return LsaPokeResult::Failed;
    }
    const std::uintptr_t hsz = item_handle(item);
    if (!hsz) {
        fail("DdeCreateStringHandleA");
        return LsaPokeResult::Failed;
    }
    DWORD result = 0;
    const HDDEDATA done = DdeClientTransaction(
        const_cast<LPBYTE>(data.data()), static_cast<DWORD>(data.size()), to_hconv(conv_),
        to_hsz(hsz), LSA_FORMAT, XTYP_POKE, static_cast<DWORD>(timeout_ms_), &result);
    // Windows fails the call for a busy or unprocessed poke; Wine succeeds and leaves the
    // server's answer in the result word. Both are read the same way.
    if (done) {
        if (result & DDE_FACK) return LsaPokeResult::Acknowledged;
        if (result & DDE_FBUSY) return LsaPokeResult::Busy;
        return LsaPokeResult::NotProcessed;
    }
    const UINT code = DdeGetLastError(instance_);
    if (code == DMLERR_BUSY || (result & DDE_FBUSY)) return LsaPokeResult::Busy;
    if (code == DMLERR_NOTPROCESSED) return LsaPokeResult::NotProcessed;
    error_ = "poke \"" + item + "\": " + lsa_ddeml_error_text(code);
    return LsaPokeResult::Failed;
}

bool LsaDdemlClient::request(const std::string& item, std::vector<std::uint8_t>* reply) {
    error_.clear();
    if (reply) reply->clear();
    if (!conv_) {
        error_ = "request \"" + item + "\": not connected";
        return false;
    }
    const std::uintptr_t hsz = item_handle(item);
    if (!hsz) {
        fail("DdeCreateStringHandleA");
        return false;
    }
    DWORD result = 0;
    const HDDEDATA data =
        DdeClientTransaction(nullptr, 0, to_hconv(conv_), to_hsz(hsz), LSA_FORMAT, XTYP_REQUEST,
                             static_cast<DWORD>(timeout_ms_), &result);
    if (!data) {
        error_ = "request \"" + item + "\": " + lsa_ddeml_error_text(DdeGetLastError(instance_));
        return false;
    }
    DWORD size = 0;
    if (const BYTE* bytes = DdeAccessData(data, &size)) {
        if (reply) reply->assign(bytes, bytes + size);
        DdeUnaccessData(data);
    }
    DdeFreeDataHandle(data);
    take_extra_ack();
    return true;
}

// Wine's server follows the data of a request with a positive acknowledgement. Left in the queue,
// it would be read as the answer to the next poke (acknowledged before the server saw it) or as a
// refusal of the next request. It is posted just after the data, so it is waited for, not only
// looked for.
void LsaDdemlClient::take_extra_ack() {
    if (extra_ack_ == ExtraAck::None) return;
    const HWND window = reinterpret_cast<HWND>(window_);
    const ULONGLONG wait_ms = extra_ack_ == ExtraAck::Expected ? timeout_ms_ : 2000;
    const ULONGLONG give_up = GetTickCount64() + wait_ms;
    for (;;) {
        MSG message;
        if (PeekMessageA(&message, window, WM_DDE_ACK, WM_DDE_ACK, PM_REMOVE)) {
            FreeDDElParam(WM_DDE_ACK, message.lParam);
            extra_ack_ = ExtraAck::Expected;
            return;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= give_up) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(give_up - now),
                                  QS_POSTMESSAGE);
    }
    extra_ack_ = ExtraAck::None;
}

void LsaDdemlClient::disconnect() {
    if (conv_) DdeDisconnect(to_hconv(conv_));
    conv_ = 0;
    if (instance_) {
        for (const auto& [name, hsz] : items_) DdeFreeStringHandle(instance_, to_hsz(hsz));
        DdeUninitialize(instance_);
    }
    items_.clear();
    instance_ = 0;
    window_ = 0;
}

// --- message loop ---

int lsa_ddeml_message_loop(const std::function<bool()>& stop) {
    MSG message;
    while (!stop()) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got == -1) return -1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

void lsa_ddeml_process_messages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Left for the loop that owns the thread.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace ruvalda
