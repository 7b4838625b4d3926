// Quarter-wave sine table: 256 entries of 16 bits (512 bytes), built once at
// start-up with 256 double-precision sines; every lookup after that is integer
// only: one table read and two bit tests.
#ifndef AUDIOSIM_WAVEFORM_H
#define AUDIOSIM_WAVEFORM_H

#include <cstdint>

// Entries in the table: one quarter of a sine cycle.
constexpr int sin_table_size = 256;

// Entry i holds 32767 * sin(i / 256 * pi/2), truncated toward zero: 0 for
// entry 0 rising to 32766 for entry 255. All zeros until generate_sin_table
// has run; read-only afterwards.
extern int16_t sin_table[sin_table_size];

// Fills sin_table. Call once, before the first lookup_sin.
void generate_sin_table();

// Sine of a lookup phase of 1024 steps per cycle: only bits 0 to 9 of phase
// count. Bit 8 reads the quarter backwards; bit 9 complements the value for the
// negative half-wave, so results run from -32767 to 32766.
int16_t lookup_sin(uint32_t phase);

#endif
