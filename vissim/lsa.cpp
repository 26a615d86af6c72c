// VISSIM coupling: service registration, the transaction table, and the control step.
#include "vissim/lsa.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/eval.h"
#include "output/output.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"

namespace ruvalda {

std::optional<std::string> VAVOZI_String(LsaState& lsa_state, long lsa_number) {
    if (lsa_number < 0 || lsa_number > 9999) {
        MeldeInternenFehler(lsa_state, "PROZKOMM.VAVOZI_String", LiesText(6));
        return std::nullopt;
    }
    char name[16];
    std::snprintf(name, sizeof name, "vavozi%02ld", lsa_number);
    return std::string(name);
}

bool Init_LSAtoSIM(LsaState& lsa_state, EngineState& engine, long lsa_number) {
    auto& s = lsa_state;
    const char* where = "LSATOSIM.Init_LSAtoSIM";
    s.initialised = false;
    lsa_state.fehl.lsa_nr = static_cast<unsigned long>(lsa_number);  // names the error file
    if (!s.transport || !s.transport->initialize(
                            [lsa = &lsa_state, owner = &engine](const LsaTransaction& transaction) {
                                return DdeCallbackLSA(*lsa, *owner, transaction);
                            })) {
        MeldeAllgemeinenFehler(lsa_state, where, LiesText(23));
        return false;
    }
    s.initialised = true;
    if (!InitLSAPuffer(lsa_state)) return false;
    const std::optional<std::string> name = VAVOZI_String(lsa_state, lsa_number);
    if (!name) return false;  // reported; without a name nobody could ever connect
    LsaServerTransport& t = *s.transport;
    s.service_name = *name;
    s.service = t.create_string_handle(name->c_str());
    s.hsz_vissim = t.create_string_handle("VISSIM");
    s.hsz_datei_lesen = t.create_string_handle("DateiLesen");
    s.hsz_init = t.create_string_handle("Init");
    s.hsz_rechnen = t.create_string_handle("Rechnen");
    s.hsz_wunschbild = t.create_string_handle("Wunschbild");
    s.hsz_visvsp = t.create_string_handle("VISVSP");
    s.hsz_parameter = t.create_string_handle("Parameter");
    if (!s.service || !t.register_service(s.service)) {
        MeldeAllgemeinenFehler(lsa_state, where, LiesText(23));
        return false;
    }
    return true;
}

namespace {

constexpr const char* CALLBACK_WHERE = "LSATOSIM.DdeCallbackLSA";

bool same(LsaState& lsa_state, LsaHsz a, LsaHsz b) {
    return a != 0 && b != 0 && lsa_state.transport->same_string(a, b);
}

void destroy_main_window(LsaState& lsa_state) {
    lsa_state.main_window_destroyed = true;
    if (lsa_state.host.destroy_main_window) lsa_state.host.destroy_main_window();
}

// The check point of a transaction: after a box of the coupling the program ends.
bool aborted(LsaState& lsa_state) {
    if (!lsa_state.fehl.abort_flag) return false;
    destroy_main_window(lsa_state);
    return true;
}

LsaAnswer answer(std::uint32_t result) {
    LsaAnswer a;
    a.result = result;
    return a;
}

LsaAnswer connect(LsaState& lsa_state, const LsaTransaction& t) {
    if (!same(lsa_state, t.hsz2, lsa_state.service)) return answer(0);
    if (same(lsa_state, t.hsz1, lsa_state.hsz_vissim) ||
        same(lsa_state, t.hsz1, lsa_state.hsz_visvsp))
        return answer(1);
    return answer(0);
}

LsaAnswer request(LsaState& lsa_state, const LsaTransaction& t) {
    if (!same(lsa_state, t.hsz1, lsa_state.hsz_vissim)) {
        MeldeInternenFehler(lsa_state, CALLBACK_WHERE, "unexpected topic");
        return answer(0);
    }
    if (!same(lsa_state, t.hsz2, lsa_state.hsz_wunschbild)) {
        MeldeInternenFehler(lsa_state, CALLBACK_WHERE, "unexpected item");
        return answer(0);
    }
    lsa_state.letzter_event_rechnen = false;
    // A reply cut short by a box would lack its 999: none is sent and the program ends.
    if (!LSAPufferPacken(lsa_state)) {
        aborted(lsa_state);
        return answer(0);
    }
    LsaAnswer a;
    a.has_reply = true;
    a.reply = &lsa_state.puff.data;
    return a;
}

LsaAnswer rechnen(LsaState& lsa_state, EngineState& engine, const LsaTransaction& t) {
    if (lsa_state.letzter_event_rechnen) {
        MeldeInternenFehler(lsa_state, CALLBACK_WHERE, "letzter_event_rechnen");
        return answer(LSA_FBUSY);
    }
    // VISSIM's next transaction waits until the step is done.
    lsa_state.transport->enable_callbacks(t.conv, false);
    SteuerungBerechnung(lsa_state, engine);
    lsa_state.letzter_event_rechnen = true;
    lsa_state.transport->enable_callbacks(0, true);
    return answer(aborted(lsa_state) ? 0 : LSA_FACK);
}

LsaAnswer poke(LsaState& lsa_state, EngineState& engine, const LsaTransaction& t) {
    auto& s = lsa_state;
    if (!same(lsa_state, t.hsz1, s.hsz_vissim)) {
        MeldeInternenFehler(lsa_state, CALLBACK_WHERE, "unexpected topic");
        return answer(LSA_FNOTPROCESSED);
    }
    // "DateiLesen" is acknowledged without its data being read.
    if (same(lsa_state, t.hsz2, s.hsz_datei_lesen)) return answer(LSA_FACK);
    lsa_state.puff.data.assign(t.data, t.data + (t.data ? t.size : 0));
    LSAPufferAuspacken(lsa_state, true);
    if (aborted(lsa_state)) return answer(0);
    if (same(lsa_state, t.hsz2, s.hsz_init)) {
        s.letzter_event_rechnen = false;
        if (s.host.arrange_windows) s.host.arrange_windows();
        s.engine_reset_pending = true;
        lsa_set_schrittteiler(lsa_state, 5);
        return answer(aborted(lsa_state) ? 0 : LSA_FACK);
    }
    if (same(lsa_state, t.hsz2, s.hsz_rechnen)) return rechnen(lsa_state, engine, t);
    MeldeInternenFehler(lsa_state, CALLBACK_WHERE, "unexpected item");
    return answer(LSA_FNOTPROCESSED);
}

}  // namespace

LsaAnswer DdeCallbackLSA(LsaState& lsa_state, EngineState& engine, const LsaTransaction& t) {
    // Transactions held while the program was ending find nobody to answer them.
    if (lsa_state.main_window_destroyed || !lsa_state.transport) return answer(0);
    switch (t.type) {
        case LsaXtyp::Connect:
            return connect(lsa_state, t);
        case LsaXtyp::Request:
            return request(lsa_state, t);
        case LsaXtyp::Poke:
            return poke(lsa_state, engine, t);
        case LsaXtyp::Disconnect:
            destroy_main_window(lsa_state);
            return answer(0);
        case LsaXtyp::Other:
            break;
    }
    MeldeInternenFehler(lsa_state, CALLBACK_WHERE, "unexpected XTYP");
    return answer(0);
}

long lsa_argument_number(const std::string& argument) {
    long value = 0;
    for (const char c : argument) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 999999999) return 999999999;
    }
    return value;
}

void lsa_wish_colour(LsaState& lsa_state, int stream, char letter) {
    const int command = letter == 'G' ? 1 : letter == 'R' ? 2 : letter == 'Y' ? 8 : 0;
    VonLSA(lsa_state, command, static_cast<unsigned long>(stream), false);
}

std::int32_t lsa_target_tenths(float seconds) {
    const double tenths = 10.0 * static_cast<double>(seconds) + 0.1;
    // VISSIM's time comes from the wire; anything beyond the engine's clock is held at its ends.
    if (!(tenths >= 0.0)) return 0;
    if (tenths >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(tenths);
}

void SteuerungBerechnung(LsaState& lsa_state, EngineState& engine) {
    auto& s = lsa_state;
    const float t = lsa_simulationszeit(lsa_state);
    if (s.step_in_progress) {
        report_error(engine.output, PROGRAM_ERROR, "SteuerungBerechnung",
                     "Recursive call not permitted");
        return;
    }
    s.step_in_progress = true;
    char text[64];
    std::snprintf(text, sizeof text,
                  "SteuerungBerechnung called, time=%.1f: ", static_cast<double>(t));
    std::string record = text;
    if (s.engine_reset_pending) {
        RVInitialize(engine);
        s.engine_reset_pending = false;
    }
    for (unsigned long d = 1; d < static_cast<unsigned long>(LSA_MAX_DET); ++d) {
        if (det_definiert(lsa_state, d) != 1) continue;
        const std::int32_t belegt = d_blgzt(lsa_state, d);
        const int state = (d_imp(lsa_state, d) != 0 || belegt > 0) ? 1 : 0;
        const int p = RVTranslateDetector(engine, static_cast<int>(d));
        if (p == 0) continue;
        d_limp(lsa_state, d);
        if (RVExportDetector(engine, p) != state) {
            if (s.host.set_detector_check_box) s.host.set_detector_check_box(p, state);
            SetDetectorState(engine, p, state);
        }
        std::snprintf(text, sizeof text, "%lu=%d ", d, belegt != 0 ? 1 : 0);
        record += text;
    }
    record += ".\n";
    if (s.vissimTraceFile) {
        std::fprintf(s.vissimTraceFile, "%s", record.c_str());
        std::fflush(s.vissimTraceFile);
    }
    if (s.host.process_messages) s.host.process_messages();
    RVRunUntil(engine, lsa_target_tenths(t));
    trim_messages(engine.output);
    ++s.steps;
    s.step_in_progress = false;
}

}  // namespace ruvalda
