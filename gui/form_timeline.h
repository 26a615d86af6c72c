// The signal timeline window (Window > Signal timeline): the picture `ruvalda-cli run --timeline`
// writes, drawn from the same timeline while the program runs, over a chosen window of the
// last seconds, and saved as SVG.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

#include "timeline/timeline.h"

class QComboBox;
class QTimer;

namespace ruvalda {

// Draws the timeline's SVG, scaled to its width.
class TimelineView : public QWidget {
  public:
    explicit TimelineView(QWidget* parent);
    void set_svg(const std::string& svg);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QByteArray svg_;
};

class TFormTimeline : public QWidget {
  public:
    // `now` gives the control time the picture ends at.
    TFormTimeline(std::function<std::int32_t()> now, QWidget* parent);

    // A new program, or a run that starts again from time 0: the picture starts empty.
    void restart(const QString& title);
    void colour(int stream, char colour);
    void detector(int detector, int state);
    void violation(std::int32_t time, int stream_a, int stream_b, std::int32_t shortfall);

    // The window in tenths; 0: the whole run.
    std::int32_t window_tenths() const;
    // The picture as shown now: its first and last tenth.
    std::int32_t shown_from() const;
    std::int32_t shown_to() const;
    // Draws the picture afresh (the window's timer calls it while it is shown).
    void refresh();
    void ItemSaveSvgClick();

    const TimelineRecorder& recorder() const { return recorder_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    std::function<std::int32_t()> now_;
    TimelineRecorder recorder_;
    TimelineView* view_ = nullptr;
    QComboBox* window_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace ruvalda
