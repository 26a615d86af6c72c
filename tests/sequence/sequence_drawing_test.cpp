// The sequence drawing: stream glyphs and block pictures, the display record the map window
// renders, the run-time updates by variable name, and the section sizes the model refuses.
#include <optional>
#include <string>
#include <vector>

#include "sequence/sequence_display.h"
#include "tests/loader/loader_file_fixture.h"

namespace ruvalda::test {
namespace {

using Op = GlyphCanvas::Op;

Op L(int x1, int y1, int x2, int y2, std::uint32_t rgb = GLYPH_BLACK) {
    return {Op::Line, x1, y1, x2, y2, rgb, 0};
}

// The operations of one glyph drawn in a picture centred at (21, 21).
std::vector<Op> glyph(StreamGlyphs& stream_glyphs, int stream) {
    GlyphCanvas canvas;
    DrawStreamGlyph(stream_glyphs, canvas, 21, 21, stream);
    return canvas.ops;
}

std::optional<MapPoint> point(StreamGlyphs& stream_glyphs, int stream, int n) {
    return GlyphPoint(stream_glyphs, stream_glyphs[stream], n);
}

class SequenceDrawingTest : public LoaderFileTest {
  protected:
    int changes = 0;
    void SetUp() override {
        LoaderFileTest::SetUp();
        BuildStreamGlyphs(stream_glyphs);
        sequence_display.changed = [this] { ++changes; };
    }
    // Columns are blocks, rows conflict groups; the streams exist in the program.
    void model(const std::vector<std::vector<int>>& rows, const std::vector<int>& streams) {
        sequence_model.MaxCFCount = static_cast<int>(rows.size());
        sequence_model.ConflictGroupSize = static_cast<int>(rows[0].size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < rows[i].size(); ++j)
                sequence_model.ConflictGroups[i][j] = rows[i][j];
        for (int s : streams) engine.stream_flags[s] |= SF_EXISTS;
    }
    std::vector<int> visible_labels() {
        std::vector<int> shown;
        for (int s = 0; s < MAXSTREAM; ++s)
            if (sequence_display.labels[s].visible) shown.push_back(s);
        return shown;
    }
};

TEST_F(SequenceDrawingTest, glyphPoints_followTheConditionsOfTheLanesAndTurnPerApproach) {
    EXPECT_EQ((MapPoint{21, 7}),
              point(stream_glyphs, 2, 2));  // without 62 the straight arrow crosses
    EXPECT_EQ((MapPoint{-5, 3}),
              point(stream_glyphs, 3, 3));  // neither 63 nor 71: the long left turn
    EXPECT_EQ((MapPoint{-7, -21}), point(stream_glyphs, 5, 0));  // stream 2 a quarter turned
    EXPECT_EQ((MapPoint{-13, -21}),
              point(stream_glyphs, 22, 0));  // cycle streams start at approach 1
    EXPECT_EQ(std::nullopt, point(stream_glyphs, 13, 0));
    EXPECT_EQ(std::nullopt, point(stream_glyphs, 2, 3));

    ASSERT_TRUE(set_glyph_lanes(stream_glyphs, 71, 1));
    EXPECT_EQ((MapPoint{7, 1}), point(stream_glyphs, 3, 3));  // else if 71
    ASSERT_TRUE(set_glyph_lanes(stream_glyphs, 63, 1));
    EXPECT_EQ((MapPoint{-1, 5}), point(stream_glyphs, 3, 2));  // the if wins over the else if
    EXPECT_EQ(std::nullopt, point(stream_glyphs, 3, 3));
    EXPECT_EQ((MapPoint{-3, -3}), point(stream_glyphs, 43, 6));

    EXPECT_FALSE(set_glyph_lanes(stream_glyphs, 2, 2));
    EXPECT_FALSE(set_glyph_lanes(stream_glyphs, 101, 1));
    EXPECT_EQ(0, stream_glyphs[2].lanes);
    EXPECT_EQ(-1, stream_glyphs[40].kind);
    EXPECT_EQ(1, stream_glyphs[92].kind);

    // The corner point of the coordinate range is a point like any other, not "none".
    StreamGlyph edge;
    edge.path = {path_point(-32, -32), path_point(0, 0)};
    EXPECT_EQ((MapPoint{-32, -32}), GlyphPoint(stream_glyphs, edge, 0));
    EXPECT_EQ((MapPoint{0, 0}), GlyphPoint(stream_glyphs, edge, 1));
    EXPECT_EQ(std::nullopt, GlyphPoint(stream_glyphs, edge, 2));
}

TEST_F(SequenceDrawingTest, arrows_runAlongTheStartAndTheFirstTurnOfThePath) {
    // Straight from the right edge, pointing left.
    EXPECT_EQ((std::vector<Op>{L(42, 14, 34, 14), L(34, 14, 29, 14), L(29, 14, 33, 12),
                               L(29, 14, 33, 16)}),
              glyph(stream_glyphs, 2));
    // Bending upwards, and downwards.
    EXPECT_EQ(
        (std::vector<Op>{L(42, 12, 34, 12), L(34, 12, 34, 7), L(34, 7, 32, 11), L(34, 7, 36, 11)}),
        glyph(stream_glyphs, 1));
    EXPECT_EQ((std::vector<Op>{L(42, 16, 34, 16), L(34, 16, 34, 21), L(34, 21, 32, 17),
                               L(34, 21, 36, 17)}),
              glyph(stream_glyphs, 3));
    set_glyph_lanes(stream_glyphs, 63, 1);
    EXPECT_EQ((std::vector<Op>{L(42, 16, 34, 16), L(34, 16, 29, 16), L(29, 16, 33, 14),
                               L(29, 16, 33, 18)}),
              glyph(stream_glyphs, 3));
    // From the bottom edge, pointing up.
    EXPECT_EQ((std::vector<Op>{L(28, 42, 28, 34), L(28, 34, 28, 29), L(28, 29, 26, 33),
                               L(28, 29, 30, 33)}),
              glyph(stream_glyphs, 5));
    const std::vector<Op> cycle = glyph(stream_glyphs, 22);
    ASSERT_EQ(4u, cycle.size());
    EXPECT_EQ(L(34, 42, 34, 34, GLYPH_GREEN), cycle[0]);
    for (const Op& op : cycle) EXPECT_EQ(GLYPH_GREEN, op.rgb);
    EXPECT_TRUE(glyph(stream_glyphs, 13).empty());
    EXPECT_TRUE(glyph(stream_glyphs, 0).empty());
}

TEST_F(SequenceDrawingTest, crossingAndBlock_drawTicksAndTheFrameBeforeTheGlyphs) {
    // Stream 37: x 0, 2, ..., 20 on y 17, each a vertical tick of three pixels.
    std::vector<Op> ticks;
    for (int x = 0; x <= 20; x += 2) ticks.push_back(L(21 - x, 3, 21 - x, 6));
    EXPECT_EQ(ticks, glyph(stream_glyphs, 37));

    GlyphCanvas canvas;
    DrawBlock(stream_glyphs, canvas, 21, 21, {2, 13, 1});
    ASSERT_EQ(9u, canvas.ops.size());
    EXPECT_EQ((Op{Op::RoundRect, 0, 0, 43, 43, GLYPH_BLACK, 2}), canvas.ops[0]);
    EXPECT_EQ(glyph(stream_glyphs, 1)[0], canvas.ops[1]);  // from the last stream to the first
    EXPECT_EQ(glyph(stream_glyphs, 2)[0], canvas.ops[5]);
}

TEST_F(SequenceDrawingTest, drawSequence_laysOutBlocksAndKeepsLabelsAcrossDrawings) {
    EXPECT_FALSE(DrawSequence(stream_glyphs, sequence_display, sequence_model, engine,
                              593));  // no blocks yet
    EXPECT_TRUE(sequence_display.blocks.empty());

    model({{2, 2, 5}, {7, 11, 11}, {0, 63, 3}}, {2, 3, 5, 7, 11});
    ASSERT_TRUE(DrawSequence(stream_glyphs, sequence_display, sequence_model, engine, 593));
    EXPECT_EQ(209, sequence_display.panel_height);
    EXPECT_EQ(209, sequence_display.label_panel_top);
    ASSERT_EQ(3u, sequence_display.blocks.size());
    EXPECT_EQ(20, sequence_display.blocks[0].top);
    EXPECT_EQ(83, sequence_display.blocks[1].top);
    EXPECT_EQ(146, sequence_display.blocks[2].top);
    EXPECT_EQ((std::vector<int>{2, 11, 63}), sequence_display.blocks[1].streams);
    // Stream 63 serves in block 1, so stream 3 is drawn straight in block 2 as well.
    const std::vector<Op>& block2 = sequence_display.blocks[2].picture.ops;
    EXPECT_EQ(L(34, 16, 29, 16), block2[2]);
    EXPECT_EQ((std::array<bool, MAXBLOCKS>{}), sequence_display.frame_visible);

    const SequenceLabel& label = sequence_display.labels[7];
    EXPECT_TRUE(label.exists);
    EXPECT_EQ("07 AFWXP ", label.caption);
    EXPECT_FALSE(label.visible);
    EXPECT_EQ(7 * 10 + 296 - 209, label.top);
    EXPECT_FALSE(sequence_display.labels[63].exists);  // not a stream of the program

    ShowSequenceState(sequence_display, sequence_model, "GA07", 0);
    ShowSequenceState(sequence_display, sequence_model, "MRA", 1);
    ASSERT_TRUE(label.visible);
    model({{7, 9}}, {9});
    ASSERT_TRUE(DrawSequence(stream_glyphs, sequence_display, sequence_model, engine, 400));
    EXPECT_EQ("07  FWXP ", label.caption);           // the same label, state letters and place kept
    EXPECT_TRUE(sequence_display.frame_visible[0]);  // the current block stays marked
    EXPECT_EQ(10, label.top);                        // where the selection placed it
    EXPECT_FALSE(label.visible);
    EXPECT_EQ(9 * 10 + 200 - 146, sequence_display.labels[9].top);
    EXPECT_EQ(2u, sequence_display.blocks.size());

    sequence_model = SequenceModel{};
    EXPECT_FALSE(DrawSequence(stream_glyphs, sequence_display, sequence_model, engine,
                              400));  // the pictures of the last drawing stay
    EXPECT_EQ(2u, sequence_display.blocks.size());
}

TEST_F(SequenceDrawingTest, blockSelection_showsTheStreamsWhoseServiceEndsWithTheBlock) {
    model({{2, 2, 5}, {7, 11, 11}, {0, 3, 0}}, {2, 3, 5, 7, 11});
    ASSERT_TRUE(DrawSequence(stream_glyphs, sequence_display, sequence_model, engine, 593));
    ShowSequenceState(sequence_display, sequence_model, "MRB", 1);
    EXPECT_EQ(1, sequence_model.current_block);
    EXPECT_EQ((std::vector<int>{2, 3}), visible_labels());
    EXPECT_EQ(10, sequence_display.labels[2].top);
    EXPECT_EQ(26, sequence_display.labels[3].top);
    EXPECT_EQ((std::array<bool, MAXBLOCKS>{false, true}), sequence_display.frame_visible);
    EXPECT_EQ(1, changes);

    ShowSequenceState(sequence_display, sequence_model, "MRB", 1);  // already current
    ShowSequenceState(sequence_display, sequence_model, "MRC", 0);
    ShowSequenceState(sequence_display, sequence_model, "MRQ", 1);
    ShowSequenceState(sequence_display, sequence_model, "MRBB", 1);
    EXPECT_EQ(1, sequence_model.current_block);
    EXPECT_EQ(1, changes);

    sequence_display.label_height = 20;
    ShowSequenceState(sequence_display, sequence_model, "MRC",
                      1);  // the last block hands over to the first
    EXPECT_EQ((std::vector<int>{5, 11}), visible_labels());
    EXPECT_EQ(30, sequence_display.labels[11].top);
    EXPECT_EQ((std::array<bool, MAXBLOCKS>{false, false, true}), sequence_display.frame_visible);

    ShowSequenceState(sequence_display, sequence_model, "MRW", 1);  // a block beyond the drawing
    EXPECT_EQ(9, sequence_model.current_block);
    EXPECT_TRUE(visible_labels().empty());
    EXPECT_EQ((std::array<bool, MAXBLOCKS>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
              sequence_display.frame_visible);
}

TEST_F(SequenceDrawingTest, stateLettersAndColour_followTheirVariables) {
    ShowSequenceState(sequence_display, sequence_model, "GA07",
                      0);  // no label yet: nothing to change
    ShowSequenceState(sequence_display, sequence_model, "MRV07", 0);
    EXPECT_FALSE(sequence_display.labels[7].exists);

    model({{7, 2}}, {7});
    ASSERT_TRUE(DrawSequence(stream_glyphs, sequence_display, sequence_model, engine, 593));
    const SequenceLabel& label = sequence_display.labels[7];
    ShowSequenceState(sequence_display, sequence_model, "GA07", 0);
    EXPECT_EQ("07  FWXP ", label.caption);
    ShowSequenceState(sequence_display, sequence_model, "GP07", 0);
    ShowSequenceState(sequence_display, sequence_model, "GA07", 1);
    EXPECT_EQ("07 AFWX  ", label.caption);
    for (const char* other : {"GA7", "GA070", "GZ07", "GAx7", "G", "", "MRV7x", "MRX07"})
        ShowSequenceState(sequence_display, sequence_model, other, 0);
    EXPECT_EQ("07 AFWX  ", label.caption);
    EXPECT_FALSE(label.red);
    ShowSequenceState(sequence_display, sequence_model, "MRV07", 0);
    EXPECT_TRUE(label.red);
    EXPECT_EQ(0, changes);  // hidden: nothing to repaint

    ShowSequenceState(sequence_display, sequence_model, "MRA", 1);
    ASSERT_TRUE(label.visible);
    ShowSequenceState(sequence_display, sequence_model, "MRV07", 1);
    ShowSequenceState(sequence_display, sequence_model, "MRV07", 1);  // evaluated again, unchanged
    EXPECT_FALSE(label.red);
    ShowSequenceState(sequence_display, sequence_model, "GP07", 1);
    EXPECT_EQ("07 AFWXP ", label.caption);
    EXPECT_EQ(3, changes);
}

TEST_F(SequenceDrawingTest, oversizeSection_isReportedAndLeavesTheModelAsItWas) {
    const std::string header = "# Sequence\n# Conflictgroups Conflictgroupsize\n";
    ASSERT_EQ(1, load_text(header + "# 1 2\n# Selected sequence\n# 02 05\n")) << reports();
    const struct {
        const char* body;
        std::string message;
    } cases[] = {
        {"# 200 1\n# Selected sequence\n# 01\n", "too many conflict groups (maximum is 199)"},
        {"# -1 1\n# Selected sequence\n", "negative number of conflict groups"},
        {"# 1 11\n# Selected sequence\n# 01\n",
         "conflict groups too long (maximum ConflictGroupSize is 10)"},
        {"# 1 -2\n# Selected sequence\n# 01\n", "negative ConflictGroupSize"},
        {"# 2 2\n# Selected sequence\n# 01 02\n# 03 100\n",
         "stream 100 in conflict group 2 (maximum is 99)"},
    };
    for (const auto& c : cases) {
        recorder.reports.clear();
        ASSERT_EQ(1, load_text("A = 1\n" + header + c.body + "X = 1\n")) << reports();
        // Made in both passes, shown once, with the line it was made at.
        ASSERT_EQ(1u, report_texts().size()) << reports();
        EXPECT_EQ(0u, report_texts()[0].find("Error in Reading RVC File: " + c.message + " [" +
                                             dir + "/x.rvc("))
            << report_texts()[0];
        EXPECT_EQ(std::vector<std::string>{"A=1"}, rules()) << c.body;
        EXPECT_EQ(1, sequence_model.MaxCFCount);
        EXPECT_EQ(2, sequence_model.ConflictGroupSize);
        EXPECT_EQ(5, sequence_model.ConflictGroups[0][1]);
        EXPECT_EQ(0, sequence_model.ConflictGroups[1][1]);
    }
}

}  // namespace
}  // namespace ruvalda::test
