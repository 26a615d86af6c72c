// Control-file loading: the reader pipeline read_raw -> dosupermacro -> domacro -> readin, and
// RVLoadFile with its side files.
//
// The control file's name and line number are kept in engine.source, where current_location
// reads them; everything else the reader keeps is in reader_state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "engine/eval.h"
#include "engine/streams.h"

namespace ruvalda {

constexpr int SUPPORTED_VERSION = 100;
constexpr std::size_t PIECE_LENGTH = 999;      // characters of one physical line piece
constexpr std::size_t FILE_NAME_LENGTH = 100;  // control-file name kept by openin
constexpr std::size_t TEXT_LENGTH = 1000;      // one text handed on by domacro and readin
constexpr std::size_t MACRO_NAME_LENGTH = 100;
constexpr std::size_t MACRO_ARGUMENT_LENGTH = 99;
constexpr int MACRO_SLOTS = 10;
constexpr int MAX_LISTED_STREAMS = STREAM_COUNT;
constexpr int MAX_REQUIRED_TIMES = 50;
constexpr std::size_t WORK_RECORD_SIZE = 1541;  // 1001 bytes of code and a margin
constexpr unsigned char INCOMPLETE_MARK = 153;

// Reads a sequence section from the open control file; advances *line_number per line read
// and sets it to -1 to end the reading of the file.
using SequenceHandler = std::function<void(EngineState& engine, std::FILE* file, int* line_number)>;

struct DeclarationTables {
    int streams[MAX_LISTED_STREAMS] = {};
    int n = 0;
    int conflict[MAX_LISTED_STREAMS][MAX_LISTED_STREAMS] = {};
    int ig[MAX_LISTED_STREAMS] = {};
    int required[MAX_LISTED_STREAMS][MAX_REQUIRED_TIMES] = {};
    int timer_rows[9][MAX_LISTED_STREAMS] = {};
    int detector_rows[9][MAX_LISTED_STREAMS] = {};
    bool conflicts_defined[MAX_LISTED_STREAMS] = {};
    bool required_defined[MAX_LISTED_STREAMS] = {};
    bool ig_defined = false;
    bool timer_defined[9] = {};
    bool detector_defined[9] = {};
    int state = 0;  // 0 before "%mat", 1 inside the block, 2 after "%rules"
    int generation_counter = 0;
    // Control-file lines of the block, for the warnings: the "%mat" line, each stream's
    // conflict line, IG, the timer and detector rows; 0: not given. `generated_from` is the
    // line of the declaration the last generated call came from.
    int mat_line = 0;
    int conflict_line[MAX_LISTED_STREAMS] = {};
    int ig_line = 0;
    int timer_line[9] = {};
    int detector_line[9] = {};
    int generated_from = 0;
    char output[TEXT_LENGTH + 1] = {};
};

struct MacroState {
    std::string macro_path;  // directories separated by ";", each ending in a separator
    std::FILE* file = nullptr;
    char args[MACRO_SLOTS + 1][MACRO_ARGUMENT_LENGTH + 2] = {};  // slots 1..10 are used
    char expansion[TEXT_LENGTH + 1] = {};
    char line[PIECE_LENGTH + 1] = {};
};

// A place in a control or macro file.
struct SourceLine {
    std::string file;  // a macro file; empty: the control file (whose kept name may be cut)
    int line = 0;      // 0: none
};

// Where the counting pass of a load met a name (by its printed name), for the warnings after
// the load. A rule or directive in a macro expansion is placed at the control-file line that
// called the macro, or at the declaration it was generated from.
struct NameSources {
    SourceLine own_read;   // first read in a rule written in the control file itself
    SourceLine read;       // first read anywhere
    SourceLine assigned;   // first rule assigning it
    SourceLine limit;      // first "%time" naming it
    SourceLine directive;  // first directive of any kind naming it
};

struct ReaderState {
    std::FILE* control_file = nullptr;
    bool input_ended = false;  // end of file, or a sequence section ended the reading
    bool version_warned = false;
    int phase_timer_count = 0;
    SequenceHandler sequence_handler;
    char line[PIECE_LENGTH + 1] = {};
    std::FILE* expression_dump = nullptr;
    std::string expression_dump_name;
    MacroState macro;
    DeclarationTables declarations;
    int stream_translation[LAST_STREAM] = {};
    std::map<std::string, NameSources> name_sources;
    // The reports of a load: the path as given (the kept name may be cut), the place and the
    // reports already shown; the line the required-time columns were counted from (0: none)
    // and whether it had no tab, and whether the hint about them was given.
    std::string load_path;
    ReportPlace report_place;
    int column_line = 0;
    bool column_line_untabbed = false;
    bool column_hint_given = false;
    // The control-file line of a "# Sequence" comment at which the reading stopped without a
    // report (0: none): what follows it is no section the sequence reader takes.
    int silent_section_stop = 0;
};

// Closes the files being read and the expression dump, at the end of the reader's controller.
void close_reader_files(ReaderState& reader_state, EngineState& engine);

int openin(ReaderState& reader_state, EngineState& engine, const char* path);
void closein(ReaderState& reader_state, EngineState& engine);
char* read_raw(ReaderState& reader_state, EngineState& engine);
// A line longer than a piece is skipped whole, with this report naming its file and line (once
// a load: in its counting pass).
void report_line_too_long(EngineState& engine, const std::string& file, int line);
char* dosupermacro(ReaderState& reader_state, EngineState& engine);
char* domacro(ReaderState& reader_state, EngineState& engine);
char* readin(ReaderState& reader_state, EngineState& engine);

// The macro search path for a control file: its folder (the current folder when the path has
// none), then the folder of the program.
std::string macro_path_for(const std::string& control_file, const std::string& program_dir);

// Side-file names: the extension replaced (or appended), and the dump name.
std::string side_file_name(const std::string& path, const char* extension);
std::string dump_file_name(const std::string& path);

int RVLoadFile(ReaderState& reader_state, EngineState& engine, const char* path);

// A program detector is written as stream * 10 + digit: streams 00 to 99.
constexpr long MAX_PROGRAM_DETECTOR = 999;
// The detector variable a program detector number names; none when the program has none.
Variable* program_detector(EngineState& engine, long detector);
// "D021" for 21; a number outside the detectors as it is.
std::string detector_printed_name(long detector);

// " [crossing.rvc(14)]" or " [stream.mac(3) from crossing.rvc(40)]": where a report made now
// was made; empty when the load reads no file or the report's text names the place already.
std::string report_place_text(const ReaderState& reader_state, const EngineState& engine,
                              const std::string& text);

// Where the reader stands, as the warnings name it (see NameSources).
SourceLine reading_place(const ReaderState& reader_state, const EngineState& engine);
// Records where a compiled rule's target and operands were met; the counting pass calls it.
void note_rule_names(ReaderState& reader_state, EngineState& engine, const std::uint8_t* code);

// The clearance matrix of the last declaration block read, by stream number: entry [s][t] the
// tenths from the end of the green of s to the start of the green of t, -1 where they do not
// conflict. False when the file had no declaration block.
bool declared_clearances(ReaderState& reader_state,
                         std::int32_t clearance[STREAM_COUNT][STREAM_COUNT]);

}  // namespace ruvalda
