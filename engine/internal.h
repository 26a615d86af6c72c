// Helpers shared by the engine's sources; not part of its interface.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/eval.h"

namespace ruvalda {

// ASCII classes: rule texts are bytes, and locale-dependent classification of bytes above
// 0x7f would make the same file compile differently on different machines.
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
inline bool is_alnum(char c) {
    return is_digit(c) || is_letter(c);
}
inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::uint64_t variable_key(const char* name, int number);
Variable* find_by_printed_name(EngineState& engine, const char* printed);
// Flushes the engine trace file if anything was written since the last flush, so readers see
// whole steps without a write call per line.
void flush_trace_file(EngineState& engine);

// Little-endian 4-byte fields of the rule code; memcpy keeps unaligned reads defined.
inline std::int32_t read_int32(const std::uint8_t* p) {
    std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                      static_cast<std::uint32_t>(p[2]) << 16 |
                      static_cast<std::uint32_t>(p[3]) << 24;
    std::int32_t s;
    std::memcpy(&s, &v, sizeof s);
    return s;
}

// The trace lines of evaluation and the step follow a stream's word at the variable's number.
inline std::uint32_t stream_word(const EngineState& engine, const Variable& v) {
    return (v.number >= 0 && v.number < STREAM_COUNT) ? engine.stream_flags[v.number] : 0;
}

}  // namespace ruvalda
