// Detector and signal-group buffer: triple stream, unpacking, wished pictures, queries.
#include "vissim/lsa_puff.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"

using namespace ruvalda;

namespace {

struct Seen {
    int kind;  // 1 general, 0 internal
    std::string function;
    std::string text;
};

// Splits a box text "Title!\nFunktion: F\nGrund:    R\n" into its parts.
Seen parse_box(const std::string& box) {
    Seen seen{box.rfind("Allgemeiner Fehler!", 0) == 0 ? 1 : 0, "", ""};
    const std::size_t f = box.find("\nFunktion: ");
    const std::size_t g = box.find("\nGrund:    ");
    if (f != std::string::npos && g != std::string::npos) {
        seen.function = box.substr(f + 11, g - f - 11);
        seen.text = cp1252_to_utf8(box.substr(g + 11, box.size() - g - 12));
    }
    return seen;
}

class LsaPuffTest : public test::ControllerTest {
  protected:
    std::vector<Seen> errors;
    std::string dir;
    std::unique_ptr<test::WorkingDir> here;

    void SetUp() override {
        // Run-time warnings go to lsa0.err in the current folder.
        dir = test::temp_dir();
        here = std::make_unique<test::WorkingDir>(dir);
        lsa_state.fehl.box = [this](const std::string& text) { errors.push_back(parse_box(text)); };
        ASSERT_TRUE(InitLSAPuffer(lsa_state));
    }
    void TearDown() override {
        lsa_state.fehl.box = nullptr;
        close_error_file(lsa_state);
        here.reset();
    }

    // The warnings written so far, after the error file's first line.
    std::string warnings() const {
        std::fflush(lsa_state.fehl.fehlerdatei);
        const std::string all = test::read_file(dir + "/lsa0.err");
        const std::size_t first = all.find('\n');
        return first == std::string::npos ? "" : all.substr(first + 1);
    }

    void poke(const std::vector<std::int32_t>& values) {
        lsa_state.puff.data = lsa_bytes(values);
        LSAPufferAuspacken(lsa_state, true);
    }

    std::vector<std::int32_t> reply() {
        EXPECT_TRUE(LSAPufferPacken(lsa_state));
        EXPECT_EQ(lsa_state.puff.data.size() % 4, 0u);
        return lsa_values(lsa_state.puff.data);
    }
};

TEST_F(LsaPuffTest, EmptyBufferLeavesEverythingUndefinedAndReplyHasNoWishes) {
    poke({999});
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(det_definiert(lsa_state, 17), 0);
    EXPECT_EQ(d_imp(lsa_state, 17), 0);
    EXPECT_EQ(d_limp(lsa_state, 17), -1);
    EXPECT_EQ(d_blgzt(lsa_state, 17), 0);
    // One warning per detector, from the first query that met it undefined.
    EXPECT_EQ(warnings(), "Funktion LSA_PUFF.d_imp:\nInterne Detektornummer 17 unbekannt!\n");
    EXPECT_EQ(reply(), (std::vector<std::int32_t>{1000, 0, 1, 1002, 0, 0, 1011, 0, 1, 999}));
}

TEST_F(LsaPuffTest, SlotsTakeTenValuesPerBufferAndEmptyAgainInTheNext) {
    std::vector<std::int32_t> buf;
    for (int i = 0; i < 11; ++i) buf.insert(buf.end(), {3014, 5, 100 + i});
    buf.insert(buf.end(), {3015, 5, 0x12345, 999});
    poke(buf);
    const LsaDet& d = lsa_state.puff.puffer->Det[5];
    EXPECT_EQ(d.slots3014[0], 100);
    EXPECT_EQ(d.slots3014[9], 109);
    EXPECT_EQ(d.slots3015[0], 0x2345);
    EXPECT_EQ(d.slots3015[1], -1);
    poke({3014, 5, 7, 999});
    EXPECT_EQ(d.slots3014[0], 7);
    EXPECT_EQ(d.slots3014[1], -1);
    EXPECT_EQ(d.slots3015[0], -1);
}

TEST_F(LsaPuffTest, SumsGrowByLow16BitsAndSurviveUnpacking) {
    poke({3012, 9, 3, 3012, 9, 0x10004, 3013, 9, -1, 999});
    const LsaDet& d = lsa_state.puff.puffer->Det[9];
    EXPECT_EQ(d.wert3012, 4);
    EXPECT_EQ(d.summe3012, 7u);
    EXPECT_EQ(d.summe3013, 0xFFFFu);
    poke({3012, 9, 1, 999});
    EXPECT_EQ(d.summe3012, 8u);
}

TEST_F(LsaPuffTest, StepDivisorScalesReceivedValuesAndTheEcho) {
    lsa_set_schrittteiler(lsa_state, 11);  // ignored
    lsa_set_schrittteiler(lsa_state, 0);   // ignored
    EXPECT_EQ(lsa_state.puff.puffer->schrittteiler, 1u);
    lsa_set_schrittteiler(lsa_state, 5);
    poke({1002, 0, 5, 9101, 0, 50, 1001, 0, -3, 1011, 0, 7, 1031, 0, 2, 999});
    EXPECT_FLOAT_EQ(lsa_state.puff.puffer->wert1002, 1.0f);
    EXPECT_FLOAT_EQ(lsa_simulationszeit(lsa_state), 10.0f);
    EXPECT_EQ(lsa_state.puff.puffer->wert1001, 0);
    EXPECT_TRUE(lsa_state.puff.puffer->flag1031);
    EXPECT_EQ(reply(), (std::vector<std::int32_t>{1000, 0, 5, 1002, 0, 5, 1011, 0, 7, 999}));
}

TEST_F(LsaPuffTest, PictureCodesBothWays) {
    poke({2001, 3, 7, 2001, 4, 1, 2001, 5, 0, 999});
    EXPECT_EQ(lsa_state.puff.puffer->SigGr[3].ist_bild, 7);
    EXPECT_EQ(lsa_state.puff.puffer->SigGr[4].ist_bild, 2);
    EXPECT_EQ(lsa_state.puff.puffer->SigGr[5].ist_bild, 4);
    EXPECT_TRUE(errors.empty());
    poke({2001, 3, 11, 999});
    EXPECT_EQ(lsa_state.puff.puffer->SigGr[3].ist_bild, 4);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].function, "LSA_PUFF.lsa_bild");
    EXPECT_EQ(errors[0].text, "Unbekanntes Signalbild");
    EXPECT_TRUE(lsa_state.fehl.abort_flag);
    EXPECT_EQ(puffer_bild(lsa_state, 0), 2);
    EXPECT_EQ(puffer_bild(lsa_state, 2), 4);
    EXPECT_EQ(puffer_bild(lsa_state, 3), 5);
    EXPECT_EQ(puffer_bild(lsa_state, 4), 0);
    EXPECT_EQ(puffer_bild(lsa_state, 9), 9);
    EXPECT_EQ(puffer_bild(lsa_state, 5), -1);
}

TEST_F(LsaPuffTest, WishedPicturesFromVonLsaGoIntoTheReply) {
    poke({2001, 1, 2, 2001, 2, 2, 2001, 3, 2, 2001, 4, 2, 999});
    VonLSA(lsa_state, 1, 1, false);  // green
    VonLSA(lsa_state, 2, 2, false);  // red
    VonLSA(lsa_state, 8, 3, true);   // yellow, command 2002
    VonLSA(lsa_state, 14, 4, true);  // refused, only the flag changes
    VonLSA(lsa_state, 1, 6, false);  // not in the buffer: warning, nothing changes
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].function, "LSA_PUFF.VonLSA");
    EXPECT_EQ(errors[0].text, "Unzulässiges Kommando");
    EXPECT_EQ(warnings(), "Funktion LSA_PUFF.VonLSA:\nInterne Signalgruppennummer 6 unbekannt!\n");
    lsa_state.fehl.abort_flag = false;
    EXPECT_EQ(reply(), (std::vector<std::int32_t>{1000, 0, 1, 1002, 0, 0, 1011, 0, 1, 2003, 1, 4,
                                                  2003, 2, 2, 2002, 3, 5, 999}));
    poke({2001, 1, 2, 999});
    EXPECT_EQ(lsa_state.puff.puffer->SigGr[1].vorher_wunsch_bild, BILD_GRUEN);
    EXPECT_EQ(lsa_state.puff.puffer->SigGr[1].wunsch_bild, BILD_KEIN_WUNSCH);
    VonLSA(lsa_state, 1, 1000, false);
    EXPECT_EQ(errors.back().text, "Interne Signalgruppennummer 1000 unzulässig!");
}

TEST_F(LsaPuffTest, DetectorQueriesAndClearImpulseRequest) {
    poke({3001, 2000, 1, 3031, 2000, 123, 3011, 12, 5, 999});
    EXPECT_EQ(det_definiert(lsa_state, 2000),
              1);  // the buffer carries it; the control step never feeds it
    EXPECT_EQ(d_blgzt(lsa_state, 2000), 12);
    EXPECT_EQ(d_imp(lsa_state, 12), 1);
    EXPECT_EQ(d_blgzt(lsa_state, 12), 0);
    EXPECT_EQ(d_limp(lsa_state, 12), 0);
    EXPECT_EQ(lsa_state.fehl.fehlerdatei, nullptr);
    EXPECT_EQ(reply(),
              (std::vector<std::int32_t>{1000, 0, 1, 1002, 0, 0, 1011, 0, 1, 3011, 12, 0, 999}));
    EXPECT_EQ(det_definiert(lsa_state, 2001), -1);
    EXPECT_EQ(errors.back().text, "Interne Detektornummer 2001 unzulässig!");
    EXPECT_EQ(d_imp(lsa_state, 0), -1);
}

TEST_F(LsaPuffTest, TelegramsAndPairs) {
    poke({3081, 42,   0, 3082, 42,   7, 3083, 41,   9, 3089, 42,
          8,    1021, 5, 1,    1021, 6, 2,    1021, 5, 3,    999});
    const auto& p = *lsa_state.puff.puffer;
    ASSERT_EQ(p.telegramme.size(), 1u);
    EXPECT_EQ(p.telegramme.front().werte[0], 42);
    EXPECT_EQ(p.telegramme.front().werte[1], 7);
    EXPECT_EQ(p.telegramme.front().werte[2], 0);
    EXPECT_EQ(p.telegramme.front().werte[8], 8);
    ASSERT_EQ(p.paare.size(), 2u);
    EXPECT_EQ(p.paare.front().key, 6);
    EXPECT_EQ(p.paare.back().value, 3);
    poke({999});
    EXPECT_TRUE(p.telegramme.empty());
    EXPECT_EQ(p.paare.size(), 2u);
}

TEST_F(LsaPuffTest, TruncatedBuffersEndWithUnexpectedEnd) {
    poke({3001, 5, 1});  // no 999
    EXPECT_EQ(det_definiert(lsa_state, 5), 1);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().function, "LSA_PUFF.LSAPufferAuspacken");
    EXPECT_EQ(errors.back().text, "Unerwartetes Pufferende");
    errors.clear();
    lsa_state.fehl.abort_flag = false;
    lsa_state.puff.data = {0xE7, 0x03, 0x00};  // 999 cut short
    LSAPufferAuspacken(lsa_state, true);
    EXPECT_FALSE(errors.empty());
    errors.clear();
    lsa_state.fehl.abort_flag = false;
    LSAPufferAuspacken(lsa_state, false);  // does nothing
    EXPECT_TRUE(errors.empty());
    poke({3001, 2001, 1, 999});  // unknown VISSIM detector: reported, triple skipped
    EXPECT_EQ(errors.back().text, "VISSIM-Detektornummer 2001 unbekannt!");
}

}  // namespace
