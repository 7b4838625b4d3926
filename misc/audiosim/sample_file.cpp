// The sample-file writer: result.bin opened as a plain fopen "wb" opens it
// (what that means for links, pipes, devices and earlier files: the manual
// page, docs/audiosim.1), written in one request, flushed to disk, every call
// checked; the first failure is reported in one line. Costs four C library
// calls and the host's flush.
#include "sample_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform.h"

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

// What a flush to disk answers for a file that cannot be flushed by its
// nature (a pipe, a terminal, a device, some FUSE file systems): no failure.
bool cannot_be_flushed(int err) {
    return err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}

}  // namespace

bool write_sample_file(const int16_t (&samples)[sample_count]) {
    std::FILE* file = nullptr;
    int err = checked([&] { return (file = std::fopen(result_name, "wb")) != nullptr; });
    if (file != nullptr) {
        // Unbuffered: the samples go to the system in one request, nothing is
        // left in the C library to flush before the flush to disk, and no
        // buffer of its own is set up (whose errno could mislead).
        err = checked([&] { return std::setvbuf(file, nullptr, _IONBF, 0) == 0; });
        if (err == 0) {
            err = checked([&] { return std::fwrite(samples, sizeof samples, 1, file) == 1; });
        }
        if (err == 0) {
            err = checked([&] { return flush_to_disk(file); });
            err = cannot_be_flushed(err) ? 0 : err;
        }
        const int close_err = checked([&] { return std::fclose(file) == 0; });
        err = err != 0 ? err : close_err;
    }
    if (err != 0) {
        // Should printing fail too, the exit status still tells.
        static_cast<void>(std::fprintf(stderr, "audiosim: %s: %s\n", result_name, std::strerror(err)));
    }
    return err == 0;
}
