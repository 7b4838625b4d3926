# Cross-build for 64-bit big-endian POWER Linux with Debian's
# g++-powerpc64-linux-gnu, linked statically so that qemu-ppc64 runs the
# program without a ppc64 system root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64)
set(CMAKE_CXX_COMPILER powerpc64-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
