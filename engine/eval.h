// The control-program engine: variable table, rule code, evaluation, time step, the interface
// through which the rest of the system feeds detectors, traces and dumps, and the checks run
// at every reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/streams.h"
#include "output/output.h"

namespace ruvalda {

// One controller's engine: every operation takes the engine it works on.
struct EngineState;
struct ConflictMonitor;

// ---------------------------------------------------------------------------------------------
// Variable table

// Bits of Variable::flags.
constexpr std::uint32_t V_TRACE = 0x0002;
constexpr std::uint32_t V_TRACE_ALL = 0x0004;
constexpr std::uint32_t V_START = 0x0010;
constexpr std::uint32_t V_END = 0x0020;
constexpr std::uint32_t V_EXPIRED = 0x0040;
constexpr std::uint32_t V_CHANGED = 0x0080;
constexpr std::uint32_t V_TIMER = 0x0100;
constexpr std::uint32_t V_DETECTOR = 0x0200;
constexpr std::uint32_t V_HAS_SET_RULE = 0x0400;
constexpr std::uint32_t V_HAS_CLEAR_RULE = 0x0800;
constexpr std::uint32_t V_EXPORTED = 0x1000;
constexpr std::uint32_t V_INIT = 0x2000;

// Bits of a stream_flags word.
constexpr std::uint32_t SF_EXISTS = 0x1;
constexpr std::uint32_t SF_TRACE = 0x2;
constexpr std::uint32_t SF_TRACE_ALL = 0x4;

constexpr std::size_t NAME_LENGTH = 5;        // stored name without its number
constexpr std::size_t LOCATION_LENGTH = 999;  // location texts, without their NUL
constexpr std::size_t PRINTED_NAME_SIZE = 8;  // 5 characters, 2 digits, NUL

// install_variable location flags
constexpr int LOC_SET = 0x10;
constexpr int LOC_CLEAR = 0x20;

struct Variable {
    std::uint32_t flags = 0;
    std::int32_t value = 0;
    std::int32_t limit = 0;        // timers: tenths of a second, -1 = none given
    std::int32_t export_code = 0;  // colour letter of an exported variable
    char name[NAME_LENGTH + 1] = {};
    std::uint8_t show_code = 0;
    std::int32_t number = 0;  // 0..99
    std::int32_t ref_count = 0;
    std::int32_t modify_time = 0;
    std::string set_location;
    std::string clear_location;
    // The printed name never changes, so it is made once: traces and the evaluation hook
    // need it without string work.
    char printed[PRINTED_NAME_SIZE] = {};
    std::uint32_t index = 0;  // position in creation order: the reference in rule code
};

// The variables in creation order. Storage comes in blocks that never move, so a variable
// stays where it is until the table is freed, as callers of install_variable expect.
class VariableTable {
  public:
    static constexpr std::size_t BLOCK = 256;

    template <typename V>
    class Iterator {
      public:
        using difference_type = std::ptrdiff_t;
        using value_type = Variable;
        explicit Iterator(Variable* const* p) : p_(p) {}
        V& operator*() const { return **p_; }
        V* operator->() const { return *p_; }
        Iterator& operator++() {
            ++p_;
            return *this;
        }
        bool operator==(const Iterator& o) const { return p_ == o.p_; }
        bool operator!=(const Iterator& o) const { return p_ != o.p_; }

      private:
        Variable* const* p_;
    };

    std::size_t size() const { return order_.size(); }
    bool empty() const { return order_.empty(); }
    Variable& operator[](std::size_t i) const { return *order_[i]; }
    Variable& back() const { return *order_.back(); }
    Iterator<Variable> begin() { return Iterator<Variable>(order_.data()); }
    Iterator<Variable> end() { return Iterator<Variable>(order_.data() + order_.size()); }
    Iterator<const Variable> begin() const { return Iterator<const Variable>(order_.data()); }
    Iterator<const Variable> end() const {
        return Iterator<const Variable>(order_.data() + order_.size());
    }
    // Appends a variable; throws std::bad_alloc when memory runs out.
    Variable& push_back(Variable v);
    void clear();
    // Changes whenever the table is freed, so that what points into it can tell.
    std::uint32_t generation() const { return generation_; }

  private:
    std::vector<std::unique_ptr<Variable[]>> blocks_;
    std::vector<Variable*> order_;
    std::uint32_t generation_ = 0;
};

// Where the reader stands, kept up to date by the control-file reader; current_location
// prints it.
struct SourcePosition {
    bool file_open = false;
    std::string file_name;
    int line = 0;
    bool macro_open = false;
    std::string macro_path;
    int macro_line = 0;
};

enum class FormatMode { PLAIN, NEGATED, PREFIX_I, PREFIX_RI, DUMP };

// Scans one variable name at the start of text (upper case); returns the characters consumed
// (0: no name). May move an "N" in the text.
int getname(EngineState& engine, char* text, char name_out[NAME_LENGTH + 2], int* number_out);
Variable* install_variable(EngineState& engine, const char* name, int number, int location_flags);
Variable* find_variable(EngineState& engine, const char* name, int number);
void free_variables(EngineState& engine);
// The printed form in one shared buffer, valid until the next call.
const char* format_variable(EngineState& engine, const Variable* variable, FormatMode mode);
const char* current_location(EngineState& engine);

// ---------------------------------------------------------------------------------------------
// Rule code

constexpr std::size_t RULE_CODE_SIZE = 1001;  // 1000 bytes of code and the end byte
constexpr std::size_t PRINT_LIMIT = 1000;     // characters of printrule's text

// Kind bytes (first byte of a compiled rule).
enum RuleKind : std::uint8_t {
    K_ASSIGN = 1,          // X = expr
    K_ASSIGN_NEGATED = 2,  // XN = expr
    K_SET = 3,             // X .= expr, SX .= expr
    K_CLEAR = 4,           // XN .= expr, EX .= expr
    K_START = 5,           // IT .= expr
    K_RESTART = 6,         // RIT .= expr
};

// Token bytes of the expression part.
enum Token : std::uint8_t {
    T_END = 0,
    T_VARIABLE = 7,  // follows an operand marker: a 4-byte reference
    T_CONSTANT = 8,  // follows T_VALUE: a 4-byte integer
    T_START_EDGE = 9,
    T_END_EDGE = 10,
    T_VALUE = 11,
    T_NEGATED = 12,
    T_UNARY_MINUS = 13,
    T_EQ = 14,
    T_NE = 15,
    T_LT = 16,
    T_LE = 17,
    T_GT = 18,
    T_GE = 19,
    T_OPEN = 40,
    T_CLOSE = 41,
    T_PLUS = 43,
    T_MINUS = 45,
    T_AND = 46,
    M_INCOMPLETE = 0x99,
    M_SYNTAX = 0x9A,
    M_TIMER_USE = 0x9B,
    M_OPERATOR = 0x9C,
};

// Layout of the rule code, every field named:
//   rule     [kind: 1 byte][target: 4-byte reference][expression ...][T_END]
//   operand  [marker: T_VALUE, T_NEGATED, T_START_EDGE or T_END_EDGE]
//            [T_VARIABLE: 4-byte reference | T_CONSTANT: 4-byte value]
//   error    [marker M_...][the rule text from where it went wrong, NUL-ended]
// 4-byte fields are little-endian and need not be aligned (read_int32).
constexpr std::size_t FIELD_SIZE = 4;
constexpr std::size_t RULE_KIND_AT = 0;
constexpr std::size_t RULE_TARGET_AT = 1;
constexpr std::size_t RULE_EXPRESSION_AT = RULE_TARGET_AT + FIELD_SIZE;
constexpr std::size_t OPERAND_TYPE_AT = 1;
constexpr std::size_t OPERAND_FIELD_AT = 2;
constexpr std::size_t OPERAND_SIZE = OPERAND_FIELD_AT + FIELD_SIZE;
constexpr std::size_t ERROR_TEXT_AT = 1;

inline bool is_error_marker(std::uint8_t byte) {
    return byte >= M_INCOMPLETE && byte <= M_OPERATOR;
}

// Error numbers of evaluation, index into rule_error_names.
enum RuleError {
    E_NONE = 0,
    E_MISSING_OPERAND = 1,
    E_MISSING_PAREN = 2,
    E_MISSING_OPERATOR = 3,
    E_MISSING_VARIABLE = 4,
    E_TOO_MANY_PARENS = 5,
    E_STACK_OVERFLOW = 6,
    E_ASSIGNMENT = 7,
    E_TIMER_USE = 8,
    E_SYNTAX = 9,
    E_INCOMPLETE = 10,
};
extern const char* const rule_error_names[11];

// Results of tokenize.
constexpr int TOKENIZE_OK = 0;
constexpr int TOKENIZE_ERROR = 1;
constexpr int TOKENIZE_ASSIGNMENT = 7;

// Compiles one rule text (changed in place) into code of at most `capacity` bytes. Never
// writes past the capacity; *needed, if given, receives the bytes the whole code takes, end
// byte included, so a caller can tell and measure a rule that did not fit. A code that did not
// fit is left as an empty error record.
int tokenize(EngineState& engine, char* text, std::uint8_t* code, std::size_t capacity,
             std::size_t* needed = nullptr);
// Calls visit for the variables a compiled rule names: its target (assigned true), then every
// variable it reads, in the order of the text.
using RuleVariableVisit = std::function<void(const Variable& variable, bool assigned)>;
void for_each_rule_variable(EngineState& engine, const std::uint8_t* code,
                            const RuleVariableVisit& visit);
// The text of code (a whole rule or the expression part) in one shared buffer, valid until the
// next call; printing stops at `stop` when given.
const char* printrule(EngineState& engine, const std::uint8_t* code, bool verbose,
                      const std::uint8_t* stop = nullptr);

// ---------------------------------------------------------------------------------------------
// Evaluation

constexpr int STACK_SIZE = 19;
struct RuleRecord;
constexpr std::uint32_t NO_TARGET = 0xffffffffu;

// Evaluates one compiled rule; 0, or the error number after reporting it.
int evalrule(EngineState& engine, const std::uint8_t* code);
// The same for a rule of the rule table, using and refreshing its memo.
int evalrule(EngineState& engine, RuleRecord& rule);
std::string rule_error_text(EngineState& engine, int error, const std::uint8_t* code,
                            const std::uint8_t* position);

// ---------------------------------------------------------------------------------------------
// Time step

constexpr int MAX_SETTLE_PASSES = 35;
constexpr std::size_t OSCILLATION_LIST_LIMIT = 2000;
constexpr int DETECTOR_TRANSLATIONS = 128;

// What a table rule's expression gave for the inputs it saw last. An expression reads nothing
// but its operands' values and edge flags, so while those are the same its result is the same:
// a settle pass then checks the inputs instead of walking the code again.
constexpr int MEMO_OPERANDS = 14;
struct RuleMemo {
    enum : std::uint8_t { UNKNOWN = 0, VALID = 1, NEVER = 2 };
    std::int32_t result = 0;
    std::uint32_t generation = 0;  // of the variable table the inputs point into
    std::uint8_t state = UNKNOWN;
    std::uint8_t count = 0;
    std::uint8_t unused[6] = {};
    std::uintptr_t input[MEMO_OPERANDS] = {};  // address of the field, field kind in bits 0-1
    std::uint32_t seen[MEMO_OPERANDS] = {};
};

// One rule of the rule table: its code, and the memo that lets quiet passes skip the code.
struct alignas(64) RuleRecord {
    RuleMemo memo;
    std::uint8_t code[RULE_CODE_SIZE];
};

using ColourCallback = std::function<void(int stream, char colour)>;
using EvaluationHook = std::function<void(const char* printed_name, int value)>;
using DetectorCallback = std::function<void(int detector, int state)>;

// All state of the engine, so a test can reset it in one line.
struct EngineState {
    OutputState output;       // the pane and the front end the engine reports to
    VariableTable variables;  // creation order; index = reference in rule code
    // Lookup by (name, number); the table itself stays in creation order.
    std::unordered_map<std::uint64_t, std::uint32_t> variable_index;
    std::uint32_t stream_flags[STREAM_COUNT] = {};

    std::int32_t current_time = 0;
    std::int32_t rate = 1;
    std::int32_t change_count = 0;
    std::int32_t oscillation_count = 0;
    std::int32_t oscillating_settles = 0;  // since the last reset: a run that oscillated failed

    ColourCallback colour_callback;
    DetectorCallback detector_callback;  // told of every detector change, before the program
    EvaluationHook evaluation_hook;
    // The conflict monitor told of this engine's colours, detectors and resets; its controller
    // sets it. None in a bare engine.
    ConflictMonitor* monitor = nullptr;

    std::string trace_file_name;  // wanted; empty: no trace file
    std::string open_trace_name;  // remembered with the open file; empty: none
    std::FILE* trace_file = nullptr;
    bool trace_file_dirty = false;  // written since the last flush
    std::string trace_file_error;   // the system's reason of the first failed write; empty: none

    std::string adjust_file_name;
    std::string adjust_file_kept;  // an adjust file that could not be removed: not taken again
    // Where the system can tell when a file appears, the adjust file is looked for only then,
    // instead of being opened in every settle.
    struct AdjustWatch {
        std::string watched_name;
        std::string base_name;
        int fd = -1;
    } adjust_watch;

    std::vector<RuleRecord> rule_table;
    bool rule_table_exists = false;  // false during the loader's counting pass

    // A settle whose one pass wrote nothing at all leaves a fixed point: as long as nothing
    // else writes to the variables, another settle would evaluate every rule to the same
    // nothing, so it is skipped. `epoch` is raised by every write outside the settle passes
    // (timers, detectors, resets, loading, trace flags), `pass_writes` counts the writes of a
    // pass that are no counted change (edges cleared, timers restarted, colours passed out).
    std::uint64_t epoch = 0;
    std::uint32_t pass_writes = 0;
    bool any_variable_traces_all = false;
    bool skip_fixed_points = true;  // off only to compare against full evaluation
    struct FixedPoint {
        bool valid = false;
        std::uint64_t epoch = 0;
        const RuleRecord* rules = nullptr;
        std::size_t count = 0;
    } fixed_point;
    // Rules a pass may pass over: one whose inputs and target are as they were when it was
    // last evaluated would evaluate to the same nothing. `readers` lists, per variable, the
    // rules that read or assign it (from `first[v]` to `first[v + 1]`); `seen` holds what the
    // variables showed the rules when their readers were last marked.
    struct RuleSkipping {
        bool valid = false;
        const RuleRecord* rules = nullptr;
        std::size_t count = 0;
        std::size_t variable_count = 0;
        std::uint32_t generation = 0;
        std::vector<std::uint32_t> first, readers;
        std::vector<std::uint32_t> target;  // per rule; NO_TARGET: none
        std::vector<std::uint8_t> dirty;    // per rule
        std::vector<std::uint64_t> seen;    // per variable
    } rule_skipping;

    std::int32_t detector_translation[DETECTOR_TRANSLATIONS][2] = {};

    SourcePosition source;

    // Shared result buffers of format_variable, printrule and current_location.
    struct Scratch {
        char format[48];
        char print[PRINT_LIMIT + 1];
        char location[LOCATION_LENGTH + 1];
    } scratch = {};
};

// Closes the trace file and the watch on the adjust file, at the end of the engine's controller.
void close_engine_files(EngineState& engine);

int RVInitialize(EngineState& engine);
void RVRunUntil(EngineState& engine, std::int32_t target);
// Opens, switches or closes the trace file as its wanted name says, and writes out what it
// holds, without a step.
void RVSyncTraceFile(EngineState& engine);
std::int32_t RVGetTime(EngineState& engine);
std::int32_t RVGetRate(EngineState& engine);
const char* RVGetTimeText(EngineState& engine);
// The text a step traces while its rate is not 1, "Rate:%6d. ". A status bar that shows
// RVGetRate in a field of its own tells it apart from the messages with this.
bool is_rate_text(const std::string& text);
void settle(EngineState& engine);
void tick_timers(EngineState& engine);
void export_colour(EngineState& engine, const Variable& variable);

// ---------------------------------------------------------------------------------------------
// Detectors, flags, traces and dumps

void SetDetectorState(EngineState& engine, int detector, int state);
int RVExportDetector(EngineState& engine, int detector);
int RVTranslateDetector(EngineState& engine, int simulator_detector);
std::uint32_t RVGetStreamFlags(EngineState& engine, int stream);
void RVSetStreamFlags(EngineState& engine, int stream, int flags);
void RVSetVariableTrace(EngineState& engine, const char* printed_name, int flags);
int RVGetVariableTrace(EngineState& engine, const char* printed_name);
using DumpPrinter = std::function<bool(const char* text)>;
bool RVDumpVars(EngineState& engine, const DumpPrinter& print, bool by_modify_time);

// ---------------------------------------------------------------------------------------------
// Checks

constexpr int SANITY_NEVER_ENDS = 0x02;
constexpr int SANITY_NEVER_STARTS = 0x04;
constexpr int SANITY_NO_LIMIT = 0x10;
constexpr int SANITY_NEVER_USED = 0x20;
constexpr int SANITY_ALL = 0x36;

// A stream that may exist only together with another (or one of two others).
struct Companion {
    int stream;
    int required;
    int alternative;  // 0: none
};
// The companion rules the program's existing streams break, in the order of the check.
std::vector<Companion> missing_companions(const EngineState& engine);

int RVCheckConsistency(EngineState& engine);
int check_sanity(EngineState& engine, int asked);

}  // namespace ruvalda
