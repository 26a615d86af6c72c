#include "gui/identification.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>
#include <tuple>

#include "identification_lines.h"  // made at every build from version control

namespace ruvalda {

UnitLines unit_lines(Unit unit) {
    switch (unit) {
        case Unit::Entry:
            return {ruvalda_id_entry_body, ruvalda_id_entry_header};
        case Unit::MainWindow:
            return {ruvalda_id_main_window_body, ruvalda_id_main_window_header};
        case Unit::MapWindow:
            return {ruvalda_id_map_window_body, ruvalda_id_map_window_header};
        case Unit::TraceDialog:
            return {ruvalda_id_trace_dialog_body, ruvalda_id_trace_dialog_header};
        case Unit::SequenceDiagram:
            return {ruvalda_id_sequence_diagram_body, ruvalda_id_sequence_diagram_header};
        case Unit::MessageOutput:
            return {ruvalda_id_message_output_body, ruvalda_id_message_output_header};
        case Unit::Engine:
            return {ruvalda_id_engine_body, ruvalda_id_engine_header};
        case Unit::VissimConversation:
            return {ruvalda_id_vissim_conversation_body, ruvalda_id_vissim_conversation_header};
        case Unit::VissimBuffer:
            return {ruvalda_id_vissim_buffer_body, ruvalda_id_vissim_buffer_header};
    }
    return {};
}

std::string window_hint(Unit unit) {
    UnitLines lines = unit_lines(unit);
    // A window without lines keeps an empty hint, so the listing leaves it out.
    if (lines.body.empty() && lines.header.empty()) return {};
    std::string hint = lines.body;
    hint.append("\r\n\t").append(lines.header);
    return hint;
}

std::string format_build_date(BuildDate date) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", static_cast<unsigned>(date.year),
                  static_cast<unsigned>(date.month), static_cast<unsigned>(date.day));
    return text;
}

namespace {

constexpr std::string_view kMarker = "$Id: ";

struct Stamp {
    BuildDate date;
    std::string time;
};

// The digits at [from, from + count) of text as a number; nullopt when any is not a digit.
std::optional<int> digits(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The date and time of one piece, read around its first "-" and first ":", taken as local time
// and moved on by two hours. nullopt when either field is not wholly inside the piece or is no
// valid date or time: such a piece does not take part in the choice of the build date.
bool piece_stamp(std::string_view piece, Stamp& stamp) {
    const std::size_t dash = piece.find('-');
    const std::size_t colon = piece.find(':');
    if (dash == std::string_view::npos || dash < 4 || dash + 6 > piece.size()) return false;
    if (colon == std::string_view::npos || colon < 2 || colon + 6 > piece.size()) return false;
    const std::string_view date = piece.substr(dash - 4, 10);
    const std::string_view time = piece.substr(colon - 2, 8);
    if (date[7] != '-' || time[5] != ':') return false;
    const auto year = digits(date, 0, 4), month = digits(date, 5, 2), day = digits(date, 8, 2);
    const auto hour = digits(time, 0, 2), minute = digits(time, 3, 2), second = digits(time, 6, 2);
    if (!year || !month || !day || !hour || !minute || !second) return false;
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 ||
        *second > 59)
        return false;

    std::tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_hour = *hour;
    local.tm_min = *minute;
    local.tm_sec = *second;
    local.tm_isdst = -1;
    std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) return false;
    when += 7200;
    std::tm moved{};
    if (!localtime_r(&when, &moved)) return false;

    stamp.date.year = static_cast<std::uint16_t>(moved.tm_year + 1900);
    stamp.date.month = static_cast<std::uint16_t>(moved.tm_mon + 1);
    stamp.date.day = static_cast<std::uint16_t>(moved.tm_mday);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", moved.tm_hour, moved.tm_min, moved.tm_sec);
    stamp.time = text;
    return true;
}

}  // namespace

Identification BuildIdentification(const IdentificationInput& input) {
    std::string joined = input.entry;
    for (const std::string& hint : input.window_hints) {
        if (!hint.empty()) joined.append("\r\n").append(hint);
    }
    for (const UnitLines& unit : input.units) {
        if (unit.body.empty() && unit.header.empty()) continue;
        joined.append("\r\n").append(unit.body).append("\r\n\t").append(unit.header);
    }

    std::string text;
    text.reserve(joined.size());
    for (std::size_t from = 0;;) {
        const std::size_t at = joined.find(kMarker, from);
        text.append(joined, from, at == std::string::npos ? std::string::npos : at - from);
        if (at == std::string::npos) break;
        from = at + kMarker.size();
    }

    // Each piece runs to the end of the seconds, five characters after its first ":". Text
    // without a ":" holds no further piece, and a piece without a "$" after it is the last: the
    // rest of the text is dropped in both cases.
    Identification result;
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (text.size() - pos >= 5) {
        const std::size_t colon = text.find(':', pos);
        if (colon == std::string::npos) break;
        const std::size_t end = std::min(colon + 6, text.size());
        pieces.push_back(std::string_view(text).substr(pos, end - pos));
        result.listing.append(pieces.back());
        if (pieces.size() % 2 == 1) result.listing.push_back('\n');
        const std::size_t dollar = text.find('$', end);
        if (dollar == std::string::npos) break;
        pos = dollar + 1;
    }

    // Odd pieces are followed by a LF; an even last one is not, and does not count.
    const std::size_t counted = pieces.size() - (pieces.size() % 2 == 0 && !pieces.empty());
    const auto key = [](const Stamp& s) {
        return std::tie(s.date.year, s.date.month, s.date.day, s.time);
    };
    Stamp newest;
    bool found = false;
    for (std::size_t i = 0; i < counted; ++i) {
        Stamp stamp;
        if (!piece_stamp(pieces[i], stamp)) continue;
        if (!found || key(stamp) > key(newest)) newest = stamp;
        found = true;
    }
    if (found) {
        result.date = newest.date;
        result.time = newest.time;
    }
    return result;
}

}  // namespace ruvalda
