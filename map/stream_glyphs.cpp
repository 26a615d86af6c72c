#include "map/stream_glyphs.h"

#include <cstdlib>
#include <span>

namespace ruvalda {

namespace {

// One word of a path as drawn for approach 0; the condition words take the row's condition
// stream of the approach being built.
struct Step {
    enum Op { P, IF, ELSE, ELSE_IF, END_IF } op;
    int x, y;
};

using enum Step::Op;

// A row of glyphs: one path shape, turned a quarter per approach. Streams by approach 0..3.
struct GlyphRow {
    std::array<int, 4> streams;
    std::array<int, 4> if_streams;
    std::array<int, 4> else_if_streams;
    std::span<const Step> steps;
};

constexpr Step RIGHT_TURN[] = {{P, -21, 9}, {P, -20, 9}, {P, -7, 9}, {P, -7, 21}};
constexpr Step STRAIGHT[] = {{P, -21, 7},  {P, -20, 7}, {IF, 0, 0},    {P, -1, 7},
                             {ELSE, 0, 0}, {P, 21, 7},  {END_IF, 0, 0}};
constexpr Step LEFT_TURN[] = {{P, -21, 5}, {P, -20, 5},   {IF, 0, 0},   {P, -1, 5}, {ELSE_IF, 0, 0},
                              {P, 7, 5},   {P, 7, 1},     {ELSE, 0, 0}, {P, -5, 5}, {P, -5, 3},
                              {P, -1, 3},  {P, -1, -5},   {P, 3, -5},   {P, 3, -7}, {P, 7, -7},
                              {P, 7, -21}, {END_IF, 0, 0}};
constexpr Step CYCLE_SECOND[] = {{P, 0, 13}, {P, 20, 13}, {P, 21, 13}};
constexpr Step CYCLE_FIRST[] = {{P, -21, 13}, {P, -10, 13}, {IF, 0, 0},  {P, 0, 13},
                                {ELSE, 0, 0}, {P, 20, 13},  {P, 21, 13}, {END_IF, 0, 0}};
constexpr Step WALK_SECOND[] = {{P, 0, 17}, {P, 21, 17}};
constexpr Step WALK_FIRST[] = {{P, -21, 17}, {IF, 0, 0},  {P, 0, 17},
                               {ELSE, 0, 0}, {P, 21, 17}, {END_IF, 0, 0}};
constexpr Step TRAM_RIGHT[] = {{P, -21, 3}, {P, -20, 3}, {P, -19, 3}, {P, -9, 3},
                               {P, -9, 5},  {P, -3, 5},  {P, -3, 20}, {P, -3, 21}};
constexpr Step TRAM_STRAIGHT[] = {{P, -21, 3}, {P, -20, 3}, {P, -19, 3}, {P, 20, 3}, {P, 21, 3}};
constexpr Step TRAM_LEFT[] = {{P, -21, 3}, {P, -20, 3}, {P, -19, 3}, {P, -9, 3}, {P, -9, 1},
                              {P, -3, 1},  {IF, 0, 0},  {P, -3, -3}, {P, 3, -3}, {ELSE, 0, 0},
                              {P, -3, -7}, {P, 1, -7},  {P, 1, -9},  {P, 3, -9}, {END_IF, 0, 0},
                              {P, 3, -20}, {P, 3, -21}};
constexpr Step STRAIGHT_ON[] = {{P, -1, 7}, {P, 1, 7}, {P, 21, 7}};
constexpr Step LEFT_ON[] = {{P, -1, 5}, {P, 1, 5},    {P, 7, 5},   {IF, 0, 0},
                            {P, 7, 1},  {ELSE, 0, 0}, {P, 7, -21}, {END_IF, 0, 0}};

constexpr std::array<int, 4> NONE = {0, 0, 0, 0};

// The second-stage streams: served straight on or turning left after the first stop line.
constexpr std::array<int, 4> STRAIGHT_ON_STREAMS = {62, 65, 68, 71};
constexpr std::array<int, 4> LEFT_ON_STREAMS = {63, 66, 69, 72};
// The straight-on stream of the approach to the left, which a left turn then drives along.
constexpr std::array<int, 4> LEFT_APPROACH_STRAIGHT = {71, 62, 65, 68};

// Cycle and walk streams are numbered from approach 1; their last pair is approach 0.
const GlyphRow ROWS[] = {
    {{1, 4, 7, 10}, NONE, NONE, RIGHT_TURN},
    {{2, 5, 8, 11}, STRAIGHT_ON_STREAMS, NONE, STRAIGHT},
    {{3, 6, 9, 12}, LEFT_ON_STREAMS, LEFT_APPROACH_STRAIGHT, LEFT_TURN},
    {{27, 21, 23, 25}, NONE, NONE, CYCLE_SECOND},
    {{28, 22, 24, 26}, {27, 21, 23, 25}, NONE, CYCLE_FIRST},
    {{37, 31, 33, 35}, NONE, NONE, WALK_SECOND},
    {{38, 32, 34, 36}, {37, 31, 33, 35}, NONE, WALK_FIRST},
    {{41, 44, 47, 50}, NONE, NONE, TRAM_RIGHT},
    {{42, 45, 48, 51}, NONE, NONE, TRAM_STRAIGHT},
    {{43, 46, 49, 52}, LEFT_ON_STREAMS, NONE, TRAM_LEFT},
    {STRAIGHT_ON_STREAMS, NONE, NONE, STRAIGHT_ON},
    {LEFT_ON_STREAMS, LEFT_APPROACH_STRAIGHT, NONE, LEFT_ON},
};

// A point turned q quarters.
MapPoint turned(int x, int y, int q) {
    switch (q) {
        case 1:
            return {-y, x};
        case 2:
            return {-x, -y};
        case 3:
            return {y, -x};
        default:
            return {x, y};
    }
}

void build_path(StreamGlyph& glyph, const GlyphRow& row, int q) {
    std::size_t w = 0;
    for (const Step& step : row.steps) {
        std::uint16_t word = PATH_END;
        switch (step.op) {
            case P: {
                const MapPoint p = turned(step.x, step.y, q);
                word = path_point(p.x, p.y);
                break;
            }
            case IF:
                word = static_cast<std::uint16_t>(PATH_IF + row.if_streams[q]);
                break;
            case ELSE:
                word = PATH_ELSE;
                break;
            case ELSE_IF:
                word = static_cast<std::uint16_t>(PATH_ELSE_IF + row.else_if_streams[q]);
                break;
            case END_IF:
                word = PATH_END_IF;
                break;
        }
        glyph.path[w++] = word;
    }
}

bool present(StreamGlyphs& stream_glyphs, int stream) {
    return stream >= 1 && stream <= LAST_GLYPH && stream_glyphs[stream].lanes == 1;
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

}  // namespace

int glyph_kind(int stream) {
    if (stream < 20 || (stream >= 61 && stream <= 80)) return 0;
    if (stream <= 29) return 3;
    if (stream <= 39) return 2;
    if ((stream >= 41 && stream <= 52) || (stream >= 81 && stream <= 92)) return 1;
    return -1;
}

void BuildStreamGlyphs(StreamGlyphs& stream_glyphs) {
    for (int s = 0; s <= LAST_GLYPH; ++s) {
        stream_glyphs[s] = StreamGlyph{};
        if (s == 0) continue;
        stream_glyphs[s].number = s;
        stream_glyphs[s].kind = glyph_kind(s);
    }
    for (const GlyphRow& row : ROWS)
        for (int q = 0; q < 4; ++q) build_path(stream_glyphs[row.streams[q]], row, q);
}

bool set_glyph_lanes(StreamGlyphs& stream_glyphs, int stream, int lanes) {
    if (stream < 1 || stream > LAST_GLYPH || lanes < 0 || lanes > MAXLANES) return false;
    stream_glyphs[stream].lanes = lanes;
    return true;
}

std::optional<MapPoint> GlyphPoint(StreamGlyphs& stream_glyphs, const StreamGlyph& glyph, int n) {
    bool active = true;
    bool taken = false;
    for (const std::uint16_t word : glyph.path) {
        if (word == PATH_END) return std::nullopt;
        if (word & PATH_POINT) {
            if (!active) continue;
            if (n == 0) return MapPoint{(word & 63) - 32, ((word >> 6) & 63) - 32};
            --n;
            continue;
        }
        const int stream = word & 0x0FFF;
        switch (word & 0x7000) {
            case PATH_IF:
                taken = present(stream_glyphs, stream);
                active = taken;
                break;
            case PATH_ELSE:
                active = !taken;
                break;
            case PATH_ELSE_IF:
                if (active) {
                    active = false;
                } else if (!taken) {
                    active = present(stream_glyphs, stream);
                    if (active) taken = true;
                }
                break;
            case PATH_END_IF:
                active = true;
                break;
            default:
                break;  // no other word is built
        }
    }
    return std::nullopt;
}

void DrawStreamGlyph(StreamGlyphs& stream_glyphs, GlyphCanvas& canvas, int cx, int cy, int stream) {
    if (stream < 1 || stream > LAST_GLYPH) return;
    const StreamGlyph& glyph = stream_glyphs[stream];
    canvas.pen = glyph.kind == 3 ? GLYPH_GREEN : GLYPH_BLACK;

    // The active points, at most one per path word.
    std::array<MapPoint, GLYPH_PATH_WORDS> points;
    int count = 0;
    while (count < GLYPH_PATH_WORDS) {
        const std::optional<MapPoint> p = GlyphPoint(stream_glyphs, glyph, count);
        if (!p) break;
        points[count++] = *p;
    }
    if (count == 0) return;
    auto line = [&](MapPoint a, MapPoint b) {
        canvas.line(cx - a.x, cy - a.y, cx - b.x, cy - b.y);
    };

    if (glyph.kind == 2) {
        MapPoint c = points[0];
        for (int n = 1; n < count; ++n) {
            const MapPoint q = points[n];
            if (q == c) continue;
            const int dx = sign(q.x - c.x), dy = sign(q.y - c.y);
            // A fixed step reaches the point only along an axis or a diagonal; the count of
            // steps bounds the walk for any other direction.
            const int steps = std::max(std::abs(q.x - c.x), std::abs(q.y - c.y));
            MapPoint at = c;
            for (int i = 0; i < steps && !(at == q); ++i) {
                const int sx = cx - at.x, sy = cy - at.y;
                if (dx == 0 && at.y % 2 == 0) canvas.line(sx - 1, sy, sx + 2, sy);
                if (dy == 0 && at.x % 2 == 0) canvas.line(sx, sy - 1, sx, sy + 2);
                at.x += dx;
                at.y += dy;
            }
            c = q;
        }
        return;
    }

    // An arrow: 8 units along the start of the path, 5 along its first turn, and a head.
    const MapPoint p0 = points[0];
    int first = 1;
    while (first < count && points[first] == p0) ++first;
    if (first == count) return;  // a path of one place has no direction
    MapPoint d{sign(points[first].x - p0.x), sign(points[first].y - p0.y)};
    const MapPoint a{p0.x + 8 * d.x, p0.y + 8 * d.y};
    line(p0, a);
    MapPoint c = points[first];
    for (int n = first + 1; n < count; ++n) {
        const MapPoint q = points[n];
        if (q == c) continue;
        const MapPoint e{sign(q.x - c.x), sign(q.y - c.y)};
        if (e.x != d.x && e.y != d.y) {
            d = e;
            break;
        }
        c = q;
    }
    const MapPoint b{a.x + 5 * d.x, a.y + 5 * d.y};
    line(a, b);
    if (d.x != 0) {
        line(b, {b.x - 4 * d.x, b.y + 2});
        line(b, {b.x - 4 * d.x, b.y - 2});
    } else {
        line(b, {b.x + 2, b.y - 4 * d.y});
        line(b, {b.x - 2, b.y - 4 * d.y});
    }
}

void DrawBlock(StreamGlyphs& stream_glyphs, GlyphCanvas& canvas, int cx, int cy,
               const std::vector<int>& streams) {
    canvas.pen = GLYPH_BLACK;
    canvas.round_rect(cx - 21, cy - 21, cx + 22, cy + 22, 2);
    for (auto s = streams.rbegin(); s != streams.rend(); ++s)
        DrawStreamGlyph(stream_glyphs, canvas, cx, cy, *s);
}

}  // namespace ruvalda
