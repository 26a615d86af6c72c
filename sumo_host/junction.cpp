#include "sumo_host/junction.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "engine/monitor.h"
#include "loader/reader.h"
#include "output/output.h"

namespace ruvalda::sumo_host {

namespace {

constexpr const char* LIGHTS_PREFIX = "lights ";
constexpr const char* LIGHTS_LETTERS = "gry";  // what a lights line may say per stream

void print_line(std::FILE* to, const std::string& prefix, const std::string& line) {
    std::fprintf(to, "%s%s\n", prefix.c_str(), line.c_str());
}

std::string stream_list(const std::vector<int>& streams) {
    std::string text;
    for (int s : streams) text += (text.empty() ? "" : ", ") + std::to_string(s);
    return "[" + text + "]";
}

}  // namespace

// Reports of the junction's controller on stderr, as ruvalda-cli shows them, named by the
// traffic light; they are answered Yes as ruvalda-cli answers them.
class Junction::Reports : public FrontEnd {
  public:
    explicit Reports(std::string prefix) : prefix_(std::move(prefix)) {}
    bool show_report(const Report& report) override {
        std::string text = report.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        print_line(stderr, prefix_, text);
        std::fflush(stderr);
        return true;
    }

  private:
    std::string prefix_;
};

// The pane while the program loads and resets, printed as ruvalda-cli prints it (each line once
// it is final), named by the traffic light. The run's own lines (a detector change per line)
// are not printed: a district would drown in them.
class Junction::LoadPrinter : public PaneListener {
  public:
    LoadPrinter(std::string prefix, const OutputState& output)
        : prefix_(std::move(prefix)), output_(output) {}
    void line_added(const std::string&) override {
        const auto& lines = output_.pane.lines;
        if (lines.size() >= 2) print_line(stdout, prefix_, lines[lines.size() - 2]);
    }
    void last_line_changed(const std::string&) override {}
    void first_lines_removed(std::size_t) override {}
    void cleared() override {}
    void status_changed(const std::string&) override {}
    void finish() const {
        if (!output_.pane.lines.empty() && !output_.pane.lines.back().empty())
            print_line(stdout, prefix_, output_.pane.lines.back());
        std::fflush(stdout);
    }

  private:
    std::string prefix_;
    const OutputState& output_;
};

Junction::Junction(JunctionConfig config, JunctionOptions options)
    : config_(std::move(config)), options_(std::move(options)), c_(std::make_unique<Controller>()) {
    reports_ = std::make_unique<Reports>(who());
    load_printer_ = std::make_unique<LoadPrinter>(who(), c_->engine.output);
    c_->engine.output.front_end = reports_.get();
    c_->engine.output.listener = load_printer_.get();
    for (const auto& [number, loop] : config_.mapping.detectors) {
        loop_numbers_.push_back(number);
        loops_.push_back(loop);
    }
    loop_occupied_.assign(loops_.size(), false);
    // The lights line the controller writes is kept for apply_lights, as the bridge reads it.
    port_.write = [this](const std::string& text, std::string*) {
        lights_ = text;
        return true;
    };
    port_.show_detector = [this](int detector, int state) {
        if (timeline_) timeline_->detector(RVGetTime(c_->engine), detector, state);
    };
}

Junction::~Junction() {
    c_->engine.output.listener = nullptr;
    c_->engine.output.front_end = nullptr;
}

void Junction::start() {
    load();
    watch();
    EngineState& engine = c_->engine;
    reset_sumo_link(c_->sumo_link);
    engine.colour_callback = [this](int stream, char colour) {
        record_sumo_colour(c_->sumo_link, stream, colour);
        if (timeline_) timeline_->colour(RVGetTime(c_->engine), stream, colour);
    };
    const bool reset = RVInitialize(engine) != 0;
    SendLightsToSumo(c_->sumo_link, engine, port_);
    load_printer_->finish();
    engine.output.listener = nullptr;
    if (!reset || engine.output.end_requested)
        throw ConfigError{who() + config_.program_file +
                          ": the program does not reset (see its messages above)"};
    check_streams();
}

// The program's streams are the letters of its lights line: the mapping must name the same.
void Junction::check_streams() const {
    std::vector<int> program;
    for (int s = FIRST_STREAM; s <= LAST_STREAM; ++s)
        if (c_->engine.stream_flags[s] & SF_EXISTS) program.push_back(s);
    std::vector<int> mapped;
    for (const StreamLinks& s : config_.mapping.streams) mapped.push_back(s.stream);
    if (program == mapped) return;
    throw ConfigError{config_.mapping_file + ": streams " + stream_list(mapped) + " but " +
                      config_.program_file + " has streams " + stream_list(program) +
                      ": its lights line would not fit"};
}

// As ruvalda-cli loads a program: the macros from its folder, then beside the executable.
void Junction::load() {
    Controller& c = *c_;
    c.reader.macro.macro_path = macro_path_for(config_.program_file, options_.macro_dir);
    c.reader.sequence_handler = sequence_reader(c.sequence_model);
    c.engine.evaluation_hook = nullptr;
    const int loaded = RVLoadFile(c.reader, c.engine, config_.program_file.c_str());
    if (!loaded || c.engine.output.end_requested) {
        load_printer_->finish();
        throw ConfigError{who() + config_.program_file +
                          ": the program does not load (see its messages above)"};
    }
    // The places the load met names at serve the warnings of check and the desktop; a host of
    // hundreds of junctions does not keep them.
    c.reader.name_sources.clear();
}

// The trace file, the conflict monitor and the timeline, set up as ruvalda-cli sets them up.
void Junction::watch() {
    EngineState& engine = c_->engine;
    if (!options_.trace_file.empty()) {
        engine.trace_file_name = options_.trace_file;
        RVSyncTraceFile(engine);
    }
    if (options_.monitor) {
        const auto clearance = std::make_unique<std::int32_t[][STREAM_COUNT]>(STREAM_COUNT);
        if (!declared_clearances(c_->reader, clearance.get()))
            throw ConfigError{who() + "--monitor: " + config_.program_file +
                              " has no declaration block, so no clearance matrix to watch"};
        monitor_start(c_->monitor, clearance.get());
        c_->monitor.on_violation = [this](std::int32_t time, int a, int b, std::int32_t short_by) {
            std::printf(
                "junction %s: conflict monitor: %d.%d s: streams %02d and %02d, short by "
                "%d tenths\n",
                tls().c_str(), time / 10, time % 10, a, b, short_by);
            if (timeline_) timeline_->violation(time, a, b, short_by);
        };
    }
    if (!options_.timeline_file.empty()) {
        timeline_ = std::make_unique<TimelineRecorder>();
        timeline_->title = std::filesystem::path(config_.program_file).filename().string() +
                           ", SUMO junction " + tls();
    }
}

void Junction::attach(int links, std::vector<std::pair<int, int>> foe_pairs) {
    if (links == 0) throw ConfigError{who() + "no such traffic light in the network"};
    int top = -1;
    for (const StreamLinks& s : config_.mapping.streams)
        for (const auto& [link, green] : s.links) top = std::max(top, link);
    if (top >= links)
        throw ConfigError{who() + "the mapping uses link " + std::to_string(top) +
                          ", the traffic light has links 0.." + std::to_string(links - 1)};
    links_ = links;
    foe_pairs_ = std::move(foe_pairs);
}

void Junction::hear_loop(std::size_t index, bool occupied) {
    if (loop_occupied_[index] == occupied) return;
    loop_occupied_[index] = occupied;
    sumo_detector_change(c_->sumo_link, c_->engine, port_, loop_numbers_[index], occupied ? 1 : 0);
}

void Junction::step() {
    sumo_step(c_->sumo_link, c_->engine, port_);
    if (c_->engine.output.end_requested)
        throw ControllerFailure{who() + ": the controller stopped (its report above says why)"};
}

// The letters of the last lights line, checked as the bridge checks a line it reads.
std::string Junction::lights_letters() const {
    std::string line = lights_;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string prefix = LIGHTS_PREFIX;
    const std::string letters =
        line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : "";
    const std::size_t n = config_.mapping.streams.size();
    if (letters.size() != n || letters.find_first_not_of(LIGHTS_LETTERS) != std::string::npos)
        throw ControllerFailure{who() + "invalid lights line '" + line +
                                "' (expected \"lights \" and " + std::to_string(n) +
                                " letters g, r or y, one per stream)"};
    return letters;
}

// A link switched by several streams is red when any of them is red, else yellow when any is
// yellow, else green with its G or g (g when any gives g); links no stream switches stay red.
std::string Junction::signal_state(const std::string& letters) const {
    constexpr char NONE = '\0';
    std::string state(static_cast<std::size_t>(links_), NONE);
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const char ch = letters[i];
        for (const auto& [link, green] : config_.mapping.streams[i].links) {
            char& worst = state[static_cast<std::size_t>(link)];
            if (ch == 'r' || worst == 'r')
                worst = 'r';
            else if (ch == 'y' || worst == 'y')
                worst = 'y';
            else
                worst = (green == 'g' || worst == 'g') ? 'g' : 'G';
        }
    }
    std::replace(state.begin(), state.end(), NONE, 'r');
    return state;
}

void Junction::apply_lights(
    double sim_time,
    const std::function<void(const std::string& tls, const std::string& state)>& set_state) {
    const std::string state = signal_state(lights_letters());
    if (state != state_in_sumo_) {  // unchanged lights are not set again, as under the bridge
        set_state(tls(), state);
        state_in_sumo_ = state;
    }
    for (const auto& [a, b] : foe_pairs_) {
        if (state[static_cast<std::size_t>(a)] != 'G' || state[static_cast<std::size_t>(b)] != 'G')
            continue;
        ++conflicts_;
        if (first_conflict_.empty()) {
            char when[64];
            std::snprintf(when, sizeof when, "t=%.1f s links %d and %d (", sim_time, a, b);
            first_conflict_ = when + state + ")";
        }
    }
}

bool Junction::finish(long* violations) {
    EngineState& engine = c_->engine;
    engine.trace_file_name.clear();
    RVSyncTraceFile(engine);
    *violations = c_->monitor.violations;
    if (options_.monitor) print_monitor_verdict();
    if (!timeline_) return true;
    const std::int32_t to = options_.timeline_to < 0 ? RVGetTime(engine) : options_.timeline_to;
    std::string error;
    if (timeline_->write_svg(options_.timeline_file, options_.timeline_from, to, &error))
        return true;
    std::fprintf(stderr, "ruvalda-sumo: junction %s: --timeline: %s\n", tls().c_str(),
                 error.c_str());
    return false;
}

// As ruvalda-cli --monitor ends: the violations and each stream's longest wait for green.
void Junction::print_monitor_verdict() const {
    for (const std::string& line : monitor_verdict(c_->monitor, RVGetTime(c_->engine)))
        print_line(stdout, who(), line);
    std::fflush(stdout);
}

}  // namespace ruvalda::sumo_host
