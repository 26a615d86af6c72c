// The desktop as SUMO's controller: started with a sumo:// address, against a scripted server
// on loopback. The event loop runs while the test waits for the server's side.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include "gui/map_widgets.h"
#include "sumo/sumo_protocol.h"
#include "tests/app/gui_fixture.h"

namespace ruvalda::test {
namespace {

class SumoWindowTest : public GuiTest {
  protected:
    QTcpServer server;
    QTcpSocket* peer = nullptr;

    void SetUp() override {
        GuiTest::SetUp();
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    }
    // Runs the event loop until the condition holds (at most 10 s).
    bool wait_for(const std::function<bool()>& condition) {
        QElapsedTimer clock;
        clock.start();
        while (!condition() && clock.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return condition();
    }
    void start_coupled() {
        start({QString::fromStdString(example("crossing/crossing.rvc")),
               QString("sumo://127.0.0.1:%1").arg(server.serverPort())});
        ASSERT_TRUE(wait_for([&] { return server.hasPendingConnections(); }));
        peer = server.nextPendingConnection();
    }
    std::string line() {
        wait_for([&] { return peer->canReadLine(); });
        return peer->readLine().toStdString();
    }
    bool pane_has(const std::string& text) {
        for (const std::string& l : engine.output.pane.lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
};

const std::string ALL_RED = "lights " + std::string(16, 'r') + "\r\n";

TEST_F(SumoWindowTest, lightsFirst_stepAnswered_detectorShownOnTheMap) {
    start_coupled();
    EXPECT_EQ(ALL_RED, line());
    EXPECT_FALSE(app_state.ownClock);
    EXPECT_FALSE(main_window->findChild<QWidget*>("PanelSpeedButtons")->isVisible());
    EXPECT_TRUE(pane_has("Connected to 127.0.0.1:"));
    peer->write("step\r\ndetector 1011 occupied\r\n");
    EXPECT_EQ(ALL_RED, line());
    ASSERT_TRUE(wait_for([&] { return RVExportDetector(engine, 11) == 1; }));
    EXPECT_TRUE(pane_has("Time:   0.1 Made detector 1011 -> 11 active."));
    EXPECT_TRUE(map_window->findChild<DetectorBox*>("CheckBox11")->isChecked());
    EXPECT_EQ(1, RVGetTime(engine));
    peer->write("step\r\n");
    EXPECT_EQ(ALL_RED, line());
    EXPECT_EQ(2, RVGetTime(engine));

    peer->disconnectFromHost();
    EXPECT_TRUE(wait_for([&] { return end_requests > 0; })) << "the end of the connection ends it";
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(SumoWindowTest, unknownCommand_disconnectsAndEnds) {
    start_coupled();
    line();
    peer->write("Step\r\n");
    EXPECT_TRUE(wait_for([&] { return end_requests > 0; }));
    EXPECT_TRUE(pane_has("Sumo sent unknown command (\"Step\"); disconnecting"));
}

TEST_F(SumoWindowTest, failedConnection_reportsTheConnectPhase) {
    const quint16 port = server.serverPort();
    server.close();
    start({QString::fromStdString(example("crossing/crossing.rvc")),
           QString("sumo://127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(wait_for([&] { return end_requests > 0; }));
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ(QString("Simulator Error in connect phase: (connecting to 127.0.0.1:%1)"
                      "\r\n\r\nContinue ?")
                  .arg(port),
              host.boxes[0].text);
}

TEST_F(SumoWindowTest, badPort_isReportedAndEnds) {
    start({QString::fromStdString(example("crossing/crossing.rvc")), "sumo://localhost:abc"});
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ(
        "Error in TFormMain::FormPaint: Bad port number in argument: sumo://localhost:abc"
        "\r\n\r\nContinue ?",
        host.boxes[0].text);
    EXPECT_EQ(1, end_requests);
}

}  // namespace
}  // namespace ruvalda::test
