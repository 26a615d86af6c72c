// The main window's side of the SUMO coupling: the TCP client, its polling pass and the end of
// the program with the connection. The protocol itself is app/sumo_protocol.
#include <QTcpSocket>
#include <QTimer>

#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/form_main.h"
#include "gui/form_map.h"
#include "loader/warnings.h"
#include "output/output.h"
#include "sumo/sumo_protocol.h"

namespace ruvalda {

namespace {

SumoPort sumo_port(QTcpSocket* client, TFormMap* map) {
    SumoPort port;
    port.write = [client](const std::string& text, std::string* error) {
        const qint64 size = static_cast<qint64>(text.size());
        if (client->write(text.data(), size) == size) {
            client->flush();  // at once, not when the event loop gets to it
            return true;
        }
        *error = client->errorString().toStdString();
        return false;
    };
    if (map)
        port.show_detector = [map](int detector, int state) {
            map->SetDetectorCheckBox(detector, -100, -100, true, state);
        };
    return port;
}

}  // namespace

void TFormMain::sumo_start(const QString& host, int port) {
    tcp_client_ = new QTcpSocket(this);
    tcp_client_->setObjectName("IdTCPClient");
    connect(tcp_client_, &QTcpSocket::connected, this, [this] { sumo_connected(); });
    connect(tcp_client_, &QTcpSocket::disconnected, this, [this] { IdTCPClientDisconnected(); });
    connect(tcp_client_, &QTcpSocket::errorOccurred, this, [this] {
        // A connection that never stood raises no disconnection of its own.
        if (!sumo_link.connect_phase.empty()) IdTCPClientDisconnected();
    });
    // A pass as soon as data arrive, besides the 10 ms polling.
    connect(tcp_client_, &QTcpSocket::readyRead, this, [this] { TimerTCPReadTimer(); });
    connect(timer_tcp_read_, &QTimer::timeout, this, [this] { TimerTCPReadTimer(); });
    sumo_link.connect_phase = QString("(connecting to %1:%2)").arg(host).arg(port).toStdString();
    tcp_client_->connectToHost(host, static_cast<quint16>(port));
}

void TFormMain::sumo_connected() {
    tcp_client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    traceprintf(engine.output, "Connected to %s:%d\n",
                tcp_client_->peerName().toLocal8Bit().constData(), tcp_client_->peerPort());
    sumo_link.connect_phase.clear();
    for (const Warning& w :
         coupling_warnings(engine, app_state.control_file_name.toLocal8Bit().toStdString()))
        traceprintf(engine.output, "%s\n", warning_line(w).c_str());
    RVInitialize(engine);
    timer_tcp_read_->start();
    SendLightsToSumo();
    if (map_) map_->SetEditMode(true);
}

bool TFormMain::SendLightsToSumo() {
    if (!tcp_client_) return false;
    const bool sent = ruvalda::SendLightsToSumo(sumo_link, engine, sumo_port(tcp_client_, map_));
    if (!sent) end_now();
    return sent;
}

void TFormMain::TimerTCPReadTimer() {
    if (!tcp_client_ || tcp_client_->peerName().isEmpty() || sumo_pass_running_) return;
    if (tcp_client_->state() != QAbstractSocket::ConnectedState) return;
    // Nothing inside the pass (a message box, the engine's step) may start another one.
    sumo_pass_running_ = true;
    timer_tcp_read_->stop();
    const QByteArray data = tcp_client_->readAll();
    sumo_receive(sumo_link, data.constData(), static_cast<std::size_t>(data.size()));
    const SumoPass pass = sumo_polling_pass(sumo_link, engine, sumo_port(tcp_client_, map_));
    sumo_pass_running_ = false;
    if (pass == SumoPass::Disconnect) {
        tcp_client_->disconnectFromHost();
        if (tcp_client_->state() == QAbstractSocket::UnconnectedState) IdTCPClientDisconnected();
        return;
    }
    if (engine.output.end_requested) return;
    timer_tcp_read_->start();
    // Lines that came with the step wait for the next pass, which need not wait for the timer.
    if (pass == SumoPass::Stepped && sumo_link.received.find('\n') != std::string::npos)
        QTimer::singleShot(0, this, [this] { TimerTCPReadTimer(); });
}

void TFormMain::IdTCPClientDisconnected() {
    timer_tcp_read_->stop();
    if (!sumo_link.connect_phase.empty()) {
        const std::string phase = sumo_link.connect_phase;
        sumo_link.connect_phase.clear();
        report_error(engine.output, SIMULATOR_ERROR, "connect phase", "%s", phase.c_str());
    }
    if (const std::uint64_t lines = sumo_link.untranslated_detector_lines)
        traceprintf(
            engine.output, "%s\n",
            untranslated_lines_note(lines, app_state.control_file_name.toLocal8Bit().toStdString())
                .c_str());
    end_now();
}

}  // namespace ruvalda
