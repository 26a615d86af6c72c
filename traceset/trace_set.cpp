#include "traceset/trace_set.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/eval.h"
#include "loader/reader.h"

namespace ruvalda {

std::string trace_item_name(std::string_view item) {
    return std::string(item.substr(0, item.find('<')));
}

std::vector<std::string> trace_items(EngineState& engine) {
    std::vector<std::string> items;
    RVDumpVars(
        engine,
        [&items](const char* line) {
            items.emplace_back(line);
            return true;
        },
        false);
    std::stable_sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
        return trace_item_less(a, b);
    });
    return items;
}

namespace {

// Sort rank of a character: other characters, then digits, then letters of either case.
int rank(unsigned char c) {
    if (c >= '0' && c <= '9') return 0x100 + c;
    if (c >= 'a' && c <= 'z') return 0x200 + (c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return 0x200 + c;
    return c;
}

}  // namespace

bool trace_item_less(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ra = rank(static_cast<unsigned char>(a[i]));
        const int rb = rank(static_cast<unsigned char>(b[i]));
        if (ra != rb) return ra < rb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

int trace_setting_index(int trace_bits) {
    switch (trace_bits & TRACE_VALUE_BITS) {
        case 0:
            return 0;
        case 2:
            return 1;
        case 6:
            return 2;
        default:
            return -1;
    }
}

int trace_setting_value(int index) {
    switch (index) {
        case 1:
            return 2;
        case 2:
            return 6;
        default:
            return 0;
    }
}

std::string build_trace_set(const std::vector<TraceSetting>& settings) {
    std::string text;
    for (const TraceSetting& setting : settings) {
        const int bits = setting.bits & TRACE_VALUE_BITS;
        if (bits == 0) continue;
        text.append(setting.name).append("|").append(std::to_string(bits)).append("\r\n");
    }
    return text;
}

bool parse_trace_value(std::string_view text, int* value) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
    if (i == text.size()) return false;
    // Accumulated as a negative number, whose range includes INT_MIN.
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (!negative && magnitude > INT_MAX) return false;
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

std::vector<TraceSetLine> parse_trace_set(std::string_view text) {
    std::vector<TraceSetLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        TraceSetLine line;
        line.number = static_cast<int>(lines.size()) + 1;
        line.text = std::string(text.substr(start, end - start));
        const std::size_t bar = line.text.find('|');
        std::string_view value_text = line.text;
        if (bar != std::string::npos) {
            line.name = line.text.substr(0, bar);
            value_text.remove_prefix(bar + 1);
        }
        value_text = value_text.substr(0, TRACE_VALUE_TEXT_LENGTH);
        line.ok = parse_trace_value(value_text, &line.value);
        lines.push_back(std::move(line));
        start = end;
        if (start == text.size()) break;
        const bool crlf = text[start] == '\r' && start + 1 < text.size() && text[start + 1] == '\n';
        start += crlf ? 2 : 1;
    }
    return lines;
}

bool apply_trace_setting(EngineState& engine, const TraceSetLine& line) {
    if (!line.ok) return false;
    RVSetVariableTrace(engine, line.name.c_str(), line.value);
    return true;
}

std::string trace_set_file_for(const std::string& control_file) {
    if (control_file.empty()) return {};
    return side_file_name(control_file, ".rts");
}

bool read_trace_set_file(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::string content;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    // A folder opens on some systems and fails only when read.
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok) return false;
    *text = std::move(content);
    return true;
}

bool write_trace_set_file(const std::string& path, std::string_view text) {
    // A name of our own beside the file: a rename within one folder replaces the old file in
    // one step, and never lands on a file someone else is writing.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path;
        temporary.append(".~").append(std::to_string(::getpid())).append("-");
        temporary.append(std::to_string(attempt));
#ifdef _WIN32
        // Windows has no exec to close on, but would turn each "\n" into "\r\n".
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY, 0666);
#else
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = true;
#ifndef _WIN32
    // The new file keeps the permissions of the one it replaces (Windows files have none).
    struct stat old_file;
    if (::stat(path.c_str(), &old_file) == 0 && S_ISREG(old_file.st_mode))
        ok = ::fchmod(fd, old_file.st_mode & 07777) == 0;
#endif
    const char* data = text.data();
    std::size_t left = text.size();
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
#ifdef _WIN32
    if (ok) ok = ::_commit(fd) == 0;
#else
    if (ok) ok = ::fsync(fd) == 0;
#endif
    if (::close(fd) != 0) ok = false;
    // std::rename refuses to replace a file on Windows; this one replaces it everywhere.
    std::error_code renamed;
    if (ok) std::filesystem::rename(temporary, path, renamed);
    if (renamed) ok = false;
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

}  // namespace ruvalda
