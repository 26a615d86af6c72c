// Character classes of rule and control file texts.
#pragma once

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

}  // namespace ruvalda
