#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ruvalda::test {

namespace {

Variable* install_printed(EngineState& engine, const std::string& printed) {
    std::string text = printed;
    char name[NAME_LENGTH + 2];
    int number = 0;
    if (getname(engine, text.data(), name, &number) == 0) return nullptr;
    return install_variable(engine, name, number, 0);
}

// Applies one "%init", "%time" or "%export" line; returns false for a rule line.
bool apply_directive(EngineState& engine, const std::string& line) {
    std::istringstream in(line);
    std::string word, name;
    in >> word >> name;
    if (word == "%init") {
        if (Variable* v = install_printed(engine, name)) v->flags |= V_INIT;
    } else if (word == "%time") {
        int limit = 0;
        in >> limit;
        if (Variable* v = install_printed(engine, name)) v->limit = limit;
    } else if (word == "%export") {
        std::string letter;
        in >> letter;
        if (Variable* v = install_printed(engine, name)) {
            v->flags |= V_EXPORTED;
            v->export_code = static_cast<signed char>(letter.empty() ? 'G' : letter[0]);
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::vector<Event> read_events(const std::string& path, int until) {
    std::ifstream in(path);
    std::vector<Event> events;
    std::string line;
    while (std::getline(in, line)) {
        int time = 0, stream = 0, digit = 0, state = 0;
        if (std::sscanf(line.c_str(), "%d\tD%2d%1d\t%d", &time, &stream, &digit, &state) == 4 &&
            time <= until)
            events.push_back({time, stream * 10 + digit, state});
    }
    return events;
}

void EngineTest::SetUp() {
    engine.output.front_end = &recorder;
}

int EngineTest::load(const std::vector<std::string>& lines) {
    free_variables(engine);
    engine.rule_table.clear();
    engine.rule_table_exists = false;
    std::memset(engine.stream_flags, 0, sizeof engine.stream_flags);
    std::uint8_t work[1541];
    for (const std::string& line : lines) {
        if (apply_directive(engine, line)) continue;
        std::string text = line;
        std::memset(work, 0, sizeof work);
        tokenize(engine, text.data(), work, sizeof work);
    }
    free_variables(engine);
    engine.rule_table_exists = true;
    int dropped = 0;
    for (const std::string& line : lines) {
        if (apply_directive(engine, line)) continue;
        std::string text = line;
        RuleRecord record{};
        tokenize(engine, text.data(), record.code, RULE_CODE_SIZE);
        if (evalrule(engine, record.code) != 0) {
            ++dropped;
            continue;
        }
        engine.rule_table.push_back(record);
    }
    for (const Variable& v : engine.variables) engine.stream_flags[v.number] |= SF_EXISTS;
    return dropped;
}

Variable& EngineTest::var(const std::string& printed) {
    for (Variable& v : engine.variables)
        if (printed == v.printed) return v;
    ADD_FAILURE() << "no variable " << printed;
    static Variable none;
    none = Variable{};
    return none;
}

bool EngineTest::has_var(const std::string& printed) {
    for (Variable& v : engine.variables)
        if (printed == v.printed) return true;
    return false;
}

std::vector<std::string> EngineTest::pane() const {
    return {engine.output.pane.lines.begin(), engine.output.pane.lines.end()};
}

std::vector<std::string> EngineTest::report_texts() const {
    std::vector<std::string> texts;
    for (const Report& r : recorder.reports) texts.push_back(r.text);
    return texts;
}

std::vector<std::uint8_t> EngineTest::compile(std::string text, int* result) {
    std::vector<std::uint8_t> code(RULE_CODE_SIZE, 0);
    int r = tokenize(engine, text.data(), code.data(), code.size());
    if (result) *result = r;
    return code;
}

std::string temp_dir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const char* base = std::getenv("RUVALDA_TEST_TMP");
    std::filesystem::path dir = std::filesystem::path(base ? base : "/tmp/ruvalda-test") /
                                (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

ShortTempDir::ShortTempDir() {
    char pattern[] = "/tmp/rv-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    EXPECT_NE(nullptr, made);
    path_ = made ? made : "/tmp";
}

ShortTempDir::~ShortTempDir() {
    std::error_code ignored;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
}

WorkingDir::WorkingDir(const std::string& path)
    : previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(path);
}

WorkingDir::~WorkingDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

RuntimeDir::RuntimeDir() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
        previous_ = old;
        had_previous_ = true;
    }
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
}

RuntimeDir::~RuntimeDir() {
    if (had_previous_) {
        ::setenv("XDG_RUNTIME_DIR", previous_.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

}  // namespace ruvalda::test
