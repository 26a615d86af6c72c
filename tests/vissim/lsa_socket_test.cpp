// The local-socket transport: frames, and a server and client talking over a real socket, with
// a plain callback in place of the conversation.
#include "vissim/lsa_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

using namespace ruvalda;

namespace {

// What the server's callback saw; the callback is a plain function, so this is shared.
struct Served {
    std::vector<LsaXtyp> types;
    std::vector<std::vector<std::uint8_t>> pokes;
    std::vector<std::uint8_t> reply{1, 2, 3, 4};
    LsaHsz vissim = 0;
    LsaHsz rechnen = 0;
};
Served served;

LsaAnswer callback(const LsaTransaction& t) {
    served.types.push_back(t.type);
    LsaAnswer a;
    switch (t.type) {
        case LsaXtyp::Connect:
            a.result = t.hsz1 == served.vissim ? 1 : 0;
            break;
        case LsaXtyp::Poke:
            served.pokes.emplace_back(t.data, t.data + t.size);
            a.result = t.hsz2 == served.rechnen ? LSA_FACK : LSA_FNOTPROCESSED;
            break;
        case LsaXtyp::Request:
            a.has_reply = t.hsz2 == served.rechnen;
            a.reply = &served.reply;
            break;
        default:
            break;
    }
    return a;
}

class LsaSocketTest : public ::testing::Test {
  protected:
    test::RuntimeDir runtime;
    std::string dir = runtime.path();
    LsaSocketServer server;
    std::atomic<bool> stop{false};
    std::thread loop;

    void SetUp() override { served = Served{}; }
    void TearDown() override {
        stop = true;
        if (loop.joinable()) loop.join();
    }

    // Registers vavozi07 and, unless told otherwise, serves it from a thread of its own.
    void serve(bool start_loop = true) {
        ASSERT_TRUE(server.initialize(callback));
        const LsaHsz service = server.create_string_handle("vavozi07");
        served.vissim = server.create_string_handle("VISSIM");
        served.rechnen = server.create_string_handle("Rechnen");
        ASSERT_TRUE(server.register_service(service));
        if (start_loop) serve_loop();
    }
    void serve_loop() {
        loop = std::thread([this] {
            while (!stop) server.poll_once(10);
        });
    }

    // A raw connection to the server's socket.
    int raw_connection() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = dir + "/vavozi07";
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
        return fd;
    }
};

TEST(LsaFrames, encodeDecodeRoundTripAndRefuseMalformedBodies) {
    LsaFrame frame;
    frame.kind = LSA_FRAME_POKE;
    frame.format = LSA_FORMAT;
    frame.topic = "VISSIM";
    frame.item = "Rechnen";
    frame.data = {0xE7, 0x03, 0, 0};
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(lsa_encode_frame(frame, &bytes));
    ASSERT_EQ(bytes.size(), 4u + 1 + 4 + 2 + 6 + 2 + 7 + 4);
    EXPECT_EQ(bytes[0], bytes.size() - 4);  // the length word counts what follows it
    LsaFrame back;
    ASSERT_TRUE(lsa_decode_frame(bytes.data() + 4, bytes.size() - 4, &back));
    EXPECT_EQ(back.kind, frame.kind);
    EXPECT_EQ(back.format, 128u);
    EXPECT_EQ(back.topic, "VISSIM");
    EXPECT_EQ(back.item, "Rechnen");
    EXPECT_EQ(back.data, frame.data);

    // Cut inside the item name, names longer than 255, or too short for the header.
    EXPECT_FALSE(lsa_decode_frame(bytes.data() + 4, 16, &back));
    EXPECT_FALSE(lsa_decode_frame(bytes.data() + 4, 4, &back));
    frame.item = std::string(256, 'x');
    EXPECT_FALSE(lsa_encode_frame(frame, &bytes));
    std::vector<std::uint8_t> long_name = {2, 0, 0, 0, 0, 0, 1};  // topic claims 256 bytes
    long_name.resize(long_name.size() + 300, 'a');
    EXPECT_FALSE(lsa_decode_frame(long_name.data(), long_name.size(), &back));
}

TEST_F(LsaSocketTest, conversation_connectPokeRequestDisconnect) {
    serve();
    LsaSocketClient client;
    ASSERT_TRUE(client.connect("vavozi07", "vissim", 2000)) << client.last_error();
    EXPECT_EQ(client.poke("Rechnen", {9, 8, 7}), LsaPokeResult::Acknowledged);
    EXPECT_EQ(client.poke("Other", {}), LsaPokeResult::NotProcessed);
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(client.request("RECHNEN", &reply));
    EXPECT_EQ(reply, served.reply);
    EXPECT_FALSE(client.request("Other", &reply));
    client.disconnect();
    for (int i = 0; i < 200 && served.types.size() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    loop.join();
    EXPECT_EQ(served.types,
              (std::vector<LsaXtyp>{LsaXtyp::Connect, LsaXtyp::Poke, LsaXtyp::Poke,
                                    LsaXtyp::Request, LsaXtyp::Request, LsaXtyp::Disconnect}));
    ASSERT_EQ(served.pokes.size(), 2u);
    EXPECT_EQ(served.pokes[0], (std::vector<std::uint8_t>{9, 8, 7}));
}

TEST_F(LsaSocketTest, refusedTopic_andNoServer_areReportedToTheClient) {
    LsaSocketClient client;
    EXPECT_FALSE(client.connect("vavozi07", "VISSIM", 0));
    EXPECT_NE(client.last_error().find("no controller serves vavozi07"), std::string::npos);
    serve();
    EXPECT_FALSE(client.connect("vavozi07", "Other", 2000));
    EXPECT_EQ(client.last_error(), "vavozi07 refused the topic Other");
    EXPECT_EQ(client.poke("Rechnen", {}), LsaPokeResult::Failed);
}

TEST_F(LsaSocketTest, garbage_endsTheConversationAsADisconnect) {
    serve();
    LsaSocketClient client;
    ASSERT_TRUE(client.connect("vavozi07", "VISSIM", 2000));
    // A second client while VISSIM is connected finds the line closed.
    LsaSocketClient second;
    EXPECT_FALSE(second.connect("vavozi07", "VISSIM", 2000));

    const int fd = raw_connection();  // refused as well: closed before anything is read
    ::close(fd);
    client.disconnect();
    for (int i = 0; i < 200 && served.types.size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    // A frame claiming 1 GiB: the server drops the connection without a callback, as nothing
    // was connected.
    const int raw = raw_connection();
    const std::uint8_t huge[] = {0, 0, 0, 0x40, 1};
    ASSERT_EQ(static_cast<ssize_t>(sizeof huge), ::send(raw, huge, sizeof huge, MSG_NOSIGNAL));
    char byte = 0;
    EXPECT_GE(0, ::recv(raw, &byte, 1, 0));  // closed (or reset) by the server
    ::close(raw);
    stop = true;
    loop.join();
    EXPECT_EQ(served.types, (std::vector<LsaXtyp>{LsaXtyp::Connect, LsaXtyp::Disconnect}));
}

// A second controller started on the same number probes the socket (connects and closes at
// once). VISSIM connecting before the server has read the probe's end is still served.
TEST_F(LsaSocketTest, probeEndedBeforeItWasRead_doesNotKeepVissimOut) {
    serve(false);
    ::close(raw_connection());
    LsaSocketClient client;
    bool connected = false;
    std::thread vissim([&] { connected = client.connect("vavozi07", "VISSIM", 2000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // both wait to be accepted
    serve_loop();
    vissim.join();
    EXPECT_TRUE(connected) << client.last_error();
    client.disconnect();
}

TEST_F(LsaSocketTest, registration_takesOverAStaleSocketButNotALivingOne) {
    // vavozi07 is served; a controller serving vavozi08 died and left its socket file behind.
    {
        LsaSocketServer living;
        ASSERT_TRUE(living.initialize(callback));
        ASSERT_TRUE(living.register_service(living.create_string_handle("vavozi07")));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/vavozi08", dir.c_str());
        ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
        ::close(fd);  // bound, never listened: what a crash leaves

        LsaSocketServer other;
        ASSERT_TRUE(other.initialize(callback));
        EXPECT_FALSE(other.register_service(other.create_string_handle("vavozi07")));
        EXPECT_TRUE(other.register_service(other.create_string_handle("vavozi08")));
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/vavozi07"));  // removed by its owner
    EXPECT_EQ(lsa_socket_path("vavozi07"), dir + "/vavozi07");
}

}  // namespace
