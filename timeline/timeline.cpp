#include "timeline/timeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "engine/streams.h"

namespace ruvalda {

namespace {

// Geometry in pixels. Positions along the time axis are computed in tenths of a pixel
// ("decipixels") as integers, so neighbouring bars share their edge exactly and every number
// in the file has at most one decimal.
constexpr int WIDTH = 1400;
constexpr int PLOT_LEFT = 56;
constexpr int PLOT_WIDTH = 1320;
constexpr int FIRST_ROW = 58;  // top of the first stream's bar
constexpr int ROW_PITCH = 28;  // from one stream's bar to the next
constexpr int BAR_HEIGHT = 14;
constexpr int LANE_OFFSET = 17;  // detector lane, below the bar
constexpr int LANE_HEIGHT = 5;
constexpr int MIN_BAR = 3;        // decipixels: narrower colour intervals join the next one
constexpr int MIN_MARK = 10;      // decipixels: the narrowest detector mark
constexpr int MARK_JOIN_GAP = 5;  // decipixels: detector marks closer than this become one

constexpr const char* GREEN = "#2ca02c";
constexpr const char* AMBER = "#f2a900";
constexpr const char* RED = "#d62728";
constexpr const char* OTHER = "#8c8c8c";
constexpr const char* NO_COLOUR = "#e4e4e4";
constexpr const char* LANE = "#f1f1f1";
constexpr const char* OCCUPIED = "#1f4e9c";

struct Span {
    std::int64_t a, b;  // decipixels
    char colour;
};

enum class LabelStyle { SECONDS, MINUTES, HOURS };

std::string escape_xml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            case '"':
                out.append("&quot;");
                break;
            case '\'':
                out.append("&apos;");
                break;
            default:
                // Control characters other than tab and line ends are not allowed in XML.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                    out.push_back(c);
        }
    }
    return out;
}

// Decipixels as SVG text: "123" or "123.4".
std::string px(std::int64_t dp) {
    char text[32];
    if (dp < 0)
        std::snprintf(text, sizeof text, "-%s", px(-dp).c_str());
    else if (dp % 10 == 0)
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(dp / 10));
    else
        std::snprintf(text, sizeof text, "%lld.%lld", static_cast<long long>(dp / 10),
                      static_cast<long long>(dp % 10));
    return text;
}

std::string num(long long value) {
    return std::to_string(value);
}

const char* fill_of(char colour) {
    switch (colour) {
        case 'G':
            return GREEN;
        case 'Y':
            return AMBER;
        case 'R':
            return RED;
        default:
            return OTHER;
    }
}

// Tick steps in tenths; neighbours differ by at most 2.5 times, so the first step that gives at
// most 15 ticks gives at least 6.
std::int64_t tick_step(std::int64_t span) {
    static const std::int64_t steps[] = {1,     2,     5,     10,     20,     50,     100,
                                         150,   300,   600,   1200,   3000,   6000,   9000,
                                         18000, 36000, 72000, 108000, 216000, 432000, 864000};
    for (std::int64_t step : steps)
        if (span / step <= 15) return step;
    std::int64_t step = 864000;
    while (span / step > 15) step *= 2;
    return step;
}

LabelStyle label_style(std::int64_t from, std::int64_t to) {
    if (to - from <= 3000) return LabelStyle::SECONDS;
    return to < 36000 ? LabelStyle::MINUTES : LabelStyle::HOURS;
}

std::string time_label(std::int64_t tenths, LabelStyle style) {
    char text[48];
    const long long t = tenths;
    if (style == LabelStyle::SECONDS) {
        if (t % 10 == 0)
            std::snprintf(text, sizeof text, "%lld", t / 10);
        else
            std::snprintf(text, sizeof text, "%lld.%lld", t / 10, t % 10);
    } else {
        const long long s = t / 10;
        if (style == LabelStyle::MINUTES)
            std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
        else
            std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    }
    return text;
}

std::string seconds_text(std::int64_t tenths) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%lld s", static_cast<long long>(tenths / 10),
                  static_cast<long long>(tenths % 10));
    return text;
}

std::string two_digits(int stream) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", stream);
    return text;
}

// The colour intervals of one stream's changes (sorted by time), clipped to the window, in
// decipixels; equal neighbours are one interval, and an interval too narrow to see is drawn as
// part of the one after it.
std::vector<Span> colour_spans(const std::vector<std::pair<std::int32_t, char>>& changes,
                               std::int64_t from, std::int64_t to, auto&& x) {
    std::vector<Span> spans;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const std::int64_t start = std::max<std::int64_t>(changes[i].first, from);
        const std::int64_t end =
            std::min<std::int64_t>(i + 1 < changes.size() ? changes[i + 1].first : to, to);
        if (end <= start) continue;
        Span s{x(start), x(end), changes[i].second};
        if (!spans.empty() && spans.back().colour == s.colour && spans.back().b == s.a)
            spans.back().b = s.b;
        else
            spans.push_back(s);
    }
    std::vector<Span> out;
    std::int64_t carry = -1;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        Span s = spans[i];
        if (carry >= 0) s.a = carry, carry = -1;
        if (s.b - s.a < MIN_BAR) {
            if (i + 1 < spans.size()) {
                carry = s.a;
                continue;
            }
            if (!out.empty() && out.back().b == s.a) {
                out.back().b = s.b;
                continue;
            }
            if (s.b == s.a) continue;
        }
        if (!out.empty() && out.back().colour == s.colour && out.back().b == s.a)
            out.back().b = s.b;
        else
            out.push_back(s);
    }
    return out;
}

// One path of rectangles of the same height.
std::string rect_path(const std::vector<std::pair<std::int64_t, std::int64_t>>& spans, int y,
                      int height) {
    std::string d;
    for (const auto& [a, b] : spans) {
        const std::string w = px(b - a);
        d.append("M").append(px(a)).append(" ").append(num(y)).append("h").append(w);
        d.append("v").append(num(height)).append("h-").append(w).append("z");
    }
    return d;
}

}  // namespace

void TimelineRecorder::colour(std::int32_t time, int stream, char colour) {
    colours.push_back({time, stream, colour});
}

void TimelineRecorder::detector(std::int32_t time, int detector, int state) {
    detectors.push_back({time, detector, state});
}

void TimelineRecorder::violation(std::int32_t time, int stream_a, int stream_b, int shortfall) {
    violations.push_back({time, stream_a, stream_b, shortfall});
}

std::string TimelineRecorder::svg(std::int32_t from_time, std::int32_t to_time) const {
    const std::int64_t from = from_time;
    const std::int64_t to = std::max<std::int64_t>(to_time, from + 1);
    const std::int64_t span = to - from;
    auto x = [&](std::int64_t t) {
        return PLOT_LEFT * 10 + ((t - from) * PLOT_WIDTH * 10 * 2 + span) / (2 * span);
    };
    const std::int64_t plot_right = (PLOT_LEFT + PLOT_WIDTH) * 10;

    // The streams and, per stream, its colour changes in time order.
    std::map<int, std::vector<std::pair<std::int32_t, char>>> changes;
    auto valid = [](int stream) { return is_stream(stream); };
    std::vector<ColourChange> sorted = colours;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const ColourChange& l, const ColourChange& r) { return l.time < r.time; });
    for (const ColourChange& c : sorted)
        if (valid(c.stream)) changes[c.stream].emplace_back(c.time, c.colour);

    // Occupancy per stream: from the first of its detectors rising to the last one falling.
    std::vector<DetectorChange> events = detectors;
    std::stable_sort(
        events.begin(), events.end(),
        [](const DetectorChange& l, const DetectorChange& r) { return l.time < r.time; });
    std::map<int, std::vector<std::pair<std::int64_t, std::int64_t>>> occupied;
    std::map<int, bool> detector_on;
    std::map<int, int> occupied_count;
    std::map<int, std::int64_t> occupied_since;
    for (const DetectorChange& e : events) {
        const int stream = e.detector / 10;
        if (!is_stream(stream)) continue;
        changes[stream];
        bool& on = detector_on[e.detector];
        if (on == (e.state != 0)) continue;
        on = e.state != 0;
        int& count = occupied_count[stream];
        if (on && count++ == 0) occupied_since[stream] = e.time;
        if (!on && --count == 0) occupied[stream].emplace_back(occupied_since[stream], e.time);
    }
    for (const auto& [stream, count] : occupied_count)
        if (count > 0) occupied[stream].emplace_back(occupied_since[stream], to);
    for (const Violation& v : violations) {
        if (valid(v.stream_a)) changes[v.stream_a];
        if (valid(v.stream_b)) changes[v.stream_b];
    }

    std::map<int, int> row_of;
    for (const auto& [stream, list] : changes)
        row_of.emplace(stream, static_cast<int>(row_of.size()));
    auto row_y = [](int row) { return FIRST_ROW + row * ROW_PITCH; };
    const int rows = static_cast<int>(row_of.size());
    const int rows_bottom = rows > 0 ? row_y(rows - 1) + LANE_OFFSET + LANE_HEIGHT : FIRST_ROW + 20;
    const int axis_y = rows_bottom + 6;
    const int height = axis_y + 40;

    const LabelStyle style = label_style(from, to);
    const std::int64_t step = tick_step(span);
    std::vector<const Violation*> shown;
    for (const Violation& v : violations)
        if (v.time >= from && v.time <= to && valid(v.stream_a) && valid(v.stream_b))
            shown.push_back(&v);

    std::string out;
    out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out.append("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"")
        .append(num(WIDTH))
        .append("\" height=\"")
        .append(num(height))
        .append("\" viewBox=\"0 0 ")
        .append(num(WIDTH))
        .append(" ")
        .append(num(height))
        .append("\">\n");
    out.append(
        "<style>text{font-family:DejaVu Sans,Arial,sans-serif;font-size:12px;fill:#222}"
        ".title{font-size:16px;font-weight:bold}.note{fill:#666}.caption{font-size:11px;fill:#666;"
        "text-anchor:end}.tick{font-size:11px;"
        "text-anchor:middle}.row{text-anchor:end;font-weight:bold}"
        "circle{fill:#000;stroke:#fff;stroke-width:1.5}</style>\n");
    out.append("<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");

    // Heading: title, window and counts on the left, legend on the right.
    out.append("<text class=\"title\" x=\"")
        .append(num(PLOT_LEFT))
        .append("\" y=\"22\">")
        .append(escape_xml(title.empty() ? "Signal timeline" : title))
        .append("</text>\n");
    std::string note = "window ";
    if (style == LabelStyle::SECONDS)
        note.append(seconds_text(from)).append(" to ").append(seconds_text(to));
    else
        note.append(time_label(from, style)).append(" to ").append(time_label(to, style));
    note.append(", ").append(num(rows)).append(rows == 1 ? " stream" : " streams");
    note.append(", ").append(num(static_cast<long long>(shown.size())));
    note.append(shown.size() == 1 ? " violation" : " violations");
    out.append("<text class=\"note\" x=\"")
        .append(num(PLOT_LEFT))
        .append("\" y=\"42\">")
        .append(note)
        .append("</text>\n");
    {
        struct Key {
            const char* fill;
            const char* label;
        };
        const Key keys[] = {{GREEN, "green"},
                            {AMBER, "amber"},
                            {RED, "red"},
                            {NO_COLOUR, "no colour yet"},
                            {OCCUPIED, "detector occupied"}};
        // Laid out from the right edge leftwards, 7 px per letter.
        int x = PLOT_LEFT + PLOT_WIDTH - 78;
        std::string legend = "<g id=\"legend\">";
        legend.append("<path d=\"M")
            .append(num(x + 4))
            .append(" 28v14\" stroke=\"#000\" stroke-width=\"2\"/><circle cx=\"")
            .append(num(x + 4))
            .append("\" cy=\"35\" r=\"4\"/><text x=\"")
            .append(num(x + 14))
            .append("\" y=\"40\">violation</text>");
        for (int i = 4; i >= 0; --i) {
            x -= 24 + static_cast<int>(std::strlen(keys[i].label)) * 7;
            const int h = i == 4 ? LANE_HEIGHT : 12;
            legend.append("<rect x=\"")
                .append(num(x))
                .append("\" y=\"")
                .append(num(i == 4 ? 33 : 29))
                .append("\" width=\"12\" height=\"")
                .append(num(h))
                .append("\" fill=\"")
                .append(keys[i].fill)
                .append("\"/><text x=\"")
                .append(num(x + 16))
                .append("\" y=\"40\">")
                .append(keys[i].label)
                .append("</text>");
        }
        out.append(legend).append("</g>\n");
    }

    // Grid lines and tick labels.
    const char* caption = style == LabelStyle::SECONDS   ? "time (s)"
                          : style == LabelStyle::MINUTES ? "time (m:ss)"
                                                         : "time (h:mm:ss)";
    std::string grid, labels;
    std::int64_t first = from >= 0 ? (from + step - 1) / step * step : -(-from / step * step);
    for (std::int64_t t = first; t <= to; t += step) {
        const std::string tx = px(x(t));
        grid.append("M").append(tx).append(" ").append(num(FIRST_ROW - 4));
        grid.append("V").append(num(axis_y));
        labels.append("<text class=\"tick\" x=\"")
            .append(tx)
            .append("\" y=\"")
            .append(num(axis_y + 16))
            .append("\">")
            .append(time_label(t, style))
            .append("</text>\n");
    }
    out.append("<path id=\"grid\" d=\"")
        .append(grid)
        .append("\" stroke=\"#d0d0d0\" stroke-width=\"1\"/>\n");
    out.append("<path id=\"axis\" d=\"M")
        .append(num(PLOT_LEFT))
        .append(" ")
        .append(num(axis_y))
        .append("h")
        .append(num(PLOT_WIDTH))
        .append("\" stroke=\"#444\"/>\n");
    out.append("<g id=\"ticks\">\n").append(labels).append("</g>\n");
    out.append("<text class=\"caption\" x=\"")
        .append(num(PLOT_LEFT + PLOT_WIDTH))
        .append("\" y=\"")
        .append(num(axis_y + 31))
        .append("\">")
        .append(caption)
        .append("</text>\n");
    if (rows == 0)
        out.append("<text class=\"note\" x=\"")
            .append(num(PLOT_LEFT + 8))
            .append("\" y=\"")
            .append(num(FIRST_ROW + 12))
            .append("\">no signal streams recorded</text>\n");

    // One row per stream: label, the grey "no colour yet" ground, the colour bars over it, and
    // the detector lane beneath.
    for (const auto& [stream, list] : changes) {
        const int y = row_y(row_of[stream]);
        std::string id = "s";
        id.append(two_digits(stream));
        out.append("<g id=\"").append(id).append("\">");
        out.append("<text class=\"row\" x=\"")
            .append(num(PLOT_LEFT - 8))
            .append("\" y=\"")
            .append(num(y + 12))
            .append("\">")
            .append(two_digits(stream))
            .append("</text>");
        out.append("<rect x=\"")
            .append(num(PLOT_LEFT))
            .append("\" y=\"")
            .append(num(y))
            .append("\" width=\"")
            .append(num(PLOT_WIDTH))
            .append("\" height=\"")
            .append(num(BAR_HEIGHT))
            .append("\" fill=\"")
            .append(NO_COLOUR)
            .append("\"/>");
        out.append("<rect x=\"")
            .append(num(PLOT_LEFT))
            .append("\" y=\"")
            .append(num(y + LANE_OFFSET))
            .append("\" width=\"")
            .append(num(PLOT_WIDTH))
            .append("\" height=\"")
            .append(num(LANE_HEIGHT))
            .append("\" fill=\"")
            .append(LANE)
            .append("\"/>\n");
        // Bars grouped by colour, one path each, in the order the colours first show.
        std::vector<char> order;
        std::map<char, std::vector<std::pair<std::int64_t, std::int64_t>>> by_colour;
        for (const Span& s : colour_spans(list, from, to, x)) {
            if (!by_colour.count(s.colour)) order.push_back(s.colour);
            by_colour[s.colour].emplace_back(s.a, s.b);
        }
        for (char c : order) {
            std::string colour_id = id;
            colour_id.append("-");
            if (c == 'G' || c == 'Y' || c == 'R')
                colour_id.push_back(c);
            else
                colour_id.append("x").append(num(static_cast<unsigned char>(c)));
            out.append("<path id=\"")
                .append(colour_id)
                .append("\" fill=\"")
                .append(fill_of(c))
                .append("\" d=\"")
                .append(rect_path(by_colour[c], y, BAR_HEIGHT))
                .append("\"/>\n");
        }
        // Detector marks, at least a pixel wide; marks that touch on screen are one mark.
        std::vector<std::pair<std::int64_t, std::int64_t>> marks;
        for (auto [start, end] : occupied[stream]) {
            if (start > to || end < from || (end == from && start < from)) continue;
            std::int64_t a = x(std::max(start, from)), b = x(std::min(end, to));
            if (b - a < MIN_MARK) {
                b = a + MIN_MARK;
                if (b > plot_right) a = plot_right - MIN_MARK, b = plot_right;
            }
            if (!marks.empty() && a <= marks.back().second + MARK_JOIN_GAP)
                marks.back().second = std::max(marks.back().second, b);
            else
                marks.emplace_back(a, b);
        }
        if (!marks.empty())
            out.append("<path id=\"")
                .append(id)
                .append("-det\" fill=\"")
                .append(OCCUPIED)
                .append("\" d=\"")
                .append(rect_path(marks, y + LANE_OFFSET, LANE_HEIGHT))
                .append("\"/>\n");
        out.append("</g>\n");
    }

    // Violations last, over everything: a black line with a white edge through both streams'
    // rows, a dot on each of the two streams' bars, the details in the tooltip.
    for (const Violation* v : shown) {
        const int ra = row_of[v->stream_a], rb = row_of[v->stream_b];
        const int top = row_y(std::min(ra, rb)) - 4;
        const int bottom = row_y(std::max(ra, rb)) + LANE_OFFSET + LANE_HEIGHT + 2;
        const std::string vx = px(x(v->time));
        std::string tip = "conflict ";
        tip.append(two_digits(v->stream_a)).append("/").append(two_digits(v->stream_b));
        tip.append(" at ").append(seconds_text(v->time));
        tip.append(": short by ").append(seconds_text(v->shortfall));
        std::string line = "<path d=\"M";
        line.append(vx).append(" ").append(num(top)).append("V").append(num(bottom));
        out.append("<g class=\"violation\"><title>").append(tip).append("</title>");
        out.append(line).append("\" stroke=\"#fff\" stroke-width=\"4\"/>");
        out.append(line).append("\" stroke=\"#000\" stroke-width=\"2\"/>");
        for (int row : {ra, rb})
            out.append("<circle cx=\"")
                .append(vx)
                .append("\" cy=\"")
                .append(num(row_y(row) + BAR_HEIGHT / 2))
                .append("\" r=\"5\"/>");
        out.append("</g>\n");
    }
    out.append("</svg>\n");
    return out;
}

bool TimelineRecorder::write_svg(const std::string& path, std::int32_t from, std::int32_t to,
                                 std::string* error) const {
    if (to <= from) {
        if (error) *error = "empty time window: the end must come after the start";
        return false;
    }
    const std::string text = svg(from, to);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        if (error)
            error->assign("cannot write ").append(path).append(": ").append(std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        if (error)
            error->assign("cannot write ").append(path).append(": ").append(std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace ruvalda
