// The VISSIM conversation over an in-memory transport: registration, the transaction table, the
// abort flag, the control step with the crossing example, the error file and the texts.
#include "vissim/lsa.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/eval.h"
#include "loader/reader.h"
#include "sequence/sequence_model.h"
#include "tests/support/lsa_memory_transport.h"
#include "tests/support/test_support.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"

using namespace ruvalda;

namespace {

const std::string SOURCE = RUVALDA_SOURCE_DIR;

using test::MemoryTransport;

class LsaTest : public test::EngineTest {
  protected:
    MemoryTransport transport;
    std::vector<std::string> boxes;
    int destroyed = 0;
    int arranged = 0;
    std::map<int, int> ticked;  // detector -> state set on the map
    std::string dir;
    std::unique_ptr<test::WorkingDir> here;
    static constexpr LsaConv CONV = 77;

    void SetUp() override {
        EngineTest::SetUp();
        dir = test::temp_dir();
        here = std::make_unique<test::WorkingDir>(dir);
        lsa_state.fehl.box = [this](const std::string& text) {
            boxes.push_back(cp1252_to_utf8(text));
        };
        lsa_state.transport = &transport;
        lsa_state.host.destroy_main_window = [this] { ++destroyed; };
        lsa_state.host.arrange_windows = [this] { ++arranged; };
        lsa_state.host.set_detector_check_box = [this](int d, int s) { ticked[d] = s; };
        engine.colour_callback = [this](int stream, char letter) {
            lsa_wish_colour(lsa_state, stream, letter);
        };
    }
    void TearDown() override {
        if (lsa_state.vissimTraceFile) std::fclose(lsa_state.vissimTraceFile);
        lsa_state.vissimTraceFile = nullptr;
        lsa_state.fehl.box = nullptr;
        close_error_file(lsa_state);
        here.reset();
        EngineTest::TearDown();
    }

    LsaHsz hsz(const char* name) { return transport.create_string_handle(name); }

    LsaAnswer connect(const char* topic, const char* service = "vavozi07") {
        LsaTransaction t;
        t.type = LsaXtyp::Connect;
        t.conv = CONV;
        t.hsz1 = hsz(topic);
        t.hsz2 = hsz(service);
        return DdeCallbackLSA(lsa_state, engine, t);
    }
    std::uint32_t poke(const char* item, const std::vector<std::int32_t>& triples,
                       const char* topic = "VISSIM") {
        const std::vector<std::uint8_t> data = lsa_bytes(triples);
        LsaTransaction t;
        t.type = LsaXtyp::Poke;
        t.format = LSA_FORMAT;
        t.conv = CONV;
        t.hsz1 = hsz(topic);
        t.hsz2 = hsz(item);
        t.data = data.data();
        t.size = data.size();
        return DdeCallbackLSA(lsa_state, engine, t).result;
    }
    // The reply's values; empty when there was no data.
    std::vector<std::int32_t> request(const char* item = "Wunschbild",
                                      const char* topic = "VISSIM") {
        LsaTransaction t;
        t.type = LsaXtyp::Request;
        t.format = LSA_FORMAT;
        t.conv = CONV;
        t.hsz1 = hsz(topic);
        t.hsz2 = hsz(item);
        const LsaAnswer a = DdeCallbackLSA(lsa_state, engine, t);
        return a.has_reply ? lsa_values(*a.reply) : std::vector<std::int32_t>{};
    }

    void load_crossing() {
        const std::string control = SOURCE + "/examples/crossing/crossing.rvc";
        reader_state.macro.macro_path = macro_path_for(control, SOURCE + "/macros");
        reader_state.sequence_handler = sequence_reader(sequence_model);
        ASSERT_EQ(1, RVLoadFile(reader_state, engine, control.c_str()));
        ASSERT_TRUE(report_texts().empty());
    }
};

TEST_F(LsaTest, serviceNames_twoDigitsAtLeastAndNoneOutsideTheRange) {
    EXPECT_EQ(VAVOZI_String(lsa_state, 7), "vavozi07");
    EXPECT_EQ(VAVOZI_String(lsa_state, 0), "vavozi00");
    EXPECT_EQ(VAVOZI_String(lsa_state, 123), "vavozi123");
    EXPECT_EQ(VAVOZI_String(lsa_state, 9999), "vavozi9999");
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(VAVOZI_String(lsa_state, 10000));
    EXPECT_FALSE(VAVOZI_String(lsa_state, -1));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0],
              "Interner Fehler!\nFunktion: PROZKOMM.VAVOZI_String\nGrund:    Unzulässiger "
              "Parameter <nr>\n");
    EXPECT_TRUE(lsa_state.fehl.abort_flag);
    EXPECT_EQ(lsa_string(lsa_state, 7), "lsa7");
    EXPECT_FALSE(lsa_string(lsa_state, 10000));
    EXPECT_NE(boxes.back().find("LSA_FEHL.lsa_string"), std::string::npos);
}

TEST_F(LsaTest, registration_namesTheServiceAndReportsTransportFailures) {
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    EXPECT_EQ(transport.registered, "vavozi07");
    EXPECT_EQ(transport.names.size(), 8u);  // service, then the seven topics and items
    EXPECT_EQ(transport.names[1], "VISSIM");
    EXPECT_EQ(transport.names[7], "Parameter");
    EXPECT_TRUE(boxes.empty());

    transport.register_ok = false;
    EXPECT_FALSE(Init_LSAtoSIM(lsa_state, engine, 7));
    transport.init_ok = false;
    EXPECT_FALSE(Init_LSAtoSIM(lsa_state, engine, 7));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1],
              "Allgemeiner Fehler!\nFunktion: LSATOSIM.Init_LSAtoSIM\nGrund:    Die "
              "DDE-Schnittstelle ließ sich nicht initialisieren.\n");
}

TEST_F(LsaTest, connect_acceptsVissimAndVisvspOfOurServiceOnly) {
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    EXPECT_EQ(connect("VISSIM").result, 1u);
    EXPECT_EQ(connect("vissim").result, 1u);  // names compare without case, as in DDE
    EXPECT_EQ(connect("VISVSP").result, 1u);
    EXPECT_EQ(connect("Other").result, 0u);
    EXPECT_EQ(connect("VISSIM", "vavozi08").result, 0u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(LsaTest, visvspTopic_isAcceptedOnConnectButRefusedOnPokeAndRequest) {
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    EXPECT_EQ(poke("Rechnen", {999}, "VISVSP"), LSA_FNOTPROCESSED);
    EXPECT_TRUE(request("Wunschbild", "VISVSP").empty());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0],
              "Interner Fehler!\nFunktion: LSATOSIM.DdeCallbackLSA\nGrund:    unexpected topic\n");
}

TEST_F(LsaTest, dateiLesen_isAcknowledgedWithoutTouchingTheBuffer) {
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    ASSERT_EQ(poke("Init", {3001, 5, 1, 999}), LSA_FACK);
    // Not even a truncated buffer is read.
    EXPECT_EQ(poke("DateiLesen", {3001, 6}), LSA_FACK);
    EXPECT_EQ(det_definiert(lsa_state, 5), 1);
    EXPECT_EQ(det_definiert(lsa_state, 6), 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(LsaTest, parameter_isUnpackedThenReportedAsUnexpectedItem) {
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    EXPECT_EQ(poke("Parameter", {3001, 9, 1, 999}), LSA_FNOTPROCESSED);
    EXPECT_EQ(det_definiert(lsa_state, 9), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("unexpected item"), std::string::npos);
    EXPECT_TRUE(request("Anything").empty());
    EXPECT_NE(boxes.back().find("unexpected item"), std::string::npos);
    LsaTransaction other;
    other.type = LsaXtyp::Other;
    EXPECT_EQ(DdeCallbackLSA(lsa_state, engine, other).result, 0u);
    EXPECT_NE(boxes.back().find("unexpected XTYP"), std::string::npos);
}

TEST_F(LsaTest, init_setsDivisorFiveArrangesWindowsAndArmsTheReset) {
    load_crossing();
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    EXPECT_EQ(poke("Init", {1002, 0, 10, 999}), LSA_FACK);
    EXPECT_EQ(lsa_state.puff.puffer->schrittteiler, 5u);
    EXPECT_FLOAT_EQ(lsa_state.puff.puffer->wert1002, 10.0f);  // read before the divisor changed
    EXPECT_EQ(arranged, 1);
    EXPECT_TRUE(lsa_state.engine_reset_pending);
    EXPECT_EQ(poke("Rechnen", {9101, 0, 5, 999}), LSA_FACK);  // 1 s at five steps a second
    EXPECT_FALSE(lsa_state.engine_reset_pending);
    EXPECT_EQ(engine.current_time, 10);
}

TEST_F(LsaTest, secondRechnenWithoutWunschbild_isBusyAndComputesNothing) {
    load_crossing();
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    ASSERT_EQ(poke("Init", {999}), LSA_FACK);
    EXPECT_EQ(poke("Rechnen", {9101, 0, 5, 999}), LSA_FACK);
    EXPECT_EQ(lsa_state.steps, 1u);
    // Callbacks of the conversation were held around the step.
    ASSERT_EQ(transport.enables.size(), 2u);
    EXPECT_EQ(transport.enables[0], std::make_pair(CONV, false));
    EXPECT_EQ(transport.enables[1], std::make_pair(LsaConv{0}, true));

    EXPECT_EQ(poke("Rechnen", {3001, 1011, 1, 9101, 0, 10, 999}), LSA_FBUSY);
    EXPECT_EQ(lsa_state.steps, 1u);
    EXPECT_EQ(det_definiert(lsa_state, 1011), 1);  // unpacked all the same
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("letzter_event_rechnen"), std::string::npos);
    EXPECT_EQ(destroyed, 0);

    // The box set the abort flag: the next transaction's check ends the program.
    EXPECT_EQ(poke("Rechnen", {999}), 0u);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(connect("VISSIM").result, 0u);  // nobody answers any more
}

TEST_F(LsaTest, disconnect_destroysTheMainWindow) {
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    LsaTransaction t;
    t.type = LsaXtyp::Disconnect;
    EXPECT_EQ(DdeCallbackLSA(lsa_state, engine, t).result, 0u);
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(LsaTest, controlStep_feedsTranslatedDetectorsRecordsAndWishesPictures) {
    load_crossing();
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    const std::string trace = dir + "/vissim.txt";
    lsa_state.vissimTraceFile = std::fopen(trace.c_str(), "w");
    ASSERT_EQ(poke("Init", {999}), LSA_FACK);
    // Signal groups 1 and 2 known to VISSIM; 1011 occupied for 1.5 s, 1012 occupied for 0.5 s
    // and without impulse (off), 1999 not translated, 2000 never visited.
    const std::vector<std::int32_t> step = {
        2001, 1,    2, 2001, 2,    2, 3001, 1011, 1, 3031, 1011, 15,  3001, 1012, 1,  3031, 1012, 5,
        3001, 1999, 1, 3011, 1999, 1, 3001, 2000, 1, 3031, 2000, 100, 9101, 0,    62, 999};
    ASSERT_EQ(poke("Rechnen", step), LSA_FACK);
    EXPECT_EQ(engine.current_time, 124);  // 62 / 5 = 12.4 s
    EXPECT_EQ(RVExportDetector(engine, 11), 1);
    EXPECT_EQ(RVExportDetector(engine, 12), 0);
    EXPECT_EQ(ticked, (std::map<int, int>{{11, 1}}));
    std::fclose(lsa_state.vissimTraceFile);
    lsa_state.vissimTraceFile = nullptr;
    EXPECT_EQ(test::read_file(trace), "SteuerungBerechnung called, time=12.4: 1011=1 1012=0 .\n");

    // The reset at time 0 turned every stream red: wishes for the groups VISSIM named, each
    // impulse of a fed detector asked to be cleared.
    const std::vector<std::int32_t> reply = request();
    ASSERT_GE(reply.size(), 10u);
    EXPECT_EQ(std::vector<std::int32_t>(reply.begin(), reply.begin() + 3),
              (std::vector<std::int32_t>{1000, 0, 5}));
    std::map<std::int32_t, std::int32_t> wishes;
    std::vector<std::int32_t> cleared;
    for (std::size_t i = 9; i + 2 < reply.size(); i += 3) {
        if (reply[i] == 2003) wishes[reply[i + 1]] = reply[i + 2];
        if (reply[i] == 3011) cleared.push_back(reply[i + 1]);
    }
    EXPECT_EQ(reply.back(), 999);
    EXPECT_TRUE(wishes.count(1));
    EXPECT_TRUE(wishes.count(2));
    EXPECT_EQ(cleared, (std::vector<std::int32_t>{1011, 1012}));

    // Streams VISSIM did not name are warned about in lsa7.err, once each.
    EXPECT_TRUE(std::filesystem::exists(dir + "/lsa7.err"));
}

TEST_F(LsaTest, detectorOnInTwoSteps_isFedOnceAndClearedAfterBoth) {
    load_crossing();
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    ASSERT_EQ(poke("Init", {999}), LSA_FACK);
    int fed = 0;
    lsa_state.host.set_detector_check_box = [&fed](int, int) { ++fed; };
    for (int k = 1; k <= 2; ++k) {
        ASSERT_EQ(poke("Rechnen", {3001, 1011, 1, 3011, 1011, 1, 9101, 0, k, 999}), LSA_FACK);
        const std::vector<std::int32_t> reply = request();
        ASSERT_GE(reply.size(), 4u);
        EXPECT_EQ(std::vector<std::int32_t>(reply.end() - 4, reply.end()),
                  (std::vector<std::int32_t>{3011, 1011, 0, 999}));
    }
    EXPECT_EQ(fed, 1);
}

TEST_F(LsaTest, detector2000_isNeverFedEvenWhenTranslated) {
    // The crossing with a translation table that knows VISSIM detectors 2000 and 1999.
    const std::string control = dir + "/crossing.rvc";
    std::filesystem::copy_file(SOURCE + "/examples/crossing/crossing.rvc", control);
    test::write_file(dir + "/crossing.DTL", "2000 11\n1999 12\n");
    reader_state.macro.macro_path = macro_path_for(control, SOURCE + "/macros");
    reader_state.sequence_handler = sequence_reader(sequence_model);
    ASSERT_EQ(1, RVLoadFile(reader_state, engine, control.c_str()));
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    ASSERT_EQ(poke("Init", {999}), LSA_FACK);
    ASSERT_EQ(poke("Rechnen", {3011, 2000, 1, 3011, 1999, 1, 9101, 0, 1, 999}), LSA_FACK);
    EXPECT_EQ(RVExportDetector(engine, 11), 0);
    EXPECT_EQ(RVExportDetector(engine, 12), 1);
    EXPECT_EQ(request().size(), 13u);  // 1000, 1002, 1011, the clear for 1999 and 999
}

TEST_F(LsaTest, targetTenths_truncateTheSinglePrecisionTime) {
    EXPECT_EQ(lsa_target_tenths(0.05f), 0);
    EXPECT_EQ(lsa_target_tenths(0.1f), 1);
    EXPECT_EQ(lsa_target_tenths(0.7f), 7);
    EXPECT_EQ(lsa_target_tenths(12.3f), 123);
    EXPECT_EQ(lsa_target_tenths(-4.0f), 0);
    EXPECT_EQ(lsa_target_tenths(4e9f), 2147483647);
}

TEST_F(LsaTest, nestedControlStep_isAProgramError) {
    load_crossing();
    ASSERT_TRUE(Init_LSAtoSIM(lsa_state, engine, 7));
    lsa_state.host.process_messages = [this] { SteuerungBerechnung(lsa_state, engine); };
    ASSERT_EQ(poke("Init", {999}), LSA_FACK);
    poke("Rechnen", {9101, 0, 5, 999});
    const auto texts = report_texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Program Error in SteuerungBerechnung: Recursive call not permitted");
    EXPECT_FALSE(lsa_state.step_in_progress);
}

TEST_F(LsaTest, errorFile_firstLineThenEachWarningOnce) {
    lsa_state.fehl.lsa_nr = 12;
    lsa_state.fehl.lsa_nr2 = 3;
    ASSERT_TRUE(InitLSAPuffer(lsa_state));
    EXPECT_EQ(d_imp(lsa_state, 17), 0);
    EXPECT_EQ(d_imp(lsa_state, 17), 0);
    Laufzeitfehler(lsa_state, 9, "X", 1);
    EXPECT_EQ(test::read_file(dir + "/lsa12.err"),
              "LSA 3\nFunktion LSA_PUFF.d_imp:\nInterne Detektornummer 17 unbekannt!\n");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              "Interner Fehler!\nFunktion: LSA_FEHL.Laufzeitfehler\nGrund:    Unbekannte "
              "Fehlernummer\n");
    Laufzeitfehler(lsa_state, LZF_SIGGR_UNZULAESSIG, "LSA_PUFF.VonLSA", 1000);
    // Written in code page 1252: "ä" is one byte.
    const std::string file = test::read_file(dir + "/lsa12.err");
    EXPECT_NE(file.find("Interne Signalgruppennummer 1000 unzul\xE4ssig!\n"), std::string::npos);
}

TEST_F(LsaTest, errorFileThatCannotBeCreated_showsText27AndTriesAgainNextTime) {
    lsa_state.fehl.lsa_nr = 4;
    std::filesystem::create_directory(dir + "/lsa4.err");  // a folder where the file should be
    SchreibeFehlerdatei(lsa_state, "first\n");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              "Die Fehlermeldungsdatei lsa4.err ließ sich nicht öffnen. Folgende Meldung sollte "
              "geschrieben werden:\nfirst\n");
    EXPECT_EQ(lsa_state.fehl.fehlerdatei, nullptr);
    std::filesystem::remove(dir + "/lsa4.err");
    SchreibeFehlerdatei(lsa_state, "second\n");
    EXPECT_EQ(test::read_file(dir + "/lsa4.err"), "LSA 0\nsecond\n");
}

TEST_F(LsaTest, texts_areCutToTheBufferAndUnknownIdsNamed) {
    char small[9];
    LiesText(2, small, sizeof small);
    EXPECT_STREQ(small, "Allgemei");
    EXPECT_EQ(LiesText(99), "Bad string id (99)");
    EXPECT_EQ(LiesText(22), "Datentripel lie\xDF sich nicht schreiben.");
    // A reason longer than 200 characters is cut in the box.
    MeldeAllgemeinenFehler(lsa_state, "F", std::string(300, 'x'));
    EXPECT_EQ(boxes.back(),
              "Allgemeiner Fehler!\nFunktion: F\nGrund:    " + std::string(200, 'x') + "\n");
}

}  // namespace
