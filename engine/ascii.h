// Character classes of rule and control file texts, and the start of such a file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

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

// Windows Notepad starts a UTF-8 file with a byte-order mark: at the start of a file, it is
// passed over.
inline constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
inline constexpr std::size_t BYTE_ORDER_MARK_LENGTH = sizeof BYTE_ORDER_MARK - 1;
inline void skip_byte_order_mark(std::FILE* file) {
    if (std::ftell(file) != 0) return;
    char start[BYTE_ORDER_MARK_LENGTH];
    const std::size_t got = std::fread(start, 1, sizeof start, file);
    if (got == sizeof start && std::memcmp(start, BYTE_ORDER_MARK, sizeof start) == 0) return;
    std::rewind(file);
}

}  // namespace ruvalda
