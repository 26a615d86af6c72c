// The desktop application's entry: the junction's controller, the three windows in their order,
// then the message loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "controller/controller.h"
#include "gui/app_state.h"
#include "gui/form_main.h"
#include "gui/form_map.h"
#include "gui/select_formula.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ruvalda::AppState app_state;
    app_state.title = "Ruvalda";
    QStringList arguments = application.arguments();
    arguments.removeFirst();
    try {
        auto controller = std::make_unique<ruvalda::Controller>();
        ruvalda::TFormMain main_window(*controller, app_state, arguments);
        ruvalda::TFormMap map_window(*controller, app_state);
        ruvalda::TFormSelectFormula trace_dialog(controller->engine, app_state, &main_window);
        main_window.set_windows(&map_window, &trace_dialog);
        main_window.show();
        application.exec();
    } catch (const std::exception& error) {
        // Nothing should get here; if something does, say what before the program goes.
        QMessageBox::critical(nullptr, app_state.title, error.what());
    }
    return 0;
}
