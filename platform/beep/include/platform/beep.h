// The PC speaker beep: the terminal bell when standard error is a terminal, otherwise a logged
// line on standard error. A beep is a courtesy to the user: it never fails and never blocks.
#pragma once

#include <cstdint>

namespace platform {

// Sounds one tone of `frequency_hz` lasting `duration_ms` on standard error (see beep_on).
// Returns at once: the bell has no length, so a caller that paces tones waits on its own.
void beep(std::uint32_t frequency_hz, std::uint32_t duration_ms);

// The same on descriptor `fd`: the bell character when `fd` is a terminal, else the line
// "beep: <hz> Hz for <ms> ms". Nothing is written when `fd` is not open or cannot take the bytes
// now; never blocks.
void beep_on(int fd, std::uint32_t frequency_hz, std::uint32_t duration_ms);

}  // namespace platform
