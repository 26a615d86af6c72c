#include "gui/window_position.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "gui/dialog_host.h"

namespace ruvalda {

namespace {
QSettings window_settings() {
    return QSettings("Varndal", QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

// How often and how long to look for the frame: a window manager frames a new window within a
// few event-loop turns; without a window manager no frame ever comes.
constexpr int FRAME_POLL_MS = 20;
constexpr int FRAME_POLL_LIMIT = 100;  // two seconds

// Asks for a window's frame place and client size again once the window manager has framed the
// window: a manager that frames a window late may also give it back the size it was first shown
// with.
class FramePlacer : public QObject {
  public:
    explicit FramePlacer(QWidget* window) : QObject(window), window_(window) {
        setObjectName("FramePlacer");
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start(FRAME_POLL_MS);
    }
    void want_place(QPoint frame_top_left) {
        place_ = frame_top_left;
        polls_ = 0;
    }
    void want_size(QSize client) {
        size_ = client;
        polls_ = 0;
    }

  private:
    void look() {
        const bool framed = window_->isVisible() &&
                            window_->frameGeometry().topLeft() != window_->geometry().topLeft();
        if (framed && place_ && window_->pos() != *place_) window_->move(*place_);
        if (framed && size_ && window_->size() != *size_) window_->resize(*size_);
        if (!framed && ++polls_ < FRAME_POLL_LIMIT) return;
        timer_.stop();
        setObjectName(QString());  // a later move_frame starts afresh
        deleteLater();
    }
    QWidget* window_;
    QTimer timer_;
    std::optional<QPoint> place_;
    std::optional<QSize> size_;
    int polls_ = 0;
};

FramePlacer* placer_of(QWidget* window) {
    auto* placer = window->findChild<FramePlacer*>("FramePlacer", Qt::FindDirectChildrenOnly);
    return placer ? placer : new FramePlacer(window);
}
}  // namespace

void move_frame(QWidget* window, QPoint frame_top_left) {
    window->move(frame_top_left);
    placer_of(window)->want_place(frame_top_left);
}

void resize_framed(QWidget* window, QSize client) {
    window->resize(client);
    placer_of(window)->want_size(client);
}

bool read_window_position(QWidget* window, const char* prefix) {
    QSettings settings = window_settings();
    auto read = [&](const char* item, int* value) {
        const QVariant stored = settings.value(QString(prefix) + item);
        bool ok = false;
        if (stored.isValid()) *value = stored.toInt(&ok);
        return ok;
    };
    int value = 0;
    if (!read("Left", &value)) return false;
    move_frame(window, {value, window->y()});
    if (!read("Top", &value)) return false;
    move_frame(window, {window->x(), value});
    if (!read("Width", &value)) return false;
    resize_framed(window, {value, window->height()});
    if (!read("Height", &value)) return false;
    resize_framed(window, {window->width(), value});
    return true;
}

void write_window_position(QWidget* window, const char* prefix, const QString& title) {
    QSettings settings = window_settings();
    settings.setValue(QString(prefix) + "Left", window->x());
    settings.setValue(QString(prefix) + "Top", window->y());
    settings.setValue(QString(prefix) + "Width", window->width());
    settings.setValue(QString(prefix) + "Height", window->height());
    settings.sync();
    if (settings.status() != QSettings::NoError)
        show_message(QMessageBox::NoIcon, title,
                     "Error: Problem saving window position in Registry");
}

QStringList recent_files() {
    QStringList files;
    for (const QString& file : window_settings().value("RecentFiles").toStringList())
        if (QFileInfo::exists(file) && files.size() < RECENT_FILE_COUNT) files << file;
    return files;
}

void remember_recent_file(const QString& path) {
    QSettings settings = window_settings();
    QStringList files = settings.value("RecentFiles").toStringList();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > RECENT_FILE_COUNT) files.removeLast();
    settings.setValue("RecentFiles", files);
}

}  // namespace ruvalda
