// Macro calls: a line "&Name(arg, ...)" is replaced by the lines of the file name.mac found
// along the macro path, with $1..$9 standing for the arguments.
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/eval.h"
#include "loader/reader.h"
#include "loader/text.h"
#include "output/output.h"

namespace ruvalda {

namespace {

constexpr char PATH_SEPARATOR = std::filesystem::path::preferred_separator;

MacroState& macro(ReaderState& reader_state) {
    return reader_state.macro;
}

std::string lower_case(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Opens name.mac in the first folder of the macro path that holds it. File names are looked
// up in lower case; the folders keep their case. An empty entry stands for the current folder.
bool open_macro_file(ReaderState& reader_state, EngineState& engine, const std::string& name) {
    const std::string file = lower_case(name) + ".mac";
    const std::string& list = macro(reader_state).macro_path;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = list.find(';', start);
        std::string folder = list.substr(start, end == std::string::npos ? end : end - start);
        std::string path = folder;
        if (!path.empty() && path.back() != PATH_SEPARATOR && path.back() != '/')
            path += PATH_SEPARATOR;
        path += file;
        if ((macro(reader_state).file = std::fopen(path.c_str(), "rb"))) {
            engine.source.macro_path = path;
            return true;
        }
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

// Arguments after the "(": each runs to the next ","; with none left, to the next ")".
void read_arguments(ReaderState& reader_state, EngineState& engine, const char* line,
                    const char* open) {
    const char* p = open + 1;
    int slot = 1;
    for (;;) {
        p = skip_blanks(p);
        const char* end = std::strchr(p, ',');
        if (!end) end = std::strchr(p, ')');
        if (!end) break;
        std::size_t length = static_cast<std::size_t>(end - p);
        char* target = macro(reader_state).args[slot];
        if (length > MACRO_ARGUMENT_LENGTH) {
            report_error(engine.output, CONFIGURATION_ERROR, "domacro",
                         "Macro argument \"%*.*s\" too long.", 1, static_cast<int>(length), p);
            target[0] = '\0';
        } else {
            std::memcpy(target, p, length);
            target[length] = '\0';
        }
        p = end + 1;
        if (slot == MACRO_SLOTS) {
            report_error(engine.output, CONFIGURATION_ERROR, "domacro",
                         "Too many arguments in macro \"%s\".", line);
            return;
        }
        ++slot;
    }
    for (; slot <= MACRO_SLOTS; ++slot) macro(reader_state).args[slot][0] = '\0';
}

// Starts the macro of a call line; false when the call is dropped.
bool start_macro(ReaderState& reader_state, EngineState& engine, char* line) {
    char* amp = std::strchr(line, '&');
    char* open = std::strchr(amp, '(');
    if (!open) {
        report_error(engine.output, CONFIGURATION_ERROR, "domacro", "Cannot find '(' in %s.", line);
        return false;
    }
    std::size_t length = static_cast<std::size_t>(open - amp - 1);
    if (length > MACRO_NAME_LENGTH) {
        report_error(engine.output, CONFIGURATION_ERROR, "domacro",
                     "Macro name \"%*.*s\" too long.", 1, static_cast<int>(length), amp + 1);
        return false;
    }
    std::string name(amp + 1, length);
    std::size_t blank = name.find_first_of(" \t");
    if (blank != std::string::npos) name.resize(blank);
    if (!open_macro_file(reader_state, engine, name)) {
        report_error(engine.output, ERROR, "domacro", "Cannot open macrofile \"%s\".",
                     name.c_str());
        return false;
    }
    read_arguments(reader_state, engine, line, open);
    engine.source.macro_line = 0;
    engine.source.macro_open = true;
    return true;
}

// Copies one macro line into the expansion buffer with its parameters put in.
char* expand_line(ReaderState& reader_state, EngineState& engine, const char* line) {
    char* out = macro(reader_state).expansion;
    std::size_t n = 0;
    bool cut = false;
    auto put = [&](const char* text, std::size_t length, const char* message) {
        if (cut) return;
        if (n + length > TEXT_LENGTH) {
            length = TEXT_LENGTH - n;
            cut = true;
            report_error(engine.output, SIMULATOR_ERROR, "domacro", "%s", message);
        }
        std::memcpy(out + n, text, length);
        n += length;
    };
    for (const char* c = line; *c && !cut; ++c) {
        if (*c != '$') {
            put(c, 1, "Macro expansion is too large.");
            continue;
        }
        if (c[1] >= '1' && c[1] <= '9') {
            const char* arg = macro(reader_state).args[c[1] - '0'];
            put(arg, std::strlen(arg), "Expanded macro is too long.");
            ++c;
            continue;
        }
        report_error(engine.output, CONFIGURATION_ERROR, "domacro",
                     "%s(%d) bad $-parameter \"%s\", ignored.\n", engine.source.macro_path.c_str(),
                     engine.source.macro_line, c + 1);
        if (c[1] == '\0') break;
        ++c;
    }
    out[n] = '\0';
    return out;
}

void close_macro(ReaderState& reader_state, EngineState& engine) {
    std::fclose(macro(reader_state).file);
    macro(reader_state).file = nullptr;
    engine.source.macro_open = false;
}

}  // namespace

std::string macro_path_for(const std::string& control_file, const std::string& program_dir) {
    std::filesystem::path folder = std::filesystem::path(control_file).parent_path();
    std::string first = folder.empty() ? std::string(".") : folder.string();
    std::string second = program_dir.empty() ? std::string(".") : program_dir;
    if (first.back() != PATH_SEPARATOR) first += PATH_SEPARATOR;
    if (second.back() != PATH_SEPARATOR) second += PATH_SEPARATOR;
    return first + ";" + second;
}

char* domacro(ReaderState& reader_state, EngineState& engine) {
    for (;;) {
        if (macro(reader_state).file) {
            bool cut = false;
            while (read_piece(macro(reader_state).file, macro(reader_state).line,
                              sizeof macro(reader_state).line, &cut)) {
                ++engine.source.macro_line;
                if (cut) {
                    report_line_too_long(engine, engine.source.macro_path,
                                         engine.source.macro_line);
                    continue;
                }
                if (char* comment = std::strchr(macro(reader_state).line, '#')) *comment = '\0';
                if (is_blank_text(macro(reader_state).line)) continue;
                return expand_line(reader_state, engine, macro(reader_state).line);
            }
            close_macro(reader_state, engine);
        }
        char* line = dosupermacro(reader_state, engine);
        if (!line) return nullptr;
        if (*skip_blanks(line) != '&') {
            std::size_t length = strnlen(line, TEXT_LENGTH);
            std::memcpy(macro(reader_state).expansion, line, length);
            macro(reader_state).expansion[length] = '\0';
            return macro(reader_state).expansion;
        }
        start_macro(reader_state, engine, line);
    }
}

}  // namespace ruvalda
