// audiosim: renders one second of a two-operator FM tone in integer fixed point
// and saves it as result.bin (sample_file.cpp). Costs: 256 sin() calls at
// start-up, then pure integer work (two table lookups per sample) into one
// fixed 88,200-byte buffer; nothing is allocated. Silent on success; on a
// failure the writer prints one line to standard error and the run exits with
// status 1.
#include <cstdint>
#include <cstdlib>

#include "sample_file.h"
#include "waveform.h"

namespace {

// Base phase increment per sample, in accumulator units (2^20 units a cycle):
// 10240 units make the carrier about 430.7 Hz at 44,100 samples per second.
constexpr int32_t base_freq = 10240;
// Operator frequency multiples, in sixteenths of the base (16 = 1x).
constexpr int32_t carrier_ratio = 16;
constexpr int32_t modulator_ratio = 32;
constexpr int32_t ratio_unit = 16;
// Accumulator bits below the 10-bit lookup phase (the fraction).
constexpr int phase_fraction_bits = 10;

}  // namespace

int main() {
    generate_sin_table();

    const int32_t freq = base_freq;
    const int32_t op1_ratio = carrier_ratio;
    const int32_t op2_ratio = modulator_ratio;
    int32_t op1_phase = 0;
    int32_t op2_phase = 0;
    // Static, not on the stack: 88,200 bytes would overflow a small stack (a
    // 64 KiB WebAssembly or microcontroller stack, a thread's, ulimit -s).
    static int16_t result[sample_count];
    int idx = 0;

    for (int i = 0; i < sample_count; ++i) {
        // Each accumulator is advanced before it is read, modulator first.
        const int32_t op2_freq = (op2_ratio * freq) / ratio_unit;
        op2_phase = op2_phase + op2_freq;
        const int32_t op2_val = lookup_sin(static_cast<uint32_t>(op2_phase >> phase_fraction_bits));
        // The modulator's raw value moves the carrier's accumulator for good:
        // it drives the carrier's frequency, not just this sample's phase.
        const int32_t op1_freq = (op1_ratio * freq) / ratio_unit;
        op1_phase = op1_phase + (op2_val + op1_freq);
        const int32_t op1_val = lookup_sin(static_cast<uint32_t>(op1_phase >> phase_fraction_bits));
        result[idx] = static_cast<int16_t>(op1_val);
        idx = idx + 1;
    }

    return write_sample_file(result) ? EXIT_SUCCESS : EXIT_FAILURE;
}
