# Cross-build for a bare-metal Cortex-M7 with its double-precision FPU (the
# MPS2 AN500 board that qemu-system-arm emulates) with Debian's
# gcc-arm-none-eabi and picolibc: sin() on hardware doubles, files through
# picolibc's semihosting to the folder qemu runs in. Its semihosting start-up
# hands main's status to qemu as the exit status. Code and data go to the
# board's two 4 MiB SRAMs.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_CXX_FLAGS_INIT
    "-mcpu=cortex-m7 -mthumb -mfpu=fpv5-d16 -mfloat-abi=hard --specs=picolibcpp.specs")
set(CMAKE_EXE_LINKER_FLAGS_INIT "--oslib=semihost --crt0=semihost -Wl,--defsym=__flash=0x0 \
-Wl,--defsym=__flash_size=0x400000 -Wl,--defsym=__ram=0x20000000 -Wl,--defsym=__ram_size=0x400000")
# A test program cannot run here, so the compiler checks build a library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
