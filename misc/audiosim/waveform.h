// Quarter-wave sine table: 256 entries of 16 bits (512 bytes), built once at
// start-up with 256 double-precision sines; every lookup after that is integer
// only: one table read and two bit tests, inline in the render loop.
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

// Lookup phase bit 8: set in the second quarter of each half-wave, where the
// table is read backwards.
constexpr unsigned mirror_bit = 8;
// Lookup phase bit 9: set in the negative half-wave.
constexpr unsigned negative_bit = 9;

// Whether the given bit of phase is set, tested as the sign of phase shifted
// to put that bit on top: g++ and clang++ then compile each test below
// without a branch (a mask, or a conditional move).
constexpr bool bit_set(uint32_t phase, unsigned bit) {
    constexpr unsigned top_bit = 31;
    return static_cast<int32_t>(phase << (top_bit - bit)) < 0;
}

// Sine of a lookup phase of 1024 steps per cycle: only bits 0 to 9 of phase
// count. In a mirrored quarter the low 8 bits' complement (255 - position)
// reads the table backwards. The negative half is the complement of the value
// (val ^ -1 = -val - 1), not its negation, so results run from -32767 to
// 32766 and the zero crossing steps from 0 to -1.
inline int16_t lookup_sin(uint32_t phase) {
    const auto idx = static_cast<uint8_t>(bit_set(phase, mirror_bit) ? ~phase : phase);
    const int16_t val = sin_table[idx];
    return static_cast<int16_t>(val ^ (bit_set(phase, negative_bit) ? -1 : 0));
}

#endif
