// Undo of map edits: the drawing (picture, polygons, where the detector boxes and light discs
// stand) as it was before each of the last edits, back to the last load or save.
#pragma once

#include <QImage>
#include <QPoint>
#include <array>
#include <cstddef>
#include <list>
#include <string>
#include <vector>

#include "map/map_model.h"

namespace ruvalda {

// A control on the picture: a detector box (tag = detector) or a light disc (tag = stream).
struct PlacedControl {
    bool disc = false;
    int tag = 0;
    QPoint pos;
    friend bool operator==(const PlacedControl&, const PlacedControl&) = default;
};

struct MapSnapshot {
    std::array<std::list<MapPolygon>, MAP_STREAMS> polygons;
    std::string picture_file;
    std::int32_t picture_width = 0;
    std::int32_t picture_height = 0;
    bool jpeg = false;
    QImage background;
    std::vector<PlacedControl> controls;  // in the window's order
};

bool same_drawing(const MapSnapshot& a, const MapSnapshot& b);

class MapUndo {
  public:
    // Enough for an afternoon's editing; a snapshot holds every polygon of the junction.
    static constexpr std::size_t DEPTH = 200;

    // The drawing as loaded or saved: nothing to undo before it.
    void reset(MapSnapshot now);
    // After an edit: the drawing as it stood before becomes the last undo step, when the edit
    // changed anything. Returns true when it did.
    bool edited(MapSnapshot now);
    bool can_undo() const { return !before_.empty(); }
    // The drawing is as it was loaded or saved last.
    bool as_saved() const { return same_drawing(current_, saved_); }
    // The drawing before the last edit, which is then the current one.
    MapSnapshot undo();

  private:
    std::list<MapSnapshot> before_;  // newest last
    MapSnapshot current_;
    MapSnapshot saved_;
};

}  // namespace ruvalda
