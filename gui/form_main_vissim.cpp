// The main window's side of the VISSIM coupling: the five-argument start, the local socket the
// conversation runs on, the coupling's message boxes and what the control step asks of the
// windows. The conversation itself is vissim/lsa.
#include <QCoreApplication>
#include <QSocketNotifier>

#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/form_main.h"
#include "gui/form_map.h"
#include "output/output.h"
#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_socket.h"

namespace ruvalda {

namespace {

void show_coupling_box(const std::string& text) {
    MessageBoxRequest request;
    request.icon = QMessageBox::Critical;
    request.caption = LSA_BOX_TITLE;
    request.text = QString::fromStdString(cp1252_to_utf8(text));
    request.topmost = true;
    dialog_host().message_box(request);
}

}  // namespace

void TFormMain::vissim_start() {
    if (!OpenForSimulator(arguments_[3])) {
        if (map_) map_->SetEditMode(true);
        return;
    }
    app_state.vissimMode = true;
    engine.output.vissim_mode = true;
    lsa_state.fehl.lsa_nr2 =
        static_cast<unsigned long>(lsa_argument_number(arguments_[1].toStdString()));
    lsa_state.fehl.box = show_coupling_box;
    LsaHost& host = lsa_state.host;
    host.process_messages = [] { QCoreApplication::processEvents(); };
    host.set_detector_check_box = [this](int detector, int state) {
        if (map_) map_->SetDetectorCheckBox(detector, -100, -100, true, state);
    };
    host.arrange_windows = [this] {
        if (map_) map_->ArrangeWindows(true);
    };
    host.destroy_main_window = [this] { end_now(); };
    vissim_transport_ = std::make_unique<LsaSocketServer>();
    vissim_transport_->on_fds_changed = [this] { vissim_watch(); };
    lsa_state.transport = vissim_transport_.get();
    // Nobody could ever reach a controller whose registration failed: its box ends the program.
    if (!Init_LSAtoSIM(lsa_state, engine, lsa_argument_number(arguments_[0].toStdString())))
        end_now();
}

void TFormMain::vissim_watch() {
    for (QSocketNotifier* notifier : vissim_notifiers_) {
        notifier->setEnabled(false);
        notifier->deleteLater();  // may be the one whose signal is running
    }
    vissim_notifiers_.clear();
    if (!vissim_transport_) return;
    for (const int fd : vissim_transport_->watched_fds()) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
            if (vissim_transport_) vissim_transport_->serve(fd);
        });
        vissim_notifiers_.push_back(notifier);
    }
}

void TFormMain::vissim_stop() {
    for (QSocketNotifier* notifier : vissim_notifiers_) notifier->setEnabled(false);
    vissim_notifiers_.clear();
    if (lsa_state.transport == vissim_transport_.get()) lsa_state.transport = nullptr;
    vissim_transport_.reset();
}

}  // namespace ruvalda
