// Rule evaluation: the byte code is walked in place by two mutually recursive halves,
// evaloperand (one operand and what binds to it) and evalrhs (the operators that follow, as
// far as the level allows), over a fixed 19-entry stack. Nothing here allocates or formats
// text unless a trace line is written or an error reported.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "engine/eval.h"
#include "engine/internal.h"
#include "output/output.h"

namespace ruvalda {

namespace {

// Levels of evalrhs: which operators it may still take.
constexpr int LEVEL_ANY = 0;         // whole expression or one in parentheses
constexpr int LEVEL_RELATIONAL = 2;  // right operand of a relational operator, "+" or "-"
constexpr int LEVEL_AND = 3;         // right operand of "."
constexpr int LEVEL_UNARY = 4;       // operand of a unary minus

struct Evaluation {
    const std::uint8_t* pc;
    VariableTable& variables;
    std::uint32_t variable_count;
    int sp = 0;
    std::int32_t stack[STACK_SIZE];  // left uninitialised: only pushed entries are read
    // Last: the fields every operand touches stay where they were before the engine was passed
    // in (with the engine first, a step in which every rule changes took 12 % longer).
    EngineState& engine;

    Evaluation(EngineState& owner, const std::uint8_t* start)
        : pc(start),
          variables(owner.variables),
          variable_count(static_cast<std::uint32_t>(owner.variables.size())),
          engine(owner) {}

    bool push(std::int32_t value) {
        if (sp == STACK_SIZE) return false;
        stack[sp++] = value;
        return true;
    }
    std::int32_t pop() {
        if (sp == 0) {
            report_error(engine.output, PROGRAM_ERROR, "pop", "stack empty.");
            return 0;
        }
        return stack[--sp];
    }
    // The variable behind a reference; none for a reference outside the table.
    Variable* variable_at(const std::uint8_t* p) const {
        std::uint32_t index = static_cast<std::uint32_t>(read_int32(p));
        return index < variable_count ? &variables[index] : nullptr;
    }
};

inline bool is_relational(std::uint8_t t) {
    return t >= T_EQ && t <= T_GE;
}

// A timer reads as running or not; everything else as its value.
inline std::int32_t operand_value(const Variable& v) {
    return (v.flags & V_TIMER) ? (v.value != 0) : v.value;
}

inline std::int32_t compare(std::uint8_t op, std::int32_t l, std::int32_t r) {
    switch (op) {
        case T_EQ:
            return l == r;
        case T_NE:
            return l != r;
        case T_LT:
            return l < r;
        case T_LE:
            return l <= r;
        case T_GT:
            return l > r;
        default:
            return l >= r;
    }
}

// "-" keeps the 32-bit two's-complement result; computed unsigned so it is defined.
inline std::int32_t wrap_subtract(std::int32_t l, std::int32_t r) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(l) - static_cast<std::uint32_t>(r));
}

int evalrhs(Evaluation& e, int level);

int evaloperand(Evaluation& e, int level) {
    const std::uint8_t token = *e.pc;
    std::int32_t value;
    switch (token) {
        case T_START_EDGE:
        case T_END_EDGE:
        case T_NEGATED:
        case T_VALUE: {
            const std::uint8_t type = e.pc[OPERAND_TYPE_AT];
            if (type == T_VARIABLE) {
                const Variable* v = e.variable_at(e.pc + OPERAND_FIELD_AT);
                if (!v) return E_MISSING_VARIABLE;
                if (token == T_VALUE)
                    value = operand_value(*v);
                else if (token == T_NEGATED)
                    value = operand_value(*v) == 0;
                else
                    value = (v->flags & (token == T_START_EDGE ? V_START : V_END)) != 0;
            } else if (type == T_CONSTANT && token == T_VALUE) {
                value = read_int32(e.pc + OPERAND_FIELD_AT);
            } else {
                return E_MISSING_VARIABLE;
            }
            e.pc += OPERAND_SIZE;
            if (!e.push(value)) return E_STACK_OVERFLOW;
            return evalrhs(e, level);
        }
        case T_UNARY_MINUS: {
            ++e.pc;
            if (*e.pc != T_OPEN && !is_operand_marker(*e.pc)) return E_MISSING_OPERAND;
            if (int error = evaloperand(e, LEVEL_UNARY)) return error;
            if (!e.push(wrap_subtract(0, e.pop()))) return E_STACK_OVERFLOW;
            return evalrhs(e, level);
        }
        case T_OPEN: {
            ++e.pc;
            if (int error = evaloperand(e, LEVEL_ANY)) return error;
            if (*e.pc != T_CLOSE) return E_MISSING_PAREN;
            ++e.pc;
            return evalrhs(e, level);
        }
        default:
            return E_MISSING_OPERAND;
    }
}

int evalrhs(Evaluation& e, int level) {
    for (;;) {
        const std::uint8_t token = *e.pc;
        if (token == T_END || token == T_CLOSE) return E_NONE;
        if (is_relational(token)) {
            if (level >= 1) return E_NONE;
            ++e.pc;
            if (int error = evaloperand(e, LEVEL_RELATIONAL)) return error;
            std::int32_t r = e.pop(), l = e.pop();
            e.push(compare(token, l, r));
        } else if (token == T_PLUS || token == T_MINUS) {
            if (level >= LEVEL_RELATIONAL) return E_NONE;
            ++e.pc;
            if (int error = evaloperand(e, LEVEL_RELATIONAL)) return error;
            std::int32_t r = e.pop(), l = e.pop();
            // The sum is taken in 64 bits so that no overflow can make it look like 0.
            e.push(token == T_PLUS ? (static_cast<std::int64_t>(l) + r != 0) : wrap_subtract(l, r));
        } else if (token == T_AND) {
            if (level >= LEVEL_AND) return E_NONE;
            ++e.pc;
            if (int error = evaloperand(e, LEVEL_AND)) return error;
            std::int32_t r = e.pop(), l = e.pop();
            e.push(l != 0 && r != 0);
        } else if (token == M_SYNTAX) {
            return E_SYNTAX;
        } else {
            return E_MISSING_OPERATOR;
        }
    }
}

void trace_timer(EngineState& engine, const Variable& t, const std::uint8_t* expression,
                 std::int32_t kind, std::int32_t result, std::uint32_t stream) {
    const bool start = result != 0 && kind != K_CLEAR;
    if (start) {
        if ((stream & SF_TRACE) && (t.value != t.limit || t.limit == 0))
            traceprintf(engine.output, "%-7.7s <-%2d.%d  %s.\n", t.printed, t.limit / 10,
                        t.limit % 10, printrule(engine, expression, false));
    } else if (kind == K_CLEAR && result == 0 && t.value != 0) {
        if (stream & SF_TRACE)
            traceprintf(engine.output, "%s aborted (%s %d.%d) %s.\n", t.printed, "remainder was",
                        t.value / 10, t.value % 10, printrule(engine, expression, true));
    } else if ((stream & SF_TRACE_ALL) || (t.flags & V_TRACE_ALL)) {
        traceprintf(engine.output, "%s not aborted (%s %d.%d) %s.\n", t.printed, "remainder is",
                    t.value / 10, t.value % 10, printrule(engine, expression, true));
    }
}

// Applies a result to a timer target: start (or restart), abort, or nothing.
void apply_to_timer(EngineState& engine, Variable& t, const std::uint8_t* expression,
                    std::int32_t kind, std::int32_t result) {
    const std::uint32_t stream = stream_word(engine, t);
    if (stream & (SF_TRACE | SF_TRACE_ALL) || (t.flags & V_TRACE_ALL))
        trace_timer(engine, t, expression, kind, result, stream);
    // A restart of a running timer changes it without counting as a change.
    if (result != 0 && kind != K_CLEAR &&
        (t.value != (t.limit > 0 ? t.limit : 1) || t.modify_time != engine.current_time))
        ++engine.pass_writes;
    if (result != 0 && kind != K_CLEAR) {
        if (t.value == 0) {
            ++engine.change_count;
            t.flags |= V_CHANGED | V_START;
        }
        t.value = t.limit > 0 ? t.limit : 1;
        t.modify_time = engine.current_time;
    } else if (kind == K_CLEAR && result == 0 && t.value != 0) {
        ++engine.change_count;
        t.flags |= V_CHANGED | V_END;
        t.value = 0;
        t.modify_time = engine.current_time;
    }
}

void apply_to_variable(EngineState& engine, Variable& v, const std::uint8_t* expression,
                       std::int32_t result) {
    if (result == v.value) return;
    ++engine.change_count;
    v.flags |= V_CHANGED;
    v.value = result;
    v.modify_time = engine.current_time;
    if ((stream_word(engine, v) & SF_TRACE) || (v.flags & V_TRACE))
        traceprintf(engine.output, "%-7.7s <-%4d  %s.\n", v.printed, result,
                    printrule(engine, expression, true));
}

// Memo inputs: the address of the field an operand reads, with the kind of field in the low
// bits (fields are 4-byte aligned). Variables never move while the table lives.
enum MemoField : std::uintptr_t { FIELD_VALUE = 0, FIELD_START = 1, FIELD_END = 2 };
constexpr std::uint32_t FIELD_MASKS[4] = {0xffffffffu, V_START, V_END, 0};

inline std::uintptr_t memo_input(const Variable& v, std::uint8_t marker) {
    if (marker == T_START_EDGE) return reinterpret_cast<std::uintptr_t>(&v.flags) | FIELD_START;
    if (marker == T_END_EDGE) return reinterpret_cast<std::uintptr_t>(&v.flags) | FIELD_END;
    return reinterpret_cast<std::uintptr_t>(&v.value) | FIELD_VALUE;
}

inline std::uint32_t read_input(std::uintptr_t input) {
    std::uint32_t word;
    std::memcpy(&word, reinterpret_cast<const void*>(input & ~std::uintptr_t{3}), sizeof word);
    return word & FIELD_MASKS[input & 3u];
}

// Lists the operands of the expression once; too many of them, and the rule is never memoised.
// Out of line: it runs once per rule, and inlined it slows the evaluation around it.
[[gnu::noinline]] void build_memo(EngineState& engine, RuleMemo& memo,
                                  const std::uint8_t* expression, const Evaluation& e) {
    memo.state = RuleMemo::NEVER;
    memo.count = 0;
    memo.generation = engine.variables.generation();
    const bool listed =
        for_each_variable_operand(expression, [&](std::uint8_t marker, const std::uint8_t* field) {
            const Variable* v = e.variable_at(field);
            if (!v || memo.count == MEMO_OPERANDS) return false;
            memo.input[memo.count++] = memo_input(*v, marker);
            return true;
        });
    if (listed) memo.state = RuleMemo::VALID;
}

// The memoised result when no input changed since it was taken.
inline bool memo_holds(EngineState& engine, const RuleMemo& memo) {
    if (memo.state != RuleMemo::VALID || memo.generation != engine.variables.generation())
        return false;
    std::uint32_t diff = 0;
    for (int i = 0; i < memo.count; ++i) diff |= read_input(memo.input[i]) ^ memo.seen[i];
    return diff == 0;
}

inline void take_memo(RuleMemo& memo, std::int32_t result) {
    for (int i = 0; i < memo.count; ++i) memo.seen[i] = read_input(memo.input[i]);
    memo.result = result;
}

int evaluate(EngineState& engine, const std::uint8_t* code, RuleMemo* memo);

}  // namespace

std::string rule_error_text(EngineState& engine, int error, const std::uint8_t* code,
                            const std::uint8_t* position) {
    std::string text = "Error: ";
    text += current_location(engine);
    if (error == E_ASSIGNMENT) {
        text += reinterpret_cast<const char*>(position);
        return text;
    }
    text += printrule(engine, code, false, position);
    if (error != E_SYNTAX) {
        text += " [";
        text += rule_error_names[(error >= 0 && error <= E_INCOMPLETE) ? error : 0];
        text += "] ";
    }
    text += printrule(engine, position, false);
    return text;
}

int evalrule(EngineState& engine, const std::uint8_t* code) {
    return evaluate(engine, code, nullptr);
}

int evalrule(EngineState& engine, RuleRecord& rule) {
    return evaluate(engine, rule.code, &rule.memo);
}

namespace {

// On a cache line of its own: the engine's hottest function ran up to 8 % slower or faster with
// where the linker happened to place it.
[[gnu::aligned(64)]] int evaluate(EngineState& engine, const std::uint8_t* code, RuleMemo* memo) {
    const std::uint8_t kind = code[RULE_KIND_AT];
    Evaluation e(engine, code + RULE_EXPRESSION_AT);
    int error = E_NONE;
    Variable* target = nullptr;

    static const std::uint8_t no_text = 0;
    if (kind < K_ASSIGN || kind > K_RESTART) {
        // An error record, or a code cut short: its stored text is the position.
        error = E_ASSIGNMENT;
        e.pc = kind == T_END ? &no_text : code + ERROR_TEXT_AT;
    } else if (!(target = e.variable_at(code + RULE_TARGET_AT))) {
        error = E_ASSIGNMENT;
        e.pc = &no_text;
    }

    if (target) {
        // Edge housekeeping before the evaluation.
        const std::uint32_t old_flags = target->flags;
        if (!(target->flags & V_TIMER)) {
            target->flags &= kind == K_SET     ? ~V_START
                             : kind == K_CLEAR ? ~V_END
                                               : ~(V_START | V_END);
        } else if (target->flags & V_EXPIRED) {
            target->flags = (target->flags & ~V_EXPIRED) | V_END;
        } else if (target->flags & (V_START | V_END)) {
            target->flags = (target->flags & ~(V_START | V_END)) | V_CHANGED;
            ++engine.change_count;
        }
        if (target->flags != old_flags) ++engine.pass_writes;
        // Set and start rules wait for 0, clear rules for non-zero.
        if (((kind == K_SET || kind == K_START) && target->value != 0) ||
            (kind == K_CLEAR && target->value == 0))
            return E_NONE;

        if (memo && memo_holds(engine, *memo)) {
            e.push(memo->result);
        } else {
            error = evaloperand(e, LEVEL_ANY);
            if (error == E_NONE && *e.pc == T_CLOSE) error = E_TOO_MANY_PARENS;
            if (error == E_NONE && memo) {
                if (memo->state == RuleMemo::UNKNOWN ||
                    memo->generation != engine.variables.generation())
                    build_memo(engine, *memo, code + RULE_EXPRESSION_AT, e);
                if (memo->state == RuleMemo::VALID) take_memo(*memo, e.stack[e.sp - 1]);
            }
        }
    }
    if (error != E_NONE) {
        report_error(engine.output, CONFIGURATION_ERROR, "evalrule", "%s.",
                     rule_error_text(engine, error, code, e.pc).c_str());
        return error;
    }

    std::int32_t result = e.pop();
    if (kind == K_CLEAR) result = result != 0 ? 0 : target->value;

    Variable& t = *target;
    if (result != 0 && t.value == 0)
        t.flags |= V_START;
    else if (result == 0 && t.value != 0 && !(t.flags & V_TIMER))
        t.flags |= V_END;

    const std::uint8_t* expression = code + RULE_EXPRESSION_AT;
    if (t.flags & V_TIMER)
        apply_to_timer(engine, t, expression, kind, result);
    else
        apply_to_variable(engine, t, expression, result);

    if ((stream_word(engine, t) & SF_TRACE_ALL) || (t.flags & V_TRACE_ALL))
        traceprintf(engine.output, "%-7.7s unchanged%4d  %s.\n", t.printed, result,
                    printrule(engine, expression, true));
    if (engine.evaluation_hook) engine.evaluation_hook(t.printed, result);
    return E_NONE;
}

}  // namespace

}  // namespace ruvalda
