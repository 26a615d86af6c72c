// VISSIM coupling: texts by number, message boxes, abort flag and error file.
#include "vissim/lsa_fehl.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "vissim/lsa.h"

namespace ruvalda {

namespace {

struct LsaText {
    int id;
    const char* text;
};

// Code page 1252: ä = \xE4, ö = \xF6, ß = \xDF (split literals where a hex digit follows).
constexpr std::array<LsaText, 22> TEXTE{{
    {1, "lsa"},
    {2, "Allgemeiner Fehler"},
    {3, "Interner Fehler"},
    {4, "Funktion"},
    {5, "Grund"},
    {6, "Unzul\xE4ssiger Parameter <nr>"},
    {7, "Unbekannte Fehlernummer"},
    {9, "LSA"},
    {10, "Interne Signalgruppennummer %lu unzul\xE4ssig!"},
    {11, "Interne Signalgruppennummer %lu unbekannt!"},
    {12, "Interne Detektornummer %lu unzul\xE4ssig!"},
    {13, "Interne Detektornummer %lu unbekannt!"},
    {15, "Vorhandener Speicher reicht nicht aus!"},
    {16, "Unbekanntes Signalbild"},
    {17, "Unerwartetes Pufferende"},
    {18, "VISSIM-Signalgruppennummer %lu unbekannt!"},
    {19, "VISSIM-Detektornummer %lu unbekannt!"},
    {21, "Unzul\xE4ssiges Kommando"},
    {22, "Datentripel lie\xDF sich nicht schreiben."},
    {23, "Die DDE-Schnittstelle lie\xDF sich nicht initialisieren."},
    {27,
     "Die Fehlermeldungsdatei %s lie\xDF sich nicht \xF6"
     "ffnen. Folgende Meldung sollte geschrieben werden:\n%s"},
    {28,
     "Fehler beim Schreiben in die Fehlermeldungsdatei %s. Folgende Meldung sollte "
     "geschrieben werden:\n%s"},
}};

const char* text_of(int id) {
    for (auto it = TEXTE.rbegin(); it != TEXTE.rend(); ++it)
        if (it->id == id) return it->text;
    return nullptr;
}

// The box front end, or standard error when none is installed.
void show_box(LsaState& lsa_state, const std::string& text) {
    lsa_state.fehl.abort_flag = true;
    if (lsa_state.fehl.box) {
        lsa_state.fehl.box(text);
    } else {
        std::fprintf(stderr, "%s: %s", LSA_BOX_TITLE, cp1252_to_utf8(text).c_str());
        std::fflush(stderr);
    }
}

void melde(LsaState& lsa_state, int title_id, const char* function, const std::string& reason) {
    char title[31];
    char funktion[21];
    char grund[21];
    LiesText(title_id, title, sizeof title);
    LiesText(4, funktion, sizeof funktion);
    LiesText(5, grund, sizeof grund);
    const std::string cut = reason.substr(0, LSA_REASON_MAX);
    std::string text = title;
    text += "!\n";
    text += funktion;
    text += ": ";
    text += function;
    text += "\n";
    text += grund;
    text += ":    ";
    text += cut;
    text += "\n";
    show_box(lsa_state, text);
}

// Formats a table text that has one %s for the file name and one for the message.
std::string datei_text(int id, const std::string& name, const std::string& message) {
    const std::string format = LiesText(id);
    const std::size_t first = format.find("%s");
    const std::size_t second = first == std::string::npos ? first : format.find("%s", first + 2);
    if (second == std::string::npos) return format;
    std::string text = format.substr(0, first);
    text += name;
    text += format.substr(first + 2, second - first - 2);
    text += message;
    text += format.substr(second + 2);
    return text;
}

bool fehlerdatei_oeffnen(LsaState& lsa_state, const std::string& message) {
    auto& s = lsa_state.fehl;
    const std::optional<std::string> stem = lsa_string(lsa_state, static_cast<long>(s.lsa_nr));
    if (!stem) return false;
    s.fehlerdatei_name = *stem + ".err";
    s.fehlerdatei = std::fopen(s.fehlerdatei_name.c_str(), "w");
    if (!s.fehlerdatei) {
        show_box(lsa_state, datei_text(27, s.fehlerdatei_name, message));
        return false;
    }
    char lsa[16];
    LiesText(9, lsa, sizeof lsa);
    char first_line[64];
    std::snprintf(first_line, sizeof first_line, "%s %lu\n", lsa, s.lsa_nr2);
    if (std::fputs(first_line, s.fehlerdatei) < 0 || std::fflush(s.fehlerdatei) != 0) {
        show_box(lsa_state, datei_text(28, s.fehlerdatei_name, first_line));
        return false;
    }
    return true;
}

}  // namespace

void close_error_file(LsaState& lsa_state) {
    if (lsa_state.fehl.fehlerdatei) std::fclose(lsa_state.fehl.fehlerdatei);
    lsa_state.fehl.fehlerdatei = nullptr;
}

void LiesText(int id, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return;
    char unknown[32];
    const char* text = text_of(id);
    if (!text) {
        std::snprintf(unknown, sizeof unknown, "Bad string id (%d)", id);
        text = unknown;
    }
    const std::size_t n = std::min(std::strlen(text), size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

std::string LiesText(int id, std::size_t size) {
    std::string buffer(size, '\0');
    LiesText(id, buffer.data(), size);
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

void MeldeAllgemeinenFehler(LsaState& lsa_state, const char* function, const std::string& reason) {
    melde(lsa_state, 2, function, reason);
}

void MeldeInternenFehler(LsaState& lsa_state, const char* function, const std::string& reason) {
    melde(lsa_state, 3, function, reason);
}

void Laufzeitfehler(LsaState& lsa_state, int kind, const char* function, unsigned long nr) {
    auto& s = lsa_state.fehl;
    int text_id = 0;
    switch (kind) {
        case LZF_SIGGR_UNZULAESSIG:
            text_id = 10;
            break;
        case LZF_SIGGR_UNBEKANNT:
            // Once per signal group; numbers beyond the marks are warned about every time.
            if (nr < s.siggr_gewarnt.size()) {
                if (s.siggr_gewarnt.test(nr)) return;
                s.siggr_gewarnt.set(nr);
            }
            text_id = 11;
            break;
        case LZF_DET_UNZULAESSIG:
            text_id = 12;
            break;
        case LZF_DET_UNBEKANNT:
            if (nr < s.det_gewarnt.size()) {
                if (s.det_gewarnt.test(nr)) return;
                s.det_gewarnt.set(nr);
            }
            text_id = 13;
            break;
        default:
            MeldeInternenFehler(lsa_state, "LSA_FEHL.Laufzeitfehler", LiesText(7));
            return;
    }
    char funktion[21];
    LiesText(4, funktion, sizeof funktion);
    char warning[LSA_WARNING_MAX + 1];
    std::snprintf(warning, sizeof warning, LiesText(text_id).c_str(), nr);
    std::string entry = funktion;
    entry += " ";
    entry += function;
    entry += ":\n";
    entry += warning;
    entry += "\n";
    SchreibeFehlerdatei(lsa_state, entry);
}

void SchreibeFehlerdatei(LsaState& lsa_state, const std::string& message) {
    auto& s = lsa_state.fehl;
    if (!s.fehlerdatei && !fehlerdatei_oeffnen(lsa_state, message)) return;
    if (std::fputs(message.c_str(), s.fehlerdatei) < 0 || std::fflush(s.fehlerdatei) != 0)
        show_box(lsa_state, datei_text(28, s.fehlerdatei_name, message));
}

std::optional<std::string> lsa_string(LsaState& lsa_state, long n) {
    if (n < 0 || n > 9999) {
        MeldeInternenFehler(lsa_state, "LSA_FEHL.lsa_string", LiesText(6));
        return std::nullopt;
    }
    std::string stem = LiesText(1);
    stem += std::to_string(n);
    return stem;
}

std::string cp1252_to_utf8(const std::string& text) {
    // 0x80..0x9F differ from Latin-1; 0 marks the five unassigned codes.
    static constexpr std::array<char16_t, 32> HIGH{
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char32_t code = byte;
        if (byte >= 0x80 && byte < 0xA0) code = HIGH[byte - 0x80] ? HIGH[byte - 0x80] : U'?';
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace ruvalda
