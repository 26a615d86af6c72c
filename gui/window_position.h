// Window positions kept between runs: "<prefix>Left", "<prefix>Top", "<prefix>Width" and
// "<prefix>Height" under Varndal / the executable's file name.
#pragma once

class QString;
class QWidget;

namespace ruvalda {

// Applies the stored values one by one; a missing value ends the reading there. Returns true
// when all four were read.
bool read_window_position(QWidget* window, const char* prefix);

// Stores the window's place; a failure shows "Error: Problem saving window position in
// Registry".
void write_window_position(QWidget* window, const char* prefix, const QString& title);

}  // namespace ruvalda
