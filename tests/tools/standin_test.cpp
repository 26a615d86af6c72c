// The stand-in's checks: against a controller that answers wrongly in one way or another, the
// run stops at the first bad answer and names the step; the scenario reader's rules.
#include "tools/vissim-standin/standin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"
#include "vissim/lsa_puff.h"
#include "vissim/lsa_socket.h"

using namespace ruvalda;
using namespace ruvalda::standin;

namespace {

// The controller's answers for the current test: the reply to each "Wunschbild" and the answer
// to each "Rechnen" (a plain function is the transport's callback, so this is shared).
struct Script {
    std::vector<std::int32_t> reply;
    std::uint32_t rechnen = LSA_FACK;
    LsaHsz rechnen_item = 0;
    std::vector<std::uint8_t> bytes;
};
Script script;
std::atomic<int> disconnects{0};

LsaAnswer scripted(const LsaTransaction& t) {
    LsaAnswer a;
    if (t.type == LsaXtyp::Connect) a.result = 1;
    if (t.type == LsaXtyp::Disconnect) ++disconnects;
    if (t.type == LsaXtyp::Poke)
        a.result = t.hsz2 == script.rechnen_item ? script.rechnen : LSA_FACK;
    if (t.type == LsaXtyp::Request) {
        script.bytes = lsa_bytes(script.reply);
        a.has_reply = true;
        a.reply = &script.bytes;
    }
    return a;
}

class StandinTest : public ::testing::Test {
  protected:
    test::RuntimeDir runtime;
    LsaSocketServer server;
    std::atomic<bool> stop{false};
    std::thread loop;
    Scenario scenario;

    void SetUp() override {
        script = Script{};
        disconnects = 0;
        ASSERT_TRUE(server.initialize(scripted));
        ASSERT_TRUE(server.register_service(server.create_string_handle("vavozi07")));
        script.rechnen_item = server.create_string_handle("Rechnen");
        loop = std::thread([this] {
            while (!stop) server.poll_once(10);
        });
        std::istringstream in("duration 1\nsignalgroups 1 2\n0.1 1011 1\n");
        std::string error;
        ASSERT_TRUE(read_scenario(in, &scenario, &error)) << error;
    }
    void TearDown() override {
        stop = true;
        loop.join();
    }

    // One run; returns once the controller has seen its end (the next one may connect then).
    StandinResult run() {
        const int before = disconnects;
        StandinResult r;
        {
            LsaSocketClient client;
            StandinOptions options;
            options.wishes = nullptr;
            options.connect_timeout_ms = 2000;
            r = run_standin(client, scenario, options);
        }
        for (int i = 0; i < 400 && disconnects == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return r;
    }
};

TEST_F(StandinTest, answersThatFitTheScenario_pass) {
    // The scripted reply echoes step 1's time value (1 at five steps a second): one step only.
    script.reply = {1000, 0, 5, 1002, 0, 1, 1011, 0, 1, 2003, 1, 4, 3011, 1011, 0, 999};
    scenario.duration_millis = 200;
    const StandinResult r = run();
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.steps, 1);
    EXPECT_EQ(r.wishes, 1);
}

TEST_F(StandinTest, wrongAnswers_stopTheRunAtTheirStep) {
    const std::vector<std::pair<std::vector<std::int32_t>, std::string>> cases = {
        {{1000, 0, 5, 1002, 0, 1, 1011, 0, 1}, "reply does not end with 999"},
        {{1000, 0, 5, 1002, 0, 7, 1011, 0, 1, 999}, "1002 came back as 7, not 1"},
        {{1000, 0, 0, 1002, 0, 1, 1011, 0, 1, 999}, "step divisor 0 out of 1..10"},
        {{1000, 0, 5, 1002, 0, 1, 1011, 0, 1, 2003, 3, 4, 999},
         "wish for signal group 3, which VISSIM does not have"},
        {{1000, 0, 5, 1002, 0, 1, 1011, 0, 1, 2003, 1, -1, 999},
         "wished picture -1 for signal group 1"},
        {{1000, 0, 5, 1002, 0, 1, 1011, 0, 1, 3011, 1012, 0, 999},
         "impulse clear for detector 1012 which VISSIM does not report"},
        {{1000, 0, 5, 1002, 0, 1, 1011, 0, 1, 4711, 0, 0, 999}, "unexpected triple 4711"},
        {{999}, "reply does not start with the triples 1000, 1002 and 1011"},
    };
    for (const auto& [reply, message] : cases) {
        script.reply = reply;
        const StandinResult r = run();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.rfind("step 1: ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find(message), std::string::npos) << r.error;
    }
    script.reply = {1000, 0, 5, 1002, 0, 1, 1011, 0, 1, 999};
    script.rechnen = LSA_FBUSY;
    const StandinResult busy = run();
    EXPECT_NE(busy.error.find("step 1: Rechnen answered busy"), std::string::npos) << busy.error;
}

TEST(StandinScenario, settingsEventsAndTheirLimits) {
    std::istringstream in(
        "# the crossing\ncontroller 12\r\nresolution 10\nsignalgroups 2 1 2\n"
        "5 1011 1\n0.25 1012 1\n5 1011 0\n");
    Scenario s;
    std::string error;
    ASSERT_TRUE(read_scenario(in, &s, &error)) << error;
    EXPECT_EQ(s.controller, 12);
    EXPECT_EQ(s.resolution, 10);
    EXPECT_EQ(s.signal_groups, (std::vector<int>{2, 1}));
    ASSERT_EQ(s.events.size(), 3u);
    EXPECT_EQ(s.events[0].millis, 250);  // sorted by time; equal times keep their order
    EXPECT_EQ(s.events[1].state, 1);
    EXPECT_EQ(s.events[2].state, 0);
    EXPECT_EQ(s.detectors, (std::vector<int>{1011, 1012}));
    EXPECT_EQ(s.duration_millis, 15000);  // 10 s after the last event

    for (const char* bad : {"signalgroups 1\nresolution 11\n", "signalgroups 1000\n",
                            "signalgroups 1\n1.2345 1011 1\n", "signalgroups 1\n1 2001 1\n",
                            "signalgroups 1\n1 1011 2\n", "signalgroups 1\ncontroller 10000\n",
                            "signalgroups 1\nduration 1000001\n", "signalgroups 1\n1 1011\n"}) {
        std::istringstream text(bad);
        EXPECT_FALSE(read_scenario(text, &s, &error)) << bad;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
    }
}

}  // namespace
