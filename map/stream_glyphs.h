// The stream glyphs of the sequence drawing: per stream its kind, whether the sequence serves
// it, the path its arrow follows, and the map placements the graphics file stores with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/streams.h"
#include "map/map_model.h"

namespace ruvalda {

constexpr int MAXLANES = 1;
constexpr int GLYPH_PATH_WORDS = 20;
constexpr int DETECTOR_SUBS = 10;  // sub-numbers 1..9; index 0 unused

// Path words. A point word always has bit 15 set, so no point is ever the end word 0.
constexpr std::uint16_t PATH_END = 0;
constexpr std::uint16_t PATH_IF = 0x1000;       // + stream: if the stream is present
constexpr std::uint16_t PATH_ELSE = 0x2000;     //
constexpr std::uint16_t PATH_ELSE_IF = 0x3000;  // + stream: else if the stream is present
constexpr std::uint16_t PATH_END_IF = 0x4000;
constexpr std::uint16_t PATH_POINT = 0x8000;  // x + 32 in bits 0..5, y + 32 in bits 6..11

// Glyph coordinates: x grows to the left, y upwards, both -32..31.
constexpr std::uint16_t path_point(int x, int y) {
    return static_cast<std::uint16_t>(PATH_POINT | (((y + 32) & 63) << 6) | ((x + 32) & 63));
}

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

// Entry 0 stays empty; 1..100 are the streams, one past the last stream as the sequence
// display numbers them.
constexpr int LAST_GLYPH = STREAM_COUNT;
constexpr int GLYPH_COUNT = LAST_GLYPH + 1;
using StreamGlyphs = std::array<StreamGlyph, GLYPH_COUNT>;
// The kind a stream number draws as (see StreamGlyph::kind).
int glyph_kind(int stream);

// Makes every glyph afresh: numbers, kinds and paths; lanes 0 and placements zeroed.
void BuildStreamGlyphs(StreamGlyphs& stream_glyphs);

// Marks a stream as served (1) or not (0); refuses other lanes values and streams outside
// 1..100. True when the value was taken.
bool set_glyph_lanes(StreamGlyphs& stream_glyphs, int stream, int lanes);

// The n-th point (from 0) of the glyph's path as its conditions leave it, judged against the
// lanes of the glyph table; no value when the path has no such point. Every point the path
// words can hold, (-32, -32) included, comes back as a point.
std::optional<MapPoint> GlyphPoint(StreamGlyphs& stream_glyphs, const StreamGlyph& glyph, int n);

// A recording canvas, so the drawing stays free of any window toolkit: the window replays the
// operations onto its 43 x 43 pictures. Coordinates are pixels of the picture, x to the right,
// y downwards. Colours are 0xRRGGBB.
//
// - Line: move to (x1, y1), line to (x2, y2): every pixel of the segment except (x2, y2)
//   itself, which is the next line's start. A window whose line includes the end pixel must
//   stop one pixel short.
// - RoundRect: the outline of the rectangle covering the pixels x1..x2-1 and y1..y2-1 (right
//   and bottom edges exclusive), its corners rounded by an ellipse of corner x corner pixels.
struct GlyphCanvas {
    struct Op {
        enum Kind { Line, RoundRect } kind;
        int x1, y1, x2, y2;
        std::uint32_t rgb;
        int corner;  // RoundRect only
        friend bool operator==(const Op&, const Op&) = default;
    };
    std::uint32_t pen = 0x000000;  // colour of the operations that follow
    std::vector<Op> ops;

    void line(int x1, int y1, int x2, int y2) { ops.push_back({Op::Line, x1, y1, x2, y2, pen, 0}); }
    void round_rect(int x1, int y1, int x2, int y2, int corner) {
        ops.push_back({Op::RoundRect, x1, y1, x2, y2, pen, corner});
    }
};

constexpr std::uint32_t GLYPH_BLACK = 0x000000;
constexpr std::uint32_t GLYPH_GREEN = 0x008000;

// One stream's arrow or crossing in a picture centred at (cx, cy): a glyph point (x, y) lands
// on the pixel (cx - x, cy - y). Streams outside 1..100 or with empty paths draw nothing.
void DrawStreamGlyph(StreamGlyphs& stream_glyphs, GlyphCanvas& canvas, int cx, int cy, int stream);

// One block picture centred at (cx, cy): its rounded frame, then the streams' glyphs from the
// last to the first.
void DrawBlock(StreamGlyphs& stream_glyphs, GlyphCanvas& canvas, int cx, int cy,
               const std::vector<int>& streams);

}  // namespace ruvalda
