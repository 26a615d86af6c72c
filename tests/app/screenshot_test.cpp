// The windows as a user sees them: the crossing example after 30 s with a stream traced, and
// the trace-variable dialog. Every caption must fit its control. With RUVALDA_SCREENSHOT_DIR
// set, the pictures are written there (docs/ keeps them).
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>

#include "gui/map_widgets.h"
#include "map/map_editor.h"
#include "sequence/sequence_display.h"
#include "sequence/sequence_model.h"
#include "tests/app/gui_fixture.h"

namespace ruvalda::test {
namespace {

class ScreenshotTest : public GuiTest {
  protected:
    // Every button and label shows its whole caption.
    void expect_captions_fit(QWidget* window) {
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (!button->isVisible() || button->text().isEmpty()) continue;
            EXPECT_GE(button->width(), button->sizeHint().width())
                << button->objectName().toStdString() << " " << button->text().toStdString();
            EXPECT_GE(button->height(), button->sizeHint().height())
                << button->objectName().toStdString();
        }
        for (QGroupBox* group : window->findChildren<QGroupBox*>())
            EXPECT_GE(group->width(), group->minimumSizeHint().width())
                << group->objectName().toStdString();
    }
};

TEST_F(ScreenshotTest, mainWindow_afterThirtySecondsOfTheCrossingWithAStreamTraced) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    ASSERT_EQ("1100", buttons());
    menu("ItemTraceStream")->actions().first()->trigger();
    main_window->findChild<QRadioButton*>("RadioGroupSpeedItem5")->click();
    button("BitBtnRun")->click();
    int millis = 0;
    while (RVGetTime(engine) < 300) {
        if (RVGetTime(engine) == 50) SetDetectorState(engine, 11, 1);
        if (RVGetTime(engine) == 90) SetDetectorState(engine, 11, 0);
        tick(millis);
        millis = (millis + 10) % 1000;
    }
    QApplication::processEvents();
    expect_captions_fit(main_window.get());
    save(main_window.get(), "main-window.png");
}

TEST_F(ScreenshotTest, traceVariableDialog_withTheCrossingLoaded) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    item("ItemTraceVariable")->trigger();
    ASSERT_TRUE(trace_dialog->isVisible());
    auto* setting = trace_dialog->findChild<QComboBox*>("ComboBoxSetting");
    if (setting) setting->setCurrentIndex(1);
    QApplication::processEvents();
    expect_captions_fit(trace_dialog.get());
    save(trace_dialog.get(), "trace-variable-dialog.png");
}

TEST_F(ScreenshotTest, mapWindow_runningTheCrossingWithADetectorTicked) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    main_window->findChild<QRadioButton*>("RadioGroupSpeedItem5")->click();
    button("BitBtnRun")->click();
    auto* detector = map_window->findChild<DetectorBox*>("CheckBox41");
    ASSERT_NE(nullptr, detector);
    detector->click();
    int millis = 0;
    while (RVGetTime(engine) < 250) {
        tick(millis);
        millis = (millis + 10) % 1000;
    }
    QApplication::processEvents();
    EXPECT_TRUE(detector->isChecked());
    EXPECT_GE(sequence_model.current_block, 0) << "a block is framed";
    expect_captions_fit(map_window.get());
    save(map_window.get(), "map-running.png");
}

TEST_F(ScreenshotTest, mapWindow_editingAPolygon) {
    start({QString::fromStdString(example("crossing/crossing.rvc"))});
    QWidget* picture = map_window->image();
    for (QAction* entry : map_window->findChild<QMenu*>("ItemAddPolygon")->actions())
        if (entry->text() == "07") entry->trigger();
    auto click = [&](QPoint at) {
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, QPointF(at), picture->mapToGlobal(QPointF(at)), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
            QApplication::sendEvent(picture, &event);
        }
    };
    click({520, 600});
    click({600, 600});
    click({600, 680});
    QMouseEvent hover(QEvent::MouseMove, QPointF(530, 690), picture->mapToGlobal(QPointF(530, 690)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &hover);
    QApplication::processEvents();
    save(map_window.get(), "map-editing.png");
}

}  // namespace
}  // namespace ruvalda::test
