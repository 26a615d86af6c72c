// Time step: reset, the settle loop, timers, colours, the engine trace file and the adjust file.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <string_view>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include "engine/eval.h"
#include "engine/internal.h"
#include "engine/monitor.h"
#include "output/output.h"

namespace ruvalda {

namespace {

void set_time_text(EngineState& engine) {
    std::snprintf(engine.output.time_text, sizeof engine.output.time_text, "Time:%4ld.%1ld ",
                  static_cast<long>(engine.current_time / 10),
                  static_cast<long>(engine.current_time % 10));
}

// Opens, closes or switches the trace file when the wanted name differs from the open one.
// A file that cannot be opened keeps its name remembered, so the failure is told once.
void sync_trace_file(EngineState& engine) {
    const std::string& wanted = engine.trace_file_name;
    if (wanted == engine.open_trace_name) return;
    close_trace_file(engine);
    engine.open_trace_name = wanted;
    engine.trace_file_error.clear();
    if (wanted.empty()) return;
    engine.trace_file = std::fopen(wanted.c_str(), "w");
    if (!engine.trace_file)
        traceprintf(engine.output, "\nCannot open trace file \"%s\": %s.\n", wanted.c_str(),
                    std::strerror(errno));
}

// "name value" with the name's last two characters its number; a timer's limit changes.
void apply_adjust_line(EngineState& engine, const char* line) {
    char name[32];
    long long value = 0;
    char rest;
    if (std::sscanf(line, "%31s %lld%c", name, &value, &rest) < 2 || value < 0 || value > INT32_MAX)
        return;
    std::size_t length = std::strlen(name);
    if (length < 2 || length - 2 > NAME_LENGTH) return;
    if (!is_digit(name[length - 2]) || !is_digit(name[length - 1])) return;
    int number = (name[length - 2] - '0') * 10 + (name[length - 1] - '0');
    name[length - 2] = '\0';
    Variable* v = find_variable(engine, name, number);
    if (v && (v->flags & V_TIMER)) {
        v->limit = static_cast<std::int32_t>(value);
        ++engine.epoch;
    }
}

void close_adjust_watch(EngineState& engine) {
#ifdef __linux__
    if (engine.adjust_watch.fd >= 0) ::close(engine.adjust_watch.fd);
#endif
    engine.adjust_watch.fd = -1;
}

// False only when a watch on the adjust file's folder has seen nothing of that name happen
// since the last look; without a watch, every settle looks.
bool adjust_file_may_exist(EngineState& engine) {
#ifdef __linux__
    auto& w = engine.adjust_watch;
    if (w.watched_name != engine.adjust_file_name) {
        close_adjust_watch(engine);
        w.watched_name = engine.adjust_file_name;
        std::filesystem::path path(w.watched_name);
        w.base_name = path.filename().string();
        std::string folder = path.parent_path().empty() ? "." : path.parent_path().string();
        w.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (w.fd >= 0 &&
            ::inotify_add_watch(w.fd, folder.c_str(),
                                IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY) < 0)
            close_adjust_watch(engine);
        return true;  // it may be there already
    }
    if (w.fd < 0) return true;
    alignas(inotify_event) char buffer[4096];
    bool seen = false;
    for (;;) {
        ssize_t n = ::read(w.fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if ((event->mask & IN_Q_OVERFLOW) || (event->len && w.base_name == event->name))
                seen = true;
            p += sizeof(inotify_event) + event->len;
        }
    }
    return seen;
#else
    (void)engine;
    return true;
#endif
}

// An adjust file is applied once and removed; one that cannot be removed would be applied again
// at every settle, so it is told once and left alone from then on.
void take_adjust_file(EngineState& engine) {
    const std::string& name = engine.adjust_file_name;
    if (name.empty() || name == engine.adjust_file_kept || !adjust_file_may_exist(engine)) return;
    std::FILE* f = std::fopen(name.c_str(), "r");
    if (!f) return;
    skip_byte_order_mark(f);
    char line[10000];
    while (std::fgets(line, sizeof line, f)) apply_adjust_line(engine, line);
    std::fclose(f);
    if (std::remove(name.c_str()) == 0) return;
    engine.adjust_file_kept = name;
    report_error(engine.output, ERROR, "settle",
                 "Cannot remove adjust file %s: %s. It is not applied again.", name.c_str(),
                 std::strerror(errno));
}

void report_oscillation(EngineState& engine) {
    std::string list;
    for (const Variable& v : engine.variables) {
        if (!(v.flags & V_CHANGED)) continue;
        std::size_t piece = std::strlen(v.printed) + 1;
        if (list.size() + piece > OSCILLATION_LIST_LIMIT) break;  // the rest is left off
        list += v.printed;
        list += ' ';
    }
    traceprintf(engine.output, "%soscillating ", list.c_str());
    ++engine.oscillation_count;
    ++engine.oscillating_settles;
}

// Rule skipping. A rule marked CLEAN was evaluated since anything it reads or assigns last
// changed, so evaluating it again would change nothing; rules assigning timers (a restart
// writes the timer in every tenth) and rules without a target are evaluated in every pass.
enum : std::uint8_t { CLEAN = 0, DIRTY = 1, ALWAYS = 2 };
constexpr std::uint32_t RULE_VISIBLE_FLAGS = V_START | V_END | V_EXPIRED;

// What a variable shows the rules: a timer whether it runs, any other its value; its edges.
std::uint64_t shown(const Variable& v) {
    const std::uint32_t value =
        (v.flags & V_TIMER) ? (v.value != 0) : static_cast<std::uint32_t>(v.value);
    return (static_cast<std::uint64_t>(v.flags & RULE_VISIBLE_FLAGS) << 32) | value;
}

// Passes may pass over rules, and settles over fixed points, unless every evaluation is
// watched or traced.
bool may_skip_evaluations(const EngineState& engine) {
    if (!engine.skip_fixed_points || engine.evaluation_hook || engine.any_variable_traces_all)
        return false;
    for (std::uint32_t word : engine.stream_flags)
        if (word & SF_TRACE_ALL) return false;
    return true;
}

bool rule_skipping_current(const EngineState& engine) {
    const auto& s = engine.rule_skipping;
    return s.valid && s.rules == engine.rule_table.data() && s.count == engine.rule_table.size() &&
           s.variable_count == engine.variables.size() &&
           s.generation == engine.variables.generation();
}

// Lists every variable's readers and assigners afresh; every rule is to be evaluated.
void list_rule_readers(EngineState& engine) {
    auto& s = engine.rule_skipping;
    const std::size_t rules = engine.rule_table.size();
    const std::size_t variables = engine.variables.size();
    std::vector<std::vector<std::uint32_t>> lists(variables);
    s.target.assign(rules, NO_TARGET);
    s.dirty.assign(rules, ALWAYS);
    for (std::size_t i = 0; i < rules; ++i) {
        const std::uint8_t* code = engine.rule_table[i].code;
        const std::uint8_t kind = code[RULE_KIND_AT];
        const auto target = static_cast<std::uint32_t>(read_int32(code + RULE_TARGET_AT));
        if (kind < K_ASSIGN || kind > K_RESTART || target >= variables) continue;
        const auto rule = static_cast<std::uint32_t>(i);
        lists[target].push_back(rule);
        const bool listed = for_each_variable_operand(
            code + RULE_EXPRESSION_AT, [&](std::uint8_t, const std::uint8_t* field) {
                const auto read = static_cast<std::uint32_t>(read_int32(field));
                if (read >= variables) return false;
                lists[read].push_back(rule);
                return true;
            });
        s.target[i] = target;
        if (listed && !(engine.variables[target].flags & V_TIMER)) s.dirty[i] = DIRTY;
    }
    s.first.assign(1, 0);
    s.readers.clear();
    s.seen.resize(variables);
    for (std::size_t v = 0; v < variables; ++v) {
        s.readers.insert(s.readers.end(), lists[v].begin(), lists[v].end());
        s.first.push_back(static_cast<std::uint32_t>(s.readers.size()));
        s.seen[v] = shown(engine.variables[v]);
    }
    s.rules = engine.rule_table.data();
    s.count = rules;
    s.variable_count = variables;
    s.generation = engine.variables.generation();
    s.valid = true;
}

// A variable shows the rules something new: its readers and assigners are to be evaluated.
void note_shown(EngineState::RuleSkipping& s, const Variable& v) {
    const std::uint64_t now = shown(v);
    if (now == s.seen[v.index]) return;
    s.seen[v.index] = now;
    for (std::uint32_t k = s.first[v.index]; k < s.first[v.index + 1]; ++k)
        if (s.dirty[s.readers[k]] == CLEAN) s.dirty[s.readers[k]] = DIRTY;
}

void evaluate_rules(EngineState& engine, bool skipping) {
    auto& s = engine.rule_skipping;
    const std::uint32_t generation = engine.variables.generation();
    RuleRecord* const rules = engine.rule_table.data();
    const std::size_t count = engine.rule_table.size();
    for (std::size_t i = 0; i < count; ++i) {
        RuleRecord& rule = rules[i];
        if (!skipping) {
            evalrule(engine, rule);
            continue;
        }
        const bool memoised =
            rule.memo.state == RuleMemo::VALID && rule.memo.generation == generation;
        if (s.dirty[i] == CLEAN && memoised) continue;
        if (s.dirty[i] == DIRTY) s.dirty[i] = CLEAN;
        evalrule(engine, rule);
        if (s.target[i] != NO_TARGET) note_shown(s, engine.variables[s.target[i]]);
    }
}

// One settle pass: every rule in order (but those that would change nothing), then colours and
// the timers' S edges.
void settle_pass(EngineState& engine) {
    engine.change_count = 0;
    engine.pass_writes = 0;
    const bool skipping = may_skip_evaluations(engine);
    if (!skipping)
        engine.rule_skipping.valid = false;
    else if (!rule_skipping_current(engine))
        list_rule_readers(engine);
    for (Variable& v : engine.variables) {
        if (v.flags & V_CHANGED) ++engine.pass_writes;
        v.flags &= ~V_CHANGED;
        if (skipping) note_shown(engine.rule_skipping, v);
    }
    evaluate_rules(engine, skipping);
    for (Variable& v : engine.variables) {
        if ((v.flags & (V_EXPORTED | V_START)) == (V_EXPORTED | V_START) && v.value != 0) {
            export_colour(engine, v);
            ++engine.pass_writes;
        }
        // A timer's S edge lasts to the end of the pass that started it.
        if ((v.flags & (V_TIMER | V_START)) == (V_TIMER | V_START)) {
            v.flags = (v.flags & ~V_START) | V_CHANGED;
            ++engine.change_count;
        }
    }
}

void trace_initial_values(EngineState& engine) {
    for (const Variable& v : engine.variables)
        if (v.value != 0 && (stream_word(engine, v) & SF_TRACE))
            traceprintf(engine.output, "%s <- %d  (initializer)\n", v.printed, v.value);
}

}  // namespace

void close_engine_files(EngineState& engine) {
    close_trace_file(engine);
    engine.open_trace_name.clear();
    close_adjust_watch(engine);
}

void trace_file_failed(EngineState& engine) {
    const int error = errno;
    if (engine.trace_file) std::fclose(engine.trace_file);
    engine.trace_file = nullptr;
    engine.trace_file_dirty = false;
    if (!engine.trace_file_error.empty()) return;
    engine.trace_file_error = std::strerror(error);
    report_error(engine.output, ERROR, "RVRunUntil", "Error writing trace file %s: %s.",
                 engine.open_trace_name.c_str(), engine.trace_file_error.c_str());
}

void write_trace_line(EngineState& engine, const char* format, ...) {
    if (!engine.trace_file) return;
    va_list args;
    va_start(args, format);
    const int written = std::vfprintf(engine.trace_file, format, args);
    va_end(args);
    if (written < 0) {
        trace_file_failed(engine);
        return;
    }
    engine.trace_file_dirty = true;
}

void close_trace_file(EngineState& engine) {
    if (!engine.trace_file) return;
    flush_trace_file(engine);
    if (engine.trace_file && std::fclose(engine.trace_file) != 0) {
        engine.trace_file = nullptr;
        trace_file_failed(engine);
    }
    engine.trace_file = nullptr;
}

std::int32_t RVGetTime(EngineState& engine) {
    return engine.current_time;
}
std::int32_t RVGetRate(EngineState& engine) {
    return engine.rate;
}
const char* RVGetTimeText(EngineState& engine) {
    return engine.output.time_text;
}

namespace {
constexpr const char* RATE_TEXT_FORMAT = "Rate:%6d. ";
constexpr std::string_view RATE_TEXT_START = "Rate:";
constexpr std::string_view RATE_TEXT_END = ". ";
}  // namespace

bool is_rate_text(const std::string& text) {
    return text.starts_with(RATE_TEXT_START) && text.ends_with(RATE_TEXT_END) &&
           text.find_first_not_of(" 0123456789", RATE_TEXT_START.size()) ==
               text.size() - RATE_TEXT_END.size();
}

void export_colour(EngineState& engine, const Variable& v) {
    char colour = static_cast<char>(v.export_code);
    write_trace_line(engine, "%6d\t%02d\t%c\n", engine.current_time, v.number, colour);
    if (monitoring(engine)) monitor_colour(*engine.monitor, engine, v.number, colour);
    if (engine.colour_callback) engine.colour_callback(v.number, colour);
}

void flush_trace_file(EngineState& engine) {
    if (engine.trace_file && engine.trace_file_dirty && std::fflush(engine.trace_file) != 0)
        trace_file_failed(engine);
    engine.trace_file_dirty = false;
}

int RVInitialize(EngineState& engine) {
    ++engine.epoch;
    engine.current_time = 0;
    engine.oscillating_settles = 0;
    set_time_text(engine);
    if (monitoring(engine)) monitor_reset(*engine.monitor);
    for (Variable& v : engine.variables) {
        // A pending expiry belongs to the run before the reset, like the edges.
        v.flags &= ~(V_START | V_END | V_EXPIRED);
        v.value = 0;
        v.modify_time = 0;
        if (v.flags & V_INIT) {
            v.value = ((v.flags & V_TIMER) && v.limit > 0) ? v.limit : 1;
            v.flags |= V_START;
        }
        if ((v.flags & V_EXPORTED) && v.value != 0) export_colour(engine, v);
    }
    if (!RVCheckConsistency(engine)) {
        flush_trace_file(engine);
        return 0;
    }
    tick_timers(engine);
    trace_initial_values(engine);
    flush_trace_file(engine);
    return 1;
}

void RVRunUntil(EngineState& engine, std::int32_t target) {
    sync_trace_file(engine);
    while (engine.current_time < target) {
        if (static_cast<std::int64_t>(engine.current_time) + engine.rate > target)
            engine.rate = target - engine.current_time;
        engine.current_time += engine.rate;
        set_time_text(engine);
        // Written after the time advanced, so every line of a step carries that step's time.
        if (engine.oscillation_count != 0) {
            traceprintf(engine.output, "\n");
            engine.oscillation_count = 0;
        } else {
            traceprintf(engine.output, "\r");
        }
        settle(engine);
        tick_timers(engine);
        if (engine.current_time >= target) break;

        // Catch up in growing steps while far behind, shrink them as the lag closes.
        std::int64_t lag = static_cast<std::int64_t>(target) - engine.current_time;
        if (lag - 10 > engine.rate)
            ++engine.rate;
        else if (lag + 1 < engine.rate)
            --engine.rate;
        engine.rate = std::max(engine.rate, 1);
        if (engine.rate != 1) traceprintf(engine.output, RATE_TEXT_FORMAT, engine.rate);
    }
    flush_trace_file(engine);
}

void RVSyncTraceFile(EngineState& engine) {
    sync_trace_file(engine);
    flush_trace_file(engine);
}

// True when the last settle left a fixed point that nothing has touched since, and a settle
// would write no trace line of its own.
bool at_fixed_point(EngineState& engine) {
    const auto& f = engine.fixed_point;
    return f.valid && f.epoch == engine.epoch && f.rules == engine.rule_table.data() &&
           f.count == engine.rule_table.size() && may_skip_evaluations(engine);
}

void settle(EngineState& engine) {
    take_adjust_file(engine);
    if (at_fixed_point(engine)) return;
    int pass = 1;
    for (;; ++pass) {
        settle_pass(engine);
        if (engine.change_count == 0 || pass == MAX_SETTLE_PASSES) break;
    }
    bool edges_cleared = false;
    for (Variable& v : engine.variables) {
        if ((v.flags & V_DETECTOR) && (v.flags & (V_START | V_END))) {
            v.flags &= ~(V_START | V_END);
            edges_cleared = true;
        }
    }
    if (engine.change_count != 0) report_oscillation(engine);
    auto& f = engine.fixed_point;
    f.valid = pass == 1 && engine.change_count == 0 && engine.pass_writes == 0 && !edges_cleared;
    f.epoch = engine.epoch;
    f.rules = engine.rule_table.data();
    f.count = engine.rule_table.size();
}

void tick_timers(EngineState& engine) {
    for (Variable& v : engine.variables) {
        if (!(v.flags & V_TIMER) || v.value == 0) continue;
        ++engine.epoch;
        std::int64_t remaining = static_cast<std::int64_t>(v.value) - engine.rate;
        if (remaining > 0) {
            v.value = static_cast<std::int32_t>(remaining);
            continue;
        }
        v.flags |= V_EXPIRED | V_CHANGED;
        v.value = 0;
        v.modify_time = engine.current_time;
        ++engine.change_count;
        if (stream_word(engine, v) & SF_TRACE)
            traceprintf(engine.output, "%s expires.\n", v.printed);
    }
}

}  // namespace ruvalda
