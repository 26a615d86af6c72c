// The map window as a user works with it: the crossing's picture, colours and detector boxes
// while running, the sequence panels, and drawing on the picture with the mouse.
#include <QContextMenuEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTest>
#include <filesystem>

#include "gui/map_widgets.h"
#include "map/map_editor.h"
#include "sequence/sequence_display.h"
#include "sequence/sequence_model.h"
#include "tests/app/gui_fixture.h"

namespace ruvalda::test {
namespace {

class MapWindowTest : public GuiTest {
  protected:
    // The crossing example copied into the scratch folder, so saving does not touch it.
    std::string crossing_copy() {
        for (const char* name : {"crossing.rvc", "crossing.DTL", "crossing.rvg", "crossing.jpg"})
            std::filesystem::copy_file(example("crossing/") + name, dir + "/" + name);
        return dir + "/crossing.rvc";
    }
    void send(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
              Qt::MouseButtons held, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, keys);
        QApplication::sendEvent(widget, &event);
    }
    void press(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
        send(w, QEvent::MouseButtonPress, at, b, b);
    }
    void move(QWidget* w, QPoint at, Qt::MouseButtons held = Qt::NoButton) {
        send(w, QEvent::MouseMove, at, Qt::NoButton, held);
    }
    void release(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
        send(w, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
    }
    void click(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
        press(w, at, b);
        release(w, at, b);
    }
    QWidget* image() { return map_window->image(); }
    QColor pixel(int x, int y) { return map_window->image()->bitmap.pixelColor(x, y); }
    DetectorBox* box(int detector) {
        return map_window->findChild<DetectorBox*>(QString("CheckBox%1").arg(detector));
    }
    QAction* item_of_map(const char* name) { return map_window->findChild<QAction*>(name); }
    QString status() { return map_window->statusBar()->currentMessage(); }
    QAction* stream_entry(const char* menu_name, const char* stream) {
        for (QAction* entry : map_window->findChild<QMenu*>(menu_name)->actions())
            if (entry->text() == stream) return entry;
        ADD_FAILURE() << menu_name << " has no " << stream;
        return nullptr;
    }
};

TEST_F(MapWindowTest, openingTheCrossing_showsPicturePolygonsBoxesAndSequence) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text.toStdString();
    ASSERT_TRUE(map_window->isVisible());
    EXPECT_EQ(QSize(800, 800), image()->size());
    EXPECT_EQ(QColor(255, 0, 0), pixel(330, 200)) << "stream 01 is red before the run";
    ASSERT_NE(nullptr, box(11));
    EXPECT_EQ(QPoint(325, 228), box(11)->pos());
    EXPECT_FALSE(map_window->findChild<QLabel*>("CheckBoxCaption11")->isVisible())
        << "the picture tells the boxes apart";
    EXPECT_TRUE(map_window->findChild<QWidget*>("PanelSeqPict")->isVisible());
    EXPECT_EQ(4, sequence_model.ConflictGroupSize);
    ASSERT_NE(nullptr, map_window->findChild<QLabel*>("SequencePicture3"));
    EXPECT_EQ("Block A: streams 01 07 33 34 37 38",
              map_window->findChild<QLabel*>("SequencePicture0")->toolTip().toStdString());
    EXPECT_EQ("D011: detector 1 of stream 01", box(11)->toolTip().toStdString());
}

TEST_F(MapWindowTest, secondJunction_asksForTheFirstsWork_andNeverShowsOrSavesItsDrawing) {
    start({QString::fromStdString(crossing_copy())});
    for (const char* name : {"tjunction.rvc", "tjunction.DTL"})
        std::filesystem::copy_file(example("tjunction/") + name, dir + "/" + name);
    map_model.unsaved = true;  // an edit of the crossing's map
    host.boxes.clear();
    host.files.push_back(QString::fromStdString(dir + "/tjunction.rvc"));
    host.answers = {QMessageBox::No, QMessageBox::Yes};  // not saved; go on without a .rvg
    main_window->ItemOpenClick();

    ASSERT_GE(host.boxes.size(), 2u);
    EXPECT_EQ("Unsaved work", host.boxes[0].caption) << "asked before the crossing is left";
    EXPECT_TRUE(host.boxes[1].text.contains("tjunction.rvg"));
    EXPECT_EQ(QSize(621, 593), image()->size()) << "the empty map, not the crossing's picture";
    EXPECT_EQ(QColor(Qt::white), pixel(330, 200));
    EXPECT_FALSE(map_window->findChild<QWidget*>("PanelSeqPict")->isVisible());
    EXPECT_TRUE(map_window->findChildren<LightDisc*>().isEmpty());
    for (const auto& polygons : map_model.polygons) EXPECT_TRUE(polygons.empty());
    ASSERT_NE(nullptr, box(11)) << "the T-junction's boxes, laid out";
    EXPECT_EQ(nullptr, box(311)) << "none of the crossing's";
    save(map_window.get(), "desktop-second-junction.png");

    ASSERT_TRUE(map_window->SaveGraphics());
    const std::string saved = read_file(dir + "/tjunction.rvg");
    EXPECT_EQ(std::string::npos, saved.find("crossing")) << saved;
    EXPECT_EQ(read_file(example("crossing/crossing.rvg")), read_file(dir + "/crossing.rvg"));
}

TEST_F(MapWindowTest, colours_fillTheStreamsPolygonsAndDisc) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    map_window->UpdateColor(5, 'G');
    EXPECT_EQ(QColor(0, 255, 0), pixel(600, 380));
    for (LightDisc* disc : map_window->findChildren<LightDisc*>()) {
        if (disc->tag() == 5) {
            EXPECT_EQ(QColor(0, 255, 0), disc->colour());
        }
    }
    map_window->UpdateColor(5, 'Y');
    EXPECT_EQ(QColor(255, 255, 0), pixel(600, 380));

    map_window->UpdateColor(100, 'G');
    ASSERT_FALSE(host.boxes.empty());
    EXPECT_EQ("Program Error in TFormMap::UpdateColor: Bad StreamID: 100", host.boxes.back().text);
    map_window->UpdateColor(5, 'g');
    EXPECT_EQ("Program Error in TFormMap::UpdateColor: Bad NewColor: g", host.boxes.back().text);
}

TEST_F(MapWindowTest, detectorBox_setsTheDetectorWhileRunning_onlyShowsItWhilePaused) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    button("BitBtnRun")->click();
    tick(0);
    EXPECT_FALSE(map_window->edit_mode());
    box(11)->click();
    EXPECT_EQ(1, RVExportDetector(engine, 11));
    box(11)->click();
    EXPECT_EQ(0, RVExportDetector(engine, 11));

    button("BitBtnPause")->click();
    box(11)->click();
    EXPECT_EQ(0, RVExportDetector(engine, 11))
        << "editing: the box shows the detector, nothing more";
    EXPECT_FALSE(box(11)->isChecked());

    // A run started afresh by a Step after Reset frees every detector, and the boxes say so.
    button("BitBtnRun")->click();
    box(11)->click();
    button("BitBtnPause")->click();
    ASSERT_TRUE(box(11)->isChecked());
    button("BitBtnReset")->click();
    button("BitBtnStep")->click();
    EXPECT_EQ(0, RVExportDetector(engine, 11));
    EXPECT_FALSE(box(11)->isChecked());
}

TEST_F(MapWindowTest, setDetectorCheckBox_minus100KeepsPlace_otherStateKeepsMark) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    const QPoint before = box(11)->pos();
    box(11)->setChecked(true);
    EXPECT_TRUE(map_window->SetDetectorCheckBox(11, -100, -100, true, 2));
    EXPECT_EQ(before, box(11)->pos());
    EXPECT_TRUE(box(11)->isChecked());
    EXPECT_TRUE(map_window->SetDetectorCheckBox(11, 5000, -100, true, 0));
    EXPECT_EQ(800 - box(11)->width(), box(11)->x());
    EXPECT_FALSE(box(11)->isChecked());
    EXPECT_FALSE(map_window->SetDetectorCheckBox(19, 0, 0, false, 1));
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(MapWindowTest, boxesOfANewProgram_areLaidOutInRowsOfTen) {
    std::string rules;
    for (int stream = 1; stream <= 11; ++stream)
        rules += QString::asprintf("G%02d = D%02d1\n", stream, stream).toStdString();
    rules += "X = D012\n";
    start({QString::fromStdString(small_program(rules))});
    EXPECT_EQ(QPoint(0, 0), box(11)->pos());
    EXPECT_EQ(QPoint(60, 0), box(12)->pos());
    EXPECT_EQ(QPoint(120, 0), box(21)->pos());
    EXPECT_EQ(QPoint(0, 20), box(101)->pos());
    // Without a picture each box shows its detector's name, clear of the next box.
    auto* caption = map_window->findChild<QLabel*>("CheckBoxCaption12");
    ASSERT_TRUE(caption && caption->isVisible());
    EXPECT_EQ("D012", caption->text());
    EXPECT_LT(box(12)->geometry().right(), caption->x());
    EXPECT_LT(caption->geometry().right(), box(21)->x());
}

TEST_F(MapWindowTest, polygonDrawnWithTheMouse_survivesSaveAndReload) {
    start({QString::fromStdString(crossing_copy())});
    ASSERT_TRUE(map_window->edit_mode());
    stream_entry("ItemAddPolygon", "07")->trigger();
    click(image(), {10, 10});
    click(image(), {50, 10});
    click(image(), {50, 50});
    EXPECT_EQ("Stream 7, point 0 of 4 at 50, 50", status());
    click(image(), {50, 50}, Qt::RightButton);
    ASSERT_EQ(2u, map_model.polygons[7].size());
    // The closing click on the last corner leaves it once.
    const MapPolygon drawn = map_model.polygons[7].back();
    EXPECT_EQ(3, drawn.count);

    item_of_map("ItemSaveGraphicsEnvironment")->trigger();
    EXPECT_FALSE(map_model.unsaved);
    map_model.polygons[7].clear();
    item_of_map("ItemLoadGraphicsEnvironment")->trigger();
    ASSERT_EQ(2u, map_model.polygons[7].size());
    const MapPolygon& read = map_model.polygons[7].back();
    ASSERT_EQ(3, read.count);
    EXPECT_EQ((std::vector<MapPoint>{{50, 50}, {50, 10}, {10, 10}}),
              std::vector<MapPoint>(read.points.begin(), read.points.begin() + 3));
    EXPECT_EQ(QColor(255, 0, 0), pixel(30, 20)) << "the new polygon is painted";
}

TEST_F(MapWindowTest, ctrlZ_undoesTheLastEditsOneByOne_untilTheNextSave) {
    start({QString::fromStdString(crossing_copy())});
    QWidget* window = activate(map_window.get());
    auto undo = [&] { QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier); };
    auto discs = [&] { return map_window->findChildren<LightDisc*>().size(); };
    DetectorBox* dragged = box(11);
    const QPoint box_at = dragged->pos();
    const QColor unpainted = pixel(30, 20);
    const auto discs_at_start = discs();

    stream_entry("ItemAddPolygon", "07")->trigger();
    for (QPoint corner : {QPoint(10, 10), QPoint(50, 10), QPoint(50, 50)}) click(image(), corner);
    click(image(), {50, 50}, Qt::RightButton);
    press(dragged, {2, 2});
    move(dragged, {60, 40}, Qt::LeftButton);
    release(dragged, {60, 40});
    stream_entry("ItemAddDisc", "07")->trigger();  // a second disc of stream 07
    click(image(), {300, 300});
    ASSERT_EQ(2u, map_model.polygons[7].size());
    ASSERT_NE(box_at, box(11)->pos());
    ASSERT_EQ(discs_at_start + 1, discs());

    undo();
    EXPECT_EQ(discs_at_start, discs()) << "the last edit first";
    EXPECT_NE(box_at, box(11)->pos());
    undo();
    EXPECT_EQ(box_at, box(11)->pos());
    EXPECT_EQ(2u, map_model.polygons[7].size());
    EXPECT_TRUE(map_model.unsaved);
    undo();
    EXPECT_EQ(1u, map_model.polygons[7].size()) << "the whole polygon is one edit";
    EXPECT_EQ(unpainted, pixel(30, 20));
    EXPECT_FALSE(map_model.unsaved) << "back to the file as loaded";
    EXPECT_FALSE(item_of_map("ItemUndo")->isEnabled());

    // A save ends what can be undone.
    stream_entry("ItemAddDisc", "07")->trigger();
    click(image(), {200, 200});
    ASSERT_EQ(discs_at_start + 1, discs());
    item_of_map("ItemSaveGraphicsEnvironment")->trigger();
    undo();
    EXPECT_EQ(discs_at_start + 1, discs());
    EXPECT_FALSE(map_model.unsaved);
}

TEST_F(MapWindowTest, rightClickEndingAPolygon_opensNoMenu_elsewhereItDoes) {
    start({QString::fromStdString(crossing_copy())});
    auto* popup = map_window->findChild<QMenu*>("PopupMenuMap");
    auto context_menu = [&](QPoint at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, image()->mapToGlobal(at));
        QApplication::sendEvent(image(), &event);
    };
    stream_entry("ItemAddPolygon", "07")->trigger();
    click(image(), {10, 10});
    click(image(), {50, 10});
    press(image(), {50, 50}, Qt::RightButton);  // the window system then asks for the menu
    context_menu({50, 50});
    release(image(), {50, 50}, Qt::RightButton);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ("", status()) << "the polygon is ended";
    press(image(), {300, 300}, Qt::RightButton);
    context_menu({300, 300});
    EXPECT_TRUE(popup->isVisible()) << "a right click outside polygon drawing opens the menu";
    popup->hide();
}

TEST_F(MapWindowTest, vertexSelection_reachesNinePixelsNotTen) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    press(image(), {312 + 10, 140});
    EXPECT_EQ("", status().toStdString());
    release(image(), {312 + 10, 140}, Qt::RightButton);
    press(image(), {312 + 9, 140});
    EXPECT_EQ("Stream 1, point 0 of 4 at 321, 140", status());
}

TEST_F(MapWindowTest, boxDraggedBeyondTheRightEdge_staysOnThePicture) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    DetectorBox* dragged = box(11);
    press(dragged, {2, 2});
    move(dragged, {900, 2}, Qt::LeftButton);
    release(dragged, {900, 2});
    EXPECT_EQ(800, dragged->x() + dragged->width());
    EXPECT_TRUE(map_model.unsaved);
    host.answers = {QMessageBox::Cancel};
    EXPECT_TRUE(map_window->AskSaveGraphics());
    ASSERT_EQ(1u, host.boxes.size());
    EXPECT_EQ("Unsaved work", host.boxes[0].caption);
    EXPECT_EQ(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, host.boxes[0].buttons);
}

}  // namespace
}  // namespace ruvalda::test
