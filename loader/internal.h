// Side-file helpers shared by the load and the warnings after it; not part of the interface.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "engine/eval.h"

namespace ruvalda {

// Opens a side file by its name, or by the same name with a lower-case extension (name then
// becomes that one).
std::FILE* open_side_file(std::string& name);
// Reads one line of a side file (999 characters) as read, line feed included.
bool read_side_line(std::FILE* f, char* line, std::size_t size);
// The two numbers that start a line; *end, if given, receives what follows the second.
bool two_numbers(const char* line, long* first, long* second, const char** end = nullptr);
std::string without_line_end(const char* line);

}  // namespace ruvalda
