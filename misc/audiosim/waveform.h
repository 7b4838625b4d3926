// Quarter-wave sine table and its integer-only lookup of a 10-bit phase.
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

// All ones (-1) where the given bit of phase is set, else 0: the shift left
// puts the bit on top, the arithmetic shift right (C++20) spreads it.
constexpr int32_t bit_mask(uint32_t phase, unsigned bit) {
    constexpr unsigned top_bit = 31;
    return static_cast<int32_t>(phase << (top_bit - bit)) >> top_bit;
}

// Sine of a lookup phase of 1024 steps per cycle: only bits 0 to 9 of phase
// count. In a mirrored quarter the low 8 bits' complement (255 - position)
// reads the table backwards. The negative half is the complement of the value
// (val ^ -1 = -val - 1), not its negation, so results run from -32767 to
// 32766 and the zero crossing steps from 0 to -1.
inline int16_t lookup_sin(uint32_t phase) {
    const auto idx = static_cast<uint8_t>(phase ^ static_cast<uint32_t>(bit_mask(phase, mirror_bit)));
    const int16_t val = sin_table[idx];
    return static_cast<int16_t>(val ^ bit_mask(phase, negative_bit));
}

#endif
