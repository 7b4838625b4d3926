// audiosim: renders one second of a two-operator FM tone in integer fixed point
// and writes it to result.bin as 44,100 signed 16-bit little-endian mono
// samples (88,200 bytes, no header). Costs: 256 sin() calls at start-up, then
// pure integer work (two table lookups per sample), two fixed 88,200-byte
// buffers and one file write; nothing is allocated. Silent on success; on a
// failure it prints one line to standard error and exits with status 1,
// leaving any earlier result.bin whole.
#include "waveform.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Samples per second of playback; the file holds one second.
constexpr int sample_rate = 44100;
constexpr int sample_count = sample_rate;
// Bytes per stored sample: 16 bits, low byte first.
constexpr std::size_t bytes_per_sample = 2;
constexpr std::size_t file_size = static_cast<std::size_t>(sample_count) * bytes_per_sample;
// Bits per byte, for splitting a sample into its two bytes.
constexpr unsigned byte_bits = 8;
constexpr uint16_t low_byte_mask = 0xFF;

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
// Mode of a newly created file before the umask, as fopen() creates it.
constexpr mode_t new_file_mode = 0666;
// Exit status when the sample file cannot be written.
constexpr int failure_status = 1;
// Temporary names tried before giving up when every one is taken.
constexpr int temp_name_attempts = 100;
// Room for ".result.bin.<pid>-<attempt>".
constexpr std::size_t temp_name_size = 64;

// Lays the samples out as the file stores them: low byte first, whatever the
// byte order of this host.
void serialize_samples(const int16_t (&samples)[sample_count], uint8_t (&bytes)[file_size]) {
    for (std::size_t k = 0; k < static_cast<std::size_t>(sample_count); ++k) {
        const auto bits = static_cast<uint16_t>(samples[k]);  // two's-complement pattern
        bytes[bytes_per_sample * k] = static_cast<uint8_t>(bits & low_byte_mask);
        bytes[bytes_per_sample * k + 1] = static_cast<uint8_t>(bits >> byte_bits);
    }
}

// Creates a new, empty temporary file beside result.bin, with a name no other
// run can be using, and returns its descriptor, or -1 with errno set.
int create_temp_file(char (&temp_name)[temp_name_size]) {
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
        std::snprintf(temp_name, sizeof temp_name, ".%s.%ld-%d", result_name, static_cast<long>(getpid()),
                      attempt);
        const int fd = open(temp_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, new_file_mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Writes all of bytes to fd; returns 0, or the errno of the failing write.
int write_all(int fd, const uint8_t* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes the complete file to a temporary name, syncs and closes it, then
// renames it onto result.bin, so result.bin is only ever the old file or the
// new complete one. Returns 0, or the errno of the step that failed, after
// removing the temporary file.
int replace_result_file(const uint8_t (&bytes)[file_size]) {
    char temp_name[temp_name_size];
    const int fd = create_temp_file(temp_name);
    if (fd < 0) {
        return errno;
    }
    int err = write_all(fd, bytes, file_size);
    // EINVAL: the file system cannot sync this file, which is no failure of ours.
    if (err == 0 && fsync(fd) != 0 && errno != EINVAL) {
        err = errno;
    }
    if (close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && rename(temp_name, result_name) != 0) {
        err = errno;
    }
    if (err != 0) {
        unlink(temp_name);
    }
    return err;
}

// Saves the samples as result.bin. Signals that would end the process are held
// back while the temporary file exists, so an interrupted run never leaves it
// behind; a held signal (such as SIGXFSZ from a file-size limit) takes effect
// once the temporary file is gone. Returns false after reporting a failure.
bool write_sample_file(const int16_t (&samples)[sample_count]) {
    // Static, so the byte image does not double the stack that main's
    // 88,200-byte sample buffer already takes.
    static uint8_t bytes[file_size];
    serialize_samples(samples, bytes);

    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXFSZ}) {
        sigaddset(&held, sig);
    }
    sigprocmask(SIG_BLOCK, &held, &previous);
    const int err = replace_result_file(bytes);
    if (err != 0) {
        std::fprintf(stderr, "audiosim: %s: %s\n", result_name, std::strerror(err));
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return err == 0;
}

}  // namespace

int main() {
    generate_sin_table();

    const int32_t freq = base_freq;
    const int32_t op1_ratio = carrier_ratio;
    const int32_t op2_ratio = modulator_ratio;
    int32_t op1_phase = 0;
    int32_t op2_phase = 0;
    int16_t result[sample_count];
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

    return write_sample_file(result) ? 0 : failure_status;
}
