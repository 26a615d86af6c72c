#include "gui/map_undo.h"

#include <utility>

namespace ruvalda {

bool same_drawing(const MapSnapshot& a, const MapSnapshot& b) {
    // A picture is compared by identity: a loaded picture is a new image even when its file is
    // the same.
    return a.polygons == b.polygons && a.picture_file == b.picture_file &&
           a.picture_width == b.picture_width && a.picture_height == b.picture_height &&
           a.jpeg == b.jpeg && a.background.cacheKey() == b.background.cacheKey() &&
           a.controls == b.controls;
}

void MapUndo::reset(MapSnapshot now) {
    before_.clear();
    saved_ = now;
    current_ = std::move(now);
}

bool MapUndo::edited(MapSnapshot now) {
    if (same_drawing(now, current_)) return false;
    before_.push_back(std::exchange(current_, std::move(now)));
    if (before_.size() > DEPTH) before_.pop_front();
    return true;
}

MapSnapshot MapUndo::undo() {
    current_ = std::move(before_.back());
    before_.pop_back();
    return current_;
}

}  // namespace ruvalda
