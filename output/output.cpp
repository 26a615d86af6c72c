#include "output/output.h"

#include <algorithm>
#include <cstdio>

namespace ruvalda {

namespace {

constexpr const char* CAPTIONS[] = {"Program Error", "Error", "Configuration Error",
                                    "Simulator Error"};

bool is_line_end(char c) {
    return c == '\n' || c == '\r';
}

void notify_added(OutputState& out, const std::string& line) {
    if (out.listener) out.listener->line_added(line);
}

void notify_changed(OutputState& out, const std::string& line) {
    if (out.listener) out.listener->last_line_changed(line);
}

void add_line(OutputState& out, std::string line) {
    out.pane.lines.push_back(std::move(line));
    notify_added(out, out.pane.lines.back());
}

// Writes a text (line end already removed) into the pane after the rules of the line state:
// the first piece continues or overwrites the last line, or starts a new one with the time.
void write_to_pane(OutputState& out, std::string_view text, bool ends_in_cr) {
    auto& lines = out.pane.lines;
    std::size_t piece_end = text.find_first_of("\r\n");
    std::string_view first = text.substr(0, piece_end);
    bool continues = (out.line_open || out.line_overwritable) && !lines.empty();
    if (continues && ends_in_cr) {
        lines.back().assign(out.time_text).append(first);
        notify_changed(out, lines.back());
    } else if (continues) {
        if (!first.empty()) {
            lines.back().append(first);
            notify_changed(out, lines.back());
        }
    } else {
        add_line(out, std::string(out.time_text).append(first));
    }
    // Line breaks inside the text break the pane's line where they stand.
    while (piece_end != std::string::npos) {
        std::size_t next = piece_end + 1;
        if (text[piece_end] == '\r' && next < text.size() && text[next] == '\n') ++next;
        piece_end = text.find_first_of("\r\n", next);
        add_line(out,
                 std::string(text.substr(
                     next, piece_end == std::string::npos ? std::string::npos : piece_end - next)));
    }
}

// Without a front end of its own, a report goes to the terminal (a console front end keeps
// nothing between reports that matters here, so each report gets a fresh one).
// The place goes after the text, before the line ends some texts carry.
void add_place(std::string& text, const std::string& place) {
    if (place.empty()) return;
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
    text.insert(end, place);
}

bool show(OutputState& out, const Report& report) {
    if (out.front_end) return out.front_end->show_report(report);
    ConsoleFrontEnd console;
    return console.show_report(report);
}

}  // namespace

const char* report_caption(int kind) {
    return (kind >= 0 && kind <= 3) ? CAPTIONS[kind] : CAPTIONS[PROGRAM_ERROR];
}

void reset_output_state(OutputState& out) {
    PaneListener* listener = out.listener;
    FrontEnd* front_end = out.front_end;
    out = OutputState{};
    out.listener = listener;
    out.front_end = front_end;
}

std::string format_limited(std::size_t limit, const char* format, va_list args) {
    std::string text(limit + 1, '\0');
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(text.data(), text.size(), format, copy);
    va_end(copy);
    if (n < 0) n = 0;
    text.resize(std::min<std::size_t>(static_cast<std::size_t>(n), limit));
    return text;
}

int vreport_error(OutputState& out, int kind, const char* where, const char* format, va_list args) {
    if (kind < PROGRAM_ERROR || kind > SIMULATOR_ERROR) kind = PROGRAM_ERROR;
    const std::string hint = std::move(out.hint);
    out.hint.clear();

    Report report;
    report.kind = kind;
    report.caption = CAPTIONS[kind];
    char heading[256];
    std::snprintf(heading, sizeof heading, "%s in %s: ", report.caption.c_str(),
                  where ? where : "");
    report.text = heading;
    if (report.text.size() < MESSAGE_LIMIT)
        report.text += format_limited(MESSAGE_LIMIT - report.text.size(), format, args);
    else
        report.text.resize(MESSAGE_LIMIT);
    // Made, whether shown or not: callers tell from the count that a report was made.
    ++out.reports_made;
    if (ReportPlace* place = out.report_place) {
        add_place(report.text, place->place ? place->place(report.text) : std::string());
        // The second pass of a load makes the first pass's reports again: shown once.
        if (!place->shown.insert(report.text).second && place->repeating) {
            ++out.reports_repeated;
            return 0;
        }
    }
    if (!hint.empty()) report.text += "\n" + hint;
    if (kind != PROGRAM_ERROR && out.vissim_mode) return 0;
    report.box_text = report.text;
    if (kind != PROGRAM_ERROR) report.box_text += "\r\n\r\nContinue ?";

    bool go_on = show(out, report);
    if (kind == PROGRAM_ERROR || !go_on) out.end_requested = true;
    return 0;
}

int report_error(OutputState& out, int kind, const char* where, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vreport_error(out, kind, where, format, args);
    va_end(args);
    return 0;
}

int traceprintf(OutputState& out, const char* format, ...) {
    if (out.depth > 0) {
        if (!out.recursion_reported) {
            out.recursion_reported = true;
            report_error(out, PROGRAM_ERROR, "traceprintf",
                         "Recursive call not permitted (previous Fmt is \"%s\", current Fmt is "
                         "\"%s\")",
                         out.previous_format.c_str(), format);
        }
        return 0;
    }
    ++out.depth;
    out.previous_format = format;

    va_list args;
    va_start(args, format);
    int formatted = std::vsnprintf(out.text, sizeof out.text, format, args);
    va_end(args);
    // A longer text is cut at the limit.
    std::string_view text(out.text,
                          std::min<std::size_t>(formatted < 0 ? 0 : formatted, MESSAGE_LIMIT));

    bool open = !text.empty() && !is_line_end(text.back());
    bool ends_in_cr = !text.empty() && text.back() == '\r';
    if (!open && !text.empty()) text.remove_suffix(1);

    write_to_pane(out, text, ends_in_cr);
    out.line_open = open;
    out.line_overwritable = ends_in_cr;

    if (!text.empty() && !is_line_end(text.front())) {
        out.pane.status_text.assign(text);
        if (out.listener) out.listener->status_changed(out.pane.status_text);
    }
    --out.depth;
    return static_cast<int>(text.size());
}

void trim_messages(OutputState& out) {
    auto& lines = out.pane.lines;
    if (lines.size() <= PANE_KEEP_LINES) return;
    std::size_t excess = lines.size() - PANE_KEEP_LINES;
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(excess));
    if (out.listener) out.listener->first_lines_removed(excess);
}

void erase_messages(OutputState& out) {
    out.pane.lines.clear();
    if (out.listener) out.listener->cleared();
}

bool ReportRecorder::show_report(const Report& report) {
    reports.push_back(report);
    if (report.kind == PROGRAM_ERROR || answers.empty()) return true;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool ConsoleFrontEnd::show_report(const Report& report) {
    ++reports_shown;
    std::fputs(report.text.c_str(), stderr);
    if (report.text.empty() || !is_line_end(report.text.back())) std::fputc('\n', stderr);
    std::fflush(stderr);
    if (report.kind == PROGRAM_ERROR) return true;
    return !strict;
}

}  // namespace ruvalda
