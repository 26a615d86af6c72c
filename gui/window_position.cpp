#include "gui/window_position.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QWidget>

#include "gui/dialog_host.h"

namespace ruvalda {

namespace {
QSettings window_settings() {
    return QSettings("Varndal", QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}
}  // namespace

bool read_window_position(QWidget* window, const char* prefix) {
    QSettings settings = window_settings();
    auto read = [&](const char* item, int* value) {
        const QVariant stored = settings.value(QString(prefix) + item);
        bool ok = false;
        if (stored.isValid()) *value = stored.toInt(&ok);
        return ok;
    };
    int value = 0;
    if (!read("Left", &value)) return false;
    window->move(value, window->y());
    if (!read("Top", &value)) return false;
    window->move(window->x(), value);
    if (!read("Width", &value)) return false;
    window->resize(value, window->height());
    if (!read("Height", &value)) return false;
    window->resize(window->width(), value);
    return true;
}

void write_window_position(QWidget* window, const char* prefix, const QString& title) {
    QSettings settings = window_settings();
    settings.setValue(QString(prefix) + "Left", window->x());
    settings.setValue(QString(prefix) + "Top", window->y());
    settings.setValue(QString(prefix) + "Width", window->width());
    settings.setValue(QString(prefix) + "Height", window->height());
    settings.sync();
    if (settings.status() != QSettings::NoError)
        show_message(QMessageBox::NoIcon, title,
                     "Error: Problem saving window position in Registry");
}

QStringList recent_files() {
    QStringList files;
    for (const QString& file : window_settings().value("RecentFiles").toStringList())
        if (QFileInfo::exists(file) && files.size() < RECENT_FILE_COUNT) files << file;
    return files;
}

void remember_recent_file(const QString& path) {
    QSettings settings = window_settings();
    QStringList files = settings.value("RecentFiles").toStringList();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > RECENT_FILE_COUNT) files.removeLast();
    settings.setValue("RecentFiles", files);
}

}  // namespace ruvalda
