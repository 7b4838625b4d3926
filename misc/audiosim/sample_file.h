// The sample file, result.bin: one second of 16-bit samples, low byte first,
// one channel, no header (88,200 bytes). Saving it costs a look at what
// result.bin is, one write of the whole buffer and a few system calls around
// that write; nothing is allocated.
#ifndef AUDIOSIM_SAMPLE_FILE_H
#define AUDIOSIM_SAMPLE_FILE_H

#include <cstdint>

// Samples per second of playback; the file holds one second.
constexpr int sample_rate = 44100;
constexpr int sample_count = sample_rate;

// Saves the samples as result.bin, putting their bytes in file order in place
// first. Returns false after reporting a failure on standard error.
bool write_sample_file(int16_t (&samples)[sample_count]);

#endif
