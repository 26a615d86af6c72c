// The stream glyphs of the sequence drawing: per stream its kind, whether the sequence serves
// it, the path its arrow follows, and the map placements the graphics file stores with it.
#pragma once

#include <array>
#include <cstdint>

#include "map/map_model.h"

namespace ruvalda {

constexpr int MAXLANES = 1;
constexpr int GLYPH_PATH_WORDS = 20;
constexpr int DETECTOR_SUBS = 10;  // sub-numbers 1..9; index 0 unused

struct StreamGlyph {
    int number = 0;
    int kind = 0;   // 0 arrow, 1 arrow, 2 crossing, 3 green arrow, -1 nothing
    int lanes = 0;  // 1: the sequence serves the stream
    std::array<std::uint16_t, GLYPH_PATH_WORDS> path{};
    // Placements kept for the graphics file: light disc centre and detector box corners, one
    // pair for JPEG pictures and one for bitmaps.
    MapPoint light_jpeg, light_bitmap;
    std::array<MapPoint, DETECTOR_SUBS> box_jpeg{}, box_bitmap{};
};

// Entry 0 stays empty; 1..100 are the streams.
extern std::array<StreamGlyph, 101> stream_glyphs;

}  // namespace ruvalda
