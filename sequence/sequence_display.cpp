#include "sequence/sequence_display.h"

#include <algorithm>
#include <cstdio>

#include "engine/eval.h"

namespace ruvalda {

namespace {

constexpr char BLOCK_LETTERS[] = "ABCDXYZUVW";
constexpr char STATE_LETTERS[] = "AFWXP";

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Index of c in letters, or -1; the terminating zero never matches.
int letter_index(const char* letters, char c) {
    for (int i = 0; letters[i]; ++i)
        if (letters[i] == c) return i;
    return -1;
}

// The label of stream s when it exists.
SequenceLabel* label_of(SequenceDisplay& sequence_display, char tens, char units) {
    if (!is_digit(tens) || !is_digit(units)) return nullptr;
    SequenceLabel& label = sequence_display.labels[(tens - '0') * 10 + (units - '0')];
    return label.exists ? &label : nullptr;
}

void notify(SequenceDisplay& sequence_display) {
    if (sequence_display.changed) sequence_display.changed();
}

void select_block(SequenceDisplay& sequence_display, SequenceModel& sequence_model, int b) {
    SequenceModel& m = sequence_model;
    m.current_block = b;
    sequence_display.frame_visible.fill(false);
    sequence_display.frame_visible[static_cast<std::size_t>(b)] = true;

    // Shown are the streams whose service ends when the sequence moves on to the next block.
    for (SequenceLabel& label : sequence_display.labels) label.visible = false;
    const int size = m.ConflictGroupSize;
    if (size > 0) {
        const int next = (b + 1) % size;
        const int groups = std::min(m.MaxCFCount, MAXGROUP);
        for (int c = 0; c < groups; ++c) {
            const int s = m.ConflictGroups[c][b];
            if (m.ConflictGroups[c][next] == s || s < 0 || s >= MAXSTREAM) continue;
            SequenceLabel& label = sequence_display.labels[s];
            if (label.exists) label.visible = true;
        }
    }
    int k = 0;
    for (SequenceLabel& label : sequence_display.labels)
        if (label.visible) label.top = sequence_display.label_height * k++ + 10;
    notify(sequence_display);
}

}  // namespace

bool DrawSequence(StreamGlyphs& stream_glyphs, SequenceDisplay& sequence_display,
                  SequenceModel& sequence_model, EngineState& engine, int image_map_height) {
    BuildStreamGlyphs(stream_glyphs);
    const SequenceModel& m = sequence_model;
    if (m.ConflictGroupSize <= 0) return false;
    const int size = std::min(m.ConflictGroupSize, MAXBLOCKS);
    const int groups = std::min(m.MaxCFCount, MAXGROUP);
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < groups; ++i)
            if (m.ConflictGroups[i][j] > 0)
                set_glyph_lanes(stream_glyphs, m.ConflictGroups[i][j], 1);

    SequenceDisplay& d = sequence_display;
    d.panel_height = size * SEQ_BLOCK_PITCH + 20;
    const int y0 = image_map_height / 2 - d.panel_height;
    d.label_panel_top = d.panel_height;

    for (SequenceLabel& label : d.labels) label.visible = false;
    for (int s = 1; s < MAXSTREAM; ++s) {
        SequenceLabel& label = d.labels[s];
        if (label.exists || !(RVGetStreamFlags(engine, s) & SF_EXISTS)) continue;
        char caption[16];
        std::snprintf(caption, sizeof caption, "%02d %s ", s, STATE_LETTERS);
        label.exists = true;
        label.caption = caption;
        label.red = false;
        label.top = s * 10 + y0;
    }
    d.panel_visible = true;

    // The pictures and frames of the previous drawing give way to the new ones.
    d.blocks.assign(static_cast<std::size_t>(size), SequenceBlock{});
    for (int j = 0; j < size; ++j) {
        SequenceBlock& block = d.blocks[static_cast<std::size_t>(j)];
        for (int i = 0; i < groups; ++i)
            if (m.ConflictGroups[i][j] > 0) block.streams.push_back(m.ConflictGroups[i][j]);
        block.top = j * SEQ_BLOCK_PITCH + 20;
        DrawBlock(stream_glyphs, block.picture, SEQ_PICTURE_SIZE / 2, SEQ_PICTURE_SIZE / 2,
                  block.streams);
    }
    return true;
}

void ShowSequenceState(SequenceDisplay& sequence_display, SequenceModel& sequence_model,
                       const char* name, int value) {
    // Called after every evaluation of every rule: the names of interest are told apart by
    // their first character and length before anything else is looked at.
    const char first = name[0];
    if (first != 'G' && first != 'M') return;
    int length = 1;
    while (length < 6 && name[length]) ++length;

    if (first == 'G') {
        if (length != 4) return;
        const int letter = letter_index(STATE_LETTERS, name[1]);
        if (letter < 0) return;
        SequenceLabel* label = label_of(sequence_display, name[2], name[3]);
        if (!label) return;
        char& shown = label->caption[static_cast<std::size_t>(3 + letter)];
        const char wanted = value != 0 ? name[1] : ' ';
        if (shown == wanted) return;
        shown = wanted;
        if (label->visible) notify(sequence_display);
        return;
    }
    if (name[1] != 'R') return;
    if (length == 5) {
        if (name[2] != 'V') return;
        SequenceLabel* label = label_of(sequence_display, name[3], name[4]);
        if (!label || label->red == (value == 0)) return;
        label->red = value == 0;
        if (label->visible) notify(sequence_display);
        return;
    }
    if (length != 3 || value == 0) return;
    const int block = letter_index(BLOCK_LETTERS, name[2]);
    if (block < 0 || block == sequence_model.current_block) return;
    select_block(sequence_display, sequence_model, block);
}

}  // namespace ruvalda
