// The declaration block: "%mat" stream list, conflict lines, IG, timer and detector rows and
// required times, collected while reading and turned into macro calls at the end of the file.
#include <cstdarg>
#include <cstring>
#include <string>

#include "engine/eval.h"
#include "loader/reader.h"
#include "loader/text.h"
#include "output/output.h"

namespace ruvalda {

namespace {

DeclarationTables& tables(ReaderState& reader_state) {
    return reader_state.declarations;
}

int position_of(ReaderState& reader_state, int stream) {
    for (int i = 0; i < tables(reader_state).n; ++i)
        if (tables(reader_state).streams[i] == stream) return i;
    return -1;
}

void opening_line(ReaderState& reader_state, EngineState& engine, const char* line,
                  const char* after_keyword) {
    DeclarationTables& t = tables(reader_state);
    t.state = 1;
    std::memset(t.conflicts_defined, 0, sizeof t.conflicts_defined);
    std::memset(t.required_defined, 0, sizeof t.required_defined);
    t.ig_defined = false;
    std::memset(t.timer_defined, 0, sizeof t.timer_defined);
    std::memset(t.detector_defined, 0, sizeof t.detector_defined);
    t.generation_counter = 0;
    t.n = 0;
    t.mat_line = engine.source.line;
    t.generated_from = 0;
    const char* c = skip_blanks(after_keyword);
    while (*c >= '0' && *c <= '9') {
        long stream = 0;
        parse_decimal(c, &stream, &c);
        if (t.n == MAX_LISTED_STREAMS) {
            report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                         "Too many streams in %s (maximum is %d).", line, MAX_LISTED_STREAMS);
            return;
        }
        t.streams[t.n++] = static_cast<int>(stream);
        c = skip_blanks(c);
    }
    if (*c)
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     "Bad rule: %s: illegal character at position %d.", line,
                     static_cast<int>(c - line));
}

// Up to n entries after the head; a lone "-" counts as an entry meaning "none".
void read_row(ReaderState& reader_state, EngineState& engine, const char* line,
              const char* head_end, int* row) {
    const int n = tables(reader_state).n;
    const char* c = skip_blanks(head_end);
    int count = 0;
    while ((*c == '-' || (*c >= '0' && *c <= '9')) && count < n) {
        long value = -1;
        if (!parse_decimal(c, &value, &c)) ++c;  // a lone "-"
        row[count++] = static_cast<int>(value);
        c = skip_blanks(c);
    }
    if (*c)
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro", "Junk in rule %s.", line);
    else if (count < n)
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     "Too few values in rule %s.", line);
}

void conflict_line(ReaderState& reader_state, EngineState& engine, const char* line,
                   const char* p) {
    long stream = 0;
    const char* after = p;
    parse_decimal(p, &stream, &after);
    if (!is_stream(stream)) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro", "Bad stream number %d.",
                     static_cast<int>(stream));
        return;
    }
    int s = position_of(reader_state, static_cast<int>(stream));
    if (s < 0) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     "Bad conflict: %s (ignored).", line);
        return;
    }
    if (tables(reader_state).conflicts_defined[s]) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     "Re-definition of conflicts from stream %d ignored.",
                     static_cast<int>(stream));
        return;
    }
    tables(reader_state).conflicts_defined[s] = true;
    tables(reader_state).conflict_line[s] = engine.source.line;
    read_row(reader_state, engine, line, after, tables(reader_state).conflict[s]);
}

void row_line(ReaderState& reader_state, EngineState& engine, const char* line, const char* p,
              bool timer) {
    int k = p[1] - '1';
    bool& defined =
        timer ? tables(reader_state).timer_defined[k] : tables(reader_state).detector_defined[k];
    if (defined) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     timer ? "Re-definition of T%d ignored." : "Re-definition of D%d ignored.",
                     k + 1);
        return;
    }
    defined = true;
    (timer ? tables(reader_state).timer_line : tables(reader_state).detector_line)[k] =
        engine.source.line;
    read_row(reader_state, engine, line, p + 2,
             timer ? tables(reader_state).timer_rows[k] : tables(reader_state).detector_rows[k]);
}

// "%tt stream t1 .. tm"; false when the line passes on as a rule.
bool required_times_line(ReaderState& reader_state, EngineState& engine, const char* line,
                         const char* p) {
    const char* c = skip_blanks(p + 3);
    long stream = 0;
    if (!(*c >= '0' && *c <= '9') || !parse_decimal(c, &stream, &c)) return false;
    int s = position_of(reader_state, static_cast<int>(stream));
    if (s < 0) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     "Bad stream number: %s (ignored).", line);
        return true;
    }
    if (tables(reader_state).required_defined[s]) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                     "Re-definition of required timers for stream %d ignored.",
                     static_cast<int>(stream));
        return true;
    }
    const int m = reader_state.phase_timer_count;
    int values[MAX_REQUIRED_TIMES];
    for (int i = 0; i < m; ++i) {
        c = skip_blanks(c);
        long value = 0;
        if (!(*c >= '0' && *c <= '9') || !parse_decimal(c, &value, &c)) return false;
        values[i] = static_cast<int>(value);
    }
    if (*skip_blanks(c)) return false;
    std::memcpy(tables(reader_state).required[s], values,
                sizeof(int) * static_cast<std::size_t>(m));
    tables(reader_state).required_defined[s] = true;
    return true;
}

// Takes a line of the block; false when it passes on.
bool declaration_line(ReaderState& reader_state, EngineState& engine, char* line) {
    DeclarationTables& t = tables(reader_state);
    const char* p = skip_blanks(line);
    if (t.state == 0) {
        if (!starts_with_nocase(p, "%mat")) return false;
        opening_line(reader_state, engine, line, p + 4);
        return true;
    }
    if (t.state != 1) return false;
    if (starts_with_nocase(p, "%rules")) {
        t.state = 2;
        return true;
    }
    if (*p >= '0' && *p <= '9') {
        conflict_line(reader_state, engine, line, p);
        return true;
    }
    if (starts_with_nocase(p, "ig")) {
        if (t.ig_defined) {
            report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                         "Re-definition of IG ignored.");
        } else {
            t.ig_defined = true;
            t.ig_line = engine.source.line;
            read_row(reader_state, engine, line, p + 2, t.ig);
        }
        return true;
    }
    if ((starts_with_nocase(p, "t") || starts_with_nocase(p, "d")) && p[1] >= '1' && p[1] <= '9' &&
        p[2] == ' ') {
        row_line(reader_state, engine, line, p, p[0] == 'T' || p[0] == 't');
        return true;
    }
    if (starts_with_nocase(p, "%tt")) return required_times_line(reader_state, engine, line, p);
    return false;
}

char* generated(ReaderState& reader_state, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
char* generated(ReaderState& reader_state, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(tables(reader_state).output, sizeof tables(reader_state).output, format, args);
    va_end(args);
    return tables(reader_state).output;
}

// The next generated text at the end of the input, or none.
char* generate(ReaderState& reader_state, EngineState& engine) {
    DeclarationTables& t = tables(reader_state);
    const int n = t.n;
    for (int i = 0; i < n; ++i) {
        if (!t.conflicts_defined[i]) {
            report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro",
                         "Clearance times from %02d not specified.", t.streams[i]);
            return nullptr;
        }
        if (!t.required_defined[i] && t.generation_counter == 0) {
            t.generation_counter = 32767;
            return generated(reader_state, "%cRequired times for stream %02d not specified.\n",
                             static_cast<char>(INCOMPLETE_MARK), t.streams[i]);
        }
    }
    if (!t.ig_defined) {
        report_error(engine.output, CONFIGURATION_ERROR, "dosupermacro", "IG not specified.");
        return nullptr;
    }
    while (t.generation_counter < n * (n + 1)) {
        const int tt = t.generation_counter / (n + 1), c = t.generation_counter % (n + 1);
        ++t.generation_counter;
        if (c == n) {
            t.generated_from = t.mat_line;
            std::string text = "&Stream (";
            char piece[32];
            std::snprintf(piece, sizeof piece, "%02d, %d ", t.streams[tt], t.ig[tt]);
            text += piece;
            for (int k = 0; k < reader_state.phase_timer_count && k < MAX_REQUIRED_TIMES; ++k) {
                std::snprintf(piece, sizeof piece, ",%4d", t.required[tt][k]);
                text += piece;
            }
            text += ")";
            return generated(reader_state, "%.*s", static_cast<int>(TEXT_LENGTH), text.c_str());
        }
        if (t.conflict[c][tt] < 0) continue;
        int next = 0;
        for (int d = c + 1; d < n; ++d)
            if (t.conflict[d][tt] >= 0) {
                next = t.streams[d];
                break;
            }
        t.generated_from = t.conflict_line[c];
        return generated(reader_state, "&Conflict (%02d, %02d, %02d, %d)", t.streams[c],
                         t.streams[tt], next, t.conflict[c][tt]);
    }
    while (t.generation_counter < n * (n + 1) + 18 * n) {
        const int j = t.generation_counter - n * (n + 1), k = j % 9, q = j / 9;
        ++t.generation_counter;
        if (q < n) {
            if (t.detector_defined[k] && t.detector_rows[k][q] >= 0) {
                t.generated_from = t.detector_line[k];
                return generated(reader_state, "&%s (%02d, %d, %d)", "Detector", t.streams[q],
                                 k + 1, t.detector_rows[k][q]);
            }
        } else if (t.timer_defined[k] && t.timer_rows[k][q - n] >= 0) {
            t.generated_from = t.timer_line[k];
            return generated(reader_state, "&%s (%02d, %d, %d)", "Timer", t.streams[q - n], k + 1,
                             t.timer_rows[k][q - n]);
        }
    }
    return nullptr;
}

}  // namespace

char* dosupermacro(ReaderState& reader_state, EngineState& engine) {
    for (;;) {
        char* line = read_raw(reader_state, engine);
        if (!line) {
            if (tables(reader_state).state == 0) return nullptr;
            return generate(reader_state, engine);
        }
        if (!declaration_line(reader_state, engine, line)) return line;
    }
}

}  // namespace ruvalda

namespace ruvalda {

bool declared_clearances(ReaderState& reader_state,
                         std::int32_t clearance[STREAM_COUNT][STREAM_COUNT]) {
    for (int s = 0; s < STREAM_COUNT; ++s)
        for (int t = 0; t < STREAM_COUNT; ++t) clearance[s][t] = -1;
    const DeclarationTables& d = reader_state.declarations;
    if (d.state == 0 || d.n == 0) return false;
    for (int s = 0; s < d.n; ++s) {
        if (!d.conflicts_defined[s]) continue;
        for (int t = 0; t < d.n; ++t) {
            const int from = d.streams[s], to = d.streams[t];
            if (from < 0 || from > LAST_STREAM || to < 0 || to > LAST_STREAM ||
                d.conflict[s][t] < 0)
                continue;
            if (s != t) clearance[from][to] = d.conflict[s][t];
        }
    }
    return true;
}

}  // namespace ruvalda
