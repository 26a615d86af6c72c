// The desktop application's entry: the three windows in their order, then the message loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/app_state.h"
#include "app/form_main.h"
#include "map/form_map.h"
#include "traceset/select_formula.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ruvalda::app_state.title = "Ruvalda";
    QStringList arguments = application.arguments();
    arguments.removeFirst();
    try {
        ruvalda::TFormMain main_window(arguments);
        ruvalda::TFormMap map_window;
        ruvalda::TFormSelectFormula trace_dialog(&main_window);
        main_window.set_windows(&map_window, &trace_dialog);
        main_window.show();
        application.exec();
    } catch (const std::exception& error) {
        // Nothing should get here; if something does, say what before the program goes.
        QMessageBox::critical(nullptr, ruvalda::app_state.title, error.what());
    }
    return 0;
}
