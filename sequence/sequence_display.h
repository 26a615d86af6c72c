// What the map window shows of the signal sequence: a picture per block with a frame that marks
// the current block, and a column of stream labels. DrawSequence builds it from the sequence
// model, ShowSequenceState keeps it up to date while the program runs; the window only renders
// this record.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "map/stream_glyphs.h"
#include "sequence/sequence_model.h"

namespace ruvalda {

// Layout of the picture panel, in pixels.
constexpr int SEQ_PICTURE_LEFT = 20;
constexpr int SEQ_PICTURE_SIZE = 43;  // drawn with its centre at (21, 21)
constexpr int SEQ_BLOCK_PITCH = 63;   // block j's picture has the top j * 63 + 20
constexpr int SEQ_FRAME_LEFT = 15;    // the frame: 5 pixels around the picture
constexpr int SEQ_FRAME_SIZE = 53;
// Stream labels: left 5, width 80, no automatic sizing, "Courier New" 10 points bold.
constexpr int SEQ_LABEL_LEFT = 5;
constexpr int SEQ_LABEL_WIDTH = 80;

// The label of one stream, made by the first drawing that finds the stream in the program and
// kept for the rest of the run.
struct SequenceLabel {
    bool exists = false;
    std::string caption;  // "07 AFWXP ": the stream, then each state letter or a blank
    bool visible = false;
    bool red = false;  // black otherwise
    int top = 0;       // within the label panel
};

struct SequenceBlock {
    std::vector<int> streams;  // served in the block, in group order
    int top = 0;               // of the picture; the frame's top is 5 less
    GlyphCanvas picture;       // the block's drawing, centre (21, 21)
};

struct SequenceDisplay {
    bool panel_visible = false;         // the picture panel; shown by the first drawing
    int panel_height = 0;               // of the picture panel
    int label_panel_top = 0;            // the label panel stands below the picture panel
    std::vector<SequenceBlock> blocks;  // index = block
    // Per block (index = tag - 100 of its frames): only the selected block's frame is shown. A
    // drawing leaves this alone, so the current block stays marked when the map is reloaded.
    std::array<bool, MAXBLOCKS> frame_visible{};
    std::array<SequenceLabel, MAXSTREAM> labels;  // index = stream; 0 never exists
    int label_height = 16;                        // set by the window from its label font
    // Called after a change the window has to show: a visible label's caption or colour, the
    // selection of a block (frames, label visibility and tops). The window re-reads the record.
    // DrawSequence does not call it; its caller builds the panels afterwards.
    std::function<void()> changed;
};

// Builds the glyph table and the block pictures from the sequence model; image_map_height is
// the height of the map picture, which places the labels of new streams. False when the model
// has no blocks: the previous pictures then stay.
bool DrawSequence(StreamGlyphs& stream_glyphs, SequenceDisplay& sequence_display,
                  SequenceModel& sequence_model, EngineState& engine, int image_map_height);

// The engine's evaluation hook: follows the state letters (GAnn .. GPnn), the stream colours
// (MRVnn) and the block selection (MRA .. MRW) of the running program.
void ShowSequenceState(SequenceDisplay& sequence_display, SequenceModel& sequence_model,
                       const char* printed_name, int value);

}  // namespace ruvalda
