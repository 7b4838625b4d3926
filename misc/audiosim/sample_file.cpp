// The sample-file writer: result.bin opened "wb", written in one unbuffered
// fwrite and closed, every call checked; the first failure told in one line.
#include "sample_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char result_name[] = "result.bin";

// 0 if call() succeeds, else the errno it set, or EIO where it set none.
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
        // Unbuffered: newlib's buffer set-up leaves ENOTTY behind, which a
        // write failing with no reason would report.
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
