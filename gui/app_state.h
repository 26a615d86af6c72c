// Program-wide state of the desktop application that every window reads: the start mode and
// the current control file (the file name held by the main window's open dialog).
#pragma once

#include <QString>

namespace ruvalda {

struct AppState {
    QString control_file_name;  // the current control file; empty before the first open
    bool ownClock = true;       // runs on its own real-time clock
    bool vissimMode = false;    // started by VISSIM
    bool sumoMode = false;      // started with a sumo:// address
    QString title = "Ruvalda";  // the application title
};

}  // namespace ruvalda
