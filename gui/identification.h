// Identification of the build: one version-control line per source unit, and the About
// listing made from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ruvalda {

struct BuildDate {
    std::uint16_t year = 0, month = 0, day = 0;
};

// The lines of the units that make up this build.
struct UnitLines {
    std::string body;
    std::string header;
};
enum class Unit {
    Entry,
    MainWindow,
    MapWindow,
    TraceDialog,
    SequenceDiagram,
    MessageOutput,
    Engine,
    VissimConversation,
    VissimBuffer
};
UnitLines unit_lines(Unit unit);
// A window's hint text: its body line, CR LF TAB, its header line.
std::string window_hint(Unit unit);

// What the listing is made from: the entry unit's line, the hints of the open windows in
// window order, and the body and header lines of the other units in their order.
struct IdentificationInput {
    std::string entry;
    std::vector<std::string> window_hints;
    std::vector<UnitLines> units;
};

struct Identification {
    std::string listing;
    BuildDate date;
    std::string time = "00:00:00";
};

// The About listing: the lines joined and cut into pieces of file name, revision, date and
// time; with the date and time of the newest piece, moved on by two hours. Lines that are not
// identification lines never make it read outside the text.
Identification BuildIdentification(const IdentificationInput& input);

// yyyy-mm-dd, the one form in which the program shows a date.
std::string format_build_date(BuildDate date);

}  // namespace ruvalda
