// VISSIM coupling: detector and signal-group buffer and its triple stream.
#include "vissim/lsa_puff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"

namespace ruvalda {

void lsa_append_value(std::vector<std::uint8_t>& out, std::int32_t value) {
    out.resize(out.size() + 4);
    lsa_store_value(out.data() + out.size() - 4, value);
}

std::vector<std::uint8_t> lsa_bytes(const std::vector<std::int32_t>& values) {
    std::vector<std::uint8_t> out;
    out.reserve(values.size() * 4);
    for (const std::int32_t v : values) lsa_append_value(out, v);
    return out;
}

std::vector<std::int32_t> lsa_values(const std::vector<std::uint8_t>& data) {
    std::vector<std::int32_t> out;
    out.reserve(data.size() / 4);
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4) out.push_back(lsa_load_value(&data[i]));
    return out;
}

namespace {

constexpr int GENERAL = 1;
constexpr int INTERNAL = 0;

void fehler(LsaState& lsa_state, int kind, const char* function, const std::string& text) {
    if (kind == GENERAL) {
        MeldeAllgemeinenFehler(lsa_state, function, text);
    } else {
        MeldeInternenFehler(lsa_state, function, text);
    }
}

void fehler(LsaState& lsa_state, int kind, const char* function, int text_id) {
    fehler(lsa_state, kind, function, LiesText(text_id));
}

void fehler_nr(LsaState& lsa_state, int kind, const char* function, int text_id, unsigned long nr) {
    char text[128];
    std::snprintf(text, sizeof text, LiesText(text_id).c_str(), nr);
    fehler(lsa_state, kind, function, text);
}

bool abgebrochen(LsaState& lsa_state) {
    return lsa_state.fehl.abort_flag;
}

LSA_Puffer& puffer(LsaState& lsa_state) {
    return *lsa_state.puff.puffer;
}

bool det_in_range(LsaState& lsa_state, unsigned long nr, const char* function) {
    if (nr >= 1 && nr <= static_cast<unsigned long>(LSA_MAX_DET)) return true;
    fehler_nr(lsa_state, GENERAL, function, 12, nr);
    return false;
}

bool sg_in_range(LsaState& lsa_state, unsigned long nr, const char* function) {
    if (nr >= 1 && nr <= static_cast<unsigned long>(LSA_MAX_SIGGR)) return true;
    fehler_nr(lsa_state, GENERAL, function, 10, nr);
    return false;
}

std::int32_t nicht_negativ(std::int32_t value) {
    return std::max<std::int32_t>(value, 0);
}
std::int16_t low16(std::int32_t value) {
    return static_cast<std::int16_t>(value & 0xFFFF);
}

void slot_eintragen(std::array<std::int16_t, LSA_SLOTS>& slots, std::int32_t value) {
    for (auto& slot : slots) {
        if (slot == -1) {
            slot = low16(value);
            return;
        }
    }
}

void anwenden_siggr(LsaState& lsa_state, std::int32_t command, std::int32_t number,
                    std::int32_t value) {
    const char* where = "LSA_PUFF.LSAPufferAuspacken";
    const int nr = SigGrInternNr(lsa_state, number, where);
    if (nr == 0 || !sg_in_range(lsa_state, static_cast<unsigned long>(nr), where)) return;
    LsaSigGr& sg = puffer(lsa_state).SigGr[static_cast<std::size_t>(nr)];
    sg.definiert = true;
    switch (command) {
        case 2001:
            sg.ist_bild = lsa_bild(lsa_state, value);
            break;
        case 2011:
            sg.wert2011 = nicht_negativ(value);
            break;
        case 2012:
            sg.wert2012 = nicht_negativ(value);
            break;
        case 2013:
            sg.wert2013 = nicht_negativ(value);
            break;
        case 2014:
            sg.wert2014 = nicht_negativ(value);
            break;
        case 2021:
            sg.wert2021 = nicht_negativ(value);
            break;
        default:
            break;
    }
}

void anwenden_det(LsaState& lsa_state, std::int32_t command, std::int32_t number,
                  std::int32_t value) {
    const char* where = "LSA_PUFF.LSAPufferAuspacken";
    const int nr = DetInternNr(lsa_state, number, where);
    if (nr == 0 || !det_in_range(lsa_state, static_cast<unsigned long>(nr), where)) return;
    LsaDet& det = puffer(lsa_state).Det[static_cast<std::size_t>(nr)];
    det.definiert = true;
    const auto low = static_cast<std::uint16_t>(value & 0xFFFF);
    switch (command) {
        case 3001:
            det.belegt = value != 0;
            break;
        case 3011:
            det.impuls = value != 0 ? 1 : 0;
            break;
        case 3012:
            det.wert3012 = low16(value);
            det.summe3012 += low;
            break;
        case 3013:
            det.wert3013 = low16(value);
            det.summe3013 += low;
            break;
        case 3014:
            slot_eintragen(det.slots3014, value);
            break;
        case 3015:
            slot_eintragen(det.slots3015, value);
            break;
        case 3021:
            det.wert3021 = value;
            break;
        case 3022:
            det.wert3022 = low16(value);
            break;
        case 3031:
            det.belegungszeit = static_cast<std::uint32_t>(value);
            break;
        case 3040:
            det.wert3040 = low16(value);
            break;
        case 3041:
            det.wert3041 = low16(value);
            break;
        case 3050:
            det.wert3050 = value;
            break;
        case 3051:
            det.wert3051 = value;
            break;
        default:
            break;
    }
}

bool ist_siggr_kommando(std::int32_t c) {
    return c == 2001 || (c >= 2011 && c <= 2014) || c == 2021;
}

bool ist_det_kommando(std::int32_t c) {
    switch (c) {
        case 3001:
        case 3011:
        case 3012:
        case 3013:
        case 3014:
        case 3015:
        case 3021:
        case 3022:
        case 3031:
        case 3040:
        case 3041:
        case 3050:
        case 3051:
            return true;
        default:
            return false;
    }
}

// Applies one triple; false ends the unpacking (memory exhausted).
bool anwenden(LsaState& lsa_state, std::int32_t command, std::int32_t number, std::int32_t value) {
    LSA_Puffer& p = puffer(lsa_state);
    const auto teiler = static_cast<float>(p.schrittteiler);
    if (ist_siggr_kommando(command)) {
        anwenden_siggr(lsa_state, command, number, value);
        return true;
    }
    if (ist_det_kommando(command)) {
        anwenden_det(lsa_state, command, number, value);
        return true;
    }
    switch (command) {
        case 1001:
            p.wert1001 = nicht_negativ(value);
            break;
        case 1002:
            p.wert1002 = static_cast<float>(value) / teiler;
            break;
        case 1011:
            p.wert1011 = value;
            break;
        case 1031:
            p.flag1031 = value != 0;
            break;
        case 9101:
            p.simulationszeit = static_cast<float>(value) / teiler;
            break;
        case 1021: {
            auto found = lsa_state.puff.paar_index.find(number);
            if (found != lsa_state.puff.paar_index.end()) {
                found->second->value = value;
                break;
            }
            try {
                p.paare.push_front(LsaPaar{number, value});
                lsa_state.puff.paar_index[number] = &p.paare.front();
            } catch (const std::bad_alloc&) {
                fehler(lsa_state, GENERAL, "LSA_PUFF.LSAPufferAuspacken",
                       lsa_state.fehl.speichertext);
                return false;
            }
            break;
        }
        case 3081:
            try {
                OevTelegramm t;
                t.werte[0] = number;
                p.telegramme.push_front(t);
            } catch (const std::bad_alloc&) {
                fehler(lsa_state, GENERAL, "LSA_PUFF.neues_oev_telegramm",
                       lsa_state.fehl.speichertext);
                return false;
            }
            break;
        default:
            if (command >= 3082 && command <= 3089 && !p.telegramme.empty() &&
                p.telegramme.front().werte[0] == number) {
                p.telegramme.front().werte[static_cast<std::size_t>(command - 3081)] = value;
            }
            break;  // unknown commands are skipped silently
    }
    return true;
}

}  // namespace

// ---- write side -------------------------------------------------------------------------

bool InitPufferSchreiben(LsaState& lsa_state) {
    try {
        lsa_state.puff.data.clear();
        lsa_state.puff.data.reserve(LSA_REPLY_INITIAL);
    } catch (const std::bad_alloc&) {
        fehler(lsa_state, INTERNAL, "PROZKOMM.InitPufferSchreiben", "DdeCreateDataHandle()");
        return false;
    }
    lsa_state.puff.read_open = false;
    lsa_state.puff.write_offset = 0;
    return true;
}

bool SchreibePuffer(LsaState& lsa_state, std::int32_t value) {
    auto& data = lsa_state.puff.data;
    const std::size_t offset = lsa_state.puff.write_offset;
    try {
        if (data.size() < offset + 4) data.resize(offset + 4);
    } catch (const std::bad_alloc&) {
        fehler(lsa_state, INTERNAL, "PROZKOMM.SchreibePuffer", "DdeAddData()");
        return false;
    }
    lsa_store_value(data.data() + offset, value);
    lsa_state.puff.write_offset = offset + 4;
    return true;
}

bool SchreibeTripel(LsaState& lsa_state, std::int32_t command, std::int32_t number,
                    std::int32_t value) {
    bool ok = SchreibePuffer(lsa_state, command);
    if (ok && command != 999)
        ok = SchreibePuffer(lsa_state, number) && SchreibePuffer(lsa_state, value);
    if (!ok) fehler(lsa_state, GENERAL, "LSAPUFFR.SchreibeTripel", 22);
    return ok;
}

// ---- read side --------------------------------------------------------------------------

bool InitPufferLesen(LsaState& lsa_state) {
    lsa_state.puff.read_pos = 0;
    lsa_state.puff.read_open = true;
    return true;
}

bool LiesPuffer(LsaState& lsa_state, std::int32_t& value) {
    const auto& data = lsa_state.puff.data;
    const std::size_t pos = lsa_state.puff.read_pos;
    if (!lsa_state.puff.read_open || pos > data.size() || data.size() - pos < 4) {
        fehler(lsa_state, INTERNAL, "PROZKOMM.LiesPuffer", 17);
        return false;
    }
    value = lsa_load_value(data.data() + pos);
    lsa_state.puff.read_pos = pos + 4;
    return true;
}

bool LiesTripel(LsaState& lsa_state, std::int32_t& command, std::int32_t& number,
                std::int32_t& value) {
    if (!LiesPuffer(lsa_state, command)) return false;
    if (command == 999) {
        number = 0;
        value = 0;
        return true;
    }
    return LiesPuffer(lsa_state, number) && LiesPuffer(lsa_state, value);
}

bool ExitPufferLesen(LsaState& lsa_state) {
    // Access given up and the poked data freed.
    lsa_state.puff.read_open = false;
    lsa_state.puff.read_pos = 0;
    lsa_state.puff.data.clear();
    return true;
}

// ---- the buffer -------------------------------------------------------------------------

bool InitLSAPuffer(LsaState& lsa_state) {
    // Copied while memory lasts, for the reports of its shortage.
    lsa_state.fehl.speichertext = LiesText(15, LSA_MEMORY_TEXT_MAX + 1);
    try {
        auto p = std::make_unique<LSA_Puffer>();
        for (int i = 0; i <= LSA_MAX_DET; ++i) {
            LsaDet& d = p->Det[static_cast<std::size_t>(i)];
            d.vissim_nr = i;
            d.slots3014.fill(-1);
            d.slots3015.fill(-1);
        }
        for (int i = 0; i <= LSA_MAX_SIGGR; ++i)
            p->SigGr[static_cast<std::size_t>(i)].vissim_nr = i;
        lsa_state.puff.puffer = std::move(p);
        lsa_state.puff.paar_index.clear();
        lsa_state.puff.det_cache = 0;
        lsa_state.puff.sg_cache = 0;
    } catch (const std::bad_alloc&) {
        fehler(lsa_state, GENERAL, "LSA_PUFF.InitLSAPuffer", lsa_state.fehl.speichertext);
        return false;
    }
    return true;
}

void LSAPufferAuspacken(LsaState& lsa_state, bool read) {
    if (!read || !lsa_state.puff.puffer) return;
    LSA_Puffer& p = puffer(lsa_state);
    InitPufferLesen(lsa_state);
    for (auto& d : p.Det) {
        d.definiert = false;
        d.impuls_loeschen = false;
        d.slots3014.fill(-1);
        d.slots3015.fill(-1);
    }
    for (auto& sg : p.SigGr) {
        sg.definiert = false;
        if (sg.wunsch_bild != BILD_KEIN_WUNSCH) sg.vorher_wunsch_bild = sg.wunsch_bild;
        sg.wunsch_bild = BILD_KEIN_WUNSCH;
        sg.wunsch_flag = false;
    }
    p.telegramme.clear();
    std::int32_t command = 0;
    std::int32_t number = 0;
    std::int32_t value = 0;
    // Every triple consumes at least 4 bytes, so the loop ends with the data.
    while (!abgebrochen(lsa_state)) {
        if (!LiesTripel(lsa_state, command, number, value)) {
            fehler(lsa_state, INTERNAL, "LSA_PUFF.LSAPufferAuspacken", 17);
            break;
        }
        if (command == 999) break;
        if (!anwenden(lsa_state, command, number, value)) break;
    }
    ExitPufferLesen(lsa_state);
}

bool LSAPufferPacken(LsaState& lsa_state) {
    if (!lsa_state.puff.puffer) return false;
    if (!InitPufferSchreiben(lsa_state) || abgebrochen(lsa_state)) return false;
    LSA_Puffer& p = puffer(lsa_state);
    const auto teiler = static_cast<double>(p.schrittteiler);
    const double echo = teiler * static_cast<double>(p.wert1002) + 0.001;
    const double lo = std::numeric_limits<std::int32_t>::min();
    const double hi = std::numeric_limits<std::int32_t>::max();
    const auto wert1002 = static_cast<std::int32_t>(std::clamp(echo, lo, hi));
    if (!SchreibeTripel(lsa_state, 1000, 0, static_cast<std::int32_t>(p.schrittteiler)))
        return false;
    if (!SchreibeTripel(lsa_state, 1002, 0, wert1002)) return false;
    if (!SchreibeTripel(lsa_state, 1011, 0, p.wert1011)) return false;
    for (int i = 1; i <= LSA_MAX_SIGGR; ++i) {
        const LsaSigGr& sg = p.SigGr[static_cast<std::size_t>(i)];
        if (sg.wunsch_bild == BILD_KEIN_WUNSCH) continue;
        const std::int32_t vissim = SigGrVISSIMNr(lsa_state, static_cast<unsigned long>(i));
        if (vissim == 0) continue;
        if (!SchreibeTripel(lsa_state, sg.wunsch_flag ? 2002 : 2003, vissim,
                            puffer_bild(lsa_state, sg.wunsch_bild)))
            return false;
        if (abgebrochen(lsa_state)) return false;
    }
    for (int i = 1; i <= LSA_MAX_DET; ++i) {
        if (!p.Det[static_cast<std::size_t>(i)].impuls_loeschen) continue;
        const std::int32_t vissim = DetVISSIMNr(lsa_state, static_cast<unsigned long>(i));
        if (vissim == 0) continue;
        if (!SchreibeTripel(lsa_state, 3011, vissim, 0)) return false;
        if (abgebrochen(lsa_state)) return false;
    }
    if (!SchreibeTripel(lsa_state, 999, 0, 0)) return false;
    return !abgebrochen(lsa_state);
}

void VonLSA(LsaState& lsa_state, int command, unsigned long sg, bool flag) {
    const char* where = "LSA_PUFF.VonLSA";
    if (!lsa_state.puff.puffer || !sg_in_range(lsa_state, sg, where)) return;
    LsaSigGr& rec = puffer(lsa_state).SigGr[sg];
    if (!rec.definiert) {
        Laufzeitfehler(lsa_state, LZF_SIGGR_UNBEKANNT, where, sg);
        return;
    }
    rec.wunsch_flag = flag;
    switch (command) {
        case 1:
        case 3:
        case 5:
            rec.wunsch_bild = BILD_GRUEN;
            break;
        case 2:
            rec.wunsch_bild = BILD_ROT;
            break;
        case 4:
        case 6:
            rec.wunsch_bild = BILD_AUS;
            break;
        case 7:
            rec.wunsch_bild = 1;
            break;
        case 8:
            rec.wunsch_bild = BILD_GELB;
            break;
        default:
            if (command >= 9 && command <= 13) {
                rec.wunsch_bild = static_cast<std::uint8_t>(command - 3);
            } else {
                fehler(lsa_state, INTERNAL, where, 21);
            }
            break;
    }
}

std::uint8_t lsa_bild(LsaState& lsa_state, std::int32_t vissim_code) {
    switch (vissim_code) {
        case 0:
            return 4;
        case 1:
            return 2;
        case 2:
            return 0;
        case 3:
            return 1;
        case 4:
            return 2;
        case 5:
            return 3;
        default:
            if (vissim_code >= 6 && vissim_code <= 10)
                return static_cast<std::uint8_t>(vissim_code);
            fehler(lsa_state, INTERNAL, "LSA_PUFF.lsa_bild", 16);
            return 4;
    }
}

std::int32_t puffer_bild(LsaState& lsa_state, std::uint8_t internal_code) {
    switch (internal_code) {
        case 0:
            return 2;
        case 1:
            return 3;
        case 2:
            return 4;
        case 3:
            return 5;
        case 4:
            return 0;
        default:
            if (internal_code >= 6 && internal_code <= 10) return internal_code;
            fehler(lsa_state, GENERAL, "LSA_PUFF.puffer_bild", 16);
            return -1;
    }
}

// ---- detector queries -------------------------------------------------------------------

namespace {

LsaDet* det_for_query(LsaState& lsa_state, unsigned long nr, const char* where) {
    if (!lsa_state.puff.puffer || !det_in_range(lsa_state, nr, where)) return nullptr;
    return &puffer(lsa_state).Det[nr];
}

}  // namespace

std::int32_t d_imp(LsaState& lsa_state, unsigned long nr) {
    const char* where = "LSA_PUFF.d_imp";
    LsaDet* d = det_for_query(lsa_state, nr, where);
    if (!d) return -1;
    if (!d->definiert) {
        Laufzeitfehler(lsa_state, LZF_DET_UNBEKANNT, where, nr);
        return 0;
    }
    return d->impuls;
}

std::int32_t d_limp(LsaState& lsa_state, unsigned long nr) {
    const char* where = "LSA_PUFF.d_limp";
    LsaDet* d = det_for_query(lsa_state, nr, where);
    if (!d) return -1;
    if (!d->definiert) {
        Laufzeitfehler(lsa_state, LZF_DET_UNBEKANNT, where, nr);
        return -1;
    }
    d->impuls_loeschen = true;
    return 0;
}

std::int32_t d_blgzt(LsaState& lsa_state, unsigned long nr) {
    const char* where = "LSA_PUFF.d_blgzt";
    LsaDet* d = det_for_query(lsa_state, nr, where);
    if (!d) return -1;
    if (!d->definiert) {
        Laufzeitfehler(lsa_state, LZF_DET_UNBEKANNT, where, nr);
        return 0;
    }
    if (!d->belegt) return 0;
    const std::uint32_t t = d->belegungszeit / 10;
    return static_cast<std::int32_t>(std::min<std::uint32_t>(t, 2147483647u));
}

std::int32_t det_definiert(LsaState& lsa_state, unsigned long nr) {
    LsaDet* d = det_for_query(lsa_state, nr, "LSA_PUFF.det_definiert");
    if (!d) return -1;
    return d->definiert ? 1 : 0;
}

std::int32_t DetVISSIMNr(LsaState& lsa_state, unsigned long nr) {
    if (!lsa_state.puff.puffer || !det_in_range(lsa_state, nr, "DetVISSIMNr")) return 0;
    return puffer(lsa_state).Det[nr].vissim_nr;
}

std::int32_t SigGrVISSIMNr(LsaState& lsa_state, unsigned long nr) {
    if (!lsa_state.puff.puffer || !sg_in_range(lsa_state, nr, "SigGrVISSIMNr")) return 0;
    return puffer(lsa_state).SigGr[nr].vissim_nr;
}

int DetInternNr(LsaState& lsa_state, std::int32_t vissim_nr, const char* function) {
    if (!lsa_state.puff.puffer) return 0;
    LSA_Puffer& p = puffer(lsa_state);
    const int cached = lsa_state.puff.det_cache;
    if (cached != 0 && p.Det[static_cast<std::size_t>(cached)].vissim_nr == vissim_nr)
        return cached;
    // VISSIM numbers equal the internal ones, so the record of that number is the first match.
    if (vissim_nr >= 1 && vissim_nr <= LSA_MAX_DET &&
        p.Det[static_cast<std::size_t>(vissim_nr)].vissim_nr == vissim_nr) {
        lsa_state.puff.det_cache = vissim_nr;
        return vissim_nr;
    }
    for (int i = 1; i <= LSA_MAX_DET; ++i) {
        if (p.Det[static_cast<std::size_t>(i)].vissim_nr == vissim_nr) {
            lsa_state.puff.det_cache = i;
            return i;
        }
    }
    fehler_nr(lsa_state, GENERAL, function, 19, static_cast<std::uint32_t>(vissim_nr));
    return 0;
}

int SigGrInternNr(LsaState& lsa_state, std::int32_t vissim_nr, const char* function) {
    if (!lsa_state.puff.puffer) return 0;
    LSA_Puffer& p = puffer(lsa_state);
    const int cached = lsa_state.puff.sg_cache;
    if (cached != 0 && p.SigGr[static_cast<std::size_t>(cached)].vissim_nr == vissim_nr)
        return cached;
    // VISSIM numbers equal the internal ones, so the record of that number is the first match.
    if (vissim_nr >= 1 && vissim_nr <= LSA_MAX_SIGGR &&
        p.SigGr[static_cast<std::size_t>(vissim_nr)].vissim_nr == vissim_nr) {
        lsa_state.puff.sg_cache = vissim_nr;
        return vissim_nr;
    }
    for (int i = 1; i <= LSA_MAX_SIGGR; ++i) {
        if (p.SigGr[static_cast<std::size_t>(i)].vissim_nr == vissim_nr) {
            lsa_state.puff.sg_cache = i;
            return i;
        }
    }
    fehler_nr(lsa_state, GENERAL, function, 18, static_cast<std::uint32_t>(vissim_nr));
    return 0;
}

float lsa_simulationszeit(LsaState& lsa_state) {
    return lsa_state.puff.puffer ? puffer(lsa_state).simulationszeit : 0.0f;
}

void lsa_set_schrittteiler(LsaState& lsa_state, std::uint32_t divisor) {
    if (lsa_state.puff.puffer && divisor >= 1 && divisor <= 10)
        puffer(lsa_state).schrittteiler = divisor;
}

}  // namespace ruvalda
