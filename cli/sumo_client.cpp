#include "cli/sumo_client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/eval.h"
#include "output/output.h"
#include "sumo/sumo_protocol.h"

namespace ruvalda::cli {

namespace {

// Between lines the client has nothing to do, so it sleeps until data come: a timeout would
// only wake every waiting controller again while SUMO works on a long step.
constexpr int WAIT_FOR_DATA = -1;

int connect_to(const SumoAddress& address, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (int result = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found)) {
        *error = ::gai_strerror(result);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            *error = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        // Every message is one write; without this a step waits for the peer's delayed ack.
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

bool write_all(int fd, const std::string& text, std::string* error) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            *error = std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

int run_sumo_client(SumoLink& sumo_link, EngineState& engine, const std::string& address_argument,
                    const SumoClientObserver& observer) {
    SumoAddress address;
    if (!parse_sumo_address(address_argument, &address)) {
        report_error(engine.output, ERROR, "TFormMain::FormPaint",
                     "Bad port number in argument: %s", address_argument.c_str());
        return 1;
    }
    reset_sumo_link(sumo_link);
    engine.colour_callback = [&sumo_link, observer](int stream, char colour) {
        record_sumo_colour(sumo_link, stream, colour);
        if (observer.colour) observer.colour(stream, colour);
    };
    sumo_link.connect_phase =
        "(connecting to " + address.host + ":" + std::to_string(address.port) + ")";
    std::string error;
    const int fd = connect_to(address, &error);
    if (fd < 0) {
        report_error(engine.output, SIMULATOR_ERROR, "connect phase", "%s",
                     sumo_link.connect_phase.c_str());
        return 1;
    }
    traceprintf(engine.output, "Connected to %s:%d\n", address.host.c_str(), address.port);
    sumo_link.connect_phase.clear();

    SumoPort port;
    port.write = [fd](const std::string& text, std::string* why) {
        return write_all(fd, text, why);
    };
    port.show_detector = observer.detector;
    int result = 0;
    RVInitialize(engine);
    if (!SendLightsToSumo(sumo_link, engine, port)) result = 1;
    char buffer[65536];
    while (result == 0 && !engine.output.end_requested) {
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, WAIT_FOR_DATA);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got == 0) break;  // the server closed the connection: the run is over
            if (got < 0 && errno != EINTR && errno != EAGAIN) break;
            if (got > 0) sumo_receive(sumo_link, buffer, static_cast<std::size_t>(got));
        }
        // Passes until the received lines are used up; each takes at most one step.
        for (;;) {
            const SumoPass pass = sumo_polling_pass(sumo_link, engine, port);
            if (pass == SumoPass::Disconnect) result = 1;
            if (pass != SumoPass::Stepped) break;
        }
    }
    ::close(fd);
    if (engine.output.end_requested) result = 1;
    return result;
}

}  // namespace ruvalda::cli
