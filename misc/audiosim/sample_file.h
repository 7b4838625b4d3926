// The sample file, result.bin: one second of 16-bit samples, low byte first,
// one channel, no header (88,200 bytes).
#ifndef AUDIOSIM_SAMPLE_FILE_H
#define AUDIOSIM_SAMPLE_FILE_H

#include <cstdint>
#include <cstring>

// Samples per second of playback; the file holds one second.
constexpr int sample_rate = 44100;
constexpr int sample_count = sample_rate;

// A sample with its bytes in file order, low byte first, on any host.
inline int16_t in_file_order(int16_t sample) {
    constexpr unsigned byte_bits = 8;
    constexpr uint16_t low_byte = 0xFF;
    const auto bits = static_cast<uint16_t>(sample);  // two's-complement pattern
    const uint8_t bytes[sizeof sample] = {static_cast<uint8_t>(bits & low_byte),
                                          static_cast<uint8_t>(bits >> byte_bits)};
    int16_t stored = 0;
    std::memcpy(&stored, bytes, sizeof stored);
    return stored;
}

// Writes samples, each already in file order, to result.bin. Returns false
// after reporting a failure in one line on standard error.
bool write_sample_file(const int16_t (&samples)[sample_count]);

#endif
