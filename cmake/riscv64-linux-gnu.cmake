# Cross-build for riscv64 Linux with Debian's g++-riscv64-linux-gnu, linked
# statically so that qemu-riscv64 runs the program without a riscv64 system
# root: RISC-V's hardware doubles and glibc's sin() there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CMAKE_CXX_COMPILER riscv64-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
