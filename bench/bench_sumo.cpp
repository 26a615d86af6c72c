// Steps per second of the SUMO coupling against a server that answers at once: each
// iteration sends "step" and waits for the lights line. Headless (ruvalda-cli sumo in a child
// process) and in the desktop's main window (in this process, its event loop turning while
// the server waits).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <string>

#include "controller/controller.h"
#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/form_main.h"
#include "gui/form_map.h"
#include "gui/select_formula.h"
#include "map/map_model.h"
#include "sumo/sumo_protocol.h"

namespace ruvalda::bench {
namespace {

const char* const CROSSING = RUVALDA_SOURCE_DIR "/examples/crossing/crossing.rvc";

// A listening socket on a free loopback port.
int listen_loopback(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 1);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

// Reads until a received piece ends in LF (one message at a time here); `pump` runs while
// nothing has come.
bool read_line(int fd, const std::function<void()>& pump) {
    char buffer[4096];
    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, pump ? 0 : 10000) <= 0) {
            if (!pump) return false;
            pump();
            continue;
        }
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        if (buffer[got - 1] == '\n') return true;
    }
}

int accept_nodelay(int listener) {
    const int fd = ::accept(listener, nullptr, nullptr);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

void BM_SumoStepHeadless(benchmark::State& state) {
    int port = 0;
    const int listener = listen_loopback(&port);
    const std::string address = "sumo://127.0.0.1:" + std::to_string(port);
    const pid_t child = ::fork();
    if (child == 0) {
        ::freopen("/dev/null", "w", stdout);
        ::execl(RUVALDA_CLI, RUVALDA_CLI, "sumo", CROSSING, address.c_str(), nullptr);
        ::_exit(127);
    }
    const int peer = accept_nodelay(listener);
    read_line(peer, nullptr);  // the first lights line
    for (auto _ : state) {
        ::send(peer, "step\r\n", 6, MSG_NOSIGNAL);
        if (!read_line(peer, nullptr)) state.SkipWithError("no lights line");
    }
    ::close(peer);
    ::close(listener);
    ::waitpid(child, nullptr, 0);
    state.counters["steps_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SumoStepDesktop(benchmark::State& state) {
    ScriptedDialogHost host;
    set_dialog_host(&host);
    auto controller = std::make_unique<Controller>();
    AppState app_state;
    int port = 0;
    const int listener = listen_loopback(&port);
    {
        TFormMain main_window(*controller, app_state,
                              {CROSSING, QString("sumo://127.0.0.1:%1").arg(port)});
        TFormMap map_window(*controller, app_state);
        TFormSelectFormula dialog(controller->engine, app_state, &main_window);
        main_window.set_windows(&map_window, &dialog);
        main_window.end_application = [] {};
        main_window.show();
        main_window.FormPaint();
        pollfd wait{listener, POLLIN, 0};
        while (::poll(&wait, 1, 0) == 0) QApplication::processEvents();
        const int peer = accept_nodelay(listener);
        const auto pump = [] { QApplication::processEvents(); };
        read_line(peer, pump);
        for (auto _ : state) {
            ::send(peer, "step\r\n", 6, MSG_NOSIGNAL);
            if (!read_line(peer, pump)) state.SkipWithError("no lights line");
        }
        ::close(peer);
        QApplication::processEvents();
    }
    ::close(listener);
    set_dialog_host(nullptr);
    state.counters["steps_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_SumoStepHeadless)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SumoStepDesktop)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace ruvalda::bench

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
