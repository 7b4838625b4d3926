// The sample-file writer: result.bin opened as a plain fopen "wb" opens it
// (what that means for links, pipes, devices and earlier files: the manual
// page, docs/audiosim.1), written in one unbuffered fwrite and closed, every
// call checked; the first failure is reported in one line. Costs four C
// library calls.
#include "sample_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char result_name[] = "result.bin";

// Runs one C library call, given as a test of its result: 0 when it went
// well, else the errno that call set, or EIO where it set none (errno is
// cleared first, so an earlier call's value never shows).
template <typename Call>
int checked(Call call) {
    errno = 0;
    if (call()) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

}  // namespace

bool write_sample_file(const int16_t (&samples)[sample_count]) {
    std::FILE* file = nullptr;
    int err = checked([&] { return (file = std::fopen(result_name, "wb")) != nullptr; });
    if (file != nullptr) {
        // Unbuffered, so the C library sets up no buffer of its own: newlib's
        // set-up asks whether the file is a terminal, and the ENOTTY that
        // leaves would be told for a write that fails with no reason. The
        // samples then go to the system in one write.
        err = checked([&] { return std::setvbuf(file, nullptr, _IONBF, 0) == 0; });
        if (err == 0) {
            err = checked([&] { return std::fwrite(samples, sizeof samples, 1, file) == 1; });
        }
        // Closed whatever the write did; of two failures the write's is told.
        const int close_err = checked([&] { return std::fclose(file) == 0; });
        err = err != 0 ? err : close_err;
    }
    if (err != 0) {
        // Should printing fail too, the exit status still tells.
        static_cast<void>(std::fprintf(stderr, "audiosim: %s: %s\n", result_name, std::strerror(err)));
    }
    return err == 0;
}
