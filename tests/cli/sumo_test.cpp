// ruvalda-cli as SUMO's controller, against a scripted server on loopback: the lines it reads,
// the lights it answers with, and how the connection ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <thread>

#include "tests/support/cli_runner.h"

namespace ruvalda::test {
namespace {

// A server socket on a free loopback port; talks to one client.
class ScriptedServer {
  public:
    ScriptedServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        // A controller that never comes or never answers fails the test instead of hanging it.
        timeval patience{20, 0};
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~ScriptedServer() {
        if (client_ >= 0) ::close(client_);
        ::close(listener_);
    }
    void accept() {
        client_ = ::accept(listener_, nullptr, nullptr);
        ASSERT_GE(client_, 0) << "no controller connected";
        timeval patience{20, 0};
        ::setsockopt(client_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    void send(const std::string& text) { ::send(client_, text.data(), text.size(), MSG_NOSIGNAL); }
    // One line with its CR LF; empty when the client closed.
    std::string line() {
        std::string text;
        char c = 0;
        while (::recv(client_, &c, 1, 0) == 1) {
            text.push_back(c);
            if (c == '\n') break;
        }
        return text;
    }
    void close() {
        ::close(client_);
        client_ = -1;
    }
    int port = 0;

  private:
    int listener_ = -1;
    int client_ = -1;
};

class SumoClientTest : public ::testing::Test {
  protected:
    std::string dir = temp_dir();
    std::string crossing = std::string(RUVALDA_SOURCE_DIR) + "/examples/crossing/crossing.rvc";
    Result result;
    std::thread controller;

    void start(const std::string& address, const std::vector<std::string>& options = {}) {
        controller = std::thread([this, address, options] {
            std::vector<std::string> args{"sumo", crossing, address};
            args.insert(args.end(), options.begin(), options.end());
            result = run_cli(args, dir);
        });
    }
    void finish() { controller.join(); }
    std::string url(int port) { return "sumo://127.0.0.1:" + std::to_string(port); }
};

const std::string ALL_RED = "lights " + std::string(16, 'r') + "\r\n";

TEST_F(SumoClientTest, lightsFirst_thenOneStepPerPass_detectorsBetweenSteps) {
    ScriptedServer server;
    start(url(server.port), {"--monitor", "--timeline", "sumo.svg"});
    server.accept();
    EXPECT_EQ(ALL_RED, server.line()) << "the first lights line comes before any step";
    // The detector line behind the step waits for the next pass, so it happens at 0.1 s.
    server.send("step\r\ndetector 1011 occupied\r\ndetector 7 occupied\r\n");
    EXPECT_EQ(ALL_RED, server.line());
    server.send("step \t\r\n");  // trailing blanks and a tab still make "step"
    EXPECT_EQ(ALL_RED, server.line());
    server.send("detector 1012 free\r\nstep\r\n");
    EXPECT_EQ(ALL_RED, server.line());
    server.close();
    finish();
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_NE(std::string::npos, result.out.find("Connected to 127.0.0.1:"));
    EXPECT_NE(std::string::npos, result.out.find("Time:   0.1 Made detector 1011 -> 11 active."))
        << result.out;
    EXPECT_NE(std::string::npos, result.out.find("Made detector 1012 -> 12 inactive."));
    EXPECT_EQ(std::string::npos, result.out.find("Made detector 7 ")) << "not ours: silent";
    EXPECT_EQ("ruvalda-cli: 1 detector line from the simulator passed over: " +
                  crossing.substr(0, crossing.size() - 4) +
                  ".DTL maps no detector of the program to its number",
              lines_of(result.err).back());
    EXPECT_NE(std::string::npos, result.out.find("Conflict monitor: 0 violations."));
    // The timeline of the run: the program, the address, the streams and detector 11's bar.
    const std::string svg = read_file(dir + "/sumo.svg");
    EXPECT_NE(std::string::npos, svg.find("crossing.rvc, " + url(server.port)))
        << svg.substr(0, 300);
    EXPECT_NE(std::string::npos, svg.find(">38<"));
    const std::string occupied = "#1f4e9c";  // the legend's swatch, then detector 11's mark
    EXPECT_NE(svg.rfind(occupied), svg.find(occupied)) << svg;
}

TEST_F(SumoClientTest, programWithoutDetectorFile_isToldAtTheStart) {
    crossing = dir + "/crossing.rvc";
    write_file(crossing,
               read_file(std::string(RUVALDA_SOURCE_DIR) + "/examples/crossing/crossing.rvc"));
    ScriptedServer server;
    start(url(server.port));
    server.accept();
    server.line();
    server.send("detector 1011 occupied\r\ndetector 1012 occupied\r\nstep\r\n");
    server.line();
    server.close();
    finish();
    EXPECT_EQ(1, result.exit_code) << "the run saw no demand";
    const std::vector<std::string> err = lines_of(result.err);
    ASSERT_EQ(3u, err.size()) << result.err;
    EXPECT_EQ(crossing + ": warning: there is no " + dir +
                  "/crossing.DTL: the simulator's detectors cannot reach the 18 detectors the "
                  "rules read, so no demand is seen",
              err[1]);
    EXPECT_EQ("ruvalda-cli: 2 detector lines from the simulator passed over: " + dir +
                  "/crossing.DTL maps no detector of the program to their numbers",
              err[2]);
}

TEST_F(SumoClientTest, nonsense_endsTheConnectionWithTheMessage) {
    const struct {
        std::string line, message;
    } cases[] = {
        {"Step\r\n", "Sumo sent unknown command (\"Step\"); disconnecting"},
        {"step now\r\n", "Sumo sent unknown command (\"step now\"); disconnecting"},
        {"detector 1011 busy\r\n", "Sumo sent unknown ocuupancy state; disconnecting"},
    };
    for (const auto& c : cases) {
        ScriptedServer server;
        start(url(server.port));
        server.accept();
        server.line();
        server.send(c.line);
        EXPECT_EQ("", server.line()) << "the controller hangs up";
        finish();
        EXPECT_EQ(1, result.exit_code);
        EXPECT_NE(std::string::npos, result.out.find(c.message)) << result.out;
    }
}

TEST_F(SumoClientTest, addressFaults_areReported) {
    int free_port = 0;
    {
        ScriptedServer gone;
        free_port = gone.port;
    }  // closed again: nobody listens there
    start(url(free_port));
    finish();
    EXPECT_EQ(1, result.exit_code);
    EXPECT_NE(std::string::npos,
              result.err.find("Simulator Error in connect phase: (connecting to 127.0.0.1:" +
                              std::to_string(free_port) + ")"))
        << result.err;

    start("sumo://localhost:abc");
    finish();
    EXPECT_EQ(1, result.exit_code);
    EXPECT_NE(std::string::npos,
              result.err.find("Error in TFormMain::FormPaint: Bad port number in argument: "
                              "sumo://localhost:abc"));
}

}  // namespace
}  // namespace ruvalda::test
