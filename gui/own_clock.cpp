#include "gui/own_clock.h"

#include <cctype>
#include <chrono>

namespace ruvalda {

int speed_factor_from_caption(std::string_view caption) {
    int factor = 0;
    bool any = false;
    for (char c : caption) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) break;
        if (!std::isdigit(u)) continue;  // "&", ":" and blanks are skipped
        // Captions are short; the bound only keeps a silly caption from overflowing.
        if (factor < 100000) factor = factor * 10 + (c - '0');
        any = true;
    }
    return any ? factor : 1;
}

int wall_millis_now() {
    using namespace std::chrono;
    const auto now = system_clock::now().time_since_epoch();
    // The offset of local time from UTC is whole minutes, so the position within the second
    // is the same in both.
    const auto millis = duration_cast<milliseconds>(now).count() % 1000;
    return static_cast<int>(millis / 10 * 10);
}

void real_time_tick(OwnClock& clock, int now_millis, int factor) {
    clock.speedFactor = factor;
    int now = now_millis;
    if (clock.lastMillis < 0 || clock.targetTime <= 0)
        clock.lastMillis = now - 100;  // the first tick counts as a tenth of wall time
    else if (now < clock.lastMillis)
        now += 1000;  // the second has rolled over
    std::int32_t delta = (now - clock.lastMillis) * factor;
    delta -= delta % 100;  // whole tenths of control time only
    if (clock.targetTime < 0) clock.targetTime = -clock.targetTime;
    clock.targetTime += delta / 100;
    clock.lastMillis = (clock.lastMillis + delta / factor) % 1000;
}

}  // namespace ruvalda
