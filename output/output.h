// Messages and error reporting: the one road by which reports and trace text reach the user.
//
// The core keeps the message pane as a model (a list of lines and the status-bar text); a
// front end (message boxes and a rich-text pane in the GUI, stderr and stdout in the CLI, a
// recorder in tests) shows it and answers the questions that reports ask.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ruvalda {

// Report kinds; the index into the caption table.
enum ReportKind {
    PROGRAM_ERROR = 0,
    ERROR = 1,
    CONFIGURATION_ERROR = 2,
    SIMULATOR_ERROR = 3,
};

// Formatted texts are limited to this many characters; a longer one is cut.
constexpr std::size_t MESSAGE_LIMIT = 10000;
// trim_messages keeps at most this many pane lines.
constexpr std::size_t PANE_KEEP_LINES = 500;
// "Time:NNNN.N " and room for times of more than four digits of seconds.
constexpr std::size_t TIME_TEXT_SIZE = 32;

const char* report_caption(int kind);

// What the user sees of one report.
struct Report {
    int kind = 0;
    std::string caption;   // "Program Error", "Error", ...
    std::string text;      // "<caption> in <where>: <message>"
    std::string box_text;  // text as the message box shows it ("\r\n\r\nContinue ?" added)
};

// The pane as the front ends see it. Each operation keeps the lines and tells the listener.
class PaneListener {
  public:
    virtual ~PaneListener() = default;
    virtual void line_added(const std::string& line) = 0;
    virtual void last_line_changed(const std::string& line) = 0;
    virtual void first_lines_removed(std::size_t count) = 0;
    virtual void cleared() = 0;
    virtual void status_changed(const std::string& text) = 0;
};

// The front end shows reports. Returns true to go on (Yes, or OK of a program error), false
// for No. Ending the application is the front end's business: it reads end_requested().
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    virtual bool show_report(const Report& report) = 0;
};

// While a control file loads: where the reader stands, added to every report, and the reports
// already shown, which the load's second pass makes again and does not show twice.
struct ReportPlace {
    // " [crossing.rvc(14)]" for a report's text; empty: the text names its place already, or
    // there is none.
    std::function<std::string(const std::string& text)> place;
    bool repeating = false;  // the second pass: reports already shown are dropped
    std::set<std::string> shown;
};

struct MessagePane {
    std::deque<std::string> lines;
    std::string status_text;  // third panel of the status bar
};

// All state of the messages module, so a test can reset it in one line.
struct OutputState {
    // traceprintf line state
    bool line_open = false;
    bool line_overwritable = false;
    int depth = 0;
    std::string previous_format;
    bool recursion_reported = false;
    char text[MESSAGE_LIMIT + 1] = {};  // the formatted text of the running call

    MessagePane pane;
    PaneListener* listener = nullptr;
    FrontEnd* front_end = nullptr;

    // Started by VISSIM: reports of kinds 1 to 3 are dropped.
    bool vissim_mode = false;
    // Set when a report tells the application to end; the front end acts on it.
    bool end_requested = false;
    // Reports made so far (shown or dropped); lets a caller tell whether a step reported.
    std::size_t reports_made = 0;
    // Of those, the ones a load's second pass made again and were not shown a second time.
    std::size_t reports_repeated = 0;
    // Set by the loader for the time of a load.
    ReportPlace* report_place = nullptr;
    // A line shown after the next report, naming the likely cause of what it reports; the
    // report takes it whether it is shown or not.
    std::string hint;

    // What starts every new pane line: the controller's time, kept up to date by its engine.
    char time_text[TIME_TEXT_SIZE] = "Time:   0.0 ";
};

// Back to program start; keeps the installed front end and listener.
void reset_output_state(OutputState& out);

// Formats and shows one report; always returns 0 so a failing caller can return its result.
int report_error(OutputState& out, int kind, const char* where, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int vreport_error(OutputState& out, int kind, const char* where, const char* format, va_list args);

// Writes trace text to the message pane; returns the length written, 0 for a refused call.
int traceprintf(OutputState& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Drops the oldest pane lines until at most 500 remain.
void trim_messages(OutputState& out);

// Empties the pane (Edit menu); the line state stays as it is.
void erase_messages(OutputState& out);

// printf into a string, cut to `limit` characters.
std::string format_limited(std::size_t limit, const char* format, va_list args);

// A front end for tests: records every report and answers as told.
class ReportRecorder : public FrontEnd {
  public:
    std::vector<Report> reports;
    std::deque<bool> answers;  // consumed one per report of kinds 1 to 3; empty: Yes
    bool show_report(const Report& report) override;
};

// A front end for terminals: "<caption> in <where>: <message>" on stderr, answers Yes; with
// strict set, the first report of kinds 1 to 3 is answered No.
class ConsoleFrontEnd : public FrontEnd {
  public:
    bool strict = false;
    int reports_shown = 0;
    bool show_report(const Report& report) override;
};

}  // namespace ruvalda
