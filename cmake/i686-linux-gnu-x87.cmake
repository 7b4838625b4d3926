# Cross-build for 32-bit x86 Linux with Debian's g++-i686-linux-gnu, for the
# plain i386 instruction set with x87 floating point (80-bit intermediates),
# linked statically; an x86-64 Linux kernel runs it natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_CXX_FLAGS_INIT "-march=i386 -mfpmath=387")
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
