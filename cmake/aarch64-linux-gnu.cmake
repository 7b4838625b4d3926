# Cross-build for aarch64 Linux with Debian's g++-aarch64-linux-gnu, linked statically so
# that qemu-aarch64 runs the program without a aarch64 system root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
