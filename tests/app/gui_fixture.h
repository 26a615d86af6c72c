// The three windows as the entry makes them, on the offscreen platform, with message boxes and
// file dialogs answered by the test and the own clock read from the test.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/form_main.h"
#include "gui/form_map.h"
#include "gui/select_formula.h"
#include "loader/reader.h"
#include "output/output.h"
#include "tests/support/test_support.h"
#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"

// Readable failures for texts of the windows.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace ruvalda::test {

class GuiTest : public test::ControllerTest {
  protected:
    ScriptedDialogHost host;
    AppState app_state;
    std::unique_ptr<TFormMain> main_window;
    std::unique_ptr<TFormMap> map_window;
    std::unique_ptr<TFormSelectFormula> trace_dialog;
    int now_millis = 0;    // the wall clock the real-time tick reads
    int end_requests = 0;  // times the application was told to end
    std::string dir;       // scratch folder of the test

    void SetUp() override {
        set_dialog_host(&host);
        dir = temp_dir();
    }

    void TearDown() override {
        close_all();
        set_dialog_host(nullptr);
    }

    // Destroys the windows as the entry does; the dialog is a child of the main window.
    void close_all() {
        trace_dialog.reset();
        map_window.reset();
        main_window.reset();
    }

    // Starts the application with these arguments, up to its first paint. The timers are
    // stopped: tests raise their events themselves.
    void start(const QStringList& arguments) {
        main_window = std::make_unique<TFormMain>(controller, app_state, arguments);
        map_window = std::make_unique<TFormMap>(controller, app_state);
        trace_dialog = std::make_unique<TFormSelectFormula>(engine, app_state, main_window.get());
        main_window->set_windows(map_window.get(), trace_dialog.get());
        main_window->wall_millis = [this] { return now_millis; };
        main_window->end_application = [this] { ++end_requests; };
        for (QTimer* timer : main_window->findChildren<QTimer*>()) timer->stop();
        main_window->show();
        main_window->FormPaint();
        QApplication::processEvents();
        for (QTimer* timer : main_window->findChildren<QTimer*>()) timer->stop();
    }

    QPushButton* button(const char* name) {
        auto* found = main_window->findChild<QPushButton*>(name);
        EXPECT_NE(nullptr, found) << name;
        return found;
    }
    QAction* item(const char* name) {
        auto* found = main_window->findChild<QAction*>(name);
        EXPECT_NE(nullptr, found) << name;
        return found;
    }
    QMenu* menu(const char* name) {
        auto* found = main_window->findChild<QMenu*>(name);
        EXPECT_NE(nullptr, found) << name;
        return found;
    }
    // Enabled states of Run, Step, Pause, Reset as "1010".
    std::string buttons() {
        std::string states;
        for (const char* name : {"BitBtnRun", "BitBtnStep", "BitBtnPause", "BitBtnReset"})
            states += button(name)->isEnabled() ? '1' : '0';
        return states;
    }
    std::vector<std::string> pane() const {
        return {engine.output.pane.lines.begin(), engine.output.pane.lines.end()};
    }
    // A control file of these lines in the scratch folder.
    std::string small_program(const std::string& text) {
        const std::string path = dir + "/small.rvc";
        write_file(path, text);
        return path;
    }
    std::string example(const char* relative) const {
        return std::string(RUVALDA_SOURCE_DIR) + "/examples/" + relative;
    }
    // A picture of the window in the test's folder, and with RUVALDA_SCREENSHOT_DIR set there
    // too (docs/ keeps them).
    void save(QWidget* window, const char* name) {
        const QPixmap picture = window->grab();
        ASSERT_FALSE(picture.isNull());
        ASSERT_TRUE(picture.save(QString::fromStdString(dir) + "/" + name));
        if (const char* wanted = std::getenv("RUVALDA_SCREENSHOT_DIR")) {
            ASSERT_TRUE(picture.save(QDir(wanted).filePath(name)));
        }
    }
    // Makes `window` the active one, so that its keys reach it; returns it for typing at.
    QWidget* activate(QWidget* window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
        return window;
    }
    // One real-time tick at wall millisecond `millis`, then one drive tick.
    void tick(int millis) {
        now_millis = millis;
        main_window->TimerRTCTimer();
        main_window->TimerTickTimer();
    }
};

}  // namespace ruvalda::test
