// Shared fixture of the loader tests that work on files: control files, macro files and side
// files in a scratch folder, loaded the way a front end loads them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "loader/reader.h"
#include "sequence/sequence_model.h"
#include "tests/support/test_support.h"

namespace ruvalda::test {

class LoaderFileTest : public EngineTest {
  protected:
    // The reader keeps only 100 characters of a control file's name, and messages quote it, so
    // the files stand in a short folder of their own.
    std::string dir;

    void SetUp() override {
        EngineTest::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        char name[48];
        std::snprintf(name, sizeof name, "/tmp/rvlf-%zx",
                      std::hash<std::string>{}(std::string(__FILE__) + info->test_suite_name() +
                                               "." + info->name()));
        dir = name;
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        EngineTest::TearDown();
    }

    // Writes a file into the scratch folder and returns its path.
    std::string put(const std::string& name, const std::string& text) {
        const std::string path = dir + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        write_file(path, text);
        return path;
    }
    // Writes x.rvc and loads it as a front end does: macro path of the control file's folder
    // and the program's folder (dir/program), the sequence reader installed.
    int load_text(const std::string& text) {
        const std::string path = put("x.rvc", text);
        reader_state.macro.macro_path = macro_path_for(path, dir + "/program");
        reader_state.sequence_handler = sequence_reader(sequence_model);
        return RVLoadFile(reader_state, engine, path.c_str());
    }
    // Every text a stage hands on for one pass over the control file.
    std::vector<std::string> pull(const std::string& text,
                                  char* (*stage)(ReaderState&, EngineState&),
                                  const std::string& name = "x.rvc") {
        const std::string path = put(name, text);
        if (reader_state.macro.macro_path.empty())
            reader_state.macro.macro_path = macro_path_for(path, dir + "/program");
        std::vector<std::string> texts;
        if (!openin(reader_state, engine, path.c_str())) return texts;
        while (const char* t = stage(reader_state, engine)) texts.emplace_back(t);
        closein(reader_state, engine);
        return texts;
    }
    std::vector<std::string> rules() {
        std::vector<std::string> printed;
        for (const RuleRecord& r : engine.rule_table)
            printed.emplace_back(printrule(engine, r.code, false));
        return printed;
    }
    std::string dump() { return read_file(dir + "/x.rvc_dumpexpr.txt"); }
    std::string reports() { return ::testing::PrintToString(report_texts()); }
};

}  // namespace ruvalda::test
