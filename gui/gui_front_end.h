// The desktop's side of the messages module: reports as message boxes, the message pane as a
// read-only text widget and the third panel of the status bar.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <functional>

#include "output/output.h"

namespace ruvalda {

// Shows a report in a message box with its kind's caption, buttons and icon. An answer that
// tells the application to end takes effect once control is back in the event loop.
class GuiFrontEnd : public FrontEnd {
  public:
    explicit GuiFrontEnd(OutputState& output) : output_(output) {}
    // Called from the event loop when a report has asked the application to end.
    std::function<void()> end_application;
    bool show_report(const Report& report) override;

  private:
    OutputState& output_;
};

// Mirrors the core's message pane into the widget and the status panel.
class MemoPaneView : public PaneListener {
  public:
    MemoPaneView(OutputState& output, QPlainTextEdit* memo, QLabel* status_panel);
    // Fills the widget from the pane model as it stands.
    void show_all();

    void line_added(const std::string& line) override;
    void last_line_changed(const std::string& line) override;
    void first_lines_removed(std::size_t count) override;
    void cleared() override;
    void status_changed(const std::string& text) override;

  private:
    void caret_to_end();
    OutputState& output_;
    QPlainTextEdit* memo_;
    QLabel* status_panel_;
    bool caret_pending_ = false;
};

}  // namespace ruvalda
