// audiosim: renders one second of a two-operator FM tone in integer fixed
// point and writes it to result.bin.
#include <cstdint>
#include <cstdlib>

#include "sample_file.h"
#include "waveform.h"

int main() {
    generate_sin_table();

    // Base phase increment per sample, in accumulator units (2^20 a cycle).
    const int32_t freq = 10240;
    // Frequencies as multiples of freq, in sixteenths: the carrier (operator
    // 1) at 1x, the modulator (operator 2) at 2x.
    const int32_t op1_ratio = 16;
    const int32_t op2_ratio = 32;
    const int32_t ratio_unit = 16;
    // Accumulator bits below the 10-bit lookup phase.
    const int phase_fraction_bits = 10;

    int32_t op1_phase = 0;
    int32_t op2_phase = 0;
    // Static: 88,200 bytes would overflow a 64 KiB stack.
    static int16_t result[sample_count];
    int idx = 0;

    for (int i = 0; i < sample_count; ++i) {
        // Each accumulator is advanced before it is read, modulator first.
        const int32_t op2_freq = (op2_ratio * freq) / ratio_unit;
        op2_phase = op2_phase + op2_freq;
        const int32_t op2_val = lookup_sin(static_cast<uint32_t>(op2_phase >> phase_fraction_bits));
        // The modulator's raw value stays in the carrier's accumulator: it
        // drives the carrier's frequency, not just this sample's phase.
        const int32_t op1_freq = (op1_ratio * freq) / ratio_unit;
        op1_phase = op1_phase + (op2_val + op1_freq);
        const int32_t op1_val = lookup_sin(static_cast<uint32_t>(op1_phase >> phase_fraction_bits));
        result[idx] = in_file_order(static_cast<int16_t>(op1_val));
        idx = idx + 1;
    }

    return write_sample_file(result) ? EXIT_SUCCESS : EXIT_FAILURE;
}
