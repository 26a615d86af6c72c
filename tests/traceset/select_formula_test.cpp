// The trace-variable dialog as a user drives it from the Debug menu: the variables list, the
// setting box, and trace-set files saved and loaded on disk.
#include <QComboBox>
#include <QKeyEvent>
#include <cstring>
#include <filesystem>

#include "tests/app/gui_fixture.h"

namespace ruvalda::test {
namespace {

const char* const PROGRAM = "ZED = 1\nA1 = ZED\nA = A1\nK05 = A\nX = D011\n";
const char* const NO_RULE = "Time:   0.0 Cannot change flags of variable ";

class SelectFormulaTest : public GuiTest {
  protected:
    QComboBox* variables() { return trace_dialog->findChild<QComboBox*>("ComboBoxVariables"); }
    QComboBox* setting() { return trace_dialog->findChild<QComboBox*>("ComboBoxSetting"); }
    void click(const char* name) { trace_dialog->findChild<QPushButton*>(name)->click(); }
    void start_with(const char* program) {
        start({QString::fromStdString(small_program(program))});
        host.boxes.clear();  // the missing map file
        item("ItemTraceVariable")->trigger();
    }
    // As a click into the drop-down list does it.
    void choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void choose_variable(const QString& name) {
        choose(variables(), variables()->findText(name + "<", Qt::MatchStartsWith));
    }
    QString selected_name() { return variables()->currentText().section('<', 0, 0); }
    std::vector<std::string> no_rule_lines() {
        std::vector<std::string> lines;
        for (const std::string& line : pane())
            if (line.starts_with(NO_RULE)) lines.push_back(line.substr(std::strlen(NO_RULE)));
        return lines;
    }
    QStringList box_texts() {
        QStringList texts;
        for (const MessageBoxRequest& box : host.boxes) {
            EXPECT_TRUE(box.caption == "Error" && box.buttons == QMessageBox::Ok &&
                        box.icon == QMessageBox::NoIcon);
            texts << box.text;
        }
        return texts;
    }
};

TEST_F(SelectFormulaTest, withoutProgram_listIsEmpty_settingAndCloseDisabled) {
    start({"nothing.txt"});
    item("ItemTraceVariable")->trigger();
    EXPECT_EQ(0, variables()->count());
    EXPECT_FALSE(setting()->isEnabled());
    EXPECT_EQ(-1, setting()->currentIndex());
    EXPECT_FALSE(trace_dialog->findChild<QPushButton*>("BitBtnOK")->isEnabled());
}

TEST_F(SelectFormulaTest, layout_fitsItsSize_andIsCentredOnTheMainWindowAtEachShow) {
    start_with(PROGRAM);
    EXPECT_EQ(QSize(358, 127), trace_dialog->size());
    for (QWidget* child : trace_dialog->findChildren<QWidget*>()) {
        if (!child->isVisible()) continue;
        const std::string name = child->objectName().toStdString();
        EXPECT_TRUE(trace_dialog->rect().contains(child->geometry())) << name;
        EXPECT_GE(child->height(), child->minimumSizeHint().height()) << name;
    }
    EXPECT_EQ(main_window->frameGeometry().center(), trace_dialog->frameGeometry().center());
    click("BitBtnOK");
    EXPECT_FALSE(trace_dialog->isVisible());
    main_window->move(main_window->pos() + QPoint(120, 40));
    item("ItemTraceVariable")->trigger();
    EXPECT_EQ(main_window->frameGeometry().center(), trace_dialog->frameGeometry().center());
}

TEST_F(SelectFormulaTest, listIsAlphabetical_andTheSettingBoxReadsAndWritesTheSelected) {
    start_with(PROGRAM);
    QStringList names;
    for (int i = 0; i < variables()->count(); ++i)
        names << variables()->itemText(i).section('<', 0, 0);
    EXPECT_EQ(QStringList({"A", "A1", "D011", "K05", "X", "ZED"}), names);
    EXPECT_EQ("A", selected_name());
    EXPECT_TRUE(setting()->isEnabled());

    choose_variable("A1");
    choose(setting(), 2);
    EXPECT_EQ(7, RVGetVariableTrace(engine, "A1"));
    EXPECT_EQ(variables()->currentText(), trace_dialog->rememberedVariable);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(setting(), &up);
    EXPECT_EQ(3, RVGetVariableTrace(engine, "A1"));

    choose_variable("D011");  // a detector: no rule assigns it
    EXPECT_EQ(0, setting()->currentIndex());
    choose(setting(), 1);
    EXPECT_EQ(std::vector<std::string>{"D011 because there is no formula that might change it"},
              no_rule_lines());
}

TEST_F(SelectFormulaTest, reshowing_reselectsTheLastChanged_whileItsTextIsUnchanged) {
    start_with(PROGRAM);
    choose_variable("X");
    choose(setting(), 1);
    click("BitBtnOK");
    choose_variable("K05");  // looked at only, not changed
    item("ItemTraceVariable")->trigger();
    EXPECT_EQ("X", selected_name());
    EXPECT_EQ(1, setting()->currentIndex());

    click("BitBtnOK");
    SetDetectorState(engine, 11, 1);  // X becomes 1: its item reads differently now
    item("ItemTraceVariable")->trigger();
    EXPECT_EQ("A", selected_name());
}

TEST_F(SelectFormulaTest, save_writesTracedVariablesAlphabetically_withCrLf) {
    start_with(PROGRAM);
    RVSetVariableTrace(engine, "ZED", 2);
    RVSetVariableTrace(engine, "A", 4);
    RVSetVariableTrace(engine, "A1", 6);
    choose_variable("A1");
    choose_variable("A");
    EXPECT_EQ(-1, setting()->currentIndex()) << "4 alone has no item";
    EXPECT_TRUE(setting()->isEnabled());

    const std::string file = dir + "/set.rts";
    write_file(file, "an older and longer set\r\n\r\n\r\n");
    host.files = {QString::fromStdString(file)};
    click("BitBtnSaveTraces");
    ASSERT_EQ(1u, host.file_requests.size());
    const FileDialogRequest& request = host.file_requests[0];
    EXPECT_EQ("SaveDialog", request.object_name);
    EXPECT_EQ("Ruvalda Trace Set|*.rts", request.filter);
    EXPECT_EQ(QString::fromStdString(dir + "/small.rts"), request.file_name);
    EXPECT_EQ(QString::fromStdString(dir), request.directory);
    EXPECT_TRUE(request.save && request.confirm_overwrite);
    EXPECT_EQ("A|4\r\nA1|6\r\nZED|2\r\n", read_file(file));
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(std::string::npos, entry.path().string().find(".~")) << entry.path();

    click("BitBtnSaveTraces");  // cancelled
    host.files = {QString::fromStdString(dir + "/missing/set.rts")};
    click("BitBtnSaveTraces");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(dir + "/missing"));
}

TEST_F(SelectFormulaTest, load_appliesLineByLine_andBoxesBadValuesWithTheirLineNumber) {
    start_with(PROGRAM);
    RVSetVariableTrace(engine, "ZED", 6);
    RVSetVariableTrace(engine, "A1", 6);
    const std::string file = dir + "/set.rts";
    const std::string long_zero = "A1|" + std::string(999, '0') + "x";  // cut before the x
    write_file(file, "A|7\r\nZED|1\r\nA1|x\r\nK05|+2\n\rX|2147483648\r|-2\r\n" + long_zero);
    host.files = {QString::fromStdString(file)};
    click("BitBtnLoad");
    ASSERT_EQ(1u, host.file_requests.size());
    EXPECT_EQ("OpenDialog", host.file_requests[0].object_name);
    EXPECT_TRUE(host.file_requests[0].must_exist);
    EXPECT_EQ(QString::fromStdString(dir + "/small.rts"), host.file_requests[0].file_name);

    const QString quoted = "Bad setting \"" + QString::fromStdString(file) + "\"";
    EXPECT_EQ(QStringList({quoted + "(3) (\"A1|x\"", quoted + "(5) (\"\"",
                           quoted + "(6) (\"X|2147483648\""}),
              box_texts());
    EXPECT_EQ(7, RVGetVariableTrace(engine, "A"));
    EXPECT_EQ(1, RVGetVariableTrace(engine, "ZED"));
    EXPECT_EQ(3, RVGetVariableTrace(engine, "K05"));
    EXPECT_EQ(1, RVGetVariableTrace(engine, "A1"));
    EXPECT_EQ(1u, no_rule_lines().size()) << "line 7 has an empty name";

    EXPECT_EQ(0, setting()->currentIndex()) << "shown as before the load";
    choose_variable("A");
    EXPECT_EQ(2, setting()->currentIndex());
}

TEST_F(SelectFormulaTest, savedSet_loadsIntoAnotherProgram_unknownNamesGoToThePane) {
    start_with(PROGRAM);
    RVSetVariableTrace(engine, "A", 6);
    RVSetVariableTrace(engine, "A1", 2);
    RVSetVariableTrace(engine, "K05", 2);
    const QString set = QString::fromStdString(dir + "/set.rts");
    host.files = {set};
    click("BitBtnSaveTraces");

    const std::string other = dir + "/other.rvc";
    write_file(other, "A = 1\nB = A\n");
    host.files = {QString::fromStdString(other), set};
    item("ItemOpen")->trigger();
    item("ItemTraceVariable")->trigger();
    click("BitBtnLoad");
    EXPECT_EQ(QString::fromStdString(dir + "/other.rts"), host.file_requests.back().file_name);
    EXPECT_EQ(7, RVGetVariableTrace(engine, "A"));
    EXPECT_EQ((std::vector<std::string>{"A1 because there is no formula that might change it",
                                        "K05 because there is no formula that might change it"}),
              no_rule_lines());
}

TEST_F(SelectFormulaTest, unreadableSetFile_showsCannotOpen_andChangesNothing) {
    start_with(PROGRAM);
    const QString missing = QString::fromStdString(dir + "/none.rts");
    const QString folder = QString::fromStdString(dir);
    host.files = {missing, folder};
    click("BitBtnLoad");
    click("BitBtnLoad");
    EXPECT_EQ(QStringList(
                  {"Cannot open file \"" + missing + "\"", "Cannot open file \"" + folder + "\""}),
              box_texts());
    EXPECT_TRUE(no_rule_lines().empty());
}

}  // namespace
}  // namespace ruvalda::test
