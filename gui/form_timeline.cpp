#include "gui/form_timeline.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialog_host.h"

namespace ruvalda {

namespace {

// The choices of the time window, in tenths; 0 is the whole run.
struct WindowChoice {
    const char* caption;
    std::int32_t tenths;
};
constexpr WindowChoice WINDOW_CHOICES[] = {
    {"Last 30 s", 300},       {"Last minute", 600},      {"Last 2 minutes", 1200},
    {"Last 5 minutes", 3000}, {"Last 10 minutes", 6000}, {"Whole run", 0},
};
constexpr int DEFAULT_CHOICE = 2;
// Often enough to look live, rarely enough to cost nothing next to the run.
constexpr int REFRESH_MILLIS = 250;

}  // namespace

TimelineView::TimelineView(QWidget* parent) : QWidget(parent) {
    setObjectName("TimelineView");
    setMinimumSize(400, 200);
}

void TimelineView::set_svg(const std::string& svg) {
    svg_ = QByteArray::fromStdString(svg);
    update();
}

void TimelineView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    QSvgRenderer renderer(svg_);
    if (!renderer.isValid()) return;
    // The picture keeps its proportions and fills the width.
    const QSizeF size = renderer.defaultSize();
    if (size.isEmpty()) return;
    const double scale = std::min(width() / size.width(), height() / size.height());
    renderer.render(&painter, QRectF(0, 0, size.width() * scale, size.height() * scale));
}

TFormTimeline::TFormTimeline(std::function<std::int32_t()> now, QWidget* parent)
    : QWidget(parent, Qt::Window), now_(std::move(now)) {
    setObjectName("TFormTimeline");
    setWindowTitle("Signal timeline");
    auto* layout = new QVBoxLayout(this);
    auto* controls = new QHBoxLayout();
    controls->addWidget(new QLabel("Time window:", this));
    window_ = new QComboBox(this);
    window_->setObjectName("ComboBoxTimeWindow");
    window_->setToolTip("How much of the run the picture shows, up to the control time now");
    for (const WindowChoice& choice : WINDOW_CHOICES) window_->addItem(choice.caption);
    window_->setCurrentIndex(DEFAULT_CHOICE);
    controls->addWidget(window_);
    controls->addStretch(1);
    auto* save = new QPushButton("Save as &SVG ...", this);
    save->setObjectName("ButtonSaveSvg");
    save->setToolTip("Write the picture as shown to an SVG file");
    controls->addWidget(save);
    layout->addLayout(controls);
    view_ = new TimelineView(this);
    layout->addWidget(view_, 1);
    resize(900, 520);

    timer_ = new QTimer(this);
    timer_->setObjectName("TimerTimeline");
    timer_->setInterval(REFRESH_MILLIS);
    connect(timer_, &QTimer::timeout, this, [this] { refresh(); });
    connect(window_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(save, &QPushButton::clicked, this, [this] { ItemSaveSvgClick(); });
}

void TFormTimeline::restart(const QString& title) {
    recorder_ = TimelineRecorder{};
    recorder_.title = title.toStdString();
    if (isVisible()) refresh();
}

void TFormTimeline::colour(int stream, char colour) {
    recorder_.colour(now_(), stream, colour);
}

void TFormTimeline::detector(int detector, int state) {
    recorder_.detector(now_(), detector, state);
}

void TFormTimeline::violation(std::int32_t time, int stream_a, int stream_b,
                              std::int32_t shortfall) {
    recorder_.violation(time, stream_a, stream_b, static_cast<int>(shortfall));
}

std::int32_t TFormTimeline::window_tenths() const {
    const int index = window_->currentIndex();
    return index >= 0 && index < static_cast<int>(std::size(WINDOW_CHOICES))
               ? WINDOW_CHOICES[index].tenths
               : 0;
}

// The picture needs at least a tenth to draw.
std::int32_t TFormTimeline::shown_to() const {
    return std::max(now_(), shown_from() + 1);
}

std::int32_t TFormTimeline::shown_from() const {
    const std::int32_t window = window_tenths();
    return window == 0 ? 0 : std::max(0, now_() - window);
}

void TFormTimeline::refresh() {
    view_->set_svg(recorder_.svg(shown_from(), shown_to()));
}

void TFormTimeline::ItemSaveSvgClick() {
    FileDialogRequest request;
    request.object_name = "SaveDialogTimeline";
    request.title = "Save signal timeline";
    request.filter = "SVG pictures (*.svg)|*.svg";
    request.default_suffix = "svg";
    request.save = true;
    request.confirm_overwrite = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;
    std::string error;
    if (!recorder_.write_svg(chosen.toLocal8Bit().toStdString(), shown_from(), shown_to(), &error))
        show_message(QMessageBox::Warning, windowTitle(), QString::fromStdString(error));
}

void TFormTimeline::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    timer_->start();
}

void TFormTimeline::hideEvent(QHideEvent* event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

}  // namespace ruvalda
