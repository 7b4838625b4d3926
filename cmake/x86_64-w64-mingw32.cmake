# Cross-build audiosim.exe for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64-posix), linked statically so that the .exe needs no
# MinGW DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
