#include "gui/map_widgets.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace ruvalda {

MapImage::MapImage(QWidget* parent) : QWidget(parent), bitmap(621, 593, QImage::Format_RGB32) {
    setObjectName("ImageMap");
    bitmap.fill(Qt::white);
    setFixedSize(bitmap.size());
    setMouseTracking(true);
}

void MapImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, bitmap);
    if (rubber_band.size() > 1) {
        // Inverted outline: visible on any background, and drawn twice it would vanish.
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawPolygon(rubber_band.data(), static_cast<int>(rubber_band.size()));
    }
}

void MapImage::mousePressEvent(QMouseEvent* event) {
    if (mouse.down) mouse.down(this, event);
}
void MapImage::mouseMoveEvent(QMouseEvent* event) {
    if (mouse.move) mouse.move(this, event);
}
void MapImage::mouseReleaseEvent(QMouseEvent* event) {
    if (mouse.up) mouse.up(this, event);
}
void MapImage::contextMenuEvent(QContextMenuEvent* event) {
    if (context_menu) context_menu(event);
}

LightDisc::LightDisc(QWidget* parent, int stream) : QWidget(parent), stream_(stream) {
    setObjectName(QString::asprintf("LightDisc%02d", stream));
    setFixedSize(11, 11);
    setAttribute(Qt::WA_TranslucentBackground);
}

void LightDisc::set_colour(const QColor& colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void LightDisc::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour_.darker(160), 1));
    painter.setBrush(colour_);
    painter.drawEllipse(QRectF(0.5, 0.5, 10, 10));
}

void LightDisc::mousePressEvent(QMouseEvent* event) {
    if (mouse.down) mouse.down(this, event);
}
void LightDisc::mouseMoveEvent(QMouseEvent* event) {
    if (mouse.move) mouse.move(this, event);
}
void LightDisc::mouseReleaseEvent(QMouseEvent* event) {
    if (mouse.up) mouse.up(this, event);
}

DetectorBox::DetectorBox(QWidget* parent, int detector) : QCheckBox(parent), detector_(detector) {
    setObjectName(QString::asprintf("CheckBox%d", detector));
    setMouseTracking(true);
    // A little smaller than a check box usually is, and square.
    const int side = std::max(8, QCheckBox().sizeHint().height() - 4);
    setFixedSize(side, side);
    // A click must not leave the keyboard on the box: Space there would set the detector
    // instead of pausing the run.
    setFocusPolicy(Qt::NoFocus);
    setToolTip(QString::asprintf("D%03d", detector));
    caption_ = new QLabel(QString::asprintf("D%03d", detector), parent);
    caption_->setObjectName(QString::asprintf("CheckBoxCaption%d", detector));
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks reach the picture
    QFont small = caption_->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    caption_->setFont(small);
    caption_->adjustSize();
    caption_->hide();
}

DetectorBox::~DetectorBox() {
    delete caption_;
}

void DetectorBox::show_caption(bool shown) {
    place_caption();
    if (caption_) caption_->setVisible(shown);
}

void DetectorBox::moveEvent(QMoveEvent* event) {
    QCheckBox::moveEvent(event);
    place_caption();
}

void DetectorBox::paintEvent(QPaintEvent* event) {
    QCheckBox::paintEvent(event);
    // The style's light border vanishes on a white or pale picture; a dark one shows anywhere.
    QPainter painter(this);
    painter.setPen(QColor(64, 64, 64));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void DetectorBox::place_caption() {
    if (caption_) caption_->move(x() + width() + 1, y() + (height() - caption_->height()) / 2);
}

void DetectorBox::mousePressEvent(QMouseEvent* event) {
    if (mouse.down) mouse.down(this, event);
    QCheckBox::mousePressEvent(event);
}
void DetectorBox::mouseMoveEvent(QMouseEvent* event) {
    if (mouse.move) mouse.move(this, event);
    QCheckBox::mouseMoveEvent(event);
}
void DetectorBox::mouseReleaseEvent(QMouseEvent* event) {
    if (mouse.up) mouse.up(this, event);
    QCheckBox::mouseReleaseEvent(event);
}

}  // namespace ruvalda
