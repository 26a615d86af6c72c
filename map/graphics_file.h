// The graphics environment file (.rvg beside the control file): background picture, stream
// polygons, light discs and detector boxes. The core reads and writes the file and keeps the
// polygons and placements; the map window only shows things, through GraphicsSink.
//
// Line forms, each recognised by its exact start; other lines are ignored:
//   mapfile=NAME
//   polygon=STREAM: x, y, x, y, x, y ...          3 to 20 points
//   detector=SS.D: x, y<tab>x, y                  JPEG pair, then bitmap pair
//   light=SS: x, y<tab>x, y
#pragma once

#include <string>
#include <vector>

#include "map/map_model.h"
#include "map/stream_glyphs.h"
#include "output/output.h"

namespace ruvalda {

// Lines longer than this are cut; the rest of such a line is skipped, not read as a new line.
constexpr int GRAPHICS_LINE_LIMIT = 9999;

// What the map window does for the loader.
class GraphicsSink {
  public:
    virtual ~GraphicsSink() = default;
    // Deletes every light disc.
    virtual void clear_discs() = 0;
    // Loads map_model.picture_file as the background and draws the sequence panel; false
    // stops reading (the window has reported why).
    virtual bool load_picture() = 0;
    // Moves the detector's box to the corner, unchecked, without complaining; false when the
    // program has no box for that detector.
    virtual bool place_detector_box(int detector, MapPoint corner) = 0;
    // Creates the stream's light disc centred on the point (the window clamps it, and puts a
    // disc asked for at 0,0 outside the picture).
    virtual void add_light_disc(int stream, MapPoint centre) = 0;
    // A Yes/No question; false for No.
    virtual bool ask_continue(const std::string& text) = 0;
};

// "dir/name.rvc" -> "dir/name.rvg"; a name without extension gets one. Empty when the control
// file name has no file part.
std::string graphics_file_name(const std::string& control_file);

// Reads the graphics file of the control file: empties the polygon lists, deletes the discs,
// sets every colour letter to 'R', then handles the file line by line. True when the whole
// file was read; the caller then repaints the map. Every failure is reported.
bool LoadGraphics(MapModel& map_model, StreamGlyphs& stream_glyphs, OutputState& output,
                  const std::string& control_file, GraphicsSink& sink);

// One control on the picture as the window holds it; tag is the stream for a disc and
// stream * 10 + sub-number for a detector box.
struct SavedControl {
    bool disc;
    int tag;
    int left, top, width, height;
};

// Writes the graphics file of the control file from map_model and the picture's controls (in
// creation order; they are written from the last to the first, after their positions are
// stored into the stream glyphs). The file is written beside the old one under another name
// and then renamed over it, so a failed save leaves the old file as it was. True on success,
// which also clears map_model.unsaved. Controls with a tag outside the stream and sub-number
// ranges are not written.
bool SaveGraphics(MapModel& map_model, StreamGlyphs& stream_glyphs, OutputState& output,
                  const std::string& control_file, const std::vector<SavedControl>& controls);

}  // namespace ruvalda
