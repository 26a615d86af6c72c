#include "sequence/sequence_model.h"

#include <cstring>

#include "engine/eval.h"
#include "loader/text.h"
#include "output/output.h"

namespace ruvalda {

namespace {

constexpr const char* WHERE = "Reading RVC File";
constexpr std::size_t SECTION_LINE = 10000;

struct SectionReader {
    EngineState& engine;
    std::FILE* file;
    int* line_number;
    char line[SECTION_LINE];

    bool next() {
        if (!read_piece(file, line, sizeof line)) return false;
        ++*line_number;
        return true;
    }
    void stop() { *line_number = -1; }
    void fail(const char* message) {
        report_error(engine.output, ERROR, WHERE, "%s", message);
        stop();
    }
};

// Reads one group line into `entries`; every entry after the first (and the first of a line
// starting with "#") is read from two characters after the start of the previous one.
bool read_group(const char* line, int count, int* entries);

// How many entries a group line holds, as read_group reads them.
int group_entries(const char* line) {
    int entries[MAXBLOCKS + 1];
    int count = 0;
    while (count <= MAXBLOCKS && read_group(line, count + 1, entries)) ++count;
    return count;
}

bool read_group(const char* line, int count, int* entries) {
    const char* p = line;
    for (int j = 0; j < count; ++j) {
        if (j > 0 || line[0] == '#') {
            for (int step = 0; step < 2 && *p; ++step) ++p;
            p = skip_blanks(p);
        }
        long value = 0;
        const char* start = p;
        if (!parse_decimal(p, &value)) return false;
        entries[j] = static_cast<int>(value);
        p = start;
    }
    return true;
}

}  // namespace

void ReadSequenceSection(SequenceModel& sequence_model, EngineState& engine, std::FILE* file,
                         int* line_number) {
    SectionReader r{engine, file, line_number, {}};
    const int marker_line = *line_number;
    do {
        if (!r.next() || *line_number - marker_line > 6) return r.stop();
    } while (std::strncmp(r.line, "# Conflictgroups Conflictgroupsize", 34) != 0);

    if (!r.next()) return r.fail("cannot find ConflictGroupSize");
    const char* p = r.line;
    if (*p == '#') ++p;
    long groups = 0, size = 0;
    const char* after = nullptr;
    if (!parse_decimal(skip_blanks(p), &groups, &after) ||
        !parse_decimal(skip_blanks(after), &size))
        return r.fail("cannot find ConflictGroupSize");
    // The model holds at most 199 groups of 10 blocks; larger counts are refused before any
    // group is read, so the table is never indexed beyond its rows.
    if (groups >= MAXGROUP) return r.fail("too many conflict groups (maximum is 199)");
    if (groups < 0) return r.fail("negative number of conflict groups");
    if (size > MAXBLOCKS)
        return r.fail("conflict groups too long (maximum ConflictGroupSize is 10)");
    if (size < 0) return r.fail("negative ConflictGroupSize");
    if (!r.next() || std::strncmp(r.line, "# Selected sequence", 19) != 0) return r.stop();
    if (!r.next()) {
        if (groups > 0) return r.fail("cannot find conflict");
        sequence_model.MaxCFCount = 0;  // a section of no groups at the end of the file
        sequence_model.ConflictGroupSize = static_cast<int>(size);
        return;
    }
    if (std::strncmp(r.line, "# Structure:", 12) == 0) {
        long structure = 0;
        if (!parse_decimal(skip_blanks(r.line + 12), &structure))
            return r.fail("cannot find structurenumber");
        if (groups > 0 && !r.next()) return r.fail("cannot find conflict");
    }
    // Read into a scratch model: a section that fails leaves the previous one in place.
    int entries[MAXGROUP][MAXBLOCKS] = {};
    for (int i = 0; i < groups; ++i) {
        if (i > 0 && !r.next()) return r.fail("cannot find conflict");
        if (!read_group(r.line, static_cast<int>(size), entries[i])) {
            // A group line holding as many entries as the header gives groups: the two
            // numbers of the header were most likely written the other way round.
            if (groups != size && group_entries(r.line) == groups)
                engine.output.hint =
                    "Hint: the line after \"# Conflictgroups "
                    "Conflictgroupsize\" gives the number of groups, then their "
                    "size; this group line holds " +
                    std::to_string(groups) + " entries, so " + std::to_string(groups) + " and " +
                    std::to_string(size) + " look swapped.";
            return r.fail("cannot find conflict");
        }
        for (int j = 0; j < size; ++j) {
            if (entries[i][j] >= MAXSTREAM) {
                report_error(engine.output, ERROR, WHERE,
                             "stream %d in conflict group %d (maximum is %d)", entries[i][j], i + 1,
                             LAST_STREAM);
                return r.stop();
            }
        }
    }
    sequence_model.MaxCFCount = static_cast<int>(groups);
    sequence_model.ConflictGroupSize = static_cast<int>(size);
    for (int i = 0; i < groups; ++i)
        std::memcpy(sequence_model.ConflictGroups[i], entries[i], sizeof entries[i]);
}

}  // namespace ruvalda
