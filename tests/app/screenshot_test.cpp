// The windows as a user sees them: the crossing example after 30 s with a stream traced, and
// the trace-variable dialog. Every caption must fit its control. With RUVALDA_SCREENSHOT_DIR
// set, the pictures are written there (docs/ keeps them).
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>

#include "tests/app/gui_fixture.h"

namespace ruvalda::test {
namespace {

class ScreenshotTest : public GuiTest {
  protected:
    void save(QWidget* window, const char* name) {
        const QPixmap picture = window->grab();
        ASSERT_FALSE(picture.isNull());
        ASSERT_TRUE(picture.save(QString::fromStdString(dir) + "/" + name));
        if (const char* wanted = std::getenv("RUVALDA_SCREENSHOT_DIR")) {
            ASSERT_TRUE(picture.save(QDir(wanted).filePath(name)));
        }
    }
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
    while (RVGetTime() < 300) {
        if (RVGetTime() == 50) SetDetectorState(11, 1);
        if (RVGetTime() == 90) SetDetectorState(11, 0);
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

}  // namespace
}  // namespace ruvalda::test
