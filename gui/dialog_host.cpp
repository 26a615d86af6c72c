#include "gui/dialog_host.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace ruvalda {

QString qt_file_filter(const QString& pipe_filter) {
    const QStringList parts = pipe_filter.split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Qt reads the patterns from the parentheses of the description; add them when the
        // description does not show them.
        QString description = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(';', ' ');
        if (!description.contains('(')) description += " (" + patterns + ")";
        filters << description;
    }
    return filters.join(";;");
}

QString QtDialogHost::choose_file(const FileDialogRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), request.title);
    dialog.setObjectName(request.object_name);
    dialog.setNameFilter(qt_file_filter(request.filter));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save || !request.must_exist ? QFileDialog::AnyFile
                                                           : QFileDialog::ExistingFile);
    if (!request.default_suffix.isEmpty()) dialog.setDefaultSuffix(request.default_suffix);
    if (!request.confirm_overwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // A preset name with a folder opens in that folder, as the initial directory is only
    // the fallback for a bare name.
    const QFileInfo preset(request.file_name);
    QString directory = request.directory;
    if (!request.file_name.isEmpty() && (preset.isAbsolute() || directory.isEmpty()))
        directory = preset.absolutePath();
    if (!directory.isEmpty()) dialog.setDirectory(directory);
    if (!request.file_name.isEmpty()) dialog.selectFile(QFileInfo(request.file_name).fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QMessageBox::StandardButton QtDialogHost::message_box(const MessageBoxRequest& request) {
    QMessageBox box(request.icon, request.caption, request.text, request.buttons,
                    QApplication::activeWindow());
    if (request.topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString ScriptedDialogHost::choose_file(const FileDialogRequest& request) {
    file_requests.push_back(request);
    if (files.empty()) return {};
    QString file = files.front();
    files.pop_front();
    return file;
}

QMessageBox::StandardButton ScriptedDialogHost::message_box(const MessageBoxRequest& request) {
    boxes.push_back(request);
    if (!answers.empty()) {
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    if (request.buttons & QMessageBox::Yes) return QMessageBox::Yes;
    return QMessageBox::Ok;
}

namespace {
struct DialogHostState {
    QtDialogHost real;
    DialogHost* installed = nullptr;
};
DialogHostState& host_state() {
    static DialogHostState state;
    return state;
}
}  // namespace

DialogHost& dialog_host() {
    DialogHostState& state = host_state();
    return state.installed ? *state.installed : state.real;
}

void set_dialog_host(DialogHost* host) {
    host_state().installed = host;
}

QMessageBox::StandardButton show_message(QMessageBox::Icon icon, const QString& caption,
                                         const QString& text,
                                         QMessageBox::StandardButtons buttons) {
    return dialog_host().message_box({icon, caption, text, buttons});
}

}  // namespace ruvalda
