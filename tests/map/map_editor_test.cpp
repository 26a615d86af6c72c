// Map editing through its event handlers, with a view that records what the window would show.
#include "map/map_editor.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "tests/support/test_support.h"

namespace ruvalda {

void PrintTo(const MapPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}

namespace {

using Points = std::vector<MapPoint>;

class RecordingView : public EditorView {
  public:
    int repaints = 0;
    MapCursor cursor = MapCursor::Normal;
    std::string status = "untouched";
    Points discs;
    void repaint_map() override { ++repaints; }
    void draw_rubber_band() override {}
    void set_cursor(MapCursor c) override { cursor = c; }
    void set_status(const std::string& text) override { status = text; }
    void add_light_disc(int, MapPoint centre) override { discs.push_back(centre); }
    bool simulation_running() const override { return false; }
    void report_error(const char*, const char*) override {}
};

Points points(const MapPolygon& polygon) {
    return {polygon.points.begin(), polygon.points.begin() + polygon.count};
}

class MapEditing : public test::ControllerTest {
  protected:
    RecordingView view;
    MapEditor map_editor;

    void SetUp() override {
        map_model.picture_width = 300;
        map_model.picture_height = 200;
    }
    void click(int x, int y) {
        ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, x, y);
        ImageMapMouseUp(map_model, map_editor, view, x, y);
    }
    std::list<MapPolygon>& stream(int s) { return map_model.polygons[static_cast<std::size_t>(s)]; }
    MapPolygon& draw_three_clicks() {
        AddPolygonOrDiscClick(map_model, map_editor, view, 7, false);
        click(10, 10);
        click(50, 10);
        click(50, 50);
        return stream(7).front();
    }
    MapPolygon& add_polygon(int s, const Points& vertices) {
        MapPolygon& polygon = stream(s).emplace_back();
        polygon.count = static_cast<int>(vertices.size());
        std::copy(vertices.begin(), vertices.end(), polygon.points.begin());
        return polygon;
    }
};

TEST_F(MapEditing, clicksLeaveFixedPointsBehindTheActivePoint_fromTheSecondReleaseOn) {
    AddPolygonOrDiscClick(map_model, map_editor, view, 7, false);
    click(10, 10);
    EXPECT_TRUE(stream(7).empty());
    click(50, 10);
    EXPECT_EQ((Points{{50, 10}, {50, 10}, {10, 10}}), points(stream(7).front()));
    click(50, 50);
    ASSERT_EQ(1u, stream(7).size());
    EXPECT_EQ((Points{{50, 50}, {50, 50}, {50, 10}, {10, 10}}), points(stream(7).front()));
    EXPECT_EQ("Stream 7, point 0 of 4 at 50, 50", view.status);
    EXPECT_EQ(MapCursor::Cross, view.cursor);
    EXPECT_TRUE(map_model.unsaved);

    // Full at 20: the next clicks only move the active point.
    for (int i = 0; i < 18; ++i) click(60 + 10 * i, (i % 2) * 50);
    EXPECT_EQ(20, stream(7).front().count);
    EXPECT_EQ((MapPoint{230, 50}), stream(7).front().points[0]);
    EXPECT_EQ((MapPoint{210, 50}), stream(7).front().points[1]);
    EXPECT_EQ(7, map_editor.edit_stream);
}

TEST_F(MapEditing, pressNearANeighbour_removesIt_andEndsTheEdit) {
    MapPolygon& polygon = draw_three_clicks();
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 53,
                      51);  // squared distance 10: not near
    ImageMapMouseUp(map_model, map_editor, view, 50,
                    50);  // back on the neighbour: nothing inserted
    EXPECT_EQ(4, polygon.count);
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 51, 52);
    EXPECT_EQ((Points{{51, 52}, {50, 10}, {10, 10}}), points(polygon));
    EXPECT_EQ(0, map_editor.edit_stream);
    EXPECT_EQ(MapCursor::Normal, view.cursor);
    ImageMapMouseUp(map_model, map_editor, view, 51, 52);
    EXPECT_EQ(3, polygon.count);

    // Near the first click, the last point goes.
    map_model = MapModel{};
    MapPolygon& again = draw_three_clicks();
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 11, 12);
    EXPECT_EQ((Points{{11, 12}, {50, 50}, {50, 10}}), points(again));
}

TEST_F(MapEditing, rightPressEndsKeepingTheLastRelease_andDeletingIsNoUnsavedChange) {
    MapPolygon& polygon = draw_three_clicks();
    const Points before = points(polygon);
    ImageMapMouseMove(map_model, map_editor, view, 120, 90);
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Right, 120, 90);
    EXPECT_EQ(before, points(polygon));
    EXPECT_EQ(0, map_editor.edit_stream);
    EXPECT_EQ("", view.status);

    map_model.unsaved = false;
    ASSERT_TRUE(polygon_selected(map_model, map_editor));
    ItemDeletePolygonClick(map_model, map_editor, view);
    EXPECT_EQ(0, polygon.count);
    EXPECT_FALSE(map_model.unsaved);
}

TEST_F(MapEditing, pressSelectsTheNearestVertexBelow100_andReleaseOutsideChangesNothing) {
    add_polygon(5, {{0, 0}, {100, 100}, {0, 100}});
    add_polygon(3, {{118, 100}, {200, 0}, {200, 100}});
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 109,
                      100);  // 81 from both: stream 3 is first
    EXPECT_EQ(3, map_editor.edit_stream);
    map_editor = MapEditor{};
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 100, 110);
    EXPECT_FALSE(polygon_selected(map_model, map_editor));
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 100, 109);
    EXPECT_EQ(5, map_editor.edit_stream);
    EXPECT_EQ(1, map_editor.active);

    ImageMapMouseMove(map_model, map_editor, view, 299, 120);
    ImageMapMouseUp(map_model, map_editor, view, 300, 120);
    EXPECT_EQ((Points{{0, 0}, {100, 100}, {0, 100}}), points(stream(5).front()));
    EXPECT_EQ(0, map_editor.edit_stream);
}

TEST_F(MapEditing, boxDraggedPastTheRightEdge_endsWithItsRightSideOnTheEdge) {
    CheckBoxMouseMove(map_editor, view, 51, {270, 50, 13, 13}, 2, 2);
    EXPECT_EQ("Detector 5.1", view.status);
    CheckBoxMouseDown(map_editor, view, 51, {270, 50, 13, 13}, 4, 5);
    EXPECT_EQ((MapPoint{310, 50}),
              CheckBoxMouseMove(map_editor, view, 51, {270, 50, 13, 13}, 44, 5));
    EXPECT_EQ(std::nullopt, CheckBoxMouseMove(map_editor, view, 52, {0, 0, 13, 13}, 44, 5));
    EXPECT_EQ((MapPoint{287, 50}),
              CheckBoxMouseUp(map_model, map_editor, view, 51, {310, 50, 13, 13}, 6, 5));
    EXPECT_EQ("Detector 5.1: 287, 50", view.status);
    EXPECT_TRUE(map_model.unsaved);
}

TEST_F(MapEditing, discsArePlacedFromTheMenu_andMoveOnlyWhileEditing) {
    AddPolygonOrDiscClick(map_model, map_editor, view, 3, true);
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 40, 60);
    EXPECT_EQ((Points{{40, 60}}), view.discs);
    // A vertex edit after a disc is a polygon edit: its next press adds no disc.
    add_polygon(3, {{100, 100}, {150, 100}, {150, 150}});
    click(100, 100);
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 120, 170);
    EXPECT_EQ(1u, view.discs.size());

    map_model.unsaved = false;
    DiscMouseDown(map_editor, view, 3, {35, 55, 11, 11}, 5, 5);
    EXPECT_EQ((MapPoint{295, 55}),
              DiscMouseMove(map_model, map_editor, view, 3, {35, 55, 11, 11}, 265, 5, true, false));
    EXPECT_EQ("Traffic light 3: 295, 55", view.status);
    EXPECT_TRUE(map_model.unsaved);
    EXPECT_EQ((MapPoint{289, 55}),
              DiscMouseUp(map_model, map_editor, view, 3, {295, 55, 11, 11}, 5, 5));

    SetEditMode(map_editor, view, false);
    EXPECT_EQ(std::nullopt,
              DiscMouseMove(map_model, map_editor, view, 3, {289, 55, 11, 11}, 0, 0, true, false));
}

TEST_F(MapEditing, editModeOff_endsEditAndDrag_andPressesDoNothing) {
    draw_three_clicks();
    CheckBoxMouseDown(map_editor, view, 12, {0, 0, 13, 13}, 1, 1);
    SetEditMode(map_editor, view, false);
    EXPECT_EQ(std::nullopt, CheckBoxMouseUp(map_model, map_editor, view, 12, {0, 0, 13, 13}, 1, 1));
    ImageMapMouseDown(map_model, map_editor, view, MouseButton::Left, 50, 50);  // on a vertex
    EXPECT_EQ(0, map_editor.edit_stream);
}

TEST(PointInPolygon, vertexColumnsAndEdgesAreOutside_inSinglePrecision) {
    MapPolygon square{4, {{{10, 10}, {20, 10}, {20, 20}, {10, 20}}}};
    EXPECT_TRUE(point_in_polygon(square, 15, 15));
    EXPECT_FALSE(point_in_polygon(square, 10, 15));
    EXPECT_FALSE(point_in_polygon(square, 15, 10));
    EXPECT_FALSE(point_in_polygon(square, 15, 20));
    EXPECT_FALSE(point_in_polygon(square, 15, 25));
    // At x = 1 the first edge is 1/10001 off y = 5000: on it once rounded to single precision.
    MapPolygon wedge{3, {{{0, 5000}, {10001, 5001}, {10001, 0}}}};
    EXPECT_FALSE(point_in_polygon(wedge, 1, 5000));
    EXPECT_TRUE(point_in_polygon(wedge, 3, 5000));
}

}  // namespace
}  // namespace ruvalda
