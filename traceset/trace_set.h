// The trace-set file: one line "NAME|VALUE" per traced variable, and the other pieces of the
// trace-variable dialog that need no window, so that they can be tested and fuzzed alone.
//
// A trace value is a variable's V_TRACE and V_TRACE_ALL bits: 0 (not traced), 2 (changes),
// 6 (every evaluation) or 4 (every evaluation without changes, which the setting box shows as
// no selection).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/eval.h"

namespace ruvalda {

// The bits of a trace value; anything else in a value from a file is ignored.
constexpr int TRACE_VALUE_BITS = 0x6;
// Characters of a file line's value text that are read; the rest is ignored.
constexpr std::size_t TRACE_VALUE_TEXT_LENGTH = 999;

// The name of a variables-list item (a dump line such as "K05<1S> (12.3)"): the text before
// the first "<", or the whole item.
std::string trace_item_name(std::string_view item);

// The dump lines of the loaded program, in the list's order (see trace_item_less).
std::vector<std::string> trace_items(EngineState& engine);

// The list's alphabetical order: letters without regard to case, digits before letters, and
// every other character before digits, so a name comes before its longer relatives (A<...>
// before A1<...>). Items equal by this rule are ordered byte-wise.
bool trace_item_less(std::string_view a, std::string_view b);

// Setting-box index for a variable's trace bits (0, 1, 2; -1 for 4 alone, shown as no
// selection), and the trace value for a setting index (0 for anything but 0, 1, 2).
int trace_setting_index(int trace_bits);
int trace_setting_value(int index);

struct TraceSetting {
    std::string name;
    int bits = 0;
};

// The file text: "name|value" and CR LF for each setting with trace bits, in the given order.
std::string build_trace_set(const std::vector<TraceSetting>& settings);

// A whole number as the file writes it: an optional "+" or "-" and one or more decimal digits,
// nothing else, within the range of int. False otherwise.
bool parse_trace_value(std::string_view text, int* value);

// One line of a trace-set file as read.
struct TraceSetLine {
    int number = 0;    // counted from 1
    std::string text;  // the line without its line end
    std::string name;  // before the first "|"; empty when there is none
    int value = 0;     // valid when ok
    bool ok = false;   // the value text is a whole number
};

// The lines of a file's text. CR LF, LF and CR each end a line; a last line without a line
// end counts, a line end at the end of the text starts no further line.
std::vector<TraceSetLine> parse_trace_set(std::string_view text);

// Sets the variable's trace bits from a line that parsed; the engine writes its message for a
// name that no rule assigns. A name is taken up to a NUL byte in it, as the engine reads
// names. False, and nothing changed, for a line that did not parse.
bool apply_trace_setting(EngineState& engine, const TraceSetLine& line);

// The file name offered for a control file: its extension replaced by ".rts"; empty for none.
std::string trace_set_file_for(const std::string& control_file);

// Reads a whole file; false when it cannot be opened or read.
bool read_trace_set_file(const std::string& path, std::string* text);

// Replaces the file's content by text. The text goes to a new file beside it, which then takes
// its name, so a failed write leaves the old file whole. False on failure.
bool write_trace_set_file(const std::string& path, std::string_view text);

}  // namespace ruvalda
