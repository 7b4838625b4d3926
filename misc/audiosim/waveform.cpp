// Quarter-wave sine table: 512 bytes, built once with 256 calls to sin();
// lookups are integer only (one table read, a mirror bit and a sign bit).
#include "waveform.h"

#include <cmath>

namespace {

// Peak amplitude of a table entry: the largest positive 16-bit sample.
constexpr double sin_scale = 32767.0;
// A quarter cycle in radians: the angle the table spans.
constexpr double quarter_cycle_radians = 1.5707963267948966;
// Bit 8 of the lookup phase: set in the second quarter of each half-wave,
// where the table is read backwards.
constexpr unsigned mirror_bit = 8;
// Bit 9 of the lookup phase: set in the negative half-wave.
constexpr unsigned negative_bit = 9;

// All ones when the given bit of phase is set, else all zeros: a bit test
// with no branch.
constexpr uint32_t bit_mask(uint32_t phase, unsigned bit) { return 0U - ((phase >> bit) & 1U); }

}  // namespace

int16_t sin_table[sin_table_size];

void generate_sin_table() {
    for (int i = 0; i < sin_table_size; ++i) {
        // Divide first, then scale by pi/2, so every host computes the same
        // angle. Each scaled sine lies at least 0.01 from an integer, so
        // truncation gives the same entry with any correct sin().
        const double phi = (i / static_cast<double>(sin_table_size)) * quarter_cycle_radians;
        sin_table[i] = static_cast<int16_t>(std::sin(phi) * sin_scale);
    }
}

int16_t lookup_sin(uint32_t phase) {
    // The low 8 bits place the phase within a quarter; in a mirrored quarter
    // their complement (255 - position) reads the table backwards.
    const auto idx = static_cast<uint8_t>(phase ^ bit_mask(phase, mirror_bit));
    const int16_t val = sin_table[idx];
    // The negative half is the complement (-val - 1), not the negation, so it
    // never reaches -32768 and the zero crossing steps from 0 to -1.
    const auto sign = static_cast<uint16_t>(bit_mask(phase, negative_bit));
    return static_cast<int16_t>(static_cast<uint16_t>(val) ^ sign);
}
