#include "map/graphics_file.h"

#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "engine/eval.h"
#include "loader/text.h"

namespace ruvalda {

namespace {

constexpr const char* LOAD_WHERE = "Load graphics";
constexpr const char* SAVE_WHERE = "TFormMap::SaveGraphics";

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

const char* skip_space(const char* text) {
    while (is_space(*text)) ++text;
    return text;
}

// A number as scanf's %d reads it: white space, an optional sign, digits. Values beyond int
// are held at its ends.
bool scan_number(const char* text, int* value, const char** end) {
    const char* c = skip_space(text);
    if (*c == '+' && c[1] >= '0' && c[1] <= '9') ++c;
    long v = 0;
    if (!parse_decimal(c, &v, end)) return false;
    *value = static_cast<int>(v);
    return true;
}

// Scans after a pattern of "%d", white space (matching any run of white space, also none) and
// literal characters, as sscanf does. Returns how many numbers were read before the first
// mismatch; *end is the place after the pattern when all of it matched, else null.
int scan(const char* text, const char* pattern, int* values, const char** end) {
    int count = 0;
    *end = nullptr;
    while (*pattern) {
        if (pattern[0] == '%' && pattern[1] == 'd') {
            if (!scan_number(text, &values[count], &text)) return count;
            ++count;
            pattern += 2;
        } else if (is_space(*pattern)) {
            text = skip_space(text);
            ++pattern;
        } else {
            if (*text != *pattern) return count;
            ++text;
            ++pattern;
        }
    }
    *end = text;
    return count;
}

std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_limited(MESSAGE_LIMIT, format, args);
    va_end(args);
    return text;
}

// How a file ends its lines, as far as read: with CR LF throughout, or not.
struct LineEnds {
    bool any = false;
    bool all_crlf = true;
    bool crlf() const { return any && all_crlf; }
};

// Reads one line without its line feed. Characters beyond the limit are skipped up to the line
// feed, so an overlong line never spills into the next one. False at the end of the file.
bool read_line(std::FILE* file, char* buffer, LineEnds& ends) {
    std::size_t length = 0;
    int c = 0, previous = 0;
    bool any = false;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n') {
            ends.any = true;
            ends.all_crlf = ends.all_crlf && previous == '\r';
            break;
        }
        if (length < GRAPHICS_LINE_LIMIT) buffer[length++] = static_cast<char>(c);
        previous = c;
    }
    buffer[length] = '\0';
    return any;
}

void trim_trailing_space(char* line) {
    std::size_t length = std::strlen(line);
    while (length > 0 && is_space(line[length - 1])) line[--length] = '\0';
}

// The extension of the last part of a name, "" when it has none.
std::string extension_of(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return name.substr(dot);
}

// The reading of one file: line handlers share the names for their messages.
class GraphicsReader {
  public:
    GraphicsReader(MapModel& map_model, StreamGlyphs& stream_glyphs, OutputState& output,
                   std::string file, std::string directory, GraphicsSink& sink)
        : map_model_(map_model),
          stream_glyphs_(stream_glyphs),
          output_(output),
          file_(std::move(file)),
          directory_(std::move(directory)),
          sink_(sink) {}

    // False stops reading.
    bool handle(int line_number, const char* line) {
        line_ = line_number;
        if (std::strncmp(line, "mapfile=", 8) == 0) return picture(line + 8);
        if (std::strncmp(line, "polygon=", 8) == 0) return polygon(line, line + 8);
        if (std::strncmp(line, "detector=", 9) == 0) return detector(line + 9);
        if (std::strncmp(line, "light=", 6) == 0) return light(line + 6);
        return true;
    }

  private:
    MapModel& map_model_;
    StreamGlyphs& stream_glyphs_;
    OutputState& output_;
    std::string file_;
    std::string directory_;  // the control file's, with its trailing separator
    GraphicsSink& sink_;
    int line_ = 0;

    bool stream_in_range(int stream) {
        if (stream >= 1 && stream < MAP_STREAMS) return true;
        report_error(output_, ERROR, LOAD_WHERE, "%s(%d): stream %d is outside 1..99.",
                     file_.c_str(), line_, stream);
        return false;
    }

    bool picture(const char* value) {
        value = skip_space(value);
        // Names that start at a drive or a root are kept; others are beside the control file.
        std::string name;
        if (!(value[0] != '\0' && value[1] == ':') && value[0] != '\\' && value[0] != '/')
            name = directory_;
        name.append(value);
        if (extension_of(name) == ".jpg") map_model_.jpeg = true;
        map_model_.picture_file = name;
        return sink_.load_picture();
    }

    bool polygon(const char* line, const char* rest) {
        const char* p = skip_space(rest);
        const char* end = nullptr;
        int stream = 0;
        if (scan(p, "%d:", &stream, &end) != 1 || !end) {
            report_error(output_, ERROR, LOAD_WHERE, "%s(%d): cannot find stream id.",
                         file_.c_str(), line_);
            return false;
        }
        if (!stream_in_range(stream)) return false;
        p = end;
        MapPolygon polygon;
        while (polygon.count < MAX_POLYGON_POINTS) {
            p = skip_space(p);
            int xy[2];
            if (scan(p, "%d,%d", xy, &end) != 2) break;
            polygon.points[static_cast<std::size_t>(polygon.count++)] =
                clamp_vertex({xy[0], xy[1]}, map_model_.picture_width, map_model_.picture_height);
            p = skip_space(end);
            if (*p == ',') p = skip_space(p + 1);
        }
        if (*p != '\0' && polygon.count == MAX_POLYGON_POINTS) {
            report_error(output_, ERROR, LOAD_WHERE,
                         "%s(%d): polygon has too many points (maximum is %d).", file_.c_str(),
                         line_, MAX_POLYGON_POINTS);
            return false;
        }
        if (*p != '\0') {
            report_error(output_, ERROR, LOAD_WHERE,
                         "%s(%d): error parsing coordinate list near position %d.", file_.c_str(),
                         line_, static_cast<int>(p - line));
            return false;
        }
        if (polygon.count < 3) {
            report_error(output_, ERROR, LOAD_WHERE, "%s(%d): polygon has too few points.",
                         file_.c_str(), line_);
            return false;
        }
        try {
            map_model_.polygons[static_cast<std::size_t>(stream)].push_back(polygon);
        } catch (const std::bad_alloc&) {
            report_error(output_, ERROR, "addpolygong", "Out of memory.");
            return false;
        }
        return true;
    }

    bool detector(const char* rest) {
        int f[6] = {};
        const char* end = nullptr;
        const int fields = scan(skip_space(rest), "%d.%d:%d,%d\t%d, %d", f, &end);
        if (fields != 6 && fields != 4) {
            report_error(output_, ERROR, LOAD_WHERE,
                         "%s(%d): bad format; expected stream.subnumber:x,y.\n", file_.c_str(),
                         line_);
            return false;
        }
        const int stream = f[0], sub = f[1];
        if (!stream_in_range(stream)) return false;
        if (sub < 1 || sub >= DETECTOR_SUBS) {
            report_error(output_, ERROR, LOAD_WHERE,
                         "%s(%d): detector sub-number %d is outside 1..9.", file_.c_str(), line_,
                         sub);
            return false;
        }
        const MapPoint jpeg{f[2], f[3]};
        const MapPoint bitmap = fields == 6 ? MapPoint{f[4], f[5]} : jpeg;
        StreamGlyph& glyph = stream_glyphs_[static_cast<std::size_t>(stream)];
        glyph.box_jpeg[static_cast<std::size_t>(sub)] = jpeg;
        glyph.box_bitmap[static_cast<std::size_t>(sub)] = bitmap;
        if (sink_.place_detector_box(stream * 10 + sub, map_model_.jpeg ? jpeg : bitmap))
            return true;
        return sink_.ask_continue(
            format_text("%s(%d): Detector %02d.%d does not exist in control program.\nContinue ?",
                        file_.c_str(), line_, stream, sub));
    }

    bool light(const char* rest) {
        int f[5] = {};
        const char* end = nullptr;
        const int fields = scan(rest, "%d:%d,%d\t%d,%d", f, &end);
        if (fields != 5 && fields != 3) {
            report_error(output_, ERROR, LOAD_WHERE, "%s(%d): bad format; expected stream:x,y.\n",
                         file_.c_str(), line_);
            return false;
        }
        const int stream = f[0];
        if (!stream_in_range(stream)) return false;
        const MapPoint jpeg{f[1], f[2]};
        const MapPoint bitmap = fields == 5 ? MapPoint{f[3], f[4]} : jpeg;
        StreamGlyph& glyph = stream_glyphs_[static_cast<std::size_t>(stream)];
        glyph.light_jpeg = jpeg;
        glyph.light_bitmap = bitmap;
        sink_.add_light_disc(stream, map_model_.jpeg ? jpeg : bitmap);
        return true;
    }
};

// Writes the lines of the file; the caller checks the stream for write errors.
void write_graphics(MapModel& map_model, StreamGlyphs& stream_glyphs, std::FILE* out,
                    const std::string& control_file, const std::vector<SavedControl>& controls) {
    const char* const end = map_model.crlf ? "\r\n" : "\n";
    if (!map_model.picture_file.empty()) {
        // A picture in the control file's folder is named bare, so the pair can be moved.
        namespace fs = std::filesystem;
        std::error_code picture_error, control_error;
        const fs::path picture = fs::absolute(map_model.picture_file, picture_error);
        const fs::path control = fs::absolute(control_file, control_error);
        const fs::path picture_full = picture.lexically_normal();
        if (!picture_error && !control_error &&
            picture_full.parent_path() == control.lexically_normal().parent_path())
            std::fprintf(out, "mapfile=%s%s", picture_full.filename().string().c_str(), end);
        else
            std::fprintf(out, "mapfile=%s%s", map_model.picture_file.c_str(), end);
    }

    for (int stream = 1; stream < MAP_STREAMS; ++stream) {
        for (const MapPolygon& polygon : map_model.polygons[static_cast<std::size_t>(stream)]) {
            if (polygon.count <= 2) continue;
            std::fprintf(out, "polygon=%d:", stream);
            const int count = std::min(polygon.count, MAX_POLYGON_POINTS);
            for (int i = 0; i < count; ++i) {
                const MapPoint& point = polygon.points[static_cast<std::size_t>(i)];
                std::fprintf(out, "%s %d, %d", i == 0 ? "" : ",", point.x, point.y);
            }
            std::fputs(end, out);
        }
    }

    for (auto control = controls.rbegin(); control != controls.rend(); ++control) {
        if (control->disc) {
            const int stream = control->tag;
            if (stream < 1 || stream >= MAP_STREAMS) continue;
            StreamGlyph& glyph = stream_glyphs[static_cast<std::size_t>(stream)];
            const MapPoint centre{control->left + control->width / 2,
                                  control->top + control->height / 2};
            (map_model.jpeg ? glyph.light_jpeg : glyph.light_bitmap) = centre;
            std::fprintf(out, "light=%02d: %d, %d\t%d, %d%s", stream, glyph.light_jpeg.x,
                         glyph.light_jpeg.y, glyph.light_bitmap.x, glyph.light_bitmap.y, end);
        } else {
            const int stream = control->tag / 10, sub = control->tag % 10;
            if (stream < 1 || stream >= MAP_STREAMS || sub < 1) continue;
            StreamGlyph& glyph = stream_glyphs[static_cast<std::size_t>(stream)];
            const auto s = static_cast<std::size_t>(sub);
            (map_model.jpeg ? glyph.box_jpeg[s] : glyph.box_bitmap[s]) = {control->left,
                                                                          control->top};
            std::fprintf(out, "detector=%02d.%d: %d, %d\t%d, %d%s", stream, sub,
                         glyph.box_jpeg[s].x, glyph.box_jpeg[s].y, glyph.box_bitmap[s].x,
                         glyph.box_bitmap[s].y, end);
        }
    }
}

}  // namespace

std::string graphics_file_name(const std::string& control_file) {
    const std::size_t slash = control_file.find_last_of('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    if (name_start >= control_file.size()) return {};
    const std::size_t dot = control_file.find_last_of('.');
    std::string name = (dot != std::string::npos && dot >= name_start) ? control_file.substr(0, dot)
                                                                       : control_file;
    name.append(".rvg");
    return name;
}

bool LoadGraphics(MapModel& map_model, StreamGlyphs& stream_glyphs, OutputState& output,
                  const std::string& control_file, GraphicsSink& sink) {
    for (auto& list : map_model.polygons) list.clear();
    sink.clear_discs();
    map_model.colour.fill('R');
    map_model.graphics_file.clear();

    // Names keep "/" as the separator here; a "\" in a name is an ordinary character.
    const std::string file = graphics_file_name(control_file);
    if (file.empty())
        return report_error(output, ERROR, LOAD_WHERE,
                            "Cannot generate filename of graphics info file.");
    map_model.graphics_file = file;
    const std::size_t slash = control_file.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? std::string() : control_file.substr(0, slash + 1);

    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        const int error = errno;
        return report_error(output, ERROR, LOAD_WHERE,
                            "Cannot open ruvalda graphics file \"%s\" for reading: %s.",
                            file.c_str(), std::strerror(error));
    }
    GraphicsReader reader(map_model, stream_glyphs, output, file, directory, sink);
    std::vector<char> line(GRAPHICS_LINE_LIMIT + 1);
    bool complete = true;
    int line_number = 0;
    LineEnds ends;
    errno = 0;
    while (read_line(in, line.data(), ends)) {
        trim_trailing_space(line.data());
        if (!reader.handle(++line_number, line.data())) {
            complete = false;
            break;
        }
    }
    if (complete && std::ferror(in)) {
        // A folder named like the file opens but cannot be read.
        const int error = errno ? errno : EIO;
        report_error(output, ERROR, LOAD_WHERE, "Cannot read ruvalda graphics file \"%s\": %s.",
                     file.c_str(), std::strerror(error));
        complete = false;
    }
    std::fclose(in);
    map_model.crlf = ends.crlf();
    return complete;
}

bool SaveGraphics(MapModel& map_model, StreamGlyphs& stream_glyphs, OutputState& output,
                  const std::string& control_file, const std::vector<SavedControl>& controls) {
    const std::string file = graphics_file_name(control_file);
    if (file.empty())
        return report_error(output, ERROR, SAVE_WHERE,
                            "Cannot generate filename of graphics info file.");

    // Written beside the old file and renamed over it once complete.
    std::string temporary = file;
    temporary.append(".tmp");
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        const int error = errno;
        return report_error(output, ERROR, SAVE_WHERE, "Cannot open file \"%s\" for writing: %s.",
                            file.c_str(), std::strerror(error));
    }
#ifndef _WIN32
    // Windows files have no permission bits to carry over.
    struct stat old_file {};
    if (::stat(file.c_str(), &old_file) == 0) ::fchmod(::fileno(out), old_file.st_mode & 07777);
#endif

    errno = 0;
    write_graphics(map_model, stream_glyphs, out, control_file, controls);
    bool failed = std::fflush(out) != 0 || std::ferror(out);
    int error = errno;
#ifdef _WIN32
    if (!failed && ::_commit(::fileno(out)) != 0) {
#else
    if (!failed && ::fsync(::fileno(out)) != 0) {
#endif
        failed = true;
        error = errno;
    }
    if (std::fclose(out) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    // std::rename refuses to replace a file on Windows; this one replaces it everywhere.
    std::error_code renamed;
    if (!failed) std::filesystem::rename(temporary, file, renamed);
    if (!failed && renamed) {
        failed = true;
        error = renamed.default_error_condition().value();
    }
    if (failed) {
        std::remove(temporary.c_str());
        return report_error(output, ERROR, SAVE_WHERE, "Error closing file \"%s\": %s.",
                            file.c_str(), std::strerror(error ? error : EIO));
    }
    map_model.unsaved = false;
    return true;
}

}  // namespace ruvalda
