// audiosim: renders one second of a two-operator FM tone in integer fixed point
// and writes it to result.bin as 44,100 signed 16-bit little-endian mono
// samples (88,200 bytes, no header). Costs: 256 sin() calls at start-up, then
// pure integer work (two table lookups per sample), one fixed 88,200-byte
// buffer that is written as it lies, and one file write; nothing is allocated.
// Silent on success; on a failure it prints one line to standard error and
// exits with status 1, leaving any earlier result.bin whole (but for one that
// is written through: a link, a pipe, a device, a file in a locked folder).
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "waveform.h"

namespace {

// Samples per second of playback; the file holds one second.
constexpr int sample_rate = 44100;
constexpr int sample_count = sample_rate;
// Bytes per stored sample: 16 bits, low byte first.
constexpr std::size_t bytes_per_sample = 2;
constexpr std::size_t file_size = static_cast<std::size_t>(sample_count) * bytes_per_sample;

// Base phase increment per sample, in accumulator units (2^20 units a cycle):
// 10240 units make the carrier about 430.7 Hz at 44,100 samples per second.
constexpr int32_t base_freq = 10240;
// Operator frequency multiples, in sixteenths of the base (16 = 1x).
constexpr int32_t carrier_ratio = 16;
constexpr int32_t modulator_ratio = 32;
constexpr int32_t ratio_unit = 16;
// Accumulator bits below the 10-bit lookup phase (the fraction).
constexpr int phase_fraction_bits = 10;

const char result_name[] = "result.bin";
// Temporary names tried before giving up when every one is taken.
constexpr int temp_name_attempts = 100;
// Room for ".result.bin.<pid>-<stamp>": a long and 16 hex digits.
constexpr std::size_t temp_name_size = 64;

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "samples are stored low byte first, from a little- or big-endian host");

// Puts every sample's two bytes in file order, low byte first, in place. A
// little-endian host holds them so already; a big-endian one swaps them.
void store_little_endian(int16_t (&samples)[sample_count]) {
    if constexpr (std::endian::native == std::endian::big) {
        for (int16_t& sample : samples) {
            const auto bits = static_cast<uint16_t>(sample);  // two's-complement pattern
            const uint8_t bytes[bytes_per_sample] = {static_cast<uint8_t>(bits & 0xFFU),
                                                     static_cast<uint8_t>(bits >> 8)};
            std::memcpy(&sample, bytes, sizeof sample);
        }
    }
}

// Prints one line, "audiosim: <name>: [<what>: ]<reason>", to standard error.
// Should that fail too, the exit status still tells of the failure.
void report(const char* name, int err, const char* what = nullptr) {
    static_cast<void>(std::fprintf(stderr, "audiosim: %s: %s%s%s\n", name, what != nullptr ? what : "",
                                   what != nullptr ? ": " : "", std::strerror(err)));
}

// Reports err, if any, as the failure of result.bin's step what; returns err.
int reported(int err, const char* what = nullptr) {
    if (err != 0) {
        report(result_name, err, what);
    }
    return err;
}

// Creates a new, empty temporary file beside result.bin and stores its name and
// descriptor. The name holds the process id and the time, so neither a run at
// the same moment nor files left by killed runs with the same id (as in a
// container, where every run may be process 1) can take all the names.
int create_temp_file(char (&temp_name)[temp_name_size], int& fd) {
    int err = EEXIST;
    for (int attempt = 0; attempt < temp_name_attempts && err == EEXIST; ++attempt) {
        unsigned long long ticks = 0;
        err = clock_ticks(ticks);
        if (err != 0) {
            return err;
        }
        const int length =
            std::snprintf(temp_name, sizeof temp_name, ".%s.%ld-%llx", result_name, process_id(), ticks);
        err = length > 0 && static_cast<std::size_t>(length) < sizeof temp_name
                  ? create_new_file(temp_name, fd)
                  : ENAMETOOLONG;
    }
    return err;
}

// Writes all of bytes to fd, retrying interrupted and short writes.
int write_all(int fd, const uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        std::size_t written = 0;
        const int err = write_some(fd, bytes, size, written);
        if (err == EINTR) {
            continue;
        }
        if (err != 0) {
            return err;
        }
        if (written == 0) {
            return EIO;  // no progress and no reason given
        }
        bytes += written;
        size -= written;
    }
    return 0;
}

// Unless err tells of an earlier failure, writes the whole file to fd and
// syncs it; closes fd either way. Returns the first error.
int finish_file(int fd, const uint8_t* bytes, int err) {
    if (err == 0) {
        err = write_all(fd, bytes, file_size);
    }
    if (err == 0) {
        err = sync_file(fd);
    }
    const int close_err = close_file(fd);
    return err != 0 ? err : close_err;
}

// Writes the file where result.bin leads, as a plain "wb" open would: through
// a link, into a pipe or a device. Not atomic: a failed or interrupted write
// leaves a regular target short.
int write_through(const uint8_t* bytes, const seen_file& seen) {
    int fd = -1;
    const int err = open_seen(result_name, seen, fd);
    return reported(err != 0 ? err : finish_file(fd, bytes, 0));
}

// Writes the complete file under a temporary name, syncs and closes it, then
// renames it onto result.bin and syncs the folder, so result.bin is only ever
// the old file or the new complete one, and stays the new one after a power
// cut. The new file keeps an earlier result.bin's permissions (and owner and
// group, where the process may set them). On a failure the temporary file is
// removed, or named on standard error when it cannot be. A folder that takes
// no new file still lets a result.bin the runner may write be written in
// place. Returns 0 or the errno of the failed step.
int replace_result_file(const uint8_t* bytes, const seen_file& seen) {
    const bool earlier_file = seen.kind == file_kind::regular;
    char temp_name[temp_name_size];
    int fd = -1;
    const int create_err = create_temp_file(temp_name, fd);
    if (create_err != 0) {
        if ((create_err == EACCES || create_err == EPERM) && earlier_file &&
            open_seen(result_name, seen, fd) == 0) {
            return reported(finish_file(fd, bytes, 0));
        }
        return reported(create_err, "cannot create a temporary file beside it");
    }
    int err = finish_file(fd, bytes, earlier_file ? keep_attributes(fd, seen) : 0);
    if (err == 0) {
        err = replace_file(temp_name, result_name);
    }
    if (err != 0) {
        report(result_name, err);
        const int remove_err = remove_file(temp_name);
        if (remove_err != 0) {
            report(temp_name, remove_err, "cannot remove");
        }
        return err;
    }
    return reported(sync_folder(), "replaced, but its folder could not be flushed to disk");
}

// Replaces result.bin with interrupts that would end the process held back
// while the temporary file exists, so an interrupted run never leaves it
// behind; a held one (such as SIGXFSZ from a file-size limit) takes effect
// once the temporary file is gone.
int replace_with_interrupts_held(const uint8_t* bytes, const seen_file& seen) {
    const int hold_err = hold_interrupts();
    if (hold_err != 0) {
        return reported(hold_err, "cannot hold back interrupts");
    }
    const int err = replace_result_file(bytes, seen);
    const int release_err = release_interrupts();
    return err != 0 ? err : reported(release_err, "cannot release held interrupts");
}

// Saves the samples as result.bin, written as they lie in memory once in file
// order: a link, a pipe or a device named result.bin is written through, as a
// plain "wb" open would; anything else is replaced whole. Returns false after
// reporting a failure.
bool write_sample_file(int16_t (&samples)[sample_count]) {
    store_little_endian(samples);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
    seen_file seen;
    if (reported(look_at(result_name, seen)) != 0) {
        return false;
    }
    const bool through = seen.kind == file_kind::link || seen.kind == file_kind::special;
    return (through ? write_through(bytes, seen) : replace_with_interrupts_held(bytes, seen)) == 0;
}

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
