// VISSIM coupling over a local socket: frames, the server and the client.
#include "vissim/lsa_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ruvalda {

namespace {

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Reads exactly size bytes, each part within timeout_ms; false on end of stream, error or
// timeout.
bool read_exact(int fd, std::uint8_t* buffer, std::size_t size, int timeout_ms) {
    std::size_t done = 0;
    while (done < size) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::recv(fd, buffer + done, size - done, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool write_all(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one frame: its length word, then the body.
bool read_body(int fd, std::vector<std::uint8_t>* body, int first_timeout_ms) {
    std::uint8_t length[4];
    if (!read_exact(fd, length, 4, first_timeout_ms)) return false;
    const std::uint32_t size = get_u32(length);
    if (size == 0 || size > LSA_FRAME_MAX) return false;
    body->resize(size);
    return read_exact(fd, body->data(), size, LSA_FRAME_TIMEOUT_MS);
}

std::vector<std::uint8_t> answer_frame(std::uint8_t kind, std::uint32_t result,
                                       const std::vector<std::uint8_t>* data) {
    std::vector<std::uint8_t> out;
    const std::size_t body = 5 + (data ? data->size() : 0);
    out.reserve(4 + body);
    put_u32(out, static_cast<std::uint32_t>(body));
    out.push_back(kind);
    put_u32(out, result);
    if (data) out.insert(out.end(), data->begin(), data->end());
    return out;
}

bool fill_address(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

int connect_to(const std::string& path) {
    sockaddr_un address;
    if (!fill_address(path, &address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The peer has closed fd and nothing of it is left to read.
bool peer_closed(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    char byte = 0;
    return (p.revents & POLLIN) && ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

}  // namespace

std::string lsa_socket_path(const std::string& service) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (runtime && *runtime) {
        dir = runtime;
    } else {
        dir = "/tmp/ruvalda-";
        dir += std::to_string(::getuid());
        ::mkdir(dir.c_str(), 0700);
    }
    dir += "/";
    dir += service;
    return dir;
}

LsaXtyp lsa_frame_type(std::uint8_t kind) {
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

bool lsa_encode_frame(const LsaFrame& frame, std::vector<std::uint8_t>* out) {
    if (frame.topic.size() > LSA_NAME_MAX || frame.item.size() > LSA_NAME_MAX) return false;
    const std::size_t body =
        1 + 4 + 2 + frame.topic.size() + 2 + frame.item.size() + frame.data.size();
    if (body > LSA_FRAME_MAX) return false;
    out->clear();
    out->reserve(4 + body);
    put_u32(*out, static_cast<std::uint32_t>(body));
    out->push_back(frame.kind);
    put_u32(*out, frame.format);
    put_u16(*out, static_cast<std::uint16_t>(frame.topic.size()));
    out->insert(out->end(), frame.topic.begin(), frame.topic.end());
    put_u16(*out, static_cast<std::uint16_t>(frame.item.size()));
    out->insert(out->end(), frame.item.begin(), frame.item.end());
    out->insert(out->end(), frame.data.begin(), frame.data.end());
    return true;
}

bool lsa_decode_frame(const std::uint8_t* body, std::size_t size, LsaFrame* frame) {
    std::size_t pos = 0;
    auto take_name = [&](std::string* name) {
        if (size - pos < 2) return false;
        const std::size_t n = get_u16(body + pos);
        pos += 2;
        if (n > LSA_NAME_MAX || size - pos < n) return false;
        name->assign(reinterpret_cast<const char*>(body + pos), n);
        pos += n;
        return true;
    };
    if (size < 5) return false;
    frame->kind = body[0];
    frame->format = get_u32(body + 1);
    pos = 5;
    if (!take_name(&frame->topic) || !take_name(&frame->item)) return false;
    frame->data.assign(body + pos, body + size);
    return true;
}

// ---- server -------------------------------------------------------------------------------------

LsaSocketServer::~LsaSocketServer() {
    if (s_.conv_fd >= 0) ::close(s_.conv_fd);
    if (s_.listen_fd >= 0) {
        ::close(s_.listen_fd);
        ::unlink(s_.path.c_str());
    }
}

bool LsaSocketServer::initialize(LsaCallback callback) {
    s_.callback = callback;
    return callback != nullptr;
}

LsaHsz LsaSocketServer::find_name(const std::string& name) const {
    for (std::size_t i = 0; i < s_.names.size(); ++i)
        if (strcasecmp(s_.names[i].c_str(), name.c_str()) == 0) return i + 1;
    return 0;
}

LsaHsz LsaSocketServer::create_string_handle(const char* text) {
    if (!text || std::strlen(text) > LSA_NAME_MAX) return 0;
    if (const LsaHsz found = find_name(text)) return found;
    s_.names.emplace_back(text);
    return s_.names.size();
}

bool LsaSocketServer::same_string(LsaHsz a, LsaHsz b) const {
    return a == b;
}

bool LsaSocketServer::register_service(LsaHsz service) {
    if (service == 0 || service > s_.names.size() || s_.listen_fd >= 0) return false;
    const std::string path = lsa_socket_path(s_.names[service - 1]);
    sockaddr_un address;
    if (!fill_address(path, &address)) return false;
    // A socket file left by a controller that died is taken over; a living one is not.
    const int probe = connect_to(path);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    s_.listen_fd = fd;
    s_.path = path;
    if (on_fds_changed) on_fds_changed();
    return true;
}

void LsaSocketServer::enable_callbacks(LsaConv conv, bool enable) {
    if (enable) {
        s_.held = false;
    } else if (conv == s_.conv) {
        s_.held = true;
    }
    if (on_fds_changed) on_fds_changed();
}

std::vector<int> LsaSocketServer::watched_fds() const {
    std::vector<int> fds;
    if (s_.listen_fd >= 0) fds.push_back(s_.listen_fd);
    if (s_.conv_fd >= 0 && !s_.held) fds.push_back(s_.conv_fd);
    return fds;
}

void LsaSocketServer::serve(int fd) {
    if (s_.serving || fd < 0) return;
    s_.serving = true;
    if (fd == s_.listen_fd) {
        accept_connection();
    } else if (fd == s_.conv_fd && !s_.held) {
        read_frame();
    }
    s_.serving = false;
}

void LsaSocketServer::poll_once(int timeout_ms) {
    const std::vector<int> fds = watched_fds();
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back(pollfd{fd, POLLIN, 0});
    if (polls.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return;
    }
    if (::poll(polls.data(), polls.size(), timeout_ms) <= 0) return;
    for (const pollfd& p : polls)
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) serve(p.fd);
}

void LsaSocketServer::accept_connection() {
    const int fd = ::accept4(s_.listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    // A connection that ended before it opened a conversation (a starting controller probing
    // this socket, say) must not keep VISSIM out.
    if (s_.conv_fd >= 0 && !s_.connected && peer_closed(s_.conv_fd)) end_conversation(false);
    // VISSIM is the only client: a second one finds the line closed.
    if (s_.conv_fd >= 0) {
        ::close(fd);
        return;
    }
    s_.conv_fd = fd;
    s_.connected = false;
    if (on_fds_changed) on_fds_changed();
}

void LsaSocketServer::end_conversation(bool tell) {
    if (s_.conv_fd >= 0) ::close(s_.conv_fd);
    s_.conv_fd = -1;
    const bool was_connected = s_.connected;
    s_.connected = false;
    s_.held = false;
    if (on_fds_changed) on_fds_changed();
    if (tell && was_connected) {
        LsaTransaction t;
        t.type = LsaXtyp::Disconnect;
        t.conv = s_.conv;
        s_.callback(t);
    }
}

void LsaSocketServer::read_frame() {
    std::vector<std::uint8_t> body;
    LsaFrame frame;
    // A broken or malformed frame ends the conversation as a disconnect would.
    if (!read_body(s_.conv_fd, &body, 0) || !lsa_decode_frame(body.data(), body.size(), &frame)) {
        end_conversation(true);
        return;
    }
    ++s_.transactions;
    LsaTransaction t;
    t.format = frame.format;
    t.hsz1 = find_name(frame.topic);
    t.hsz2 = find_name(frame.item);
    t.data = frame.data.data();
    t.size = frame.data.size();
    if (!s_.connected) {
        // Nothing but a connect opens a conversation.
        if (frame.kind != LSA_FRAME_CONNECT) {
            end_conversation(false);
            return;
        }
        t.type = LsaXtyp::Connect;
        t.conv = s_.conv + 1;
        const LsaAnswer a = s_.callback(t);
        const bool accepted = a.result != 0;
        const bool sent =
            write_all(s_.conv_fd, answer_frame(frame.kind, accepted ? 1 : 0, nullptr));
        if (!accepted || !sent) {
            end_conversation(false);
            return;
        }
        s_.connected = true;
        s_.conv = t.conv;
        return;
    }
    t.conv = s_.conv;
    t.type = lsa_frame_type(frame.kind);
    if (t.type == LsaXtyp::Disconnect) {
        end_conversation(true);
        return;
    }
    const LsaAnswer a = s_.callback(t);
    if (s_.conv_fd < 0) return;  // ended inside the transaction
    const bool has_data = t.type == LsaXtyp::Request && a.has_reply && a.reply;
    const std::uint32_t result = t.type == LsaXtyp::Request ? (has_data ? 1 : 0) : a.result;
    if (!write_all(s_.conv_fd, answer_frame(frame.kind, result, has_data ? a.reply : nullptr)))
        end_conversation(true);
}

// ---- client -------------------------------------------------------------------------------------

LsaSocketClient::~LsaSocketClient() {
    if (s_.fd >= 0) ::close(s_.fd);
}

bool LsaSocketClient::connect(const std::string& service, const std::string& topic,
                              int timeout_ms) {
    disconnect();
    const std::string path = lsa_socket_path(service);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    // The controller may still be loading its program: try again every 20 ms.
    while ((s_.fd = connect_to(path)) < 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            s_.error = "no controller serves " + service + " (" + path + ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    LsaFrame frame;
    frame.kind = LSA_FRAME_CONNECT;
    frame.topic = topic;
    frame.item = service;
    std::uint32_t result = 0;
    if (!transact(frame, &result, nullptr)) return false;
    if (result == 0) {
        s_.error = service + " refused the topic " + topic;
        ::close(s_.fd);
        s_.fd = -1;
        return false;
    }
    s_.topic = topic;
    return true;
}

bool LsaSocketClient::transact(const LsaFrame& frame, std::uint32_t* result,
                               std::vector<std::uint8_t>* data) {
    std::vector<std::uint8_t> bytes;
    if (s_.fd < 0) {
        s_.error = "not connected";
        return false;
    }
    if (!lsa_encode_frame(frame, &bytes)) {
        s_.error = "name or data too long for a frame";
        return false;
    }
    std::vector<std::uint8_t> body;
    if (!write_all(s_.fd, bytes) || !read_body(s_.fd, &body, s_.answer_timeout_ms) ||
        body.size() < 5 || body[0] != frame.kind) {
        s_.error = "the controller ended the conversation";
        ::close(s_.fd);
        s_.fd = -1;
        return false;
    }
    *result = get_u32(body.data() + 1);
    if (data) data->assign(body.begin() + 5, body.end());
    return true;
}

LsaPokeResult LsaSocketClient::poke(const std::string& item,
                                    const std::vector<std::uint8_t>& data) {
    LsaFrame frame;
    frame.kind = LSA_FRAME_POKE;
    frame.format = LSA_FORMAT;
    frame.topic = s_.topic;
    frame.item = item;
    frame.data = data;
    std::uint32_t result = 0;
    if (!transact(frame, &result, nullptr)) return LsaPokeResult::Failed;
    if (result == LSA_FACK) return LsaPokeResult::Acknowledged;
    if (result == LSA_FBUSY) return LsaPokeResult::Busy;
    return LsaPokeResult::NotProcessed;
}

bool LsaSocketClient::request(const std::string& item, std::vector<std::uint8_t>* reply) {
    LsaFrame frame;
    frame.kind = LSA_FRAME_REQUEST;
    frame.format = LSA_FORMAT;
    frame.topic = s_.topic;
    frame.item = item;
    std::uint32_t result = 0;
    if (!transact(frame, &result, reply)) return false;
    if (result == 0) s_.error = "the controller answered " + item + " with no data";
    return result != 0;
}

void LsaSocketClient::disconnect() {
    if (s_.fd < 0) return;
    LsaFrame frame;
    frame.kind = LSA_FRAME_DISCONNECT;
    frame.topic = s_.topic;
    std::vector<std::uint8_t> bytes;
    if (lsa_encode_frame(frame, &bytes)) write_all(s_.fd, bytes);
    ::close(s_.fd);
    s_.fd = -1;
}

}  // namespace ruvalda
