// The controls on the map picture: the picture itself, light discs and detector boxes. They
// only draw and pass their mouse events on; the map window decides what the events mean.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace ruvalda {

// Mouse events of a control, in the control's own coordinates.
struct ControlMouse {
    std::function<void(QWidget*, QMouseEvent*)> down, move, up;
};

// ImageMap: shows the bitmap copy of the background with the polygons painted on it, and the
// rubber band of a polygon being edited.
class MapImage : public QWidget {
    Q_OBJECT  // so that findChildren<MapImage*> tells it from other widgets

        public : explicit MapImage(QWidget* parent);
    QImage bitmap;                    // what is shown
    std::vector<QPoint> rubber_band;  // drawn inverted over the bitmap while shown
    bool band_shown = false;
    ControlMouse mouse;
    std::function<void(QContextMenuEvent*)> context_menu;
    QSize sizeHint() const override { return bitmap.size(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// A light disc: a circle of 11 x 11 in the stream's colour; its tag is the stream.
class LightDisc : public QWidget {
    Q_OBJECT

  public:
    LightDisc(QWidget* parent, int stream);
    int tag() const { return stream_; }
    void set_colour(const QColor& colour);
    QColor colour() const { return colour_; }
    ControlMouse mouse;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int stream_;
    QColor colour_ = Qt::red;
};

// A detector box; its tag is stream x 10 + sub-number. Mouse events go to the map window
// before the box handles them as a check box.
class DetectorBox : public QCheckBox {
    Q_OBJECT

  public:
    DetectorBox(QWidget* parent, int detector);
    ~DetectorBox() override;
    int tag() const { return detector_; }
    ControlMouse mouse;
    // The detector's name right of the box, where no picture tells the boxes apart.
    void show_caption(bool shown);
    QLabel* caption() const { return caption_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void place_caption();
    int detector_;
    QPointer<QLabel> caption_;  // a sibling on the picture, so it does not widen the box
};

}  // namespace ruvalda
