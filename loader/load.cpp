// RVLoadFile: the control file read twice into the rule table, then its translation files.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "engine/eval.h"
#include "loader/internal.h"
#include "loader/reader.h"
#include "loader/text.h"
#include "output/output.h"

namespace ruvalda {

namespace {

constexpr const char* WHERE = "RVLoadFile";
constexpr std::size_t ADJUST_NAME_LENGTH = 9989;
constexpr std::size_t DUMP_NAME_LENGTH = 9999;

std::string cut(std::string text, std::size_t length) {
    if (text.size() > length) text.resize(length);
    return text;
}

int fail_side_file(EngineState& engine, std::FILE* f, const char* format, const std::string& name,
                   int line_number, const char* line) {
    std::fclose(f);
    return report_error(engine.output, CONFIGURATION_ERROR, WHERE, format, name.c_str(),
                        line_number, line);
}

int read_detector_translation(EngineState& engine, std::string name) {
    std::FILE* f = open_side_file(name);
    if (!f) return 1;
    char line[PIECE_LENGTH + 1];
    int used = 0;
    for (int number = 1; read_side_line(f, line, sizeof line); ++number) {
        long simulator = 0, detector = 0;
        if (!two_numbers(line, &simulator, &detector))
            return fail_side_file(engine, f, "%s(%d): bad format (\"%s\").", name, number, line);
        if (!program_detector(engine, detector)) {
            traceprintf(engine.output, "%s(%d): no detector %s (\"%s\").\n", name.c_str(), number,
                        detector_printed_name(detector).c_str(), without_line_end(line).c_str());
            continue;
        }
        for (int i = 0; i < used; ++i)
            if (engine.detector_translation[i][0] == detector)
                return fail_side_file(engine, f, "%s(%d): duplicate detector translation (\"%s\").",
                                      name, number, line);
        if (used == DETECTOR_TRANSLATIONS) {
            std::fclose(f);
            return report_error(engine.output, CONFIGURATION_ERROR, WHERE,
                                "%s(%d): too many detector translations (maximum is %d).",
                                name.c_str(), number, DETECTOR_TRANSLATIONS);
        }
        engine.detector_translation[used][0] = static_cast<int>(detector);
        engine.detector_translation[used][1] = static_cast<int>(simulator);
        ++used;
    }
    std::fclose(f);
    return 1;
}

int read_stream_translation(ReaderState& reader_state, EngineState& engine, std::string name) {
    int* table = reader_state.stream_translation;
    for (int s = 0; s < LAST_STREAM; ++s) table[s] = s;
    std::FILE* f = open_side_file(name);
    if (!f) return 1;
    char line[PIECE_LENGTH + 1];
    for (int number = 1; read_side_line(f, line, sizeof line); ++number) {
        long external = 0, stream = 0;
        if (!two_numbers(line, &external, &stream) || external < 1 || external > 98)
            return fail_side_file(engine, f, "%s(%d): bad format (\"%s\").", name, number, line);
        if (stream < 1 || stream > 98)
            return fail_side_file(engine, f, "%s(%d): stream number out of range (\"%s\").", name,
                                  number, line);
        if (table[stream] != stream)
            return fail_side_file(engine, f, "%s(%d): duplicate stream translation (\"%s\").", name,
                                  number, line);
        if (!(engine.stream_flags[stream] & SF_EXISTS))
            return fail_side_file(engine, f, "%s(%d): nonexistent traffic stream (\"%s\").", name,
                                  number, line);
        table[stream] = static_cast<int>(external);
    }
    std::fclose(f);
    return 1;
}

void close_dump(ReaderState& reader_state) {
    if (reader_state.expression_dump) std::fclose(reader_state.expression_dump);
    reader_state.expression_dump = nullptr;
}

// Reports made while the file loads name where the reader stands, and a report of the first
// pass is not shown again by the second.
class LoadReports {
  public:
    LoadReports(ReaderState& reader_state, EngineState& engine, const char* path)
        : output_(engine.output) {
        reader_state.load_path = path;
        reader_state.report_place = ReportPlace{};
        reader_state.report_place.place = [&reader_state, &engine](const std::string& text) {
            return report_place_text(reader_state, engine, text);
        };
        reader_state.column_line = 0;
        reader_state.column_line_untabbed = false;
        reader_state.column_hint_given = false;
        output_.report_place = &reader_state.report_place;
    }
    ~LoadReports() {
        output_.report_place = nullptr;
        output_.hint.clear();
    }

  private:
    OutputState& output_;
};

// The numbers after "%tt" and the stream: the required times the line gives.
int required_times_given(const char* text) {
    const char* c = skip_blanks(text + 3);
    int count = -1;  // the stream number is no time
    long value = 0;
    while (parse_decimal(c, &value, &c)) {
        ++count;
        c = skip_blanks(c);
    }
    return count;
}

// A "%tt" line, or the marker of missing required times, that does not fit the columns: the
// likely cause is told once, after the first report it leads to.
bool offer_column_hint(ReaderState& reader_state, EngineState& engine, const char* text) {
    if (reader_state.column_hint_given) return false;
    const char* start = skip_blanks(text);
    const bool required_times = starts_with_nocase(start, "%tt");
    if (!required_times && static_cast<unsigned char>(*start) != INCOMPLETE_MARK) return false;
    const int columns = reader_state.phase_timer_count;
    const std::string column_line =
        reader_state.load_path + "(" + std::to_string(reader_state.column_line) + ")";
    if (columns == 0 && reader_state.column_line == 0)
        engine.output.hint =
            "Hint: a %tt line takes one time per column of the line right after \"# PHASE "
            "TIMERS IN TENTH OF SECONDS\"; that header and its column line (names separated by "
            "tabs) must come before the declaration block.";
    else if (columns == 0 && reader_state.column_line_untabbed)
        engine.output.hint = "Hint: the columns are counted from " + column_line +
                             ", which has no tab: only tabs make columns, and the column line "
                             "must come right before the declaration block.";
    else if (required_times && required_times_given(start) != columns)
        engine.output.hint =
            "Hint: this %tt line gives " + std::to_string(required_times_given(start)) +
            " times, but the column line at " + column_line + " names " + std::to_string(columns) +
            " columns (a name is a column when a tab ends it).";
    else
        return false;
    return true;
}

// Whether a report took the hint offered; a hint no report took is forgotten.
void settle_hint(ReaderState& reader_state, EngineState& engine, bool offered) {
    if (offered && engine.output.hint.empty()) reader_state.column_hint_given = true;
    engine.output.hint.clear();
}

// A rule text in a report is cut to this many characters, with its length.
constexpr std::size_t SHOWN_RULE_LENGTH = 200;

// Counting pass: compiles every rule once, for the conflict reports and the size check.
bool count_rules(ReaderState& reader_state, EngineState& engine, const char* path, int* count) {
    std::uint8_t work[WORK_RECORD_SIZE];
    *count = 0;
    while (char* text = readin(reader_state, engine)) {
        std::memset(work, 0, sizeof work);
        std::size_t needed = 0;
        const std::string rule = text;  // tokenize changes the text
        const bool offered = offer_column_hint(reader_state, engine, text);
        tokenize(engine, text, work, sizeof work, &needed);
        settle_hint(reader_state, engine, offered);
        note_rule_names(reader_state, engine, work);
        if (needed > RULE_CODE_SIZE) {
            // The last code byte stands just before the end byte.
            const int excess = static_cast<int>(needed) - 2 - 999;
            if (rule.size() <= SHOWN_RULE_LENGTH)
                report_error(engine.output, CONFIGURATION_ERROR, WHERE,
                             "Rule too large (by about %d characters): \"%s\".", excess,
                             rule.c_str());
            else
                report_error(engine.output, CONFIGURATION_ERROR, WHERE,
                             "Rule too large (by about %d characters): \"%.*s...\" (%d "
                             "characters).",
                             excess, static_cast<int>(SHOWN_RULE_LENGTH), rule.c_str(),
                             static_cast<int>(rule.size()));
            closein(reader_state, engine);
            close_dump(reader_state);
            return false;
        }
        ++*count;
    }
    (void)path;
    return true;
}

// Filling pass: compiles each rule into the table and keeps it when its first evaluation
// succeeds.
bool fill_rules(ReaderState& reader_state, EngineState& engine, int count) {
    std::uint8_t work[WORK_RECORD_SIZE];
    int i = 0;
    while (char* text = readin(reader_state, engine)) {
        if (i >= count) {
            report_error(engine.output, PROGRAM_ERROR, WHERE,
                         "Internal error: rulenumber > rulecount.");
            closein(reader_state, engine);
            return false;
        }
        std::memset(work, 0, sizeof work);
        const bool offered = offer_column_hint(reader_state, engine, text);
        tokenize(engine, text, work, RULE_CODE_SIZE);
        RuleRecord& record = engine.rule_table.emplace_back();
        std::memcpy(record.code, work, RULE_CODE_SIZE);
        const int error = evalrule(engine, record.code);
        settle_hint(reader_state, engine, offered);
        if (error != 0)
            engine.rule_table.pop_back();
        else
            ++i;
    }
    closein(reader_state, engine);
    if (i != count) {
        report_error(engine.output, CONFIGURATION_ERROR, WHERE, "Errors detected.");
        return false;
    }
    return true;
}

}  // namespace

// Opens a side file by its name, or by the same name with a lower-case extension.
std::FILE* open_side_file(std::string& name) {
    if (std::FILE* f = std::fopen(name.c_str(), "rb")) return f;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return nullptr;
    std::string lower = name;
    for (std::size_t i = dot; i < lower.size(); ++i)
        if (lower[i] >= 'A' && lower[i] <= 'Z') lower[i] = static_cast<char>(lower[i] - 'A' + 'a');
    if (lower == name) return nullptr;
    if (std::FILE* f = std::fopen(lower.c_str(), "rb")) {
        name = lower;
        return f;
    }
    return nullptr;
}

// Reads one line of a side file (999 characters) as read, line feed included.
bool read_side_line(std::FILE* f, char* line, std::size_t size) {
    skip_byte_order_mark(f);
    return std::fgets(line, static_cast<int>(size), f) != nullptr;
}

bool two_numbers(const char* line, long* first, long* second, const char** end) {
    const char* c = skip_blanks(line);
    if (!parse_decimal(c, first, &c)) return false;
    c = skip_blanks(c);
    return parse_decimal(c, second, end);
}

Variable* program_detector(EngineState& engine, long detector) {
    if (detector < 0 || detector > MAX_PROGRAM_DETECTOR) return nullptr;
    const char name[3] = {'D', static_cast<char>('0' + detector % 10), '\0'};
    Variable* v = find_variable(engine, name, static_cast<int>(detector / 10));
    return v && (v->flags & V_DETECTOR) ? v : nullptr;
}

std::string detector_printed_name(long detector) {
    if (detector < 0 || detector > MAX_PROGRAM_DETECTOR) return std::to_string(detector);
    char printed[8];
    std::snprintf(printed, sizeof printed, "D%02ld%ld", detector / 10, detector % 10);
    return printed;
}

std::string without_line_end(const char* line) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string side_file_name(const std::string& path, const char* extension) {
    // Only a dot in the file's own name starts its extension, never one in a folder's name.
    std::size_t dot = path.rfind('.');
    std::size_t separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return path + extension;
    return path.substr(0, dot) + extension;
}

std::string dump_file_name(const std::string& path) {
    return path + "_dumpexpr.txt";
}

int RVLoadFile(ReaderState& reader_state, EngineState& engine, const char* path) {
    std::memset(engine.stream_flags, 0, sizeof engine.stream_flags);
    std::memset(engine.detector_translation, 0, sizeof engine.detector_translation);
    LoadReports load_reports(reader_state, engine, path);
    std::string dtl_name, stl_name;
    try {
        dtl_name = side_file_name(path, ".DTL");
        stl_name = side_file_name(path, ".STL");
        engine.rule_table_exists = false;
        reader_state.name_sources.clear();
        reader_state.silent_section_stop = 0;
        free_variables(engine);
        traceprintf(engine.output, "Ruvalda initializing...\n");
        engine.rule_table.clear();
        engine.rule_table.shrink_to_fit();
        engine.adjust_file_name = cut(side_file_name(path, ".adj"), ADJUST_NAME_LENGTH);
        reader_state.expression_dump_name = cut(dump_file_name(path), DUMP_NAME_LENGTH);
    } catch (const std::bad_alloc&) {
        return report_error(engine.output, ERROR, WHERE, "Out of memory.");
    }

    close_dump(reader_state);
    reader_state.expression_dump = std::fopen(reader_state.expression_dump_name.c_str(), "w");
    if (!reader_state.expression_dump)
        return report_error(engine.output, ERROR, WHERE, "Cannot open file %s: %s.",
                            reader_state.expression_dump_name.c_str(), std::strerror(errno));
    if (!openin(reader_state, engine, path)) {
        close_dump(reader_state);
        return 0;
    }
    int count = 0;
    if (!count_rules(reader_state, engine, path, &count)) return 0;
    closein(reader_state, engine);
    std::FILE* dump = reader_state.expression_dump;
    reader_state.expression_dump = nullptr;
    if (std::fclose(dump) != 0)
        return report_error(engine.output, ERROR, WHERE, "Error closing file %s: %s.",
                            reader_state.expression_dump_name.c_str(), std::strerror(errno));

    try {
        engine.rule_table.reserve(static_cast<std::size_t>(count) + 1);
    } catch (const std::bad_alloc&) {
        return report_error(engine.output, ERROR, WHERE,
                            "Out of memory (allocating storage for %d rules).", count);
    }
    engine.rule_table_exists = true;
    reader_state.report_place.repeating = true;
    free_variables(engine);
    if (!openin(reader_state, engine, path)) return 0;
    if (!fill_rules(reader_state, engine, count)) return 0;

    if (!read_detector_translation(engine, dtl_name)) return 0;
    for (const Variable& v : engine.variables) engine.stream_flags[v.number] |= SF_EXISTS;
    if (!read_stream_translation(reader_state, engine, stl_name)) return 0;
    ++engine.epoch;  // the directives changed flags and limits
    traceprintf(engine.output, "Ruvalda file loaded.\n");
    return 1;
}

}  // namespace ruvalda
