// The variable table: names, kinds, printed forms, creation and lookup.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "engine/eval.h"
#include "engine/internal.h"
#include "output/output.h"

namespace ruvalda {

namespace {

// Detector: "D" followed by exactly one digit.
bool is_detector_name(const char* name) {
    return name[0] == 'D' && is_digit(name[1]) && name[2] == '\0';
}

// Builds the printed form into out (at least 16 bytes); the rules of the printed name:
// the number as two digits before the first digit of the base, or appended; a detector's
// digit after the number.
void build_printed(const Variable& v, FormatMode mode, char* out, std::size_t size) {
    const bool detector = is_detector_name(v.name);
    std::string text = mode == FormatMode::PREFIX_I    ? "I"
                       : mode == FormatMode::PREFIX_RI ? "RI"
                                                       : "";
    text += detector ? "D" : v.name;
    if (v.number > 0) {
        const char digits[3] = {static_cast<char>('0' + v.number / 10 % 10),
                                static_cast<char>('0' + v.number % 10), '\0'};
        std::size_t first_digit = text.find_first_of("0123456789");
        text.insert(first_digit == std::string::npos ? text.size() : first_digit, digits);
    }
    if (detector) text += v.name[1];
    if (mode == FormatMode::NEGATED) text += 'N';
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

void record_location(EngineState& engine, std::string& field) {
    if (field.empty()) field = current_location(engine);
}

}  // namespace

Variable& VariableTable::push_back(Variable v) {
    const std::size_t n = order_.size();
    if (n % BLOCK == 0) blocks_.push_back(std::make_unique<Variable[]>(BLOCK));
    order_.reserve(n + 1);  // may throw before anything changed
    Variable& slot = blocks_.back()[n % BLOCK];
    slot = std::move(v);
    order_.push_back(&slot);
    return slot;
}

void VariableTable::clear() {
    order_.clear();
    order_.shrink_to_fit();
    blocks_.clear();
    ++generation_;
}

std::uint64_t variable_key(const char* name, int number) {
    std::uint64_t key = static_cast<std::uint64_t>(number & 0xff);
    for (std::size_t i = 0; i < NAME_LENGTH && name[i]; ++i)
        key |= static_cast<std::uint64_t>(static_cast<unsigned char>(name[i])) << (8 * (i + 1));
    return key;
}

int getname(EngineState& engine, char* text, char name_out[NAME_LENGTH + 2], int* number_out) {
    name_out[0] = '\0';
    *number_out = 0;
    if (!is_letter(text[0])) return 0;

    // Detector form D051, or DN051 which is rewritten to D051N.
    if (text[0] == 'D' && text[1] == 'N' && is_digit(text[2]) && is_digit(text[3]) &&
        is_digit(text[4]) && !is_alnum(text[5])) {
        text[1] = text[2];
        text[2] = text[3];
        text[3] = text[4];
        text[4] = 'N';
    }
    if (text[0] == 'D' && is_digit(text[1]) && is_digit(text[2]) && is_digit(text[3]) &&
        !is_alnum(text[4])) {
        name_out[0] = 'D';
        name_out[1] = text[3];
        name_out[2] = '\0';
        *number_out = (text[1] - '0') * 10 + (text[2] - '0');
        return 4;
    }

    // Letters and digits, at most six taken (the number's two digits count as two). The first
    // pair of adjacent digits is the number; an "N" right before it moves behind it.
    char name[8];
    int n = 0, i = 0, taken = 0, number = 0;
    bool have_number = false;
    while (is_alnum(text[i]) && taken < 6) {
        char c = text[i];
        if (!have_number && is_digit(c) && is_digit(text[i + 1])) {
            number = (c - '0') * 10 + (text[i + 1] - '0');
            have_number = true;
            i += 2;
            taken += 2;
            continue;
        }
        if (c == 'N' && !have_number && is_digit(text[i + 1]) && is_digit(text[i + 2])) {
            if (i == 0) {
                report_error(engine.output, CONFIGURATION_ERROR, "getname",
                             "Bad variable name: %s.\n", text);
                return 0;
            }
            text[i] = text[i + 1];
            text[i + 1] = text[i + 2];
            text[i + 2] = 'N';
            continue;
        }
        name[n++] = c;
        ++i;
        ++taken;
    }
    // A final "N" is the negation suffix, never part of the name.
    if (n > 0 && name[n - 1] == 'N') {
        --n;
        --i;
    }
    if (n == 0) return 0;
    // The table keeps five characters; a longer name would silently alias a shorter one.
    if (static_cast<std::size_t>(n) > NAME_LENGTH) {
        report_error(engine.output, CONFIGURATION_ERROR, "getname", "Bad variable name: %.*s.\n", i,
                     text);
        return 0;
    }
    std::memcpy(name_out, name, static_cast<std::size_t>(n));
    name_out[n] = '\0';
    *number_out = number;
    return i;
}

Variable* install_variable(EngineState& engine, const char* name, int number, int location_flags) {
    std::uint64_t key = variable_key(name, number);
    Variable* v = nullptr;
    try {
        auto found = engine.variable_index.find(key);
        if (found != engine.variable_index.end()) {
            v = &engine.variables[found->second];
        } else {
            Variable fresh;
            std::size_t len = strnlen(name, NAME_LENGTH);
            std::memcpy(fresh.name, name, len);
            fresh.name[len] = '\0';
            fresh.number = number;
            if (fresh.name[0] == 'T') {
                fresh.flags |= V_TIMER;
                fresh.limit = -1;
            } else if (is_detector_name(fresh.name)) {
                fresh.flags |= V_DETECTOR;
            }
            build_printed(fresh, FormatMode::PLAIN, fresh.printed, sizeof fresh.printed);
            fresh.index = static_cast<std::uint32_t>(engine.variables.size());
            v = &engine.variables.push_back(std::move(fresh));
            ++engine.epoch;
            engine.variable_index.emplace(key, v->index);
        }
        if (location_flags & LOC_SET) record_location(engine, v->set_location);
        if (location_flags & LOC_CLEAR) record_location(engine, v->clear_location);
    } catch (const std::bad_alloc&) {
        report_error(engine.output, ERROR, "install_variable", "Out of memory.");
        return nullptr;
    }
    return v;
}

Variable* find_variable(EngineState& engine, const char* name, int number) {
    auto found = engine.variable_index.find(variable_key(name, number));
    return found == engine.variable_index.end() ? nullptr : &engine.variables[found->second];
}

Variable* find_by_printed_name(EngineState& engine, const char* printed) {
    for (Variable& v : engine.variables)
        if (std::strcmp(v.printed, printed) == 0) return &v;
    return nullptr;
}

void free_variables(EngineState& engine) {
    ++engine.epoch;
    engine.variables.clear();
    engine.variable_index.clear();
}

const char* format_variable(EngineState& engine, const Variable* v, FormatMode mode) {
    char* out = engine.scratch.format;
    if (!v) {
        std::snprintf(out, sizeof engine.scratch.format, "<null>");
        return out;
    }
    if (mode == FormatMode::PLAIN) return v->printed;
    if (mode != FormatMode::DUMP) {
        build_printed(*v, mode, out, sizeof engine.scratch.format);
        return out;
    }
    std::snprintf(out, sizeof engine.scratch.format, "%s<%d%s%s> (%d.%d)", v->printed, v->value,
                  (v->flags & V_START) ? "S" : "", (v->flags & V_END) ? "E" : "",
                  v->modify_time / 10, v->modify_time % 10);
    return out;
}

const char* current_location(EngineState& engine) {
    const SourcePosition& s = engine.source;
    std::string text;
    if (s.file_open) text += s.file_name + " (" + std::to_string(s.line) + ") ";
    if (s.macro_open) text += s.macro_path + " (" + std::to_string(s.macro_line) + ") ";
    if (text.size() > LOCATION_LENGTH) text.resize(LOCATION_LENGTH);
    std::memcpy(engine.scratch.location, text.c_str(), text.size() + 1);
    return engine.scratch.location;
}

}  // namespace ruvalda
