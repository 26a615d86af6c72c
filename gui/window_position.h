// What the desktop keeps between runs under Varndal / the executable's file name: window
// positions as "<prefix>Left", "<prefix>Top", "<prefix>Width" and "<prefix>Height", and the
// control files opened last as "RecentFiles".
#pragma once

#include <QPoint>
#include <QSize>
#include <QStringList>

class QString;
class QWidget;

namespace ruvalda {

// Puts a top-level window's frame (title bar included) at `frame_top_left`, the place that
// x() and y() give back. Until a window manager has framed a window, Qt cannot tell frame from
// client area and some managers (openbox among them) put the client area at the place asked
// for; the place is therefore asked for again once the frame is known, so that what is stored
// at exit is what was restored at start.
void move_frame(QWidget* window, QPoint frame_top_left);
// Gives a window's client area a size, and asks for it again once the frame is known, for the
// same reason.
void resize_framed(QWidget* window, QSize client);

// Applies the stored values one by one; a missing value ends the reading there. Returns true
// when all four were read.
bool read_window_position(QWidget* window, const char* prefix);

// Stores the window's place; a failure shows "Error: Problem saving window position in
// Registry".
void write_window_position(QWidget* window, const char* prefix, const QString& title);

// As many as a File menu shows at a glance.
constexpr int RECENT_FILE_COUNT = 8;
// The control files opened last, newest first, those that still exist.
QStringList recent_files();
// Puts a control file (an absolute path) first in the list.
void remember_recent_file(const QString& path);

}  // namespace ruvalda
