// The main window as a user drives it: start forms, opening files, the run controls on the own
// clock, the menus and the message pane.
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <filesystem>

#include "gui/form_timeline.h"
#include "tests/app/gui_fixture.h"

namespace ruvalda::test {
namespace {

using MainWindowTest = GuiTest;

// ---- start forms and opening ----------------------------------------------------------------

TEST_F(MainWindowTest, noArgument_opensTheDialog_cancelLeavesBaseCaptionAndNoRunButtons) {
    start({});
    // Without a program the Debug items have nothing to work on.
    QMenu* debug = main_window->findChild<QMenu*>("ItemDebug");
    emit debug->aboutToShow();
    EXPECT_FALSE(item("ItemDumpAllVariables")->isEnabled());
    EXPECT_FALSE(item("ItemTraceVariable")->isEnabled());
    EXPECT_EQ(QKeySequence(QKeySequence::Open), item("ItemOpen")->shortcut());
    EXPECT_EQ(QKeySequence(QKeySequence::Quit), item("ItemExit")->shortcut());
    ASSERT_EQ(1u, host.file_requests.size());
    EXPECT_EQ("OpenDialogRuvaldaFile", host.file_requests[0].object_name);
    EXPECT_EQ("Ruvalda files (*.rvc)|*.rvc|All files (*.*)|*.*", host.file_requests[0].filter);
    EXPECT_EQ("0000", buttons());
    EXPECT_EQ(main_window->baseCaption, main_window->windowTitle());
    EXPECT_TRUE(main_window->baseCaption.startsWith("Ruvalda  "));
    EXPECT_TRUE(main_window->baseCaption.endsWith(" "));
}

TEST_F(MainWindowTest, controlFileArgument_loadsOnTheOwnClock_andShowsTheMap) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    emit main_window->findChild<QMenu*>("ItemDebug")->aboutToShow();
    EXPECT_TRUE(item("ItemDumpAllVariables")->isEnabled());
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text.toStdString();
    EXPECT_EQ("1100", buttons());
    EXPECT_TRUE(map_window->isVisible());
    EXPECT_TRUE(map_window->edit_mode());
    EXPECT_EQ("crossing", map_window->windowTitle());
    EXPECT_EQ(main_window->baseCaption + "    ../crossing/crossing.rvc",
              main_window->windowTitle());
}

TEST_F(MainWindowTest, extensionIsComparedWithoutCase_otherArgumentsOpenNothing) {
    std::filesystem::copy_file(example("tjunction/tjunction.rvc"), dir + "/X.RVC");
    start({QString::fromStdString(dir + "/X.RVC"), "a", "b", "c", "d"});
    EXPECT_EQ("1100", buttons()) << "five arguments led by a control file run on the own clock";
    close_all();
    host.boxes.clear();

    start({QString::fromStdString(dir + "/X.txt")});
    EXPECT_EQ("0000", buttons());
    EXPECT_TRUE(host.file_requests.empty());
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(MainWindowTest, recentFiles_listTheLastOpenedFirst_andOpenAgain) {
    for (const char* name : {"crossing.rvc", "tjunction.rvc"})
        std::filesystem::copy_file(
            example(name[0] == 'c' ? "crossing/crossing.rvc" : "tjunction/tjunction.rvc"),
            dir + "/" + name);
    start({QString::fromStdString(dir + "/crossing.rvc")});
    host.files.push_back(QString::fromStdString(dir + "/tjunction.rvc"));
    main_window->ItemOpenClick();
    QMenu* recent = menu("ItemRecent");
    emit recent->aboutToShow();
    ASSERT_NE(nullptr, item("ItemRecent2"));
    EXPECT_EQ(QString::fromStdString("&1 " + dir + "/tjunction.rvc"), item("ItemRecent1")->text());
    EXPECT_EQ(QString::fromStdString("&2 " + dir + "/crossing.rvc"), item("ItemRecent2")->text());
    item("ItemRecent2")->trigger();
    EXPECT_TRUE(main_window->windowTitle().endsWith("crossing.rvc"));
    emit recent->aboutToShow();
    EXPECT_TRUE(item("ItemRecent1")->text().endsWith("/crossing.rvc"));
}

TEST_F(MainWindowTest, failingLoad_disablesRunAndHidesTheMap) {
    const std::string path = small_program("X = (\n");
    start({QString::fromStdString(path)});
    EXPECT_FALSE(host.boxes.empty());
    EXPECT_EQ("0000", buttons());
    EXPECT_FALSE(map_window->isVisible());
    EXPECT_EQ(main_window->baseCaption, main_window->windowTitle());
    main_window->ItemWindowClick();
    EXPECT_EQ("&Show map", item("ItemShowHideMap")->text());
}

TEST_F(MainWindowTest, loadedProgramWithAMistake_showsTheWarningInThePane) {
    const std::string path = small_program("%init R01\nR01 = X01N\n");
    start({QString::fromStdString(path)});
    EXPECT_EQ("1100", buttons()) << "a warning does not stop the program";
    const std::string warning = path + "(2): warning: X01 is read but nothing gives it a value";
    bool shown = false;
    for (const std::string& line : pane()) shown = shown || line.find(warning) != std::string::npos;
    EXPECT_TRUE(shown) << ::testing::PrintToString(pane());
}

TEST_F(MainWindowTest, missingGraphicsFile_isReportedWithItsName) {
    start({QString::fromStdString(example("tjunction/tjunction.rvc"))});
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ("Error", host.boxes[0].caption);
    EXPECT_TRUE(host.boxes[0].text.startsWith(
        "Error in Load graphics: Cannot open ruvalda graphics file \""))
        << host.boxes[0].text.toStdString();
    EXPECT_TRUE(host.boxes[0].text.contains("tjunction.rvg\" for reading: "));
    EXPECT_EQ("1100", buttons()) << "the program itself loaded";
    // The answered box leaves its text in the pane.
    bool kept = false;
    for (const std::string& line : pane())
        kept = kept || line.find("Error in Load graphics: Cannot open ruvalda graphics file") !=
                           std::string::npos;
    EXPECT_TRUE(kept) << ::testing::PrintToString(pane());
}

TEST(ShortenedPathTest, deepDirectoriesAreShortened) {
    EXPECT_EQ("    ", ShortenedPath(""));
    EXPECT_EQ("  D: ..\\crossing\\x.rvc", ShortenedPath("D:\\work\\projects\\crossing\\x.rvc"));
    // The separator before the last is at position 9: shown whole; at 10: shortened.
    EXPECT_EQ("  /abcdefg/h/x.rvc", ShortenedPath("/abcdefg/h/x.rvc"));
    EXPECT_EQ("   ../h/x.rvc", ShortenedPath("/abcdefgh/h/x.rvc"));
    EXPECT_EQ("  x.rvc", ShortenedPath("x.rvc"));
}

// ---- window position -------------------------------------------------------------------------

TEST_F(MainWindowTest, storedPosition_isRestoredWithTheClamps) {
    {
        QSettings settings("Varndal",
                           QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        settings.setValue("MainLeft", 100000);
        settings.setValue("MainTop", 40);
        settings.setValue("MainWidth", 600);
        settings.setValue("MainHeight", 425);
    }
    start({"nothing.txt"});
    EXPECT_EQ(10, main_window->x());
    EXPECT_EQ(40, main_window->y());
    EXPECT_EQ(600, main_window->width());
    EXPECT_EQ(500, main_window->height());
}

TEST_F(MainWindowTest, missingValue_endsReading_andTheWindowWritesItsPlaceOnClosing) {
    {
        QSettings settings("Varndal",
                           QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        settings.clear();
        settings.setValue("MainLeft", 100000);
    }
    start({"nothing.txt"});
    EXPECT_EQ(100000, main_window->x()) << "no clamps when reading stopped early";
    main_window->move(77, 66);
    close_all();
    QSettings settings("Varndal", QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    EXPECT_EQ(77, settings.value("MainLeft").toInt());
    EXPECT_EQ(66, settings.value("MainTop").toInt());
}

// ---- run controls on the own clock ------------------------------------------------------------

class OwnClockTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        start({QString::fromStdString(example("crossing/crossing.rvc"))});
        ASSERT_EQ("1100", buttons());
    }
    void select_speed(int item) {
        main_window->findChild<QRadioButton*>(QString("RadioGroupSpeedItem%1").arg(item))->click();
    }
};

TEST_F(OwnClockTest, stateTable_runPauseRunResetStep) {
    button("BitBtnRun")->click();
    EXPECT_EQ("0010", buttons());
    EXPECT_EQ(0, main_window->clock.targetTime);
    EXPECT_FALSE(map_window->edit_mode());
    EXPECT_EQ("Simulation started", pane().back().substr(pane().back().find('S')));

    tick(500);  // the first tick counts as a tenth
    EXPECT_EQ(1, main_window->clock.targetTime);
    EXPECT_EQ(1, RVGetTime(engine));
    for (int millis = 510; millis <= 990; millis += 10) tick(millis);
    tick(0);
    tick(10);
    EXPECT_EQ(6, main_window->clock.targetTime) << "0.5 s of wall time more";
    EXPECT_EQ(6, RVGetTime(engine));

    button("BitBtnPause")->click();
    EXPECT_EQ("1101", buttons());
    EXPECT_EQ(-6, main_window->clock.targetTime);
    EXPECT_TRUE(map_window->edit_mode());
    tick(500);
    EXPECT_EQ(-6, main_window->clock.targetTime) << "paused: the clock stands";

    button("BitBtnRun")->click();
    EXPECT_EQ("Simulation resumed", pane().back().substr(pane().back().find('S')));
    tick(800);
    EXPECT_EQ(7, main_window->clock.targetTime);

    button("BitBtnPause")->click();
    button("BitBtnReset")->click();
    EXPECT_EQ("1100", buttons());
    EXPECT_EQ(0, main_window->clock.targetTime);
    EXPECT_EQ(7, RVGetTime(engine)) << "reset leaves the engine to the next Run or Step";

    button("BitBtnStep")->click();
    EXPECT_EQ(1, RVGetTime(engine));
    EXPECT_EQ("1101", buttons());
    button("BitBtnStep")->click();
    EXPECT_EQ(2, RVGetTime(engine));
    EXPECT_EQ(-2, main_window->clock.targetTime);
}

TEST_F(OwnClockTest, keys_runPauseStepAndReset_asTheButtonsWould) {
    QWidget* window = activate(main_window.get());
    QTest::keyClick(window, Qt::Key_F5);
    EXPECT_EQ("0010", buttons()) << "F5 runs";
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_EQ("1101", buttons()) << "Space pauses";
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_EQ("0010", buttons()) << "and runs again";
    QTest::keyClick(window, Qt::Key_Space);
    QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ("1100", buttons()) << "Ctrl+R resets";
    QTest::keyClick(window, Qt::Key_F10);
    EXPECT_EQ(1, RVGetTime(engine)) << "F10 steps";
    EXPECT_EQ("1101", buttons());
    QTest::keyClick(window, Qt::Key_F5);
    QTest::keyClick(window, Qt::Key_F5);  // running: F5 again does nothing
    EXPECT_EQ("0010", buttons());
    EXPECT_FALSE(button("BitBtnRun")->toolTip().isEmpty());
    EXPECT_TRUE(button("BitBtnStep")->toolTip().contains("F10"));

    // The same keys from the map window, where the detector boxes are clicked.
    QWidget* map = activate(map_window.get());
    QTest::keyClick(map, Qt::Key_Space);
    EXPECT_EQ("1101", buttons()) << "Space in the map window pauses";
    QTest::keyClick(map, Qt::Key_F10);
    EXPECT_EQ("1101", buttons());
    QTest::keyClick(map, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ("1100", buttons()) << "Ctrl+R there resets";
    QTest::keyClick(map, Qt::Key_F5);
    EXPECT_EQ("0010", buttons()) << "F5 there runs";
    EXPECT_EQ(Qt::NoFocus, map_window->findChild<QWidget*>("CheckBox11")->focusPolicy())
        << "a clicked box leaves Space to the run";
}

TEST_F(OwnClockTest, longPaneLine_keepsTheTimeColumnInView) {
    traceprintf(engine.output, "%s\n", std::string(600, 'x').c_str());
    QCoreApplication::processEvents();
    auto* memo = main_window->findChild<QPlainTextEdit*>("MemoOutput");
    EXPECT_GT(memo->horizontalScrollBar()->maximum(), 0) << "the line is wider than the pane";
    EXPECT_EQ(0, memo->horizontalScrollBar()->value());
}

TEST_F(OwnClockTest, signalTimelineWindow_followsTheEngine_andSavesWhatItShows) {
    item("ItemShowTimeline")->trigger();
    TFormTimeline* timeline = main_window->timeline();
    ASSERT_TRUE(timeline->isVisible());
    button("BitBtnStep")->click();
    SetDetectorState(engine, 11, 1);  // a vehicle on D011, as a click on its box gives
    for (int i = 0; i < 150; ++i) button("BitBtnStep")->click();
    const auto& colours = timeline->recorder().colours;
    ASSERT_FALSE(colours.empty());
    EXPECT_NE(colours.end(),
              std::find_if(colours.begin(), colours.end(),
                           [](const auto& c) { return c.stream == 1 && c.colour == 'G'; }))
        << "01 turned green";
    ASSERT_EQ(1u, timeline->recorder().detectors.size());
    EXPECT_EQ(11, timeline->recorder().detectors[0].detector);

    timeline->refresh();
    const QImage picture = timeline->findChild<QWidget*>("TimelineView")->grab().toImage();
    bool green = false;
    for (int y = 0; y < picture.height() && !green; ++y)
        for (int x = 0; x < picture.width() && !green; ++x)
            green = picture.pixelColor(x, y) == QColor("#2ca02c");
    EXPECT_TRUE(green) << "the picture shows the green";
    save(timeline, "desktop-signal-timeline.png");

    // The last 2 minutes at 15.1 s start at 0; the saved file is the picture as shown.
    EXPECT_EQ(0, timeline->shown_from());
    EXPECT_EQ(151, timeline->shown_to());
    host.files.push_back(QString::fromStdString(dir + "/timeline.svg"));
    timeline->ItemSaveSvgClick();
    EXPECT_EQ(timeline->recorder().svg(0, 151), read_file(dir + "/timeline.svg"));

    // A run from time 0 starts the picture afresh.
    button("BitBtnReset")->click();
    button("BitBtnStep")->click();
    EXPECT_TRUE(timeline->recorder().detectors.empty());
}

TEST_F(OwnClockTest, stepFromReady_startsAndReachesOneTenth) {
    button("BitBtnStep")->click();
    EXPECT_EQ(1, RVGetTime(engine));
    EXPECT_EQ("Time:   0.1 ",
              main_window->findChild<QLabel*>("StatusBarPanel0")->text().toStdString())
        << "the status bar shows where the step stopped";
    EXPECT_EQ(-1, main_window->clock.targetTime);
    EXPECT_EQ("1101", buttons());
    // "Simulation started" has no line end: the step's time line takes its place.
    EXPECT_EQ("Time:   0.1 ", pane().back());
    button("BitBtnStep")->click();
    EXPECT_EQ(2, RVGetTime(engine));
}

TEST_F(OwnClockTest, stepAfterPause_advancesOneTenthFromWhereTheRunStands) {
    select_speed(5);  // ten times
    button("BitBtnRun")->click();
    tick(300);
    tick(500);
    const std::int32_t reached = RVGetTime(engine);
    now_millis = 800;
    main_window->TimerRTCTimer();  // the clock moved on; the engine's tick has not come yet
    ASSERT_GT(main_window->clock.targetTime, reached);
    button("BitBtnPause")->click();
    button("BitBtnStep")->click();
    EXPECT_EQ(reached + 1, RVGetTime(engine));
}

TEST_F(OwnClockTest, pauseBeforeTheFirstTick_restartsTheRunNextTime) {
    button("BitBtnRun")->click();
    button("BitBtnPause")->click();
    EXPECT_EQ(0, main_window->clock.targetTime);
    const std::size_t lines = pane().size();
    button("BitBtnRun")->click();
    EXPECT_NE(std::string::npos, pane().back().find("Simulation started"));
    EXPECT_LT(lines, pane().size());
}

TEST_F(OwnClockTest, speedFactor_isReadFromTheSelectedCaption) {
    const int factors[] = {1, 2, 3, 4, 5, 10};
    for (int item = 0; item < 6; ++item) {
        select_speed(item);
        button("BitBtnRun")->click();
        tick(300);
        EXPECT_EQ(factors[item], main_window->clock.targetTime) << item;
        tick(340);  // 40 ms more
        const int tenths = 40 * factors[item] / 100;
        EXPECT_EQ(factors[item] + tenths, main_window->clock.targetTime) << item;
        button("BitBtnPause")->click();
        button("BitBtnReset")->click();
    }
}

TEST_F(OwnClockTest, wallTimeThatMakesNoWholeTenth_carriesOver_acrossTheSecond) {
    select_speed(2);  // three times
    button("BitBtnRun")->click();
    tick(950);
    EXPECT_EQ(3, main_window->clock.targetTime);
    tick(980);  // 30 ms x 3 = 90: no whole tenth yet
    EXPECT_EQ(3, main_window->clock.targetTime);
    tick(0);  // 50 ms x 3 = 150: one tenth, 50 left over
    EXPECT_EQ(4, main_window->clock.targetTime);
    tick(20);  // 40 ms since the carry point, x 3 = 120
    EXPECT_EQ(5, main_window->clock.targetTime);
    EXPECT_EQ(5, RVGetTime(engine));
    auto* time_panel = main_window->findChild<QLabel*>("StatusBarPanel0");
    auto* rate_panel = main_window->findChild<QLabel*>("StatusBarPanel1");
    EXPECT_EQ(std::string("Time:   0.4 "), time_panel->text().toStdString())
        << "the time before the tick's advance";
    EXPECT_EQ("Rate: 1", rate_panel->text().toStdString());
}

TEST_F(OwnClockTest, laggingRun_showsItsRateInOneField) {
    select_speed(5);  // ten times
    button("BitBtnRun")->click();
    tick(300);
    tick(2300);  // two seconds at once: 200 tenths behind
    tick(2310);
    auto* rate_panel = main_window->findChild<QLabel*>("StatusBarPanel1");
    auto* message_panel = main_window->findChild<QLabel*>("StatusBarPanel2");
    EXPECT_NE("Rate: 1", rate_panel->text().toStdString()) << "the rate climbs while behind";
    EXPECT_FALSE(message_panel->text().contains("Rate")) << message_panel->text().toStdString();
}

TEST_F(OwnClockTest, fileMenu_mirrorsTheButtons) {
    button("BitBtnRun")->click();
    emit menu("ItemFile")->aboutToShow();
    EXPECT_FALSE(item("ItemRun")->isEnabled());
    EXPECT_TRUE(item("ItemPause")->isEnabled());
    EXPECT_FALSE(item("ItemReset")->isEnabled());
    item("ItemPause")->trigger();
    EXPECT_EQ("1101", buttons());
    emit menu("ItemFile")->aboutToShow();
    EXPECT_TRUE(item("ItemRun")->isEnabled());
    EXPECT_FALSE(item("ItemPause")->isEnabled());
    EXPECT_TRUE(item("ItemReset")->isEnabled());
    item("ItemReset")->trigger();
    EXPECT_EQ("1100", buttons());
    item("ItemRun")->trigger();
    EXPECT_EQ("0010", buttons());
}

TEST_F(OwnClockTest, hidingTheRunningWindow_pausesIt) {
    button("BitBtnRun")->click();
    tick(100);
    main_window->hide();
    EXPECT_EQ("1101", buttons());
    EXPECT_EQ(-1, main_window->clock.targetTime);
    main_window->show();
    main_window->hide();
    EXPECT_EQ(-1, main_window->clock.targetTime) << "hiding a paused window changes nothing";
}

TEST_F(OwnClockTest, reportAnsweredYes_goesOn_No_endsFromTheEventLoop) {
    host.answers = {QMessageBox::Yes, QMessageBox::No};
    report_error(engine.output, CONFIGURATION_ERROR, "here", "first");
    QApplication::processEvents();
    EXPECT_EQ(0, end_requests);
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ("Configuration Error", host.boxes[0].caption);
    EXPECT_EQ("Configuration Error in here: first\r\n\r\nContinue ?", host.boxes[0].text);
    EXPECT_EQ(QMessageBox::Yes | QMessageBox::No, host.boxes[0].buttons);
    EXPECT_EQ(QMessageBox::Question, host.boxes[0].icon);

    report_error(engine.output, ERROR, "here", "second");
    EXPECT_EQ(0, end_requests) << "the reporting operation finishes first";
    QApplication::processEvents();
    EXPECT_EQ(1, end_requests);

    report_error(engine.output, PROGRAM_ERROR, "there", "broken");
    ASSERT_EQ(3u, host.boxes.size());
    EXPECT_EQ("Program Error", host.boxes[2].caption);
    EXPECT_EQ("Program Error in there: broken", host.boxes[2].text);
    EXPECT_EQ(QMessageBox::Ok, host.boxes[2].buttons);
    EXPECT_EQ(QMessageBox::Warning, host.boxes[2].icon);
    QApplication::processEvents();
    EXPECT_EQ(2, end_requests) << "a program error always ends";
}

TEST_F(OwnClockTest, closingTheWindow_closesTheEngineTrace_andEndsTheApplication) {
    engine.trace_file_name = dir + "/closing.trace";
    RVSyncTraceFile(engine);  // opens it before the reset, as the Debug menu does
    button("BitBtnRun")->click();
    tick(100);
    ASSERT_NE(nullptr, engine.trace_file);
    EXPECT_TRUE(main_window->close());
    EXPECT_EQ(nullptr, engine.trace_file);
    EXPECT_EQ(1, end_requests);
    EXPECT_FALSE(read_file(dir + "/closing.trace").empty());
}

// ---- menus and the message pane ---------------------------------------------------------------

TEST_F(MainWindowTest, traceStreamSubmenu_listsTheStreams_andTracesThem) {
    const std::string path = small_program("G01 = D011\nG02 = 1\nG03 = G02\nG12 = 1\nX = 1\n");
    start({QString::fromStdString(path)});
    ASSERT_EQ("1100", buttons());
    QStringList captions;
    for (QAction* stream : menu("ItemTraceStream")->actions()) captions << stream->text();
    EXPECT_EQ(QStringList({"01", "02", "03", "12"}), captions);

    QAction* second = menu("ItemTraceStream")->actions()[1];
    second->trigger();
    EXPECT_TRUE(second->isChecked());
    EXPECT_TRUE(RVGetStreamFlags(engine, 2) & SF_TRACE);
    main_window->ItemTraceAllNumberedVariablesClick();
    for (int stream : {1, 2, 3, 12})
        EXPECT_TRUE(RVGetStreamFlags(engine, stream) & SF_TRACE) << stream;
    main_window->ItemTraceAllNumberedVariablesClick();
    EXPECT_TRUE(second->isChecked()) << "it never unchecks";
    second->trigger();
    EXPECT_FALSE(RVGetStreamFlags(engine, 2) & SF_TRACE);

    item("ItemTraceUnnumberedVariables")->trigger();
    EXPECT_TRUE(engine.stream_flags[0] & SF_TRACE);
    button("BitBtnStep")->click();
    bool traced = false;
    for (const std::string& line : pane())
        traced |= line.find("X       <-   1") != std::string::npos;
    EXPECT_TRUE(traced) << ::testing::PrintToString(pane());
}

TEST_F(MainWindowTest, dumps_eraseAndSaveTrace_workOnThePane) {
    const std::string path = small_program("A = 1\nB = A\n");
    start({QString::fromStdString(path)});
    item("ItemDumpAllVariables")->trigger();
    const auto dumped = pane();
    ASSERT_GE(dumped.size(), 2u);
    EXPECT_NE(std::string::npos, dumped[dumped.size() - 2].find("A"));

    const std::string saved = dir + "/pane.txt";
    host.files = {QString::fromStdString(saved)};
    item("ItemSaveTrace")->trigger();
    ASSERT_EQ(1u, host.file_requests.size());
    EXPECT_EQ("SaveDialogTrace", host.file_requests[0].object_name);
    EXPECT_EQ("Save execution trace to file", host.file_requests[0].title);
    EXPECT_EQ(QString::fromStdString(dir + "/small.txt"), host.file_requests[0].file_name);
    std::string expected;
    for (const std::string& line : pane()) expected += line + "\r\n";
    EXPECT_EQ(expected, read_file(saved));

    auto* memo = main_window->findChild<QPlainTextEdit*>("MemoOutput");
    EXPECT_EQ(QString::fromStdString(pane().back()), memo->document()->lastBlock().text());
    memo->selectAll();
    item("ItemCopyMessages")->trigger();
    EXPECT_EQ(memo->toPlainText(), QApplication::clipboard()->text());
    item("ItemEraseMessages")->trigger();
    EXPECT_TRUE(pane().empty());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, windowMenu_showsAndHidesTheMap) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    emit menu("ItemWindow")->aboutToShow();
    EXPECT_EQ("&Hide map", item("ItemShowHideMap")->text());
    item("ItemShowHideMap")->trigger();
    EXPECT_FALSE(map_window->isVisible());
    emit menu("ItemWindow")->aboutToShow();
    EXPECT_EQ("&Show map", item("ItemShowHideMap")->text());
}

TEST_F(MainWindowTest, vissimTraceItem_asksOpensClosesAsksAgain) {
    start({"nothing.txt"});
    const std::string file = dir + "/vissim.txt";
    host.files = {QString::fromStdString(file)};
    item("ItemTraceVissimCommunications")->trigger();
    EXPECT_NE(nullptr, lsa_state.vissimTraceFile);
    EXPECT_TRUE(std::filesystem::exists(file));
    item("ItemTraceVissimCommunications")->trigger();
    EXPECT_EQ(nullptr, lsa_state.vissimTraceFile);
    item("ItemTraceVissimCommunications")->trigger();
    EXPECT_EQ(3u - 1u, host.file_requests.size());
    EXPECT_EQ("Text files (*.txt)|*.txt", host.file_requests[1].filter);
}

TEST_F(MainWindowTest, recordedEngineTrace_replaysWithTheCli) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    const std::string trace = dir + "/session.trace";
    host.files = {QString::fromStdString(trace)};
    item("ItemRecordEngineTrace")->trigger();
    EXPECT_TRUE(item("ItemRecordEngineTrace")->isChecked());
    button("BitBtnRun")->click();
    tick(0);
    for (int millis = 10; millis < 1000; millis += 10) tick(millis);
    SetDetectorState(engine, 11, 1);
    for (int millis = 0; millis < 1000; millis += 10) tick(millis);
    SetDetectorState(engine, 11, 0);
    for (int millis = 0; millis < 1000; millis += 10) tick(millis);
    item("ItemRecordEngineTrace")->trigger();
    EXPECT_FALSE(item("ItemRecordEngineTrace")->isChecked());
    EXPECT_TRUE(engine.trace_file_name.empty());
    const std::string command = std::string(RUVALDA_CLI) + " replay " +
                                example("crossing/crossing.rvc") + " " + trace + " >/dev/null";
    EXPECT_EQ(0, std::system(command.c_str())) << read_file(trace);
}

TEST_F(MainWindowTest, about_listsTheBuild) {
    start({"nothing.txt"});
    item("ItemAbout")->trigger();
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ(QMessageBox::Information, host.boxes[0].icon);
    EXPECT_EQ(QMessageBox::Ok, host.boxes[0].buttons);
    EXPECT_TRUE(host.boxes[0].text.startsWith("This version of Ruvalda was built from:\r\n"));
}

}  // namespace
}  // namespace ruvalda::test
