#include "loader/text.h"

#include <climits>

namespace ruvalda {

bool parse_decimal(const char* text, long* value, const char** end) {
    const char* c = text;
    bool negative = *c == '-';
    if (negative) ++c;
    if (*c < '0' || *c > '9') {
        if (end) *end = text;
        return false;
    }
    long long v = 0;
    for (; *c >= '0' && *c <= '9'; ++c)
        if (v <= INT_MAX) v = v * 10 + (*c - '0');
    if (v > INT_MAX) v = negative ? static_cast<long long>(INT_MAX) + 1 : INT_MAX;
    *value = static_cast<long>(negative ? -v : v);
    if (end) *end = c;
    return true;
}

bool read_piece(std::FILE* file, char* buffer, std::size_t size, bool* cut) {
    if (cut) *cut = false;
    skip_byte_order_mark(file);
    if (!std::fgets(buffer, static_cast<int>(size), file)) return false;
    std::size_t length = std::strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n') {
        buffer[--length] = '\0';
        if (length > 0 && buffer[length - 1] == '\r') buffer[--length] = '\0';
        return true;
    }
    // No line end: the file's last line, a line that just fills the buffer, or a longer one.
    int c = std::fgetc(file);
    if (c == '\r') c = std::fgetc(file);
    if (c == EOF || c == '\n') return true;
    if (cut) *cut = true;
    while (c != EOF && c != '\n') c = std::fgetc(file);
    return true;
}

}  // namespace ruvalda
