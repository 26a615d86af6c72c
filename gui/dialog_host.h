// Every message box and file dialog of the windows goes through one host, so that tests
// answer them instead of a person and nothing ever blocks a test run.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace ruvalda {

// A file dialog as the windows describe it. The filter is written as pairs of description and
// pattern separated by "|" ("Text files (*.txt)|*.txt"), the way the windows' designs give it.
struct FileDialogRequest {
    QString object_name;  // the dialog's component name, e.g. "SaveDialogTrace"
    QString title;
    QString filter;
    QString default_suffix;  // without the dot; empty: none
    QString file_name;       // preset
    QString directory;       // initial directory; empty: the file name's
    bool save = false;
    bool confirm_overwrite = false;
    bool must_exist = false;  // path and file must exist (open dialogs)
};

// "desc|pattern|desc|pattern" to Qt's "desc (pattern);;..." form.
QString qt_file_filter(const QString& pipe_filter);

// One message box as shown.
struct MessageBoxRequest {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    bool topmost = false;  // above every other window
};

class DialogHost {
  public:
    virtual ~DialogHost() = default;
    // The chosen file, or an empty text when the user cancelled.
    virtual QString choose_file(const FileDialogRequest& request) = 0;
    virtual QMessageBox::StandardButton message_box(const MessageBoxRequest& request) = 0;
};

// Real dialogs, parented to the active window.
class QtDialogHost : public DialogHost {
  public:
    QString choose_file(const FileDialogRequest& request) override;
    QMessageBox::StandardButton message_box(const MessageBoxRequest& request) override;
};

// For tests: records every request and answers from queues (empty queue: cancel for files,
// the first of Yes / OK for boxes).
class ScriptedDialogHost : public DialogHost {
  public:
    std::vector<FileDialogRequest> file_requests;
    std::vector<MessageBoxRequest> boxes;
    std::deque<QString> files;
    std::deque<QMessageBox::StandardButton> answers;
    QString choose_file(const FileDialogRequest& request) override;
    QMessageBox::StandardButton message_box(const MessageBoxRequest& request) override;
};

// The host in use; a QtDialogHost unless a test installs another.
DialogHost& dialog_host();
// Installs a host (not owned); nullptr goes back to the real dialogs.
void set_dialog_host(DialogHost* host);

// Shorthand for the common boxes.
QMessageBox::StandardButton show_message(QMessageBox::Icon icon, const QString& caption,
                                         const QString& text,
                                         QMessageBox::StandardButtons buttons = QMessageBox::Ok);

}  // namespace ruvalda
