// Rule texts to rule code and back.
#include <cstring>
#include <string>

#include "engine/eval.h"
#include "engine/internal.h"
#include "output/output.h"

namespace ruvalda {

const char* const rule_error_names[11] = {
    "no error",
    "missing operand",
    "missing closing parenthesis",
    "missing binary operator",
    "missing variable or constant",
    "too many closing parentheses",
    "stack overflow",
    "assignment operator \".=\" required",
    "incorrect use of timer variable",
    "syntax error",
    "incomplete",
};

namespace {

// Appends to the code buffer but never past its capacity; pos keeps counting, so the caller
// learns how large the whole code would have been.
struct CodeWriter {
    std::uint8_t* code;
    std::size_t capacity;
    std::size_t pos = 0;

    void byte(std::uint8_t b) {
        if (pos < capacity) code[pos] = b;
        ++pos;
    }
    void int32(std::int32_t value) {
        std::uint32_t u = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) byte(static_cast<std::uint8_t>(u >> (8 * i)));
    }
    void text(const char* s) {
        while (*s) byte(static_cast<std::uint8_t>(*s++));
    }
    // Out of memory mid-rule: what was written has no usable target or operand, so the code
    // becomes an empty error record.
    int cut_short() {
        pos = 0;
        byte(T_END);
        return TOKENIZE_ERROR;
    }
    void reference(const Variable* v) { int32(static_cast<std::int32_t>(v->index)); }
    // An error record: marker, then " [<error>] <rest>" and the end byte.
    void error_record(std::uint8_t marker, int error, const char* rest) {
        byte(marker);
        text(" [");
        text(rule_error_names[error]);
        text("] ");
        text(rest);
        byte(0);
    }
};

void skip_blanks(const char* text, std::size_t& p) {
    while (is_blank(text[p])) ++p;
}

bool sets(int kind) {
    return kind != K_CLEAR;
}
bool clears(int kind) {
    return kind == K_ASSIGN || kind == K_ASSIGN_NEGATED || kind == K_CLEAR;
}

// Marks the target's set and clear sides; a second rule on the same side is a conflict,
// reported in the loader's counting pass only.
void rule_bookkeeping(EngineState& engine, Variable& target, int kind, const char* rule_text) {
    bool conflict = false;
    if (sets(kind)) {
        if (!(target.flags & V_HAS_SET_RULE)) {
            target.flags |= V_HAS_SET_RULE;
        } else {
            conflict = true;
            if (!engine.rule_table_exists)
                report_error(engine.output, CONFIGURATION_ERROR, "tokenize",
                             "file %s: %s\r\nconflicts with file %s", current_location(engine),
                             rule_text, target.set_location.c_str());
        }
    }
    if (clears(kind)) {
        if (!(target.flags & V_HAS_CLEAR_RULE)) {
            target.flags |= V_HAS_CLEAR_RULE;
        } else if (!conflict && !engine.rule_table_exists) {
            report_error(engine.output, CONFIGURATION_ERROR, "tokenize",
                         "file %s: %s\r\nconflicts with file %s", current_location(engine),
                         rule_text, target.clear_location.c_str());
        }
    }
}

// "T" as a plain assignment target: the rest holds "=" and no "N" before the first "=".
bool timer_misused(const char* rest) {
    const char* eq = std::strchr(rest, '=');
    if (!eq) return false;
    for (const char* c = rest; c < eq; ++c)
        if (*c == 'N') return false;
    return true;
}

int compile(EngineState& engine, char* text, CodeWriter& w) {
    for (char* c = text; *c; ++c)
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');

    std::size_t p = 0;
    char name[NAME_LENGTH + 2];
    int number = 0;

    // TARGET
    skip_blanks(text, p);
    if (static_cast<std::uint8_t>(text[p]) == M_INCOMPLETE) {
        w.error_record(M_INCOMPLETE, E_INCOMPLETE, text + p + 1);
        return TOKENIZE_ERROR;
    }
    int kind = K_ASSIGN;
    if (text[p] == 'S') {
        kind = K_SET;
        ++p;
    } else if (text[p] == 'E') {
        kind = K_CLEAR;
        ++p;
    } else if (text[p] == 'I' && text[p + 1] == 'T') {
        kind = K_START;
        ++p;
    } else if (text[p] == 'R' && text[p + 1] == 'I' && text[p + 2] == 'T') {
        kind = K_RESTART;
        p += 2;
    } else if (text[p] == 'T' && timer_misused(text + p)) {
        w.error_record(M_TIMER_USE, E_TIMER_USE, text + p);
        return TOKENIZE_ERROR;
    }
    int length = getname(engine, text + p, name, &number);
    if (length == 0) {
        w.error_record(M_SYNTAX, E_SYNTAX, text + p);
        return TOKENIZE_ERROR;
    }
    p += static_cast<std::size_t>(length);
    if (kind == K_ASSIGN && text[p] == 'N') {
        kind = K_ASSIGN_NEGATED;
        ++p;
    }

    // OPERATOR
    skip_blanks(text, p);
    int location = (sets(kind) ? LOC_SET : 0) | (clears(kind) ? LOC_CLEAR : 0);
    if (text[p] == '.' && text[p + 1] == '=') {
        if (kind == K_ASSIGN) kind = K_SET;
        if (kind == K_ASSIGN_NEGATED) kind = K_CLEAR;
        location = (sets(kind) ? LOC_SET : 0) | (clears(kind) ? LOC_CLEAR : 0);
        p += 2;
    } else if (text[p] == '=') {
        if (kind >= K_SET) {
            Variable* target = install_variable(engine, name, number, location);
            if (!target) return w.cut_short();
            w.byte(M_OPERATOR);
            w.text(kind == K_SET ? "S" : "E");
            w.text(format_variable(engine, target, FormatMode::PLAIN));
            w.text(" [");
            w.text(rule_error_names[E_ASSIGNMENT]);
            w.text("] ");
            w.text(text + p);
            w.byte(0);
            return TOKENIZE_ASSIGNMENT;
        }
        ++p;
    }
    w.byte(static_cast<std::uint8_t>(kind));
    Variable* target = install_variable(engine, name, number, location);
    if (!target) return w.cut_short();
    rule_bookkeeping(engine, *target, kind, text);
    w.reference(target);

    // EXPRESSION START / EXPRESSION
    bool expression_start = true;
    for (;;) {
        skip_blanks(text, p);
        char c = text[p];
        if (expression_start && c == '-') {
            w.byte(T_UNARY_MINUS);
            ++p;
            expression_start = false;
            continue;
        }
        expression_start = false;
        if (c == '\0') {
            w.byte(T_END);
            return TOKENIZE_OK;
        }
        if (is_digit(c)) {
            std::int64_t value = 0;
            while (is_digit(text[p])) {
                if (value <= INT32_MAX) value = value * 10 + (text[p] - '0');
                ++p;
            }
            if (value > INT32_MAX) {
                report_error(engine.output, CONFIGURATION_ERROR, "tokenize", "Constant too large.");
                w.byte(T_END);
                return TOKENIZE_ERROR;
            }
            w.byte(T_VALUE);
            w.byte(T_CONSTANT);
            w.int32(static_cast<std::int32_t>(value));
            continue;
        }
        char next = text[p + 1];
        std::uint8_t symbol = 0;
        std::size_t symbol_length = 1;
        switch (c) {
            case '(':
                symbol = T_OPEN;
                expression_start = true;
                break;
            case ')':
                symbol = T_CLOSE;
                break;
            case '+':
                symbol = T_PLUS;
                break;
            case '-':
                symbol = T_MINUS;
                break;
            case '.':
                symbol = T_AND;
                break;
            case '<':
                symbol = next == '=' ? T_LE : next == '>' ? T_NE : T_LT;
                break;
            case '=':
                symbol = next == '<' ? T_LE : next == '>' ? T_GE : T_EQ;
                break;
            case '>':
                symbol = next == '=' ? T_GE : next == '<' ? T_NE : T_GT;
                break;
            default:
                break;
        }
        if (symbol) {
            if (symbol != T_LT && symbol != T_EQ && symbol != T_GT &&
                (c == '<' || c == '=' || c == '>'))
                symbol_length = 2;
            p += symbol_length;
            w.byte(symbol);
            continue;
        }
        // An operand: S or E edge, or a value with an optional negation suffix.
        std::uint8_t marker = T_VALUE;
        std::size_t start = p;
        length = 0;
        bool refused = false;
        if ((c == 'S' || c == 'E') && is_letter(next)) {
            const std::size_t reports = engine.output.reports_made;
            length = getname(engine, text + p + 1, name, &number);
            if (length > 0) {
                marker = c == 'S' ? T_START_EDGE : T_END_EDGE;
                ++p;
            }
            // The edge of a bad name is a syntax error; read again from the "S" or "E", the
            // rule would run although its name was refused.
            refused = engine.output.reports_made != reports;
        }
        if (length == 0 && !refused) length = getname(engine, text + p, name, &number);
        if (length == 0) {
            w.error_record(M_SYNTAX, E_SYNTAX, text + start);
            return TOKENIZE_ERROR;
        }
        p += static_cast<std::size_t>(length);
        if (marker == T_VALUE && text[p] == 'N') {
            marker = T_NEGATED;
            ++p;
        }
        Variable* operand = install_variable(engine, name, number, 0);
        if (!operand) return w.cut_short();
        ++operand->ref_count;
        w.byte(marker);
        w.byte(T_VARIABLE);
        w.reference(operand);
    }
}

// printrule's text: at most PRINT_LIMIT characters, cut with one report per call.
struct Printer {
    EngineState& engine;
    char* out = engine.scratch.print;
    std::size_t length = 0;
    bool reported = false;

    void append(const char* piece) {
        std::size_t n = std::strlen(piece);
        if (length + n > PRINT_LIMIT) {
            n = PRINT_LIMIT - length;
            if (!reported) {
                reported = true;
                report_error(engine.output, CONFIGURATION_ERROR, "printrule", "Rule too complex.");
            }
        }
        std::memcpy(out + length, piece, n);
        length += n;
        out[length] = '\0';
    }
};

const Variable* referenced(EngineState& engine, const std::uint8_t* p) {
    std::int32_t index = read_int32(p);
    if (index < 0 || static_cast<std::size_t>(index) >= engine.variables.size()) return nullptr;
    return &engine.variables[static_cast<std::size_t>(index)];
}

void print_operand(EngineState& engine, Printer& pr, std::uint8_t marker, const Variable* v,
                   bool verbose) {
    if (marker == T_START_EDGE) pr.append("S");
    if (marker == T_END_EDGE) pr.append("E");
    pr.append(
        format_variable(engine, v, marker == T_NEGATED ? FormatMode::NEGATED : FormatMode::PLAIN));
    if (verbose && v) {
        char extra[32];
        std::snprintf(extra, sizeof extra, "[%d%s%s]", v->value, (v->flags & V_START) ? "S" : "",
                      (v->flags & V_END) ? "E" : "");
        pr.append(extra);
    }
}

const char* symbol_of(std::uint8_t token) {
    switch (token) {
        case T_UNARY_MINUS:
            return "-";
        case T_EQ:
            return "=";
        case T_NE:
            return "<>";
        case T_LT:
            return "<";
        case T_LE:
            return "<=";
        case T_GT:
            return ">";
        case T_GE:
            return ">=";
        case T_OPEN:
            return "(";
        case T_CLOSE:
            return ")";
        case T_PLUS:
            return "+";
        case T_MINUS:
            return "-";
        case T_AND:
            return ".";
        default:
            return nullptr;
    }
}

}  // namespace

int tokenize(EngineState& engine, char* text, std::uint8_t* code, std::size_t capacity,
             std::size_t* needed) {
    CodeWriter w{code, capacity};
    if (!text || !*text) {
        report_error(engine.output, PROGRAM_ERROR, "tokenize", "Internal error, null argument.");
        w.byte(T_END);
        if (needed) *needed = w.pos;
        return TOKENIZE_ERROR;
    }
    int result = compile(engine, text, w);
    if (needed) *needed = w.pos;
    if (w.pos > capacity && capacity > 0) {
        // Did not fit: leave an empty error record, never a code without its end byte.
        code[0] = T_END;
        return TOKENIZE_ERROR;
    }
    return result;
}

const char* printrule(EngineState& engine, const std::uint8_t* code, bool verbose,
                      const std::uint8_t* stop) {
    Printer pr{engine};
    pr.out[0] = '\0';
    const std::uint8_t* c = code;
    if (*c >= K_ASSIGN && *c <= K_RESTART && (!stop || stop > c)) {
        std::uint8_t kind = *c;
        const Variable* target = referenced(engine, c + RULE_TARGET_AT);
        static constexpr FormatMode modes[] = {
            FormatMode::PLAIN,   FormatMode::PLAIN,    FormatMode::NEGATED,  FormatMode::PLAIN,
            FormatMode::NEGATED, FormatMode::PREFIX_I, FormatMode::PREFIX_RI};
        pr.append(format_variable(engine, target, modes[kind]));
        pr.append(kind <= K_ASSIGN_NEGATED ? "=" : ".=");
        c += RULE_EXPRESSION_AT;
    }
    while (c != stop && *c != T_END) {
        std::uint8_t token = *c;
        if ((token == T_VALUE || token == T_NEGATED || token == T_START_EDGE ||
             token == T_END_EDGE) &&
            c[OPERAND_TYPE_AT] == T_VARIABLE) {
            print_operand(engine, pr, token, referenced(engine, c + OPERAND_FIELD_AT), verbose);
            c += OPERAND_SIZE;
        } else if (token == T_VALUE && c[OPERAND_TYPE_AT] == T_CONSTANT) {
            char number[16];
            std::snprintf(number, sizeof number, "%d", read_int32(c + OPERAND_FIELD_AT));
            pr.append(number);
            c += OPERAND_SIZE;
        } else if (is_error_marker(token)) {
            pr.append(reinterpret_cast<const char*>(c + ERROR_TEXT_AT));
            break;
        } else if (const char* symbol = symbol_of(token)) {
            pr.append(symbol);
            ++c;
        } else {
            char unknown[32];
            std::snprintf(unknown, sizeof unknown, "<unknown token: %02x>", token);
            pr.append(unknown);
            ++c;
        }
    }
    return pr.out;
}

void for_each_rule_variable(EngineState& engine, const std::uint8_t* code,
                            const RuleVariableVisit& visit) {
    const std::uint8_t kind = code[RULE_KIND_AT];
    if (kind < K_ASSIGN || kind > K_RESTART) return;  // an error record names nothing
    const auto in_table = [&](std::int32_t reference) {
        return reference >= 0 && static_cast<std::size_t>(reference) < engine.variables.size();
    };
    const std::int32_t target = read_int32(code + RULE_TARGET_AT);
    if (in_table(target)) visit(engine.variables[static_cast<std::size_t>(target)], true);
    for_each_variable_operand(
        code + RULE_EXPRESSION_AT, [&](std::uint8_t, const std::uint8_t* field) {
            const std::int32_t read = read_int32(field);
            if (in_table(read)) visit(engine.variables[static_cast<std::size_t>(read)], false);
            return true;
        });
}

}  // namespace ruvalda
