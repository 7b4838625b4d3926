// The one call the sample-file writer needs from the host itself: a flush of
// an open file's data to the disk. One small file per kind of host
// (platform_posix.cpp, platform_windows.cpp, platform_stdc.cpp); the build
// compiles exactly one.
#ifndef AUDIOSIM_PLATFORM_H
#define AUDIOSIM_PLATFORM_H

#include <cstdio>

// Asks for the data written to file, already flushed from the C library, to
// reach the disk. Returns whether it did; on false, errno tells why.
bool flush_to_disk(std::FILE* file);

#endif
