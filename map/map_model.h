// The drawing of an intersection as the map window keeps it: polygons per stream, the colour
// letter per stream, the picture's size and file. Plain data, shared by the graphics file,
// map editing and the window.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <string>

#include "engine/streams.h"

namespace ruvalda {

constexpr int MAP_STREAMS = STREAM_COUNT;  // stream numbers 0..99
constexpr int MAX_POLYGON_POINTS = 20;     // points of one polygon

struct MapPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const MapPoint&, const MapPoint&) = default;
};

// A polygon read from a file has 3..20 points; editing may lower the count: 0 is neither
// drawn nor saved, 1 or 2 are drawn as a line and not saved.
struct MapPolygon {
    std::int32_t count = 0;
    std::array<MapPoint, MAX_POLYGON_POINTS> points{};
    friend bool operator==(const MapPolygon&, const MapPolygon&) = default;
};

struct MapModel {
    // Per stream, in the order added; a list, so a selected polygon stays where it is while
    // others are added.
    std::array<std::list<MapPolygon>, MAP_STREAMS> polygons;
    std::array<char, MAP_STREAMS> colour;  // 'G', 'R' or 'Y'
    // The picture the polygons are drawn on; the size before any picture is loaded is the
    // empty image's.
    std::int32_t picture_width = 621;
    std::int32_t picture_height = 593;
    bool jpeg = false;          // a ".jpg" picture was named; selects the placement pairs
    std::string picture_file;   // the picture file's name as held by the picture dialog
    std::string graphics_file;  // the graphics file of the last load
    bool unsaved = false;       // the drawing changed since the last load or save
    bool crlf = false;          // the file read last ended every line with CR LF: saved alike

    MapModel() { colour.fill('R'); }
};

// A coordinate v of an object of extent w kept inside a picture of extent `size`: 0 when
// negative, v when v + w fits, else size - w.
std::int32_t clamp_to_picture(std::int32_t v, std::int32_t w, std::int32_t size);

// A polygon vertex kept inside the picture: negative gives 0, v + 1 >= size gives size - 1.
MapPoint clamp_vertex(MapPoint p, std::int32_t width, std::int32_t height);

}  // namespace ruvalda
