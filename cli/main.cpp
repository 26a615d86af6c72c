// ruvalda-cli: loads, checks and runs control programs from scripts and CI.
//
//   ruvalda-cli check FILE.rvc [--allow-warnings]
//   ruvalda-cli run FILE.rvc [--seconds S] [--detectors FILE] [--trace FILE] [--dump]
//                            [--dump-by-time] [--trace-stream NN]... [--trace-var NAME=VALUE]...
//                            [--strict]
//   ruvalda-cli replay FILE.rvc TRACEFILE
//   ruvalda-cli sumo FILE.rvc sumo://HOST[:PORT] [--monitor] [--trace FILE]
//   ruvalda-cli vissim NR NR2 FILE.rvc [--trace FILE] [--vissim-trace FILE]
//   ruvalda-cli NR NR2 X FILE.rvc Y   (as VISSIM starts its controller program)
#include <unistd.h>
#ifdef _WIN32
// No GDI: its ERROR macro would hide the report kind of the same name.
#define NOGDI
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/sumo_client.h"
#include "cli/vissim_host.h"
#include "controller/controller.h"
#include "engine/eval.h"
#include "engine/monitor.h"
#include "loader/detector_events.h"
#include "loader/reader.h"
#include "loader/warnings.h"
#include "output/output.h"
#include "sequence/sequence_model.h"
#include "timeline/timeline.h"
#include "vissim/lsa.h"

namespace ruvalda::cli {
namespace {

constexpr const char* USAGE =
    "usage: ruvalda-cli check FILE.rvc [--allow-warnings]\n"
    "       ruvalda-cli run FILE.rvc [--seconds S] [--detectors FILE] [--trace FILE] [--dump]\n"
    "                   [--dump-by-time] [--trace-stream NN]... [--trace-var NAME=VALUE]...\n"
    "                   [--strict] [--monitor] [--timeline OUT.svg [--from S] [--to S]]\n"
    "       ruvalda-cli replay FILE.rvc TRACEFILE\n"
    "       ruvalda-cli sumo FILE.rvc sumo://HOST[:PORT] [--monitor] [--trace FILE]\n"
    "                   [--timeline OUT.svg [--from S] [--to S]]\n"
    "       ruvalda-cli vissim NR NR2 FILE.rvc [--trace FILE] [--vissim-trace FILE]\n"
    "       ruvalda-cli NR NR2 X FILE.rvc Y        (VISSIM's start: vissim NR NR2 FILE.rvc)\n";

constexpr std::size_t VISSIM_START_ARGUMENTS = 5;  // NR NR2 X FILE.rvc Y

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct UsageError {
    std::string message;
    bool hint = true;  // points to --help; not when the arguments were right but the system refused
};

struct Options {
    std::string command;
    std::string control_file;
    std::int32_t tenths = 600;
    std::string detectors_file;
    std::string trace_file;
    std::string replay_file;
    bool dump = false;
    bool dump_by_time = false;
    std::vector<int> trace_streams;
    std::vector<std::pair<std::string, int>> trace_vars;
    bool strict = false;
    bool allow_warnings = false;
    bool monitor = false;
    std::string timeline_file;
    std::int32_t timeline_from = 0;
    std::int32_t timeline_to = -1;  // the end of the run
    std::string vissim_numbers[2];  // controller and second number as VISSIM gives them
    std::string vissim_trace_file;
};

// Standard output with every write checked: the first failure is kept with the system's reason.
class Stdout {
  public:
    void write(const std::string& text) {
        if (!error_.empty()) return;
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) failed();
    }
    void line(const std::string& text) { write(text + "\n"); }
    // Flushes; false (once told on stderr) when any write failed.
    bool finish() {
        if (error_.empty() && std::fflush(stdout) != 0) failed();
        if (error_.empty()) return true;
        if (!told_)
            std::fprintf(stderr, "ruvalda-cli: cannot write to standard output: %s\n",
                         error_.c_str());
        told_ = true;
        return false;
    }

  private:
    void failed() {
        error_ = std::strerror(errno);
        std::clearerr(stdout);
    }
    std::string error_;
    bool told_ = false;
};

// Prints each pane line once it is final: when the next line starts, and the last at the end.
class PanePrinter : public PaneListener {
  public:
    PanePrinter(OutputState& output, Stdout& out) : output_(output), out_(out) {}
    void line_added(const std::string&) override {
        const auto& lines = output_.pane.lines;
        if (lines.size() >= 2) print(lines[lines.size() - 2]);
        // The pane only needs its open last line; printed lines can go.
        if (lines.size() > 2 * PANE_KEEP_LINES) trim_messages(output_);
    }
    void last_line_changed(const std::string&) override {}
    void first_lines_removed(std::size_t) override {}
    void cleared() override {}
    void status_changed(const std::string&) override {}
    void finish() {
        if (!output_.pane.lines.empty()) print(output_.pane.lines.back());
        out_.finish();
    }

  private:
    OutputState& output_;
    Stdout& out_;
    void print(const std::string& line) { out_.line(line); }
};

// One decimal allowed: "12.3" is 123 tenths.
std::int32_t parse_seconds(const std::string& text) {
    std::size_t dot = text.find('.');
    std::string whole = text.substr(0, dot),
                tenth = dot == std::string::npos ? "" : text.substr(dot + 1);
    bool digits = !whole.empty() && whole.size() <= 8 && tenth.size() <= 1 &&
                  whole.find_first_not_of("0123456789") == std::string::npos &&
                  tenth.find_first_not_of("0123456789") == std::string::npos &&
                  (dot == std::string::npos || !tenth.empty());
    if (!digits) throw UsageError{"--seconds takes a number of seconds with at most one decimal"};
    return std::stoi(whole) * 10 + (tenth.empty() ? 0 : tenth[0] - '0');
}

int parse_int(const std::string& text, const char* what) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < -1000000 || value > 1000000)
        throw UsageError{std::string(what) + " takes a whole number, not \"" + text + "\""};
    return static_cast<int>(value);
}

bool is_command(const std::string& word) {
    return word == "check" || word == "run" || word == "replay" || word == "sumo" ||
           word == "vissim";
}

// VISSIM starts the controller program it names with five arguments, NR NR2 X FILE.rvc Y, as
// it starts the desktop; X and Y mean nothing to the controller. That start is the vissim
// command.
void take_vissim_start(std::vector<std::string>& args) {
    const bool number = !args.empty() && !args[0].empty() &&
                        args[0].find_first_not_of("0123456789") == std::string::npos;
    if (args.size() == VISSIM_START_ARGUMENTS && number && !is_command(args[0]))
        args = {"vissim", args[0], args[1], args[3]};
}

Options parse_options(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    take_vissim_start(args);
    if (args.empty()) throw UsageError{"missing command (check, run, replay, sumo or vissim)"};
    o.command = args[0];
    if (!is_command(o.command)) throw UsageError{"unknown command \"" + o.command + "\""};
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
            return args[++i];
        };
        bool run = o.command == "run";
        bool sumo = o.command == "sumo";
        bool vissim = o.command == "vissim";
        if (o.command == "check" && a == "--allow-warnings")
            o.allow_warnings = true;
        else if ((run || sumo) && a == "--monitor")
            o.monitor = true;
        else if ((run || sumo || vissim) && a == "--trace")
            o.trace_file = value();
        else if (vissim && a == "--vissim-trace")
            o.vissim_trace_file = value();
        else if (run && a == "--seconds")
            o.tenths = parse_seconds(value());
        else if (run && a == "--detectors")
            o.detectors_file = value();
        else if (run && a == "--dump")
            o.dump = true;
        else if (run && a == "--dump-by-time")
            o.dump_by_time = true;
        else if (run && a == "--strict")
            o.strict = true;
        else if ((run || sumo) && a == "--timeline")
            o.timeline_file = value();
        else if ((run || sumo) && a == "--from")
            o.timeline_from = parse_seconds(value());
        else if ((run || sumo) && a == "--to")
            o.timeline_to = parse_seconds(value());
        else if (run && a == "--trace-stream") {
            int stream = parse_int(value(), "--trace-stream");
            if (stream < 0 || stream > LAST_STREAM)
                throw UsageError{"--trace-stream takes a stream from 0 to 99"};
            o.trace_streams.push_back(stream);
        } else if (run && a == "--trace-var") {
            const std::string& setting = value();
            std::size_t eq = setting.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError{"--trace-var takes NAME=VALUE, as in SG01=6"};
            const int flags = parse_int(setting.substr(eq + 1), "--trace-var");
            // The trace bits: 2 traces the variable's changes, 4 every evaluation, 6 both.
            if (flags != 2 && flags != 4 && flags != 6)
                throw UsageError{
                    "--trace-var takes the value 2 (changes), 4 (every evaluation) "
                    "or 6 (both), not " +
                    std::to_string(flags)};
            o.trace_vars.emplace_back(setting.substr(0, eq), flags);
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError{"unknown option \"" + a + "\" for " + o.command};
        } else {
            positional.push_back(a);
        }
    }
    if (o.command == "vissim") {
        if (positional.size() != 3) throw UsageError{"vissim needs NR, NR2 and FILE.rvc"};
        o.vissim_numbers[0] = positional[0];
        o.vissim_numbers[1] = positional[1];
        o.control_file = positional[2];
        return o;
    }
    std::size_t wanted = o.command == "replay" || o.command == "sumo" ? 2 : 1;
    if (positional.size() != wanted)
        throw UsageError{o.command + (o.command == "sumo" ? " needs FILE.rvc and sumo://HOST[:PORT]"
                                      : wanted == 2       ? " needs FILE.rvc and TRACEFILE"
                                                          : " needs one FILE.rvc")};
    if (o.command == "sumo" && positional[1].compare(0, 7, "sumo://") != 0)
        throw UsageError{"sumo needs an address of the form sumo://HOST[:PORT]"};
    if (o.timeline_file.empty() && (o.timeline_from != 0 || o.timeline_to != -1))
        throw UsageError{"--from and --to go with --timeline"};
    o.control_file = positional[0];
    if (wanted == 2) o.replay_file = positional[1];  // the address for sumo
    return o;
}

std::string program_dir() {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".";
    return std::filesystem::path(std::string(path, length)).parent_path().string();
#else
    std::error_code error;
    auto exe = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::string(".") : exe.parent_path().string();
#endif
}

std::vector<DetectorEvent> read_detector_events(const std::string& path, std::int32_t* last_time) {
    std::ifstream in(path);
    if (!in) throw UsageError{"cannot open \"" + path + "\": " + std::strerror(errno)};
    std::vector<DetectorEvent> events;
    std::string error;
    if (!ruvalda::read_detector_events(in, &events, last_time, &error))
        throw UsageError{path + ":" + error.substr(5)};
    return events;
}

// An output file that cannot be written is refused before anything is loaded or run, so that a
// long run cannot end without its trace. A file that was not there before is not left behind.
void require_writable(const std::string& path, const char* option) {
    if (path.empty()) return;
    std::error_code ignored;
    const bool existed = std::filesystem::exists(path, ignored);
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        throw UsageError{"cannot write the " + std::string(option) + " file \"" + path +
                             "\": " + std::strerror(errno),
                         false};
    std::fclose(f);
    if (!existed) std::remove(path.c_str());
}

std::string counted(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::vector<std::string> colour_lines(const std::string& path) {
    std::ifstream in(path);
    return ruvalda::colour_lines(in);
}

class Tool {
    // The one junction this run controls; it stays where it was made.
    std::unique_ptr<Controller> controller_ = std::make_unique<Controller>();
    EngineState& engine = controller_->engine;
    ReaderState& reader_state = controller_->reader;
    ConflictMonitor& conflict_monitor = controller_->monitor;
    SequenceModel& sequence_model = controller_->sequence_model;

  public:
    explicit Tool(Options options) : o_(std::move(options)) {
        front_end_.strict = o_.strict;
        engine.output.front_end = &front_end_;
        engine.output.listener = &printer_;
    }
    ~Tool() {
        printer_.finish();
        engine.output.listener = nullptr;
        engine.output.front_end = nullptr;
    }

    int run() {
        if (o_.command == "replay") {
            o_.detectors_file = o_.replay_file;
            o_.trace_file = (std::filesystem::temp_directory_path() /
                             ("ruvalda-replay-" + std::to_string(::getpid()) + ".trace"))
                                .string();
        }
        std::int32_t last_time = 0;
        std::vector<DetectorEvent> events;
        if (!o_.detectors_file.empty())
            events = read_detector_events(o_.detectors_file, &last_time);
        if (o_.command == "replay") o_.tenths = last_time;
        if (o_.command != "replay") require_writable(o_.trace_file, "--trace");
        require_writable(o_.timeline_file, "--timeline");
        require_writable(o_.vissim_trace_file, "--vissim-trace");

        if (o_.command == "check") return check();
        if (!load()) return verdict(EXIT_FAILED);
        require_program_detectors(events);
        require_traced_variables();
        if (o_.command == "sumo" || o_.command == "vissim") print_warnings();
        if (o_.command == "sumo") return verdict(run_sumo());
        if (o_.command == "vissim") return verdict(run_vissim());
        return verdict(run_steps(events));
    }

  private:
    // The Part's checks at the reset, then the warnings, then a line that counts them.
    int check() {
        const bool loaded = load();
        const bool consistent = loaded && RVInitialize(engine) && !ended();
        const std::size_t warnings = loaded ? print_warnings() : 0;
        printer_.finish();
        erase_messages(engine.output);
        out_.line(o_.control_file + ": " + counted(reports_told(), "report") + ", " +
                  counted(warnings, "warning"));
        const bool failed =
            !consistent || reports_told() != 0 || (warnings != 0 && !o_.allow_warnings);
        return out_.finish() && !failed ? EXIT_OK : EXIT_FAILED;
    }

    // Each report once, though a load's two passes make some twice.
    std::size_t reports_told() const {
        return engine.output.reports_made - engine.output.reports_repeated;
    }

    std::size_t print_warnings() {
        const std::vector<Warning> warnings =
            program_warnings(reader_state, engine, o_.control_file);
        for (const Warning& w : warnings) std::fprintf(stderr, "%s\n", warning_line(w).c_str());
        return warnings.size();
    }

    // A detector file is written for one program: a detector the program does not have is a
    // mistake in the file, not an input to pass over.
    void require_program_detectors(const std::vector<DetectorEvent>& events) {
        for (const DetectorEvent& e : events)
            if (!program_detector(engine, e.detector))
                throw UsageError{o_.detectors_file + ":" + std::to_string(e.line) +
                                     ": no detector " + detector_printed_name(e.detector) + " in " +
                                     o_.control_file,
                                 false};
    }

    void require_traced_variables() {
        for (const auto& [name, flags] : o_.trace_vars)
            if (RVGetVariableTrace(engine, name.c_str()) == 0)
                throw UsageError{"--trace-var " + name + ": no rule of " + o_.control_file +
                                 " assigns a variable of that name"};
    }

    // The run went on to its end, so traces are whole; it still failed when anything was
    // reported or any settle ended oscillating, or a write failed.
    int verdict(int result) {
        const std::size_t reports = reports_told();
        const std::int32_t oscillating = engine.oscillating_settles;
        printer_.finish();
        erase_messages(engine.output);
        if (reports != 0 || oscillating != 0) {
            std::string what = counted(reports, "report");
            if (oscillating != 0)
                what +=
                    ", oscillating in " + counted(static_cast<std::size_t>(oscillating), "step");
            std::fprintf(stderr, "ruvalda-cli: %s: %s\n", o_.control_file.c_str(), what.c_str());
            result = EXIT_FAILED;
        }
        if (!out_.finish()) result = EXIT_FAILED;
        return result;
    }

    int run_steps(const std::vector<DetectorEvent>& events) {
        if (!o_.trace_file.empty()) {
            engine.trace_file_name = o_.trace_file;
            RVRunUntil(engine, RVGetTime(engine));
        }
        if (!o_.timeline_file.empty())
            start_timeline(o_.detectors_file.empty()
                               ? ""
                               : std::filesystem::path(o_.detectors_file).filename().string());
        bool monitor_blind = o_.monitor && !start_monitor();
        for (int stream : o_.trace_streams) RVSetStreamFlags(engine, stream, SF_TRACE);
        for (const auto& [name, value] : o_.trace_vars)
            RVSetVariableTrace(engine, name.c_str(), value);
        RVInitialize(engine);
        if (ended()) return EXIT_FAILED;
        // --strict stops at the first report, and before the first step at a warning.
        if (o_.command == "run" && print_warnings() != 0 && o_.strict) return EXIT_FAILED;

        std::size_t next = 0;
        auto apply_events = [&]() {
            while (next < events.size() && events[next].time <= RVGetTime(engine) && !ended()) {
                if (!o_.timeline_file.empty())
                    timeline_detector(events[next].detector, events[next].state);
                SetDetectorState(engine, events[next].detector, events[next].state);
                ++next;
            }
        };
        apply_events();
        Progress progress(o_.tenths);
        for (std::int32_t t = 1; t <= o_.tenths && !ended(); ++t) {
            RVRunUntil(engine, t);
            apply_events();
            progress.show(t);
        }
        progress.clear();
        if (ended()) return EXIT_FAILED;
        close_trace();
        if (!o_.timeline_file.empty() && !write_timeline()) return EXIT_FAILED;

        if (o_.dump || o_.dump_by_time) {
            printer_.finish();
            erase_messages(engine.output);
            const bool dumped = RVDumpVars(
                engine,
                [this](const char* text) {
                    out_.line(text);
                    return true;
                },
                o_.dump_by_time);
            if (!dumped) return EXIT_FAILED;
        }
        if (o_.command == "replay") return compare_replay();
        if (o_.monitor) {
            printer_.finish();
            erase_messages(engine.output);
            if (monitor_blind || !print_monitor_summary()) return EXIT_FAILED;
        }
        return EXIT_OK;
    }

    // Shows "S of T s" on a terminal's stderr, at most every half second.
    class Progress {
      public:
        explicit Progress(std::int32_t total) : total_(total), on_(::isatty(2) && total > 600) {}
        void show(std::int32_t t) {
            if (!on_ || (t & 0x3ff) != 0) return;
            auto now = std::chrono::steady_clock::now();
            if (now - last_ < std::chrono::milliseconds(500)) return;
            last_ = now;
            std::fprintf(stderr, "\rruvalda-cli: %d.%d of %d.%d s", t / 10, t % 10, total_ / 10,
                         total_ % 10);
            shown_ = true;
        }
        void clear() {
            if (shown_) std::fprintf(stderr, "\r%60s\r", "");
        }

      private:
        std::int32_t total_;
        bool on_;
        bool shown_ = false;
        std::chrono::steady_clock::time_point last_{};
    };

    bool load() {
        reader_state.macro.macro_path = macro_path_for(o_.control_file, program_dir());
        reader_state.sequence_handler = sequence_reader(sequence_model);
        engine.evaluation_hook = nullptr;
        int loaded = RVLoadFile(reader_state, engine, o_.control_file.c_str());
        return loaded && !ended();
    }

    bool ended() const { return engine.output.end_requested; }

    // The title names the program and where its detectors come from.
    void start_timeline(const std::string& source) {
        timeline_.title = std::filesystem::path(o_.control_file).filename().string();
        if (!source.empty()) timeline_.title += ", " + source;
        engine.colour_callback = [this](int stream, char colour) {
            timeline_colour(stream, colour);
        };
        conflict_monitor.on_violation = [this](std::int32_t time, int a, int b, std::int32_t s) {
            timeline_.violation(time, a, b, s);
        };
    }
    void timeline_colour(int stream, char colour) {
        timeline_.colour(RVGetTime(engine), stream, colour);
    }
    void timeline_detector(int detector, int state) {
        timeline_.detector(RVGetTime(engine), detector, state);
    }

    bool write_timeline() {
        std::int32_t to = o_.timeline_to < 0 ? RVGetTime(engine) : o_.timeline_to;
        std::string error;
        if (timeline_.write_svg(o_.timeline_file, o_.timeline_from, to, &error)) return true;
        std::fprintf(stderr, "ruvalda-cli: --timeline: %s\n", error.c_str());
        return false;
    }

    // False when the program has no declaration block to take the clearances from.
    // The controller of a SUMO junction until the connection ends; with --monitor the colours
    // are watched against the clearance matrix all the while.
    int run_sumo() {
        if (!o_.trace_file.empty()) {
            engine.trace_file_name = o_.trace_file;
            RVRunUntil(engine, RVGetTime(engine));
        }
        const bool monitor_blind = o_.monitor && !start_monitor();
        const std::vector<Warning> blind_to_simulator = coupling_warnings(engine, o_.control_file);
        for (const Warning& w : blind_to_simulator)
            std::fprintf(stderr, "%s\n", warning_line(w).c_str());
        SumoClientObserver observer;
        if (!o_.timeline_file.empty()) {
            start_timeline(o_.replay_file);
            observer.colour = [this](int stream, char colour) { timeline_colour(stream, colour); };
            observer.detector = [this](int detector, int state) {
                timeline_detector(detector, state);
            };
        }
        int result = run_sumo_client(controller_->sumo_link, engine, o_.replay_file, observer);
        close_trace();
        if (const std::uint64_t lines = controller_->sumo_link.untranslated_detector_lines) {
            std::fprintf(stderr, "ruvalda-cli: %s\n",
                         untranslated_lines_note(lines, o_.control_file).c_str());
            // Not one detector of the program was reachable: the run saw no demand at all.
            if (!blind_to_simulator.empty()) result = EXIT_FAILED;
        }
        if (!o_.timeline_file.empty() && !write_timeline()) result = EXIT_FAILED;
        if (o_.monitor) {
            printer_.finish();
            erase_messages(engine.output);
            if (monitor_blind || !print_monitor_summary()) result = EXIT_FAILED;
        }
        return result;
    }

    int run_vissim() {
        if (!o_.trace_file.empty()) {
            engine.trace_file_name = o_.trace_file;
            RVRunUntil(engine, RVGetTime(engine));
        }
        VissimHostOptions host;
        host.controller = lsa_argument_number(o_.vissim_numbers[0]);
        host.second = lsa_argument_number(o_.vissim_numbers[1]);
        host.comm_trace = o_.vissim_trace_file;
        host.ended = [this] { return ended(); };
        const int result = run_vissim_host(controller_->lsa, engine, host);
        close_trace();
        return result;
    }

    bool start_monitor() {
        std::int32_t clearance[STREAM_COUNT][STREAM_COUNT];
        if (!declared_clearances(reader_state, clearance)) {
            traceprintf(engine.output,
                        "Conflict monitor: no clearance matrix (the program has no declaration "
                        "block).\n");
            return false;
        }
        monitor_start(conflict_monitor, clearance);
        return true;
    }

    // The violations and, per stream, the longest wait from demand to green; false when the
    // monitor saw a violation.
    bool print_monitor_summary() {
        for (const std::string& line : monitor_verdict(conflict_monitor, RVGetTime(engine)))
            out_.line(line);
        return conflict_monitor.violations == 0;
    }

    void close_trace() {
        engine.trace_file_name.clear();
        RVSyncTraceFile(engine);
    }

    int compare_replay() {
        std::vector<std::string> expected = colour_lines(o_.replay_file),
                                 actual = colour_lines(o_.trace_file);
        std::filesystem::remove(o_.trace_file);
        std::size_t n = std::max(expected.size(), actual.size());
        for (std::size_t i = 0; i < n; ++i) {
            const std::string want = i < expected.size() ? expected[i] : "(end of colours)";
            const std::string got = i < actual.size() ? actual[i] : "(end of colours)";
            if (want == got) continue;
            std::fprintf(stderr,
                         "replay differs at colour line %zu:\n  trace file: %s\n  this run:   %s\n",
                         i + 1, want.c_str(), got.c_str());
            return EXIT_FAILED;
        }
        return EXIT_OK;
    }

    Options o_;
    TimelineRecorder timeline_;
    ConsoleFrontEnd front_end_;
    Stdout out_;
    PanePrinter printer_{engine.output, out_};
};

}  // namespace
}  // namespace ruvalda::cli

int main(int argc, char** argv) {
    using namespace ruvalda::cli;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return EXIT_OK;
    }
    try {
        Options options = parse_options(argc, argv);
        Tool tool(std::move(options));
        return tool.run();
    } catch (const UsageError& e) {
        std::fprintf(stderr,
                     e.hint ? "ruvalda-cli: %s (see ruvalda-cli --help)\n" : "ruvalda-cli: %s\n",
                     e.message.c_str());
        return EXIT_USAGE;
    }
}
