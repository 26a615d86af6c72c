#include "loader/warnings.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "loader/internal.h"
#include "loader/text.h"
#include "output/output.h"

namespace ruvalda {

namespace {

constexpr std::uint32_t ASSIGNED = V_HAS_SET_RULE | V_HAS_CLEAR_RULE;

class Warnings {
  public:
    explicit Warnings(const std::string& control_file) : control_file_(control_file) {}
    std::vector<Warning> list;

    void add(const SourceLine& place, const char* format, ...)
        __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        list.push_back({place.file.empty() ? control_file_ : place.file, place.line,
                        format_limited(MESSAGE_LIMIT, format, args)});
        va_end(args);
    }

  private:
    const std::string& control_file_;
};

std::string two_digits(int stream) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", stream);
    return text;
}

const NameSources* sources_of(const ReaderState& reader_state, const Variable& v) {
    auto found = reader_state.name_sources.find(v.printed);
    return found == reader_state.name_sources.end() ? nullptr : &found->second;
}

// Names read, assigned and limited in ways that make no sense.
void check_names(const ReaderState& reader_state, const EngineState& engine, Warnings& out) {
    for (const Variable& v : engine.variables) {
        const NameSources* sources = sources_of(reader_state, v);
        if (!sources) continue;
        const bool kind_given = v.flags & (V_INIT | V_DETECTOR | V_TIMER);
        if (v.ref_count > 0 && !(v.flags & ASSIGNED) && !kind_given && sources->own_read.line)
            out.add(sources->own_read,
                    "%s is read but nothing gives it a value: no rule assigns it, no %%init "
                    "names it, and it is no detector or timer",
                    v.printed);
        if ((v.flags & V_TIMER) && v.limit >= 0 && !(v.flags & (V_HAS_SET_RULE | V_INIT)) &&
            sources->limit.line)
            out.add(sources->limit, "timer %s has a time limit but no rule starts it", v.printed);
        if ((v.flags & V_DETECTOR) && (v.flags & ASSIGNED) && sources->assigned.line)
            out.add(sources->assigned,
                    "a rule assigns detector %s; a detector takes its value from the detector "
                    "input only",
                    v.printed);
    }
}

// Where a stream that breaks a companion rule is first met, which the reset's report does not
// say: a stream number mistyped in a rule or the "%mat" line.
void check_companions(const ReaderState& reader_state, const EngineState& engine, Warnings& out) {
    for (const Companion& c : missing_companions(engine)) {
        // The earliest line of the control file naming the stream, else any place.
        const Variable* first = nullptr;
        SourceLine place;
        for (const Variable& v : engine.variables) {
            const NameSources* sources =
                v.number == c.stream ? sources_of(reader_state, v) : nullptr;
            if (!sources) continue;
            for (const SourceLine* p :
                 {&sources->directive, &sources->assigned, &sources->read, &sources->limit}) {
                if (!p->line) continue;
                const bool earlier =
                    place.line == 0 ||
                    (p->file.empty() && (!place.file.empty() || p->line < place.line));
                if (!earlier) continue;
                place = *p;
                first = &v;
            }
        }
        if (!first) continue;
        const std::string companions =
            two_digits(c.required) + (c.alternative ? " or " + two_digits(c.alternative) : "");
        const std::string others = c.alternative ? "neither " + two_digits(c.required) + " nor " +
                                                       two_digits(c.alternative) + " is"
                                                 : two_digits(c.required) + " is not";
        out.add(place, "%s puts stream %02d in the program but %s: stream %02d goes only with %s",
                first->printed, c.stream, others.c_str(), c.stream, companions.c_str());
    }
}

// A conflict given in one direction only: the monitor and the stream macros learn of it only
// from the row that names it.
void check_symmetry(const DeclarationTables& d, Warnings& out) {
    for (int s = 0; s < d.n; ++s) {
        for (int t = 0; t < d.n; ++t) {
            if (s == t || !d.conflicts_defined[s] || !d.conflicts_defined[t]) continue;
            if (d.conflict[s][t] < 0 || d.conflict[t][s] >= 0) continue;
            out.add({"", d.conflict_line[t]},
                    "stream %02d conflicts with %02d (clearance %d) but the line of %02d gives "
                    "%d for %02d: give the conflict in both directions",
                    d.streams[s], d.streams[t], d.conflict[s][t], d.streams[t], d.conflict[t][s],
                    d.streams[s]);
        }
    }
}

// The values the standard library's macros give a meaning to.
void check_row_values(const DeclarationTables& d, Warnings& out) {
    for (int s = 0; s < d.n; ++s) {
        if (d.ig_defined && d.ig[s] < 0)
            out.add({"", d.ig_line},
                    "IG gives %d for stream %02d: the minimum red is 0 or more tenths", d.ig[s],
                    d.streams[s]);
        for (int t = 0; t < d.n; ++t)
            if (d.conflicts_defined[s] && d.conflict[s][t] < -1)
                out.add({"", d.conflict_line[s]},
                        "the line of %02d gives %d for %02d: a clearance time is 0 or more "
                        "tenths, or -1 for no conflict",
                        d.streams[s], d.conflict[s][t], d.streams[t]);
        for (int k = 0; k < 9; ++k) {
            const int detector = d.detector_rows[k][s], gap = d.timer_rows[k][s];
            if (d.detector_defined[k] && detector != 1 && detector != 0 && detector != -1)
                out.add({"", d.detector_line[k]},
                        "row D%d gives %d for stream %02d: a detector row takes 1 (demand and "
                        "extension), 0 (demand only) or -1 (no detector)",
                        k + 1, detector, d.streams[s]);
            if (d.timer_defined[k] && gap < -1)
                out.add({"", d.timer_line[k]},
                        "row T%d gives %d for stream %02d: a gap time is 0 or more tenths, or -1 "
                        "for none",
                        k + 1, gap, d.streams[s]);
        }
    }
}

bool translated(const EngineState& engine, const Variable& v) {
    const int detector = v.number * 10 + (v.name[1] - '0');
    for (const auto& entry : engine.detector_translation)
        if (entry[0] == detector) return true;
    return false;
}

// The place a detector is first read: in the control file's own rules if it is read there.
SourceLine read_place(const ReaderState& reader_state, const Variable& v) {
    const NameSources* sources = sources_of(reader_state, v);
    if (!sources) return {};
    return sources->own_read.line ? sources->own_read : sources->read;
}

// Lines that say what the load took in silence, then the detectors no line maps.
void check_detector_file(const ReaderState& reader_state, EngineState& engine,
                         const std::string& path, Warnings& out) {
    std::string name = side_file_name(path, ".DTL");
    const Variable* first_read = nullptr;
    for (const Variable& v : engine.variables)
        if ((v.flags & V_DETECTOR) && v.ref_count > 0 && !first_read) first_read = &v;
    std::FILE* f = open_side_file(name);
    if (!f) {
        if (first_read)
            out.add(read_place(reader_state, *first_read),
                    "rules read detectors (%s first) but there is no %s: no simulator detector "
                    "reaches them",
                    first_read->printed, name.c_str());
        return;
    }
    std::map<long, int> simulator_lines;
    char line[PIECE_LENGTH + 1];
    for (int number = 1; read_side_line(f, line, sizeof line); ++number) {
        long simulator = 0, detector = 0;
        const char* rest = nullptr;
        if (!two_numbers(line, &simulator, &detector, &rest)) continue;  // the load refused it
        const std::string text = without_line_end(line);
        if (!is_blank_text(rest))
            out.add({name, number}, "text after the two numbers (\"%s\")", text.c_str());
        const Variable* v = program_detector(engine, detector);
        if (!v || v->ref_count == 0)
            out.add({name, number}, "no rule reads detector %s (\"%s\")",
                    detector_printed_name(detector).c_str(), text.c_str());
        auto [seen, fresh] = simulator_lines.emplace(simulator, number);
        if (!fresh)
            out.add({name, number}, "simulator detector %ld is given twice (first on line %d)",
                    simulator, seen->second);
    }
    std::fclose(f);
    for (const Variable& v : engine.variables)
        if ((v.flags & V_DETECTOR) && v.ref_count > 0 && !translated(engine, v))
            out.add(read_place(reader_state, v),
                    "detector %s is read by rules but %s maps no simulator detector to it",
                    v.printed, name.c_str());
}

}  // namespace

// Rule lines (text before any "#") of the control file after `line`.
int rule_lines_after(const std::string& path, int line) {
    std::ifstream file(path);
    std::string text;
    int number = 0, rules = 0;
    while (std::getline(file, text))
        if (++number > line && !is_blank_text(text.substr(0, text.find('#')).c_str())) ++rules;
    return rules;
}

void check_section_stop(const ReaderState& reader_state, const std::string& path, Warnings& out) {
    const int marker = reader_state.silent_section_stop;
    if (marker == 0) return;
    const int lost = rule_lines_after(path, marker);
    if (lost == 0) return;
    out.add({"", marker},
            "the reading of the file stops at this comment, which starts like the sequence "
            "section (\"# Sequence\") but is followed by none: the %d rule line%s after it %s "
            "not read",
            lost, lost == 1 ? "" : "s", lost == 1 ? "is" : "are");
}

std::vector<Warning> program_warnings(ReaderState& reader_state, EngineState& engine,
                                      const std::string& path) {
    Warnings out(path);
    check_names(reader_state, engine, out);
    check_companions(reader_state, engine, out);
    const DeclarationTables& d = reader_state.declarations;
    if (d.state != 0) {
        check_symmetry(d, out);
        check_row_values(d, out);
    }
    check_detector_file(reader_state, engine, path, out);
    check_section_stop(reader_state, path, out);
    return out.list;
}

std::string warning_line(const Warning& warning) {
    const std::string place =
        warning.line > 0 ? warning.file + "(" + std::to_string(warning.line) + ")" : warning.file;
    return place + ": warning: " + warning.text;
}

std::vector<Warning> coupling_warnings(EngineState& engine, const std::string& path) {
    const DetectorMapping mapping = detector_mapping(engine);
    if (mapping.read == 0 || mapping.mapped != 0) return {};
    std::string name = side_file_name(path, ".DTL");
    std::FILE* f = open_side_file(name);
    if (f) std::fclose(f);
    Warnings out(path);
    out.add({"", 0},
            "%s: the simulator's detectors cannot reach the %d detectors the rules read, so no "
            "demand is seen",
            f ? (name + " maps none of the program's detectors").c_str()
              : ("there is no " + name).c_str(),
            mapping.read);
    return out.list;
}

std::string untranslated_lines_note(std::uint64_t lines, const std::string& path) {
    return std::to_string(lines) + " detector line" + (lines == 1 ? "" : "s") +
           " from the simulator passed over: " + side_file_name(path, ".DTL") +
           " maps no detector of the program to " + (lines == 1 ? "its number" : "their numbers");
}

DetectorMapping detector_mapping(EngineState& engine) {
    DetectorMapping mapping;
    for (const Variable& v : engine.variables) {
        if (!(v.flags & V_DETECTOR) || v.ref_count == 0) continue;
        ++mapping.read;
        if (translated(engine, v)) ++mapping.mapped;
    }
    return mapping;
}

}  // namespace ruvalda
