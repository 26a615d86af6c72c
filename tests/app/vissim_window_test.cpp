// The desktop application started by VISSIM: the five-argument start, a whole conversation over
// the local socket with the windows following it, and the coupling's own boxes.
#include <QCoreApplication>
#include <QEventLoop>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>

#include "gui/map_widgets.h"
#include "map/map_model.h"
#include "tests/app/gui_fixture.h"
#include "vissim/lsa_socket.h"

namespace ruvalda::test {
namespace {

// What VISSIM's side saw.
struct Conversation {
    bool connected = false;
    int acknowledged = 0;
    std::map<int, int> wishes;  // signal group -> latest VISSIM picture code
    std::string error;
};

class VissimWindowTest : public GuiTest {
  protected:
    RuntimeDir runtime;                // where the controller's socket goes
    std::unique_ptr<WorkingDir> here;  // where its error file goes

    void SetUp() override {
        GuiTest::SetUp();
        here = std::make_unique<WorkingDir>(dir);
    }
    void TearDown() override {
        GuiTest::TearDown();
        here.reset();
    }

    QStringList vissim_arguments(const char* number) const {
        return {number, "3", "x", QString::fromStdString(example("crossing/crossing.rvc")), "y"};
    }

    // Runs VISSIM's side in a thread while the windows serve it from the event loop.
    Conversation converse(int steps, int occupied_from) {
        auto client = std::async(std::launch::async, [steps, occupied_from] {
            Conversation c;
            LsaSocketClient vissim;
            c.connected = vissim.connect("vavozi07", "VISSIM", 5000);
            if (!c.connected) {
                c.error = vissim.last_error();
                return c;
            }
            std::vector<std::int32_t> init;
            for (int sg : {1, 2, 4, 5, 7, 8, 10, 11}) init.insert(init.end(), {2001, sg, 2});
            init.push_back(999);
            if (vissim.poke("Init", lsa_bytes(init)) == LsaPokeResult::Acknowledged)
                ++c.acknowledged;
            for (int k = 1; k <= steps; ++k) {
                std::vector<std::int32_t> buffer;
                for (int sg : {1, 2, 4, 5, 7, 8, 10, 11})
                    buffer.insert(buffer.end(), {2001, sg, c.wishes.count(sg) ? c.wishes[sg] : 2});
                const int on = k >= occupied_from ? 1 : 0;
                buffer.insert(buffer.end(),
                              {3001, 1011, on, 3031, 1011, on * 100, 9101, 0, k, 999});
                if (vissim.poke("Rechnen", lsa_bytes(buffer)) == LsaPokeResult::Acknowledged)
                    ++c.acknowledged;
                std::vector<std::uint8_t> reply;
                if (!vissim.request("Wunschbild", &reply)) break;
                const std::vector<std::int32_t> v = lsa_values(reply);
                for (std::size_t i = 0; i + 2 < v.size(); i += 3)
                    if (v[i] == 2002 || v[i] == 2003) c.wishes[v[i + 1]] = v[i + 2];
            }
            vissim.disconnect();
            return c;
        });
        while (client.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return client.get();
    }
};

TEST_F(VissimWindowTest, fiveArguments_registerTheControllerAndHideTheRunControls) {
    start(vissim_arguments("7"));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(app_state.vissimMode);
    EXPECT_FALSE(app_state.ownClock);
    EXPECT_TRUE(std::filesystem::exists(runtime.path() + "/vavozi07"));
    EXPECT_FALSE(main_window->findChild<QWidget*>("PanelSpeedButtons")->isVisible());
    EXPECT_FALSE(map_window->edit_mode());
    EXPECT_EQ(0, end_requests);
}

TEST_F(VissimWindowTest, conversation_drivesTheEngineMapAndTraceUntilTheDisconnectEndsIt) {
    start(vissim_arguments("7"));
    const std::string trace = dir + "/vissim.txt";
    host.files = {QString::fromStdString(trace)};
    item("ItemTraceVissimCommunications")->trigger();

    const Conversation c = converse(150, 20);  // 30 s; a car waits on 1011 from 4 s on
    ASSERT_TRUE(c.connected) << c.error;
    EXPECT_EQ(151, c.acknowledged);
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text.toStdString();
    EXPECT_EQ(300, engine.current_time);
    EXPECT_EQ(lsa_state.steps, 150u);
    // Stream 1 was called by its detector and is shown and wished green (VISSIM code 4).
    EXPECT_EQ('G', map_model.colour[1]);
    EXPECT_EQ(4, c.wishes.at(1));
    for (DetectorBox* box : map_window->findChildren<DetectorBox*>()) {
        if (box->tag() == 11) {
            EXPECT_TRUE(box->isChecked());
        }
    }
    EXPECT_EQ(1, end_requests) << "the disconnect ends the program";
    QApplication::processEvents();
    save(main_window.get(), "vissim-main-window.png");
    save(map_window.get(), "vissim-map.png");

    // The map was redrawn at "Init": streams VISSIM did not report were warned about, once each.
    const std::string warnings = read_file(dir + "/lsa7.err");
    EXPECT_EQ(0u, warnings.find("LSA 3\nFunktion LSA_PUFF.VonLSA:\n"));
    EXPECT_NE(std::string::npos, warnings.find("Interne Signalgruppennummer 31 unbekannt!\n"));
    EXPECT_EQ(std::string::npos, warnings.find("Interne Signalgruppennummer 1 unbekannt!\n"));

    main_window->ItemTraceVissimCommunicationsClick();  // closes the trace
    const std::string text = read_file(trace);
    EXPECT_EQ(0u, text.find("SteuerungBerechnung called, time=0.2: 1011=0 .\n"));
    EXPECT_NE(std::string::npos, text.find("SteuerungBerechnung called, time=30.0: 1011=1 .\n"));
}

TEST_F(VissimWindowTest, badControllerNumber_showsTheCouplingsBoxAndEnds) {
    start(vissim_arguments("10000"));
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ("Ruvalda/SIM", host.boxes[0].caption);
    EXPECT_TRUE(host.boxes[0].topmost);
    EXPECT_EQ(QMessageBox::Critical, host.boxes[0].icon);
    EXPECT_EQ(
        "Interner Fehler!\nFunktion: PROZKOMM.VAVOZI_String\nGrund:    Unzulässiger "
        "Parameter <nr>\n",
        host.boxes[0].text);
    EXPECT_EQ(1, end_requests);
}

TEST_F(VissimWindowTest, missingControlFile_startsNoCouplingAndLeavesEditingOn) {
    host.answers = {QMessageBox::Yes};
    start({"7", "3", "x", QString::fromStdString(dir + "/missing.rvc"), "y"});
    EXPECT_FALSE(app_state.vissimMode);
    EXPECT_FALSE(std::filesystem::exists(runtime.path() + "/vavozi07"));
    EXPECT_TRUE(map_window->edit_mode());
}

}  // namespace
}  // namespace ruvalda::test
