// The quarter-wave sine table, built once with double-precision sines.
#include "waveform.h"

#include <cmath>

namespace {

// Peak amplitude of a table entry: the largest positive 16-bit sample.
constexpr double sin_scale = 32767.0;
// A quarter cycle in radians: the angle the table spans.
constexpr double quarter_cycle_radians = 1.5707963267948966;

}  // namespace

int16_t sin_table[sin_table_size];

void generate_sin_table() {
    for (int i = 0; i < sin_table_size; ++i) {
        // Divide first, then scale by pi/2, so every host computes the same
        // angle. Each scaled sine lies at least 0.01 from an integer, so any
        // correct sin() truncates to the same entry.
        const double phi = (i / static_cast<double>(sin_table_size)) * quarter_cycle_radians;
        sin_table[i] = static_cast<int16_t>(std::sin(phi) * sin_scale);
    }
}
