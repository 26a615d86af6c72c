// The first and last stages of the reader: physical lines with their comments and markers, and
// the reader directives.
#include "loader/reader.h"

#include <cerrno>
#include <cstring>

#include "engine/ascii.h"
#include "engine/eval.h"
#include "loader/text.h"
#include "output/output.h"

namespace ruvalda {

namespace {

int& line_number(EngineState& engine) {
    return engine.source.line;
}

// Read to its end: locations no longer name the control file (the calls generated from the
// declarations come after it).
void end_of_input(ReaderState& reader_state, EngineState& engine) {
    reader_state.input_ended = true;
    engine.source.file_open = false;
}

void close_macro_file(ReaderState& reader_state, EngineState& engine) {
    if (reader_state.macro.file) std::fclose(reader_state.macro.file);
    reader_state.macro.file = nullptr;
    engine.source.macro_open = false;
}

// "# ruvalda-version=" with the number from the comment's 19th character on.
void check_version(ReaderState& reader_state, EngineState& engine, const char* comment) {
    if (std::strncmp(comment, "# ruvalda-versio", 16) != 0) return;
    long version = 0;
    if (std::strlen(comment) < 18 || !parse_decimal(comment + 18, &version)) {
        report_error(engine.output, ERROR, "read_raw", "Error parsing Version information \"%s\".",
                     comment);
        return;
    }
    if (version != SUPPORTED_VERSION && !reader_state.version_warned) {
        report_error(engine.output, ERROR, "read_raw",
                     "%s(%d):\n Error: this program supports only RUVALDA files of version "
                     "%d.\n File %s is of version %d.",
                     engine.source.file_name.c_str(), line_number(engine), SUPPORTED_VERSION,
                     engine.source.file_name.c_str(), static_cast<int>(version));
        reader_state.version_warned = true;
    }
}

// The comment line after the phase-timer header: one column per tab-ended run longer than one.
void count_columns(ReaderState& reader_state, EngineState& engine, const char* comment) {
    // The line the columns come from, and whether it had no tab at all, for the hints.
    reader_state.column_line = line_number(engine);
    reader_state.column_line_untabbed = !std::strchr(comment, '\t');
    int count = 0, run = 0;
    for (const char* c = comment; *c; ++c) {
        if (*c == '\t') {
            if (run > 1) ++count;
            run = 0;
        } else {
            ++run;
        }
    }
    if (count > MAX_REQUIRED_TIMES) {
        report_error(engine.output, CONFIGURATION_ERROR, "read_raw",
                     "%s(%d): too many required-time columns (maximum is %d).",
                     engine.source.file_name.c_str(), line_number(engine), MAX_REQUIRED_TIMES);
        count = MAX_REQUIRED_TIMES;
    }
    reader_state.phase_timer_count = count;
}

bool is_sequence_marker(const char* comment) {
    return std::strncmp(comment, "# Sequence", 10) == 0 ||
           std::strncmp(comment, "# sequence", 10) == 0;
}

void dump_write(ReaderState& reader_state, EngineState& engine, const char* format,
                const char* text) {
    std::FILE* dump = reader_state.expression_dump;
    if (!dump) return;
    if (std::fprintf(dump, format, text) < 0)
        report_error(engine.output, ERROR, "readin", "Error writing file %s: %s.",
                     reader_state.expression_dump_name.c_str(), std::strerror(errno));
}

// Reads the variable name of a directive; the word is upper-cased in place first.
Variable* directive_variable(EngineState& engine, char* text, char** after) {
    char* word = skip_blanks(text);
    for (char* c = word; *c && !is_blank(*c); ++c)
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    char name[NAME_LENGTH + 2];
    int number = 0;
    int length = getname(engine, word, name, &number);
    *after = word + length;
    if (length == 0) {
        report_error(engine.output, CONFIGURATION_ERROR, "readin",
                     "Error: bad variable name in \"%s\".", text);
        return nullptr;
    }
    return install_variable(engine, name, number, 0);
}

// The decimal digits after the blanks; no digits give 0 (a sign is no digit).
long directive_number(char* text) {
    long value = 0;
    const char* digits = skip_blanks(text);
    if (*digits >= '0' && *digits <= '9') parse_decimal(digits, &value);
    return value;
}

enum class Directive { NONE, INIT, TIME, SHOW, EXPORT };

Directive directive_of(const char* text, std::size_t* keyword_length) {
    struct Keyword {
        const char* word;
        Directive directive;
    };
    static constexpr Keyword KEYWORDS[] = {{"%init", Directive::INIT},
                                           {"%time", Directive::TIME},
                                           {"%show", Directive::SHOW},
                                           {"%export", Directive::EXPORT}};
    for (const Keyword& k : KEYWORDS) {
        std::size_t length = std::strlen(k.word);
        if (starts_with_nocase(text, k.word)) {
            *keyword_length = length;
            return k.directive;
        }
    }
    return Directive::NONE;
}

enum class DirectiveResult { NOT_A_DIRECTIVE, DONE, OUT_OF_MEMORY, BAD_NAME };

DirectiveResult apply_directive(ReaderState& reader_state, EngineState& engine, char* text) {
    std::size_t length = 0;
    Directive d = directive_of(text, &length);
    if (d == Directive::NONE) return DirectiveResult::NOT_A_DIRECTIVE;
    char* after = nullptr;
    char* name_start = skip_blanks(text + length);
    std::size_t reports = engine.output.reports_made;
    Variable* v = directive_variable(engine, text + length, &after);
    if (!v) {
        // A bad name was reported; only a failed install ends the input.
        return engine.output.reports_made != reports ? DirectiveResult::BAD_NAME
                                                     : DirectiveResult::OUT_OF_MEMORY;
    }
    long n = d == Directive::INIT ? 0 : directive_number(after);
    SourceLine& named = reader_state.name_sources[v->printed].directive;
    if (!engine.rule_table_exists && named.line == 0) named = reading_place(reader_state, engine);
    switch (d) {
        case Directive::INIT:
            v->flags |= V_INIT;
            break;
        case Directive::TIME:
            if (v->flags & V_TIMER) {
                v->limit = static_cast<std::int32_t>(n);
                SourceLine& limit = reader_state.name_sources[v->printed].limit;
                if (!engine.rule_table_exists && limit.line == 0)
                    limit = reading_place(reader_state, engine);
            } else
                report_error(engine.output, CONFIGURATION_ERROR, "readin",
                             "Error: cannot initialize a non-timer: %s.", name_start);
            break;
        case Directive::SHOW:
            v->show_code = static_cast<std::uint8_t>(n & 0xff);
            break;
        case Directive::EXPORT:
            v->export_code = static_cast<std::int8_t>(static_cast<std::uint8_t>(n & 0xff));
            v->flags |= V_EXPORTED;
            break;
        case Directive::NONE:
            break;
    }
    return DirectiveResult::DONE;
}

// The "%if" flags and their test; *rest receives where the conditioned text begins.
bool condition_holds(EngineState& engine, char* text, char** rest) {
    bool any_digit = false, true_digit = false, s = false, e = false, used = false, negated = false;
    char* c = text;
    for (;; ++c) {
        if (*c == ' ' || *c == '\t') continue;
        if (*c >= '1' && *c <= '9')
            any_digit = true_digit = true;
        else if (*c == '0')
            any_digit = true;
        else if (*c == 'S' || *c == 's')
            s = true;
        else if (*c == 'E' || *c == 'e')
            e = true;
        else if (*c == '=')
            used = true;
        else if (*c == 'N' || *c == 'n')
            negated = true;
        else
            break;
    }
    bool result = false;
    if (any_digit) {
        result = true_digit;
        *rest = skip_blanks(c);
    } else {
        char* end = c;
        for (; *end && *end != ' '; ++end)
            if (*end >= 'a' && *end <= 'z') *end = static_cast<char>(*end - 'a' + 'A');
        char name[NAME_LENGTH + 2];
        int number = 0;
        int length = getname(engine, c, name, &number);
        *rest = skip_blanks(c + length);
        const Variable* v = length > 0 ? find_variable(engine, name, number) : nullptr;
        if (v) {
            if (!s && !e) s = e = true;
            const bool set = v->flags & V_HAS_SET_RULE;
            const bool clear = v->flags & V_HAS_CLEAR_RULE;
            const bool limited_timer = (v->flags & V_TIMER) && v->limit >= 0;
            if (s && e)
                result = (set && clear) || (limited_timer && set);
            else if (s)
                result = set;
            else
                result = clear || limited_timer;
            if (used && v->ref_count > 0) result = true;
        }
    }
    return negated ? !result : result;
}

}  // namespace

void close_reader_files(ReaderState& reader_state, EngineState& engine) {
    closein(reader_state, engine);
    close_macro_file(reader_state, engine);
    if (reader_state.expression_dump) std::fclose(reader_state.expression_dump);
    reader_state.expression_dump = nullptr;
}

int openin(ReaderState& reader_state, EngineState& engine, const char* path) {
    closein(reader_state, engine);
    reader_state.control_file = std::fopen(path, "rb");
    if (!reader_state.control_file) {
        report_error(engine.output, ERROR, "openin", "Cannot open file %s: %s.", path,
                     std::strerror(errno));
        return 0;
    }
    engine.source.file_name.assign(path, strnlen(path, FILE_NAME_LENGTH));
    engine.source.file_open = true;
    line_number(engine) = 0;
    reader_state.input_ended = false;
    close_macro_file(reader_state, engine);
    reader_state.declarations.state = 0;
    return 1;
}

void closein(ReaderState& reader_state, EngineState& engine) {
    if (reader_state.control_file) std::fclose(reader_state.control_file);
    reader_state.control_file = nullptr;
    engine.source.file_open = false;
}

void report_line_too_long(EngineState& engine, const std::string& file, int line) {
    // Both passes of a load skip the line; the counting pass tells.
    if (engine.rule_table_exists) return;
    report_error(engine.output, CONFIGURATION_ERROR, "readin",
                 "%s(%d): line too long (more than %d characters), skipped.", file.c_str(), line,
                 static_cast<int>(PIECE_LENGTH));
}

char* read_raw(ReaderState& reader_state, EngineState& engine) {
    if (!reader_state.control_file) {
        report_error(engine.output, PROGRAM_ERROR, "read_raw", "openin not called.");
        return nullptr;
    }
    bool header_seen = false, counting = false;
    char* line = reader_state.line;
    while (!reader_state.input_ended) {
        bool cut = false;
        if (!read_piece(reader_state.control_file, line, sizeof reader_state.line, &cut)) {
            end_of_input(reader_state, engine);
            break;
        }
        ++line_number(engine);
        if (cut) {
            report_line_too_long(engine, engine.source.file_name, line_number(engine));
            continue;
        }
        if (header_seen) counting = true;
        char* comment = std::strchr(line, '#');
        if (comment) {
            check_version(reader_state, engine, comment);
            if (is_sequence_marker(comment)) {
                if (!reader_state.sequence_handler) {
                    report_error(engine.output, ERROR, "read_raw",
                                 "%s(%d): No handler for \"Sequence\" active.",
                                 engine.source.file_name.c_str(), line_number(engine));
                    continue;
                }
                const int marker_line = line_number(engine);
                const std::size_t reports = engine.output.reports_made;
                reader_state.sequence_handler(engine, reader_state.control_file,
                                              &line_number(engine));
                if (line_number(engine) < 0) {
                    if (engine.output.reports_made == reports &&
                        reader_state.silent_section_stop == 0)
                        reader_state.silent_section_stop = marker_line;
                    end_of_input(reader_state, engine);
                    break;
                }
            }
            if (std::strncmp(comment, "# PHASE TIMERS IN TENTH OF SECONDS", 34) == 0)
                header_seen = true;
            if (counting) count_columns(reader_state, engine, comment);
            *comment = '\0';
        }
        if (!is_blank_text(line)) return line;
    }
    return nullptr;
}

char* readin(ReaderState& reader_state, EngineState& engine) {
    for (;;) {
        char* text = domacro(reader_state, engine);
        if (!text) return nullptr;
        for (;;) {
            char* p = skip_blanks(text);
            if (*p == '%') dump_write(reader_state, engine, "# Macro \"%s\"\n", text);
            if (starts_with_nocase(p, "%if")) {
                char* rest = nullptr;
                if (!condition_holds(engine, p + 3, &rest)) {
                    dump_write(reader_state, engine, "%s", "# Preceding rule not taken\n");
                    text = nullptr;
                    break;
                }
                std::memmove(text, rest, std::strlen(rest) + 1);
                dump_write(reader_state, engine, "# preceding rule taken, resulting code \"%s\"\n",
                           text);
                // A condition with nothing behind it leaves no rule (an empty rule text would
                // be an internal error of the compiler).
                if (is_blank_text(text)) {
                    text = nullptr;
                    break;
                }
                continue;
            }
            DirectiveResult result = apply_directive(reader_state, engine, p);
            if (result == DirectiveResult::OUT_OF_MEMORY) return nullptr;
            if (result != DirectiveResult::NOT_A_DIRECTIVE) {
                text = nullptr;
                break;
            }
            dump_write(reader_state, engine, "%s\n", text);
            return text;
        }
    }
}

std::string report_place_text(const ReaderState& reader_state, const EngineState& engine,
                              const std::string& text) {
    const SourcePosition& s = engine.source;
    const int control_line = s.file_open    ? s.line
                             : s.macro_open ? reader_state.declarations.generated_from
                                            : 0;
    const std::string& file = s.macro_open ? s.macro_path : reader_state.load_path;
    const int line = s.macro_open ? s.macro_line : control_line;
    if (line <= 0) return "";
    // Some texts carry their place already, as "FILE(LINE)" or as "FILE (LINE)".
    const std::string number = std::to_string(line);
    for (const std::string& named : {file + "(" + number + ")", file + " (" + number + ")"})
        if (text.find(named) != std::string::npos) return "";
    std::string place = file + "(" + number + ")";
    if (s.macro_open && control_line > 0)
        place += " from " + reader_state.load_path + "(" + std::to_string(control_line) + ")";
    return " [" + place + "]";
}

SourceLine reading_place(const ReaderState& reader_state, const EngineState& engine) {
    const SourcePosition& s = engine.source;
    if (s.file_open) return {"", s.line};
    const int declaration = reader_state.declarations.generated_from;
    if (s.macro_open && declaration > 0) return {"", declaration};
    if (s.macro_open) return {s.macro_path, s.macro_line};
    return {"", s.line};
}

void note_rule_names(ReaderState& reader_state, EngineState& engine, const std::uint8_t* code) {
    const SourceLine place = reading_place(reader_state, engine);
    const bool own = engine.source.file_open && !engine.source.macro_open;
    for_each_rule_variable(engine, code, [&](const Variable& v, bool assigned) {
        NameSources& sources = reader_state.name_sources[v.printed];
        SourceLine& first = assigned ? sources.assigned : sources.read;
        if (first.line == 0) first = place;
        if (!assigned && own && sources.own_read.line == 0) sources.own_read = place;
    });
}

}  // namespace ruvalda
