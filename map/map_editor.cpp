#include "map/map_editor.h"

#include <cstdint>
#include <new>

#include "engine/streams.h"

namespace ruvalda {

namespace {

// Squared distance; 64 bits so that any two int positions are safe.
std::int64_t distance2(MapPoint a, int x, int y) {
    const std::int64_t dx = static_cast<std::int64_t>(a.x) - x;
    const std::int64_t dy = static_cast<std::int64_t>(a.y) - y;
    return dx * dx + dy * dy;
}

bool near(MapPoint a, MapPoint b) {
    return distance2(a, b.x, b.y) < 10;
}

MapPoint& point(MapEditor& map_editor, int i) {
    return map_editor.buffer[static_cast<std::size_t>(i)];
}

std::list<MapPolygon>& stream_polygons(MapModel& map_model, int stream) {
    return map_model.polygons[static_cast<std::size_t>(stream)];
}

// Loading a graphics file rebuilds the polygon lists behind the editor's back; a selection
// that is no longer in them is dropped rather than followed.
MapPolygon* selection(MapModel& map_model, MapEditor& map_editor) {
    MapPolygon* selected = map_editor.selected;
    if (selected == nullptr) return nullptr;
    for (auto& polygons : map_model.polygons)
        for (MapPolygon& polygon : polygons)
            if (&polygon == selected) return selected;
    map_editor.selected = nullptr;
    return nullptr;
}

// The buffer into a polygon, kept inside the picture like the polygons of a graphics file.
void store_buffer(MapModel& map_model, MapEditor& map_editor, MapPolygon& polygon) {
    polygon.count = map_editor.count;
    for (int i = 0; i < map_editor.count; ++i)
        polygon.points[static_cast<std::size_t>(i)] =
            clamp_vertex(point(map_editor, i), map_model.picture_width, map_model.picture_height);
}

void remove_point(MapEditor& map_editor, int index) {
    for (int i = index; i + 1 < map_editor.count; ++i)
        point(map_editor, i) = point(map_editor, i + 1);
    --map_editor.count;
}

// The neighbour of the active point that (x, y) lies near, in the order the press looks for
// one; -1 when none.
int near_neighbour(MapEditor& map_editor, MapPoint p) {
    const int active = map_editor.active;
    const int last = map_editor.count - 1;
    if (active > 0 && near(p, point(map_editor, active - 1))) return active - 1;
    if (active == 0 && near(p, point(map_editor, last))) return last;
    if (active < last && near(p, point(map_editor, active + 1))) return active + 1;
    if (active == last && near(p, point(map_editor, 0))) return 0;
    return -1;
}

// The active point put on a neighbouring corner, as the closing click puts it, is that corner:
// the polygon keeps it once.
void drop_repeated_corner(MapModel& map_model, MapEditor& map_editor) {
    const int n = map_editor.count;
    if (n < 2) return;
    const MapPoint here = point(map_editor, map_editor.active);
    if (point(map_editor, (map_editor.active + n - 1) % n) != here &&
        point(map_editor, (map_editor.active + 1) % n) != here)
        return;
    remove_point(map_editor, map_editor.active);
    if (MapPolygon* selected = selection(map_model, map_editor))
        store_buffer(map_model, map_editor, *selected);
}

void show_polygon_status(MapEditor& map_editor, EditorView& view, int x, int y) {
    std::string text = "Stream ";
    text.append(std::to_string(map_editor.edit_stream))
        .append(", point ")
        .append(std::to_string(map_editor.active))
        .append(" of ")
        .append(std::to_string(map_editor.count))
        .append(" at ")
        .append(std::to_string(x))
        .append(", ")
        .append(std::to_string(y));
    view.set_status(text);
}

std::string detector_name(int tag) {
    std::string text = "Detector ";
    text.append(std::to_string(tag / 10)).append(".").append(std::to_string(tag % 10));
    return text;
}

void show_box_status(EditorView& view, int tag, MapPoint at) {
    std::string text = detector_name(tag);
    text.append(": ").append(std::to_string(at.x)).append(", ").append(std::to_string(at.y));
    view.set_status(text);
}

void show_disc_status(EditorView& view, int stream, MapPoint at) {
    std::string text = "Traffic light ";
    text.append(std::to_string(stream))
        .append(": ")
        .append(std::to_string(at.x))
        .append(", ")
        .append(std::to_string(at.y));
    view.set_status(text);
}

void end_edit(MapEditor& map_editor, EditorView& view) {
    map_editor.edit_stream = 0;
    view.set_cursor(MapCursor::Normal);
}

// Press with no edit going on: the vertex nearest to (x, y) over all polygons, the first found
// on equal distances, starts an edit of its polygon when it is close enough.
void select_vertex(MapModel& map_model, MapEditor& map_editor, EditorView& view, int x, int y) {
    MapPolygon* best_polygon = nullptr;
    int best_stream = 0, best_index = 0;
    std::int64_t best = 0;
    for (int stream = FIRST_STREAM; stream <= LAST_STREAM; ++stream) {
        for (MapPolygon& polygon : stream_polygons(map_model, stream)) {
            for (int i = 0; i < polygon.count; ++i) {
                const std::int64_t d = distance2(polygon.points[static_cast<std::size_t>(i)], x, y);
                if (best_polygon == nullptr || d < best) {
                    best_polygon = &polygon;
                    best_stream = stream;
                    best_index = i;
                    best = d;
                }
            }
        }
    }
    if (best_polygon == nullptr || best >= 100) return;
    map_editor.buffer = best_polygon->points;
    map_editor.count = best_polygon->count;
    map_editor.active = best_index;
    map_editor.selected = best_polygon;
    map_editor.edit_stream = best_stream;
    // A disc added earlier leaves disc mode set; the edit started here is a polygon edit.
    map_editor.disc_mode = false;
    view.draw_rubber_band();
}

}  // namespace

void AddPolygonOrDiscClick(MapModel& map_model, MapEditor& map_editor, EditorView& view, int stream,
                           bool disc) {
    if (stream < FIRST_STREAM || stream > LAST_STREAM) return;
    if (selection(map_model, map_editor) != nullptr) view.repaint_map();
    map_editor.selected = nullptr;
    map_editor.edit_stream = stream;
    map_editor.disc_mode = disc;
    if (!disc) {
        map_editor.count = 0;
        map_editor.active = 0;
    }
    view.set_cursor(MapCursor::Cross);
}

void ImageMapMouseDown(MapModel& map_model, MapEditor& map_editor, EditorView& view,
                       MouseButton button, int x, int y) {
    if (!map_editor.edit_mode) return;
    if (map_editor.edit_stream == 0) {
        select_vertex(map_model, map_editor, view, x, y);
    } else if (map_editor.disc_mode) {
        view.add_light_disc(map_editor.edit_stream, {x, y});
        end_edit(map_editor, view);
        map_model.unsaved = true;
    } else {
        view.draw_rubber_band();
        point(map_editor, map_editor.active) = {x, y};
        if (button == MouseButton::Right) {
            drop_repeated_corner(map_model, map_editor);
            map_editor.edit_stream = 0;
            map_editor.count = 0;
            view.repaint_map();
            view.set_cursor(MapCursor::Normal);
            view.set_status("");
            return;
        }
        if (map_editor.count == 0) {
            map_editor.count = 1;
        } else if (const int neighbour = near_neighbour(map_editor, {x, y}); neighbour >= 0) {
            // Pressing on a neighbour merges the two points and finishes the polygon.
            remove_point(map_editor, neighbour);
            if (MapPolygon* selected = selection(map_model, map_editor))
                store_buffer(map_model, map_editor, *selected);
            end_edit(map_editor, view);
            view.repaint_map();
        }
    }
    if (map_editor.edit_stream != 0) {
        show_polygon_status(map_editor, view, x, y);
        view.set_cursor(MapCursor::Cross);
    } else {
        view.set_status("");
    }
}

void ImageMapMouseMove(MapModel& map_model, MapEditor& map_editor, EditorView& view, int x, int y) {
    if (map_editor.edit_stream == 0) {
        std::string text;
        for (int stream = FIRST_STREAM; stream <= LAST_STREAM && text.empty(); ++stream) {
            for (const MapPolygon& polygon : stream_polygons(map_model, stream)) {
                if (point_in_polygon(polygon, x, y)) {
                    text = "Stream ";
                    text.append(std::to_string(stream));
                    break;
                }
            }
        }
        view.set_status(text);
    }
    if (view.simulation_running() || map_editor.edit_stream == 0) return;
    view.draw_rubber_band();
    point(map_editor, map_editor.active) = {x, y};
    view.draw_rubber_band();
    show_polygon_status(map_editor, view, x, y);
}

void ImageMapMouseUp(MapModel& map_model, MapEditor& map_editor, EditorView& view, int x, int y) {
    if (view.simulation_running() || map_editor.edit_stream == 0) return;
    map_model.unsaved = true;
    view.draw_rubber_band();
    if (x < 0 || x >= map_model.picture_width || y < 0 || y >= map_model.picture_height) {
        map_editor.edit_stream = 0;
        view.set_status("");
        return;
    }
    const MapPoint p{x, y};
    const int active = map_editor.active;
    const int last = map_editor.count - 1;
    point(map_editor, active) = p;
    // Releasing on a neighbour only moves the active point; elsewhere a copy of it stays
    // behind as a fixed point.
    const bool on_neighbour =
        map_editor.count > 1 && ((active > 0 && near(p, point(map_editor, active - 1))) ||
                                 (active < last && near(p, point(map_editor, active + 1))) ||
                                 (active == 0 && near(p, point(map_editor, last))) ||
                                 (active == last && near(p, point(map_editor, 0))));
    if (!on_neighbour && map_editor.count < MAX_POLYGON_POINTS) {
        for (int i = MAX_POLYGON_POINTS - 2; i >= active; --i)
            point(map_editor, i + 1) = point(map_editor, i);
        ++map_editor.count;
    }
    if (map_editor.count > 2) {
        MapPolygon* selected = selection(map_model, map_editor);
        if (selected == nullptr) {
            try {
                selected = &stream_polygons(map_model, map_editor.edit_stream).emplace_back();
                map_editor.selected = selected;
            } catch (const std::bad_alloc&) {
                view.report_error("addpolygong", "Out of memory.");
            }
        }
        if (selected != nullptr) store_buffer(map_model, map_editor, *selected);
    }
    if (selection(map_model, map_editor) != nullptr) view.repaint_map();
    view.draw_rubber_band();
    show_polygon_status(map_editor, view, x, y);
}

void ItemDeletePolygonClick(MapModel& map_model, MapEditor& map_editor, EditorView& view) {
    // Count 0 keeps the polygon in its list (a selection stays valid) but neither draws nor
    // saves it; on purpose not an unsaved change.
    if (MapPolygon* selected = selection(map_model, map_editor)) {
        selected->count = 0;
        view.repaint_map();
    }
    view.set_status("");
}

bool polygon_selected(MapModel& map_model, MapEditor& map_editor) {
    return selection(map_model, map_editor) != nullptr;
}

void SetEditMode(MapEditor& map_editor, EditorView& view, bool on) {
    map_editor.edit_mode = on;
    if (on) return;
    map_editor.edit_stream = 0;
    map_editor.dragged_box = 0;
    view.repaint_map();
}

void CheckBoxMouseDown(MapEditor& map_editor, EditorView& view, int tag, ControlRect box, int x,
                       int y) {
    if (!map_editor.edit_mode) return;
    map_editor.edit_stream = 0;
    map_editor.box_grab = {x, y};
    map_editor.dragged_box = tag;
    show_box_status(view, tag, {box.left, box.top});
}

std::optional<MapPoint> CheckBoxMouseMove(MapEditor& map_editor, EditorView& view, int tag,
                                          ControlRect box, int x, int y) {
    if (map_editor.dragged_box == 0) {
        view.set_status(detector_name(tag));
        return std::nullopt;
    }
    if (map_editor.dragged_box != tag) return std::nullopt;
    const MapPoint moved{box.left + x - map_editor.box_grab.x, box.top + y - map_editor.box_grab.y};
    show_box_status(view, tag, moved);
    return moved;
}

std::optional<MapPoint> CheckBoxMouseUp(MapModel& map_model, MapEditor& map_editor,
                                        EditorView& view, int tag, ControlRect box, int x, int y) {
    if (map_editor.dragged_box == 0 || map_editor.dragged_box != tag) return std::nullopt;
    map_model.unsaved = true;
    const MapPoint moved{box.left + x - map_editor.box_grab.x, box.top + y - map_editor.box_grab.y};
    map_editor.box_grab = {x, y};
    const MapPoint placed{clamp_to_picture(moved.x, box.width, map_model.picture_width),
                          clamp_to_picture(moved.y, box.height, map_model.picture_height)};
    show_box_status(view, tag, placed);
    map_editor.dragged_box = 0;
    return placed;
}

void DiscMouseDown(MapEditor& map_editor, EditorView& view, int stream, ControlRect disc, int x,
                   int y) {
    if (!map_editor.edit_mode) return;
    map_editor.edit_stream = 0;
    map_editor.disc_grab = {x, y};
    show_disc_status(view, stream, {disc.left, disc.top});
}

// Ctrl is the window's business: it moves the boxes along by the disc's displacement.
std::optional<MapPoint> DiscMouseMove(MapModel& map_model, MapEditor& map_editor, EditorView& view,
                                      int stream, ControlRect disc, int x, int y, bool left_held,
                                      bool /*ctrl_held*/) {
    if (map_editor.dragged_box != 0) return std::nullopt;
    // Discs stay where they are while editing is off, so a run cannot shift them.
    if (!left_held || !map_editor.edit_mode) {
        show_disc_status(view, stream, {disc.left, disc.top});
        return std::nullopt;
    }
    const MapPoint moved{disc.left + x - map_editor.disc_grab.x,
                         disc.top + y - map_editor.disc_grab.y};
    map_model.unsaved = true;
    show_disc_status(view, stream, moved);
    return moved;
}

std::optional<MapPoint> DiscMouseUp(MapModel& map_model, MapEditor& map_editor, EditorView& view,
                                    int stream, ControlRect disc, int, int) {
    if (map_editor.dragged_box != 0) return std::nullopt;
    const MapPoint placed{clamp_to_picture(disc.left, disc.width, map_model.picture_width),
                          clamp_to_picture(disc.top, disc.height, map_model.picture_height)};
    show_disc_status(view, stream, placed);
    return placed;
}

bool point_in_polygon(const MapPolygon& polygon, int x, int y) {
    int crossings = 0;
    for (int i = 0; i < polygon.count; ++i) {
        const MapPoint a = polygon.points[static_cast<std::size_t>(i)];
        const MapPoint b = polygon.points[static_cast<std::size_t>((i + 1) % polygon.count)];
        if (x == a.x || x == b.x) return false;
        if ((x < a.x) == (x < b.x)) continue;  // not strictly between the ends
        // The exact height rounded once to single precision, so a point a hair off the edge
        // can still count as on it.
        const double rise = static_cast<double>(b.y) - a.y;
        const double run = static_cast<double>(b.x) - a.x;
        const double exact = a.y + rise * (static_cast<double>(x) - a.x) / run;
        const float edge_y = static_cast<float>(exact);
        if (static_cast<double>(y) == static_cast<double>(edge_y)) return false;
        if (static_cast<double>(y) > static_cast<double>(edge_y)) ++crossings;
    }
    return crossings % 2 == 1;
}

}  // namespace ruvalda
