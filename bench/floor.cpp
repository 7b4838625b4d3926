// Baseline for the benchmark: the least any program doing audiosim's job must
// spend. It loads the maths library and takes 256 sines, as the sine table
// does, then saves 88,200 bytes as durably as audiosim does: a new temporary
// file, one write, fsync, close, a rename onto result.bin and an fsync of the
// folder. What audiosim costs beyond this is its rendering and its own
// overhead (a look at result.bin and its folder, interrupts held).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {
// The size of audiosim's file: 44,100 samples of 2 bytes.
constexpr std::size_t file_size = 88200;
constexpr int table_size = 256;
int16_t bytes[file_size / 2];
}  // namespace

int main() {
    for (int i = 0; i < table_size; ++i) {
        bytes[i] = static_cast<int16_t>(std::sin(i / 256.0 * 1.5707963267948966) * 32767.0);
    }
    const char temp_name[] = ".result.bin.floor";
    const int fd = open(temp_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return 1;
    }
    const bool written = write(fd, bytes, file_size) == static_cast<ssize_t>(file_size);
    const bool synced = fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !synced || !closed || std::rename(temp_name, "result.bin") != 0) {
        return 1;
    }
    const int folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool folder_synced = folder >= 0 && fsync(folder) == 0;
    return folder_synced && close(folder) == 0 ? 0 : 1;
}
