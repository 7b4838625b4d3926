// Baseline for the benchmark: a process that only writes 88,200 zero bytes to
// result.bin, so what audiosim costs beyond starting up and writing shows.
#include <cstdio>

namespace {
// The size of audiosim's file: 44,100 samples of 2 bytes.
constexpr std::size_t file_size = 88200;
unsigned char bytes[file_size];
}  // namespace

int main() {
    std::FILE* file = std::fopen("result.bin", "wb");
    if (file == nullptr) {
        return 1;
    }
    const bool written = std::fwrite(bytes, file_size, 1, file) == 1;
    return std::fclose(file) == 0 && written ? 0 : 1;
}
