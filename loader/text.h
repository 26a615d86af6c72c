// Small text helpers of the reader stages.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "engine/ascii.h"

namespace ruvalda {

inline char* skip_blanks(char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}
inline const char* skip_blanks(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

// True when the text holds nothing but blanks, tabs and line ends.
inline bool is_blank_text(const char* text) {
    for (; *text; ++text)
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
    return true;
}

inline bool starts_with_nocase(const char* text, const char* keyword) {
    for (; *keyword; ++text, ++keyword) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *keyword) return false;
    }
    return true;
}

// Reads an optionally negative decimal number; false when no digit follows. Values beyond the
// range of int are held at its ends. *end, if given, receives the first character after it.
bool parse_decimal(const char* text, long* value, const char** end = nullptr);

// Reads one line (at most size - 1 characters) and removes its line end; a carriage return
// before the line feed belongs to the line end. A longer line is cut there and the rest of it
// passed over, with *cut set (when given). A UTF-8 byte-order mark at the start of the file
// (Windows Notepad writes one) is skipped. False at the end of the file.
bool read_piece(std::FILE* file, char* buffer, std::size_t size, bool* cut = nullptr);

}  // namespace ruvalda
