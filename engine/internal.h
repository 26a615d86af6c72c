// Helpers shared by the engine's sources; not part of its interface.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/ascii.h"
#include "engine/eval.h"

namespace ruvalda {

std::uint64_t variable_key(const char* name, int number);
Variable* find_by_printed_name(EngineState& engine, const char* printed);
// Flushes the engine trace file if anything was written since the last flush, so readers see
// whole steps without a write call per line.
void flush_trace_file(EngineState& engine);
// Writes to the trace file when one is open. The first failed write, flush or close is
// reported once, with the file and the system's reason, and ends the file.
void write_trace_line(EngineState& engine, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void close_trace_file(EngineState& engine);

// Little-endian 4-byte fields of the rule code; memcpy keeps unaligned reads defined.
inline std::int32_t read_int32(const std::uint8_t* p) {
    std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                      static_cast<std::uint32_t>(p[2]) << 16 |
                      static_cast<std::uint32_t>(p[3]) << 24;
    std::int32_t s;
    std::memcpy(&s, &v, sizeof s);
    return s;
}

inline bool is_operand_marker(std::uint8_t t) {
    return t >= T_START_EDGE && t <= T_NEGATED;
}

// Calls visit(marker, field) for every variable operand of an expression, field pointing at the
// operand's variable reference, until visit answers false; false then.
template <typename Visit>
bool for_each_variable_operand(const std::uint8_t* expression, Visit visit) {
    for (const std::uint8_t* c = expression; *c != T_END && !is_error_marker(*c);) {
        if (is_operand_marker(*c) && c[OPERAND_TYPE_AT] == T_VARIABLE) {
            if (!visit(*c, c + OPERAND_FIELD_AT)) return false;
            c += OPERAND_SIZE;
        } else if (*c == T_VALUE && c[OPERAND_TYPE_AT] == T_CONSTANT) {
            c += OPERAND_SIZE;
        } else {
            ++c;
        }
    }
    return true;
}

// The trace lines of evaluation and the step follow a stream's word at the variable's number.
inline std::uint32_t stream_word(const EngineState& engine, const Variable& v) {
    return (v.number >= 0 && v.number < STREAM_COUNT) ? engine.stream_flags[v.number] : 0;
}

}  // namespace ruvalda
