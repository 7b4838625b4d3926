# Cross-build for a bare-metal Cortex-M3 (the MPS2 AN385 board that
# qemu-system-arm emulates) with Debian's gcc-arm-none-eabi and newlib: no FPU,
# so sin() is newlib's software double precision; files go through newlib's
# semihosting library (rdimon) to the folder qemu runs in.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-m3 -mthumb -mfloat-abi=soft")
set(CMAKE_EXE_LINKER_FLAGS_INIT "--specs=rdimon.specs -T ${CMAKE_CURRENT_LIST_DIR}/mps2-an385-vectors.ld")
# A test program cannot run here, so the compiler checks build a library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
