// Test helpers: a fresh engine per test, rule programs compiled as the loader compiles them,
// and readable access to variables and the message pane.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controller/controller.h"
#include "engine/eval.h"
#include "output/output.h"

namespace ruvalda::test {

// A controller of its own per test, its parts under the names the core's operations give them.
// Made before its parts are named.
struct OwnedController {
    std::unique_ptr<Controller> owned = std::make_unique<Controller>();
};

class ControllerTest : public ::testing::Test, private OwnedController, protected ControllerParts {
  protected:
    ControllerTest() : ControllerParts(*owned) {}
};

// Records every report of its controller's engine.
class EngineTest : public ControllerTest {
  protected:
    ReportRecorder recorder;
    void SetUp() override;

    // Loads a small program the way the loader does: a counting pass that reports conflicts,
    // then a filling pass that keeps each rule whose first evaluation succeeds. Lines
    // "%init NAME", "%time NAME TENTHS" and "%export NAME LETTER" stand for the reader's
    // directives. Returns the number of rules dropped.
    int load(const std::vector<std::string>& lines);

    // The variable with this printed name; fails the test when there is none.
    Variable& var(const std::string& printed);
    bool has_var(const std::string& printed);

    std::vector<std::string> pane() const;
    std::vector<std::string> report_texts() const;
    // Compiles one rule into a fresh record without keeping it.
    std::vector<std::uint8_t> compile(std::string text, int* result = nullptr);
};

// A pane listener that ignores everything; tests override what they watch.
class QuietListener : public PaneListener {
  public:
    void line_added(const std::string&) override {}
    void last_line_changed(const std::string&) override {}
    void first_lines_removed(std::size_t) override {}
    void cleared() override {}
    void status_changed(const std::string&) override {}
};

// A scratch folder for files, emptied per test.
std::string temp_dir();
// A new, empty folder with a short path under /tmp (socket paths are limited to 107 bytes),
// removed again by the returned guard's destructor.
class ShortTempDir {
  public:
    ShortTempDir();
    ~ShortTempDir();
    ShortTempDir(const ShortTempDir&) = delete;
    ShortTempDir& operator=(const ShortTempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
// Makes a folder the current one for the life of the object (the VISSIM coupling writes its
// error file there).
class WorkingDir {
  public:
    explicit WorkingDir(const std::string& path);
    ~WorkingDir();
    WorkingDir(const WorkingDir&) = delete;
    WorkingDir& operator=(const WorkingDir&) = delete;

  private:
    std::string previous_;
};
// Points XDG_RUNTIME_DIR at a short folder for the life of the object, where the VISSIM
// coupling's local sockets go.
class RuntimeDir {
  public:
    RuntimeDir();
    ~RuntimeDir();
    const std::string& path() const { return dir_.path(); }

  private:
    ShortTempDir dir_;
    std::string previous_;
    bool had_previous_ = false;
};
std::string read_file(const std::string& path);

// A detector change of an events file ("TIME<tab>Dnnk<tab>STATE" lines, times in tenths).
struct Event {
    int time, detector, state;
};
// The events of the file up to `until` (tenths).
std::vector<Event> read_events(const std::string& path, int until);
void write_file(const std::string& path, const std::string& text);

}  // namespace ruvalda::test
