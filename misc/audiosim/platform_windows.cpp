// Flush to disk on Windows: the C runtime's _commit on the stream's
// descriptor, which asks Windows to write the file's buffers to the disk.
#include <io.h>

#include "platform.h"

bool flush_to_disk(std::FILE* file) { return _commit(_fileno(file)) == 0; }
