#include "map/form_map.h"

#include <QFileInfo>
#include <QScrollArea>
#include <QStatusBar>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/identification.h"
#include "output/output.h"

namespace ruvalda {

TFormMap::TFormMap(QWidget* parent) : QMainWindow(parent) {
    setObjectName("TFormMap");
    setWindowTitle("Map");
    setProperty("hint", QString::fromStdString(window_hint(Unit::MapWindow)));
    letters_.fill('R');
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("ScrollBoxImage");
    setCentralWidget(scroll);
    statusBar()->setObjectName("StatusBar");
    resize(764, 809);
}

void TFormMap::UpdateColor(int stream, char letter) {
    if (stream < 1 || stream > 99) {
        report_error(PROGRAM_ERROR, "TFormMap::UpdateColor", "Bad StreamID: %d", stream);
        return;
    }
    if (letter != 'G' && letter != 'R' && letter != 'Y') {
        report_error(PROGRAM_ERROR, "TFormMap::UpdateColor", "Bad NewColor: %c", letter);
        return;
    }
    letters_[static_cast<std::size_t>(stream)] = letter;
}

void TFormMap::BuildStreamMenus() {}

bool TFormMap::LoadGraphics() {
    letters_.fill('R');
    QString name = app_state.control_file_name;
    if (name.isEmpty())
        return report_error(ERROR, "Load graphics",
                            "Cannot generate filename of graphics info file.");
    const QFileInfo info(name);
    const QString graphics = info.path() + "/" + info.completeBaseName() + ".rvg";
    std::FILE* file = std::fopen(graphics.toLocal8Bit().constData(), "r");
    if (!file) {
        const int error = errno;
        return report_error(ERROR, "Load graphics",
                            "Cannot open ruvalda graphics file \"%s\" for reading: %s.",
                            graphics.toLocal8Bit().constData(), std::strerror(error));
    }
    std::fclose(file);
    return true;
}

bool TFormMap::AskSaveGraphics() {
    return false;
}

void TFormMap::SetEditMode(bool on) {
    edit_mode_ = on;
}

}  // namespace ruvalda
