// VISSIM coupling: the controller-side image of the detector and signal-group data exchanged
// with VISSIM, the 32-bit triple stream it travels in, and the wished signal pictures.
//
// Reports go to the coupling's own boxes and error file (vissim/lsa_fehl.h), whose abort flag
// ends the unpacking and packing.
//
// Wire format: 32-bit signed little-endian integers in triples (command, number, value); a
// single 999 ends a buffer. The transport (DDEML or a local socket) only moves the bytes: a
// poke puts them into lsa_state.puff.data, a request takes the reply from the same place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ruvalda {

struct LsaState;  // the conversation these operations work on (vissim/lsa.h)

constexpr int LSA_MAX_DET = 2000;   // detectors 1..2000 (record 0 exists, never addressed)
constexpr int LSA_MAX_SIGGR = 999;  // signal groups 1..999
constexpr int LSA_SLOTS = 10;       // slots 3014 and 3015 per detector
constexpr std::size_t LSA_REPLY_INITIAL = 8192;

// Internal picture codes.
constexpr std::uint8_t BILD_ROT = 0;
constexpr std::uint8_t BILD_GRUEN = 2;
constexpr std::uint8_t BILD_GELB = 3;
constexpr std::uint8_t BILD_AUS = 4;
constexpr std::uint8_t BILD_KEIN_WUNSCH = 5;

struct LsaDet {
    bool definiert = false;
    std::int32_t vissim_nr = 0;
    bool belegt = false;           // 3001
    std::uint16_t impuls = 0;      // 3011
    bool impuls_loeschen = false;  // set by d_limp, sent back as 3011
    std::int16_t wert3012 = 0;
    std::uint32_t summe3012 = 0;
    std::int16_t wert3013 = 0;
    std::uint32_t summe3013 = 0;
    std::int32_t wert3021 = 0;
    std::int16_t wert3022 = 0;
    std::int16_t wert3040 = 0;
    std::int16_t wert3041 = 0;
    std::uint32_t belegungszeit = 0;  // 3031
    std::int32_t wert3050 = 0;
    std::int32_t wert3051 = 0;
    std::array<std::int16_t, LSA_SLOTS> slots3014{};
    std::array<std::int16_t, LSA_SLOTS> slots3015{};
};

struct LsaSigGr {
    bool definiert = false;
    std::int32_t vissim_nr = 0;
    std::uint8_t ist_bild = BILD_AUS;     // 2001
    std::uint8_t wunsch_bild = BILD_AUS;  // written by VonLSA
    std::uint8_t vorher_wunsch_bild = BILD_AUS;
    bool wunsch_flag = false;  // reply command 2002 (true) or 2003
    std::int32_t wert2011 = 0;
    std::int32_t wert2012 = 0;
    std::int32_t wert2013 = 0;
    std::int32_t wert2014 = 0;
    std::int32_t wert2021 = 0;
};

// Public-transport telegram: number (3081), then the values of 3082..3089.
struct OevTelegramm {
    std::array<std::int32_t, 9> werte{};
};

struct LsaPaar {
    std::int32_t key = 0;
    std::int32_t value = 0;
};

struct LSA_Puffer {
    std::array<LsaDet, LSA_MAX_DET + 1> Det;
    std::array<LsaSigGr, LSA_MAX_SIGGR + 1> SigGr;
    float wert1002 = 0.0f;
    std::int32_t wert1001 = 0;
    std::int32_t wert1011 = 1;
    bool flag1031 = false;
    float simulationszeit = 0.0f;         // seconds (9101)
    std::deque<OevTelegramm> telegramme;  // newest first
    std::deque<LsaPaar> paare;            // newest first (1021)
    std::uint32_t schrittteiler = 1;
};

struct LsaPuffState {
    std::unique_ptr<LSA_Puffer> puffer;
    std::vector<std::uint8_t> data;  // the current data: poked buffer or reply being built
    std::size_t read_pos = 0;
    bool read_open = false;
    std::size_t write_offset = 0;
    int det_cache = 0;                                      // last successful DetInternNr answer
    int sg_cache = 0;                                       // last successful SigGrInternNr answer
    std::unordered_map<std::int32_t, LsaPaar*> paar_index;  // key -> pair (deque keeps them put)
};

// One 32-bit value of the wire format, little-endian, at a byte position.
inline void lsa_store_value(std::uint8_t* at, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(u >> (8 * i));
}
inline std::int32_t lsa_load_value(const std::uint8_t* at) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
        static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24);
}
// Whole buffers, for VISSIM's side of the conversation and for tests: values appended, and the
// whole values of a buffer (trailing bytes of a partial value are left out).
void lsa_append_value(std::vector<std::uint8_t>& out, std::int32_t value);
std::vector<std::uint8_t> lsa_bytes(const std::vector<std::int32_t>& values);
std::vector<std::int32_t> lsa_values(const std::vector<std::uint8_t>& data);

// Write side.
bool InitPufferSchreiben(LsaState& lsa_state);
bool SchreibePuffer(LsaState& lsa_state, std::int32_t value);
bool SchreibeTripel(LsaState& lsa_state, std::int32_t command, std::int32_t number,
                    std::int32_t value);
// Read side; the poked bytes are in lsa_state.puff.data.
bool InitPufferLesen(LsaState& lsa_state);
bool LiesPuffer(LsaState& lsa_state, std::int32_t& value);
bool LiesTripel(LsaState& lsa_state, std::int32_t& command, std::int32_t& number,
                std::int32_t& value);
bool ExitPufferLesen(LsaState& lsa_state);

bool InitLSAPuffer(LsaState& lsa_state);
void LSAPufferAuspacken(LsaState& lsa_state, bool read);
bool LSAPufferPacken(LsaState& lsa_state);
void VonLSA(LsaState& lsa_state, int command, unsigned long sg, bool flag);

std::uint8_t lsa_bild(LsaState& lsa_state, std::int32_t vissim_code);
std::int32_t puffer_bild(LsaState& lsa_state, std::uint8_t internal_code);

std::int32_t d_imp(LsaState& lsa_state, unsigned long nr);
std::int32_t d_limp(LsaState& lsa_state, unsigned long nr);
std::int32_t d_blgzt(LsaState& lsa_state, unsigned long nr);
std::int32_t det_definiert(LsaState& lsa_state, unsigned long nr);

std::int32_t DetVISSIMNr(LsaState& lsa_state, unsigned long nr);
std::int32_t SigGrVISSIMNr(LsaState& lsa_state, unsigned long nr);
int DetInternNr(LsaState& lsa_state, std::int32_t vissim_nr, const char* function);
int SigGrInternNr(LsaState& lsa_state, std::int32_t vissim_nr, const char* function);

float lsa_simulationszeit(LsaState& lsa_state);
void lsa_set_schrittteiler(LsaState& lsa_state, std::uint32_t divisor);

}  // namespace ruvalda
