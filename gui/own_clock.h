// The own clock: turns elapsed wall time, times the chosen speed, into the control time the
// engine is to reach. Plain arithmetic, so the main window's timers and the tests share it.
#pragma once

#include <cstdint>
#include <string_view>

namespace ruvalda {

struct OwnClock {
    // 0: reset; > 0: running towards this time (tenths); < 0: paused at its magnitude.
    std::int32_t targetTime = 0;
    // Wall millisecond within the second up to which time has been used; negative: unset.
    std::int32_t lastMillis = -1;
    int speedFactor = 1;
    bool tickBusy = false;  // the engine drive is running
};

// The digits of a speed caption before its first letter ("1&0: Ten times" gives 10); 1 when
// there are none.
int speed_factor_from_caption(std::string_view caption);

// The millisecond of the current local time within its second, at 10 ms resolution (0..990).
int wall_millis_now();

// One real-time tick: moves targetTime on by the whole tenths that the wall time since the
// last tick makes at speed `factor`; the rest of the wall time carries over.
void real_time_tick(OwnClock& clock, int now_millis, int factor);

}  // namespace ruvalda
