// VISSIM coupling: its German texts by number, its two message boxes (general and internal
// errors), the abort flag they set, and the per-controller error file for run-time warnings that
// must not interrupt the simulation. The coupling reports only through these, never through the
// main window's report_error.
//
// Texts are in code page 1252, as they are written to the error file; front ends that show them
// convert with cp1252_to_utf8.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace ruvalda {

struct LsaState;  // the conversation these operations work on (vissim/lsa.h)

constexpr const char* LSA_BOX_TITLE = "Ruvalda/SIM";
constexpr std::size_t LSA_REASON_MAX = 200;   // reason in a box
constexpr std::size_t LSA_WARNING_MAX = 100;  // text of a run-time warning
constexpr std::size_t LSA_MEMORY_TEXT_MAX = 50;

// Kinds of run-time warnings.
constexpr int LZF_SIGGR_UNZULAESSIG = 1;
constexpr int LZF_SIGGR_UNBEKANNT = 2;
constexpr int LZF_DET_UNZULAESSIG = 3;
constexpr int LZF_DET_UNBEKANNT = 4;

struct LsaFehlState {
    bool abort_flag = false;    // set by every box; the conversation then ends the program
    unsigned long lsa_nr = 0;   // controller number (first command-line argument)
    unsigned long lsa_nr2 = 0;  // second command-line number, first line of the error file
    std::FILE* fehlerdatei = nullptr;
    std::string fehlerdatei_name;
    std::bitset<1000> siggr_gewarnt;  // signal groups 1..999 already warned about
    std::bitset<2001> det_gewarnt;    // detectors 1..2000
    std::string speichertext;         // the memory text, copied once by InitLSAPuffer
    // Shows a box: title "Ruvalda/SIM", error icon, topmost, the text in code page 1252. Unset:
    // the text goes to standard error.
    std::function<void(const std::string& text)> box;
};

// Closes the error file, at the end of the conversation's controller.
void close_error_file(LsaState& lsa_state);

// The text of id, cut to fit size bytes with its terminating zero; an unknown id yields
// "Bad string id (<id>)".
void LiesText(int id, char* buffer, std::size_t size);
std::string LiesText(int id, std::size_t size = 256);

void MeldeAllgemeinenFehler(LsaState& lsa_state, const char* function, const std::string& reason);
void MeldeInternenFehler(LsaState& lsa_state, const char* function, const std::string& reason);

// Run-time warning into the error file; kinds LZF_*.
void Laufzeitfehler(LsaState& lsa_state, int kind, const char* function, unsigned long nr);
void SchreibeFehlerdatei(LsaState& lsa_state, const std::string& message);

// File stem of the error file: "lsa" and n; none (and an internal error) outside 0..9999.
std::optional<std::string> lsa_string(LsaState& lsa_state, long n);

// For front ends that show the coupling's texts.
std::string cp1252_to_utf8(const std::string& text);

}  // namespace ruvalda
