// Editing the map with the mouse: stream polygons, light discs and detector boxes. The window
// forwards its mouse and menu events here with plain values and shows what it is asked to
// through EditorView; all editing rules live here, so they are tested without a window.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "map/map_model.h"

namespace ruvalda {

enum class MouseButton { Left, Right, Middle };
enum class MapCursor { Normal, Cross };

// What editing needs of the map window.
class EditorView {
  public:
    virtual ~EditorView() = default;
    // Background and every stream's polygons anew (RedrawMap); removes the rubber band.
    virtual void repaint_map() = 0;
    // Toggles the inverted outline of map_editor's buffer (its first `count` points): drawing
    // twice restores the picture, so every erase is a second draw of an unchanged buffer.
    virtual void draw_rubber_band() = 0;
    virtual void set_cursor(MapCursor cursor) = 0;
    virtual void set_status(const std::string& text) = 0;
    // A new light disc centred on `centre`; the window clamps it into the picture.
    virtual void add_light_disc(int stream, MapPoint centre) = 0;
    // The main window's Pause button is enabled.
    virtual bool simulation_running() const = 0;
    // An error of editing, for the message pane.
    virtual void report_error(const char* where, const char* text) = 0;
};

struct MapEditor {
    bool edit_mode = true;
    int edit_stream = 0;     // stream being added to or edited; 0 = none
    bool disc_mode = false;  // the pending addition is a light disc
    // Working copy of the polygon; the active point follows the mouse, the fixed points trail
    // behind it.
    std::array<MapPoint, MAX_POLYGON_POINTS> buffer{};
    int count = 0;
    int active = 0;
    // The polygon being edited, an element of map_model.polygons; none while a new polygon
    // has fewer than 3 points.
    MapPolygon* selected = nullptr;
    int dragged_box = 0;   // tag of the detector box being dragged; 0 = none
    MapPoint box_grab{};   // mouse position inside the box when it was grabbed
    MapPoint disc_grab{};  // mouse position inside the disc when it was grabbed
};

// A per-stream entry of "Add traffic light polygon" (disc false) or "... disc" (disc true).
void AddPolygonOrDiscClick(MapModel& map_model, MapEditor& map_editor, EditorView& view, int stream,
                           bool disc);

// Mouse events on the picture, in picture pixels.
void ImageMapMouseDown(MapModel& map_model, MapEditor& map_editor, EditorView& view,
                       MouseButton button, int x, int y);
void ImageMapMouseMove(MapModel& map_model, MapEditor& map_editor, EditorView& view, int x, int y);
void ImageMapMouseUp(MapModel& map_model, MapEditor& map_editor, EditorView& view, int x, int y);

void ItemDeletePolygonClick(MapModel& map_model, MapEditor& map_editor, EditorView& view);
// "Delete polygon" and "Finish polygon" of the picture's popup menu are enabled.
bool polygon_selected(MapModel& map_model, MapEditor& map_editor);

// Switching off ends a polygon edit or box drag and repaints. Unchecking the boxes at time 0
// and enabling the Edit menu are the window's part.
void SetEditMode(MapEditor& map_editor, EditorView& view, bool on);

// A detector box or light disc as placed on the picture.
struct ControlRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// Mouse events on a detector box (tag = stream x 10 + sub-number) or a light disc (tag =
// stream), with x, y relative to the control. A returned point is the control's new left/top.
void CheckBoxMouseDown(MapEditor& map_editor, EditorView& view, int tag, ControlRect box, int x,
                       int y);
std::optional<MapPoint> CheckBoxMouseMove(MapEditor& map_editor, EditorView& view, int tag,
                                          ControlRect box, int x, int y);
std::optional<MapPoint> CheckBoxMouseUp(MapModel& map_model, MapEditor& map_editor,
                                        EditorView& view, int tag, ControlRect box, int x, int y);

void DiscMouseDown(MapEditor& map_editor, EditorView& view, int stream, ControlRect disc, int x,
                   int y);
// With Ctrl held the window moves the stream's detector boxes by the same displacement as the
// disc (new position minus old).
std::optional<MapPoint> DiscMouseMove(MapModel& map_model, MapEditor& map_editor, EditorView& view,
                                      int stream, ControlRect disc, int x, int y, bool left_held,
                                      bool ctrl_held);
// For the left or middle button; the right button opens the disc's popup menu in the window
// (not while a box is dragged).
std::optional<MapPoint> DiscMouseUp(MapModel& map_model, MapEditor& map_editor, EditorView& view,
                                    int stream, ControlRect disc, int x, int y);

// Crossing count: a point on the column of a vertex, or exactly on an edge, is outside; edge
// heights are interpolated in single precision.
bool point_in_polygon(const MapPolygon& polygon, int x, int y);

}  // namespace ruvalda
