// Baseline for the benchmark: the least any program doing audiosim's job must
// spend. It loads the maths library and fills a table with sines, as the sine
// table does, then writes 88,200 bytes as plainly as C allows: fopen "wb", one
// fwrite (which glibc's buffered stream hands to the system as two writes,
// 86,016 and 2,184 bytes; audiosim's unbuffered one makes one), fclose.
// What audiosim costs beyond this is its rendering and its own checks.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

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
    std::FILE* file = std::fopen("result.bin", "wb");
    if (file == nullptr) {
        return 1;
    }
    const bool written = std::fwrite(bytes, file_size, 1, file) == 1;
    return std::fclose(file) == 0 && written ? 0 : 1;
}
